// Linear glides that smooth the allocator's outputs: one per sample, one per 64-sample vector.
#include "foundation/MLEventGlides.h"

#include "foundation/MLSafeValue.h"

namespace ml {

void SampleAccurateLinearGlide::setGlideTimeInSamples(float n) {
  samplesPerGlide = ml::max(saturateToInt32(n), int32_t{1});
  invSamplesPerGlide = 1.0f / static_cast<float>(samplesPerGlide);
}

float SampleAccurateLinearGlide::nextSample(float newTarget) {
  // Written as != so that a NaN target always counts as a new one.
  if (newTarget != target) {
    target = newTarget;
    samplesRemaining = samplesPerGlide;
  }
  if (samplesRemaining > 0) {
    if (samplesRemaining == samplesPerGlide) {
      stepPerSample = (target - currentValue) * invSamplesPerGlide;
    } else {
      currentValue += stepPerSample;
    }
    --samplesRemaining;
  } else if (samplesRemaining == 0) {
    currentValue = target;
    stepPerSample = 0.f;
    samplesRemaining = -1;
  }
  return currentValue;
}

void LinearGlide::setGlideTimeInSamples(float n) {
  vectorsPerGlide = ml::max(saturateToInt32(n / static_cast<float>(kFloatsPerDSPVector)), int32_t{1});
  stepScale = 1.0f / static_cast<float>(vectorsPerGlide);
}

void LinearGlide::setValue(float v) {
  target = v;
  vectorsRemaining = 0;
}

const DSPVector& LinearGlide::operator()(float newTarget) {
  if (unreadSteps != 0) caughtUp();
  if (newTarget != target) {
    target = newTarget;
    vectorsRemaining = vectorsPerGlide;
  }
  if (vectorsRemaining > 0) {
    if (vectorsRemaining == vectorsPerGlide) {
      const float last = currentVector[kLastSampleInVector];
      stepVector = DSPVector((target - last) * stepScale);
      currentVector = DSPVector(last) + kUnityRampVec * stepVector;
    } else {
      currentVector += stepVector;
    }
    --vectorsRemaining;
  } else if (vectorsRemaining == 0) {
    currentVector = target;
    stepVector = 0.f;
    vectorsRemaining = -1;
  }
  return currentVector;
}

const DSPVector& LinearGlide::caughtUp() {
  for (; unreadSteps > 0; --unreadSteps) currentVector += stepVector;
  return currentVector;
}

}  // namespace ml
