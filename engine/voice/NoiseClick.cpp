#include "engine/voice/NoiseClick.h"

#include <algorithm>
#include <cmath>

#include "engine/voice/AnalogDrift.h"
#include "foundation/MLDSPGens.h"
#include "foundation/MLDSPVector.h"
#include "foundation/MLFastMath.h"
#include "foundation/MLSIMD.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr int kBlock = static_cast<int>(ml::kFloatsPerDSPVector);
constexpr float kFadeOutStep = 1.f / 64.f;
constexpr float kFadeInStep = 1.f / 256.f;
// Scales uniform noise in -1..1 to unit RMS.
constexpr float kSqrt3 = 1.7320508f;
constexpr float kClickEnd = 0.00001f;

// Lazily seeds a voice's noise generator from its index; a release tail counts as voice 0.
void seedOnce(uint32_t& seed, int voice, uint32_t mul, uint32_t add) {
  if (seed == 0) seed = analogHash(static_cast<uint32_t>(std::max(voice, 0)) * mul + add) | 1u;
}

}  // namespace

float declickGain(float fade) {
  return ml::raisedCosineFade(fade);
}

namespace {

// Four lanes of ml::raisedCosineFade, in its operation order.
ml::simd::Lanes raisedCosineFadeLanes(ml::simd::Lanes x) {
  using namespace ml::simd;
  constexpr float kHalfPi = 1.57079632679f;
  const I4 upper = greaterThan(x.v, splat(0.5f));
  const Lanes s = ml::sinOfFoldedAngle(kHalfPi * select(1.f - x, x, upper));
  return select(1.f - s * s, s * s, upper);
}

// A fade running in through the whole block from a position on its steps' grid (a multiple of 2^-8 below 1,
// as every fade that starts at 0 is): each sample's position is the start plus its steps, which add
// exactly, up to 1.
bool fadesInOnGrid(float position, int8_t state, int triggerIndex) {
  const float steps = position * (1.f / kFadeInStep);
  return state == 1 && (triggerIndex < 0 || triggerIndex >= kBlock) && position >= 0.f && position < 1.f &&
         float(int(steps)) == steps;
}

void fadeInGains(float& position, int8_t& state, float* gain) {
  using ml::simd::Lanes;
  const Lanes start = position;
  for (int i = 0; i < kBlock; i += 4) {
    const Lanes steps(ml::simd::fromLanes(float(i), float(i + 1), float(i + 2), float(i + 3)));
    ml::simd::storeF(gain + i, ml::simd::min(start + steps * kFadeInStep, 1.f).v);
  }
  position += float(kBlock) * kFadeInStep;
  if (position >= 1.f) {
    position = 1.f;
    state = 0;
  }
}

// The fade position of each sample, one step at a time (1 once the fade has ended).
void fadeGains(float& position, int8_t& state, int triggerIndex, bool retrigger, float* gain) {
  for (int i = 0; i < kBlock; ++i) {
    if (i == triggerIndex) {
      if (retrigger) {
        state = -1;
      } else {
        position = 0.f;
        state = 1;
      }
    }
    if (state == 0 && position >= 1.f) {
      gain[i] = 1.f;
      continue;
    }
    gain[i] = position;
    if (state == -1) {
      position -= kFadeOutStep;
      if (position <= 0.f) {
        position = 0.f;
        state = 1;
      }
    } else {
      position += kFadeInStep;
      if (position >= 1.f) {
        position = 1.f;
        state = 0;
      }
    }
  }
}

}  // namespace

void declick(float* row, float& fade, int8_t& fadeState, int triggerIndex, bool retrigger) {
  if (fadeState == 0 && fade >= 1.f && triggerIndex < 0) return;
  // The fade position of each sample first, then the gains as a row.
  float position = fade;  // in locals, so that the loop keeps them in registers
  int8_t state = fadeState;
  alignas(16) float gain[kBlock];
  if (fadesInOnGrid(position, state, triggerIndex)) {
    fadeInGains(position, state, gain);
  } else {
    fadeGains(position, state, triggerIndex, retrigger, gain);
  }
  fade = position;
  fadeState = state;
  using namespace ml::simd;
  for (int i = 0; i < kBlock; i += 4)
    storeU(row + i, mul(loadU(row + i), raisedCosineFadeLanes(Lanes(loadF(gain + i))).v));
}

void dcBlock(float* row, float (&mem)[2], float sampleRate) {
  alignas(16) float aligned[kBlock];
  std::copy_n(row, kBlock, aligned);
  const DcBlockJob job{aligned, mem};
  dcBlocks(&job, 1, sampleRate);
  std::copy_n(aligned, kBlock, row);
}

