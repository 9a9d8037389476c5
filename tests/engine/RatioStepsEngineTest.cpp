// The engine keeps the ratio steps in step with the selection, the locks and the tuning in force.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "engine/EngineFixture.h"

namespace {

const std::vector<double> kTwelveToneTable = {1.0, 9.0 / 8, 4.0 / 3, 1.5, 17.0 / 9, 2.0, 3.0, 4.0};
const std::vector<double> kJustTable = {1.0, 1.25, 4.0 / 3, 1.5, 5.0 / 3, 2.0, 3.0, 4.0};

struct EngineRatioSteps : EngineTest {
  std::vector<double> steps() const {
    const MtsRatioSteps& s = engine->currentRatioSteps();
    return std::vector<double>(s.ratioSteps, s.ratioSteps + s.ratioStepCount);
  }
  void block() { engine->generateBlock(); }
};

}  // namespace

TEST_F(EngineRatioSteps, SelectionTakesEffectAtTheNextBlockWithATuning) {
  engine->setLocalTuning(scalaTuning(kTwelveToneScl));
  const int degrees[] = {0, 0}, octaves[] = {0, 1};
  engine->setRatioSelection(degrees, octaves, 2);
  EXPECT_TRUE(steps().empty());
  block();
  EXPECT_EQ(steps(), (std::vector<double>{1.0, 2.0}));

  // An empty selection brings the automatic table.
  engine->setRatioSelection(nullptr, nullptr, 3);
  block();
  EXPECT_EQ(steps(), kTwelveToneTable);
}

TEST_F(EngineRatioSteps, NothingIsBuiltWithoutATuning) {
  engine->setRatioLocked(true);
  block();
  EXPECT_TRUE(steps().empty());
  EXPECT_FALSE(engine->ratioStepsRebuilt);
}

TEST_F(EngineRatioSteps, LockFollowsARetune) {
  engine->setLocalTuning(scalaTuning(kTwelveToneScl));
  engine->setRatioLocked(true);
  block();
  EXPECT_EQ(steps(), kTwelveToneTable);
  engine->ratioStepsRebuilt = false;

  // A new tuning rebuilds the steps in the block that takes it, and the ratio lock is told.
  engine->setLocalTuning(scalaTuning(kJustTwelveScl));
  block();
  EXPECT_TRUE(engine->ratioStepsRebuilt);
  engine->ratioStepsRebuilt = false;
  block();
  EXPECT_FALSE(engine->ratioStepsRebuilt);  // once per retune

  // Switching the tuning off leaves no steps of it behind.
  engine->clearLocalTuning();
  block();
  EXPECT_TRUE(steps().empty());
}

TEST_F(EngineRatioSteps, CutoffLockFollowsARetuneWithoutMovingTheRatio) {
  engine->setLocalTuning(scalaTuning(kTwelveToneScl));
  engine->setFilterLocked(1, true);
  block();
  engine->setLocalTuning(scalaTuning(kJustTwelveScl));
  block();
  EXPECT_EQ(steps(), kJustTable);
  EXPECT_FALSE(engine->ratioStepsRebuilt);
}

TEST_F(EngineRatioSteps, WithoutALockARetuneLeavesTheSteps) {
  engine->setLocalTuning(scalaTuning(kTwelveToneScl));
  engine->setRatioSelection(nullptr, nullptr, 0);
  block();
  EXPECT_EQ(steps(), kTwelveToneTable);
  engine->setLocalTuning(scalaTuning(kJustTwelveScl));
  block();
  EXPECT_EQ(steps(), kTwelveToneTable);
  // Switching a lock on asks for a rebuild from the tuning now in force.
  engine->setRatioLocked(true);
  block();
  EXPECT_EQ(steps(), kJustTable);
}

// The editor picks degrees while the audio thread renders; once it stops, the next block builds the
// steps from its last selection.
TEST_F(EngineRatioSteps, ThreadedSelectionLastOneWins) {
  engine->setLocalTuning(scalaTuning(kTwelveToneScl));
  constexpr int kSelections = 20000;
  std::atomic<bool> done{false};
  std::thread editor([&] {
    int degrees[PluginProcessor::kMaxRatioSelection], octaves[PluginProcessor::kMaxRatioSelection] = {};
    for (int k = 0; k < kSelections; ++k) {
      const int n = 1 + k % PluginProcessor::kMaxRatioSelection;
      for (int i = 0; i < n; ++i) degrees[i] = (k + i) % 12;
      engine->setRatioSelection(degrees, octaves, n);
    }
    done.store(true, std::memory_order_release);
  });
  while (!done.load(std::memory_order_acquire)) {
    block();
    const MtsRatioSteps& s = engine->currentRatioSteps();
    ASSERT_LE(s.ratioStepCount, PluginProcessor::kMaxMtsRatioSteps);
    for (int i = 0; i < s.ratioStepCount; ++i) ASSERT_TRUE(s.ratioSteps[i] >= 1.0 && s.ratioSteps[i] < 2.0);
  }
  editor.join();
  block();
  // The last selection: eight degrees upwards from its number, wrapping within the octave.
  const int last = kSelections - 1;
  ASSERT_EQ(1 + last % PluginProcessor::kMaxRatioSelection, 8);
  std::vector<double> expected;
  for (int i = 0; i < 8; ++i) expected.push_back(std::exp2(((last + i) % 12) / 12.0));
  std::sort(expected.begin(), expected.end());
  const std::vector<double> got = steps();
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], expected[i], 1e-12);
}
