// One voice of the events-to-signals allocator.
#include "foundation/MLEventsToSignalsVoice.h"

#include <cmath>
#include <initializer_list>

#include "foundation/MLSafeValue.h"
#include "foundation/MLScalarMath.h"

namespace ml {

namespace {
constexpr double kDriftGlideSeconds = 8.0;
constexpr double kDriftIntervalSeconds = 8.0;
constexpr float kSemitonesPerOctaveInv = 0.083333336f;
constexpr float kDriftScale = 0.02f;
constexpr uint32_t kDriftSeedPerVoice = 232;
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
  for (LinearGlide* g : {&pitchBendGlide, &modGlide, &xGlide, &yGlide, &zGlide}) g->setValue(0.f);
}

void EventsToSignalsVoice::beginProcess() {
  if (recalcNeeded) {
    pitchGlideTimeInSamples = saturateToInt32(sampleRate * static_cast<double>(pitchGlideTimeInSeconds));
    if (!noGlide) pitchGlide.setGlideTimeInSamples(static_cast<float>(pitchGlideTimeInSamples));
    const auto controllerSamples = static_cast<float>(kControllerGlideSeconds * sampleRate);
    for (LinearGlide* g : {&pitchBendGlide, &modGlide, &xGlide, &yGlide, &zGlide}) {
      g->setGlideTimeInSamples(controllerSamples);
    }
    driftGlide.setGlideTimeInSamples(static_cast<float>(kDriftGlideSeconds * sampleRate));
    recalcNeeded = false;
  }
  writePos = 0;

  // Reaching or passing the interval fires: intervals are not multiples of the block length.
  driftCounter += static_cast<int32_t>(kFloatsPerDSPVector);
  if (driftCounter >= driftInterval) {
    driftValue = driftSource.getFloat();
    const float r = std::fabs(driftSource.getFloat());
    driftCounter = 0;
    driftInterval = saturateToInt32(sampleRate * (1.0 + r) * kDriftIntervalSeconds);
  }
}

void EventsToSignalsVoice::endProcess(float bendRange) {
  if (writePos < kFloatsPerDSPVector) fillUntil(kFloatsPerDSPVector);

  const DSPVector bend = pitchBendGlide(currentPitchBend);
  const DSPVector drift = driftGlide(driftValue);
  const DSPVector mod = modGlide(currentMod);
  const DSPVector x = xGlide(currentX);
  const DSPVector y = yGlide(currentY);
  if (currentVelocity == 0.f) currentZ = 0.f;
  const DSPVector z = zGlide(currentZ);

  float* pitch = outputs.row(kPitchRow);
  for (size_t i = 0; i < kFloatsPerDSPVector; ++i) {
    pitch[i] += bend[i] * bendRange * kSemitonesPerOctaveInv;
    pitch[i] += drift[i] * driftAmount * kDriftScale;
    outputs.row(kModRow)[i] = mod[i];
    outputs.row(kXRow)[i] = x[i];
    outputs.row(kYRow)[i] = y[i];
    outputs.row(kZRow)[i] = z[i];
  }
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
  float* pitch = outputs.row(kPitchRow);
  float* gate = outputs.row(kGateRow);
  float* age = outputs.row(kAgeRow);
  const auto sr = static_cast<float>(sampleRate);
  for (size_t i = writePos; i < limit; ++i) {
    gate[i] = currentVelocity;
    pitch[i] = pitchGlide.nextSample(currentPitch);
    ageInSamples += ageStep;
    age[i] = samplesToSeconds(ageInSamples, sr);
  }
  writePos = ml::max(writePos, limit);
}

float EventsToSignalsVoice::lastWrittenGate() const {
  const float* gate = outputs.constRow(kGateRow);
  return writePos > 0 ? gate[writePos - 1] : gate[kFloatsPerDSPVector - 1];
}

}  // namespace ml
