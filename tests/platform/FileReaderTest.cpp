// The one file reader: a regular file up to the limit is read whole; anything else is refused at once
// with a log line naming the path and why.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/FileReader.h"
#include "tests/platform/HostileFiles.h"
#include "tests/state/LibraryFixture.h"

TEST(FileReader, ReadsARegularFileOfUpToTheLimitWholeAndThroughALink) {
  TempFolder folder;
  LogCatch log;
  const std::string full(kMaxReadFileBytes, 'x');
  writeFile(folder.path / "full", full);
  fs::create_symlink(folder.path / "full", folder.path / "link");
  EXPECT_EQ(readRegularFile((folder.path / "full").string()), full);
  EXPECT_EQ(readRegularFile((folder.path / "link").string()), full);
  writeFile(folder.path / "one", "1");
  EXPECT_EQ(readRegularFile((folder.path / "one").string()), "1");
  EXPECT_TRUE(log.take().empty());
}

TEST(FileReader, RefusesEveryOtherFileAtOnceWithALineNamingItsPathAndWhy) {
  TempFolder folder;
  writeFile(folder.path / "empty", "");
  writeFile(folder.path / "over", std::string(kMaxReadFileBytes + 1, 'x'));
  fs::create_directory(folder.path / "folder");
  ASSERT_TRUE(makeNamedPipe(folder.path / "pipe"));
  fs::create_symlink("/dev/zero", folder.path / "zero");
  const struct {
    const char* name;
    const char* why;
  } cases[] = {
      {"missing", "No such file or directory"},
      {"empty", "it is empty"},
      {"over", "it holds 1048576 bytes, more than the 1048575"},
      {"folder", "it is a folder, not a regular file"},
      {"pipe", "it is a named pipe, not a regular file"},
      {"zero", "it is a character device, not a regular file"},
  };
  LogCatch log;
  for (const auto& c : cases) {
    const std::string path = (folder.path / c.name).string();
    std::optional<std::string> read = std::string("unset");
    ASSERT_TRUE(returnsBeforeTheWatch(folder.path / "pipe", [&] { read = readRegularFile(path); })) << c.name;
    EXPECT_EQ(read, std::nullopt) << c.name;
    const std::vector<std::string> lines = log.take();
    ASSERT_EQ(lines.size(), 1u) << c.name;
    EXPECT_NE(lines[0].find(path + ": " + c.why), std::string::npos) << lines[0];
  }
  // Absence that is an ordinary state is not reported; a file that is there but bad still is.
  EXPECT_EQ(readRegularFile((folder.path / "missing").string(), MissingFile::quiet), std::nullopt);
  EXPECT_TRUE(log.take().empty());
  EXPECT_EQ(readRegularFile((folder.path / "empty").string(), MissingFile::quiet), std::nullopt);
  EXPECT_EQ(log.take().size(), 1u);
}
