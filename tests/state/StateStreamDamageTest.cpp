// Damaged streams: cut at every byte, bytes changed at random, hosts that answer oddly, and writes that
// fail. A load never crashes, fails only in the header (changing nothing), and otherwise leaves the engine
// as far as it read.
#include <gtest/gtest.h>

#include <random>

#include "tests/state/PlayableEngine.h"
#include "tests/state/StateFixture.h"

namespace {

constexpr size_t kHeaderBytes = 12;

}  // namespace

TEST(StateDamage, CutAtEveryByte) {
  RichState state;
  const std::vector<uint8_t> bytes = savedState(*state.engine, state.sidecar);
  auto engine = newEngine(fillOtherKit);
  engine->setParam(kParamReverbMix, 0.01);
  const auto sidecarWithText = [] {
    TavrinStateSidecar sidecar;
    sidecar.json = R"({"kept":1})";
    return sidecar;
  };
  TavrinStateSidecar first = sidecarWithText();
  const std::vector<uint8_t> before = savedState(*engine, first);
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    const std::vector<uint8_t> part(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(cut));
    TavrinStateSidecar sidecar = sidecarWithText();
    const bool ok = loadState(*engine, part, sidecar, 1 + cut % 7);
    ASSERT_EQ(ok, cut >= kHeaderBytes) << cut;
    if (!ok) {
      // A refused stream changes nothing: the engine and the side data save as before.
      ASSERT_EQ(savedState(*engine, sidecar), before) << cut;
      continue;
    }
    ASSERT_TRUE(engineIsPlayable(*engine));
    // Every value whose eight bytes arrived is the saved one.
    const size_t values = std::min<size_t>((cut - kHeaderBytes) / 8, kNumParams);
    for (uint32_t id = 0; id < values; ++id)
      ASSERT_EQ(engine->getParam(id), state.engine->getParam(id)) << cut;
  }
}

TEST(StateDamage, ChangedBytesNeverBreakTheEngine) {
  RichState state;
  const std::vector<uint8_t> bytes = savedState(*state.engine, state.sidecar);
  std::mt19937 random(7);
  std::uniform_int_distribution<size_t> at(0, bytes.size() - 1);
  auto engine = newEngine();
  for (int round = 0; round < 600; ++round) {
    std::vector<uint8_t> changed = bytes;
    for (int n = 0; n <= round % 4; ++n) changed[at(random)] = static_cast<uint8_t>(random());
    TavrinStateSidecar sidecar;
    TavrinStateSidecar unchanged;
    const std::vector<uint8_t> before = savedState(*engine, unchanged);
    if (!loadState(*engine, changed, sidecar)) {
      ASSERT_EQ(savedState(*engine, sidecar), before) << round;  // a refused stream changes nothing
    }
    ASSERT_TRUE(engineIsPlayable(*engine));
  }
}

TEST(StateDamage, HostStreamsThatAnswerTooMuchEndTheRead) {
  RichState state;
  const std::vector<uint8_t> bytes = savedState(*state.engine, state.sidecar);
  MemoryIStream in(bytes);
  in.extraAnswer = 1;
  std::mutex lock;
  EXPECT_FALSE(tavrin_state_load_stream(&in.stream, *state.engine, state.sidecar, lock));
  EXPECT_EQ(savedState(*state.engine, state.sidecar), bytes);
}

TEST(StateDamage, WriterFailsAtEveryShortMedium) {
  RichState state;
  const size_t whole = savedState(*state.engine, state.sidecar).size();
  std::mutex lock;
  for (size_t capacity = 0; capacity < whole; capacity += 1 + capacity / 3) {
    MemoryOStream out;
    out.capacity = capacity;
    EXPECT_FALSE(tavrin_state_save_stream(&out.stream, *state.engine, state.sidecar, lock)) << capacity;
  }
}
