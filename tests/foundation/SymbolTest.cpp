// Interned symbols: hash values, the table and its locking.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/MLSymbol.h"

namespace {

TEST(Symbol, HashesAreSignExtendedFnv1a) {
  EXPECT_EQ(ml::Symbol("MIDI").getHash(), 0x1a643eaf464af184ull);
  EXPECT_EQ(ml::fnv1aRuntime("\xC3\xA9", 2), 0x080d7307b4cc3001ull);  // bytes sign-extended
  EXPECT_EQ(ml::fnv1aRuntime("", 0), 0xcbf29ce484222325ull);
}

TEST(Symbol, RegistersEachTextOnceAndReadsItBack) {
  ml::Symbol a("symbol-test-once");
  ml::Symbol b("symbol-test-once");
  const ml::Symbol midi("MIDI");
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a == ml::Symbol("symbol-test-other"));
  EXPECT_STREQ(a.getTextFragment().getText(), "symbol-test-once");

  testing::internal::CaptureStdout();
  ml::theSymbolTable().dump();
  const std::string listing = testing::internal::GetCapturedStdout();
  size_t occurrences = 0;
  for (size_t at = listing.find("\"symbol-test-once\""); at != std::string::npos;
       at = listing.find("\"symbol-test-once\"", at + 1)) {
    ++occurrences;
  }
  EXPECT_EQ(occurrences, 1u);
  EXPECT_NE(listing.find("0x1a643eaf464af184 = \"MIDI\"\n"), std::string::npos);

  EXPECT_STREQ(ml::theSymbolTable().getTextForHash(0x1234).getText(), "?");
  std::ostringstream out;
  out << a;
  EXPECT_EQ(out.str(), "symbol-test-once");
}

// Registration and lookups from several threads at once; the sanitizer builds check the locking.
TEST(SymbolTable, ConcurrentRegistrationAndLookup) {
  ml::SymbolTable table;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&table, t] {
      for (int i = 0; i < 200; ++i) {
        const std::string text = "t" + std::to_string((t + i) % 50);
        const uint64_t h = table.registerSymbol(text.c_str(), text.size());
        EXPECT_EQ(text, table.getTextForHash(h).getText());
      }
    });
  }
  for (auto& thread : threads) thread.join();
  table.clear();
  EXPECT_STREQ(table.getTextForHash(ml::fnv1aRuntime("t1", 2)).getText(), "?");
}

}  // namespace
