#pragma once
// Engines with a known state for the state stream and kit tests, and helpers that save and load them
// through memory streams.

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/PluginProcessor.h"
#include "state/KitSection.h"
#include "state/SnapshotBinary.h"
#include "state/StateStream.h"
#include "tests/state/MemoryStreams.h"
#include "tests/state/PlayableEngine.h"
#include "tests/state/SnapshotSamples.h"

// Little-endian fields appended to a byte vector, for streams built by hand.
template <typename T>
void put(std::vector<uint8_t>& bytes, T value) {
  const auto* from = reinterpret_cast<const uint8_t*>(&value);
  bytes.insert(bytes.end(), from, from + sizeof value);
}

inline void putText(std::vector<uint8_t>& bytes, const std::string& text) {
  bytes.insert(bytes.end(), text.begin(), text.end());
}

// A kit in mode on at base key 48 with two sounds: slot 3 (note 50, gain 0.5, pan -0.5) and slot 7
// (note 61, gain 2, pan 1).
inline void fillKit(PluginProcessor& engine) {
  engine.setAfxBaseKey(48);
  engine.setAfxMode(true);
  ParamSnapshot s = sampleSnapshot();
  engine.setSlotSnapshotGainPan(3, s, 50, 0.5f, -0.5f);
  s.value[kParamFilterACutoff] = 700.0;
  engine.setSlotSnapshotGainPan(7, s, 61, 2.0f, 1.0f);
}

// A different kit, to see whether a load replaced or kept it.
inline void fillOtherKit(PluginProcessor& engine) {
  engine.setAfxBaseKey(60);
  engine.setAfxMode(true);
  engine.setSlotSnapshotGainPan(0, sampleSnapshot(), 72, 3.0f, 0.25f);
}

// A new engine, filled by fill when given (with fillKit or fillOtherKit).
inline std::unique_ptr<PluginProcessor> newEngine(void (*fill)(PluginProcessor&) = nullptr) {
  auto engine = std::make_unique<PluginProcessor>();
  if (fill) fill(*engine);
  return engine;
}

// Everything of a slot as bytes: present, note, gain, pan and the snapshot's binary form.
inline std::vector<uint8_t> slotBytes(const PluginProcessor& engine, int slot) {
  const SlotReading r = readSlot(engine, slot);
  MemoryOStream out;
  writeSnapshotBinary(&out.stream, r.snapshot);
  std::vector<uint8_t> bytes = out.bytes;
  put<uint8_t>(bytes, r.present);
  put<int32_t>(bytes, r.note);
  put(bytes, r.gain);
  put(bytes, r.pan);
  return bytes;
}

inline void expectSameKit(const PluginProcessor& a, const PluginProcessor& b) {
  EXPECT_EQ(a.afxModeOn(), b.afxModeOn());
  EXPECT_EQ(a.afxBaseKeyValue(), b.afxBaseKeyValue());
  for (int slot = 0; slot < kNumKitSlots; ++slot) EXPECT_EQ(slotBytes(a, slot), slotBytes(b, slot)) << slot;
}

// A section of count slots where only the listed slots hold a sound, written as a stream of version.
inline std::vector<uint8_t> handSection(uint32_t count, std::initializer_list<uint32_t> present,
                                        uint32_t version) {
  std::vector<uint8_t> bytes;
  put<uint8_t>(bytes, 1);
  put<int32_t>(bytes, 40);
  put<uint32_t>(bytes, count);
  MemoryOStream snapshot;
  writeSnapshotBinary(&snapshot.stream, sampleSnapshot());
  for (uint32_t slot = 0; slot < count; ++slot) {
    const bool has = std::find(present.begin(), present.end(), slot) != present.end();
    put<uint8_t>(bytes, has ? 1 : 0);
    if (!has) continue;
    put<int16_t>(bytes, static_cast<int16_t>(slot + 40));
    bytes.insert(bytes.end(), snapshot.bytes.begin(), snapshot.bytes.end());
    if (version >= 5) {
      put(bytes, 0.75f);
      put(bytes, -0.25f);
    }
  }
  return bytes;
}

inline bool slotPresent(const PluginProcessor& engine, int slot) {
  return readSlot(engine, slot).present;
}

inline std::vector<uint8_t> kitSectionBytes(PluginProcessor& engine) {
  MemoryOStream out;
  EXPECT_TRUE(tavrin_write_kit_section(&out.stream, engine));
  return out.bytes;
}

