// The kit section: its layout, round trips, the older form without gain and pan, slot counts (refused
// counts: the kit file tests), and cuts at every byte.
#include <gtest/gtest.h>

#include "tests/state/StateFixture.h"

namespace {

constexpr size_t kHeaderBytes = 1 + 4 + 4;
constexpr size_t kPresentSlotBytes = 1 + 2 + kSnapshotBinarySize + 8;

bool readSection(PluginProcessor& engine, const std::vector<uint8_t>& bytes, uint32_t version,
                 size_t chunk = SIZE_MAX) {
  MemoryIStream in(bytes);
  in.chunk = chunk;
  return tavrin_read_kit_section(&in.stream, engine, version);
}

}  // namespace

TEST(KitSection, LayoutAndRoundTrip) {
  auto source = newEngine(fillKit);
  const std::vector<uint8_t> bytes = kitSectionBytes(*source);
  ASSERT_EQ(bytes.size(), kHeaderBytes + 22 + 2 * kPresentSlotBytes);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(fieldAt<int32_t>(bytes, 1), 48);
  EXPECT_EQ(fieldAt<uint32_t>(bytes, 5), 24u);
  const size_t slot3 = kHeaderBytes + 3;
  EXPECT_EQ(bytes[slot3], 1);
  EXPECT_EQ(fieldAt<int16_t>(bytes, slot3 + 1), 50);
  EXPECT_EQ(fieldAt<float>(bytes, slot3 + 3 + kSnapshotBinarySize), 0.5f);
  EXPECT_EQ(fieldAt<float>(bytes, slot3 + 7 + kSnapshotBinarySize), -0.5f);

  auto target = newEngine(fillOtherKit);
  ASSERT_TRUE(readSection(*target, bytes, 5, 7));
  expectSameKit(*source, *target);
  EXPECT_FALSE(slotPresent(*target, 0));  // the kit was replaced, not merged

  auto empty = newEngine();
  EXPECT_EQ(kitSectionBytes(*empty).size(), kHeaderBytes + 24);
}

TEST(KitSection, OlderSectionsLoadWithUnityGainAndCentrePan) {
  auto engine = newEngine();
  const struct {
    uint32_t version;
    float gain, pan;
  } cases[] = {{4, 1.0f, 0.0f}, {5, 0.75f, -0.25f}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    ASSERT_TRUE(readSection(*engine, handSection(24, {2}, c.version), c.version));
    ASSERT_TRUE(slotPresent(*engine, 2));
    const SlotReading slot = readSlot(*engine, 2);
    EXPECT_EQ(slot.gain, c.gain);
    EXPECT_EQ(slot.pan, c.pan);
  }
}

TEST(KitSection, SlotCountsUpTo1024LoadTheFirst24) {
  auto engine = newEngine();
  ASSERT_TRUE(readSection(*engine, handSection(1024, {0, 23, 24, 1000}, 5), 5));
  EXPECT_TRUE(slotPresent(*engine, 23));
  EXPECT_FALSE(slotPresent(*engine, 1));

  ASSERT_TRUE(readSection(*engine, handSection(0, {}, 5), 5));  // no slots: an empty kit
  EXPECT_FALSE(slotPresent(*engine, 0));
}

TEST(KitSection, ACutSectionKeepsTheKitBeforeItsHeaderAndTheSlotsBeforeTheCut) {
  auto source = newEngine(fillKit);
  const std::vector<uint8_t> bytes = kitSectionBytes(*source);
  const size_t slot3Ends = kHeaderBytes + 3 + kPresentSlotBytes;
  const size_t slot7Ends = slot3Ends + 3 + kPresentSlotBytes;
  auto reference = newEngine(fillOtherKit);
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    auto engine = newEngine(fillOtherKit);
    const std::vector<uint8_t> part(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(cut));
    const bool read = readSection(*engine, part, 5, 1 + cut % 5);
    ASSERT_EQ(read, cut >= kHeaderBytes) << cut;
    if (!read) {
      expectSameKit(*engine, *reference);
      continue;
    }
    ASSERT_EQ(engine->afxBaseKeyValue(), 48) << cut;
    ASSERT_EQ(slotPresent(*engine, 3), cut >= slot3Ends) << cut;
    ASSERT_EQ(slotPresent(*engine, 7), cut >= slot7Ends) << cut;
    ASSERT_FALSE(slotPresent(*engine, 0)) << cut;
  }
}

TEST(KitSection, WriterStopsAtTheFirstFailedWrite) {
  auto engine = newEngine(fillKit);
  const size_t whole = kitSectionBytes(*engine).size();
  for (size_t capacity : {size_t{0}, size_t{4}, kHeaderBytes + 3, whole - 1}) {
    MemoryOStream out;
    out.capacity = capacity;
    EXPECT_FALSE(tavrin_write_kit_section(&out.stream, *engine)) << capacity;
  }
}
