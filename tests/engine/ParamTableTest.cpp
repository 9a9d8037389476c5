#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "engine/ParamTable.h"
#include "engine/voice/ParamSmoother.h"

namespace {

TEST(ParamTable, RowsAreConsistent) {
  std::set<std::string> names;
  for (uint32_t i = 0; i < kNumParams; ++i) {
    const ParamInfo& p = kParams[i];
    EXPECT_EQ(p.id, i);
    EXPECT_LT(p.min, p.max) << p.name;
    EXPECT_LE(p.min, p.def) << p.name;
    EXPECT_LE(p.def, p.max) << p.name;
    EXPECT_TRUE(names.insert(p.name).second) << "duplicate " << p.name;
  }
  EXPECT_EQ(names.size(), 119u);
  // Hosts and saved sessions address parameters by id: the ids never move.
  EXPECT_EQ(kParamMorphFader, 51u);
  EXPECT_EQ(kParamFoldCharModSource, 118u);
}

TEST(ParamSmoother, RowsFollowTarget) {
  ParamSmoother s;
  for (const float ms : {0.0f, std::nanf("")}) {
    s.setTime(ms, 48000.0f);
    EXPECT_EQ(s.coeff, 1.0f);
  }
  s.setTime(5.0f, 0.0f);
  EXPECT_EQ(s.coeff, 1.0f);
  s.set(0.3f);
  const ml::DSPVector flat = s.smooth(0.7f);
  for (size_t i = 0; i < 64; ++i) EXPECT_EQ(flat[i], 0.7f);

  s.setTime(5.0f, 48000.0f);
  s.set(0.0f);
  const ml::DSPVector ramp = s.smooth(1.0f);
  for (size_t i = 1; i < 64; ++i) EXPECT_GT(ramp[i], ramp[i - 1]);
  // 64 samples of a 240-sample time constant: 1 - e^(-64/240) within float rounding.
  EXPECT_NEAR(ramp[63], 1.0 - std::exp(-64.0 / 240.0), 1e-5);
}

// A kept row at rest is left unwritten; a jump, a move or an unsmoothed change must still reach it.
TEST(ParamSmoother, KeptRowFollowsEveryChange) {
  ParamSmoother s;
  ml::DSPVector row(0.0f);
  const auto expectFlat = [&](float v) {
    for (size_t i = 0; i < 64; ++i) ASSERT_EQ(row[i], v) << i;
  };
  s.setTime(5.0f, 48000.0f);
  s.set(0.25f);
  s.smoothInto(0.25f, row);
  expectFlat(0.25f);
  s.set(0.5f);
  s.smoothInto(0.5f, row);
  expectFlat(0.5f);
  s.smoothInto(1.0f, row);
  EXPECT_GT(row[63], row[0]);
  s.set(1.0f);
  s.smoothInto(1.0f, row);
  expectFlat(1.0f);
  s.setTime(0.0f, 48000.0f);
  s.smoothInto(-0.0f, row);
  EXPECT_TRUE(std::signbit(row[0]) && std::signbit(row[63]));
}

// Whether a repeat of the last call would change nothing: only after a call at rest, until a jump or a
// new time.
TEST(ParamSmoother, RestedLastCallOnlyUntilAJumpOrANewTime) {
  ParamSmoother s;
  ml::DSPVector row(0.0f);
  s.setTime(5.0f, 48000.0f);
  s.set(0.5f);
  EXPECT_FALSE(s.restedLastCall());
  s.smoothInto(0.5f, row);
  EXPECT_TRUE(s.restedLastCall());
  s.setTime(10.0f, 48000.0f);
  EXPECT_FALSE(s.restedLastCall());
  s.smoothLast(0.5f);
  EXPECT_TRUE(s.restedLastCall());
  s.set(0.25f);
  EXPECT_FALSE(s.restedLastCall());
  s.smoothInto(0.5f, row);
  EXPECT_FALSE(s.restedLastCall());
}

}  // namespace
