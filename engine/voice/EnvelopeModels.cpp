#include "engine/voice/EnvelopeModels.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "foundation/MLSIMD.h"
#include "foundation/MLSafeValue.h"

namespace {

using ml::ADSR;

constexpr int kBlock = static_cast<int>(ml::kFloatsPerDSPVector);
constexpr int kTriggerOneShot = 1;
constexpr int kTriggerLoop = 2;
// Below this the rescaled release has nothing to scale from.
constexpr float kRescaleFloor = 1e-7f;
constexpr float kSpanFloor = 1e-6f;
constexpr float kSustainSmoothingSeconds = 0.008f;

float progress01(float x) {
  return ml::safeClamp(x, 0.f, 1.f);
}

// The classic ADSR gate of one sample after the delay stage: 0 while the delay counts down.
float classicDelayGate(EnvWrap& env, bool held) {
  if (env.inDelay && held) {
    if (env.delayCounter > 0) {
      --env.delayCounter;
      return 0.f;
    }
    env.inDelay = false;
    return 1.f;
  }
  env.inDelay = false;
  return held ? 1.f : 0.f;
}

// Holds the peak after the attack: the ADSR stays at 1 in its decay stage for the hold samples.
void classicHold(ADSR& adsr, EnvWrap& env, const EnvShapeParams& p, bool held, float& y, int32_t& st) {
  if (!held) {
    // A hold cut short by the key-up ends, so the display and idle state follow the release.
    env.inHold = false;
    return;
  }
  if (p.holdSamples <= 0 || env.holdDone) return;
  if (!env.inHold && st == ADSR::kDecay) {
    env.inHold = true;
    env.holdCounter = p.holdSamples;
  }
  if (!env.inHold || env.holdCounter <= 0) return;
  --env.holdCounter;
  adsr.y = adsr.yPrev = 1.f;
  y = 1.f;
  st = ADSR::kDecay;
  if (env.holdCounter == 0) {
    env.inHold = false;
    env.holdDone = true;
  }
}

// At the first sample of a release, the level it starts from and whether it rescales.
void noteReleaseStart(const ADSR& adsr, EnvWrap& env, int32_t st) {
  if (st == ADSR::kRelease && env.lastAdsrStage != ADSR::kRelease) {
    env.releaseStartLevel = env.lastOutput;
    env.releaseStartRawLevel = adsr.yPrev;
    env.releaseRescaled = env.lastOutput != adsr.yPrev && adsr.yPrev > kRescaleFloor;
  }
}

// The release's shaping of the generator's output y.
float classicReleaseShape(const EnvWrap& env, const EnvShapeParams& p, float y, float sustain) {
  if (env.releaseRescaled) {
    // Starts the release exactly from the shaped level the envelope had.
    const float raw = env.releaseStartRawLevel;
    float u = progress01((raw - y) / raw);
    if (p.releaseExponent != 1.f) u = powf(u, p.releaseExponent);
    return env.releaseStartLevel * (1.f - u);
  }
  if (p.releaseExponent != 1.f) {
    return shapeEnvSample(y, envSegmentStart(ADSR::kRelease, sustain), 0.f, p.releaseExponent);
  }
  return y;
}

// Small enough to inline into the sample loops, which then keep their state in registers.
inline float classicShape(const EnvWrap& env, const EnvShapeParams& p, float y, int32_t st, float sustain) {
  if (st == ADSR::kAttack) return p.attackExponent != 1.f ? shapeEnvSample(y, 0.f, 1.f, p.attackExponent) : y;
  if (st == ADSR::kDecay) {
    return p.decayExponent != 1.f && !env.inHold ? shapeEnvSample(y, 1.f, sustain, p.decayExponent) : y;
  }
  return st == ADSR::kRelease ? classicReleaseShape(env, p, y, sustain) : y;
}

void classicDisplay(EnvWrap& env, const ADSR& adsr, int triggerMode, float last, float sustain) {
  int32_t stage = kEnvIdle;
  float progress = 0.f;
  if (env.inDelay && env.delayLength > 0) {
    stage = kEnvDelay;
    progress = 1.f - float(env.delayCounter) / float(env.delayLength);
  } else if (env.inHold && env.holdLength > 0) {
    stage = kEnvHold;
    progress = 1.f - float(env.holdCounter) / float(env.holdLength);
  } else if (adsr.stage == ADSR::kAttack) {
    stage = kEnvAttack;
    progress = last;
  } else if (adsr.stage == ADSR::kDecay) {
    stage = kEnvDecay;
    progress = (1.f - sustain > kSpanFloor) ? (1.f - last) / (1.f - sustain) : 0.f;
  } else if (adsr.stage == ADSR::kSustain) {
    stage = triggerMode == kTriggerLoop ? kEnvDecay : kEnvSustain;
    progress = 1.f;
  } else if (adsr.stage == ADSR::kRelease) {
    stage = kEnvRelease;
    progress = 1.f - last / std::max(sustain, kSpanFloor);
  }
  env.displayStage = stage;
  env.displayProgress = progress01(progress);
  env.displayLevel = progress01(last);
}

// Places the attack's counter so that the attack continues from the current level without a step.
void seekAttack(EnvWrap& env, int32_t attackSamples, float curve) {
  env.stage = kEnvAttack;
  env.stageCounter = int32_t(lroundf(progress01(envWarpInv(env.level, curve)) * float(attackSamples)));
}

struct ModernLengths {
  int32_t attack;
  int32_t decay;
  int32_t release;
  int32_t delay;
  int32_t hold;
};

float modernStep(EnvWrap& env, const EnvShapeParams& p, const ModernLengths& n) {
  const float ss = env.smoothedSustain;
  const bool loopHigh = p.triggerMode == kTriggerLoop && env.gate;
  float value = 0.f;
  switch (env.stage) {
    case kEnvDelay:
      value = env.level;
      if (++env.stageCounter >= n.delay) seekAttack(env, n.attack, p.attackCurve);
      break;
    case kEnvAttack:
      value = envWarp(progress01(float(env.stageCounter) / float(n.attack)), p.attackCurve);
      if (env.stageCounter < n.attack) {
        ++env.stageCounter;
      } else {
        value = 1.f;
        env.stage = n.hold >= 1 ? kEnvHold : kEnvDecay;
        env.stageCounter = 0;
      }
      break;
    case kEnvHold:
      value = 1.f;
      if (++env.stageCounter >= n.hold) {
        env.stage = kEnvDecay;
        env.stageCounter = 0;
      }
      break;
    case kEnvDecay:
      value = 1.f + envWarp(progress01(float(env.stageCounter) / float(n.decay)), p.decayCurve) * (ss - 1.f);
      if (env.stageCounter < n.decay) {
        ++env.stageCounter;
      } else {
        value = ss;
        if (loopHigh) {
          env.level = value;
          seekAttack(env, n.attack, p.attackCurve);
        } else {
          env.stage = kEnvSustain;
          env.stageCounter = 0;
          if (p.triggerMode == kTriggerOneShot) env.oneShotLatch = false;
        }
      }
      break;
    case kEnvSustain:
      value = ss;
      if (loopHigh) {
        env.level = value;
        seekAttack(env, n.attack, p.attackCurve);
      } else if (p.triggerMode == kTriggerOneShot && !env.gate) {
        env.oneShotLatch = false;
        env.stage = kEnvRelease;
        env.stageCounter = 0;
        env.modernReleaseStartLevel = value;
      }
      break;
    case kEnvRelease:
      value = env.modernReleaseStartLevel *
              (1.f - envWarp(progress01(float(env.stageCounter) / float(n.release)), p.releaseCurve));
      if (env.stageCounter < n.release) {
        ++env.stageCounter;
      } else {
        value = 0.f;
        env.stage = kEnvIdle;
      }
      break;
    default:
      break;
  }
  return value;
}

void modernDisplay(EnvWrap& env, int32_t delay, int32_t hold, float last) {
  const float ss = env.smoothedSustain;
  int32_t stage = env.stage;
  float progress = 1.f;
  switch (env.stage) {
    case kEnvDelay:
      if (delay > 0) progress = float(env.stageCounter) / float(delay);
      break;
    case kEnvAttack:
      progress = last;
      break;
    case kEnvHold:
      if (hold > 0) progress = float(env.stageCounter) / float(hold);
      break;
    case kEnvDecay:
      if (1.f - ss > kSpanFloor) progress = (1.f - last) / (1.f - ss);
      break;
    case kEnvSustain:
      break;
    case kEnvRelease:
      if (env.modernReleaseStartLevel > kSpanFloor) progress = 1.f - last / env.modernReleaseStartLevel;
      break;
    default:
      stage = kEnvIdle;
      progress = 0.f;
      break;
  }
  env.displayStage = stage;
  env.displayProgress = progress01(progress);
  env.displayLevel = progress01(last);
}

int32_t adsrStageOf(int32_t modernStage) {
  switch (modernStage) {
    case kEnvDelay:
    case kEnvAttack:
      return ADSR::kAttack;
    case kEnvHold:
    case kEnvDecay:
      return ADSR::kDecay;
    case kEnvSustain:
      return ADSR::kSustain;
    case kEnvRelease:
      return ADSR::kRelease;
    default:
      return ADSR::kOff;
  }
}

// A segment length in samples, at least 1.
int32_t samplesOf(float seconds, float sampleRate) {
  return std::max<int32_t>(1, int32_t(lroundf(ml::safeClamp(seconds * sampleRate, 0.f, 1e9f))));
}

// True when every gate sample of the block is above 0 (NaN is not).
bool gateHighThroughout(const ml::DSPVector& gate) {
  using namespace ml::simd;
  I4 high = splatI(-1);
  for (int i = 0; i < kBlock; i += 4)
    high = andMask(high, greaterThan(loadF(gate.getConstBuffer() + i), splat(0.f)));
  return allSet(high);
}

float sustainSmoothing(float sampleRate) {
  return 1.f - expf(-1.f / (kSustainSmoothingSeconds * sampleRate));
}

// True when the whole block holds the modern sustain: no trigger, the gate high throughout, no loop to
// restart, and a smoothed sustain that its step leaves where it is. Each sample then gives one level.
bool heldModernSustain(const EnvWrap& env, const ml::DSPVector& gate, const EnvShapeParams& p,
                       int triggerIndex, float sustain, float sampleRate) {
  if (triggerIndex >= 0 || env.stage != kEnvSustain || p.triggerMode == kTriggerLoop) return false;
  const float ss = env.smoothedSustain;
  const bool settled = ss == sustain || ss + sustainSmoothing(sampleRate) * (sustain - ss) == ss;
  return settled && gateHighThroughout(gate);
}

// The display, and the generator's stage and gate, after a block of the modern model.
void finishModernBlock(ADSR& adsr, EnvWrap& env, const EnvShapeParams& p, float last) {
  modernDisplay(env, std::max(p.delaySamples, 0), std::max(p.holdSamples, 0), last);
  adsr.stage = adsrStageOf(env.stage);
  // Keeps the generator's edge detection in step, so a switch to the classic model sees no false edge.
  adsr.gatePrev = (env.gate || env.oneShotLatch) ? 1.f : 0.f;
}

// True when the whole block holds the sustain level: no trigger, the gate high throughout, no delay,
// hold, loop or one-shot latch left to act. Each sample would then return the same value and change
// nothing but the gate and output memories.
bool steadySustainBlock(const ADSR& adsr, const EnvWrap& env, const ml::DSPVector& gate,
                        const EnvShapeParams& p, int triggerIndex) {
  if (triggerIndex >= 0 || !adsr.holdingSustain() || env.inDelay || env.inHold || env.oneShotLatch ||
      p.triggerMode == kTriggerLoop) {
    return false;
  }
  return gateHighThroughout(gate);
}

// True when the whole block runs with the gate held and nothing but the generator and the shaping
// to do: no trigger, the gate high throughout and after a held one, no delay, no hold left to start,
// no one-shot latch and no loop.
bool plainHeldBlock(const ADSR& adsr, const EnvWrap& env, const ml::DSPVector& gate, const EnvShapeParams& p,
                    int triggerIndex) {
  return triggerIndex < 0 && adsr.gatePrev > 0.f && !env.inDelay && (p.holdSamples <= 0 || env.holdDone) &&
         !env.oneShotLatch && p.triggerMode != kTriggerLoop && gateHighThroughout(gate);
}

// The generator's sample for a held gate, with the release's rescale bookkeeping and the shaping.
float heldSample(ADSR& adsr, EnvWrap& env, const EnvShapeParams& p, float sustain) {
  const float y = adsr.processSample(1.f);
  const int32_t st = adsr.stage;
  noteReleaseStart(adsr, env, st);
  const float shaped = classicShape(env, p, y, st, sustain);
  env.lastOutput = shaped;
  env.lastAdsrStage = st;
  return shaped;
}

// The sustain level as the playhead smooths it, after each sample's step; a note's first trigger
// starts it at the sustain. Once a step leaves it where it is, it stays there.
void smoothSustainRow(EnvWrap& env, float sustain, float a, int triggerIndex, float* row) {
  float ss = env.smoothedSustain;
  for (int i = 0; i < kBlock; ++i) {
    if (i == triggerIndex && !env.sustainInitialised) {
      ss = sustain;
      env.sustainInitialised = true;
    }
    const float next = ss + a * (sustain - ss);
    if (next == ss && (env.sustainInitialised || triggerIndex < 0)) {
      std::fill(row + i, row + kBlock, ss);
      return;
    }
    ss = next;
    row[i] = ss;
  }
}

void startModernNote(EnvWrap& env, const EnvShapeParams& p, const ModernLengths& n) {
  env.oneShotLatch = p.triggerMode == kTriggerOneShot;
  if (n.delay < 1) {
    seekAttack(env, n.attack, p.attackCurve);
  } else {
    env.stage = kEnvDelay;
    env.stageCounter = 0;
  }
}

// One sample of the playhead where a trigger, a key-up or a stage end may turn it.
float modernSample(EnvWrap& env, const EnvShapeParams& p, const ModernLengths& n, bool gateHigh,
                   float smoothedSustain) {
  env.gate = gateHigh;
  if (!(env.gate || env.oneShotLatch) && env.stage != kEnvRelease && env.stage != kEnvIdle) {
    env.stage = kEnvRelease;
    env.stageCounter = 0;
    env.modernReleaseStartLevel = env.level;
  }
  env.smoothedSustain = smoothedSustain;
  env.level = progress01(modernStep(env, p, n));
  return env.level;
}

// How many samples from i on the playhead runs through its stage one step at a time, with nothing to
// decide: no trigger, no key-up, no stage end and no loop or one-shot turn.
int steadyRun(const EnvWrap& env, const EnvShapeParams& p, const ModernLengths& n, uint64_t high,
              int triggerIndex, int i) {
  int limit = (triggerIndex >= i ? std::min(triggerIndex, kBlock) : kBlock) - i;
  const int32_t c = env.stageCounter;
  int32_t left = limit;
  switch (env.stage) {
    case kEnvDelay:
      left = n.delay - 1 - c;
      break;
    case kEnvAttack:
      left = n.attack - c;
      break;
    case kEnvHold:
      left = n.hold - 1 - c;
      break;
    case kEnvDecay:
      left = n.decay - c;
      break;
    case kEnvSustain:
      if (p.triggerMode == kTriggerLoop) return 0;
      break;
    case kEnvRelease:
      return std::clamp(n.release - c, 0, limit);
    default:
      return limit;
  }
  // A key-up ends the stage, and so does a low gate in a one-shot's sustain whatever its latch.
  const bool gateMatters =
      !env.oneShotLatch || (env.stage == kEnvSustain && p.triggerMode == kTriggerOneShot);
  if (gateMatters) limit = std::min(limit, std::countr_one(high >> i));
  return std::clamp(left, 0, limit);
}

// The warped positions counter / length .. (counter + count - 1) / length of a segment.
void segmentPositions(int32_t counter, int32_t length, float curve, int count, float* x) {
  const float len = float(length);
  for (int j = 0; j < count; ++j) x[j] = progress01(float(counter + j) / len);
  envWarpRow(x, count, curve);
}

// The values of a steady run (steadyRun) of count samples, written to out, the counter moved on.
void fillSteadyRun(EnvWrap& env, const EnvShapeParams& p, const ModernLengths& n, const float* smoothed,
                   int count, float* out) {
  switch (env.stage) {
    case kEnvDelay:
      std::fill(out, out + count, progress01(env.level));
      break;
    case kEnvAttack:
      segmentPositions(env.stageCounter, n.attack, p.attackCurve, count, out);
      for (int j = 0; j < count; ++j) out[j] = progress01(out[j]);
      break;
    case kEnvHold:
      std::fill(out, out + count, 1.f);
      break;
    case kEnvDecay:
      segmentPositions(env.stageCounter, n.decay, p.decayCurve, count, out);
      for (int j = 0; j < count; ++j) out[j] = progress01(1.f + out[j] * (smoothed[j] - 1.f));
      break;
    case kEnvSustain:
      for (int j = 0; j < count; ++j) out[j] = progress01(smoothed[j]);
      break;
    case kEnvRelease:
      segmentPositions(env.stageCounter, n.release, p.releaseCurve, count, out);
      for (int j = 0; j < count; ++j) out[j] = progress01(env.modernReleaseStartLevel * (1.f - out[j]));
      break;
    default:
      std::fill(out, out + count, 0.f);
      break;
  }
  if (env.stage != kEnvSustain && env.stage != kEnvIdle) env.stageCounter += count;
  env.level = out[count - 1];
}

}  // namespace

