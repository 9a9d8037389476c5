// Whole-field stream transfers over hosts that answer in pieces, fail or over-answer, and the byte
// order of the binary fields.
#include <gtest/gtest.h>

#include "state/StreamIo.h"
#include "tests/state/MemoryStreams.h"

namespace {

std::vector<uint8_t> sequence(size_t n) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  return bytes;
}

}  // namespace

TEST(StreamIo, TransfersWholeBuffersThroughHostsThatAnswerInPieces) {
  const std::vector<uint8_t> data = sequence(1000);
  for (size_t chunk : {size_t{1}, size_t{3}, size_t{999}, SIZE_MAX}) {
    MemoryOStream out;
    out.chunk = chunk;
    ASSERT_TRUE(tavrin_stream_write_all(&out.stream, data.data(), data.size())) << chunk;
    EXPECT_EQ(out.bytes, data);

    MemoryIStream in(data);
    in.chunk = chunk;
    std::vector<uint8_t> back(data.size());
    ASSERT_TRUE(tavrin_stream_read_all(&in.stream, back.data(), back.size())) << chunk;
    EXPECT_EQ(back, data);
  }
}

TEST(StreamIo, FailsAtTheEndErrorsOverAnswersAndMissingStreams) {
  const std::vector<uint8_t> data = sequence(16);
  MemoryOStream full;
  full.capacity = 10;
  EXPECT_FALSE(tavrin_stream_write_all(&full.stream, data.data(), data.size()));
  EXPECT_EQ(full.bytes.size(), 10u);

  MemoryIStream shortIn(sequence(10));
  std::vector<uint8_t> back(16, 0xEE);
  EXPECT_FALSE(tavrin_stream_read_all(&shortIn.stream, back.data(), back.size()));
  EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.begin() + 10), sequence(10));

  // A host that claims more bytes than it was offered must not move the position past the buffer.
  MemoryOStream boastingOut;
  boastingOut.chunk = 4;
  boastingOut.extraAnswer = 5;
  EXPECT_FALSE(tavrin_stream_write_all(&boastingOut.stream, data.data(), 4));
  MemoryIStream boastingIn(sequence(64));
  boastingIn.extraAnswer = 1;
  EXPECT_FALSE(tavrin_stream_read_all(&boastingIn.stream, back.data(), 8));

  const clap_ostream noWrite{nullptr, nullptr};
  const clap_istream noRead{nullptr, nullptr};
  for (const clap_ostream* o : {static_cast<const clap_ostream*>(nullptr), &noWrite})
    EXPECT_FALSE(tavrin_stream_write_all(o, data.data(), 4));
  for (const clap_istream* i : {static_cast<const clap_istream*>(nullptr), &noRead})
    EXPECT_FALSE(tavrin_stream_read_all(i, back.data(), 4));
  MemoryOStream out;
  EXPECT_FALSE(tavrin_stream_write_all(&out.stream, nullptr, 4));
  EXPECT_TRUE(tavrin_stream_write_all(&out.stream, nullptr, 0));
  EXPECT_TRUE(out.bytes.empty());
}

TEST(StreamIo, FieldsAreLittleEndianAndReadBackBitExact) {
  MemoryOStream out;
  ASSERT_TRUE(writeField<uint32_t>(&out.stream, 0x11223344u));
  ASSERT_TRUE(writeField<int16_t>(&out.stream, -2));
  ASSERT_TRUE(writeField<float>(&out.stream, 1.0f));
  ASSERT_TRUE(writeField<double>(&out.stream, -2.5));
  ASSERT_TRUE(writeFlag(&out.stream, true));
  const std::vector<uint8_t> expected{0x44, 0x33, 0x22, 0x11, 0xFE, 0xFF, 0x00, 0x00, 0x80, 0x3F,
                                      0,    0,    0,    0,    0,    0,    0x04, 0xC0, 0x01};
  EXPECT_EQ(out.bytes, expected);

  std::vector<uint8_t> bytes = expected;
  bytes.back() = 0x7F;  // any non-zero flag byte reads as set
  MemoryIStream in(bytes);
  uint32_t u = 0;
  int16_t s = 0;
  float f = 0.0f;
  double d = 0.0;
  bool flag = false;
  ASSERT_TRUE(readField(&in.stream, u) && readField(&in.stream, s) && readField(&in.stream, f) &&
              readField(&in.stream, d) && readFlag(&in.stream, flag));
  EXPECT_EQ(u, 0x11223344u);
  EXPECT_EQ(s, -2);
  EXPECT_EQ(f, 1.0f);
  EXPECT_EQ(d, -2.5);
  EXPECT_TRUE(flag);

  // A short field leaves its target untouched.
  MemoryIStream cut({1, 2, 3});
  u = 77;
  EXPECT_FALSE(readField(&cut.stream, u));
  EXPECT_EQ(u, 77u);
}
