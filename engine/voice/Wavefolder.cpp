#include "engine/voice/Wavefolder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "engine/voice/FilterSaturation.h"
#include "engine/voice/RowChecks.h"
#include "foundation/MLDSPVector.h"
#include "foundation/MLFastMath.h"
#include "foundation/MLSIMD.h"
#include "foundation/MLSafeValue.h"

const float kLockRaw0 = 1.f - lambertW0pos(2.7182817f);

namespace {

// The argument of the Serge fold's sine.
float sergeArgument(float x) {
  return 1.6f * tanhApprox(x / 1.6f);
}

}  // namespace

float sergeFold(float x) {
  return ml::sinApprox(sergeArgument(x));
}

float lambertW0pos(float x) {
  const float w = ml::logApprox(1.f + x);
  return w * (1.f - ml::logApprox(1.f + w) / (2.f + w));
}

namespace {

// The Lockhart fold from the folded angle asin(sin x) of its input: 2/pi of it is a unit triangle wave.
float lockhartFoldOfAngle(float angle) {
  const float v = 0.63661975f * angle;
  const float r = 1.f - lambertW0pos(2.7182817f * (1.f - std::fabs(v))) - kLockRaw0;
  return v < 0.f ? -r : r;
}

}  // namespace

float lockhartFold(float x) {
  return lockhartFoldOfAngle(ml::foldedAngle(x));
}

namespace {

constexpr double kPiD = 3.14159265358979323846;
constexpr double kQuarterTurn = 0.5 * kPiD;
constexpr double kNearInputs = 1e-5;  // closer inputs take the limits of the means

// A function on 0..pi/2 from its values and slopes at the nodes: per segment the cubic Hermite polynomial
// between them, in powers of the position s (0..1) within the segment.
struct QuarterTable {
  static constexpr int kSegments = 128;
  static constexpr double kStep = kQuarterTurn / kSegments;
  struct Cubic {
    double c0, c1, c2, c3;
  };
  Cubic segments[kSegments];

  double top;  // the value at pi/2

  // The segment holding a, and a's position s within it.
  [[gnu::always_inline]] const Cubic& segmentAt(double a, double& s) const {
    const double pos = a * (1.0 / kStep);
    // Limited before the conversion, so that a NaN position reads the last segment (and gives NaN), not
    // an index out of range.
    const int i = int(std::min(double(kSegments - 1), pos));
    s = pos - i;
    return segments[i];
  }

  [[gnu::always_inline]] double operator()(double a) const {
    double s;
    const Cubic& c = segmentAt(a, s);
    return c.c0 + s * (c.c1 + s * (c.c2 + s * c.c3));
  }

#if ML_SIMD_SSE2
  // The values at two positions side by side, with operator()'s operations in its order.
  __m128d operator()(__m128d a) const {
    const __m128d pos = _mm_mul_pd(a, _mm_set1_pd(1.0 / kStep));
    // minpd gives its second operand for a NaN: the last segment, as operator() takes.
    const __m128d whole = _mm_cvtepi32_pd(_mm_cvttpd_epi32(_mm_min_pd(pos, _mm_set1_pd(kSegments - 1))));
    const __m128d s = _mm_sub_pd(pos, whole);
    const __m128i index = _mm_cvttpd_epi32(whole);
    const Cubic& low = segments[_mm_cvtsi128_si32(index)];
    const Cubic& high = segments[_mm_cvtsi128_si32(_mm_shuffle_epi32(index, 1))];
    const __m128d low01 = _mm_loadu_pd(&low.c0), high01 = _mm_loadu_pd(&high.c0);
    const __m128d low23 = _mm_loadu_pd(&low.c2), high23 = _mm_loadu_pd(&high.c2);
    const __m128d c3 = _mm_unpackhi_pd(low23, high23);
    const __m128d c2 = _mm_unpacklo_pd(low23, high23);
    const __m128d c1 = _mm_unpackhi_pd(low01, high01);
    const __m128d c0 = _mm_unpacklo_pd(low01, high01);
    return _mm_add_pd(c0, _mm_mul_pd(s, _mm_add_pd(c1, _mm_mul_pd(s, _mm_add_pd(c2, _mm_mul_pd(s, c3))))));
  }
#endif

