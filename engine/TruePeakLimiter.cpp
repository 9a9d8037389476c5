#include "engine/TruePeakLimiter.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

using Kernel = float[TruePeakLimiter::kPhases][TruePeakLimiter::kTaps];

constexpr double kPi = 3.14159265358979323846;
constexpr double kKaiserBeta = 8.0;
constexpr double kI0OfBeta = 427.56411572180474;  // I0(8)

// Modified Bessel function of the first kind, order 0, by its power series (25 terms).
double besselI0(double x) {
  double sum = 1.0;
  double term = 1.0;
  for (int k = 1; k <= 24; ++k) {
    term *= x * x / (4.0 * k * k);
    sum += term;
  }
  return sum;
}

// Phase p interpolates at a fraction (4 - p) / 4 of a sample between the taps; each phase is normalised
// to unity gain at DC.
struct KernelTable {
  Kernel taps{};
  KernelTable() {
    constexpr int kLength = TruePeakLimiter::kPhases * TruePeakLimiter::kTaps;
    for (int p = 0; p < TruePeakLimiter::kPhases; ++p) {
      double sum = 0.0;
      double phase[TruePeakLimiter::kTaps];
      for (int k = 0; k < TruePeakLimiter::kTaps; ++k) {
        const int n = TruePeakLimiter::kPhases * k + p;
        const double t = n - kLength / 2 + (TruePeakLimiter::kPhases - p) / 4.0;
        const double x = kPi * t / TruePeakLimiter::kPhases;
        const double sinc = std::fabs(x) < 1e-9 ? 1.0 : std::sin(x) / x;
        const double r = 2.0 * n / (kLength - 1) - 1.0;
        const double window = besselI0(kKaiserBeta * std::sqrt(std::max(0.0, 1.0 - r * r))) / kI0OfBeta;
        phase[k] = sinc * window / TruePeakLimiter::kPhases;
        sum += phase[k];
      }
      const double norm = std::fabs(sum) > 1e-9 ? sum : 1.0;
      for (int k = 0; k < TruePeakLimiter::kTaps; ++k) taps[p][k] = static_cast<float>(phase[k] / norm);
    }
  }
};

}  // namespace

const float (&TruePeakLimiter::kernel())[kPhases][kTaps] {
  // A function-local static is built exactly once, even when two engines are constructed at once.
  static const KernelTable table;
  return table.taps;
}

void TruePeakLimiter::initKernel() {
  (void)kernel();
}

void TruePeakLimiter::setSampleRate(float sampleRate, float releaseMs) {
  const bool valid = sampleRate > 0.0f && releaseMs > 0.0f && std::isfinite(sampleRate * releaseMs);
  release = valid ? static_cast<float>(1.0 - std::exp(-1.0 / (0.001 * releaseMs * sampleRate))) : 1.0f;
}

void TruePeakLimiter::clear() {
  for (int c = 0; c < 2; ++c) {
    std::fill(std::begin(history[c]), std::end(history[c]), 0.0f);
    std::fill(std::begin(delay[c]), std::end(delay[c]), 0.0f);
  }
  std::fill(std::begin(gains), std::end(gains), 1.0f);
  historyIndex = 0;
  delayIndex = 0;
  gain = 1.0f;
}

float TruePeakLimiter::truePeakEst(const float* history16, int writeIndex) const {
  const Kernel& taps = kernel();
  float recent[kTaps];
  float peak = 0.0f;
  for (int k = 0; k < kTaps; ++k) {
    recent[k] = history16[(writeIndex - 1 - k) & kHistoryMask];
    // The interpolated points fall between samples: the samples themselves count as well.
    peak = std::max(peak, std::fabs(recent[k]));
  }
  for (int p = 0; p < kPhases; ++p) {
    float y = 0.0f;
    for (int k = 0; k < kTaps; ++k) y += taps[p][k] * recent[k];
    peak = std::max(peak, std::fabs(y));
  }
  return peak;
}

void TruePeakLimiter::process(float& left, float& right) {
  history[0][historyIndex] = left;
  history[1][historyIndex] = right;
  historyIndex = (historyIndex + 1) & kHistoryMask;
  const float peak = std::max(truePeakEst(history[0], historyIndex), truePeakEst(history[1], historyIndex));
  const float target = peak > ceiling ? ceiling / peak : 1.0f;

  const float outL = delay[0][delayIndex];
  const float outR = delay[1][delayIndex];
  delay[0][delayIndex] = left;
  delay[1][delayIndex] = right;
  gains[delayIndex] = target;
  delayIndex = (delayIndex + 1) % kLookahead;

  float m = 1.0f;
  for (int i = 0; i < kLookahead; ++i) m = std::min(m, gains[i]);
  if (gain > m) {
    gain = m;
  } else {
    gain += release * (m - gain);
  }
  left = outL * gain;
  right = outR * gain;
}

void TruePeakLimiter::processBlock(ml::DSPVector& left, ml::DSPVector& right) {
  for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) process(left[i], right[i]);
}
