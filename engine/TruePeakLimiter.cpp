#include "engine/TruePeakLimiter.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "engine/Silence.h"
#include "foundation/MLSIMD.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kBlock = ml::kFloatsPerDSPVector;
constexpr int kLookahead = TruePeakLimiter::kLookahead;
constexpr int kMidpointTaps = TruePeakLimiter::kMidpointTaps;
constexpr int kQuarterTaps = TruePeakLimiter::kQuarterTaps;
constexpr int kDelay = TruePeakLimiter::kEstimateDelay;

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

// sin(pi t) / (pi t) under a Kaiser window reaching zero at |t| = halfWidth.
double windowedSinc(double t, double halfWidth, double beta) {
  const double x = kPi * t;
  const double sinc = std::fabs(x) < 1e-9 ? 1.0 : std::sin(x) / x;
  const double r = t / halfWidth;
  return sinc * besselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / besselI0(beta);
}

// Both interpolators, each normalised to unity gain at DC; every tap also in 4 lanes.
struct KernelTable {
  TruePeakLimiter::Kernel taps{};
  alignas(16) float midpointLanes[kMidpointTaps][4]{};
  alignas(16) float quarterLanes[TruePeakLimiter::kQuarterPoints][kQuarterTaps][4]{};
  // No estimate exceeds the largest input magnitude times this (the interpolators' largest gains, one
  // after the other), nor, with a margin for the rounding of the sums, what the limiter computes.
  float estimateGainBound{1.0f};
  KernelTable() {
    double sum = 0.0;
    double mid[kMidpointTaps];
    for (int j = 0; j < kMidpointTaps; ++j)
      sum += 2.0 * (mid[j] = windowedSinc(j + 0.5, kMidpointTaps + 0.5, 5.0));
    double midpointGain = 0.0;
    for (int j = 0; j < kMidpointTaps; ++j) {
      taps.midpoint[j] = static_cast<float>(mid[j] / sum);
      midpointGain += 2.0 * std::fabs(taps.midpoint[j]);
      std::fill(std::begin(midpointLanes[j]), std::end(midpointLanes[j]), taps.midpoint[j]);
    }
    double quarterGain = 0.0;
    for (int p = 0; p < TruePeakLimiter::kQuarterPoints; ++p) {
      double quarter[kQuarterTaps];
      sum = 0.0;
      for (int k = 0; k < kQuarterTaps; ++k)
        sum += quarter[k] = windowedSinc(k - 3 - (p + 1) / 4.0, 4.5, 4.0);
      double gain = 0.0;
      for (int k = 0; k < kQuarterTaps; ++k) {
        taps.quarter[p][k] = static_cast<float>(quarter[k] / sum);
        gain += std::fabs(taps.quarter[p][k]);
        std::fill(std::begin(quarterLanes[p][k]), std::end(quarterLanes[p][k]), taps.quarter[p][k]);
      }
      quarterGain = std::max(quarterGain, gain);
    }
    constexpr double kRoundingMargin = 1.01;
    estimateGainBound = static_cast<float>(midpointGain * quarterGain * kRoundingMargin);
  }
};

const KernelTable& kernelTable() {
  // A function-local static is built exactly once, even when two engines are constructed at once.
  static const KernelTable table;
  return table;
}

using ml::simd::F4;

// The largest magnitude among the quarter points of one half interval of the 2x signal, from its 8 taps.
F4 quarterPeak(const KernelTable& k, const F4 (&s)[kQuarterTaps], F4 peak) {
  using namespace ml::simd;
  for (int p = 0; p < TruePeakLimiter::kQuarterPoints; ++p) {
    F4 y = splat(0.0f);
    for (int t = 0; t < kQuarterTaps; ++t) y = add(y, mul(loadF(k.quarterLanes[p][t]), s[t]));
    peak = max(abs(y), peak);
  }
  return peak;
}