  // The slope at a.
  double slope(double a) const {
    double s;
    const Cubic& c = segmentAt(a, s);
    return (c.c1 + s * (2.0 * c.c2 + s * 3.0 * c.c3)) * (1.0 / kStep);
  }
};

// The integral from 0 of slope over 0..pi/2, by Simpson's rule on 16 steps a segment (errors far below
// float resolution).
template <typename Slope>
QuarterTable integralTable(Slope slope) {
  constexpr int kSteps = 16;
  constexpr double h = QuarterTable::kStep / kSteps;
  QuarterTable t{};
  double value = 0.0;
  for (int i = 0; i < QuarterTable::kSegments; ++i) {
    const double from = i * QuarterTable::kStep;
    const double to = from + QuarterTable::kStep;
    double sum = slope(from) + slope(to);
    for (int k = 1; k < kSteps; ++k) sum += (k % 2 ? 4.0 : 2.0) * slope(from + k * h);
    const double next = value + sum * h / 3.0;
    const double m0 = slope(from) * QuarterTable::kStep;
    const double m1 = slope(to) * QuarterTable::kStep;
    t.segments[i] = {value, m0, 3.0 * (next - value) - 2.0 * m0 - m1, 2.0 * (value - next) + m0 + m1};
    value = next;
  }
  t.top = value;
  return t;
}

// H(a), the integral of the fold over a quarter period, and its value at pi/2, which is the mean of the
// fold's integral over a period.
const QuarterTable s_foldIntegral =
    integralTable([](double a) { return double(lockhartFoldOfAngle(float(a))); });
const double s_foldIntegralMean = s_foldIntegral.top;
// Q(a), the integral of H - its mean over a quarter period.
const QuarterTable s_foldSecondIntegral =
    integralTable([](double a) { return s_foldIntegral(a) - s_foldIntegralMean; });

// x = n pi + r with |r| <= pi/2.
struct HalfTurns {
  double r;
  bool odd;
};

// Adding 1.5 x 2^52 rounds x / pi to a whole number held in the low bits (|x| far below 2^51 pi); unlike
// nearbyint it needs no library call.
[[gnu::always_inline]] inline HalfTurns halfTurns(double x) {
  constexpr double kRound = 6755399441055744.0;
  const double t = x * (1.0 / kPiD) + kRound;
  const double n = t - kRound;
  return {x - n * kPiD, (std::bit_cast<uint64_t>(t) & 1) != 0};
}

// The fold's second integral less its mean slope (which the second-order mean cancels): odd, periodic,
// (-1)^n sign(r) Q(|r|).
[[gnu::always_inline]] inline double lockhartFoldSecondIntegral(double x) {
  const HalfTurns t = halfTurns(x);
  const double q = s_foldSecondIntegral(std::min(std::fabs(t.r), kQuarterTurn));
  return (t.r < 0.0) != t.odd ? -q : q;
}

#if ML_SIMD_SSE2
// x[0] and x[1] as doubles.
__m128d loadPairAsDoubles(const float* x) {
  return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(x))));
}

// lockhartFoldSecondIntegral of x[0] and x[1] side by side, with its operations in its order.
__m128d lockhartFoldSecondIntegralPair(const float* x) {
  constexpr double kRound = 6755399441055744.0;
  const __m128d xd = loadPairAsDoubles(x);
  const __m128d t = _mm_add_pd(_mm_mul_pd(xd, _mm_set1_pd(1.0 / kPiD)), _mm_set1_pd(kRound));
  const __m128d r = _mm_sub_pd(xd, _mm_mul_pd(_mm_sub_pd(t, _mm_set1_pd(kRound)), _mm_set1_pd(kPiD)));
  const __m128d signBit = _mm_set1_pd(-0.0);
  const __m128d q = s_foldSecondIntegral(_mm_min_pd(_mm_andnot_pd(signBit, r), _mm_set1_pd(kQuarterTurn)));
  const __m128i odd =
      _mm_sub_epi64(_mm_setzero_si128(), _mm_and_si128(_mm_castpd_si128(t), _mm_set1_epi64x(1)));
  const __m128d flip = _mm_xor_pd(_mm_cmplt_pd(r, _mm_setzero_pd()), _mm_castsi128_pd(odd));
  return _mm_xor_pd(q, _mm_and_pd(flip, signBit));
}
#endif

// lockhartFoldSecondIntegral of the n inputs x into second, two at a time where the lanes allow.
void lockhartFoldSecondIntegrals(const float* x, int n, double* second) {
  int k = 0;
#if ML_SIMD_SSE2
  for (; k + 2 <= n; k += 2) _mm_storeu_pd(second + k, lockhartFoldSecondIntegralPair(x + k));
#endif
  for (; k < n; ++k) second[k] = lockhartFoldSecondIntegral(x[k]);
}