namespace {

constexpr int kDcLanes = 4;

// Up to four rows, job c in lane c: the differences x[i] - x[i - 1] first, then the one-pole recursion
// over them.
void dcBlockLanes(const DcBlockJob* jobs, int n, float a) {
  using namespace ml::simd;
  alignas(16) float spare[kBlock]{};
  alignas(16) float prevIn[kDcLanes]{};
  alignas(16) float prevOut[kDcLanes]{};
  float* row[kDcLanes] = {spare, spare, spare, spare};
  for (int c = 0; c < n; ++c) {
    row[c] = jobs[c].row;
    prevIn[c] = jobs[c].mem[0];
    prevOut[c] = jobs[c].mem[1];
  }
  F4 before = loadF(prevIn);
  F4 y = loadF(prevOut);
  const F4 pole = splat(a);
  for (int i = 0; i < kBlock; i += 4) {
    F4 x[kDcLanes] = {loadF(row[0] + i), loadF(row[1] + i), loadF(row[2] + i), loadF(row[3] + i)};
    transpose4(x[0], x[1], x[2], x[3]);
    for (F4& sample : x) {
      const F4 diff = sub(sample, before);
      before = sample;
      sample = y = add(diff, mul(pole, y));
    }
    transpose4(x[0], x[1], x[2], x[3]);
    for (int c = 0; c < kDcLanes; ++c) storeF(row[c] + i, x[c]);
  }
  storeF(prevIn, before);
  storeF(prevOut, y);
  for (int c = 0; c < n; ++c) {
    jobs[c].mem[0] = prevIn[c];
    jobs[c].mem[1] = prevOut[c];
  }
}

}  // namespace

void dcBlocks(const DcBlockJob* jobs, int n, float sampleRate) {
  const float a = ml::dcBlockerPole(62.83f, sampleRate);
  for (int first = 0; first < n; first += kDcLanes)
    dcBlockLanes(jobs + first, std::min(kDcLanes, n - first), a);
}

void addPinkNoiseFloor(float* row, uint32_t& seed, float (&pink)[3], int voice, float note, float velocity) {
  using namespace ml::simd;
  alignas(16) float floor[kBlock];
  const PinkFloorJob job{&seed, pink, voice, note, velocity, floor};
  pinkNoiseFloors(&job, 1);
  for (int i = 0; i < kBlock; i += 4) storeU(row + i, add(loadU(row + i), loadF(floor + i)));
}

