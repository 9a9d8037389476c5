// Files named by a project or a kit load that are not what they should be: each is refused at once (a
// named pipe never holds the host) with one log line naming it, and the load goes on without it.
#include <gtest/gtest.h>

#include "state/KitFile.h"
#include "tests/platform/HostileFiles.h"
#include "tests/state/LibraryFixture.h"
#include "tests/state/StateFixture.h"

namespace {

// Loads bytes into a fresh engine with tunings as the tunings folder, watched against a hang on pipe.
struct WatchedLoad {
  WatchedLoad(const std::vector<uint8_t>& bytes, const fs::path& tunings, const fs::path& pipe) {
    sidecar.tuningsDir = tunings.string();
    returned = returnsBeforeTheWatch(pipe, [&] { loaded = loadState(*engine, bytes, sidecar); });
  }
  std::unique_ptr<PluginProcessor> engine = newEngine();
  TavrinStateSidecar sidecar;
  bool returned = false;
  bool loaded = false;
};

}  // namespace

TEST(HostileFiles, AProjectsTuningFileThatCannotBeUsedIsLoggedAndTheEmbeddedCopyPlays) {
  TempFolder folder;
  const fs::path tunings = folder.path / "Tunings";
  const fs::path file = tunings / "just.scl";
  RichState embedding;  // "localTuning" from the file, with its intervals embedded
  embedding.sidecar.source = "file";
  const std::vector<uint8_t> withEmbedded = savedState(*embedding.engine, embedding.sidecar);
  auto plain = newEngine();
  TavrinStateSidecar naming;  // "tuningFile" alone
  naming.filename = "just";
  const std::vector<uint8_t> nameOnly = savedState(*plain, naming);

  const struct {
    const char* kind;
    void (*make)(const fs::path&);
    const char* why;
  } cases[] = {
      {"missing", [](const fs::path&) {}, "No such file or directory"},
      {"named pipe", [](const fs::path& p) { ASSERT_TRUE(makeNamedPipe(p)); }, "it is a named pipe"},
      {"no scale", [](const fs::path& p) { writeFile(p, "! just.scl\nJust\n 0\n"); }, "not a Scala scale"},
  };
  LogCatch log;
  for (const auto& c : cases) {
    fs::remove_all(tunings);
    fs::create_directories(tunings);
    c.make(file);
    for (const std::vector<uint8_t>* bytes : {&withEmbedded, &nameOnly}) {
      const bool embedded = bytes == &withEmbedded;
      const WatchedLoad load(*bytes, tunings, file);
      ASSERT_TRUE(load.returned) << c.kind;
      EXPECT_TRUE(load.loaded) << c.kind;
      EXPECT_EQ(load.sidecar.filename, "just") << c.kind;
      EXPECT_EQ(load.sidecar.name, embedded ? "Just" : "just") << c.kind;
      LocalTuning tuning{};
      EXPECT_EQ(load.engine->getLocalTuningCopy(tuning), embedded) << c.kind;
      EXPECT_EQ(tuning.count, embedded ? 3 : 0) << c.kind;
      const std::vector<std::string> lines = log.take();
      ASSERT_EQ(lines.size(), 1u) << c.kind;
      EXPECT_NE(lines[0].find(file.string()), std::string::npos) << lines[0];
      EXPECT_NE(lines[0].find(c.why), std::string::npos) << lines[0];
    }
  }
}

TEST(HostileFiles, AKitFileThatIsANamedPipeIsRefusedAtOnceWithTheReason) {
  TempFolder folder;
  const fs::path pipe = folder.path / "Kit.tkit";
  ASSERT_TRUE(makeNamedPipe(pipe));
  std::mutex lock;
  auto engine = newEngine(fillOtherKit);
  bool loaded = true;
  std::string reason;
  ASSERT_TRUE(
      returnsBeforeTheWatch(pipe, [&] { loaded = loadKitFile(pipe.c_str(), *engine, lock, reason); }));
  EXPECT_FALSE(loaded);
  expectSameKit(*engine, *newEngine(fillOtherKit));
  EXPECT_EQ(reason, "it is a named pipe, not a regular file");
}
