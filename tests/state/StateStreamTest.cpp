// The host state stream written and read back: its layout, every part of the state through a round trip,
// the merge into the UI state, and the tuning read again from its Scala file.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include "state/JsonTree.h"
#include "state/ParamNameMap.h"
#include "tests/state/LibraryFixture.h"
#include "tests/state/StateFixture.h"

namespace {

constexpr size_t kValuesAt = 12;
constexpr size_t kMapAt = kValuesAt + 8 * kNumParams;
constexpr size_t kSideDataAt = kMapAt + 4 * 128;

std::string sideDataOf(const std::vector<uint8_t>& bytes) {
  const uint32_t length = fieldAt<uint32_t>(bytes, kSideDataAt);
  return std::string(bytes.begin() + kSideDataAt + 4, bytes.begin() + kSideDataAt + 4 + length);
}

// bytes with the side data replaced by text.
std::vector<uint8_t> withSideData(const std::vector<uint8_t>& bytes, const std::string& text) {
  const uint32_t length = fieldAt<uint32_t>(bytes, kSideDataAt);
  std::vector<uint8_t> changed(bytes.begin(), bytes.begin() + kSideDataAt);
  put(changed, static_cast<uint32_t>(text.size()));
  putText(changed, text);
  changed.insert(changed.end(), bytes.begin() + kSideDataAt + 4 + length, bytes.end());
  return changed;
}

}  // namespace

// Version 6 has the layout of version 5.
TEST(StateStream, LayoutOfAVersion6Stream) {
  RichState state;
  const std::vector<uint8_t> bytes = savedState(*state.engine, state.sidecar);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "TVRN");
  EXPECT_EQ(fieldAt<uint32_t>(bytes, 4), 6u);
  EXPECT_EQ(fieldAt<uint32_t>(bytes, 8), 119u);
  EXPECT_EQ(fieldAt<double>(bytes, kValuesAt + 8 * kParamFilterACutoff), 1234.5);
  EXPECT_EQ(fieldAt<uint32_t>(bytes, kMapAt + 4 * 74), kParamFilterACutoff);
  EXPECT_EQ(fieldAt<uint32_t>(bytes, kMapAt + 4 * 2), 0xFFFFFFFFu);
  const std::string text = sideDataOf(bytes);
  // The kit section closes the stream.
  const std::vector<uint8_t> kit = kitSectionBytes(*state.engine);
  ASSERT_EQ(bytes.size(), kSideDataAt + 4 + text.size() + kit.size());
  EXPECT_TRUE(std::equal(kit.begin(), kit.end(), bytes.end() - static_cast<ptrdiff_t>(kit.size())));

  // The stored keys stay where they were; the native keys are replaced or added after them.
  EXPECT_EQ(text.rfind(R"({"theme":"dark","nested":{"a":[1,2,"x"]},"windowWidth":1000,)", 0), 0u) << text;
  // The native keys the round trip does not read back as written.
  for (const char* key : {R"("tuningFile":"just")", R"("morphAuthority":1)", R"("envFeel":2)"})
    EXPECT_NE(text.find(key), std::string::npos) << key;
  EXPECT_NE(text.find(R"("seqLive":{"lane0":{"editBroke":true,"steps":[0.100000,0.200000,0.300000,)"
                      R"(0.400000,0.500000],"ties":[0,1,0,1,0]},"lane1":{"editBroke":false,)"),
            std::string::npos)
      << text;
  EXPECT_EQ(state.sidecar.json, text);  // the sidecar takes the merged text
}

