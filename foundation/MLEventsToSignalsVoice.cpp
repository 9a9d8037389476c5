// One voice of the events-to-signals allocator.
#include "foundation/MLEventsToSignalsVoice.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <initializer_list>

#include "foundation/MLSIMD.h"
#include "foundation/MLSafeValue.h"
#include "foundation/MLScalarMath.h"

namespace ml {

namespace {
constexpr double kDriftGlideSeconds = 8.0;
constexpr double kDriftIntervalSeconds = 8.0;
constexpr float kSemitonesPerOctaveInv = 0.083333336f;
constexpr float kDriftScale = 0.02f;
constexpr uint32_t kDriftSeedPerVoice = 232;

// row[from..to) = v, whole groups of four with vector stores: the rows are aligned, and a block without
// events fills each of them from 0 to its end.
void fillRow(float* row, size_t from, size_t to, float v) {
  size_t i = from;
  for (; i < to && i % 4 != 0; ++i) row[i] = v;
  const simd::F4 v4 = simd::splat(v);
  for (; i + 4 <= to; i += 4) simd::storeF(row + i, v4);
  for (; i < to; ++i) row[i] = v;
}

// The whole row = v, skipped where it already holds v; steady tracks what the row holds.
void fillWholeSteadyRow(float* row, float v, EventsToSignalsVoice::SteadyRow& steady) {
  const uint32_t bits = std::bit_cast<uint32_t>(v);
  if (steady.whole && steady.bits == bits) return;
  const simd::F4 v4 = simd::splat(v);
  for (size_t i = 0; i < kFloatsPerDSPVector; i += 4) simd::storeF(row + i, v4);
  steady = {true, bits};
}

// fillRow, for the whole row as fillWholeSteadyRow fills it.
void fillSteadyRow(float* row, size_t from, size_t to, float v, EventsToSignalsVoice::SteadyRow& steady) {
  if (from == 0 && to == kFloatsPerDSPVector) {
    fillWholeSteadyRow(row, v, steady);
    return;
  }
  fillRow(row, from, to, v);
  steady = {false, std::bit_cast<uint32_t>(v)};
}

// Whether some sample of the aligned row is -0.
bool anyMinusZero(const float* row) {
  using namespace simd;
  const I4 minusZero = splatI(INT32_MIN);
  I4 found = equalI(bitsOf(loadF(row)), minusZero);
  for (size_t i = 4; i < kFloatsPerDSPVector; i += 4)
    found = orMask(found, equalI(bitsOf(loadF(row + i)), minusZero));
  return anySet(found);
}
}  // namespace

void EventsToSignalsVoice::setSampleRate(double sr) {
  sampleRate = sr;
  recalcNeeded = true;
}

void EventsToSignalsVoice::setPitchGlideInSeconds(float seconds) {
  pitchGlideTimeInSeconds = seconds;
  recalcNeeded = true;
}

void EventsToSignalsVoice::reset() {
  driftSource.seed = static_cast<uint32_t>(voiceIndex) * kDriftSeedPerVoice;
  writePos = 0;
  ageInSamples = 0;
  ageStep = 0;
  currentVelocity = currentPitch = currentPitchBend = currentMod = currentX = currentY = currentZ = 0.f;
  creatorKeyIdx = 0;
  restsWithoutInput = false;
  for (LinearGlide* g : {&pitchBendGlide, &modGlide, &xGlide, &yGlide, &zGlide}) g->setValue(0.f);
}

void EventsToSignalsVoice::recalculateGlideTimes() {
  pitchGlideTimeInSamples = saturateToInt32(sampleRate * static_cast<double>(pitchGlideTimeInSeconds));
  if (!noGlide) pitchGlide.setGlideTimeInSamples(static_cast<float>(pitchGlideTimeInSamples));
  const auto controllerSamples = static_cast<float>(kControllerGlideSeconds * sampleRate);
  for (LinearGlide* g : {&pitchBendGlide, &modGlide, &xGlide, &yGlide, &zGlide}) {
    g->setGlideTimeInSamples(controllerSamples);
  }
  driftGlide.setGlideTimeInSamples(static_cast<float>(kDriftGlideSeconds * sampleRate));
  recalcNeeded = false;
}

void EventsToSignalsVoice::drawDriftTarget() {
  driftValue = driftSource.getFloat();
  const float r = std::fabs(driftSource.getFloat());
  driftCounter = 0;
  driftInterval = saturateToInt32(sampleRate * (1.0 + r) * kDriftIntervalSeconds);
}

namespace {

// Writes the glide's next row towards target into row. A glide at rest returns the row of its last call,
// which row still holds.
void glideInto(LinearGlide& glide, float target, float* row) {
  if (glide.settledAt(target)) return;
  std::copy_n(glide(target).getConstBuffer(), kFloatsPerDSPVector, row);
}

}  // namespace

void EventsToSignalsVoice::endProcess(float bendRange, const DSPVector* pressure, bool pressureAtRest,
                                      bool inputsAsBefore) {
  if (currentVelocity == 0.f) currentZ = 0.f;
  // The drift glide's samples are read only where they change the pitch row (see addDrift).
  driftGlide.advanceUnread(driftValue);
  if (restsWithoutInput && inputsAsBefore && driftAmount == 0.f) {
    holdRestingRows();
    return;
  }
  const bool resting = restingRowsHold(bendRange, pressure, pressureAtRest);
  restsWithoutInput = resting && pitchFreeOfDrift(bendRange);
  if (resting) return;
  const DSPVector& bend = pitchBendGlide(currentPitchBend);
  writePitchRow(bendRange, bend);
  glideInto(modGlide, currentMod, outputs.row(kModRow));
  glideInto(xGlide, currentX, outputs.row(kXRow));
  glideInto(yGlide, currentY, outputs.row(kYRow));
  writeZRow(pressure, pressureAtRest);
}

bool EventsToSignalsVoice::steadyPitchValue(float bendRange, const DSPVector& bend, float& value) const {
  if (writePos != 0 || !pitchGlide.settledAt(currentPitch) || !pitchBendGlide.atRest()) return false;
  // The same operations, in the same order, as each sample of the row below.
  const float base = pitchGlide.currentValue + bend[0] * bendRange * kSemitonesPerOctaveInv;
  if (driftGlide.atRest()) {
    value = base + driftGlide.currentVector[0] * driftAmount * kDriftScale;
    return true;
  }
  // Without drift a moving drift glide adds zeros of either sign, which change every value but -0.
  if (driftAmount != 0.f || (base == 0.f && std::signbit(base))) return false;
  value = base;
  return true;
}

bool EventsToSignalsVoice::restingRowsHold(float bendRange, const DSPVector* pressure, bool pressureAtRest) {
  if (writePos != 0 || !steadyPitch.whole || !steadyZ.whole || (pressure != nullptr && !pressureAtRest)) {
    return false;
  }
  if (!pitchBendGlide.settledAt(currentPitchBend) || !modGlide.settledAt(currentMod) ||
      !xGlide.settledAt(currentX) || !yGlide.settledAt(currentY) || !zGlide.settledAt(currentZ)) {
    return false;
  }
  float pitch = 0.f;
  if (!steadyPitchValue(bendRange, pitchBendGlide.currentVector, pitch) ||
      std::bit_cast<uint32_t>(pitch) != steadyPitch.bits) {
    return false;
  }
  const float z = zGlide.currentVector[0];
  if (std::bit_cast<uint32_t>(pressure != nullptr ? z + (*pressure)[0] : z) != steadyZ.bits) return false;
  holdRestingRows();
  return true;
}

void EventsToSignalsVoice::holdRestingRows() {
  fillGateAndAge(0, kFloatsPerDSPVector);
  writePos = kFloatsPerDSPVector;
}

bool EventsToSignalsVoice::pitchFreeOfDrift(float bendRange) const {
  const float base =
      pitchGlide.currentValue + pitchBendGlide.currentVector[0] * bendRange * kSemitonesPerOctaveInv;
  return driftAmount == 0.f && !(base == 0.f && std::signbit(base));
}

void EventsToSignalsVoice::writePitchRow(float bendRange, const DSPVector& bend) {
  using namespace simd;
  float* pitch = outputs.row(kPitchRow);
  float steady = 0.f;
  if (steadyPitchValue(bendRange, bend, steady)) {
    fillGateAndAge(writePos, kFloatsPerDSPVector);
    writePos = kFloatsPerDSPVector;
    fillWholeSteadyRow(pitch, steady, steadyPitch);
    return;
  }
  if (writePos < kFloatsPerDSPVector) fillUntil(kFloatsPerDSPVector);
  for (size_t i = 0; i < kFloatsPerDSPVector; i += 4) {
    storeF(pitch + i, add(loadF(pitch + i), mul(mul(loadF(bend.getConstBuffer() + i), splat(bendRange)),
                                                splat(kSemitonesPerOctaveInv))));
  }
  addDrift(pitch);
  steadyPitch.whole = false;
}

void EventsToSignalsVoice::addDrift(float* pitch) {
  using namespace simd;
  // Without drift amount the drift adds zeros of either sign, which change only a pitch of -0.
  if (driftAmount == 0.f && !anyMinusZero(pitch)) return;
  const DSPVector& drift = driftGlide.caughtUp();
  for (size_t i = 0; i < kFloatsPerDSPVector; i += 4) {
    storeF(pitch + i, add(loadF(pitch + i), mul(mul(loadF(drift.getConstBuffer() + i), splat(driftAmount)),
                                                splat(kDriftScale))));
  }
}

void EventsToSignalsVoice::writeZRow(const DSPVector* pressure, bool pressureAtRest) {
  const DSPVector& z = zGlide(currentZ);
  float* row = outputs.row(kZRow);
  if (zGlide.atRest() && (pressure == nullptr || pressureAtRest)) {
    fillWholeSteadyRow(row, pressure != nullptr ? z[0] + (*pressure)[0] : z[0], steadyZ);
    return;
  }
  std::copy_n(z.getConstBuffer(), kFloatsPerDSPVector, row);
  if (pressure != nullptr) {
    for (size_t i = 0; i < kFloatsPerDSPVector; ++i) row[i] += (*pressure)[i];
  }
  steadyZ.whole = false;
}

void EventsToSignalsVoice::writeNoteEvent(const Event& e, size_t keyIdx, bool glide, bool resetAge) {
  size_t t = static_cast<size_t>(clamp(e.time, 0, static_cast<int32_t>(kFloatsPerDSPVector)));
  switch (e.type) {
    case Event::kNoteOn:
    case Event::kNoteRetrig: {
      creatorKeyIdx = keyIdx;
      if (resetAge) ageInSamples = 0;
      ageStep = 1;
      if (e.type == Event::kNoteOn) {
        noGlide = !glide;
        pitchGlide.setGlideTimeInSamples(glide ? static_cast<float>(pitchGlideTimeInSamples) : 0.f);
      }
      fillUntil(t);
      // A stolen voice, or one whose note was released at this very sample, gets one sample of gate 0
      // before the new note so that the synthesis voice starts it afresh (new attack, new velocity).
      const bool releasedJustNow = currentVelocity == 0.f && lastWrittenGate() > 0.f;
      if (e.type == Event::kNoteRetrig || releasedJustNow) {
        t = ml::max(t, size_t{1});
        fillUntil(t);
        outputs.row(kGateRow)[t - 1] = 0.f;
        steadyGate.whole = false;
      }
      currentPitch = e.value1;
      currentVelocity = e.value2;
      break;
    }
    case Event::kNoteOff:
      creatorKeyIdx = 0;
      fillUntil(t);
      currentVelocity = 0.f;
      break;
    default:
      break;
  }
}

void EventsToSignalsVoice::fillUntil(size_t limit) {
  if (limit <= writePos) return;
  fillPitch(writePos, limit);
  fillGateAndAge(writePos, limit);
  writePos = limit;
}

void EventsToSignalsVoice::fillPitch(size_t from, size_t limit) {
  float* pitch = outputs.row(kPitchRow);
  if (pitchGlide.settledAt(currentPitch)) {
    fillRow(pitch, from, limit, pitchGlide.currentValue);
  } else {
    for (size_t i = from; i < limit; ++i) pitch[i] = pitchGlide.nextSample(currentPitch);
  }
  steadyPitch.whole = false;
}

void EventsToSignalsVoice::fillGateAndAge(size_t from, size_t limit) {
  fillSteadyRow(outputs.row(kGateRow), from, limit, currentVelocity, steadyGate);
  if (!writesAgeRow) {
    // Modulo 2^32, as the steps one by one.
    ageInSamples += ageStep * static_cast<uint32_t>(limit - from);
    steadyAge.whole = false;
    return;
  }
  if (ageStep == 0) {
    fillSteadyRow(outputs.row(kAgeRow), from, limit,
                  samplesToSeconds(ageInSamples, static_cast<float>(sampleRate)), steadyAge);
    return;
  }
  steadyAge.whole = false;
  countAge(from, limit);
}

void EventsToSignalsVoice::countAge(size_t from, size_t limit) {
  float* age = outputs.row(kAgeRow);
  const auto sr = static_cast<float>(sampleRate);
  const auto count = static_cast<uint32_t>(limit - from);
  if (ageStep == 1 && ageInSamples <= static_cast<uint32_t>(INT32_MAX) - count) {
    // The same quotients from ages converted as int32, which the compiler vectorises.
    const auto before = static_cast<int32_t>(ageInSamples);
    const auto rate = static_cast<double>(sr);
    for (uint32_t i = 0; i < count; ++i) {
      age[from + i] = static_cast<float>(static_cast<double>(before + static_cast<int32_t>(i) + 1) / rate);
    }
    ageInSamples += count;
  } else {
    for (size_t i = from; i < limit; ++i) {
      ageInSamples += ageStep;
      age[i] = samplesToSeconds(ageInSamples, sr);
    }
  }
}

float EventsToSignalsVoice::lastWrittenGate() const {
  const float* gate = outputs.constRow(kGateRow);
  return writePos > 0 ? gate[writePos - 1] : gate[kLastSampleInVector];
}

}  // namespace ml
