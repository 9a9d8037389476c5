// The params extension over the CLAP handle: count, info, values that follow the engine, texts that follow
// the LFO sync modes, and non-finite or huge values from the host and the editor at every id.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "PluginFixture.h"
#include "plugin/ParamInfo.h"
#include "tools/host/Events.h"

using namespace tavrin::host;

namespace {

struct Params {
  explicit Params(PluginFixture& p)
      : plugin(p.instance.plugin()), ext(p.instance.extension<clap_plugin_params>(CLAP_EXT_PARAMS)) {}

  std::string text(uint32_t id, double value) const {
    char display[256] = "untouched";
    EXPECT_TRUE(ext->value_to_text(plugin, id, value, display, sizeof display)) << id;
    return display;
  }
  // The normalised value of a text, or NaN when it is refused.
  double value(uint32_t id, const char* text) const {
    double v = std::numeric_limits<double>::quiet_NaN();
    return ext->text_to_value(plugin, id, text, &v) ? v : std::numeric_limits<double>::quiet_NaN();
  }

  const clap_plugin* plugin;
  const clap_plugin_params* ext;
};

}  // namespace

TEST(ParamsExtension, CountInfoAndValuesFollowTheEngine) {
  PluginFixture p;
  const Params params(p);
  ASSERT_NE(params.ext, nullptr);
  EXPECT_EQ(params.ext->count(params.plugin), 119u);
  clap_param_info info{};
  for (uint32_t i = 0; i < kNumParams; ++i) {
    ASSERT_TRUE(params.ext->get_info(params.plugin, i, &info));
    EXPECT_EQ(info.id, i);
    EXPECT_EQ(std::string(info.name), kParams[i].name);
    EXPECT_TRUE(info.min_value == 0.0 && info.max_value == 1.0);
    EXPECT_EQ(info.flags, paramClapFlags(i));
    double value = -1.0;
    ASSERT_TRUE(params.ext->get_value(params.plugin, i, &value));
    EXPECT_DOUBLE_EQ(value, info.default_value) << i;
  }
  EXPECT_FALSE(params.ext->get_info(params.plugin, kNumParams, &info));
  double value = 0.0;
  EXPECT_FALSE(params.ext->get_value(params.plugin, kNumParams, &value));
  EXPECT_TRUE(std::isnan(params.value(kNumParams, "1")));

  p.object->applyEditorEdit(kParamFilterACutoff, 0.25);
  ASSERT_TRUE(params.ext->get_value(params.plugin, kParamFilterACutoff, &value));
  EXPECT_EQ(value, 0.25);
  EXPECT_EQ(params.text(kParamFilterACutoff, 1.0), "20.0 kHz");
  EXPECT_EQ(params.value(kParamFilterACutoff, "1.2 kHz"), (1200.0 - 20.0) / 19980.0);
}

TEST(ParamsExtension, LfoRateTextsFollowTheEnginesSyncMode) {
  PluginFixture p;
  const Params params(p);
  EXPECT_EQ(params.text(kParamLfo1Rate, 0.5), "1.0 Hz");
  p.object->engine.setParam(kParamLfo1SyncMode, 1.0);  // locked to the song
  EXPECT_EQ(params.text(kParamLfo1Rate, 0.5), "1/8");
  EXPECT_EQ(params.text(kParamLfo1Rate, params.value(kParamLfo1Rate, "1/8")), "1/8");
  EXPECT_EQ(params.text(kParamLfo2Rate, 0.5), "1.0 Hz");  // the other LFO keeps its own mode
  p.object->engine.setParam(kParamLfo1SyncMode, 2.0);     // runs free
  EXPECT_EQ(params.text(kParamLfo1Rate, 0.5), "1.0 Hz");
}

// Texts of such values are the text tests' concern; here the host's values and the editor's edits.
TEST(ParamsExtension, NonFiniteAndHugeValuesAtEveryIdStayClean) {
  PluginFixture p;
  const Params params(p);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const double bad[] = {nan, inf, -inf, 1e300, -1e300};
  std::vector<TimedEvent> timeline;
  for (uint32_t id = 0; id < kNumParams; ++id)
    for (double v : bad) timeline.push_back({timeline.size(), makeParamValueEvent(id, v)});
  p.render(timeline, timeline.size() + 64, 64);
  for (uint32_t id = 0; id < kNumParams; ++id) {
    const double last = p.object->engine.getParam(id);  // -1e300 came last: the minimum
    EXPECT_FLOAT_EQ(last, kParams[id].min) << id;
    for (double v : bad) {
      p.object->applyEditorEdit(id, v);
      double value = nan;
      ASSERT_TRUE(params.ext->get_value(params.plugin, id, &value));
      EXPECT_NEAR(value, v > 0.0 ? 1.0 : 0.0, 1e-6) << id << " after " << v;
    }
  }
}