inline std::vector<uint8_t> savedState(PluginProcessor& engine, TavrinStateSidecar& sidecar) {
  MemoryOStream out;
  std::mutex lock;
  EXPECT_TRUE(tavrin_state_save_stream(&out.stream, engine, sidecar, lock));
  return out.bytes;
}

inline bool loadState(PluginProcessor& engine, const std::vector<uint8_t>& bytes, TavrinStateSidecar& sidecar,
                      size_t chunk = SIZE_MAX) {
  MemoryIStream in(bytes);
  in.chunk = chunk;
  std::mutex lock;
  return tavrin_state_load_stream(&in.stream, engine, sidecar, lock);
}

// A pole read back from the JSON form: every parameter captured (the form gives the others their
// defaults) and within six decimals of its range, lanes and settings as saved.
inline void expectPolesClose(const ParamSnapshot& saved, const ParamSnapshot& loaded) {
  for (uint32_t id = 0; id < kNumParams; ++id) {
    ASSERT_TRUE(loaded.has[id]) << id;  // the JSON form gives every other parameter its default
    const double range = kParams[id].max - kParams[id].min;
    EXPECT_NEAR(loaded.value[id], saved.has[id] ? saved.value[id] : kParams[id].def, 0.0000006 * range) << id;
  }
  EXPECT_EQ(loaded.seqStepCount, saved.seqStepCount);
  for (int lane = 0; lane < 2; ++lane)
    for (uint32_t i = 0; i < saved.seqStepCount[lane]; ++i) {
      EXPECT_EQ(loaded.seqTies[lane][i], saved.seqTies[lane][i]) << lane << i;
      EXPECT_EQ(loaded.seqSteps[lane][i], saved.seqSteps[lane][i]) << lane << i;
    }
  EXPECT_EQ(loaded.seq1Target, saved.seq1Target);
  EXPECT_EQ(loaded.lockA, saved.lockA);
  EXPECT_EQ(loaded.captureSeq, saved.captureSeq);
}

inline constexpr char kJustScale[] = "! just.scl\nJust\n 3\n9/8\n5/4\n2/1\n";

// An engine and sidecar with something in every part of the state: parameters, controller map, UI
// state, window size, an embedded tuning, both morph poles, live lanes, locks, the modern envelope model
// and a kit.
struct RichState {
  std::unique_ptr<PluginProcessor> engine = newEngine();
  TavrinStateSidecar sidecar;

  RichState() {
    PluginProcessor& e = *engine;
    e.setParam(kParamFilterACutoff, 1234.5);
    e.setParam(kParamVoiceMode, 2.0);
    e.setParam(kParamReverbMix, 0.625);
    e.setParam(kParamMorphFader, 0.3);
    sidecar.ccMap.fill(0xFFFFFFFF);
    sidecar.ccMap[1] = kParamReverbMix;
    sidecar.ccMap[74] = kParamFilterACutoff;
    sidecar.json = R"({"theme":"dark","nested":{"a":[1,2,"x"]},"windowWidth":5})";
    sidecar.windowWidth = 1000;
    sidecar.windowHeight = 571;
    LocalTuning tuning{};
    EXPECT_TRUE(PluginProcessor::parseScala(kJustScale, sizeof kJustScale - 1, "Just", tuning));
    e.setLocalTuning(tuning);
    sidecar.name = "Just";
    sidecar.filename = "just";
    sidecar.source = "embed";
    ParamSnapshot a = sampleSnapshot();
    ParamSnapshot b = sampleSnapshot();
    b.value[kParamFilterACutoff] = 800.0;
    b.value[kParamReverbMix] = 0.9;
    b.has[kParamReverbMix] = true;
    e.setSnapshot(0, a);
    e.setSnapshot(1, b);
    const float lane0[] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f};
    const unsigned char ties0[] = {0, 1, 0, 1, 0};
    e.setSeqSteps(0, lane0, 5);
    e.setSeqTies(0, ties0, 5);
    const float lane1[] = {0.9f, 0.8f, 0.7f};
    e.setSeqSteps(1, lane1, 3);
    e.setSeqLaneEditBroke(1, false);
    e.setFilterLocked(0, true);
    e.setEnvFeelModern(true);
    fillKit(e);
  }
};
