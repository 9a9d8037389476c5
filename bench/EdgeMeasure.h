// Measures of the output's edges, shared by tavrin-edges and the tests: renders of the engine, the aliasing
// of a render against one at eight times the rate, and true peaks.
//
// Aliasing: both renders are analysed from 0.5 s on with a 65,536-point Blackman-Harris window (4 terms);
// the reference is decimated by 8 with a 2,049-tap Blackman-Harris windowed sinc (cutoff at the test
// rate's Nyquist). Levels are taken relative to each render's strongest partial (a resonant filter
// compresses differently at the two rates), and a spectral peak of the test render counts as aliasing
// where it stands 20 dB or more above the reference everywhere within 1 % (at least 8 bins) of its
// frequency (a self-oscillating filter's pitch moves a little with the rate); it is given in dB
// below the strongest partial. True peak: 16x oversampling by a Kaiser-windowed sinc (beta 8), 64 taps per
// phase.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

#include "Fft.h"
#include "engine/ParamTable.h"
#include "engine/PluginProcessor.h"
#include "engine/TruePeakLimiter.h"
#include "platform/FloatingPointControl.h"

namespace edge_measure {

constexpr double kPi = 3.14159265358979323846;
constexpr int kFftSize = 65536;
constexpr double kAnalysisStart = 0.5;  // seconds
constexpr int kReferenceFactor = 8;

struct Param {
  uint32_t id;
  double plain;
};

struct Note {
  double start;  // seconds
  int key;
  double duration;
};

// Renders the left channel of the engine at rate with the patch and notes, in 64-frame calls.
inline std::vector<float> renderEngine(double rate, const std::vector<Param>& patch,
                                       const std::vector<Note>& notes, double seconds) {
  ScopedFloatingPointControl fpControl;
  auto engine = std::make_unique<PluginProcessor>();
  engine->setSampleRate(rate);
  for (const Param& p : patch) engine->setParam(p.id, p.plain);
  const auto frames = static_cast<size_t>(seconds * rate);
  std::vector<float> left(frames), right(64);
  for (size_t start = 0; start < frames; start += 64) {
    const auto n = static_cast<uint32_t>(std::min<size_t>(64, frames - start));
    for (const Note& note : notes) {
      const auto on = static_cast<size_t>(std::llround(note.start * rate));
      const auto off = static_cast<size_t>(std::llround((note.start + note.duration) * rate));
      if (on >= start && on < start + n) engine->handleNoteOn(0, note.key, 0.8, int(on - start));
      if (off >= start && off < start + n) engine->handleNoteOff(0, note.key, int(off - start));
    }
    engine->process(left.data() + start, right.data(), n);
  }
  return left;
}

// The oscillator's nonlinear stages at the top of the keyboard: one held note of a fold or feedback patch
// through filter A opened to 20 kHz (resonance 0), Filter B at its default, reverb, noise floor and drift
// off.
struct FoldPatch {
  const char* name;
  std::vector<Param> patch;
};

inline std::vector<FoldPatch> foldPatches() {
  const std::vector<Param> open = {{kParamReverbMix, 0.0},
                                   {kParamNoiseLevel, 0.0},
                                   {kParamDrift, 0.0},
                                   {kParamFilterACutoff, 20000.0},
                                   {kParamFilterAResonance, 0.0}};
  auto with = [&](std::vector<Param> extra) {
    std::vector<Param> p = open;
    p.insert(p.end(), extra.begin(), extra.end());
    return p;
  };
  return {
      {"fold 8, sine", with({{kParamFold, 8.0}, {kParamFoldCharacter, 0.0}})},
      {"fold 8, Serge", with({{kParamFold, 8.0}, {kParamFoldCharacter, 0.5}})},
      {"fold 8, Lockhart", with({{kParamFold, 8.0}, {kParamFoldCharacter, 1.0}})},
      {"fold 4, Lockhart", with({{kParamFold, 4.0}, {kParamFoldCharacter, 1.0}})},
      {"feedback 1, fold 1", with({{kParamFeedback, 1.0}, {kParamFold, 1.0}})},
      {"FM 0.2, feedback 0.5, fold 4",
       with({{kParamFmAmount, 0.2}, {kParamFeedback, 0.5}, {kParamFold, 4.0}})},
      {"fold 8, char 0.25, bias +0.5",
       with({{kParamFold, 8.0}, {kParamFoldCharacter, 0.25}, {kParamFoldBias, 0.5}})},
      {"fold 8, char 0.75, bias -0.5",
       with({{kParamFold, 8.0}, {kParamFoldCharacter, 0.75}, {kParamFoldBias, -0.5}})},
  };
}

// The keys of the fold grid, C3 to C7.
inline constexpr int kFoldKeys[] = {48, 60, 72, 84, 96};

// Blackman-Harris (4 terms) of length n at i.
inline double blackmanHarris(size_t i, size_t n) {
  const double x = 2.0 * kPi * double(i) / double(n - 1);
  return 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
}

// x decimated by factor after a windowed-sinc low-pass at the decimated rate's Nyquist.
inline std::vector<float> decimate(const std::vector<float>& x, int factor) {
  const int half = 128 * factor;
  std::vector<double> h(size_t(2 * half + 1));
  double sum = 0.0;
  for (int k = -half; k <= half; ++k) {
    const double t = kPi * k / factor;
    const double sinc = k == 0 ? 1.0 : std::sin(t) / t;
    h[size_t(k + half)] = sinc * blackmanHarris(size_t(k + half), h.size());
    sum += h[size_t(k + half)];
  }
  std::vector<float> y(x.size() / size_t(factor));
  for (size_t n = 0; n < y.size(); ++n) {
    double acc = 0.0;
    const long centre = long(n) * factor;
    for (int k = -half; k <= half; ++k) {
      const long i = centre - k;
      if (i >= 0 && i < long(x.size())) acc += h[size_t(k + half)] * x[size_t(i)];
    }
    y[n] = float(acc / sum);
  }
  return y;
}

// Magnitude spectrum in dB of the kFftSize samples of x from 0.5 s on.
inline std::vector<double> spectrumDb(const std::vector<float>& x, double rate) {
  const auto from = static_cast<size_t>(kAnalysisStart * rate);
  std::vector<std::complex<double>> a(kFftSize);
  for (size_t i = 0; i < kFftSize; ++i) a[i] = double(x[from + i]) * blackmanHarris(i, kFftSize);
  measure::fft(a);
  std::vector<double> db(kFftSize / 2 + 1);
  for (size_t k = 0; k < db.size(); ++k) db[k] = 20.0 * std::log10(std::abs(a[k]) + 1e-30);
  return db;
}

struct Alias {
  double db{-300.0};  // below the strongest partial (negative), -300 when none
  double hz{0.0};
};

// The strongest alias component of test against the reference render at kReferenceFactor times the rate.
inline Alias worstAlias(const std::vector<float>& test, const std::vector<float>& reference, double rate) {
  const std::vector<double> t = spectrumDb(test, rate);
  const std::vector<double> r = spectrumDb(decimate(reference, kReferenceFactor), rate);
  const double strongest = *std::max_element(t.begin(), t.end());
  const double referenceStrongest = *std::max_element(r.begin(), r.end());
  Alias worst;
  for (size_t k = 1; k + 1 < t.size(); ++k) {
    if (t[k] < t[k - 1] || t[k] < t[k + 1]) continue;  // spectral peaks only
    const size_t spread = std::max<size_t>(8, k / 100);
    const double near = *std::max_element(r.begin() + long(k - std::min(k, spread)),
                                          r.begin() + long(std::min(r.size(), k + spread + 1)));
    if (t[k] - strongest < near - referenceStrongest + 20.0 || t[k] - strongest <= worst.db) continue;
    worst = {t[k] - strongest, double(k) * rate / kFftSize};
  }
  return worst;
}

// The largest magnitude of x reconstructed 16 times between its samples.
inline double truePeak(const std::vector<float>& x, size_t from = 0) {
  constexpr int kOver = 16, kSide = 32;
  auto besselI0 = [](double v) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 30; ++k) sum += term *= v * v / (4.0 * k * k);
    return sum;
  };
  std::vector<double> h(size_t(kOver * 2 * kSide));
  for (int p = 0; p < kOver; ++p) {
    for (int k = -kSide; k < kSide; ++k) {
      const double t = k + double(p) / kOver;
      const double r = t / (kSide + 1.0);
      const double w = besselI0(8.0 * std::sqrt(std::max(0.0, 1.0 - r * r))) / besselI0(8.0);
      h[size_t(p * 2 * kSide + k + kSide)] = (std::fabs(t) < 1e-12 ? 1.0 : std::sin(kPi * t) / (kPi * t)) * w;
    }
  }
  double peak = 0.0;
  for (size_t n = std::max<size_t>(from, kSide); n + kSide < x.size(); ++n) {
    for (int p = 0; p < kOver; ++p) {
      double y = 0.0;
      for (int k = -kSide; k < kSide; ++k) y += h[size_t(p * 2 * kSide + k + kSide)] * x[n - size_t(k)];
      peak = std::max(peak, std::fabs(y));
    }
  }
  return peak;
}

