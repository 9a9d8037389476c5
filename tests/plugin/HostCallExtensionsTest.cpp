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
  const clap_plugin_params* params;
  const clap_plugin_gui* gui;
};

}  // namespace

TEST(HostCallExtensions, LookupAnswersOnlyImplementedTables) {
  InitProbe probe;
  EXPECT_NE(probe.params, nullptr);
  EXPECT_NE(probe.gui, nullptr);
  EXPECT_NE(probe.extension<void>(CLAP_EXT_STATE), nullptr);
  EXPECT_NE(probe.extension<void>(CLAP_EXT_LATENCY), nullptr);
  EXPECT_NE(probe.extension<void>(CLAP_EXT_AUDIO_PORTS), nullptr);
  EXPECT_EQ(probe.extension<void>(CLAP_EXT_NOTE_PORTS), nullptr);  // the probe has none
  EXPECT_EQ(probe.extension<void>(CLAP_EXT_TIMER_SUPPORT), nullptr);
  for (const char* id : {"clap.tail", "clap.webview/3", "clap.params ", "clap.render", "", "clap.log"})
    EXPECT_EQ(probe.extension<void>(id), nullptr) << id;
  EXPECT_EQ(probe.extension<void>(nullptr), nullptr);
  EXPECT_TRUE(probe.host.logEntries().empty());
}

TEST(HostCallExtensions, PortIndicesOutOfRangeAreRefused) {
  InitProbe probe;
  const auto* ports = probe.extension<clap_plugin_audio_ports>(CLAP_EXT_AUDIO_PORTS);
  clap_audio_port_info info{};
  EXPECT_TRUE(ports->get(probe.plugin, 0, false, &info));
  EXPECT_FALSE(ports->get(probe.plugin, 1, false, &info));
  EXPECT_TRUE(probe.reported("audio_ports.info() with an index out of bounds: 1 >= 1"));
  EXPECT_FALSE(ports->get(probe.plugin, 0, true, &info));
  EXPECT_TRUE(probe.reported("audio_ports.info() with an index out of bounds: 0 >= 0"));
  EXPECT_FALSE(ports->get(probe.plugin, 0, false, nullptr));
}