GateEdges gateEdges(const float* gate, float before) {
  using namespace ml::simd;
  // Masks of the samples above 0 and of those at or below 0 (NaN is neither); the previous sample's
  // masks are the same shifted by one, with before at the bottom.
  const F4 zero = splat(0.f);
  uint64_t high = 0;
  uint64_t low = 0;
#pragma GCC unroll 16
  for (int i = 0; i < kBlock; i += 4) {
    const F4 g = loadF(gate + i);
    high |= uint64_t(laneBits(greaterThan(g, zero))) << i;
    low |= uint64_t(laneBits(greaterEqual(zero, g))) << i;
  }
  const uint64_t highBefore = (high << 1) | (before > 0.f ? 1u : 0u);
  const uint64_t lowBefore = (low << 1) | (before <= 0.f ? 1u : 0u);
  return {high & lowBefore, low & highBefore, high};
}

int firstGateRise(const float* gate, float before) {
  const uint64_t rises = gateEdges(gate, before).rises;
  return rises ? std::countr_zero(rises) : -1;
}

void glideStageTime(float& stored, float target, float c) {
  if (stored < 0.f) {
    stored = target;
  } else {
    stored += c * (target - stored);
  }
}

ml::DSPVector renderEnvelope(ADSR& adsr, EnvWrap& env, const ml::DSPVector& gate, const EnvShapeParams& p,
                             int triggerIndex, float sampleRate) {
  const float sustain = adsr.coeffs.s;
  if (steadySustainBlock(adsr, env, gate, p, triggerIndex)) {
    const ml::DSPVector out(adsr.sustainOutput());
    adsr.gatePrev = 1.f;
    env.gate = true;
    env.lastOutput = out[kBlock - 1];
    env.lastAdsrStage = ADSR::kSustain;
    classicDisplay(env, adsr, p.triggerMode, out[kBlock - 1], sustain);
    return out;
  }
  ml::DSPVector out;
  if (plainHeldBlock(adsr, env, gate, p, triggerIndex)) {
    env.gate = true;
    // The loops run on a local copy of the generator, whose state the compiler keeps in registers.
    ADSR generator = adsr;
    for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) out[i] = heldSample(generator, env, p, sustain);
    adsr = generator;
    classicDisplay(env, adsr, p.triggerMode, out[kBlock - 1], sustain);
    return out;
  }
  ADSR generator = adsr;
  for (int i = 0; i < kBlock; ++i) {
    if (i == triggerIndex) {
      env.delayCounter = env.delayLength = p.delaySamples;
      env.inDelay = p.delaySamples > 0;
      env.holdCounter = 0;
      env.holdLength = p.holdSamples;
      env.inHold = false;
      env.holdDone = false;
      env.oneShotLatch = p.triggerMode == kTriggerOneShot;
    }
    env.gate = gate[size_t(i)] > 0.f;
    const bool held = env.gate || env.oneShotLatch;
    float y = generator.processSample(classicDelayGate(env, held));
    int32_t st = generator.stage;
    classicHold(generator, env, p, held, y, st);
    noteReleaseStart(generator, env, st);
    const float shaped = classicShape(env, p, y, st, sustain);
    if (p.triggerMode == kTriggerOneShot && env.oneShotLatch &&
        (st == ADSR::kSustain || (!env.inHold && generator.decaySettled()))) {
      // A decay toward a sustain of 1 stalls short of the sustain stage: settled counts as arrived.
      env.oneShotLatch = false;
    } else if (p.triggerMode == kTriggerLoop && env.gate && st == ADSR::kSustain) {
      generator.gatePrev = 0.f;  // the next sample restarts the attack from the current level
    }
    out[size_t(i)] = shaped;
    env.lastOutput = shaped;
    env.lastAdsrStage = st;
  }
  adsr = generator;
  classicDisplay(env, adsr, p.triggerMode, out[kBlock - 1], sustain);
  return out;
}