#if ML_SIMD_SSE2
// The least float at or above kNearInputs: a span of floats is shorter than kNearInputs exactly where it is
// below this.
const float s_nearSpan = [] {
  const float t = float(kNearInputs);
  return double(t) < kNearInputs ? std::nextafter(t, 1.f) : t;
}();
#endif

// The first-order means (second[k] - second[k - 1]) / (x[k] - x[k - 1]) for k = 1..n-1 into mean, two at a
// time where the lanes allow; true where some span is shorter than kNearInputs (its mean wants mending).
bool spanMeans(const float* x, const double* second, int n, double* mean) {
  int k = 1;
  bool near = false;
#if ML_SIMD_SSE2
  __m128d nearLanes = _mm_setzero_pd();
  for (; k + 2 <= n; k += 2) {
    const __m128d span = _mm_sub_pd(loadPairAsDoubles(x + k), loadPairAsDoubles(x + k - 1));
    const __m128d rise = _mm_sub_pd(_mm_loadu_pd(second + k), _mm_loadu_pd(second + k - 1));
    _mm_storeu_pd(mean + k, _mm_div_pd(rise, span));
    const __m128d length = _mm_andnot_pd(_mm_set1_pd(-0.0), span);
    nearLanes = _mm_or_pd(nearLanes, _mm_cmplt_pd(length, _mm_set1_pd(kNearInputs)));
  }
  near = _mm_movemask_pd(nearLanes) != 0;
#endif
  for (; k < n; ++k) {
    const double span = double(x[k]) - double(x[k - 1]);
    mean[k] = (second[k] - second[k - 1]) / span;
    near |= std::fabs(span) < kNearInputs;
  }
  return near;
}

// The second-order means 2 (mean[k] - mean[k - 1]) / (x[k] - x[k - 2]) for k = 2..n-1 into out, the
// difference in double and the division in float, four at a time where the lanes allow; true where some span
// is shorter than kNearInputs.
bool spanSecondMeans(const float* x, const double* mean, int n, float* out) {
  int k = 2;
  bool near = false;
#if ML_SIMD_SSE2
  __m128 nearLanes = _mm_setzero_ps();
  for (; k + 4 <= n; k += 4) {
    const __m128d low =
        _mm_mul_pd(_mm_set1_pd(2.0), _mm_sub_pd(_mm_loadu_pd(mean + k), _mm_loadu_pd(mean + k - 1)));
    const __m128d high =
        _mm_mul_pd(_mm_set1_pd(2.0), _mm_sub_pd(_mm_loadu_pd(mean + k + 2), _mm_loadu_pd(mean + k + 1)));
    const __m128 rise = _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high));
    const __m128 span = _mm_sub_ps(_mm_loadu_ps(x + k), _mm_loadu_ps(x + k - 2));
    _mm_storeu_ps(out + k, _mm_div_ps(rise, span));
    const __m128 length = _mm_andnot_ps(_mm_set1_ps(-0.f), span);
    nearLanes = _mm_or_ps(nearLanes, _mm_cmplt_ps(length, _mm_set1_ps(s_nearSpan)));
  }
  near = _mm_movemask_ps(nearLanes) != 0;
#endif
  for (; k < n; ++k) {
    out[k] = float(2.0 * (mean[k] - mean[k - 1])) / (x[k] - x[k - 2]);
    near |= std::fabs(x[k] - x[k - 2]) < kNearInputs;
  }
  return near;
}

// The fold itself as the slope of its integral's table, where the inputs meet (where a held input sits, no
// logarithms).
double tableFold(double x) {
  const HalfTurns t = halfTurns(x);
  const double f = s_foldIntegral.slope(std::min(std::fabs(t.r), kQuarterTurn));
  return (t.r < 0.0) != t.odd ? -f : f;
}

// The mean of the fold's integral less its mean between a and b, given the second integral at both.
double integralMean(double a, double b, double secondA, double secondB) {
  if (std::fabs(a - b) < kNearInputs) return lockhartFoldIntegral(0.5 * (a + b)) - s_foldIntegralMean;
  return (secondA - secondB) / (a - b);
}

}  // namespace

// Over an even n the fold is the curve of r, over an odd one its negative, so the integral climbs H(|r|)
// from each even multiple of pi and falls back from 2 H(pi/2) after each odd one.
double lockhartFoldIntegral(double x) {
  const HalfTurns t = halfTurns(x);
  const double h = s_foldIntegral(std::min(std::fabs(t.r), kQuarterTurn));
  return t.odd ? 2.0 * s_foldIntegralMean - h : h;
}

