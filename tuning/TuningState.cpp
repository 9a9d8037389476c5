#include "tuning/TuningState.h"

#include <algorithm>
#include <cmath>

#include "foundation/MLDSPGens.h"
#include "foundation/MLSafeValue.h"
#include "tuning/MTSSysEx.h"

namespace {

constexpr double kMinFrequency = 0.001, kMaxFrequency = 1e9;
constexpr int kMaxKey = 127;
constexpr int kDefaultScaleSize = 12;
constexpr int kSnapshotScanLimit = 68;  // keeps the summary's scan from key 60 within key 127

// A period ratio as given when it is finite and above 1, else the octave.
double usablePeriod(double ratio) {
  return std::isfinite(ratio) && ratio > 1.0 ? ratio : 2.0;
}

}  // namespace

TuningState::TuningState() : TuningState(masterLibrary()) {}

TuningState::TuningState(const MasterLibrary& library) : client(mts::registerClient(library)) {}

TuningState::~TuningState() {
  mts::deregisterClient(client);
}

void TuningState::setLocalTuning(const LocalTuning& t) {
  handOver.write([&](LocalTuningChange& s) {
    s.tuning = t;
    repairLocalTuning(s.tuning);
    s.active = true;
  });
}

void TuningState::clearLocalTuning() {
  handOver.write([](LocalTuningChange& s) { s.active = false; });
}

bool TuningState::getLocalTuningCopy(LocalTuning& out) const {
  const LocalTuningChange& last = handOver.lastWritten();
  if (!last.active) return false;
  out = last.tuning;
  return true;
}

bool TuningState::getTuningSnapshotOnMain(TuningSnapshot& out) {
  bool valid = false;
  handOver.whileTakesHeld([&] { valid = fillSnapshot(out); });
  return valid;
}

void TuningState::takeHandOver() {
  const bool taken = handOver.take([this](const LocalTuningChange& change) {
    if (change.active) live = change.tuning;
    localActive.store(change.active, std::memory_order_release);
  });
  if (taken) {
    mts::resetReceivedTuning(client);
    bumpVersion();
  }
  activeThisBlock = effectiveTuningActive();
}

void TuningState::watch() {
  const bool connected = mts::hasMaster(client);
  const bool received = !connected && mts::hasReceivedSysEx(client);
  const bool local = localActive.load(std::memory_order_acquire);
  if (connected != mtsWasConnected || local != localWasActive || received != receivedWasActive) {
    mtsWasConnected = connected;
    localWasActive = local;
    receivedWasActive = received;
    if (connected)
      for (int i = 0; i < 3; ++i) mtsCheckFrequencies[i] = mts::noteToFrequency(client, kCheckNotes[i], -1);
    bumpVersion();
    return;
  }
  if (!connected) return;
  bool changed = false;
  for (int i = 0; i < 3; ++i) {
    const double f = mts::noteToFrequency(client, kCheckNotes[i], -1);
    double& old = mtsCheckFrequencies[i];
    if (std::fabs(f - old) > 1e-9 * old) {
      old = f;
      changed = true;
    }
  }
  if (changed) bumpVersion();
}

void TuningState::bumpVersion() {
  version.fetch_add(1, std::memory_order_relaxed);
  publishedSize.store(effectiveScaleSize(), std::memory_order_relaxed);
}

void TuningState::parseMTSSysEx(const uint8_t* data, unsigned len) {
  if (!client || !data || len == 0) return;
  mts::parseMIDIData(client, data, len);
  version.fetch_add(1, std::memory_order_relaxed);
}

bool TuningState::shouldFilterNote(int key, int channel) {
  return mts::hasMaster(client) && mts::shouldFilterNote(client, key, channel);
}

bool TuningState::clientTuningInForce() const {
  return mts::hasMaster(client) || mts::hasReceivedSysEx(client);
}

bool TuningState::effectiveTuningActive() const {
  return clientTuningInForce() || localActive.load(std::memory_order_acquire);
}

