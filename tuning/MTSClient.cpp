#include "tuning/MTSClient.h"

#include <cmath>
#include <cstring>

namespace {

constexpr double kSemitonesPerLn = 17.312340490667562;  // 12 / ln 2
constexpr uint32_t kRatioValid = 1, kSemitonesValid = 2;
constexpr auto kRelaxed = std::memory_order_relaxed;

bool validChannel(int ch) {
  return ch >= 0 && ch < kMTSChannels;
}

// The master's own table for channel ch, when the client may use one for it.
const double* channelTableFor(const MTSClient& c, int ch) {
  const MasterLibrary& lib = c.lib;
  const bool filterAllows = !c.filterQueried.load(kRelaxed) || c.filterChannelValid.load(kRelaxed);
  if (!filterAllows || !validChannel(ch) || !lib.useMultiChannelTuning ||
      !lib.useMultiChannelTuning(char(ch)))
    return nullptr;
  return lib.channelTables[ch];
}

// Looks the key up in the table in use and keeps its cache record current; returns the record.
MTSClient::CacheRecord& lookUp(MTSClient& c, int note, int ch, double& freq) {
  MTSClient::CacheRecord* record;
  if (!c.lib.online()) {
    freq = c.table[note].load(kRelaxed);
    record = &c.localCache[note];
  } else if (const double* t = channelTableFor(c, ch)) {
    freq = t[note];
    record = &c.channelCache[ch][note];
  } else {
    freq = c.lib.tuningTable[note];
    record = &c.masterCache[note];
  }
  if (record->freq.load(kRelaxed) != freq) {
    record->freq.store(freq, kRelaxed);
    record->flags.store(0, kRelaxed);
  }
  return *record;
}

double ratioOf(MTSClient::CacheRecord& r, int note) {
  if (r.flags.load(kRelaxed) & kRatioValid) return r.ratio.load(kRelaxed);
  const double ratio = r.freq.load(kRelaxed) * inverse12TET(note);
  r.ratio.store(ratio, kRelaxed);
  r.flags.fetch_or(kRatioValid, kRelaxed);
  return ratio;
}

int equalTemperedNote(double freq) {
  if (std::isnan(freq)) return 60;
  if (freq < 8.3) return 0;
  if (freq > 12400.0) return 127;
  const long n = std::lround(12.0 * std::log2(freq * 0.0022727272727272726)) + 69;
  return int(n < 0 ? 0 : n > 127 ? 127 : n);
}

// Nearest-key search over candidate (frequency, note, channel) entries.
struct NearestSearch {
  double target;
  double aboveFreq = 0, belowFreq = 0;
  int aboveNote = -1, belowNote = -1, aboveChannel = 0, belowChannel = 0;
  int exactNote = -1, exactChannel = 0;

  // Returns true once an exact match is found.
  bool consider(double f, int note, int ch) {
    if (f == target) {
      exactNote = note;
      exactChannel = ch;
      return true;
    }
    if (f > target && (aboveNote < 0 || f < aboveFreq)) {
      aboveFreq = f, aboveNote = note, aboveChannel = ch;
    } else if (f < target && (belowNote < 0 || f > belowFreq)) {
      belowFreq = f, belowNote = note, belowChannel = ch;
    }
    return false;
  }

  // The note found, or -1 when no entry was considered.
  int result(int& ch) const {
    if (exactNote >= 0) return ch = exactChannel, exactNote;
    if (belowNote < 0) return ch = aboveChannel, aboveNote;
    if (aboveNote < 0) return ch = belowChannel, belowNote;
    if (target >= std::sqrt(aboveFreq * belowFreq)) return ch = aboveChannel, aboveNote;
    return ch = belowChannel, belowNote;
  }
};

}  // namespace

MTSClient::MTSClient(const MasterLibrary& library) : lib(library) {
  for (int n = 0; n < kMTSNotes; ++n) table[n].store(mts::equalTemperedFrequency(n), kRelaxed);
  std::strcpy(scaleNames[0], "12-TET");
}

