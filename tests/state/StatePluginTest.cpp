// The state of a whole plug-in instance through its CLAP state extension: everything it holds reloads
// into a fresh instance exactly, the host is told to read the values again, and the stream saves again
// byte for byte.
#include <gtest/gtest.h>

#include <random>

#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "tests/plugin/PluginFixture.h"
#include "tests/state/StateFixture.h"

namespace {

std::vector<uint8_t> saveOf(PluginFixture& plugin) {
  const auto* state = plugin.instance.extension<clap_plugin_state>(CLAP_EXT_STATE);
  MemoryOStream out;
  EXPECT_TRUE(state->save(plugin.instance.plugin(), &out.stream));
  return out.bytes;
}

bool loadInto(PluginFixture& plugin, const std::vector<uint8_t>& bytes) {
  const auto* state = plugin.instance.extension<clap_plugin_state>(CLAP_EXT_STATE);
  MemoryIStream in(bytes);
  in.chunk = 17;
  return state->load(plugin.instance.plugin(), &in.stream);
}

double randomIn(uint32_t id, std::mt19937& random) {
  return std::uniform_real_distribution<double>(kParams[id].min, kParams[id].max)(random);
}

// Every parameter at a random value in its range, the old envelope model and the free-running third LFO
// sync mode among them; a controller map, UI state, tuning, both poles (every parameter captured, as
// the page sends them), live lanes, locks and a kit.
void fillEverything(CLAPPlugin& plugin) {
  PluginProcessor& e = plugin.engine;
  std::mt19937 random(29);
  for (uint32_t id = 0; id < kNumParams; ++id) e.setParam(id, randomIn(id, random));
  for (uint32_t id : {kParamEnvModel, kParamLfo1SyncMode, kParamLfo2SyncMode})
    e.setParam(id, kParams[id].max);

  for (int i = 0; i < 2; ++i) {
    ParamSnapshot pole = sampleSnapshot();
    for (uint32_t id = 0; id < kNumParams; ++id) {
      pole.value[id] = randomIn(id, random);
      pole.has[id] = true;
    }
    pole.value[kParamEnvModel] = 1.0;
    e.setSnapshot(i, pole);
  }
  RichState rich;
  LocalTuning tuning{};
  rich.engine->getLocalTuningCopy(tuning);
  e.setLocalTuning(tuning);
  const float steps[] = {0.1f, 0.7f, 0.3f};
  const unsigned char ties[] = {1, 0, 1};
  e.setSeqSteps(1, steps, 3);
  e.setSeqTies(1, ties, 3);
  e.setFilterLocked(1, true);
  e.setEnvFeelModern(true);
  fillKit(e);
  std::lock_guard lock(plugin.stateMutex);
  for (uint32_t cc = 0; cc < CLAPPlugin::kNumControllers; ++cc)
    plugin.ccMap[cc].store(rich.sidecar.ccMap[cc]);
  plugin.uiStateJson = rich.sidecar.json;
  plugin.localTuning = rich.sidecar.name;
  plugin.tuningFile = rich.sidecar.filename;
  plugin.tuningSource = rich.sidecar.source;
}

}  // namespace

TEST(StatePlugin, EverythingReloadsIntoAFreshInstanceAndSavesTheSameStream) {
  PluginFixture first;
  fillEverything(*first.object);
  const std::vector<uint8_t> saved = saveOf(first);

  PluginFixture second;
  ASSERT_TRUE(loadInto(second, saved));
  EXPECT_GE(second.host.rescanCount(), 1);
  EXPECT_TRUE(second.host.rescanFlags() & CLAP_PARAM_RESCAN_VALUES);
  const PluginProcessor& a = first.object->engine;
  const PluginProcessor& b = second.object->engine;
  for (uint32_t id = 0; id < kNumParams; ++id) EXPECT_EQ(b.getParam(id), a.getParam(id)) << id;
  for (uint32_t cc = 0; cc < CLAPPlugin::kNumControllers; ++cc)
    EXPECT_EQ(second.object->ccMap[cc].load(), first.object->ccMap[cc].load()) << cc;
  for (int lane = 0; lane < 2; ++lane) {
    float stepsA[8] = {};
    float stepsB[8] = {};
    unsigned char tiesA[8] = {};
    unsigned char tiesB[8] = {};
    ASSERT_EQ(b.getSeqStepsCopy(lane, stepsB, 8), a.getSeqStepsCopy(lane, stepsA, 8)) << lane;
    a.getSeqTiesCopy(lane, tiesA, 8);
    b.getSeqTiesCopy(lane, tiesB, 8);
    for (int i = 0; i < 8; ++i) {
      EXPECT_NEAR(stepsB[i], stepsA[i], 0.0000005f) << lane;
      EXPECT_EQ(tiesB[i], tiesA[i]) << lane;
    }
  }
  expectSameKit(a, b);
  for (int i = 0; i < 2; ++i) {
    ParamSnapshot poleA;
    ParamSnapshot poleB;
    ASSERT_TRUE(a.getSnapshotCopy(i, poleA) && b.getSnapshotCopy(i, poleB));
    expectPolesClose(poleA, poleB);
  }
  EXPECT_EQ(saveOf(second), saved);
}
