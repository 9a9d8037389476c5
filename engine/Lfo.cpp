#include "engine/Lfo.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "foundation/MLSafeValue.h"

namespace {

constexpr float kPi = 3.1415927f;
constexpr float kTwoPi = 6.2831855f;

// Fades the last 5 percent of a cycle towards 0.5, so patterns without a whole number of periods
// per cycle join their start without a step.
float fadeCycleEnd(float s, float p) {
  if (p > 0.95f) {
    const float w = 0.5f * (1.f - cosf(kPi * 20.f * (p - 0.95f)));
    s += (0.5f - s) * w;
  }
  return s;
}

float wrapOnce(float p) {
  return p >= 1.f ? p - 1.f : p;
}

}  // namespace

LfoSettings LfoSettings::fromParams(double rate, double pattern, double slew, double phase, double syncMode) {
  LfoSettings s;
  s.rate = static_cast<float>(ml::safeClamp(rate, 0.0, 1.0));
  s.pattern = static_cast<int>(std::lround(ml::safeClamp(pattern, 0.0, 9.0)));
  s.slew = slew > 0.5;
  s.phaseOffset = static_cast<float>(ml::safeClamp(phase, 0.0, 1.0));
  s.tempoLocked = static_cast<int>(ml::safeClamp(syncMode, 0.0, 2.0) + 0.5) == 1;
  return s;
}

float LFO::rateToHz(float x) {
  return 0.05f * powf(400.f, x);
}

float LFO::freeHz(float rate) {
  const auto bits = std::bit_cast<uint32_t>(rate);
  if (bits != hzRateBits) {
    hzRateBits = bits;
    freeHzValue = rateToHz(rate);
  }
  return freeHzValue;
}

int LFO::rateToDivIndex(float x) {
  return static_cast<int>(ml::safeClamp(x * 11.f + 0.5f, 0.f, 11.f));
}

double LFO::effectiveTempo(double bpm) {
  return (std::isfinite(bpm) && bpm > 0.0) ? bpm : 120.0;
}

float LFO::applySlew(float v, float hz, int numSamples, float sampleRate, bool slew) {
  if (!slew) {
    value = v;
    return v;
  }
  const float c = std::max(4.f * hz, 8.f);
  value += (v - value) * (1.f - expf(-c * static_cast<float>(numSamples) / sampleRate));
  return value;
}

float LFO::process(float hz, int pattern, bool slew, int numSamples, float sampleRate, float phaseOffset) {
  phase += hz * static_cast<float>(numSamples) / sampleRate;
  if (phase >= 1.f) phase -= floorf(phase);
  const float v = shape(pattern, wrapOnce(phase + phaseOffset));
  return applySlew(v, hz, numSamples, sampleRate, slew);
}

float LFO::processSync(int divIndex, float bpm, int pattern, bool slew, int numSamples, float sampleRate,
                       float phaseOffset, double songPosBeats, bool playing) {
  const float beats = kSyncDivBeats[std::clamp(divIndex, 0, 11)];
  const float beatSeconds = 60.f / std::max(static_cast<float>(effectiveTempo(bpm)), 20.f);
  const float hz = 1.f / std::max(beats * beatSeconds, 0.001f);
  const double position =
      songPosBeats + (static_cast<double>(numSamples) / sampleRate) / static_cast<double>(beatSeconds);
  // Without a usable song position the LFO runs free at the division's rate.
  if (!playing || !std::isfinite(position)) {
    return process(hz, pattern, slew, numSamples, sampleRate, phaseOffset);
  }
  const double cycles = position / std::max(static_cast<double>(beats), 0.0001);
  phase = static_cast<float>(cycles - std::floor(cycles));
  // A huge position can round the float phase up to 1.
  if (phase >= 1.f) phase = 0.f;
  const float p = wrapOnce(phase + phaseOffset);
  return applySlew(shape(pattern, syncWarp(pattern, p)), hz, numSamples, sampleRate, slew);
}

float LFO::runBlock(const LfoSettings& settings, const LfoTransport& transport, int numSamples,
                    float sampleRate) {
  if (!settings.tempoLocked) {
    return process(freeHz(settings.rate), settings.pattern, settings.slew, numSamples, sampleRate,
                   settings.phaseOffset);
  }
  if (transport.started) resetPhase();
  return processSync(rateToDivIndex(settings.rate), static_cast<float>(effectiveTempo(transport.tempo)),
                     settings.pattern, settings.slew, numSamples, sampleRate, settings.phaseOffset,
                     transport.songPosBeats, transport.playing);
}

