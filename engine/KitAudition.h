// Auditioning kit slots: the editor's requests to hear a slot, and the notes held while it sounds.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

// A ring of slot requests from the main thread (one producer) to the audio thread (one consumer), and
// up to 8 auditioned notes, each held for a fixed number of blocks.
struct KitAudition {
  static constexpr uint32_t kRingSize = 16;
  static constexpr int kNumEntries = 8;

  // One auditioned note: its key (-1 when the entry is free) and the blocks left until its note-off.
  struct Entry {
    int32_t note{-1};
    int32_t countdown{0};
  };

  std::array<std::atomic<int8_t>, kRingSize> ring{};
  std::atomic<uint32_t> writeIndex{0};  // 0..15
  std::atomic<uint32_t> readIndex{0};   // 0..15
  std::array<Entry, kNumEntries> entries{};

  // Main thread: queues slot (0..23, others are ignored). A request to a full ring (15 unread) is
  // dropped, so the requests already queued survive.
  void request(int slot);

  // Audio thread: calls play(slot) for each queued request in order, then marks them read.
  template <class Play>
  void drain(Play&& play) {
    uint32_t r = readIndex.load(std::memory_order_relaxed);
    const uint32_t w = writeIndex.load(std::memory_order_acquire);
    while (r != w) {
      const int slot = ring[r].load(std::memory_order_relaxed);
      r = (r + 1) % kRingSize;
      play(slot);
    }
    readIndex.store(r, std::memory_order_release);
  }

  // Audio thread: holds note for countdown blocks. A note already held restarts its countdown;
  // otherwise it takes the first free entry, or entry 0 when all are busy. Returns the note that entry 0
  // held and that must be released for it (-1 when none).
  int32_t hold(int32_t note, int32_t countdown);

  // Audio thread: counts each held note down one block and calls release(note) for each that ends.
  template <class Release>
  void countDown(Release&& release) {
    for (Entry& e : entries) {
      if (e.note < 0) continue;
      if (--e.countdown > 0) continue;
      release(e.note);
      e = Entry{};
    }
  }
};

// Blocks an auditioned note is held at sampleRate: about 150 ms, at least 2.
int32_t auditionBlocks(double sampleRate);
