// Single-writer, single-reader hand-over of a fixed-size record without locks.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace ml {

// Hands a record of type T from one writer thread (the main thread) to one reader thread (the audio
// thread). The state word moves idle -> ready (writer published a record), ready -> taking (reader is
// copying it), taking -> idle (reader done). The writer waits only while the reader is copying, which is
// one bounded copy long; a record that is published but not yet taken is taken back and overwritten, so
// the last write always wins and the writer never waits for a block that may never come. The reader never
// waits: when nothing is ready it does nothing. T must be trivially copyable in spirit (no heap).
template <class T>
class HandOver {
public:
  // Writer thread: fill the staging record in place and publish it. `fill` receives the previous
  // record written, so a caller may change one field and keep the rest.
  template <class Fill>
  void write(Fill&& fill) {
    holdTakes();
    fill(staging);
    state.store(kReady, std::memory_order_release);
  }

  void write(const T& value) {
    write([&](T& s) { s = value; });
  }

  // Writer thread: run f while the reader cannot take, so f may read what the reader copies into. A
  // published record is taken back for the duration and published again afterwards.
  template <class F>
  void whileTakesHeld(F&& f) {
    const bool wasReady = holdTakes();
    f();
    if (wasReady) state.store(kReady, std::memory_order_release);
  }

  // Writer thread: change the record written last in place without publishing it. A record still
  // waiting to be taken stays published and is taken with the change; one already taken stays taken.
  template <class Edit>
  void edit(Edit&& editFn) {
    whileTakesHeld([&] { editFn(staging); });
  }

  // Writer thread only: the record written last (published or already taken).
  const T& lastWritten() const { return staging; }

  // Reader thread: when a record is ready, call take(record) with it and return true; else false.
  template <class Take>
  bool take(Take&& takeFn) {
    // A plain load first: most blocks find nothing published, and need no locked instruction.
    if (state.load(std::memory_order_relaxed) != kReady) return false;
    uint32_t expected = kReady;
    if (!state.compare_exchange_strong(expected, kTaking, std::memory_order_acquire,
                                       std::memory_order_relaxed))
      return false;
    takeFn(static_cast<const T&>(staging));
    state.store(kIdle, std::memory_order_release);
    return true;
  }

  // Any thread: a record is published and not yet taken.
  bool pending() const { return state.load(std::memory_order_acquire) == kReady; }

private:
  static constexpr uint32_t kIdle = 0, kReady = 1, kTaking = 2;

  // Writer thread: bring the state to idle (waiting out a copy in progress, taking back a published
  // record). Returns whether a published record was taken back.
  bool holdTakes() {
    for (;;) {
      uint32_t s = state.load(std::memory_order_acquire);
      if (s == kIdle) return false;
      if (s == kTaking) {
        std::this_thread::yield();
        continue;
      }
      if (state.compare_exchange_weak(s, kIdle, std::memory_order_acquire, std::memory_order_relaxed))
        return true;
    }
  }

  T staging{};
  std::atomic<uint32_t> state{kIdle};
};

}  // namespace ml
