// The platform log's lines (file failures) reach the host's log as warnings while an instance lives, and
// a start-up with a factory-bank marker that is a named pipe returns at once and says why.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "plugin/CLAPPlugin.h"
#include "tests/platform/HostileFiles.h"
#include "tests/state/LibraryFixture.h"
#include "tools/host/Host.h"
#include "tools/host/PluginInstance.h"

using namespace tavrin::host;

namespace {

int warnings(const Host& host, const std::string& text) {
  int count = 0;
  for (const LogEntry& entry : host.logEntries())
    count += entry.severity == CLAP_LOG_WARNING && entry.message == text;
  return count;
}

std::unique_ptr<PluginInstance> startedOn(const Host& host) {
  auto instance = std::make_unique<PluginInstance>((new CLAPPlugin(host.clapHost()))->clapPlugin());
  EXPECT_TRUE(instance->init());
  return instance;
}

}  // namespace

TEST(HostLog, PlatformLinesGoToTheNewestInstancesHostWhileItLives) {
  Host first;
  Host second;
  Host withoutLog(HostOptions{.log = false});
  auto a = startedOn(first);
  platform::log("one");
  auto b = startedOn(second);
  auto c = startedOn(withoutLog);  // offers no log: takes no lines
  platform::log("two");
  b.reset();
  platform::log("three");
  a.reset();
  platform::log("four");  // no route left: standard error
  const struct {
    const char* line;
    int first, second;
  } expected[] = {{"one", 1, 0}, {"two", 0, 1}, {"three", 1, 0}, {"four", 0, 0}};
  for (const auto& e : expected) {
    EXPECT_EQ(warnings(first, e.line), e.first) << e.line;
    EXPECT_EQ(warnings(second, e.line), e.second) << e.line;
  }
}

TEST(HostLog, AStartWithANamedPipeAsTheBankMarkerReturnsAtOnceAndSaysWhy) {
  TempFolder folder;
  const ScopedEnv data("XDG_DATA_HOME", folder.path.string());
  const fs::path marker = folder.path / "Nobrels/Tavrin/.factory-bank";
  ASSERT_TRUE(makeNamedPipe(marker));
  Host host;
  PluginInstance instance((new CLAPPlugin(host.clapHost()))->clapPlugin());
  bool started = false;
  ASSERT_TRUE(returnsBeforeTheWatch(marker, [&] { started = instance.init(); }));
  EXPECT_TRUE(started);
  EXPECT_EQ(
      warnings(host, "tavrin: cannot read " + marker.string() + ": it is a named pipe, not a regular file"),
      1);
}
