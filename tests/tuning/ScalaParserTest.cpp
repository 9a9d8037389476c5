#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "tuning/ScalaParser.h"

namespace {

bool parse(const std::string& text, LocalTuning& out, const char* name = nullptr) {
  return parseScala(text.data(), text.size(), name, out);
}

std::string scale(const std::string& count, const std::string& pitches, const std::string& eol = "\n") {
  return "! test.scl" + eol + "Test scale" + eol + count + eol + pitches;
}

}  // namespace

TEST(ScalaParser, JustScaleWithCommentsAndRatios) {
  LocalTuning t;
  ASSERT_TRUE(parse("! just.scl\nJust major third\n 3\n9/8\n5/4\n2/1\n", t));
  EXPECT_EQ(t.count, 3);
  EXPECT_EQ(t.keysPerPeriod, 3);
  EXPECT_EQ(t.ratios[0], 1.0);
  EXPECT_EQ(t.ratios[2], 1.25);
  EXPECT_EQ(t.periodRatio, 2.0);
  EXPECT_STREQ(t.degreeText[1], "9/8");
  EXPECT_STREQ(t.name, "Just major third");
}

TEST(ScalaParser, LineEndsAndByteOrderMark) {
  const std::string body = "3\n100.0\n200.0\n1200.0";
  for (const char* eol : {"\n", "\r\n", "\r"}) {
    std::string text = "\xEF\xBB\xBF! c\nCents" + std::string(eol);
    for (char c : body) text += c == '\n' ? std::string(eol) : std::string(1, c);
    LocalTuning t;
    ASSERT_TRUE(parse(text, t)) << "line end " << int(eol[0]) << " size " << std::strlen(eol);
    EXPECT_DOUBLE_EQ(t.ratios[2], std::exp2(200.0 / 1200.0));
    EXPECT_STREQ(t.name, "Cents");
  }
}

TEST(ScalaParser, PitchForms) {
  LocalTuning t;
  // "100.0" is cents, "100" is the integer ratio 100; text after the token is a remark.
  ASSERT_TRUE(parse(scale("3", "100.0\n701.955 fifth, roughly\n100\n"), t));
  EXPECT_DOUBLE_EQ(t.ratios[1], std::exp2(100.0 / 1200.0));
  EXPECT_DOUBLE_EQ(t.ratios[2], std::exp2(701.955 / 1200.0));
  EXPECT_STREQ(t.degreeText[2], "701.955");
  EXPECT_EQ(t.periodRatio, 100.0);
  // Negative cents are legal, an empty description too, and blank lines after it are skipped.
  ASSERT_TRUE(parse("\n\n2\n\n-50.0\n\t3/2  \n", t));
  EXPECT_DOUBLE_EQ(t.ratios[1], std::exp2(-50.0 / 1200.0));
  EXPECT_EQ(t.periodRatio, 1.5);
  EXPECT_STREQ(t.name, "");
  // Numerators and denominators up to 2^31 - 1 and beyond, read without overflow.
  ASSERT_TRUE(parse(scale("1", "4294967294/2147483647"), t));
  EXPECT_EQ(t.periodRatio, 2.0);
}

TEST(ScalaParser, CountsAndPeriods) {
  LocalTuning t;
  std::string twelve, thirteen, sixtyFive;
  for (int i = 1; i <= 12; ++i) twelve += std::to_string(i * 100) + ".0\n";
  thirteen = twelve + "1300.0\n";
  for (int i = 1; i <= 65; ++i) sixtyFive += std::to_string(i * 10) + ".0\n";
  ASSERT_TRUE(parse(scale("12", thirteen), t));  // extra pitches are dropped
  EXPECT_EQ(t.count, 12);
  EXPECT_DOUBLE_EQ(t.periodRatio, 2.0);
  ASSERT_TRUE(parse(scale("64", sixtyFive), t));
  EXPECT_EQ(t.count, 64);

  const LocalTuning before = t;
  for (const std::string& bad : {scale("0", twelve),
                                 scale("65", sixtyFive),
                                 scale("12", twelve.substr(0, twelve.rfind("1200"))),
                                 scale("1025", twelve),
                                 scale("-3", twelve),
                                 scale("twelve", twelve),
                                 scale("2", "3/2\n1/1\n"),
                                 scale("1", "0.0\n"),
                                 scale("1", "0/1\n"),
                                 scale("1", "-3\n"),
                                 scale("1", "2/0\n"),
                                 scale("1", "abc\n"),
                                 scale("1", ".\n"),
                                 scale("1", "99999999999999999999/1\n"),
                                 scale("1", "1e400.0\n"),
                                 scale("1", "nan.\n"),
                                 scale("3", "2/1\n"),
                                 std::string("! only\n! comments\n"),
                                 std::string("Description only\n"),
                                 std::string("desc\n2\n3/2\nbad\n")}) {
    EXPECT_FALSE(parse(bad, t)) << bad;
    EXPECT_EQ(std::memcmp(&t, &before, sizeof t), 0) << "failure changed the record: " << bad;
  }
  EXPECT_FALSE(parseScala(nullptr, 10, nullptr, t));
  EXPECT_FALSE(parseScala("x", 0, nullptr, t));
}

TEST(ScalaParser, NamesAreCleanedAndCut) {
  LocalTuning t;
  const std::string text = scale("1", "2/1");
  const std::string seventy(70, 'a');
  ASSERT_TRUE(parse(text, t, seventy.c_str()));
  EXPECT_EQ(std::string(t.name), seventy.substr(0, 63));

  // Bytes 63 and 64 (1-based) are the halves of "é": the cut moves back to 62 bytes.
  const std::string split = std::string(62, 'b') + "\xC3\xA9" + "tail";
  ASSERT_TRUE(parse(text, t, split.c_str()));
  EXPECT_EQ(std::string(t.name), std::string(62, 'b'));

  ASSERT_TRUE(parse(text, t, "name\xC3"));  // a lone lead byte at the end
  EXPECT_STREQ(t.name, "name?");
  ASSERT_TRUE(
      parse(text, t, "a\x80z\xC3(\xE2\x82\xAC"));  // stray continuation, broken pair, then a euro sign
  EXPECT_STREQ(t.name, "a?z?(\xE2\x82\xAC");

  // Without a name argument the description names the scale.
  ASSERT_TRUE(parse(text, t, ""));
  EXPECT_STREQ(t.name, "Test scale");
}
