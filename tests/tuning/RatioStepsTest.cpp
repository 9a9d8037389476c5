#include <atomic>
#include <cmath>
#include <thread>

#include "tests/tuning/TuningFixtures.h"
#include "tuning/RatioSteps.h"

namespace {

// Twelve equal steps per octave, written out in cents.
LocalTuning twelveTone() {
  return scalaTuning(
      "Twelve\n12\n100.0\n200.0\n300.0\n400.0\n500.0\n600.0\n700.0\n800.0\n900.0\n1000.0\n1100.0\n2/1\n");
}

// A twelve-note just scale.
LocalTuning justTwelve() {
  return scalaTuning("Just\n12\n16/15\n9/8\n6/5\n5/4\n4/3\n45/32\n3/2\n8/5\n5/3\n9/5\n15/8\n2/1\n");
}

std::vector<double> table(const MtsRatioSteps& s) {
  return std::vector<double>(s.ratioSteps, s.ratioSteps + s.ratioStepCount);
}

// A tuning state with a local tuning in force (as after the block that takes it) and a selection.
struct RatioStepsTest : ::testing::Test {
  TuningState tuning;
  RatioSelection selection;
  MtsRatioSteps steps;

  void use(const LocalTuning& t) {
    tuning.setLocalTuning(t);
    block(tuning);
  }
  void select(std::vector<int> degrees, std::vector<int> octaves) {
    selection.set(degrees.data(), octaves.data(), int(degrees.size()));
  }
  void rebuild() { recomputeMtsRatioSteps(steps, selection, tuning); }
};

const std::vector<double> kTwelveToneTable = {1.0, 9.0 / 8, 4.0 / 3, 1.5, 17.0 / 9, 2.0, 3.0, 4.0};

}  // namespace

TEST_F(RatioStepsTest, AutomaticTableOfKnownTunings) {
  use(twelveTone());
  rebuild();
  EXPECT_EQ(table(steps), kTwelveToneTable);
  EXPECT_EQ(steps.ratioStepPeriod, 0.0);

  // 45/32 has no fraction with a denominator up to 16 within 0.005; the simplest eight remain.
  use(justTwelve());
  rebuild();
  EXPECT_EQ(table(steps), (std::vector<double>{1.0, 1.25, 4.0 / 3, 1.5, 5.0 / 3, 2.0, 3.0, 4.0}));
  EXPECT_EQ(steps.ratioStepPeriod, 0.0);
}

TEST_F(RatioStepsTest, EmptyWithoutATuningAndAfterItIsSwitchedOff) {
  rebuild();
  EXPECT_EQ(steps.ratioStepCount, 0);
  use(twelveTone());
  rebuild();
  // The table keeps its contents until the next rebuild, which then finds no tuning.
  tuning.clearLocalTuning();
  tuning.takeHandOver();
  EXPECT_EQ(steps.ratioStepCount, 8);
  rebuild();
  EXPECT_EQ(steps.ratioStepCount, 0);
}

TEST_F(RatioStepsTest, SelectionGivesTheRatiosOfThePickedDegrees) {
  use(twelveTone());
  select({0, 0}, {0, 1});
  rebuild();
  EXPECT_EQ(table(steps), (std::vector<double>{1.0, 2.0}));
  EXPECT_EQ(steps.ratioStepPeriod, 2.0);

  // Sorted, with a degree below key 60; the scale size is the tuning's own.
  use(fiveTone());
  select({3, 1, 0, 1, 5}, {0, 0, 1, -1, 0});
  rebuild();
  ASSERT_EQ(steps.ratioStepCount, 4);
  EXPECT_NEAR(steps.ratioSteps[0], std::exp2(240.0 / 1200.0) / 2, 1e-12);
  EXPECT_NEAR(steps.ratioSteps[2], std::exp2(720.0 / 1200.0), 1e-12);
  EXPECT_EQ(steps.ratioSteps[3], 2.0);
}

TEST_F(RatioStepsTest, DuplicatesAndUnusablePairsAreDropped) {
  use(twelveTone());
  // The same degree twice, and the same ratio reached as degree 0 of two spellings, give one step.
  select({7, 7, 0}, {0, 0, 0});
  rebuild();
  EXPECT_EQ(table(steps), (std::vector<double>{1.0, steps.ratioSteps[1]}));
  EXPECT_NEAR(steps.ratioSteps[1], std::exp2(7.0 / 12.0), 1e-12);

  // Degrees outside the scale and keys outside 0..127 are ignored; with none left, the automatic table.
  select({12, -1, 0, 0, 8}, {0, 0, 6, -6, 6});
  rebuild();
  EXPECT_EQ(table(steps), kTwelveToneTable);
  EXPECT_EQ(steps.ratioStepPeriod, 0.0);

  // Key 127 (degree 7 of octave 5) is the highest usable; key 0 (degree 0 of octave -5) the lowest.
  select({7, 0}, {5, -5});
  rebuild();
  ASSERT_EQ(steps.ratioStepCount, 2);
  EXPECT_NEAR(steps.ratioSteps[0], 1.0 / 32, 1e-12);
  EXPECT_NEAR(steps.ratioSteps[1], 32 * std::exp2(7.0 / 12.0), 1e-9);
}