// peaks[n] = the largest magnitude on the 8x grid of the interval from x[q] to x[q + 1], q = n - kDelay,
// for each n of the block; x holds kHistory inputs before the block, then the block. Four intervals at a
// time, each lane summing its taps in the same order as a single interval would.
void intervalPeaks(const float* x, float* peaks) {
  using namespace ml::simd;
  const KernelTable& k = kernelTable();
  // mid[i]: the midpoint after x[i - kDelay - 2], for the block's intervals and two on either side.
  alignas(16) float mid[kBlock + 4];
  for (int i = 0; i < kBlock + 4; i += 4) {
    F4 y = splat(0.0f);
    for (int j = 0; j < kMidpointTaps; ++j) {
      const F4 pair =
          add(loadUnalignedF(x + kMidpointTaps - 1 + i - j), loadUnalignedF(x + kMidpointTaps + i + j));
      y = add(y, mul(loadF(k.midpointLanes[j]), pair));
    }
    storeF(mid + i, y);
  }
  for (int n = 0; n < kBlock; n += 4) {
    F4 xs[4], ms[5];  // x[q - 1 .. q + 2] and the midpoints after x[q - 2 .. q + 2]
    for (int a = 0; a < 4; ++a) xs[a] = loadUnalignedF(x + kMidpointTaps + n + a);
    for (int a = 0; a < 5; ++a) ms[a] = loadUnalignedF(mid + n + a);
    F4 peak = max(max(abs(xs[1]), abs(xs[2])), abs(ms[2]));
    const F4 before[kQuarterTaps] = {ms[0], xs[0], ms[1], xs[1], ms[2], xs[2], ms[3], xs[3]};
    const F4 after[kQuarterTaps] = {xs[0], ms[1], xs[1], ms[2], xs[2], ms[3], xs[3], ms[4]};
    peak = quarterPeak(k, before, peak);
    peak = quarterPeak(k, after, peak);
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

// The row delayed by the look-ahead, which is half a block: the waiting samples, then the row's first half,
// whose second half waits in turn.
void passDelayed(float* row, float* waiting) {
  using namespace ml::simd;
  static_assert(2 * kLookahead == kBlock);
  for (int i = 0; i < kLookahead; i += 4) {
    const F4 early = loadF(row + i);
    const F4 late = loadF(row + kLookahead + i);
    storeF(row + i, loadF(waiting + i));
    storeF(row + kLookahead + i, early);
    storeF(waiting + i, late);
  }
}

}  // namespace

// Each sample's own magnitude counts at once, an interval's peak at both its ends.
void TruePeakLimiter::blockTargets(const float (&input)[2][kHistory + kBlock], float* targets) const {
  alignas(16) float peaks[2][kBlock];
  for (int c = 0; c < 2; ++c) intervalPeaks(input[c], peaks[c]);
  const auto target = [this](float peak) { return peak > ceiling ? ceiling / peak : 1.0f; };
  for (int n = 0; n < kBlock; ++n) {
    targets[kLookahead + n] =
        target(std::max(std::fabs(input[0][kHistory + n]), std::fabs(input[1][kHistory + n])));
  }
  for (int n = 0; n < kBlock; ++n) {
    const float g = target(std::max(peaks[0][n], peaks[1][n]));
    float* ends = targets + kLookahead + n - kDelay + 1;
    ends[0] = std::min(ends[0], g);
    ends[1] = std::min(ends[1], g);
  }
}

const TruePeakLimiter::Kernel& TruePeakLimiter::kernel() {
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
  lastBlockQuiet = true;
}

// Each input too quiet for any estimate to reach the ceiling: no reduction asked for, estimates spared.
bool TruePeakLimiter::quietInput(const ml::DSPVector& left, const ml::DSPVector& right) {
  const float bound = ceiling / kernelTable().estimateGainBound;
  const bool blockQuiet = allQuieterThan(left.getConstBuffer(), kBlock, bound) &&
                          allQuieterThan(right.getConstBuffer(), kBlock, bound);
  // The past inputs are the last block's last ones.
  const bool pastQuiet = lastBlockQuiet || (allQuieterThan(pastInputs[0], kHistory, bound) &&
                                            allQuieterThan(pastInputs[1], kHistory, bound));
  lastBlockQuiet = blockQuiet;
  return blockQuiet && pastQuiet;
}

// With no reduction asked for anywhere in the window and the release come to rest, one gain serves the
// whole block, and every target stays 1.
void TruePeakLimiter::passAtRest(ml::DSPVector& left, ml::DSPVector& right) {
  ml::DSPVector* rows[2] = {&left, &right};
  const float g = gain;
  for (int c = 0; c < 2; ++c) {
    float* row = rows[c]->getBuffer();
    std::copy_n(row + kBlock - kHistory, kHistory, pastInputs[c]);
    if (g == 1.0f) {
      // Every sample here is far below the ceiling: at unity gain each passes as it is.
      passDelayed(row, delay[c]);
      continue;
    }
    alignas(16) float out[kBlock];  // apart from the row, so that the loops run in vector steps
    for (int n = 0; n < kLookahead; ++n) out[n] = limitedSample(delay[c][n], g);
    for (int n = kLookahead; n < kBlock; ++n) out[n] = limitedSample(row[n - kLookahead], g);
    std::copy_n(row + kBlock - kLookahead, kLookahead, delay[c]);
    std::copy_n(out, kBlock, row);
  }
}

bool TruePeakLimiter::delayedTargetsAtUnity() const {
  using namespace ml::simd;
  I4 unity = equal(loadF(gains), splat(1.0f));
  for (int n = 4; n < kLookahead; n += 4) unity = andMask(unity, equal(loadF(gains + n), splat(1.0f)));
  return allSet(unity);
}

void TruePeakLimiter::processBlock(ml::DSPVector& left, ml::DSPVector& right) {
  const bool quiet = quietInput(left, right);
  if (quiet && delayedTargetsAtUnity() && gain + release * (1.0f - gain) == gain) {
    passAtRest(left, right);
    return;
  }
  ml::DSPVector* rows[2] = {&left, &right};
  // Per channel: the past inputs, then the block.
  alignas(16) float input[2][kHistory + kBlock];
  for (int c = 0; c < 2; ++c) {
    std::copy_n(pastInputs[c], kHistory, input[c]);
    std::copy_n(rows[c]->getConstBuffer(), kBlock, input[c] + kHistory);
  }
  // Target gains, oldest first: those of the delayed samples, then the block's (the channels linked).
  alignas(16) float targets[kLookahead + kBlock];
  std::copy_n(gains, kLookahead, targets);
  if (quiet) {
    std::fill_n(targets + kLookahead, kBlock, 1.0f);
  } else {
    blockTargets(input, targets);
  }
  // Each output is the input of kLookahead samples before.
  const auto delayed = [&](int c, int n) {
    return n < kLookahead ? delay[c][n] : input[c][kHistory + n - kLookahead];
  };
  float windowMin[kBlock];
  slidingMinima(targets, windowMin);
  for (int n = 0; n < kBlock; ++n) {
    const float m = windowMin[n];
    if (gain > m) {
      gain = m;
    } else {
      gain += release * (m - gain);
    }
    for (int c = 0; c < 2; ++c) (*rows[c])[n] = limitedSample(delayed(c, n), gain);
  }
  for (int c = 0; c < 2; ++c) {
    std::copy_n(input[c] + kBlock, kHistory, pastInputs[c]);
    std::copy_n(input[c] + kHistory + kBlock - kLookahead, kLookahead, delay[c]);
  }
  std::copy_n(targets + kBlock, kLookahead, gains);
}
