#include "tuning/RatioSteps.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "tuning/TuningState.h"

namespace {

constexpr int kReferenceKey = 60;
constexpr int kMaxKey = 127;
constexpr int kDefaultScaleSize = 12;
constexpr double kSameRatio = 1e-6;  // two picked degrees this close give one step

// The automatic table tries each of keys 61..71 against fractions p/q with q up to 16.
constexpr int kAutoKeys = 11;
constexpr int kMaxDenominator = 16;
constexpr double kFractionTolerance = 0.005;  // a key this close to p/q makes p/q a candidate
constexpr double kSameCandidate = 0.001;
constexpr double kFirstScore = 100.0;  // a candidate's score is 100 - p - q: simpler ratios rank higher
// 1, at most one fraction per key, then the whole ratios 2, 3 and 4.
constexpr int kFirstWholeRatio = 2, kLastWholeRatio = 4;
constexpr int kMaxCandidates = 1 + kAutoKeys + (kLastWholeRatio - kFirstWholeRatio + 1);

struct Candidate {
  double ratio;
  double score;
};

// Sorts a handful of values ascending by exchanges.
void sortAscending(double* values, int n) {
  for (int i = 0; i + 1 < n; ++i)
    for (int j = i + 1; j < n; ++j)
      if (values[i] > values[j]) std::swap(values[i], values[j]);
}

struct Fraction {
  double ratio;
  double p, q;
  double error;
};

// The fraction p/q (q = 1..16, p >= 1) closest to x, the smallest q winning ties.
Fraction closestFraction(double x) {
  Fraction best{1.0, 1.0, 1.0, 1e9};
  for (int q = 1; q <= kMaxDenominator; ++q) {
    const double p = std::round(x * q);
    if (p < 1.0) continue;
    const double error = std::fabs(p / q - x);
    if (error < best.error) best = {p / q, p, double(q), error};
  }
  return best;
}

// Builds the table from the picked degrees; false when none of them names a usable key.
bool buildFromSelection(MtsRatioSteps& steps, const RatioSelectionPair* pairs, int n, TuningState& tuning,
                        double f60) {
  int size = tuning.publishedScaleSize();
  if (size < 1) size = kDefaultScaleSize;
  int kept = 0;
  for (int i = 0; i < n && kept < MtsRatioSteps::kMaxSteps; ++i) {
    const int degree = pairs[i].degree;
    if (degree < 0 || degree >= size) continue;
    const int key = pairs[i].octave * size + kReferenceKey + degree;
    if (key < 0 || key > kMaxKey) continue;
    const double f = tuning.effectiveNoteFreq(key, -1);
    if (!(f > 0.0)) continue;
    const double r = f / f60;
    const bool seen = std::any_of(steps.ratioSteps, steps.ratioSteps + kept,
                                  [r](double k) { return std::fabs(k - r) < kSameRatio; });
    if (!seen) steps.ratioSteps[kept++] = r;
  }
  if (kept == 0) return false;
  sortAscending(steps.ratioSteps, kept);
  steps.ratioStepCount = kept;
  const double fp = tuning.effectiveNoteFreq(kReferenceKey + size, -1);
  const double period = fp > 0.0 ? fp / f60 : 2.0;
  steps.ratioStepPeriod = period > 1.0 ? period : 2.0;
  return true;
}

void buildAutomatic(MtsRatioSteps& steps, TuningState& tuning, double f60) {
  Candidate candidates[kMaxCandidates];
  int count = 0;
  candidates[count++] = {1.0, kFirstScore};
  const auto near = [&](double r) {
    return std::any_of(candidates, candidates + count,
                       [r](const Candidate& c) { return std::fabs(c.ratio - r) < kSameCandidate; });
  };
  for (int k = 1; k <= kAutoKeys; ++k) {
    const Fraction f = closestFraction(tuning.effectiveNoteFreq(kReferenceKey + k, -1) / f60);
    if (f.error < kFractionTolerance && !near(f.ratio))
      candidates[count++] = {f.ratio, kFirstScore - f.p - f.q};
  }
  for (int m = kFirstWholeRatio; m <= kLastWholeRatio; ++m)
    if (!near(m)) candidates[count++] = {double(m), kFirstScore - m};
  // Highest score first; the exchange order decides which of equal scores come first.
  for (int i = 0; i + 1 < count; ++i)
    for (int j = i + 1; j < count; ++j)
      if (candidates[j].score > candidates[i].score) std::swap(candidates[i], candidates[j]);
  steps.ratioStepCount = std::min(count, MtsRatioSteps::kMaxSteps);
  for (int i = 0; i < steps.ratioStepCount; ++i) steps.ratioSteps[i] = candidates[i].ratio;
  steps.ratioStepPeriod = 0.0;
  sortAscending(steps.ratioSteps, steps.ratioStepCount);
}

}  // namespace

void recomputeMtsRatioSteps(MtsRatioSteps& steps, const RatioSelection& selection, TuningState& tuning) {
  RatioSelectionPair pairs[RatioSelection::kMaxPairs];
  const int32_t n = selection.read(pairs);
  if (n < 0) return;
  steps.ratioStepCount = 0;
  if (!tuning.effectiveTuningActive()) return;
  const double f60 = tuning.effectiveNoteFreq(kReferenceKey, -1);
  if (!(f60 > 0.0)) return;
  if (n > 0 && buildFromSelection(steps, pairs, n, tuning, f60)) return;
  buildAutomatic(steps, tuning, f60);
}
