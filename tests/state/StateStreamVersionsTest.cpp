// Streams of older and newer versions, the legacy form, the repairs of old values and the side-data keys
// that only the editor writes or that older writers left behind.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "tests/state/LibraryFixture.h"
#include "tests/state/StateFixture.h"

namespace {

constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();

// "TVRN", version and count, then count values: the defaults with the given changes.
std::vector<uint8_t> header(uint32_t version, uint32_t count,
                            std::initializer_list<std::pair<uint32_t, double>> set = {}) {
  std::vector<uint8_t> bytes;
  putText(bytes, "TVRN");
  put(bytes, version);
  put(bytes, count);
  for (uint32_t id = 0; id < count; ++id) {
    double value = id < kNumParams ? kParams[id].def : 1e300;
    for (const auto& [which, v] : set)
      if (which == id) value = v;
    put(bytes, value);
  }
  return bytes;
}

void putMap(std::vector<uint8_t>& bytes, uint32_t word) {
  for (int cc = 0; cc < 128; ++cc) put(bytes, word);
}

void putSideData(std::vector<uint8_t>& bytes, const std::string& text) {
  put(bytes, static_cast<uint32_t>(text.size()));
  putText(bytes, text);
}

// A version 3 stream with the default values and the given side data.
std::vector<uint8_t> withSideData(const std::string& text) {
  std::vector<uint8_t> bytes = header(3, kNumParams);
  putMap(bytes, 0xFFFFFFFF);
  putSideData(bytes, text);
  return bytes;
}

struct Loaded {
  std::unique_ptr<PluginProcessor> engine = newEngine();
  TavrinStateSidecar sidecar;
  bool ok = false;
};

Loaded load(const std::vector<uint8_t>& bytes, const std::string& tuningsDir = "") {
  Loaded out;
  out.engine->setParam(kParamReverbMix, 0.99);  // to see the reset
  fillOtherKit(*out.engine);
  out.sidecar.ccMap.fill(7);
  out.sidecar.tuningsDir = tuningsDir;
  out.ok = loadState(*out.engine, bytes, out.sidecar);
  return out;
}

}  // namespace

TEST(StateVersions, EachVersionReadsItsFields) {
  const Loaded v1 = load(header(1, kNumParams, {{kParamFilterACutoff, 1000.0}}));
  ASSERT_TRUE(v1.ok);
  EXPECT_EQ(v1.engine->getParam(kParamFilterACutoff), 1000.0);
  EXPECT_EQ(v1.engine->getParam(kParamReverbMix), kParams[kParamReverbMix].def);
  EXPECT_EQ(v1.sidecar.ccMap[0], 7u);  // the map is not part of version 1
  EXPECT_FALSE(slotPresent(*v1.engine, 0));

  std::vector<uint8_t> bytes = header(2, kNumParams);
  putMap(bytes, 3);
  const Loaded v2 = load(bytes);
  EXPECT_EQ(v2.sidecar.ccMap[127], 3u);

  putSideData(bytes, R"({"filterLockB":true})");
  bytes[4] = 3;
  const Loaded v3 = load(bytes);
  EXPECT_TRUE(v3.engine->filterLocked(1));
  EXPECT_EQ(v3.sidecar.json, R"({"filterLockB":true})");

  // Version 4: a kit section without gain and pan.
  bytes[4] = 4;
  const std::vector<uint8_t> kit = handSection(2, {0}, 4);
  bytes.insert(bytes.end(), kit.begin(), kit.end());
  const Loaded v4 = load(bytes);
  ASSERT_TRUE(v4.ok);
  EXPECT_EQ(v4.engine->afxBaseKeyValue(), 40);
  EXPECT_TRUE(slotPresent(*v4.engine, 0));
  // A newer version is read as far as these fields go.
  bytes[4] = 9;
  EXPECT_TRUE(load(bytes).ok);
}

TEST(StateVersions, OtherCountsSkipExtraValuesOrLeaveDefaults) {
  std::vector<uint8_t> bytes = header(2, 200, {{kParamFilterACutoff, 999.0}});
  putMap(bytes, 11);
  const Loaded more = load(bytes);
  ASSERT_TRUE(more.ok);
  EXPECT_EQ(more.engine->getParam(kParamFilterACutoff), 999.0);
  EXPECT_EQ(more.sidecar.ccMap[0], 11u);  // the map is found after the extra values

  const Loaded fewer = load(header(1, 50, {{kParamFilterACutoff, 999.0}, {kParamMorphFader, 0.9}}));
  ASSERT_TRUE(fewer.ok);
  EXPECT_EQ(fewer.engine->getParam(kParamFilterACutoff), 999.0);
  EXPECT_EQ(fewer.engine->getParam(kParamMorphFader), kParams[kParamMorphFader].def);
}