inline double decibels(double v) {
  return 20.0 * std::log10(v);
}

// A mono signal through a fresh limiter at rate on both channels (the right one inverted), in blocks.
inline std::vector<float> limitMono(double rate, const std::vector<float>& x) {
  TruePeakLimiter limiter;
  limiter.setSampleRate(float(rate), TruePeakLimiter::kDefaultReleaseMs);
  limiter.clear();
  std::vector<float> out(x.size());
  for (size_t start = 0; start + 64 <= x.size(); start += 64) {
    ml::DSPVector left, right;
    for (size_t i = 0; i < 64; ++i) left[i] = x[start + i], right[i] = -x[start + i];
    limiter.processBlock(left, right);
    for (size_t i = 0; i < 64; ++i) out[start + i] = left[i];
  }
  return out;
}

// One second of full-scale white noise (uniform in -1..1) in 50 ms bursts with 50 ms of silence between.
inline std::vector<float> limiterNoiseBursts(double rate) {
  std::vector<float> x(static_cast<size_t>(rate));
  uint32_t state = 0x9e3779b9u;
  const auto burst = size_t(0.05 * rate);
  for (size_t i = 0; i < x.size(); ++i) {
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    x[i] = (i / burst) % 2 == 0 ? float(int32_t(state)) / 2147483648.0f : 0.f;
  }
  return x;
}

// One second of full-scale impulses every 331 samples: single samples of either sign, and pairs of equal
// and of opposite sign (whose reconstruction peaks between the samples).
inline std::vector<float> limiterImpulses(double rate) {
  std::vector<float> x(static_cast<size_t>(rate));
  for (size_t i = 100, k = 0; i + 1 < x.size(); i += 331, ++k) {
    const float sign = k % 2 ? -1.f : 1.f;
    x[i] = sign;
    if (k % 3 == 1) x[i + 1] = sign;
    if (k % 3 == 2) x[i + 1] = -sign;
  }
  return x;
}

inline std::vector<float> scaled(std::vector<float> x, float gain) {
  for (float& v : x) v *= gain;
  return x;
}

}  // namespace edge_measure