namespace mts {

MTSClient* registerClient(const MasterLibrary& library) {
  auto* c = new MTSClient(library);
  if (library.registerClient) library.registerClient();
  return c;
}

void deregisterClient(MTSClient* c) {
  if (!c) return;
  if (c->lib.deregisterClient) c->lib.deregisterClient();
  delete c;
}

bool hasMaster(const MTSClient* c) {
  return c && c->lib.online();
}

bool shouldUpdateLibrary(const MTSClient* c) {
  return c && c->lib.getVersionNumber && c->lib.getVersionNumber() < 0x10003;
}

bool shouldFilterNote(MTSClient* c, int note, int ch) {
  if (!c) return false;
  const bool chValid = validChannel(ch);
  c->filterQueried.store(true, kRelaxed);
  c->filterChannelValid.store(chValid, kRelaxed);
  if (!c->freqQueried.load(kRelaxed)) c->multiChannelWanted.store(chValid, kRelaxed);
  const MasterLibrary& lib = c->lib;
  if (!lib.online()) return false;
  const char n = char(note & 127);
  if (chValid && c->multiChannelWanted.load(kRelaxed) && lib.useMultiChannelTuning &&
      lib.useMultiChannelTuning(char(ch)))
    return lib.shouldFilterNoteMultiChannel && lib.shouldFilterNoteMultiChannel(n, char(ch));
  return lib.shouldFilterNote && lib.shouldFilterNote(n, char(ch));
}

double noteToFrequency(MTSClient* c, int note, int ch) {
  note &= 127;
  if (!c) return equalTemperedFrequency(note);
  c->freqQueried.store(true, kRelaxed);
  c->multiChannelWanted.store(validChannel(ch), kRelaxed);
  double f;
  lookUp(*c, note, ch, f);
  return f;
}

double retuningAsRatio(MTSClient* c, int note, int ch) {
  note &= 127;
  if (!c || (!c->lib.online() && !c->receivedSysEx.load(kRelaxed))) return 1.0;
  double f;
  return ratioOf(lookUp(*c, note, ch, f), note);
}

double retuningInSemitones(MTSClient* c, int note, int ch) {
  note &= 127;
  if (!c || (!c->lib.online() && !c->receivedSysEx.load(kRelaxed))) return 0.0;
  double f;
  MTSClient::CacheRecord& r = lookUp(*c, note, ch, f);
  if (r.flags.load(kRelaxed) & kSemitonesValid) return r.semitones.load(kRelaxed);
  const double semitones = kSemitonesPerLn * std::log(ratioOf(r, note));
  r.semitones.store(semitones, kRelaxed);
  r.flags.fetch_or(kSemitonesValid, kRelaxed);
  return semitones;
}

int frequencyToNote(const MTSClient* c, double freq, int ch) {
  if (!c || std::isnan(freq)) return equalTemperedNote(freq);
  NearestSearch search{freq};
  const MasterLibrary& lib = c->lib;
  const bool online = lib.online();
  const double* channelTable = online ? channelTableFor(*c, ch) : nullptr;
  for (int n = 0; n < kMTSNotes; ++n) {
    double f;
    if (!online) {
      f = c->table[n].load(kRelaxed);
    } else if (channelTable) {
      if (lib.shouldFilterNoteMultiChannel && lib.shouldFilterNoteMultiChannel(char(n), char(ch))) continue;
      f = channelTable[n];
    } else {
      if (lib.shouldFilterNote && lib.shouldFilterNote(char(n), char(ch))) continue;
      f = lib.tuningTable[n];
    }
    if (search.consider(f, n, ch)) break;
  }
  int foundChannel;
  const int note = search.result(foundChannel);
  return note >= 0 ? note : equalTemperedNote(freq);
}

int frequencyToNoteAndChannel(const MTSClient* c, double freq, int* channel) {
  if (!channel) return frequencyToNote(c, freq, -1);
  *channel = 0;
  if (!c || std::isnan(freq)) return equalTemperedNote(freq);
  const MasterLibrary& lib = c->lib;
  if (!lib.online() || !lib.useMultiChannelTuning) return frequencyToNote(c, freq, 0);
  NearestSearch search{freq};
  bool anyChannel = false;
  for (int ch = 0; ch < kMTSChannels && search.exactNote < 0; ++ch) {
    const double* t = lib.channelTables[ch];
    if (!t || !lib.useMultiChannelTuning(char(ch))) continue;
    anyChannel = true;
    for (int n = 0; n < kMTSNotes; ++n) {
      if (lib.shouldFilterNoteMultiChannel && lib.shouldFilterNoteMultiChannel(char(n), char(ch))) continue;
      if (search.consider(t[n], n, ch)) break;
    }
  }
  if (!anyChannel) return frequencyToNote(c, freq, 0);
  const int note = search.result(*channel);
  if (note >= 0) return note;
  *channel = 0;
  return equalTemperedNote(freq);
}

const char* scaleName(const MTSClient* c) {
  if (!c) return "";
  if (c->lib.online() && c->lib.getScaleName) {
    const char* name = c->lib.getScaleName();
    return name ? name : "";
  }
  return c->scaleNames[c->scaleNameIndex.load(std::memory_order_acquire)];
}

double periodRatio(const MTSClient* c) {
  return c && c->lib.online() && c->lib.getPeriodRatio ? c->lib.getPeriodRatio() : 2.0;
}

double periodSemitones(MTSClient* c) {
  if (!c) return 12.0;
  const double ratio = periodRatio(c);
  if (ratio != c->periodRatioCache.load(kRelaxed)) {
    c->periodRatioCache.store(ratio, kRelaxed);
    c->periodSemitonesCache.store(kSemitonesPerLn * std::log(ratio), kRelaxed);
  }
  return c->periodSemitonesCache.load(kRelaxed);
}

int mapSize(const MTSClient* c) {
  if (!c) return -1;
  return c->lib.online() && c->lib.getMapSize ? c->lib.getMapSize() : c->mapSize.load(kRelaxed);
}

int mapStartKey(const MTSClient* c) {
  if (!c) return -1;
  return c->lib.online() && c->lib.getMapStartKey ? c->lib.getMapStartKey() : c->mapStartKey.load(kRelaxed);
}

int refKey(const MTSClient* c) {
  return c && c->lib.online() && c->lib.getRefKey ? c->lib.getRefKey() : -1;
}

bool hasReceivedSysEx(const MTSClient* c) {
  return c && c->receivedSysEx.load(kRelaxed);
}

void updateTuning(MTSClient& c, int note, int key, double fraction) {
  if (note < 0 || note > 127 || key < 0 || key > 127) return;
  c.receivedSysEx.store(true, kRelaxed);
  const double f = 440.0 * std::pow(2.0, (key + fraction - 69.0) / 12.0);
  c.table[note].store(f, kRelaxed);
  MTSClient::CacheRecord& r = c.localCache[note];
  if (r.freq.load(kRelaxed) != f) {
    r.freq.store(f, kRelaxed);
    r.flags.store(0, kRelaxed);
  }
}

void setScaleName(MTSClient& c, const char* name) {
  const int next = 1 - c.scaleNameIndex.load(kRelaxed);
  std::strncpy(c.scaleNames[next], name, MTSClient::kNameBytes - 1);
  c.scaleNames[next][MTSClient::kNameBytes - 1] = 0;
  c.scaleNameIndex.store(next, std::memory_order_release);
}

void resetReceivedTuning(MTSClient* c) {
  if (!c) return;
  for (int n = 0; n < kMTSNotes; ++n) {
    c->table[n].store(equalTemperedFrequency(n), kRelaxed);
    c->localCache[n].flags.store(0, kRelaxed);
  }
  c->mapSize.store(-1, kRelaxed);
  c->mapStartKey.store(-1, kRelaxed);
  setScaleName(*c, "12-TET");
  c->receivedSysEx.store(false, kRelaxed);
}

}  // namespace mts