TEST(StateVersions, LegacyFormAndRefusedStreams) {
  std::vector<uint8_t> legacy;
  put(legacy, 2.0);
  const Loaded eight = load(legacy);
  ASSERT_TRUE(eight.ok);
  EXPECT_EQ(eight.engine->getParam(kParamVoiceMode), 2.0);
  EXPECT_EQ(eight.engine->getParam(kParamReverbMix), kParams[kParamReverbMix].def);

  for (uint32_t id = 1; id < kLegacyParamCount; ++id)
    put(legacy, id == kParamLfo2SyncMode ? 2.0 : kParams[id].def);
  const Loaded whole = load(legacy);
  EXPECT_EQ(whole.engine->getParam(kParamLfo2SyncMode), 1.0);  // repaired

  // Refused before anything changes: too short a header, bytes past the 47 values, values that are not
  // finite or lie more than a range width outside their range.
  std::vector<std::vector<uint8_t>> refused = {
      {'T', 'V', 'R'}, {'T', 'V', 'R', 'N', 5}, legacy, legacy, legacy};
  refused[2].push_back(0);
  std::memcpy(refused[3].data() + 8 * kParamReverbMix, &kNotANumber, 8);
  const double far = kParams[kParamGlide].max * 2.0 + 1.0;
  std::memcpy(refused[4].data() + 8 * kParamGlide, &far, 8);
  for (const std::vector<uint8_t>& bytes : refused) {
    const Loaded loaded = load(bytes);
    EXPECT_FALSE(loaded.ok) << bytes.size();
    EXPECT_EQ(loaded.engine->getParam(kParamReverbMix), 0.99);
    EXPECT_EQ(loaded.sidecar.ccMap[0], 7u);
    EXPECT_TRUE(slotPresent(*loaded.engine, 0));
  }
  // A value a little outside its range loads, clamped as any value.
  const double near = kParams[kParamGlide].max * 1.5;
  std::memcpy(legacy.data() + 8 * kParamGlide, &near, 8);
  EXPECT_EQ(load(legacy).engine->getParam(kParamGlide), kParams[kParamGlide].max);
}

// Streams up to version 5 were written while the third LFO sync mode and the plucked envelope model
// existed, in the values and in the poles: they are repaired. Version 6 restores them as saved.
TEST(StateVersions, OnlyOldStreamsHaveOldValuesRepaired) {
  const auto stream = [](uint32_t version) {
    std::vector<uint8_t> bytes = header(version, kNumParams,
                                        {{kParamLfo1SyncMode, 2.0},
                                         {kParamEnvModel, 1.0},
                                         {kParamAmpEnvDecay, 0.8},
                                         {kParamAmpEnvSustain, 0.5},
                                         {kParamAmpEnvRelease, 1.5}});
    putMap(bytes, 0xFFFFFFFF);
    putSideData(bytes, R"({"snapshotADsp":{"envModel":1,"sustain":0.5}})");
    return bytes;
  };
  ParamSnapshot pole;
  const Loaded old = load(stream(5));
  EXPECT_EQ(old.engine->getParam(kParamLfo1SyncMode), 1.0);
  EXPECT_EQ(old.engine->getParam(kParamEnvModel), 0.0);
  EXPECT_EQ(old.engine->getParam(kParamAmpEnvSustain), 0.0);
  EXPECT_EQ(old.engine->getParam(kParamAmpEnvRelease), 0.8);
  ASSERT_TRUE(old.engine->getSnapshotCopy(0, pole));
  EXPECT_EQ(pole.value[kParamEnvModel], 0.0);

  const Loaded current = load(stream(6));
  EXPECT_EQ(current.engine->getParam(kParamLfo1SyncMode), 2.0);
  EXPECT_EQ(current.engine->getParam(kParamEnvModel), 1.0);
  EXPECT_EQ(current.engine->getParam(kParamAmpEnvSustain), 0.5);
  EXPECT_EQ(current.engine->getParam(kParamAmpEnvRelease), 1.5);
  ASSERT_TRUE(current.engine->getSnapshotCopy(0, pole));
  EXPECT_EQ(pole.value[kParamEnvModel], 1.0);
}

