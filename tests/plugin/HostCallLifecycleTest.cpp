// The host-call layer's life-cycle checks, driven through the CLAP plug-in record.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

#include "ProbePlugin.h"

using tavrin::host::HostOptions;

namespace {

const char* kNotActive = "Host called clap_plugin.process() on a deactivated plugin";
const char* kNotStarted = "Host called clap_plugin.process() without calling clap_plugin.start_processing()";

}  // namespace

TEST(HostCallLayer, SecondInitIsReportedAndQueriesNothing) {
  Probe probe;
  ASSERT_TRUE(probe.plugin->init(probe.plugin));
  const int queries = probe.host.extensionQueryCount();
  EXPECT_GT(queries, 0);
  StreamCapture capture;
  EXPECT_TRUE(probe.plugin->init(probe.plugin));
  EXPECT_EQ(capture.err(), "clap_plugin.init() has been called twice\n");
  EXPECT_EQ(probe.host.extensionQueryCount(), queries);
}

TEST(HostCallLayer, CallsBeforeInitAreReportedAndCarriedOut) {
  Probe probe;
  StreamCapture capture;  // no host log yet: the proxy has not queried the host
  EXPECT_TRUE(probe.activate());
  EXPECT_NE(capture.err().find("Host is required to call clap_plugin.init() first\n"), std::string::npos);
  EXPECT_NE(capture.err().find("clap_plugin.activate() was called before clap_plugin.init()\n"),
            std::string::npos);
  EXPECT_EQ(probe.object->activateCalls, 1);
  probe.plugin->deactivate(probe.plugin);
}

TEST(HostCallLayer, ProcessNeedsActivationAndStart) {
  Probe probe;
  probe.plugin->init(probe.plugin);
  EXPECT_EQ(probe.process(), CLAP_PROCESS_ERROR);
  EXPECT_EQ(probe.logged(kNotActive), 1);

  ASSERT_TRUE(probe.activate());
  EXPECT_EQ(probe.process(), CLAP_PROCESS_ERROR);
  EXPECT_EQ(probe.logged(kNotStarted), 1);
  EXPECT_EQ(probe.object->processCalls, 0);

  ASSERT_TRUE(probe.plugin->start_processing(probe.plugin));
  EXPECT_EQ(probe.process(), CLAP_PROCESS_CONTINUE);
  EXPECT_EQ(probe.object->processCalls, 1);
  EXPECT_EQ(probe.plugin->process(probe.plugin, nullptr), CLAP_PROCESS_ERROR);
  EXPECT_EQ(probe.host.logEntries().back().severity, CLAP_LOG_HOST_MISBEHAVING);
}

TEST(HostCallLayer, BadActivationArgumentsAreRefused) {
  struct Case {
    double rate;
    uint32_t minFrames, maxFrames;
    const char* message;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {0.0, 1, 512, "The plugin was activated with an invalid sample rates: 0"},
      {nan, 1, 512, "The plugin was activated with an invalid sample rates: nan"},
      {inf, 1, 512, "The plugin was activated with an invalid sample rates: inf"},
      {48000.0, 0, 512, "The plugin was activated with an invalid minimum frame count: 0"},
      {48000.0, 1, 0x80000000u, "The plugin was activated with an invalid maximum frame count: 2147483648"},
      {48000.0, 512, 256,
       "The plugin was activated with an invalid minmum and maximum frame count: min > max: 512 > 256"},
  };
  for (const Case& c : cases) {
    Probe probe;
    probe.plugin->init(probe.plugin);
    SCOPED_TRACE(c.message);
    EXPECT_FALSE(probe.activate(c.rate, c.minFrames, c.maxFrames));
    EXPECT_TRUE(probe.reported(c.message));
    EXPECT_EQ(probe.object->activateCalls, 0);
  }
}

TEST(HostCallLayer, ActivationAtANewRateSimulatesDeactivation) {
  Probe probe;
  probe.plugin->init(probe.plugin);
  ASSERT_TRUE(probe.activate(44100));
  ASSERT_TRUE(probe.activate(48000));
  const auto log = probe.host.logEntries();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].message, "Plugin was activated twice");
  EXPECT_EQ(log[1].message,
            "The plugin was activated twice and with different sample rates: 44100 and 48000. The host must "
            "deactivate the plugin first.\nSimulating deactivation.");
  EXPECT_EQ(probe.object->deactivateCalls, 1);
  EXPECT_EQ(probe.object->activateCalls, 2);
  EXPECT_TRUE(probe.activate(48000));  // same rate: already active, nothing to redo
  EXPECT_EQ(probe.object->activateCalls, 2);
}

TEST(HostCallLayer, DeactivationStopsProcessingToo) {
  Probe probe;
  probe.plugin->init(probe.plugin);
  ASSERT_TRUE(probe.activate());
  ASSERT_TRUE(probe.plugin->start_processing(probe.plugin));
  probe.plugin->deactivate(probe.plugin);
  ASSERT_TRUE(probe.activate());
  EXPECT_EQ(probe.process(), CLAP_PROCESS_ERROR);
  EXPECT_EQ(probe.logged(kNotStarted), 1);
  EXPECT_TRUE(probe.plugin->start_processing(probe.plugin));
  EXPECT_EQ(probe.logged("twice"), 0);
}