double TuningState::effectiveNoteFreq(int note, int channel) {
  double f;
  if (clientTuningInForce())
    f = clientFrequency(note, channel);
  else if (localActive.load(std::memory_order_acquire))
    f = localFrequency(note);
  else
    f = ml::pitchToFrequency(float(note));
  return ml::safeClamp(ml::finiteOr(f, kMiddleC), kMinFrequency, kMaxFrequency);
}

// Keys outside 0..127 are folded by whole periods of the client's tuning: f(n) = f(n - jK) x P^j.
double TuningState::clientFrequency(int note, int channel) {
  if (note >= 0 && note <= kMaxKey) return mts::noteToFrequency(client, note, channel);
  const int size = mts::mapSize(client);
  const int keys = size >= 1 && size <= kMaxKey ? size : kDefaultScaleSize;
  const double period = usablePeriod(mts::periodRatio(client));
  const int periods = note > kMaxKey ? (note - kMaxKey + keys - 1) / keys : -((-note + keys - 1) / keys);
  return mts::noteToFrequency(client, note - periods * keys, channel) * std::pow(period, periods);
}

double TuningState::localFrequency(int note) const {
  const LocalTuning& t = live;
  const int keys = t.keysPerPeriod >= 1 ? t.keysPerPeriod : kDefaultScaleSize;
  const int rel = note - 60;
  const int octave = rel >= 0 ? rel / keys : -((-rel + keys - 1) / keys);
  const int degree = rel - octave * keys;
  const double ratio = degree < t.count ? t.ratios[degree] : 1.0;
  return (kMiddleC * ratio) * std::pow(usablePeriod(t.periodRatio), octave);
}

int TuningState::effectiveScaleSize() const {
  if (clientTuningInForce()) {
    const int size = mts::mapSize(client);
    return size >= 1 ? size : kDefaultScaleSize;
  }
  if (localActive.load(std::memory_order_acquire)) {
    const int keys = live.keysPerPeriod;
    return keys >= 1 && keys <= kMaxKey ? keys : kDefaultScaleSize;
  }
  return kDefaultScaleSize;
}

double TuningState::effectivePeriodRatio() const {
  if (clientTuningInForce()) return mts::periodRatio(client);
  if (localActive.load(std::memory_order_acquire)) return live.periodRatio;
  return 2.0;
}

bool TuningState::getTuningSnapshot(TuningSnapshot& out) {
  return fillSnapshot(out);
}

bool TuningState::fillSnapshot(TuningSnapshot& out) {
  out = {};
  if (clientTuningInForce()) {
    const double f60 = mts::noteToFrequency(client, 60, -1);
    if (f60 > 0.0) {
      const double period = usablePeriod(mts::periodRatio(client));
      const int size = mts::mapSize(client);
      out.keysPerPeriod = size < 1 ? kDefaultScaleSize : size;
      const int limit = std::min(size < 1 ? kMaxTuningIntervals : size, kSnapshotScanLimit);
      int n = 0;
      for (; n < limit && n < kMaxTuningIntervals; ++n) {
        const double r = mts::noteToFrequency(client, 60 + n, -1) / f60;
        if (n > 0 && r >= period - 1e-6) break;
        out.ratios[n] = r;
      }
      out.count = n;
      out.periodRatio = period;
      copyTuningName(out.name, mts::scaleName(client));
      out.source = TuningSnapshot::kMTS;
      return out.valid = true;
    }
  }
  if (!localActive.load(std::memory_order_acquire)) return false;
  const LocalTuning& t = live;
  out.keysPerPeriod = t.keysPerPeriod >= 1 ? t.keysPerPeriod : t.count;
  out.count = t.count;
  out.periodRatio = t.periodRatio;
  for (int i = 0; i < std::min(t.count, kMaxTuningIntervals); ++i) {
    out.ratios[i] = t.ratios[i];
    std::copy(t.degreeText[i], t.degreeText[i] + kTuningTextBytes - 1, out.degreeText[i]);
  }
  copyTuningName(out.name, t.name);
  out.source = TuningSnapshot::kLocal;
  return out.valid = true;
}