// Sessions saved without "envFeel" in their side data played the classic envelope model; only a side
// data that asks for the modern one loads it, whichever model the instance played before. A refused
// stream changes nothing.
TEST(StateVersions, TheEnvelopeModelIsModernOnlyWhenTheSideDataAsksForIt) {
  std::vector<uint8_t> version2 = header(2, kNumParams);
  putMap(version2, 0xFFFFFFFF);
  std::vector<uint8_t> noSideData = version2;
  noSideData[4] = 5;
  put(noSideData, uint32_t{0});
  std::vector<uint8_t> legacy;
  for (uint32_t id = 0; id < kLegacyParamCount; ++id) put(legacy, kParams[id].def);
  const std::pair<std::vector<uint8_t>, bool> cases[] = {
      {header(1, kNumParams), false},
      {version2, false},
      {noSideData, false},
      {legacy, false},
      {withSideData("{\"envFeel\":2"), false},
      {withSideData(R"({"windowWidth":900})"), false},
      {withSideData(R"({"envFeel":1})"), false},
      {withSideData(R"({"envFeel":"2"})"), false},
      {withSideData(R"({"envFeel":2})"), true},
      {withSideData(R"({"envFeel":3.5})"), true},
  };
  for (const auto& [bytes, modern] : cases) {
    for (const bool before : {false, true}) {
      auto engine = newEngine();
      engine->setEnvFeelModern(before);
      TavrinStateSidecar sidecar;
      ASSERT_TRUE(loadState(*engine, bytes, sidecar));
      EXPECT_EQ(engine->envFeelModern(), modern) << bytes.size() << " " << sidecar.json;
      ASSERT_FALSE(loadState(*engine, {'T', 'V', 'R'}, sidecar));
      EXPECT_EQ(engine->envFeelModern(), modern);
    }
  }
}

// A key held twice is read from its first copy; the writer keeps no second copy of a key it writes, so a
// reload saves the same stream.
TEST(StateVersions, RepeatedKeysSaveTheSameFromTheFirstSaveOn) {
  for (const char* text : {R"({"snapshotBDsp":{"x":1},"snapshotBDsp":{"attack":0.1}})",
                           R"({"localTuning":{"period":"x"},"localTuning":{"intervals":[1,1.5],"period":2}})",
                           R"({"envFeel":1,"envFeel":2,"windowWidth":1,"windowWidth":2})"}) {
    Loaded first = load(withSideData(text));
    const std::vector<uint8_t> saved = savedState(*first.engine, first.sidecar);
    Loaded second = load(saved);
    EXPECT_EQ(savedState(*second.engine, second.sidecar), saved) << text;
  }
}

TEST(StateVersions, TuningKeysOfOlderWritersAndBadInput) {
  TempFolder folder;
  writeFile(folder.path / "Tunings" / "just.scl", kJustScale);
  writeFile(folder.path / "outside.scl", kJustScale);
  const std::string dir = (folder.path / "Tunings").string();
  LocalTuning tuning{};

  // A period that is not a number makes "localTuning" absent, so "tuningFile" is read.
  Loaded file = load(
      withSideData(R"({"localTuning":{"intervals":[1,1.5],"period":"2"},"tuningFile":"just.scl"})"), dir);
  ASSERT_TRUE(file.engine->getLocalTuningCopy(tuning));
  EXPECT_EQ(tuning.count, 3);
  EXPECT_EQ(file.sidecar.filename, "just");
  EXPECT_EQ(file.sidecar.source, "file");

  // Intervals that cannot play are refused the same way; a stem that leaves the folder is not read.
  for (const char* text : {R"({"localTuning":{"intervals":[1,-2],"period":2}})",
                           R"({"localTuning":{"intervals":[1,1e999],"period":2}})",
                           R"({"localTuning":{"intervals":[1,"x"],"period":2}})",
                           R"({"localTuning":{"intervals":[1,1.5],"period":1e999}})",
                           R"({"tuningFile":"../outside"})", R"({"tuningFile":"/etc/passwd"})"})
    EXPECT_FALSE(load(withSideData(text), dir).engine->getLocalTuningCopy(tuning)) << text;
  EXPECT_EQ(load(withSideData(R"({"tuningFile":"../outside.scl"})"), dir).sidecar.name, "../outside");

  // A long name is cut before a character that does not fit whole.
  std::string name(62, 'a');
  name += "\xE2\x82\xAC";  // bytes 62..64
  name += std::string(70 - name.size(), 'b');
  Loaded cut =
      load(withSideData(R"({"localTuning":{"intervals":[1,1.25],"period":2,"name":")" + name + "\"}}"));
  ASSERT_TRUE(cut.engine->getLocalTuningCopy(tuning));
  EXPECT_EQ(std::string(tuning.name), std::string(62, 'a'));
  EXPECT_EQ(cut.sidecar.name, std::string(62, 'a'));
  EXPECT_EQ(cut.sidecar.source, "embed");
}