TEST(HostCallLayer, OutOfOrderStateCallsAreReported) {
  Probe probe;
  probe.plugin->init(probe.plugin);
  probe.plugin->deactivate(probe.plugin);
  EXPECT_EQ(probe.logged("The plugin was deactivated twice."), 1);
  EXPECT_FALSE(probe.plugin->start_processing(probe.plugin));
  EXPECT_EQ(probe.logged("Host called clap_plugin.start_processing() on a deactivated plugin"), 1);
  probe.plugin->stop_processing(probe.plugin);
  EXPECT_EQ(probe.logged("Host called clap_plugin.stop_processing() on a deactivated plugin"), 1);
  probe.plugin->reset(probe.plugin);
  EXPECT_EQ(probe.logged("Host called clap_plugin.reset() on a deactivated plugin"), 1);

  ASSERT_TRUE(probe.activate());
  EXPECT_TRUE(probe.plugin->start_processing(probe.plugin));
  EXPECT_TRUE(probe.plugin->start_processing(probe.plugin));
  EXPECT_EQ(probe.logged("Host called clap_plugin.start_processing() twice"), 1);
  probe.plugin->stop_processing(probe.plugin);
  probe.plugin->stop_processing(probe.plugin);
  EXPECT_EQ(probe.logged("Host called clap_plugin.stop_processing() twice"), 1);
  EXPECT_EQ(probe.host.logEntries().size(), 6u);
}

TEST(HostCallLayer, WrongThreadsAreReportedWithAThreadCheckHost) {
  Probe probe;
  probe.plugin->init(probe.plugin);
  probe.host.clearAudioThread();
  std::thread([&] { EXPECT_TRUE(probe.activate()); }).join();
  EXPECT_EQ(probe.logged("clap_plugin.activate() on wrong thread! It must be called on main thread!"), 1);
  // On the main thread: carried out after the report.
  EXPECT_TRUE(probe.plugin->start_processing(probe.plugin));
  EXPECT_EQ(probe.logged("clap_plugin.start_processing() on wrong thread! It must be called on audio"), 1);
  EXPECT_EQ(probe.process(), CLAP_PROCESS_CONTINUE);
  EXPECT_EQ(probe.logged("clap_plugin.process() on wrong thread! It must be called on audio thread!"), 1);

  Probe unchecked({.threadCheck = false});  // a host without the extension: nothing is checked
  unchecked.plugin->init(unchecked.plugin);
  std::thread([&] { unchecked.activate(); }).join();
  EXPECT_TRUE(unchecked.host.logEntries().empty());
}

TEST(HostCallLayer, WithoutAHostLogBreachesGoToTheStandardStreams) {
  Probe probe({.log = false});
  probe.plugin->init(probe.plugin);
  probe.host.clearAudioThread();
  StreamCapture capture;
  EXPECT_EQ(probe.process(), CLAP_PROCESS_ERROR);  // severity 5: standard error
  std::thread([&] {
    probe.plugin->on_main_thread(probe.plugin);
  }).join();  // severity 5 for the thread, then 6 (plug-in misbehaviour): standard log
  EXPECT_EQ(capture.err(),
            std::string("Host called the method clap_plugin.process() on wrong thread! It must be "
                        "called on audio thread!\n") +
                kNotActive +
                "\nHost called the method clap_plugin.on_main_thread() on wrong thread! It must "
                "be called on main thread!\n");
  EXPECT_EQ(capture.log(), "plugin called runCallbacksOnMainThread(), but not on the main thread!\n");
}

TEST(HostCallLayer, DestroyRepairsAForgottenGuiAndDeactivation) {
  std::vector<std::string> journal;
  Probe probe;
  probe.object->journal = &journal;
  probe.plugin->init(probe.plugin);
  ASSERT_TRUE(probe.activate());
  const auto* gui = probe.extension<clap_plugin_gui>(CLAP_EXT_GUI);
  ASSERT_TRUE(gui && gui->create(probe.plugin, CLAP_WINDOW_API_X11, false));
  probe.plugin->destroy(probe.plugin);
  probe.plugin = nullptr;
  EXPECT_EQ(journal, (std::vector<std::string>{"guiDestroy", "deactivate", "destroyed"}));
  const auto log = probe.host.logEntries();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].message, "host forgot to destroy the gui");
  EXPECT_EQ(log[1].message, "host forgot to deactivate the plugin before destroying it");
}

TEST(HostCallLayer, NullHandlesAnswerFailure) {
  Probe probe;
  probe.plugin->init(probe.plugin);
  StreamCapture capture;
  EXPECT_FALSE(probe.plugin->activate(nullptr, 48000, 1, 512));
  EXPECT_EQ(probe.plugin->process(nullptr, nullptr), CLAP_PROCESS_ERROR);
  EXPECT_EQ(probe.plugin->get_extension(nullptr, CLAP_EXT_PARAMS), nullptr);
  clap_plugin copy = *probe.plugin;
  copy.plugin_data = nullptr;
  EXPECT_FALSE(copy.init(&copy));
  copy.destroy(&copy);
  EXPECT_EQ(
      capture.err(),
      "called with a null clap_plugin pointer!\ncalled with a null clap_plugin pointer!\n"
      "called with a null clap_plugin pointer!\n"
      "called with a null clap_plugin->plugin_data pointer! The host must never change this pointer!\n"
      "called with a null clap_plugin->plugin_data pointer! The host must never change this pointer!\n");
  EXPECT_FALSE(probe.object->isActive());
}
