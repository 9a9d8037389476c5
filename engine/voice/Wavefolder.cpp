#include "engine/voice/Wavefolder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/voice/FilterSaturation.h"
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

// The integral H(a) of lockhartFoldOfAngle from 0 to a over a in 0..pi/2, and the fold at each node (the
// slope of H there). Simpson's rule on 16 steps per segment leaves errors far below float resolution.
struct LockhartIntegralTable {
  static constexpr int kSegments = 128;
  static constexpr double kStep = kQuarterTurn / kSegments;
  double integral[kSegments + 1];
  double slope[kSegments + 1];
};

LockhartIntegralTable buildLockhartIntegral() {
  constexpr int kSteps = 16;
  LockhartIntegralTable t{};
  const auto fold = [](double a) { return double(lockhartFoldOfAngle(float(a))); };
  for (int i = 0; i <= LockhartIntegralTable::kSegments; ++i) {
    const double a = i * LockhartIntegralTable::kStep;
    t.slope[i] = fold(a);
    if (i == 0) continue;
    const double h = LockhartIntegralTable::kStep / kSteps;
    const double from = a - LockhartIntegralTable::kStep;
    double sum = fold(from) + fold(a);
    for (int k = 1; k < kSteps; ++k) sum += (k % 2 ? 4.0 : 2.0) * fold(from + k * h);
    t.integral[i] = t.integral[i - 1] + sum * h / 3.0;
  }
  return t;
}

const LockhartIntegralTable s_lockhartIntegral = buildLockhartIntegral();

// H(a) for a in 0..pi/2: cubic Hermite between the nodes.
double lockhartQuarterIntegral(double a) {
  const LockhartIntegralTable& t = s_lockhartIntegral;
  const double pos = a * (1.0 / LockhartIntegralTable::kStep);
  const int i = std::min(int(pos), LockhartIntegralTable::kSegments - 1);
  const double s = pos - i;
  const double s2 = s * s;
  const double s3 = s2 * s;
  const double h = LockhartIntegralTable::kStep;
  return t.integral[i] * (2.0 * s3 - 3.0 * s2 + 1.0) + t.slope[i] * h * (s3 - 2.0 * s2 + s) +
         t.integral[i + 1] * (3.0 * s2 - 2.0 * s3) + t.slope[i + 1] * h * (s3 - s2);
}

}  // namespace

// x = n pi + r with |r| <= pi/2: over an even n the fold is the curve of r, over an odd one its negative, so
// the integral climbs H(|r|) from each even multiple of pi and falls back from 2 H(pi/2) after each odd one.
double lockhartFoldIntegral(double x) {
  const double n = std::nearbyint(x * (1.0 / kPiD));
  const double r = x - n * kPiD;
  const double h = lockhartQuarterIntegral(std::min(std::fabs(r), kQuarterTurn));
  const bool odd = (static_cast<int64_t>(n) & 1) != 0;
  return odd ? 2.0 * s_lockhartIntegral.integral[LockhartIntegralTable::kSegments] - h : h;
}