LockhartMeans lockhartMeansFrom(float before, float last) {
  const double secondBefore = lockhartFoldSecondIntegral(before);
  const double secondLast = lockhartFoldSecondIntegral(last);
  return {before, last, secondLast, integralMean(last, before, secondLast, secondBefore)};
}

namespace {

// The second-order mean about x1 from the first-order means before (x0..x1) and after it (x1..x2) and the
// second integral at x1. The difference of the means is exact enough in double that the division needs only
// float.
float secondMean(float x0, float x1, float x2, double meanBefore, double meanAfter, double second1) {
  if (std::fabs(x2 - x0) >= kNearInputs) return float(2.0 * (meanAfter - meanBefore)) / (x2 - x0);
  // Back where it was two inputs ago: the limit about the midpoint of the two ends.
  const double centre = 0.5 * (double(x2) + x0);
  const double d = centre - x1;
  if (std::fabs(d) < kNearInputs) return float(tableFold(0.5 * (centre + x1)));
  return float(2.0 / d *
               (lockhartFoldIntegral(centre) - s_foldIntegralMean +
                (second1 - lockhartFoldSecondIntegral(centre)) / d));
}

}  // namespace

// In passes over the row, so that the divisions pipeline: the second integrals, the first-order means (the
// spans too short to divide by mended after), the second-order means likewise.
void lockhartMeans(LockhartMeans& m, const float* x, int n, float* out) {
  // A row that holds the last input (a silent oscillator under a bias) is the fold of it throughout, as the
  // limits below would give sample by sample.
  if (m.before == m.last && std::all_of(x, x + n, [&](float v) { return v == m.last; })) {
    std::fill_n(out, n, float(tableFold(m.last)));
    m.lastMean = lockhartFoldIntegral(m.last) - s_foldIntegralMean;
    return;
  }
  double second[kMaxLockhartMeans];
  double mean[kMaxLockhartMeans];
  lockhartFoldSecondIntegrals(x, n, second);
  mean[0] = integralMean(x[0], m.last, second[0], m.lastSecond);
  if (spanMeans(x, second, n, mean)) {
    for (int k = 1; k < n; ++k) {
      if (std::fabs(double(x[k]) - double(x[k - 1])) < kNearInputs)
        mean[k] = integralMean(x[k], x[k - 1], second[k], second[k - 1]);
    }
  }
  out[0] = secondMean(m.before, m.last, x[0], m.lastMean, mean[0], m.lastSecond);
  if (n > 1) out[1] = secondMean(m.last, x[0], x[1], mean[0], mean[1], second[0]);
  if (spanSecondMeans(x, mean, n, out)) {
    for (int k = 2; k < n; ++k) {
      if (std::fabs(x[k] - x[k - 2]) < kNearInputs)
        out[k] = secondMean(x[k - 2], x[k - 1], x[k], mean[k - 1], mean[k], second[k - 1]);
    }
  }
  m = {n > 1 ? x[n - 2] : m.last, x[n - 1], second[n - 1], mean[n - 1]};
}

namespace {

// The character morph from the sine fold s, the Serge fold's sine and the folded angle of one input.
float foldCharMix(float s, float sergeSine, float angle, float c) {
  if (c <= 0.f) return s;
  const float serge = 0.697744f * sergeSine;
  if (c < 0.5f) return s + (serge - s) * 2.f * c;
  const float lockhart = 1.612524f * lockhartFoldOfAngle(angle);
  return serge + (lockhart - serge) * 2.f * (c - 0.5f);
}

}  // namespace

float foldCharMorph(float x, float s, float c) {
  if (c <= 0.f) return s;
  return foldCharMix(s, sergeFold(x), ml::foldedAngle(x), c);
}

