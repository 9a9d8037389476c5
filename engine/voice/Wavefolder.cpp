#include "engine/voice/Wavefolder.h"

#include <cmath>

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

// Four lanes of ml::logApprox, in its operation order.
F4 logApproxLanes(F4 x) {
  using namespace ml::simd;
  using L = ml::LogApprox;
  const I4 bits = bitsOf(x);
  const I4 e = subI(shiftRightI<23>(addI(bits, splatI(L::kExponentShift))), splatI(127));
  const F4 m = fromBits(subI(bits, shiftLeftI<23>(e)));
  const F4 s = div(sub(m, splat(1.f)), add(m, splat(1.f)));
  const F4 z = mul(s, s);
  F4 p = splat(L::kC9);
  p = add(mul(p, z), splat(L::kC7));
  p = add(mul(p, z), splat(L::kC5));
  p = add(mul(p, z), splat(L::kC3));
  const F4 twoS = mul(splat(2.f), s);
  const F4 lnM = add(twoS, mul(mul(twoS, z), p));
  const F4 fe = toFloat(e);
  return add(mul(fe, splat(L::kLn2Hi)), add(lnM, mul(fe, splat(L::kLn2Lo))));
}

// Four lanes of lockhartFoldOfAngle, in its operation order.
F4 lockhartFoldOfAngleLanes(F4 angle) {
  using namespace ml::simd;
  const F4 v = mul(splat(0.63661975f), angle);
  const F4 x = mul(splat(2.7182817f), sub(splat(1.f), abs(v)));
  const F4 w = logApproxLanes(add(splat(1.f), x));
  const F4 lambert = mul(w, sub(splat(1.f), div(logApproxLanes(add(splat(1.f), w)), add(splat(2.f), w))));
  const F4 r = sub(sub(splat(1.f), lambert), splat(kLockRaw0));
  return select(mul(r, splat(-1.f)), r, lessThan(v, splat(0.f)));
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

// The sine fold of the 2x shaper inputs v morphed by the character into u. The Lockhart fold (two
// logarithms a sample) is computed only where the character reaches it.
void characterFoldRow(const float* v, const float* character, float* u) {
  using namespace ml::simd;
  alignas(16) float sine[2 * kBlock];
  alignas(16) float serge[2 * kBlock];
  alignas(16) float angle[2 * kBlock];
  alignas(16) float lockhart[2 * kBlock];
  for (int k = 0; k < 2 * kBlock; k += 4)
    storeF(serge + k, mul(splat(1.6f), tanhApproxLanes(div(loadF(v + k), splat(1.6f)))));
  for (int k = 0; k < 2 * kBlock; ++k) {
    angle[k] = ml::foldedAngle(v[k]);
    sine[k] = ml::sinOfFoldedAngle(angle[k]);
  }
  ml::sinApprox(serge, 2 * kBlock);
  for (int k = 0; k < 2 * kBlock; k += 4) {
    const I4 below = lessThan(loadF(character + k), splat(0.5f));
    const F4 lanes =
        allSet(below) ? splat(0.f) : mul(splat(1.612524f), lockhartFoldOfAngleLanes(loadF(angle + k)));
    storeF(lockhart + k, select(splat(0.f), lanes, below));
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

void foldStage(float* row, Oversampler2x& oversampler, const FoldInputs& in) {
  alignas(16) float amount[kBlock];
  if (foldAmounts(in, amount) <= 1.001f) return;
  const bool character = usesCharacterPath(in);
  FoldRows r;
  fillFoldRows(in, amount, character, r);
  float y[kBlock];
  oversampler.processBlockRows(row, y, kBlock, [&](float* u) {
    if (character) {
      alignas(16) float v[2 * kBlock];
      shaperInput(u, r, v);
      characterFoldRow(v, r.character2x, u);
    } else {
      shaperInput(u, r, u);
      ml::sinApprox(u, 2 * kBlock);
    }
  });
  for (int i = 0; i < kBlock; ++i) row[i] = row[i] + (y[i] - row[i]) * r.wet[i];
}
