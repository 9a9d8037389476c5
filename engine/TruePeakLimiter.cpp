#include "engine/TruePeakLimiter.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "foundation/MLSIMD.h"

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
  alignas(16) float lanes[TruePeakLimiter::kPhases][TruePeakLimiter::kTaps][4]{};  // each tap in 4 lanes
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
      for (int k = 0; k < TruePeakLimiter::kTaps; ++k) {
        taps[p][k] = static_cast<float>(phase[k] / norm);
        std::fill(std::begin(lanes[p][k]), std::end(lanes[p][k]), taps[p][k]);
      }
    }
  }
};

const KernelTable& kernelTable() {
  // A function-local static is built exactly once, even when two engines are constructed at once.
  static const KernelTable table;
  return table;
}

constexpr int kBlock = ml::kFloatsPerDSPVector;
constexpr int kTaps = TruePeakLimiter::kTaps;
constexpr int kLookahead = TruePeakLimiter::kLookahead;

// The largest magnitude among the samples x[n - 7..n] and the four points interpolated between them, for
// each n of the block; x[-8..-1] are the inputs before it. Four samples at a time, each lane summing its
// taps in the same order as a single-sample estimate would.
void truePeaks(const float* x, float* peaks) {
  using namespace ml::simd;
  const KernelTable& k = kernelTable();
  for (int n = 0; n < kBlock; n += 4) {
    F4 recent[kTaps];
    // The interpolated points fall between samples: the samples themselves count as well.
    F4 peak = splat(0.0f);
    for (int t = 0; t < kTaps; ++t) {
      recent[t] = loadUnalignedF(x + n - t);
      peak = max(abs(recent[t]), peak);
    }
    for (int p = 0; p < TruePeakLimiter::kPhases; ++p) {
      F4 y = splat(0.0f);
      for (int t = 0; t < kTaps; ++t) y = add(y, mul(loadF(k.lanes[p][t]), recent[t]));
      peak = max(abs(y), peak);
    }
    storeF(peaks + n, peak);
  }
}

// windowMin[n] = min(1, g[n + 1..n + kLookahead]) for each n of the block, over prefix and suffix minima of
// the three kLookahead-long runs of g.
void slidingMinima(const float* g, float* windowMin) {
  float suffix[kBlock + 1];
  float prefix[kLookahead + kBlock];
  suffix[kBlock] = 1.0f;
  for (int run = 0; run < kBlock; run += kLookahead) {
    float m = 1.0f;
    for (int i = run + kLookahead - 1; i >= run; --i) suffix[i] = m = std::min(m, g[i]);
  }
  for (int run = kLookahead; run < kLookahead + kBlock; run += kLookahead) {
    float m = 1.0f;
    for (int i = run; i < run + kLookahead; ++i) prefix[i] = m = std::min(m, g[i]);
  }
  for (int n = 0; n < kBlock; ++n) windowMin[n] = std::min(suffix[n + 1], prefix[n + kLookahead]);
}

}  // namespace

const float (&TruePeakLimiter::kernel())[kPhases][kTaps] {
  return kernelTable().taps;
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
    std::fill(std::begin(pastInputs[c]), std::end(pastInputs[c]), 0.0f);
    std::fill(std::begin(delay[c]), std::end(delay[c]), 0.0f);
  }
  std::fill(std::begin(gains), std::end(gains), 1.0f);
  gain = 1.0f;
}

void TruePeakLimiter::processBlock(ml::DSPVector& left, ml::DSPVector& right) {
  ml::DSPVector* rows[2] = {&left, &right};
  // Per channel: the past inputs, then the block.
  alignas(16) float input[2][kTaps + kBlock];
  alignas(16) float peaks[2][kBlock];
  for (int c = 0; c < 2; ++c) {
    std::copy_n(pastInputs[c], kTaps, input[c]);
    std::copy_n(rows[c]->getConstBuffer(), kBlock, input[c] + kTaps);
    truePeaks(input[c] + kTaps, peaks[c]);
  }
  // Target gains, oldest first: those of the delayed samples, then the block's (the channels linked).
  alignas(16) float targets[kLookahead + kBlock];
  std::copy_n(gains, kLookahead, targets);
  for (int n = 0; n < kBlock; ++n) {
    const float peak = std::max(peaks[0][n], peaks[1][n]);
    targets[kLookahead + n] = peak > ceiling ? ceiling / peak : 1.0f;
  }
  float windowMin[kBlock];
  slidingMinima(targets, windowMin);

  for (int n = 0; n < kBlock; ++n) {
    const float m = windowMin[n];
    if (gain > m) {
      gain = m;
    } else {
      gain += release * (m - gain);
    }
    for (int c = 0; c < 2; ++c) {
      const float delayed = n < kLookahead ? delay[c][n] : input[c][kTaps + n - kLookahead];
      // The gain and the product are rounded apart, which can leave a float step over the ceiling.
      (*rows[c])[n] = std::clamp(delayed * gain, -ceiling, ceiling);
    }
  }
  for (int c = 0; c < 2; ++c) {
    std::copy_n(input[c] + kBlock, kTaps, pastInputs[c]);
    std::copy_n(input[c] + kTaps + kBlock - kLookahead, kLookahead, delay[c]);
  }
  std::copy_n(targets + kBlock, kLookahead, gains);
}