namespace {

constexpr int kBlock = static_cast<int>(ml::kFloatsPerDSPVector);

using ml::simd::F4;

// Rows of the block at twice the rate: each base-rate value twice.
void doubleRow(const float* in, float* out) {
  using namespace ml::simd;
  for (int i = 0; i < kBlock; i += 4) {
    const F4 x = loadF(in + i);
    storeF(out + 2 * i, interleaveLow(x, x));
    storeF(out + 2 * i + 4, interleaveHigh(x, x));
  }
}

// The fold's per-block rows: amount clamped to 1..8 (NaN as 1), half the clamped bias, the shaper's
// gain, the wet share and the character, the last three at twice the rate. When the amount and the bias
// hold one value over the block (the patch at rest), the rows are steady: bias2x[0], gain2x[0] and wet[0]
// stand for them, and the rest is not filled.
struct FoldRows {
  alignas(16) float wet[kBlock];
  alignas(16) float bias2x[2 * kBlock];
  alignas(16) float gain2x[2 * kBlock];
  alignas(16) float character2x[2 * kBlock];
  bool steady{false};
};

// The largest amount of the block, at least 1 (NaN amounts never count); the amounts go to amount.
float foldAmounts(const FoldInputs& in, float* amount) {
  using namespace ml::simd;
  F4 most = splat(1.f);
  for (int i = 0; i < kBlock; i += 4) {
    const F4 a = add(add(loadU(in.fold + i), loadU(in.foldRoute + i)), splat(in.foldOffset));
    most = select(a, most, greaterThan(a, most));
    storeF(amount + i, a);
  }
  alignas(16) float lanes[4];
  storeF(lanes, most);
  float m = lanes[0];
  for (int k = 1; k < 4; ++k) m = lanes[k] > m ? lanes[k] : m;
  return m;
}

// ml::simd::clampLanes for bounds other than zero, as a max and a min: where these pick a bound instead of a
// value equal to it the two are the same number, and a NaN takes the low bound in both.
F4 clampAwayFromZero(F4 x, float lo, float hi) {
  using namespace ml::simd;
  return min(max(x, splat(lo)), splat(hi));
}

void fillFoldRows(const FoldInputs& in, const float* amount, bool character, FoldRows& r) {
  using namespace ml::simd;
  alignas(16) float biasIn[kBlock], bias[kBlock], gain[kBlock];
  for (int i = 0; i < kBlock; i += 4)
    storeF(biasIn + i, add(add(loadU(in.bias + i), loadU(in.biasRoute + i)), splat(in.biasOffset)));
  r.steady = rowConstant(amount) && rowConstant(biasIn);
  for (int i = 0; i < (r.steady ? 4 : kBlock); i += 4) {
    const F4 g = clampAwayFromZero(loadF(amount + i), 1.f, 8.f);
    storeF(bias + i, mul(splat(0.5f), clampAwayFromZero(loadF(biasIn + i), -1.f, 1.f)));
    storeF(gain + i, mul(splat(1.5707964f), g));
    storeF(r.wet + i, clampLanes(mul(sub(g, splat(1.f)), splat(5.f)), splat(0.f), splat(1.f)));
  }
  if (r.steady) {
    r.bias2x[0] = bias[0];
    r.gain2x[0] = gain[0];
  } else {
    doubleRow(bias, r.bias2x);
    doubleRow(gain, r.gain2x);
  }
  if (!character) return;
  alignas(16) float charRow[kBlock];
  for (int i = 0; i < kBlock; i += 4) {
    const F4 c = add(add(loadU(in.character + i), loadU(in.characterRoute + i)), splat(in.characterOffset));
    storeF(charRow + i, clampLanes(c, splat(0.f), splat(1.f)));
  }
  doubleRow(charRow, r.character2x);
}

// The shaper's input (u + bias) x gain of each 2x sample, into v (either may be unaligned).
void shaperInput(const float* u, const FoldRows& r, float* v) {
  using namespace ml::simd;
  if (r.steady) {
    const F4 bias = splat(r.bias2x[0]);
    const F4 gain = splat(r.gain2x[0]);
    for (int k = 0; k < 2 * kBlock; k += 4) storeU(v + k, mul(add(loadU(u + k), bias), gain));
    return;
  }
  for (int k = 0; k < 2 * kBlock; k += 4)
    storeU(v + k, mul(add(loadU(u + k), loadF(r.bias2x + k)), loadF(r.gain2x + k)));
}

// The row mixed towards the folded row y by the wet share.
void mixWet(float* row, const float* y, const FoldRows& r) {
  if (r.steady) {
    const float wet = r.wet[0];
    for (int i = 0; i < kBlock; ++i) row[i] = row[i] + (y[i] - row[i]) * wet;
    return;
  }
  for (int i = 0; i < kBlock; ++i) row[i] = row[i] + (y[i] - row[i]) * r.wet[i];
}

// Each 2x shaper input's predecessor (last before v[0]), into p. The sine and Serge folds are taken there,
// so that they stay in time with the Lockhart fold's means, and sound the same whichever character sounds.
void previousInputs(const float* v, float last, float* p) {
  p[0] = last;
  std::copy_n(v, 2 * kBlock - 1, p + 1);
}

// Which folds the characters of a block reach: from 0.5 up the Lockhart one, below (a NaN among them) the
// sine one.
struct CharacterReach {
  bool lockhart;
  bool sine;
};

CharacterReach characterReach(const float* character) {
  using namespace ml::simd;
  I4 any = splatI(0);
  I4 all = splatI(-1);
  for (int k = 0; k < 2 * kBlock; k += 4) {
    const I4 high = greaterEqual(loadF(character + k), splat(0.5f));
    any = orMask(any, high);
    all = andMask(all, high);
  }
  return {anySet(any), !allSet(all)};
}

// foldCharMix four lanes at a time from the sine, Serge and unscaled Lockhart rows, into u. Where no
// character reaches the sine fold, each lane takes the Serge-to-Lockhart morph that foldCharMix picks there.
void characterMix(const float* sine, const float* serge, const float* lockhart, const float* character,
                  bool reachesSine, float* u) {
  using namespace ml::simd;
  for (int k = 0; k < 2 * kBlock; k += 4) {
    const F4 c = loadF(character + k);
    const F4 sg = mul(splat(0.697744f), loadF(serge + k));
    const F4 l = mul(loadF(lockhart + k), splat(1.612524f));
    const F4 toLockhart = add(sg, mul(mul(sub(l, sg), splat(2.f)), sub(c, splat(0.5f))));
    if (!reachesSine) {
      storeU(u + k, toLockhart);
      continue;
    }
    const F4 s = loadF(sine + k);
    const F4 toSerge = add(s, mul(mul(sub(sg, s), splat(2.f)), c));
    const F4 morph = select(toSerge, toLockhart, lessThan(c, splat(0.5f)));
    storeU(u + k, select(morph, s, greaterThan(c, splat(0.f))));
  }
}

// The sine fold of the previous inputs prev morphed by the character into u (which may be prev). The
// Lockhart fold is taken as its means over the 2x shaper inputs v after before and last.
void characterFoldRow(const float* v, const float* prev, const float* character, float before, float last,
                      float* u) {
  using namespace ml::simd;
  alignas(16) float sine[2 * kBlock];
  alignas(16) float serge[2 * kBlock];
  alignas(16) float lockhart[2 * kBlock];
  for (int k = 0; k < 2 * kBlock; k += 4)
    storeF(serge + k, mul(splat(1.6f), tanhApproxOf(Lanes(div(loadU(prev + k), splat(1.6f)))).v));
  ml::sinApprox(serge, 2 * kBlock);
  // Each fold is computed only where some character reaches it.
  const CharacterReach reach = characterReach(character);
  if (reach.sine) {
    for (int k = 0; k < 2 * kBlock; ++k) sine[k] = ml::sinApprox(prev[k]);
  }
  if (reach.lockhart) {
    LockhartMeans means = lockhartMeansFrom(before, last);
    lockhartMeans(means, v, 2 * kBlock, lockhart);
  } else {
    std::fill_n(lockhart, 2 * kBlock, 0.f);
  }
  characterMix(sine, serge, lockhart, character, reach.sine, u);
}

bool usesCharacterPath(const FoldInputs& in) {
  return in.character[kBlock - 1] > 0.0001f || in.character[0] > 0.0001f || in.characterVoiceSource ||
         std::fabs(in.characterOffset) > 1e-9f;
}

}  // namespace

void foldStage(float* row, FoldState& state, const FoldInputs& in) {
  alignas(16) float amount[kBlock];
  if (foldAmounts(in, amount) <= 1.001f) return;
  const bool character = usesCharacterPath(in);
  FoldRows r;
  fillFoldRows(in, amount, character, r);
  float y[kBlock];
  state.oversampler.processBlockRows(row, y, kBlock, [&](float* u) {
    alignas(16) float v[2 * kBlock];
    shaperInput(u, r, v);
    const float before = state.beforeLastInput;
    const float last = state.lastInput;
    state.beforeLastInput = v[2 * kBlock - 2];
    state.lastInput = v[2 * kBlock - 1];
    previousInputs(v, last, u);
    if (character) {
      characterFoldRow(v, u, r.character2x, before, last, u);
    } else {
      ml::sinApprox(u, 2 * kBlock);
    }
  });
  mixWet(row, y, r);
}