TEST(StateVersions, PolesWithoutMorphAuthorityAreHealed) {
  const auto stream = [](const char* authority) {
    std::vector<uint8_t> bytes = header(3, kNumParams, {{kParamEnv1Delay, 1.0}, {kParamAmpEnvAttack, 0.5}});
    putMap(bytes, 0xFFFFFFFF);
    putSideData(bytes, std::string(R"({"snapshotADsp":{"env1Delay":0.1,"attack":0.2},)") +
                           R"("snapshotBDsp":{"env1Delay":0.3,"attack":0.2})" + authority + "}");
    return bytes;
  };
  ParamSnapshot a;
  ParamSnapshot b;
  const Loaded old = load(stream(""));
  ASSERT_TRUE(old.engine->getSnapshotCopy(0, a) && old.engine->getSnapshotCopy(1, b));
  EXPECT_EQ(a.value[kParamEnv1Delay], 1.0);
  EXPECT_EQ(b.value[kParamAmpEnvAttack], 0.5);

  const Loaded current = load(stream(R"(,"morphAuthority":1)"));
  ASSERT_TRUE(current.engine->getSnapshotCopy(0, a) && current.engine->getSnapshotCopy(1, b));
  EXPECT_NEAR(a.value[kParamEnv1Delay], 0.2, 1e-12);
  EXPECT_NEAR(b.value[kParamEnv1Delay], 0.6, 1e-12);
}

TEST(StateVersions, EditorKeysAndLiveLanes) {
  const Loaded loaded = load(withSideData(
      R"({"glideMode":"smooth","ratioLocked":true,"selectedDegrees":[[3],[5,1],[3],"x",[],[1e300]],)"
      R"("ratioSeq":{"enabled":true,"mode":"absolute","rankEncoded":true,"runMode":1e300,"syncDiv":-1e300,)"
      R"("freeRate":1e999,"steps":[0.5,2,-1,0.25],"stepCount":3,"ties":[1,0,5]},)"
      R"("seqLane1":{"enabled":1,"target":3,"steps":[0.75,0.5,0.25],"stepCount":3,"ties":[true,false,true]},)"
      R"("seqLive":{"lane0":{"editBroke":true,"steps":[0.1,0.2]},"lane1":{"editBroke":1,"steps":[0.3]}}})"));
  PluginProcessor& e = *loaded.engine;
  EXPECT_TRUE(e.smoothGlide.load());
  EXPECT_TRUE(e.ratioLocked());
  EXPECT_EQ(e.ratioSelectionCount(), 3);
  EXPECT_TRUE(e.getSeqEnabled(0));
  EXPECT_TRUE(e.published.seqRatioAbsolute.load());
  EXPECT_TRUE(e.published.seqRatioRankEncoded.load());
  EXPECT_EQ(e.getSeqFreeRate(0), 50.0f);  // clamped, as are run mode and division
  EXPECT_FALSE(e.getSeqEnabled(1));       // only the literal true counts
  unsigned char ties[8] = {};
  ASSERT_GE(e.getSeqTiesCopy(1, ties, 8), 3);  // the page writes its ties as true/false
  EXPECT_EQ(ties[0] + 2 * ties[1] + 4 * ties[2], 1 + 4);
  // The live lanes are written last: their steps and their edit-broke flags stand.
  float steps[8] = {};
  ASSERT_EQ(e.getSeqStepsCopy(0, steps, 8), 2);
  EXPECT_EQ(steps[1], 0.2f);
  ASSERT_EQ(e.getSeqStepsCopy(1, steps, 8), 1);
  EXPECT_TRUE(e.seqLaneEditBroke(0));
  EXPECT_FALSE(e.seqLaneEditBroke(1));
}

TEST(StateVersions, WindowSizeNeedsBothPositive) {
  EXPECT_EQ(load(withSideData(R"({"windowWidth":900,"windowHeight":514})")).sidecar.windowWidth, 900);
  for (const char* text : {R"({"windowWidth":900})", R"({"windowWidth":900,"windowHeight":0})",
                           R"({"windowWidth":"900","windowHeight":514})"})
    EXPECT_EQ(load(withSideData(text)).sidecar.windowWidth, 0) << text;
}

TEST(StateVersions, SideDataOverTheLimitIsSkippedAndTheKitStillLoads) {
  auto source = newEngine(fillKit);
  std::vector<uint8_t> bytes = header(5, kNumParams);
  putMap(bytes, 0xFFFFFFFF);
  put(bytes, kMaxSideDataBytes);
  bytes.resize(bytes.size() + kMaxSideDataBytes, ' ');
  const std::vector<uint8_t> kit = kitSectionBytes(*source);
  bytes.insert(bytes.end(), kit.begin(), kit.end());
  const Loaded loaded = load(bytes);
  ASSERT_TRUE(loaded.ok);
  EXPECT_EQ(loaded.sidecar.json, "");
  expectSameKit(*source, *loaded.engine);
}
