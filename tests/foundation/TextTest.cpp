// UTF-8 text fragments and the codec under them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/MLText.h"

namespace {

using ml::TextFragment;

std::vector<uint8_t> bytesOf(const TextFragment& t) {
  return ml::textToByteVector(t);
}

TEST(TextFragment, KeepsShortTextsInTheObjectAndLongOnesOnTheHeap) {
  const std::string s63(63, 'a');
  const std::string s64(64, 'b');
  TextFragment a(s63.c_str());
  TextFragment b(s64.c_str());
  const char* aStart = reinterpret_cast<const char*>(&a);
  const char* bStart = reinterpret_cast<const char*>(&b);
  EXPECT_TRUE(a.getText() >= aStart && a.getText() < aStart + sizeof(TextFragment));
  EXPECT_FALSE(b.getText() >= bStart && b.getText() < bStart + sizeof(TextFragment));
  EXPECT_EQ(s63, a.getText());
  EXPECT_EQ(s64, b.getText());
  EXPECT_EQ(TextFragment(nullptr).lengthInBytes(), 0u);
  EXPECT_STREQ(TextFragment("abcdef", 3).getText(), "abc");
}

TEST(TextFragment, CopiesAreDeepAndMovesEmptyTheSource) {
  TextFragment shortText("0123456789");
  TextFragment moved(std::move(shortText));
  EXPECT_STREQ(moved.getText(), "0123456789");
  EXPECT_STREQ(shortText.getText(), "");

  const std::string longString(100, 'x');
  TextFragment longText(longString.c_str());
  const char* heapBlock = longText.getText();
  TextFragment target("old");
  target = std::move(longText);
  EXPECT_EQ(target.getText(), heapBlock);
  EXPECT_EQ(longText.lengthInBytes(), 0u);

  TextFragment copy(target);
  EXPECT_NE(copy.getText(), target.getText());
  copy = *&copy;
  EXPECT_EQ(longString, copy.getText());
}

TEST(TextFragment, ConcatenatesTwoToEightFragments) {
  TextFragment a("ab"), b("cd"), c("");
  EXPECT_STREQ(TextFragment(a, b).getText(), "abcd");
  EXPECT_STREQ(TextFragment(a, c, b, a, b, c, a, b).getText(), "abcdabcdabcd");
  const std::string long40(40, 'z');
  TextFragment l(long40.c_str());
  EXPECT_EQ(long40 + long40, TextFragment(l, l).getText());
}

TEST(TextFragment, EncodesCodePointsAndReplacesInvalidOnes) {
  EXPECT_EQ(bytesOf(TextFragment(char32_t(0xE9))), (std::vector<uint8_t>{0xC3, 0xA9}));
  EXPECT_EQ(bytesOf(TextFragment(char32_t(0x20AC))), (std::vector<uint8_t>{0xE2, 0x82, 0xAC}));
  EXPECT_EQ(bytesOf(TextFragment(char32_t(0x1F600))), (std::vector<uint8_t>{0xF0, 0x9F, 0x98, 0x80}));
  const std::vector<uint8_t> frown{0xE2, 0x98, 0xB9};
  EXPECT_EQ(bytesOf(TextFragment(char32_t(0xD800))), frown);
  EXPECT_EQ(bytesOf(TextFragment(char32_t(0x110000))), frown);
  EXPECT_EQ(bytesOf(ml::codePointsToText({0x61, 0xDFFF, 0xE9})),
            (std::vector<uint8_t>{0x61, 0xE2, 0x98, 0xB9, 0xC3, 0xA9}));
}

TEST(TextFragment, IteratesByCodePoint) {
  TextFragment t("a\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(t.lengthInCodePoints(), 3u);
  EXPECT_EQ(ml::textToCodePoints(t), (std::vector<char32_t>{0x61, 0xE9, 0x20AC}));
  auto it = t.begin();
  EXPECT_EQ(it++, char32_t(0x61));
  EXPECT_EQ(*it, char32_t(0xE9));
  ++it;
  ++it;
  EXPECT_TRUE(it == t.end());
  EXPECT_EQ(ml::codePointsToText(ml::textToCodePoints(t)).lengthInBytes(), t.lengthInBytes());
}

// Lead bytes that announce more bytes than the text holds stop at its end and read as U+2639; so do
// sequences that decode to surrogates or values past 0x10FFFF.
TEST(TextFragment, MalformedUtf8StaysInsideTheText) {
  const TextFragment t = ml::byteVectorToText({0x61, 0xF0, 0x9F});
  EXPECT_EQ(t.lengthInCodePoints(), 2u);
  EXPECT_EQ(ml::textToCodePoints(t), (std::vector<char32_t>{0x61, 0x2639}));
  for (const std::vector<uint8_t>& bad : {std::vector<uint8_t>{0xED, 0xA0, 0x80}, {0xF7, 0xBF, 0xBF, 0xBF}})
    EXPECT_EQ(ml::textToCodePoints(ml::byteVectorToText(bad)), (std::vector<char32_t>{0x2639}));
  // A stray continuation byte counts as one code point of its own.
  EXPECT_EQ(ml::textToCodePoints(ml::byteVectorToText({0xA9, 0x62})), (std::vector<char32_t>{0xA9, 0x62}));

  // Every prefix of a multi-byte text iterates without leaving its bytes (checked by the sanitizers).
  const std::vector<uint8_t> full{0xF0, 0x9F, 0x98, 0x80, 0xE2, 0x82, 0xAC, 0xC3, 0xA9};
  for (size_t n = 0; n <= full.size(); ++n) {
    std::vector<uint8_t> prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    TextFragment p = ml::byteVectorToText(prefix);
    size_t count = 0;
    for (char32_t cp : p) {
      EXPECT_TRUE(utf::internal::validate_codepoint(cp));
      ++count;
    }
    EXPECT_EQ(count, p.lengthInCodePoints());
  }
}

}  // namespace