TEST(HostCallExtensions, ParameterCallsCheckIdsAndBuffers) {
  InitProbe probe;
  clap_param_info info{};
  EXPECT_TRUE(probe.params->get_info(probe.plugin, 2, &info));
  EXPECT_EQ(info.id, 12u);
  EXPECT_FALSE(probe.params->get_info(probe.plugin, 3, &info));
  EXPECT_TRUE(probe.reported("params.info with an index out of bounds: 3 >= 3"));
  EXPECT_FALSE(probe.params->get_info(probe.plugin, 0, nullptr));

  double value = 0;
  EXPECT_TRUE(probe.params->get_value(probe.plugin, 11, &value));
  EXPECT_EQ(value, 0.5);
  EXPECT_FALSE(probe.params->get_value(probe.plugin, 3, &value));
  EXPECT_TRUE(probe.reported("params.value called with invalid param_id: 3"));
  EXPECT_FALSE(probe.params->get_value(probe.plugin, 10, nullptr));

  char text[16];
  EXPECT_TRUE(probe.params->value_to_text(probe.plugin, 10, 0.25, text, sizeof text));
  EXPECT_STREQ(text, "0.25");
  EXPECT_FALSE(probe.params->value_to_text(probe.plugin, 200, 0.25, text, sizeof text));
  EXPECT_TRUE(probe.reported("value_to_text called with invalid param_id: 200"));
  EXPECT_FALSE(probe.params->value_to_text(probe.plugin, 10, 0.25, text, 1));
  EXPECT_TRUE(probe.reported("value_to_text called with a empty buffer"));
  EXPECT_FALSE(probe.params->value_to_text(probe.plugin, 10, 0.25, nullptr, 16));
  EXPECT_TRUE(probe.reported("value_to_text called with a null display"));

  EXPECT_TRUE(probe.params->text_to_value(probe.plugin, 12, "0.75", &value));
  EXPECT_EQ(value, 0.75);
  EXPECT_FALSE(probe.params->text_to_value(probe.plugin, 9, "0.75", &value));
  EXPECT_TRUE(probe.reported("text_to_value called with invalid param_id: 9"));
  EXPECT_FALSE(probe.params->text_to_value(probe.plugin, 12, nullptr, &value));
  EXPECT_TRUE(probe.reported("text_to_value called with a null display"));
  EXPECT_FALSE(probe.params->text_to_value(probe.plugin, 12, "1", nullptr));
  EXPECT_TRUE(probe.reported("text_to_value called with a null value"));
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
  uint32_t height = 0;
  const clap_window window{CLAP_WINDOW_API_X11, {}};
  EXPECT_FALSE(probe.gui->show(probe.plugin));
  EXPECT_TRUE(probe.reported("show() was called without a prior call to clap_plugin_gui.create()"));
  EXPECT_FALSE(probe.gui->set_size(probe.plugin, 800, 400));
  EXPECT_TRUE(probe.reported("set_size() was called without a prior call to clap_plugin_gui.create()"));
  EXPECT_FALSE(probe.gui->set_parent(probe.plugin, &window));
  EXPECT_TRUE(probe.reported("set_parent() was called while the plugin gui was not created"));
  probe.gui->destroy(probe.plugin);
  EXPECT_TRUE(probe.reported("destroy() was called while the plugin gui not created"));
  EXPECT_EQ(probe.object->guiDestroyCalls, 0);

  EXPECT_FALSE(probe.gui->is_api_supported(probe.plugin, nullptr, false));
  EXPECT_FALSE(probe.gui->create(probe.plugin, nullptr, false));
  EXPECT_TRUE(probe.reported("create() was called with a null api"));
  EXPECT_FALSE(probe.gui->create(probe.plugin, nullptr, true));

  ASSERT_TRUE(probe.gui->create(probe.plugin, CLAP_WINDOW_API_X11, false));
  EXPECT_FALSE(probe.gui->create(probe.plugin, CLAP_WINDOW_API_X11, false));
  EXPECT_TRUE(probe.reported("create() was called while the plugin gui was already created"));
  EXPECT_FALSE(probe.gui->set_transient(probe.plugin, &window));
  EXPECT_TRUE(probe.reported("set_transient() was called while the plugin gui isn't a floating window"));
  probe.gui->suggest_title(probe.plugin, "x");
  EXPECT_TRUE(probe.reported("suggest_title() but the gui was not created as a floating window"));
  EXPECT_FALSE(probe.gui->get_size(probe.plugin, nullptr, &height));
  EXPECT_FALSE(probe.gui->set_parent(probe.plugin, nullptr));
  EXPECT_TRUE(probe.gui->set_parent(probe.plugin, &window));

  // A size the plug-in would adjust is reported, and the host's size is applied all the same.
  EXPECT_TRUE(probe.gui->set_size(probe.plugin, 845, 483));
  EXPECT_TRUE(probe.reported("not adjusted by clap_plugin_gui.adjust_size(): 845x483 vs 840x480"));
  EXPECT_EQ(probe.object->lastSetWidth, 845u);
  EXPECT_EQ(probe.object->lastSetHeight, 483u);
  EXPECT_TRUE(probe.gui->set_size(probe.plugin, 840, 480));
  EXPECT_TRUE(probe.host.logEntries().empty());

  probe.gui->destroy(probe.plugin);
  EXPECT_EQ(probe.object->guiDestroyCalls, 1);
  ASSERT_TRUE(probe.gui->create(probe.plugin, CLAP_WINDOW_API_X11, true));
  EXPECT_FALSE(probe.gui->set_parent(probe.plugin, &window));
  EXPECT_TRUE(probe.reported("set_parent() was called while the plugin gui is a floating window"));
  EXPECT_TRUE(probe.gui->set_transient(probe.plugin, &window));
  probe.gui->suggest_title(probe.plugin, nullptr);
  EXPECT_TRUE(probe.reported("suggest_title() was called with a null title"));
  probe.gui->destroy(probe.plugin);
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
