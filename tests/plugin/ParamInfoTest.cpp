#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "engine/ParamTable.h"
#include "plugin/ParamInfo.h"

namespace {

constexpr uint32_t kAutomatable = CLAP_PARAM_IS_AUTOMATABLE;
constexpr uint32_t kHidden = CLAP_PARAM_IS_HIDDEN;
constexpr uint32_t kStepped = CLAP_PARAM_IS_STEPPED;

TEST(ParamInfo, FillsEveryRowAndRefusesOutOfRange) {
  for (uint32_t index = 0; index < kNumParams; ++index) {
    clap_param_info_t info{};
    ASSERT_TRUE(fillClapParamInfo(index, &info));
    EXPECT_EQ(info.id, index);
    EXPECT_EQ(std::string(info.name), kParams[index].name);
    EXPECT_EQ(std::string(info.module), "");
    EXPECT_EQ(info.cookie, nullptr);
    EXPECT_EQ(info.min_value, 0.0);
    EXPECT_EQ(info.max_value, 1.0);
    EXPECT_GE(info.default_value, 0.0);
    EXPECT_LE(info.default_value, 1.0);
    EXPECT_NE(info.flags & kAutomatable, 0u);
  }
  clap_param_info_t info{};
  info.id = 77;
  EXPECT_FALSE(fillClapParamInfo(kNumParams, &info));
  EXPECT_EQ(info.id, 77u);
  EXPECT_FALSE(fillClapParamInfo(0, nullptr));

  ASSERT_TRUE(fillClapParamInfo(kParamFilterACutoff, &info));
  EXPECT_EQ(info.default_value, (4500.0 - 20.0) / 19980.0);
}

TEST(ParamInfo, HiddenAndSteppedSets) {
  EXPECT_EQ(paramClapFlags(kParamAnalog), kAutomatable | kHidden);
  EXPECT_EQ(paramClapFlags(kParamLfo1Slew), kAutomatable | kStepped);
  // Three-valued trigger modes are not stepped: a host honouring the flag over 0..1 would skip "one-shot".
  EXPECT_EQ(paramClapFlags(kParamEnv1TriggerMode), kAutomatable);
  EXPECT_EQ(paramClapFlags(kParamEnv2TriggerMode), kAutomatable);
  EXPECT_EQ(paramClapFlags(kNumParams), 0u);

  uint32_t hidden = 0, stepped = 0;
  for (uint32_t id = 0; id < kNumParams; ++id) {
    const uint32_t flags = paramClapFlags(id);
    const bool expectHidden =
        (id >= kParamAnalog && id <= kParamPitchModRange) || id >= kParamFoldCharModStart;
    EXPECT_EQ((flags & kHidden) != 0, expectHidden) << id;
    hidden += (flags & kHidden) != 0;
    stepped += (flags & kStepped) != 0;
  }
  EXPECT_EQ(hidden, 11u);
  EXPECT_EQ(stepped, 5u);
  for (uint32_t id : {kParamLfo2Slew, kParamEnvModel, kParamEnv1TempoSync, kParamEnv2TempoSync}) {
    EXPECT_NE(paramClapFlags(id) & kStepped, 0u) << id;
  }
}

TEST(ParamInfo, DenormaliseClampsAndNormaliseInverts) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(clapDenormParam(kParamFilterACutoff, 0.5), 20.0 + 0.5 * 19980.0);
  EXPECT_EQ(clapDenormParam(kParamFilterACutoff, nan), 20.0);
  EXPECT_EQ(clapDenormParam(kParamFilterACutoff, -inf), 20.0);
  EXPECT_EQ(clapDenormParam(kParamFilterACutoff, 1e300), 20000.0);
  EXPECT_EQ(clapDenormParam(kParamOctave, -0.5), -3.0);
  EXPECT_EQ(clapDenormParam(kNumParams, 0.5), 0.0);

  for (uint32_t id = 0; id < kNumParams; ++id) {
    for (double v : {0.0, 0.25, 0.5, 1.0}) {
      EXPECT_NEAR(normaliseParam(id, clapDenormParam(id, v)), v, 1e-12) << id;
    }
    EXPECT_EQ(normaliseParam(id, nan), 0.0);
    EXPECT_EQ(normaliseParam(id, inf), 1.0);
    EXPECT_EQ(normaliseParam(id, -inf), 0.0);
  }
}

}  // namespace
