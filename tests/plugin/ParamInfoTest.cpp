#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "engine/ParamTable.h"
#include "plugin/ParamInfo.h"

namespace {

constexpr uint32_t kAutomatable = CLAP_PARAM_IS_AUTOMATABLE;
constexpr uint32_t kHidden = CLAP_PARAM_IS_HIDDEN;
constexpr uint32_t kStepped = CLAP_PARAM_IS_STEPPED;

TEST(ParamInfo, RefusedRowsLeaveTheRecordAlone) {
  clap_param_info_t info{};
  info.id = 77;
  EXPECT_FALSE(fillClapParamInfo(kNumParams, &info));
  EXPECT_EQ(info.id, 77u);
  EXPECT_FALSE(fillClapParamInfo(0, nullptr));
}

TEST(ParamInfo, HiddenAndSteppedSets) {
  // Three-valued trigger modes are not stepped: a host honouring the flag over 0..1 would skip "one-shot".
  const uint32_t stepped[] = {kParamLfo1Slew, kParamLfo2Slew, kParamEnvModel, kParamEnv1TempoSync,
                              kParamEnv2TempoSync};
  uint32_t hidden = 0;
  for (uint32_t id = 0; id < kNumParams; ++id) {
    const uint32_t flags = paramClapFlags(id);
    EXPECT_NE(flags & kAutomatable, 0u) << id;
    EXPECT_EQ((flags & kStepped) != 0, std::count(std::begin(stepped), std::end(stepped), id) == 1) << id;
    hidden += (flags & kHidden) != 0;
  }
  EXPECT_EQ(hidden, 11u);
  EXPECT_EQ(paramClapFlags(kParamAnalog), kAutomatable | kHidden);
  EXPECT_EQ(paramClapFlags(kParamFoldCharModSource), kAutomatable | kHidden);
  EXPECT_EQ(paramClapFlags(kNumParams), 0u);
}

TEST(ParamInfo, DenormaliseClampsAndNormaliseInverts) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(clapDenormParam(kParamFilterACutoff, 0.5), 20.0 + 0.5 * 19980.0);
  EXPECT_EQ(clapDenormParam(kParamFilterACutoff, nan), 20.0);
  EXPECT_EQ(clapDenormParam(kParamFilterACutoff, 1e300), 20000.0);
  EXPECT_EQ(clapDenormParam(kParamOctave, -0.5), -3.0);
  EXPECT_EQ(clapDenormParam(kNumParams, 0.5), 0.0);

  for (uint32_t id = 0; id < kNumParams; ++id) {
    for (double v : {0.0, 0.25, 0.5, 1.0}) {
      EXPECT_NEAR(normaliseParam(id, clapDenormParam(id, v)), v, 1e-12) << id;
    }
    EXPECT_EQ(normaliseParam(id, nan), 0.0);
    EXPECT_EQ(normaliseParam(id, inf), 1.0);
  }
}

}  // namespace