float LFO::shape(int pattern, float p) {
  switch (pattern) {
    case 0:  // "bloom"
      return 0.5f + 0.5f * sinf(kTwoPi * p);
    case 1:  // "spiral"
      return fadeCycleEnd(0.5f + 0.5f * sinf(kTwoPi * 1.618034f * p), p);
    case 2:  // "pulse"
      if (p < 0.1f) return 0.5f * (1.f - cosf(kPi * p / 0.1f));
      if (p < 0.5f) return 1.f;
      if (p < 0.6f) return 0.5f * (1.f + cosf(kPi * (p - 0.5f) / 0.1f));
      return 0.f;
    case 3:  // "scatter"
      return scatter(p);
    case 4:  // "breathe"
      if (p < 0.7f) return 0.5f * (1.f - cosf(kPi * p / 0.7f));
      return 0.5f * (1.f + cosf(kPi * (p - 0.7f) / 0.3f));
    case 5:  // "nobrel"
      return std::fabs(sinf(3.f * kPi * p));
    case 6: {  // "orbit"
      const float s = sinf(kTwoPi * p);
      return 1.f - sqrtf(std::max(0.f, 1.f - s * s));
    }
    case 7:  // "tide"
      return fadeCycleEnd(0.25f * (sinf(kTwoPi * p) + sinf(kTwoPi * 1.4142135f * p)) + 0.5f, p);
    case 8: {  // "fern"
      const float q = p < 0.5f ? 2.f * p : 2.f - 2.f * p;
      return powf(q, 2.5f);
    }
    case 9: {  // "corona"
      const float q = fmodf(4.f * p, 1.f) - 0.5f;
      return expf(-50.f * q * q);
    }
    default:
      return 0.f;
  }
}

float LFO::scatter(float p) {
  const float x = 8.f * p;
  // NaN lands in segment 0 rather than reaching the integer conversion.
  const int segment = x >= 0.f ? static_cast<int>(std::min(x, 7.f)) : 0;
  const float t = x - static_cast<float>(segment);
  if (segment != lastSegment) {
    int k = segment - lastSegment;
    if (k < 0 || k > 4 || lastSegment < 0) k = 4;
    for (int i = 0; i < k; ++i) {
      points[0] = points[1];
      points[1] = points[2];
      points[2] = points[3];
      points[3] = nextRandom();
    }
    lastSegment = segment;
  }
  return std::clamp(cubicHermite(points[0], points[1], points[2], points[3], t), 0.f, 1.f);
}

float LFO::syncWarp(int pattern, float p) const {
  static constexpr float kSpiralG[] = {0.25f, 0.5f, 0.75f};
  static constexpr float kSpiralN[] = {0.1545f, 0.4636f, 0.7725f};
  static constexpr float kBreatheG[] = {0.75f};
  static constexpr float kBreatheN[] = {0.7f};
  static constexpr float kTideG[] = {0.25f, 0.5f};
  static constexpr float kTideN[] = {0.2011f, 0.5991f};
  switch (pattern) {
    case 1:
      return pwlWarp(p, kSpiralG, kSpiralN, 3);
    case 4:
      return pwlWarp(p, kBreatheG, kBreatheN, 1);
    case 7:
      return pwlWarp(p, kTideG, kTideN, 2);
    case 9: {
      const float q = p - 0.125f;
      return q < 0.f ? q + 1.f : q;
    }
    default:
      return p;
  }
}

float LFO::pwlWarp(float x, const float* g, const float* n, int count) {
  float gs = 0.f;
  float ns = 0.f;
  int i = 0;
  while (i < count && g[i] <= x) {
    gs = g[i];
    ns = n[i];
    ++i;
  }
  if (i == count) return ns + (x - gs) * (1.f - ns) / (1.f - gs);
  return ns + (x - gs) * (n[i] - ns) / (g[i] - gs);
}

float LFO::cubicHermite(float y0, float y1, float y2, float y3, float t) {
  const float c3 = (y3 - y0) * 0.5f + 1.5f * (y1 - y2);
  const float c2 = y0 - 2.5f * y1 + 2.f * y2 - 0.5f * y3;
  const float c1 = 0.5f * (y2 - y0);
  return ((c3 * t + c2) * t + c1) * t + y1;
}

float LFO::nextRandom() {
  seed = seed * 1103515245u + 12345u;
  return static_cast<float>(seed & 0x7FFFu) / 32767.f;
}

double songPosAtFrames(double hostPosBeats, uint64_t framesSinceUpdate, double tempo, double sampleRate) {
  return hostPosBeats +
         static_cast<double>(framesSinceUpdate) / sampleRate * LFO::effectiveTempo(tempo) / 60.0;
}