TEST(StateStream, RoundTripRestoresEveryPart) {
  RichState state;
  const std::vector<uint8_t> bytes = savedState(*state.engine, state.sidecar);
  auto engine = newEngine();
  TavrinStateSidecar sidecar;
  ASSERT_TRUE(loadState(*engine, bytes, sidecar, 13));

  for (uint32_t id = 0; id < kNumParams; ++id)
    EXPECT_EQ(engine->getParam(id), state.engine->getParam(id)) << id;
  EXPECT_EQ(sidecar.ccMap, state.sidecar.ccMap);
  EXPECT_EQ(sidecar.json, sideDataOf(bytes));
  EXPECT_EQ(sidecar.windowHeight, 571);
  EXPECT_EQ(sidecar.filename, "just");

  LocalTuning saved{};
  LocalTuning loaded{};
  ASSERT_TRUE(state.engine->getLocalTuningCopy(saved));
  ASSERT_TRUE(engine->getLocalTuningCopy(loaded));
  ASSERT_EQ(loaded.count, saved.count);
  for (int i = 0; i < saved.count; ++i) EXPECT_NEAR(loaded.ratios[i], saved.ratios[i], 0.0000005) << i;
  EXPECT_STREQ(loaded.name, "Just");

  for (int pole = 0; pole < 2; ++pole) {
    ParamSnapshot a;
    ParamSnapshot b;
    ASSERT_TRUE(state.engine->getSnapshotCopy(pole, a));
    ASSERT_TRUE(engine->getSnapshotCopy(pole, b));
    expectPolesClose(a, b);
  }
  for (int lane = 0; lane < 2; ++lane) {
    float savedSteps[8] = {};
    float loadedSteps[8] = {};
    unsigned char savedTies[8] = {};
    unsigned char loadedTies[8] = {};
    const int n = state.engine->getSeqStepsCopy(lane, savedSteps, 8);
    ASSERT_EQ(engine->getSeqStepsCopy(lane, loadedSteps, 8), n);
    state.engine->getSeqTiesCopy(lane, savedTies, 8);
    engine->getSeqTiesCopy(lane, loadedTies, 8);
    for (int i = 0; i < n; ++i) {
      EXPECT_NEAR(loadedSteps[i], savedSteps[i], 0.0000005f) << lane;
      EXPECT_EQ(loadedTies[i], savedTies[i]) << lane;
    }
    EXPECT_EQ(engine->seqLaneEditBroke(lane), state.engine->seqLaneEditBroke(lane)) << lane;
  }
  EXPECT_TRUE(engine->filterLocked(0) && engine->envFeelModern());
  expectSameKit(*state.engine, *engine);
  EXPECT_TRUE(engine->postLoadRebaseGraceActive());
}

TEST(StateStream, MemoryFormsRoundTripAndRefuseNoData) {
  RichState state;
  std::vector<uint8_t> bytes = {1, 2, 3};
  ASSERT_TRUE(tavrin_state_save(*state.engine, bytes, state.sidecar));
  EXPECT_EQ(bytes, savedState(*state.engine, state.sidecar));
  auto engine = newEngine();
  TavrinStateSidecar sidecar;
  ASSERT_TRUE(tavrin_state_load(*engine, bytes.data(), bytes.size(), sidecar));
  EXPECT_EQ(engine->getParam(kParamFilterACutoff), 1234.5);
  expectSameKit(*state.engine, *engine);

  // No data: refused before anything is reset.
  EXPECT_FALSE(tavrin_state_load(*engine, nullptr, 10, sidecar));
  EXPECT_FALSE(tavrin_state_load(*engine, bytes.data(), 0, sidecar));
  EXPECT_EQ(engine->getParam(kParamFilterACutoff), 1234.5);
  EXPECT_FALSE(sidecar.json.empty());
}

TEST(StateStream, UnreadableUiStateStillCarriesTheNativeKeys) {
  for (const char* stored : {"{broken", "[1,2]", "\"text\"", "{} trailing"}) {
    RichState state;
    state.sidecar.json = stored;
    const std::vector<uint8_t> bytes = savedState(*state.engine, state.sidecar);
    const JsonTree root(cJSON_Parse(sideDataOf(bytes).c_str()));
    ASSERT_TRUE(cJSON_IsObject(root.get())) << stored;
    EXPECT_TRUE(cJSON_IsObject(cJSON_GetObjectItem(root.get(), "snapshotBDsp"))) << stored;
    auto engine = newEngine();
    TavrinStateSidecar sidecar;
    ASSERT_TRUE(loadState(*engine, bytes, sidecar));
    EXPECT_TRUE(engine->hasSnapshot(0) && engine->hasSnapshot(1)) << stored;
  }
}

