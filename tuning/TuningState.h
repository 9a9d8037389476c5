// The engine's tuning: the local (Scala) tuning handed from the main thread to the audio thread, the
// MTS-ESP client, the effective-tuning queries every pitch goes through, and the per-block tuning watch.
#pragma once

#include <atomic>
#include <cstdint>

#include "foundation/MLHandOver.h"
#include "tuning/LocalTuning.h"
#include "tuning/MTSClient.h"

// Precedence of the tuning in force: a connected MTS-ESP master, then the most recent of a received MIDI
// Tuning Standard message and the local tuning, then 12-TET. The local tuning and its clearing take
// effect at the next block's hand-over, which also forgets received tuning messages; a message received
// later overrides the local tuning until the next set or clear.
//
// Threads: the setters, getLocalTuningCopy and getTuningSnapshotOnMain belong to the main thread;
// takeHandOver, watch, parseMTSSysEx, shouldFilterNote, the effective* queries and getTuningSnapshot
// belong to the audio thread; getTuningVersion, getMTSConnected, getMTSNeedsUpdate, localTuningPending
// and effectiveTuningActive may be called from either. Nothing here allocates or locks on the audio
// thread.
class TuningState {
public:
  static constexpr int kCheckNotes[3] = {60, 69, 72};  // keys whose master retune the watch notices
  static constexpr double kMiddleC = 261.6255653;      // key 60 of the local tuning, Hz

  TuningState();  // registers a client with the installed master library
  explicit TuningState(const MasterLibrary& library);
  ~TuningState();  // deregisters the client
  TuningState(const TuningState&) = delete;
  TuningState& operator=(const TuningState&) = delete;

  // Main thread. Neither waits for a block: a change not yet taken is replaced by the next one.
  void setLocalTuning(const LocalTuning& t);        // repairs out-of-range fields, turns the local tuning on
  void clearLocalTuning();                          // turns it off; the record is kept
  bool getLocalTuningCopy(LocalTuning& out) const;  // the tuning last set, unless cleared since
  bool getTuningSnapshotOnMain(TuningSnapshot& out);

  // Audio thread, once per block: take a local-tuning change (start of the block), then watch the master
  // and the tuning sources for changes (after the output chain).
  void takeHandOver();
  void watch();
  bool tuningActiveThisBlock() const { return activeThisBlock; }

  // Audio thread.
  void parseMTSSysEx(const uint8_t* data, unsigned len);
  bool shouldFilterNote(int key, int channel);
  double effectiveNoteFreq(int note, int channel);  // Hz, finite, 0.001..1e9
  int effectiveScaleSize() const;
  double effectivePeriodRatio() const;
  bool getTuningSnapshot(TuningSnapshot& out);  // the poll step's summary

  // Either thread.
  bool effectiveTuningActive() const;
  bool localTuningPending() const { return handOver.pending(); }  // a change waits for the next block
  bool getMTSConnected() const { return mts::hasMaster(client); }
  bool getMTSNeedsUpdate() const { return mts::shouldUpdateLibrary(client); }
  uint32_t getTuningVersion() const { return version.load(std::memory_order_relaxed); }
  int publishedScaleSize() const { return publishedSize.load(std::memory_order_relaxed); }

private:
  // What the main thread hands over: a tuning to switch on, or (active false) the order to switch off.
  struct LocalTuningChange {
    LocalTuning tuning;
    bool active;
  };

  bool clientTuningInForce() const;
  double clientFrequency(int note, int channel);
  double localFrequency(int note) const;
  bool fillSnapshot(TuningSnapshot& out);
  void bumpVersion();

  MTSClient* client;
  ml::HandOver<LocalTuningChange> handOver;
  LocalTuning live{};  // audio thread
  std::atomic<bool> localActive{false};
  std::atomic<uint32_t> version{0};
  std::atomic<int> publishedSize{12};
  bool activeThisBlock = false;
  bool mtsWasConnected = false;
  bool localWasActive = false;
  bool receivedWasActive = false;
  double mtsCheckFrequencies[3] = {};
};
