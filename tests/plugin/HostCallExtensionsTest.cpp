// The host-call layer's extension lookup and the checks of its extension trampolines.
#include <gtest/gtest.h>

#include "ProbePlugin.h"

using tavrin::host::HostOptions;

namespace {

// An initialised probe with its params and gui tables.
struct InitProbe : Probe {
  explicit InitProbe(HostOptions options = {}) : Probe(options) {
    plugin->init(plugin);
    params = extension<clap_plugin_params>(CLAP_EXT_PARAMS);
    gui = extension<clap_plugin_gui>(CLAP_EXT_GUI);
  }
  // Whether a call answered false and the host heard exactly the one report holding fragment.
  bool refused(bool answer, const std::string& fragment) { return !answer && reported(fragment); }
  const clap_plugin_params* params;
  const clap_plugin_gui* gui;
};

}  // namespace

TEST(HostCallExtensions, LookupAnswersOnlyImplementedTables) {
  InitProbe probe;
  EXPECT_NE(probe.params, nullptr);
  EXPECT_NE(probe.gui, nullptr);
  for (const char* id : {CLAP_EXT_STATE, CLAP_EXT_LATENCY, CLAP_EXT_AUDIO_PORTS})
    EXPECT_NE(probe.extension<void>(id), nullptr) << id;
  for (const char* id : {CLAP_EXT_NOTE_PORTS, CLAP_EXT_TIMER_SUPPORT, "clap.webview/3", "clap.params ", ""})
    EXPECT_EQ(probe.extension<void>(id), nullptr) << id;
  EXPECT_EQ(probe.extension<void>(nullptr), nullptr);
  EXPECT_TRUE(probe.host.logEntries().empty());
}

TEST(HostCallExtensions, PortIndicesOutOfRangeAreRefused) {
  InitProbe probe;
  const auto* ports = probe.extension<clap_plugin_audio_ports>(CLAP_EXT_AUDIO_PORTS);
  clap_audio_port_info info{};
  EXPECT_TRUE(ports->get(probe.plugin, 0, false, &info));
  EXPECT_TRUE(probe.refused(ports->get(probe.plugin, 1, false, &info),
                            "audio_ports.info() with an index out of bounds: 1 >= 1"));
  EXPECT_FALSE(ports->get(probe.plugin, 0, false, nullptr));
}

TEST(HostCallExtensions, ParameterCallsCheckIdsAndBuffers) {
  InitProbe probe;
  const clap_plugin* p = probe.plugin;
  const clap_plugin_params& params = *probe.params;
  clap_param_info info{};
  double value = 0;
  char text[16];
  EXPECT_TRUE(params.get_info(p, 2, &info) && info.id == 12u);
  EXPECT_TRUE(probe.refused(params.get_info(p, 3, &info), "params.info with an index out of bounds: 3 >= 3"));
  EXPECT_TRUE(probe.refused(params.get_value(p, 3, &value), "params.value called with invalid param_id: 3"));
  EXPECT_TRUE(probe.refused(params.value_to_text(p, 200, 0.25, text, sizeof text),
                            "value_to_text called with invalid param_id: 200"));
  EXPECT_TRUE(
      probe.refused(params.value_to_text(p, 10, 0.25, text, 1), "value_to_text called with a empty buffer"));
  EXPECT_TRUE(probe.refused(params.value_to_text(p, 10, 0.25, nullptr, 16),
                            "value_to_text called with a null display"));
  EXPECT_TRUE(probe.refused(params.text_to_value(p, 9, "0.75", &value),
                            "text_to_value called with invalid param_id: 9"));
  EXPECT_TRUE(probe.refused(params.text_to_value(p, 12, nullptr, &value),
                            "text_to_value called with a null display"));
  EXPECT_TRUE(
      probe.refused(params.text_to_value(p, 12, "1", nullptr), "text_to_value called with a null value"));
  EXPECT_FALSE(params.get_info(p, 0, nullptr));
  EXPECT_FALSE(params.get_value(p, 10, nullptr));
  EXPECT_TRUE(params.value_to_text(p, 10, 0.25, text, sizeof text));
  EXPECT_STREQ(text, "0.25");
  EXPECT_TRUE(params.text_to_value(p, 12, "0.75", &value) && value == 0.75);
}

TEST(HostCallExtensions, ParamFlushChecksTheThreadForTheActivationState) {
  InitProbe probe;
  probe.host.clearAudioThread();
  const clap_input_events in{};
  const clap_output_events out{};
  probe.params->flush(probe.plugin, &in, &out);  // inactive: main thread is right
  EXPECT_TRUE(probe.host.logEntries().empty());
  probe.params->flush(probe.plugin, nullptr, &out);
  EXPECT_EQ(probe.object->flushCalls, 1);
  ASSERT_TRUE(probe.plugin->activate(probe.plugin, 48000, 1, 64));
  probe.params->flush(probe.plugin, &in, &out);  // active: must be the audio thread
  EXPECT_TRUE(probe.reported("params.flush() on wrong thread"));
  EXPECT_EQ(probe.object->flushCalls, 2);
  probe.plugin->deactivate(probe.plugin);
}