ml::DSPVector renderEnvelopeModern(ADSR& adsr, EnvWrap& env, const ml::DSPVector& gate,
                                   const EnvShapeParams& p, int triggerIndex, float sampleRate) {
  const float sustain = ml::safeClamp(p.sustain, 0.f, 1.f);
  if (heldModernSustain(env, gate, p, triggerIndex, sustain, sampleRate)) {
    env.gate = true;
    env.level = progress01(env.smoothedSustain);
    finishModernBlock(adsr, env, p, env.level);
    return ml::DSPVector(env.level);
  }
  const ModernLengths n{samplesOf(std::max(p.attack, 0.f), sampleRate), samplesOf(p.decay, sampleRate),
                        samplesOf(p.release, sampleRate), std::max(p.delaySamples, 0),
                        std::max(p.holdSamples, 0)};
  float smoothed[kBlock];
  smoothSustainRow(env, sustain, sustainSmoothing(sampleRate), triggerIndex, smoothed);
  const uint64_t high = gateEdges(gate, 0.f).high;
  ml::DSPVector out;
  for (int i = 0; i < kBlock;) {
    const int run = steadyRun(env, p, n, high, triggerIndex, i);
    if (run > 0) {
      fillSteadyRun(env, p, n, smoothed + i, run, out.getBuffer() + i);
      i += run;
      env.gate = gate[size_t(i - 1)] > 0.f;
      continue;
    }
    if (i == triggerIndex) startModernNote(env, p, n);
    out[size_t(i)] = modernSample(env, p, n, gate[size_t(i)] > 0.f, smoothed[i]);
    ++i;
  }
  env.smoothedSustain = smoothed[kBlock - 1];
  finishModernBlock(adsr, env, p, out[kBlock - 1]);
  return out;
}
