// The ratio lock's kernels on tables no tuning file makes easily: odd periods, odd ratios, odd lanes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/RatioLock.h"

namespace {

MtsRatioSteps table(std::initializer_list<double> ratios, double period) {
  MtsRatioSteps s;
  for (double r : ratios) s.ratioSteps[s.ratioStepCount++] = r;
  s.ratioStepPeriod = period;
  return s;
}

}  // namespace

TEST(RatioLock, SnapStaysInRangeWhateverThePeriodOrRatio) {
  // A period barely above 1 asks for millions of periods: the nearest is still found, and quickly.
  const MtsRatioSteps creeping = table({1.0}, 1.0000001);
  EXPECT_NEAR(snapRatioToSteps(creeping, 15.9), 15.9, 1e-5);
  // A step whose every shift leaves 0.5..16 gives way to the others; with none left, the first step.
  EXPECT_EQ(snapRatioToSteps(table({40.0, 3.0}, 100.0), 20.0), 3.0);
  EXPECT_EQ(snapRatioToSteps(table({40.0}, 100.0), 20.0), 40.0);
  // Steps at or below 0 are skipped; a ratio that is not finite counts as 1.
  EXPECT_EQ(snapRatioToSteps(table({-1.0, 0.0, 1.5}, 2.0), 1.3), 1.5);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(snapRatioToSteps(table({1.0, 1.5}, 2.0), nan), 1.0);
  EXPECT_EQ(snapRatioToSteps(table({1.0, 1.5}, 0.0), std::numeric_limits<double>::infinity()), 1.0);
  // Without a period, ties go to the first step.
  EXPECT_EQ(snapRatioToSteps(table({1.0, 2.0}, 0.0), 1.5), 1.0);
}

TEST(RatioLock, RankEncodingNeedsEveryValueOnARankCentre) {
  const float centres[4] = {0.125f, 0.0f, 0.625f, 0.875f};
  EXPECT_TRUE(laneValuesRankEncoded(centres, 4, 4));
  const float nearCentre[2] = {0.3755f, 0.0005f};  // the second is below the level that is examined
  EXPECT_TRUE(laneValuesRankEncoded(nearCentre, 2, 4));
  const float offCentre[3] = {0.125f, 0.38f, 0.875f};
  EXPECT_FALSE(laneValuesRankEncoded(offCentre, 3, 4));
  const float rests[2] = {0.0f, 0.0009f};
  EXPECT_FALSE(laneValuesRankEncoded(rests, 2, 4));
  EXPECT_FALSE(laneValuesRankEncoded(nullptr, 2, 4));
  EXPECT_FALSE(laneValuesRankEncoded(centres, 4, 0));

  // A rank-encoded value picks its step; 1.0 is the last rank, not past it.
  const MtsRatioSteps steps = table({1.0, 1.5, 2.0, 3.0}, 0.0);
  const RatioLaneMapping rank{.absolute = true, .rank = true, .lnBase = 0.0, .steps = &steps};
  EXPECT_EQ(ratioFromLaneValue(rank, 0.625), 2.0);
  EXPECT_EQ(ratioFromLaneValue(rank, 1.0), 3.0);
}