TEST(HostCallExtensions, LatencyBeforeActivationIsReportedButAnswered) {
  InitProbe probe;
  const auto* latency = probe.extension<clap_plugin_latency>(CLAP_EXT_LATENCY);
  EXPECT_EQ(latency->get(probe.plugin), 32u);
  EXPECT_TRUE(probe.reported("latency before the plugin is activated"));
  ASSERT_TRUE(probe.plugin->activate(probe.plugin, 48000, 1, 64));
  EXPECT_EQ(latency->get(probe.plugin), 32u);
  EXPECT_TRUE(probe.host.logEntries().empty());
  probe.plugin->deactivate(probe.plugin);
}

TEST(HostCallExtensions, StateCallsNeverThrowToTheHost) {
  InitProbe probe;
  const auto* state = probe.extension<clap_plugin_state>(CLAP_EXT_STATE);
  const clap_ostream stream{};
  EXPECT_TRUE(state->save(probe.plugin, &stream));
  EXPECT_FALSE(state->save(probe.plugin, nullptr));
  probe.object->throwFromState = true;
  EXPECT_FALSE(state->save(probe.plugin, &stream));
}

TEST(HostCallExtensions, GuiCallsFollowTheCreationOrder) {
  InitProbe probe;
  const clap_plugin* p = probe.plugin;
  const clap_plugin_gui& gui = *probe.gui;
  uint32_t height = 0;
  const clap_window window{CLAP_WINDOW_API_X11, {}};
  const std::string notCreated = "was called without a prior call to clap_plugin_gui.create()";
  EXPECT_TRUE(probe.refused(gui.show(p), "show() " + notCreated));
  EXPECT_TRUE(probe.refused(gui.set_size(p, 800, 400), "set_size() " + notCreated));
  EXPECT_TRUE(probe.refused(gui.set_parent(p, &window),
                            "set_parent() was called while the plugin gui was not created"));
  gui.destroy(p);
  EXPECT_TRUE(probe.reported("destroy() was called while the plugin gui not created"));
  EXPECT_EQ(probe.object->guiDestroyCalls, 0);
  EXPECT_FALSE(gui.is_api_supported(p, nullptr, false));
  EXPECT_TRUE(probe.refused(gui.create(p, nullptr, false), "create() was called with a null api"));

  ASSERT_TRUE(gui.create(p, CLAP_WINDOW_API_X11, false));
  EXPECT_TRUE(probe.refused(gui.create(p, CLAP_WINDOW_API_X11, false),
                            "create() was called while the plugin gui was already created"));
  EXPECT_TRUE(probe.refused(gui.set_transient(p, &window),
                            "set_transient() was called while the plugin gui isn't a floating window"));
  gui.suggest_title(p, "x");
  EXPECT_TRUE(probe.reported("suggest_title() but the gui was not created as a floating window"));
  EXPECT_FALSE(gui.get_size(p, nullptr, &height));
  EXPECT_FALSE(gui.set_parent(p, nullptr));
  // A size the plug-in would adjust is reported, and the host's size is applied all the same.
  EXPECT_TRUE(gui.set_size(p, 845, 483));
  EXPECT_TRUE(probe.reported("not adjusted by clap_plugin_gui.adjust_size(): 845x483 vs 840x480"));
  EXPECT_EQ(probe.object->lastSetWidth, 845u);

  gui.destroy(p);
  EXPECT_EQ(probe.object->guiDestroyCalls, 1);
  ASSERT_TRUE(gui.create(p, CLAP_WINDOW_API_X11, true));
  EXPECT_TRUE(probe.refused(gui.set_parent(p, &window),
                            "set_parent() was called while the plugin gui is a floating window"));
  gui.suggest_title(p, nullptr);
  EXPECT_TRUE(probe.reported("suggest_title() was called with a null title"));
  gui.destroy(p);
}

TEST(HostProxy, PartialHostTablesCountAsAbsent) {
  InitProbe full;
  EXPECT_TRUE(full.object->requestFlush());
  EXPECT_EQ(full.host.flushRequestCount(), 1);

  InitProbe partial({.paramsWithoutClear = true});
  EXPECT_FALSE(partial.object->requestFlush());
  EXPECT_FALSE(partial.object->requestFlush());
  EXPECT_EQ(partial.host.countLogged("clap_host_params is partially implemented"), 2);
  EXPECT_EQ(partial.host.flushRequestCount(), 0);

  InitProbe none({.params = false});
  EXPECT_FALSE(none.object->requestFlush());
  EXPECT_TRUE(none.host.logEntries().empty());
  EXPECT_FALSE(none.object->canUseTrackInfo());
}