TEST(StateStream, AStateWithoutPolesOrTuningDeletesTheirKeys) {
  auto engine = newEngine();
  engine->setEnvFeelModern(false);  // the classic model is written as no "envFeel"
  TavrinStateSidecar sidecar;
  sidecar.json = R"({"snapshotADsp":{"cutoffA":0.5},"localTuning":{"intervals":[1],"period":2},"envFeel":2,)"
                 R"("morphAuthority":0})";
  const std::string text = sideDataOf(savedState(*engine, sidecar));
  EXPECT_EQ(text.find("snapshotADsp"), std::string::npos) << text;
  EXPECT_EQ(text.find("localTuning"), std::string::npos) << text;
  EXPECT_EQ(text.find("envFeel"), std::string::npos) << text;
  EXPECT_NE(text.find(R"("morphAuthority":0)"), std::string::npos) << text;  // kept as it was
}

TEST(StateStream, ASaveAfterALoadGivesTheBytesOfTheSaveBefore) {
  const auto saveAfterLoad = [](const std::vector<uint8_t>& bytes) {
    auto engine = newEngine();
    TavrinStateSidecar sidecar;
    EXPECT_TRUE(loadState(*engine, bytes, sidecar));
    return savedState(*engine, sidecar);
  };
  auto engine = newEngine();
  TavrinStateSidecar sidecar;
  const std::vector<uint8_t> plain = savedState(*engine, sidecar);
  const struct {
    const char* json;
    const char* saved;
  } cases[] = {{R"({"x":0.9999999})", R"("x":0.9999999)"},  // an unknown key keeps its text
               {R"({"snapshotADsp":{"cutoffA":0.9999999}})", R"("cutoffA":1,)"},
               {R"({"snapshotADsp":{"cutoffA":9.9999999e-7}})", R"("cutoffA":0.000001,)"}};
  for (const auto& c : cases) {
    const std::vector<uint8_t> first = saveAfterLoad(withSideData(plain, c.json));
    EXPECT_NE(sideDataOf(first).find(c.saved), std::string::npos) << sideDataOf(first);
    EXPECT_EQ(saveAfterLoad(first), first) << c.json;
  }
}

TEST(StateStream, TuningFromAFileIsReadAgainFromTheTuningsFolder) {
  TempFolder folder;
  const fs::path tunings = folder.path / "Tunings";
  writeFile(tunings / "just.scl", kJustScale);
  RichState state;
  state.sidecar.source = "file";
  const std::vector<uint8_t> bytes = savedState(*state.engine, state.sidecar);
  // The file changed since the save: the load takes the file's scale, under the file's stem.
  writeFile(tunings / "just.scl", "! just.scl\nFive\n 2\n6/5\n3/1\n");
  const auto loadWith = [&](const std::string& dir, LocalTuning& out) {
    auto engine = newEngine();
    TavrinStateSidecar sidecar;
    sidecar.tuningsDir = dir;
    EXPECT_TRUE(loadState(*engine, bytes, sidecar));
    EXPECT_EQ(sidecar.name, "Just");
    EXPECT_EQ(sidecar.source, "file");
    return engine->getLocalTuningCopy(out);
  };
  LocalTuning tuning{};
  ASSERT_TRUE(loadWith(tunings.string(), tuning));
  EXPECT_EQ(tuning.count, 2);
  EXPECT_EQ(tuning.periodRatio, 3.0);
  EXPECT_STREQ(tuning.name, "just");
  ASSERT_TRUE(loadWith("", tuning));  // no folder: the embedded scale
  EXPECT_EQ(tuning.count, 3);
  fs::remove(tunings / "just.scl");
  ASSERT_TRUE(loadWith(tunings.string(), tuning));  // no file: the embedded scale
  EXPECT_EQ(tuning.count, 3);
}
