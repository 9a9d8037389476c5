// Kit slots as the main thread edits them: clamps and bad input, edits that keep the
// other fields, the hand-over to the render copies at the next block, and the hand-over under two threads.
#include <atomic>
#include <cmath>
#include <thread>

#include "engine/EngineFixture.h"

namespace {

using KitSlots = EngineTest;

// A captured sound with Filter A Cutoff at cutoff.
ParamSnapshot cutoffSnapshot(double cutoff) {
  ParamSnapshot s;
  s.valid = true;
  s.has[kParamFilterACutoff] = true;
  s.value[kParamFilterACutoff] = cutoff;
  return s;
}

struct StagedSlot {
  ParamSnapshot snapshot;
  int note{-1};
  bool used{false};
  float gain{-1.0f};
  float pan{-9.0f};
};

StagedSlot staged(const PluginProcessor& e, int slot) {
  StagedSlot k;
  EXPECT_TRUE(e.getSlotCopy(slot, k.snapshot, k.note, k.used));
  EXPECT_TRUE(e.getSlotGainPan(slot, k.gain, k.pan));
  return k;
}

TEST_F(KitSlots, SettersClampAndKeepTheOtherFields) {
  engine->setSlotSnapshot(3, cutoffSnapshot(500.0), 60);
  engine->setSlotGain(3, 10.0f);
  engine->setSlotPan(3, -2.0f);
  engine->setSlotNote(3, 200);
  StagedSlot k = staged(*engine, 3);
  EXPECT_EQ(k.gain, 4.0f);
  EXPECT_EQ(k.pan, -1.0f);
  EXPECT_EQ(k.note, 127);
  EXPECT_EQ(k.snapshot.value[kParamFilterACutoff], 500.0);

  // Gain and pan that are not finite (a damaged file) take the neutral values, never NaN in the mix.
  engine->setSlotSnapshotGainPan(4, cutoffSnapshot(800.0), 1000, std::nanf(""), INFINITY);
  k = staged(*engine, 4);
  EXPECT_EQ(k.gain, 1.0f);
  EXPECT_EQ(k.pan, 0.0f);
  engine->setSlotGain(4, 2.0f);
  engine->setSlotGain(4, std::nanf(""));
  EXPECT_EQ(staged(*engine, 4).gain, 1.0f);

  // A snapshot from outside is made safe: non-finite values are dropped, the rest clamped.
  ParamSnapshot wild = cutoffSnapshot(1e9);
  wild.has[kParamFold] = true;
  wild.value[kParamFold] = std::nan("");
  engine->setSlotSnapshot(5, wild, 40);
  k = staged(*engine, 5);
  EXPECT_EQ(k.snapshot.value[kParamFilterACutoff], kParams[kParamFilterACutoff].max);
  EXPECT_FALSE(k.snapshot.has[kParamFold]);

  // A snapshot without a note (the page sent none) keeps the slot's note.
  engine->setSlotSnapshot(6, cutoffSnapshot(500.0), -1);
  EXPECT_EQ(staged(*engine, 6).note, 42);

  // A snapshot without a capture leaves the slot unused.
  engine->setSlotSnapshot(5, ParamSnapshot{}, 40);
  EXPECT_FALSE(staged(*engine, 5).used);
}

TEST_F(KitSlots, SlotIndicesOutsideTheKitAreIgnored) {
  for (int s : {-1, 24, 1000}) {
    engine->setSlotSnapshot(s, cutoffSnapshot(500.0), 60);
    engine->setSlotNote(s, 60);
    engine->setSlotGain(s, 2.0f);
    engine->setSlotPan(s, 0.5f);
    engine->setSlotSnapshotGainPan(s, cutoffSnapshot(500.0), 60, 2.0f, 0.5f);
    engine->clearSlot(s);
    ParamSnapshot out;
    int note = -7;
    bool used = true;
    float gain = -7.0f, pan = -7.0f;
    EXPECT_FALSE(engine->getSlotCopy(s, out, note, used));
    EXPECT_FALSE(engine->getSlotGainPan(s, gain, pan));
  }
  for (int s = 0; s < kNumKitSlots; ++s) EXPECT_FALSE(engine->kit.staged.slots[s].pending());
}

TEST_F(KitSlots, ClearSlotTakesItsKeyFromTheBaseKeyClamped) {
  engine->setAfxBaseKey(120);
  engine->setSlotSnapshotGainPan(5, cutoffSnapshot(500.0), 60, 2.0f, 0.5f);
  engine->clearSlot(5);
  const StagedSlot k = staged(*engine, 5);
  EXPECT_EQ(k.note, 125);
  EXPECT_FALSE(k.used);
  EXPECT_EQ(k.gain, 1.0f);
  engine->setAfxBaseKey(110);
  engine->clearSlot(23);
  EXPECT_EQ(staged(*engine, 23).note, 127);
}

TEST_F(KitSlots, AnEditWaitsForTheNextBlockEvenWhileProcessingIsStopped) {
  engine->setSlotSnapshotGainPan(7, cutoffSnapshot(500.0), 50, 0.5f, 0.25f);
  engine->setSlotNote(7, 52);
  EXPECT_FALSE(engine->kitSlots[7].used);
  engine->generateBlock();
  const KitSlot& r = engine->kitSlots[7];
  EXPECT_EQ(r.note, 52);
  EXPECT_EQ(r.pan, 0.25f);
  EXPECT_EQ(r.snapshot.value[kParamFilterACutoff], 500.0);
  EXPECT_FALSE(engine->kitSlots[6].used);  // the other slots were not touched
}

// Every field of a slot written by round k carries k: a render copy that mixes rounds is torn.
KitSlot roundSlot(int k) {
  KitSlot slot;
  slot.snapshot.valid = true;
  for (uint32_t id = 0; id < kNumParams; ++id) {
    slot.snapshot.has[id] = true;
    slot.snapshot.value[id] = kParams[id].min + (kParams[id].max - kParams[id].min) * (k % 97) / 96.0;
  }
  sanitizeSnapshot(slot.snapshot);  // as the slot keeps it
  slot.note = static_cast<uint16_t>(k % 128);
  slot.gain = static_cast<float>(k % 5) * 0.5f;
  slot.pan = static_cast<float>(k % 9) * 0.25f - 1.0f;
  return slot;
}

bool renderSlotIsWhole(const KitSlot& r) {
  if (!r.used) return r.note < 128;
  for (int k = 0; k < 97 * 128; ++k) {
    // Only the round that wrote the note, gain and pan together can match them all.
    if (k % 128 != r.note || static_cast<float>(k % 5) * 0.5f != r.gain ||
        static_cast<float>(k % 9) * 0.25f - 1.0f != r.pan)
      continue;
    const KitSlot w = roundSlot(k);
    if (w.snapshot.value == r.snapshot.value && w.snapshot.has == r.snapshot.has) return true;
  }
  return false;
}

TEST(KitSlotHandOverThread, RenderCopiesAreNeverTornBySlotEditsOnTheMainThread) {
  auto engine = std::make_unique<PluginProcessor>();
  constexpr int kSlot = 9;
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::atomic<int> blocks{0};
  std::thread audio([&] {
    while (!stop.load(std::memory_order_acquire)) {
      engine->generateBlock();
      if (!renderSlotIsWhole(engine->kitSlots[kSlot])) torn.fetch_add(1, std::memory_order_relaxed);
      blocks.fetch_add(1, std::memory_order_relaxed);
    }
  });
  for (int k = 0; k < 3000; ++k) {
    const KitSlot w = roundSlot(k);
    engine->setSlotSnapshotGainPan(kSlot, w.snapshot, w.note, w.gain, w.pan);
    // Single-field edits rewrite the same values: they must keep everything else whole.
    engine->setSlotNote(kSlot, w.note);
    engine->setSlotGain(kSlot, w.gain);
    engine->setSlotPan(kSlot, w.pan);
    if (k % 100 == 0) std::this_thread::yield();
  }
  while (blocks.load(std::memory_order_relaxed) < 50) std::this_thread::yield();
  stop.store(true, std::memory_order_release);
  audio.join();
  engine->generateBlock();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_TRUE(renderSlotIsWhole(engine->kitSlots[kSlot]));
  EXPECT_EQ(engine->kitSlots[kSlot].note, roundSlot(2999).note);
}

}  // namespace