TEST_F(RatioStepsTest, SelectionInputIsBoundedAndNeverWraps) {
  use(twelveTone());
  // Beyond 16 bits a value saturates instead of wrapping to degree 0 or octave 0: both pairs drop out.
  select({65536, 0}, {0, 65536});
  EXPECT_EQ(selection.count(), 2);
  rebuild();
  EXPECT_EQ(table(steps), kTwelveToneTable);

  // At most eight pairs are taken.
  select({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(selection.count(), 8);
  rebuild();
  ASSERT_EQ(steps.ratioStepCount, 8);
  EXPECT_NEAR(steps.ratioSteps[7], std::exp2(7.0 / 12.0), 1e-12);

  // A null array or a negative count selects nothing.
  const int degrees[] = {0, 12};
  selection.set(degrees, nullptr, 2);
  EXPECT_EQ(selection.count(), 0);
  selection.set(degrees, degrees, -3);
  EXPECT_EQ(selection.count(), 0);
  rebuild();
  EXPECT_EQ(table(steps), kTwelveToneTable);
}

// The master's table in place of a local tuning.
struct RatioStepsFromMaster : FakeMaster {
  RatioSelection selection;
  MtsRatioSteps steps;
};

TEST_F(RatioStepsFromMaster, MasterTableAndMapSize) {
  block();
  ASSERT_TRUE(state->effectiveTuningActive());
  // The master's default table is equal-tempered.
  recomputeMtsRatioSteps(steps, selection, *state);
  EXPECT_EQ(table(steps), kTwelveToneTable);

  // A seven-key map: degree 2 of octave 1 is key 69, and key 67 closes the period.
  setMapSize(7);
  setFrequency(60, 200.0);
  setFrequency(67, 500.0);
  setFrequency(69, 700.0);
  block();
  ASSERT_EQ(state->publishedScaleSize(), 7);
  const int degrees[] = {2, 0}, octaves[] = {1, 0};
  selection.set(degrees, octaves, 2);
  recomputeMtsRatioSteps(steps, selection, *state);
  EXPECT_EQ(table(steps), (std::vector<double>{1.0, 3.5}));
  EXPECT_EQ(steps.ratioStepPeriod, 2.5);

  // A period key whose frequency is not above key 60's gives the octave.
  setFrequency(67, 150.0);
  recomputeMtsRatioSteps(steps, selection, *state);
  EXPECT_EQ(steps.ratioStepPeriod, 2.0);
}

// The audio thread only ever reads a whole selection: never one selection's count with another's pairs,
// never a bank the main thread is rewriting.
TEST(RatioSelectionThread, ReaderSeesOnlyWholeSelections) {
  RatioSelection selection;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int k = 0; k < 200000; ++k) {
      // Selection k: n pairs, each naming n and its own index.
      const int n = 1 + k % RatioSelection::kMaxPairs;
      int degrees[RatioSelection::kMaxPairs], octaves[RatioSelection::kMaxPairs];
      for (int i = 0; i < n; ++i) {
        degrees[i] = n;
        octaves[i] = 100 * n + i;
      }
      selection.set(degrees, octaves, n);
    }
    done.store(true, std::memory_order_release);
  });
  int whole = 0;
  bool torn = false;
  while (!done.load(std::memory_order_acquire) || whole == 0) {
    RatioSelectionPair pairs[RatioSelection::kMaxPairs];
    const int n = selection.read(pairs);
    if (n < 0) continue;
    ++whole;
    for (int i = 0; i < n; ++i) torn |= pairs[i].degree != n || pairs[i].octave != 100 * n + i;
  }
  writer.join();
  EXPECT_FALSE(torn);
  EXPECT_GT(whole, 0);
  // The last selection written is the one in force.
  RatioSelectionPair pairs[RatioSelection::kMaxPairs];
  EXPECT_EQ(selection.read(pairs), 1 + 199999 % RatioSelection::kMaxPairs);
}