namespace {

constexpr int kPinkLanes = 4;

// The next value of one noise generator (analogXorshift, then analogSignedUnit), or of four in lanes.
float nextSignedUnit(uint32_t& s) {
  return analogSignedUnit(analogXorshift(s));
}

ml::simd::Lanes nextSignedUnit(ml::simd::I4& s) {
  using namespace ml::simd;
  s = xorI(s, shiftLeftI<13>(s));
  s = xorI(s, shiftRightI<17>(s));
  s = xorI(s, shiftLeftI<5>(s));
  return Lanes(sub(mul(unsignedToFloatExact(s), splat(4.656613e-10f)), splat(1.f)));
}

// Kellet's economy pink filter, three one-poles plus a direct term, of one floor or of four in lanes.
template <typename T>
struct PinkFilterOf {
  T b0, b1, b2;
};

// The floor's next sample from white noise w, scaled by gain.
template <typename T>
T pinkFloorStep(PinkFilterOf<T>& f, T w, T gain) {
  f.b0 = 0.99765f * f.b0 + 0.099046f * w;
  f.b1 = 0.963f * f.b1 + 0.2965164f * w;
  f.b2 = 0.57f * f.b2 + 1.0526913f * w;
  const T p = f.b0 + f.b1 + f.b2 + 0.1848f * w;
  return 0.063f * p * gain;
}

// Seeds a job's generator once and gives its floor's gain.
float pinkFloorGain(const PinkFloorJob& j) {
  seedOnce(*j.seed, j.voice, 0x85EBCA77u, 0x9E37u);
  const float t = ml::safeClamp((j.note - 36.f) / 60.f, 0.f, 1.f);
  return 0.0025f * j.velocity * (1.f - 0.75f * t);
}

// One floor alone: lanes would leave three of four idle.
void pinkNoiseFloorAlone(const PinkFloorJob& j) {
  const float gain = pinkFloorGain(j);
  uint32_t s = *j.seed;
  PinkFilterOf<float> f{j.pink[0], j.pink[1], j.pink[2]};
#pragma GCC unroll 4
  for (int i = 0; i < kBlock; ++i) j.floor[i] = pinkFloorStep(f, nextSignedUnit(s), gain);
  *j.seed = s;
  j.pink[0] = f.b0;
  j.pink[1] = f.b1;
  j.pink[2] = f.b2;
}

// Up to four floors, job c in lane c.
void pinkNoiseFloorLanes(const PinkFloorJob* jobs, int n) {
  using namespace ml::simd;
  alignas(16) uint32_t seeds[kPinkLanes]{1u, 1u, 1u, 1u};
  alignas(16) float state[3][kPinkLanes]{};
  alignas(16) float amp[kPinkLanes]{};
  for (int c = 0; c < n; ++c) {
    const PinkFloorJob& j = jobs[c];
    amp[c] = pinkFloorGain(j);
    seeds[c] = *j.seed;
    for (int k = 0; k < 3; ++k) state[k][c] = j.pink[k];
  }
  I4 s = loadI(reinterpret_cast<const int32_t*>(seeds));
  PinkFilterOf<Lanes> f{Lanes(loadF(state[0])), Lanes(loadF(state[1])), Lanes(loadF(state[2]))};
  const Lanes gain(loadF(amp));
  alignas(16) float lanes[kBlock][kPinkLanes];
  for (int i = 0; i < kBlock; ++i) storeF(lanes[i], pinkFloorStep(f, nextSignedUnit(s), gain).v);
  storeI(reinterpret_cast<int32_t*>(seeds), s);
  storeF(state[0], f.b0.v);
  storeF(state[1], f.b1.v);
  storeF(state[2], f.b2.v);
  for (int c = 0; c < n; ++c) {
    *jobs[c].seed = seeds[c];
    for (int k = 0; k < 3; ++k) jobs[c].pink[k] = state[k][c];
  }
  for (int i = 0; i < kBlock; i += 4) {
    F4 rows[kPinkLanes] = {loadF(lanes[i]), loadF(lanes[i + 1]), loadF(lanes[i + 2]), loadF(lanes[i + 3])};
    transpose4(rows[0], rows[1], rows[2], rows[3]);
    for (int c = 0; c < n; ++c) storeF(jobs[c].floor + i, rows[c]);
  }
}

}  // namespace

void pinkNoiseFloors(const PinkFloorJob* jobs, int n) {
  for (int first = 0; first < n; first += kPinkLanes) {
    const int group = std::min(kPinkLanes, n - first);
    if (group == 1) {
      pinkNoiseFloorAlone(jobs[first]);
    } else {
      pinkNoiseFloorLanes(jobs + first, group);
    }
  }
}

bool clickFires(float clickAmount, int voice, int noteStart, float levelAtBlockStart) {
  return clickAmount > 0.0001f && voice >= 0 && noteStart >= 0 && levelAtBlockStart < 0.01f;
}

void noiseMixAndClick(float* row, const float* noiseMix, uint32_t& seed, float& clickLevel, float clickAmount,
                      float velocity, int clickIndex, int voice, float sampleRate) {
  seedOnce(seed, voice, 0xAC564B05u, 0xB5297Au);
  const float decay = expf(-1.f / (0.0015f * sampleRate));
  const float noiseGain = kSqrt3 * velocity;
  const float clickGain = clickAmount * kSqrt3 * velocity;
  // The noise in order first (each draw advances the seed), then the mix four lanes at a time, then the
  // click, which sounds only in the few blocks after a trigger.
  alignas(16) float noise[kBlock];
  for (int i = 0; i < kBlock; ++i) noise[i] = analogSignedUnit(analogXorshift(seed));
  using namespace ml::simd;
  for (int i = 0; i < kBlock; i += 4) {
    const F4 m = loadU(noiseMix + i);
    const F4 dry = mul(loadU(row + i), sub(splat(1.f), m));
    storeU(row + i, add(dry, mul(mul(loadF(noise + i), splat(noiseGain)), m)));
  }
  const bool triggered = clickIndex >= 0 && clickIndex < kBlock;
  if (!triggered && !(clickLevel > kClickEnd)) return;
  for (int i = 0; i < kBlock; ++i) {
    if (i == clickIndex) clickLevel = 1.f;
    if (clickLevel > kClickEnd) {
      row[i] += noise[i] * clickLevel * clickGain;
      clickLevel *= decay;
    }
  }
}
