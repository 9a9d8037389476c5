// The per-engine MTS-ESP client: a local 128-key table that MIDI Tuning Standard messages retune, and
// the answers of a connected master, reached only through the looked-up library functions.
#pragma once

#include <atomic>
#include <cstdint>

#include "tuning/MTSMasterLibrary.h"

// One engine's client. Every field that a query may write is atomic (relaxed), so the audio thread and
// the main thread may both ask. Allocated by mts::registerClient, freed by mts::deregisterClient.
struct MTSClient {
  // Cached answers for one key of one table: bit 0 of flags = ratio valid, bit 1 = semitones valid.
  struct CacheRecord {
    std::atomic<uint32_t> flags{0};
    std::atomic<double> freq{0.0};
    std::atomic<double> ratio{1.0};
    std::atomic<double> semitones{0.0};
  };
  static constexpr int kNameBytes = 17;

  explicit MTSClient(const MasterLibrary& library);

  const MasterLibrary& lib;
  std::atomic<double> table[kMTSNotes];  // local tuning in Hz
  CacheRecord localCache[kMTSNotes];
  CacheRecord masterCache[kMTSNotes];
  CacheRecord channelCache[kMTSChannels][kMTSNotes];
  // The scale name from tuning messages, double-buffered: a new name is written into the unpublished
  // buffer and then published by index.
  char scaleNames[2][kNameBytes] = {};
  std::atomic<int> scaleNameIndex{0};
  std::atomic<double> periodRatioCache{2.0};
  std::atomic<double> periodSemitonesCache{12.0};
  std::atomic<int> mapSize{-1};
  std::atomic<int> mapStartKey{-1};
  std::atomic<bool> filterQueried{false};
  std::atomic<bool> filterChannelValid{false};
  std::atomic<bool> multiChannelWanted{false};
  std::atomic<bool> freqQueried{false};
  std::atomic<bool> receivedSysEx{false};
};

// The client's operations. Each tolerates a null client and answers the 12-TET default then. Notes are
// masked to 0..127; a channel outside 0..15 means no channel. These are what our own code calls; the
// exported MTS_ functions only forward to them.
namespace mts {

MTSClient* registerClient(const MasterLibrary& library);
void deregisterClient(MTSClient* c);

bool hasMaster(const MTSClient* c);
bool shouldUpdateLibrary(const MTSClient* c);
bool shouldFilterNote(MTSClient* c, int note, int channel);
double noteToFrequency(MTSClient* c, int note, int channel);
double retuningAsRatio(MTSClient* c, int note, int channel);
double retuningInSemitones(MTSClient* c, int note, int channel);
int frequencyToNote(const MTSClient* c, double freq, int channel);
// Nearest note over every channel with its own table; writes the channel (0 when none has one).
int frequencyToNoteAndChannel(const MTSClient* c, double freq, int* channel);
const char* scaleName(const MTSClient* c);
double periodRatio(const MTSClient* c);
double periodSemitones(MTSClient* c);
int mapSize(const MTSClient* c);
int mapStartKey(const MTSClient* c);
int refKey(const MTSClient* c);
bool hasReceivedSysEx(const MTSClient* c);

// Retunes key `note` of the local table to key + fraction semitones of 12-TET; ignored when note or
// key lies outside 0..127.
void updateTuning(MTSClient& c, int note, int key, double fraction);
// Publishes a scale name of at most 16 bytes.
void setScaleName(MTSClient& c, const char* name);
// Forgets every received tuning message: 12-TET table, "12-TET" name, map values -1.
void resetReceivedTuning(MTSClient* c);

// 12-TET frequency of key n (0..127).
inline double equalTemperedFrequency(int note) {
  return 1.0 / inverse12TET(note);
}

}  // namespace mts
