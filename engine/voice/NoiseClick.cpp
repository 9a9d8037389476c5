#include "engine/voice/NoiseClick.h"

#include <algorithm>
#include <cmath>

#include "engine/voice/AnalogDrift.h"
#include "foundation/MLDSPVector.h"
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
  return 0.5f * (1.f - cosf(3.1415927f * fade));
}

void declick(float* row, float& fade, int8_t& fadeState, int triggerIndex, bool retrigger) {
  if (fadeState == 0 && fade >= 1.f && triggerIndex < 0) return;
  for (int i = 0; i < kBlock; ++i) {
    if (i == triggerIndex) {
      if (retrigger) {
        fadeState = -1;
      } else {
        fade = 0.f;
        fadeState = 1;
      }
    }
    if (fadeState == 0 && fade >= 1.f) continue;
    row[i] *= declickGain(fade);
    if (fadeState == -1) {
      fade -= kFadeOutStep;
      if (fade <= 0.f) {
        fade = 0.f;
        fadeState = 1;
      }
    } else {
      fade += kFadeInStep;
      if (fade >= 1.f) {
        fade = 1.f;
        fadeState = 0;
      }
    }
  }
}

void dcBlock(float* row, float (&mem)[2], float sampleRate) {
  const float a = 1.f - 62.83f / sampleRate;
  float xPrev = mem[0];
  float yPrev = mem[1];
  for (int i = 0; i < kBlock; ++i) {
    const float y = row[i] - xPrev + a * yPrev;
    xPrev = row[i];
    yPrev = y;
    row[i] = y;
  }
  mem[0] = xPrev;
  mem[1] = yPrev;
}

void addPinkNoiseFloor(float* row, uint32_t& seed, float (&pink)[3], int voice, float note, float velocity) {
  seedOnce(seed, voice, 0x85EBCA77u, 0x9E37u);
  const float t = ml::safeClamp((note - 36.f) / 60.f, 0.f, 1.f);
  const float amp = 0.0025f * velocity * (1.f - 0.75f * t);
  float b0 = pink[0];
  float b1 = pink[1];
  float b2 = pink[2];
  for (int i = 0; i < kBlock; ++i) {
    const float w = analogSignedUnit(analogXorshift(seed));
    // Kellet's economy pink filter: three one-poles plus a direct term.
    b0 = 0.99765f * b0 + 0.099046f * w;
    b1 = 0.963f * b1 + 0.2965164f * w;
    b2 = 0.57f * b2 + 1.0526913f * w;
    const float p = b0 + b1 + b2 + 0.1848f * w;
    row[i] += 0.063f * p * amp;
  }
  pink[0] = b0;
  pink[1] = b1;
  pink[2] = b2;
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
  for (int i = 0; i < kBlock; ++i) {
    const float w = analogSignedUnit(analogXorshift(seed));
    const float m = noiseMix[i];
    float s = row[i] * (1.f - m) + w * noiseGain * m;
    if (i == clickIndex) clickLevel = 1.f;
    if (clickLevel > kClickEnd) {
      s += w * clickLevel * clickGain;
      clickLevel *= decay;
    }
    row[i] = s;
  }
}