float lockhartFoldMean(float x0, float x1) {
  const double d = double(x1) - double(x0);
  if (std::fabs(d) < 1e-5) return lockhartFold(0.5f * (x0 + x1));
  return float((lockhartFoldIntegral(x1) - lockhartFoldIntegral(x0)) / d);
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

// Four lanes of tanhApprox, in its operation order.
F4 tanhApproxLanes(F4 x) {
  using namespace ml::simd;
  constexpr float kClamp = 7.90531110763549805f;
  const F4 lo = select(x, splat(-kClamp), greaterThan(x, splat(-kClamp)));
  const F4 c = select(lo, splat(kClamp), lessThan(lo, splat(kClamp)));
  const F4 y = mul(c, c);
  const F4 y2 = mul(y, y);
  const F4 y4 = mul(y2, y2);
  const F4 p01 = add(splat(4.89352455891786e-03f), mul(splat(6.37261928875436e-04f), y));
  const F4 p23 = add(splat(1.48572235717979e-05f), mul(splat(5.12229709037114e-08f), y));
  const F4 p45 = add(splat(-8.60467152213735e-11f), mul(splat(2.00018790482477e-13f), y));
  const F4 p6 = splat(-2.76076847742355e-16f);
  const F4 p = mul(c, add(add(p01, mul(p23, y2)), mul(add(p45, mul(p6, y2)), y4)));
  const F4 q01 = add(splat(4.89352518554385e-03f), mul(splat(2.26843463243900e-03f), y));
  const F4 q23 = add(splat(1.18534705686654e-04f), mul(splat(1.19825839466702e-06f), y));
  return div(p, add(q01, mul(q23, y2)));
}

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
// gain, the wet share and the character, the last three at twice the rate.
struct FoldRows {
  alignas(16) float wet[kBlock];
  alignas(16) float bias2x[2 * kBlock];
  alignas(16) float gain2x[2 * kBlock];
  alignas(16) float character2x[2 * kBlock];
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

void fillFoldRows(const FoldInputs& in, const float* amount, bool character, FoldRows& r) {
  using namespace ml::simd;
  alignas(16) float bias[kBlock], gain[kBlock], charRow[kBlock];
  for (int i = 0; i < kBlock; i += 4) {
    const F4 g = clampLanes(loadF(amount + i), splat(1.f), splat(8.f));
    const F4 b = add(add(loadU(in.bias + i), loadU(in.biasRoute + i)), splat(in.biasOffset));
    storeF(bias + i, mul(splat(0.5f), clampLanes(b, splat(-1.f), splat(1.f))));
    storeF(gain + i, mul(splat(1.5707964f), g));
    storeF(r.wet + i, clampLanes(mul(sub(g, splat(1.f)), splat(5.f)), splat(0.f), splat(1.f)));
    if (character) {
      const F4 c = add(add(loadU(in.character + i), loadU(in.characterRoute + i)), splat(in.characterOffset));
      storeF(charRow + i, clampLanes(c, splat(0.f), splat(1.f)));
    }
  }
  doubleRow(bias, r.bias2x);
  doubleRow(gain, r.gain2x);
  if (character) doubleRow(charRow, r.character2x);
}

// The shaper's input (u + bias) x gain of each 2x sample, into v (either may be unaligned).
void shaperInput(const float* u, const FoldRows& r, float* v) {
  using namespace ml::simd;
  for (int k = 0; k < 2 * kBlock; k += 4)
    storeU(v + k, mul(add(loadU(u + k), loadF(r.bias2x + k)), loadF(r.gain2x + k)));
}

// The midpoint of each 2x shaper input and the one before it (last before v[0]), into m. The sine and
// Serge folds are taken there, so that they stay in time with the Lockhart fold's mean over the same span
// (a quarter of a base-rate sample late, and the same whichever character sounds).
void midpoints(const float* v, float last, float* m) {
  m[0] = 0.5f * (last + v[0]);
  for (int k = 1; k < 2 * kBlock; ++k) m[k] = 0.5f * (v[k - 1] + v[k]);
}

// The sine fold of the midpoints mid morphed by the character into u (which may be mid). The Lockhart fold
// is computed only where the character reaches it, as its mean between the 2x shaper inputs v (last is the
// one before v[0]).
void characterFoldRow(const float* v, const float* mid, const float* character, float last, float* u) {
  using namespace ml::simd;
  alignas(16) float sine[2 * kBlock];
  alignas(16) float serge[2 * kBlock];
  alignas(16) float lockhart[2 * kBlock];
  for (int k = 0; k < 2 * kBlock; k += 4)
    storeF(serge + k, mul(splat(1.6f), tanhApproxLanes(div(loadU(mid + k), splat(1.6f)))));
  for (int k = 0; k < 2 * kBlock; ++k) sine[k] = ml::sinApprox(mid[k]);
  ml::sinApprox(serge, 2 * kBlock);
  bool reachesLockhart = false;
  for (int k = 0; k < 2 * kBlock; ++k) reachesLockhart |= character[k] >= 0.5f;
  for (int k = 0; k < 2 * kBlock; ++k) {
    lockhart[k] = reachesLockhart ? 1.612524f * lockhartFoldMean(last, v[k]) : 0.f;
    last = v[k];
  }
  // foldCharMix four lanes at a time.
  for (int k = 0; k < 2 * kBlock; k += 4) {
    const F4 c = loadF(character + k);
    const F4 s = loadF(sine + k);
    const F4 sg = mul(splat(0.697744f), loadF(serge + k));
    const F4 toSerge = add(s, mul(mul(sub(sg, s), splat(2.f)), c));
    const F4 toLockhart = add(sg, mul(mul(sub(loadF(lockhart + k), sg), splat(2.f)), sub(c, splat(0.5f))));
    const F4 morph = select(toSerge, toLockhart, lessThan(c, splat(0.5f)));
    storeU(u + k, select(morph, s, greaterThan(c, splat(0.f))));
  }
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
    const float last = state.lastInput;
    state.lastInput = v[2 * kBlock - 1];
    midpoints(v, last, u);
    if (character) {
      characterFoldRow(v, u, r.character2x, last, u);
    } else {
      ml::sinApprox(u, 2 * kBlock);
    }
  });
  for (int i = 0; i < kBlock; ++i) row[i] = row[i] + (y[i] - row[i]) * r.wet[i];
}
