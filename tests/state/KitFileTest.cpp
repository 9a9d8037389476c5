// Kit files: round trips, their size, refused files that leave the kit as it was, and failed saves. (The
// scripts that tell an open page which kit the engine holds: the editor tests.)
#include <gtest/gtest.h>

#include "state/KitFile.h"
#include "tests/state/LibraryFixture.h"
#include "tests/state/StateFixture.h"

namespace {

std::vector<uint8_t> fileBytes(const fs::path& path) {
  const std::string text = readFile(path);
  return {text.begin(), text.end()};
}

void writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  writeFile(path, std::string(bytes.begin(), bytes.end()));
}

}  // namespace

TEST(KitFile, RoundTripAndSize) {
  TempFolder folder;
  std::mutex lock;
  std::string reason;
  std::error_code saveError;
  auto empty = newEngine();
  const fs::path emptyFile = folder.path / "empty.tkit";
  ASSERT_TRUE(saveKitFile(emptyFile.c_str(), *empty, lock, saveError));
  EXPECT_EQ(fs::file_size(emptyFile), 41u);
  const std::vector<uint8_t> bytes = fileBytes(emptyFile);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 5), std::string("TKIT\x02"));

  auto source = newEngine(fillKit);
  const fs::path file = folder.path / "kit.tkit";
  ASSERT_TRUE(saveKitFile(file.c_str(), *source, lock, saveError));
  EXPECT_EQ(fs::file_size(file), 41u + 2 * 1180u);
  auto target = newEngine(fillOtherKit);
  ASSERT_TRUE(loadKitFile(file.c_str(), *target, lock, reason));
  expectSameKit(*source, *target);

  ASSERT_TRUE(saveKitFile(file.c_str(), *empty, lock, saveError));  // an existing file is replaced
  EXPECT_EQ(fs::file_size(file), 41u);
}

// A file of version 2 restores the old envelope model as saved; one of version 1 was written when that
// model was gone and gets it repaired.
TEST(KitFile, OnlyVersion1FilesHaveOldValuesRepaired) {
  TempFolder folder;
  std::mutex lock;
  std::string reason;
  std::error_code saveError;
  auto source = newEngine();
  ParamSnapshot s = sampleSnapshot();
  s.value[kParamEnvModel] = 1.0;
  s.value[kParamAmpEnvSustain] = 0.5;
  s.has[kParamEnvModel] = s.has[kParamAmpEnvSustain] = true;
  source->setSlotSnapshotGainPan(2, s, 60, 1.0f, 0.0f);
  const fs::path file = folder.path / "kit.tkit";
  ASSERT_TRUE(saveKitFile(file.c_str(), *source, lock, saveError));
  auto target = newEngine();
  ASSERT_TRUE(loadKitFile(file.c_str(), *target, lock, reason));
  expectSameKit(*source, *target);

  std::vector<uint8_t> bytes = fileBytes(file);
  bytes[4] = 1;
  writeBytes(file, bytes);
  ASSERT_TRUE(loadKitFile(file.c_str(), *target, lock, reason));
  const SlotReading slot = readSlot(*target, 2);
  EXPECT_EQ(slot.snapshot.value[kParamEnvModel], 0.0);
  EXPECT_EQ(slot.snapshot.value[kParamAmpEnvSustain], 0.0);
}

TEST(KitFile, RefusedFilesLeaveTheKitAsItWas) {
  TempFolder folder;
  std::mutex lock;
  std::string reason;
  std::error_code saveError;
  auto source = newEngine(fillKit);
  const fs::path good = folder.path / "good.tkit";
  ASSERT_TRUE(saveKitFile(good.c_str(), *source, lock, saveError));
  const std::vector<uint8_t> bytes = fileBytes(good);

  std::vector<std::vector<uint8_t>> bad;
  bad.push_back(bytes);
  bad.back()[0] = 'X';  // magic
  bad.push_back(bytes);
  bad.back()[4] = 3;  // version 3
  for (size_t cut : {size_t{0}, size_t{7}, size_t{20}, bytes.size() - 1})
    bad.emplace_back(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(cut));
  bad.push_back(bytes);
  bad.back()[13] = 0x01;  // slot count 1025 (0x0401)
  bad.back()[14] = 0x04;

  auto reference = newEngine(fillOtherKit);
  auto engine = newEngine(fillOtherKit);
  for (size_t i = 0; i < bad.size(); ++i) {
    const fs::path path = folder.path / ("bad" + std::to_string(i) + ".tkit");
    writeBytes(path, bad[i]);
    EXPECT_FALSE(loadKitFile(path.c_str(), *engine, lock, reason)) << i;
    expectSameKit(*engine, *reference);
  }
  EXPECT_FALSE(loadKitFile((folder.path / "missing.tkit").c_str(), *engine, lock, reason));
  EXPECT_FALSE(loadKitFile(nullptr, *engine, lock, reason));
  EXPECT_FALSE(loadKitFile(folder.path.c_str(), *engine, lock, reason));  // a folder
  expectSameKit(*engine, *reference);
}

TEST(KitFile, FailedSavesReportFalseAndKeepTheOldFile) {
  TempFolder folder;
  std::mutex lock;
  std::error_code saveError;
  auto engine = newEngine(fillKit);
  EXPECT_FALSE(saveKitFile(nullptr, *engine, lock, saveError));
  EXPECT_FALSE(saveKitFile("", *engine, lock, saveError));
  EXPECT_FALSE(saveKitFile((folder.path / "no" / "such.tkit").c_str(), *engine, lock, saveError));
  EXPECT_EQ(saveError, std::errc::no_such_file_or_directory);
  // The destination is a folder: the bytes are written but cannot take its place.
  const fs::path taken = folder.path / "taken";
  fs::create_directories(taken / "inside");
  EXPECT_FALSE(saveKitFile(taken.c_str(), *engine, lock, saveError));
  EXPECT_EQ(saveError, std::errc::is_a_directory);
  EXPECT_TRUE(fs::is_directory(taken / "inside"));
  // Nothing is left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path), fs::directory_iterator()), 1);
}
