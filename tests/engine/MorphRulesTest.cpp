// Morph rules: the rule tables, the blends at the ends and the middle, slot equality by rebase key and
// the repair of snapshots from outside.
#include <gtest/gtest.h>

#include <limits>
#include <set>

#include "MorphFixture.h"

using morphtest::defaultsCapture;
using morphtest::Snapshot;

namespace {

std::set<uint32_t> idsWhere(bool (*rule)(uint32_t)) {
  std::set<uint32_t> ids;
  for (uint32_t id = 0; id < kNumParams + 8; ++id)
    if (rule(id)) ids.insert(id);
  return ids;
}

}  // namespace

TEST(MorphRules, TablesHoldExactlyTheirIds) {
  EXPECT_EQ(idsWhere(isMorphExcludedParam), (std::set<uint32_t>{0, 1, 51, 68, 69, 76, 77, 84, 86, 90, 92}));
  EXPECT_EQ(idsWhere(isMorphInputExempt), (std::set<uint32_t>{0, 1, 51}));
}

TEST(MorphRules, BlendsAtTheEndsAndTheMiddle) {
  EXPECT_DOUBLE_EQ(morphParamValue(kParamFilterACutoff, 200.0, 20000.0, 0.5), 2000.0);
  EXPECT_EQ(morphParamValue(kParamFilterAResonance, 0.0, 0.8, 1.0), 0.8);
  EXPECT_EQ(morphParamValue(kParamFilterAMode, 0.0, 2.0, 0.4999), 0.0);
  EXPECT_EQ(morphParamValue(kParamFilterAMode, 0.0, 2.0, 0.5), 2.0);
  // A logarithmic id with a value at 0 blends linearly; equal values stay exact.
  EXPECT_DOUBLE_EQ(morphParamValue(kParamReverbDecay, 0.0, 4.0, 0.25), 1.0);
  EXPECT_EQ(morphParamValue(kParamEqLow, 0.3, 0.3, 0.77), 0.3);
}

TEST(MorphRules, SlotEqualityByKey) {
  Snapshot a, b;
  b.value[kParamFold] = 2.0;
  EXPECT_FALSE(slotEqual(a, b, kParamFold));
  EXPECT_TRUE(slotEqual(a, b, kRebaseKeyLockA));
  b.lockB = 1;
  EXPECT_FALSE(slotEqual(a, b, kRebaseKeyLockB));
  b.seqRate[1] = 3.0f;
  EXPECT_TRUE(slotEqual(a, b, kRebaseKeySeqRate));
  EXPECT_FALSE(slotEqual(a, b, kRebaseKeySeqRate + 1));
  b.seqDiv[0] = 4;
  EXPECT_FALSE(slotEqual(a, b, kRebaseKeySeqDiv));
  EXPECT_FALSE(slotEqual(a, a, kNumRebaseKeys));
}

TEST(MorphRules, SnapshotsFromOutsideAreMadeSafe) {
  Snapshot s = defaultsCapture();
  s.value[kParamFold] = std::numeric_limits<double>::quiet_NaN();
  s.value[kParamFilterACutoff] = 1e9;
  s.seqStepCount = {200, 3};
  s.seqSteps[0][2] = std::numeric_limits<float>::infinity();
  s.seqSteps[1][0] = -4.0f;
  s.seqTies[0][1] = 9;
  s.seq1Target = 77;
  s.seqRate[0] = std::numeric_limits<float>::quiet_NaN();
  sanitizeSnapshot(s);
  EXPECT_FALSE(s.has[kParamFold]);
  EXPECT_EQ(s.value[kParamFilterACutoff], 20000.0);
  EXPECT_EQ(s.seqStepCount[0], 8u);
  EXPECT_EQ(s.seqSteps[0][2], 1.0f);
  EXPECT_EQ(s.seqSteps[1][0], 0.0f);
  EXPECT_EQ(s.seqTies[0][1], 1);
  EXPECT_EQ(s.seq1Target, 4u);
  EXPECT_EQ(s.seqRate[0], -1.0f);
}
