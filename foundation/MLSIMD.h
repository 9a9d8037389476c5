// Four-lane float/int32 operations: SSE2 on x86_64, NEON on arm64, a plain loop elsewhere.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#define ML_SIMD_SSE2 1
#elif defined(__ARM_NEON) || defined(__ARM_NEON__)
#include <arm_neon.h>
#define ML_SIMD_NEON 1
#endif

namespace ml::simd {

// One lane of each operation, written plainly. The plain backend is built from these, and tests compare
// the vector backends against them.
namespace lane {

// Round to nearest under the current rounding mode; anything outside int32 (and NaN) gives 0x80000000,
// as the x86 conversion instruction does.
inline int32_t roundToInt(float x) {
  const float r = std::nearbyint(x);
  if (!(r >= -2147483648.0f && r < 2147483648.0f)) return INT32_MIN;
  return static_cast<int32_t>(r);
}

// Truncation toward zero; anything outside int32 (and NaN) gives 0x80000000, as on x86.
inline int32_t truncToInt(float x) {
  if (!(x >= -2147483648.0f && x < 2147483648.0f)) return INT32_MIN;
  return static_cast<int32_t>(x);
}

inline int32_t greaterMask(float a, float b) {
  return a > b ? -1 : 0;
}

inline float selectBits(float a, float b, int32_t mask) {
  uint32_t ua, ub;
  std::memcpy(&ua, &a, 4);
  std::memcpy(&ub, &b, 4);
  const uint32_t m = static_cast<uint32_t>(mask);
  const uint32_t r = (m & ua) | (~m & ub);
  float out;
  std::memcpy(&out, &r, 4);
  return out;
}

// Float of an unsigned 32-bit value with its lowest bit dropped: float(int32(u >> 1)) x 2.
inline float unsignedToFloat(int32_t bits) {
  return static_cast<float>(static_cast<int32_t>(static_cast<uint32_t>(bits) >> 1)) * 2.0f;
}

inline int32_t equalMask(int32_t a, int32_t b) {
  return a == b ? -1 : 0;
}

inline int32_t lessMask(float a, float b) {
  return a < b ? -1 : 0;
}

inline int32_t greaterEqualMask(float a, float b) {
  return a >= b ? -1 : 0;
}

// The float nearest the unsigned 32-bit value of the bits (rounded under the current mode).
inline float unsignedToFloatExact(int32_t bits) {
  return static_cast<float>(static_cast<uint32_t>(bits));
}

}  // namespace lane

#if ML_SIMD_SSE2

using F4 = __m128;
using I4 = __m128i;

inline F4 splat(float v) {
  return _mm_set1_ps(v);
}
inline F4 loadF(const float* p) {
  return _mm_load_ps(p);
}
inline void storeF(float* p, F4 v) {
  _mm_store_ps(p, v);
}
// Loads and stores without the 16-byte alignment.
inline F4 loadU(const float* p) {
  return _mm_loadu_ps(p);
}
inline void storeU(float* p, F4 v) {
  _mm_storeu_ps(p, v);
}
inline I4 loadI(const int32_t* p) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(p));
}
inline void storeI(int32_t* p, I4 v) {
  _mm_store_si128(reinterpret_cast<__m128i*>(p), v);
}
inline F4 add(F4 a, F4 b) {
  return _mm_add_ps(a, b);
}
inline F4 sub(F4 a, F4 b) {
  return _mm_sub_ps(a, b);
}
inline F4 mul(F4 a, F4 b) {
  return _mm_mul_ps(a, b);
}
inline I4 greaterThan(F4 a, F4 b) {
  return _mm_castps_si128(_mm_cmpgt_ps(a, b));
}
inline F4 select(F4 a, F4 b, I4 mask) {
  const F4 m = _mm_castsi128_ps(mask);
  return _mm_or_ps(_mm_and_ps(m, a), _mm_andnot_ps(m, b));
}
// cvtps2dq rounds under MXCSR and returns 0x80000000 for out-of-range and NaN lanes.
inline I4 roundToInt(F4 v) {
  return _mm_cvtps_epi32(v);
}
inline F4 unsignedToFloat(I4 v) {
  return _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(v, 1)), _mm_set1_ps(2.0f));
}
inline F4 div(F4 a, F4 b) {
  return _mm_div_ps(a, b);
}
inline I4 splatI(int32_t v) {
  return _mm_set1_epi32(v);
}
inline I4 equalI(I4 a, I4 b) {
  return _mm_cmpeq_epi32(a, b);
}
inline I4 andMask(I4 a, I4 b) {
  return _mm_and_si128(a, b);
}
inline I4 orMask(I4 a, I4 b) {
  return _mm_or_si128(a, b);
}
inline I4 xorI(I4 a, I4 b) {
  return _mm_xor_si128(a, b);
}
inline I4 addI(I4 a, I4 b) {
  return _mm_add_epi32(a, b);
}
template <int kBits>
inline I4 shiftRightI(I4 a) {
  return _mm_srli_epi32(a, kBits);
}
template <int kBits>
inline I4 shiftLeftI(I4 a) {
  return _mm_slli_epi32(a, kBits);
}
inline I4 bitsOf(F4 a) {
  return _mm_castps_si128(a);
}
inline F4 fromBits(I4 a) {
  return _mm_castsi128_ps(a);
}
inline I4 equal(F4 a, F4 b) {
  return _mm_castps_si128(_mm_cmpeq_ps(a, b));
}
inline bool allSet(I4 mask) {
  return _mm_movemask_ps(_mm_castsi128_ps(mask)) == 0xf;
}
inline bool anySet(I4 mask) {
  return _mm_movemask_ps(_mm_castsi128_ps(mask)) != 0;
}
inline F4 loadUnalignedF(const float* p) {
  return _mm_loadu_ps(p);
}
// Four scalars into lanes 0..3, without a round trip through memory.
inline F4 fromLanes(float a, float b, float c, float d) {
  return _mm_setr_ps(a, b, c, d);
}
// max(a, b) is a > b ? a : b and min(a, b) is a < b ? a : b per lane: a NaN in either gives b.
inline F4 max(F4 a, F4 b) {
  return _mm_max_ps(a, b);
}
inline F4 min(F4 a, F4 b) {
  return _mm_min_ps(a, b);
}
inline F4 abs(F4 v) {
  return _mm_andnot_ps(_mm_set1_ps(-0.0f), v);
}
inline I4 truncToInt(F4 v) {
  return _mm_cvttps_epi32(v);
}
inline F4 toFloat(I4 v) {
  return _mm_cvtepi32_ps(v);
}
// Rows a..d of a 4x4 matrix become its columns.
inline void transpose4(F4& a, F4& b, F4& c, F4& d) {
  _MM_TRANSPOSE4_PS(a, b, c, d);
}

inline I4 lessThan(F4 a, F4 b) {
  return _mm_castps_si128(_mm_cmplt_ps(a, b));
}
inline I4 greaterEqual(F4 a, F4 b) {
  return _mm_castps_si128(_mm_cmpge_ps(a, b));
}
inline I4 subI(I4 a, I4 b) {
  return _mm_sub_epi32(a, b);
}
// The low 32 bits of each lane's product (SSE2 has no such instruction: the even and odd lanes apart).
inline I4 mulI(I4 a, I4 b) {
  const __m128i even = _mm_mul_epu32(a, b);
  const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
  return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                            _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}
// The magnitude of mag with the sign of sign, as std::copysign.
inline F4 copySign(F4 mag, F4 sign) {
  const F4 bit = _mm_set1_ps(-0.0f);
  return _mm_or_ps(_mm_andnot_ps(bit, mag), _mm_and_ps(bit, sign));
}
// The high and low halves convert exactly; their sum rounds once, as a scalar conversion does.
inline F4 unsignedToFloatExact(I4 v) {
  const F4 hi = _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(v, 16)), _mm_set1_ps(65536.0f));
  return _mm_add_ps(hi, _mm_cvtepi32_ps(_mm_and_si128(v, _mm_set1_epi32(0xFFFF))));
}
// Bit k set where lane k of the mask is set.
inline int laneBits(I4 mask) {
  return _mm_movemask_ps(_mm_castsi128_ps(mask));
}
// (a0, b0, a1, b1) and (a2, b2, a3, b3).
inline F4 interleaveLow(F4 a, F4 b) {
  return _mm_unpacklo_ps(a, b);
}
inline F4 interleaveHigh(F4 a, F4 b) {
  return _mm_unpackhi_ps(a, b);
}
// (a0, a1, b0, b1) and (a2, a3, b2, b3).
inline F4 lowHalves(F4 a, F4 b) {
  return _mm_movelh_ps(a, b);
}
inline F4 highHalves(F4 a, F4 b) {
  return _mm_movehl_ps(b, a);
}

#elif ML_SIMD_NEON

using F4 = float32x4_t;
using I4 = int32x4_t;

inline F4 splat(float v) {
  return vdupq_n_f32(v);
}
inline F4 loadF(const float* p) {
  return vld1q_f32(p);
}
inline void storeF(float* p, F4 v) {
  vst1q_f32(p, v);
}
inline F4 loadU(const float* p) {
  return vld1q_f32(p);
}
inline void storeU(float* p, F4 v) {
  vst1q_f32(p, v);
}
inline I4 loadI(const int32_t* p) {
  return vld1q_s32(p);
}
inline void storeI(int32_t* p, I4 v) {
  vst1q_s32(p, v);
}
inline F4 add(F4 a, F4 b) {
  return vaddq_f32(a, b);
}
inline F4 sub(F4 a, F4 b) {
  return vsubq_f32(a, b);
}
inline F4 mul(F4 a, F4 b) {
  return vmulq_f32(a, b);
}
inline I4 greaterThan(F4 a, F4 b) {
  return vreinterpretq_s32_u32(vcgtq_f32(a, b));
}
inline F4 select(F4 a, F4 b, I4 mask) {
  return vbslq_f32(vreinterpretq_u32_s32(mask), a, b);
}
// FRINTI rounds under the current mode; the conversion itself saturates, so out-of-range and NaN lanes
// are replaced by 0x80000000 to match the x86 result.
inline I4 roundToInt(F4 v) {
  const F4 r = vrndiq_f32(v);
  const uint32x4_t inRange =
      vandq_u32(vcgeq_f32(r, vdupq_n_f32(-2147483648.0f)), vcltq_f32(r, vdupq_n_f32(2147483648.0f)));
  return vbslq_s32(inRange, vcvtq_s32_f32(r), vdupq_n_s32(INT32_MIN));
}
inline F4 unsignedToFloat(I4 v) {
  const I4 half = vreinterpretq_s32_u32(vshrq_n_u32(vreinterpretq_u32_s32(v), 1));
  return vmulq_f32(vcvtq_f32_s32(half), vdupq_n_f32(2.0f));
}
inline F4 div(F4 a, F4 b) {
  return vdivq_f32(a, b);
}
inline I4 splatI(int32_t v) {
  return vdupq_n_s32(v);
}
inline I4 equalI(I4 a, I4 b) {
  return vreinterpretq_s32_u32(vceqq_s32(a, b));
}
inline I4 andMask(I4 a, I4 b) {
  return vandq_s32(a, b);
}
inline I4 orMask(I4 a, I4 b) {
  return vorrq_s32(a, b);
}
inline I4 xorI(I4 a, I4 b) {
  return veorq_s32(a, b);
}
inline I4 addI(I4 a, I4 b) {
  return vaddq_s32(a, b);
}
template <int kBits>
inline I4 shiftRightI(I4 a) {
  return vreinterpretq_s32_u32(vshrq_n_u32(vreinterpretq_u32_s32(a), kBits));
}
template <int kBits>
inline I4 shiftLeftI(I4 a) {
  return vshlq_n_s32(a, kBits);
}
inline I4 bitsOf(F4 a) {
  return vreinterpretq_s32_f32(a);
}
inline F4 fromBits(I4 a) {
  return vreinterpretq_f32_s32(a);
}
inline I4 equal(F4 a, F4 b) {
  return vreinterpretq_s32_u32(vceqq_f32(a, b));
}
inline bool allSet(I4 mask) {
  return vminvq_u32(vreinterpretq_u32_s32(mask)) == 0xffffffffu;
}
inline bool anySet(I4 mask) {
  return vmaxvq_u32(vreinterpretq_u32_s32(mask)) != 0;
}
inline F4 loadUnalignedF(const float* p) {
  return vld1q_f32(p);
}
inline F4 fromLanes(float a, float b, float c, float d) {
  return F4{a, b, c, d};
}
inline F4 max(F4 a, F4 b) {
  return vbslq_f32(vcgtq_f32(a, b), a, b);
}
inline F4 min(F4 a, F4 b) {
  return vbslq_f32(vcltq_f32(a, b), a, b);
}
inline F4 abs(F4 v) {
  return vabsq_f32(v);
}
// The conversion saturates; out-of-range and NaN lanes are replaced by 0x80000000 as on x86.
inline I4 truncToInt(F4 v) {
  const uint32x4_t inRange =
      vandq_u32(vcgeq_f32(v, vdupq_n_f32(-2147483648.0f)), vcltq_f32(v, vdupq_n_f32(2147483648.0f)));
  return vbslq_s32(inRange, vcvtq_s32_f32(v), vdupq_n_s32(INT32_MIN));
}
inline F4 toFloat(I4 v) {
  return vcvtq_f32_s32(v);
}
inline void transpose4(F4& a, F4& b, F4& c, F4& d) {
  const float32x4x2_t ab = vtrnq_f32(a, b);
  const float32x4x2_t cd = vtrnq_f32(c, d);
  a = vcombine_f32(vget_low_f32(ab.val[0]), vget_low_f32(cd.val[0]));
  b = vcombine_f32(vget_low_f32(ab.val[1]), vget_low_f32(cd.val[1]));
  c = vcombine_f32(vget_high_f32(ab.val[0]), vget_high_f32(cd.val[0]));
  d = vcombine_f32(vget_high_f32(ab.val[1]), vget_high_f32(cd.val[1]));
}

inline I4 lessThan(F4 a, F4 b) {
  return vreinterpretq_s32_u32(vcltq_f32(a, b));
}
inline I4 greaterEqual(F4 a, F4 b) {
  return vreinterpretq_s32_u32(vcgeq_f32(a, b));
}
inline I4 subI(I4 a, I4 b) {
  return vsubq_s32(a, b);
}
inline I4 mulI(I4 a, I4 b) {
  return vmulq_s32(a, b);
}
inline F4 copySign(F4 mag, F4 sign) {
  return vbslq_f32(vdupq_n_u32(0x80000000u), sign, mag);
}
inline F4 unsignedToFloatExact(I4 v) {
  return vcvtq_f32_u32(vreinterpretq_u32_s32(v));
}
inline int laneBits(I4 mask) {
  const uint32x4_t weights = {1u, 2u, 4u, 8u};
  return static_cast<int>(vaddvq_u32(vandq_u32(vreinterpretq_u32_s32(mask), weights)));
}
inline F4 interleaveLow(F4 a, F4 b) {
  return vzip1q_f32(a, b);
}
inline F4 interleaveHigh(F4 a, F4 b) {
  return vzip2q_f32(a, b);
}
inline F4 lowHalves(F4 a, F4 b) {
  return vcombine_f32(vget_low_f32(a), vget_low_f32(b));
}
inline F4 highHalves(F4 a, F4 b) {
  return vcombine_f32(vget_high_f32(a), vget_high_f32(b));
}

#else

struct F4 {
  float v[4];
};
struct I4 {
  int32_t v[4];
};

inline F4 splat(float v) {
  return {{v, v, v, v}};
}
inline F4 loadF(const float* p) {
  return {{p[0], p[1], p[2], p[3]}};
}
inline void storeF(float* p, F4 a) {
  std::memcpy(p, a.v, sizeof a.v);
}
inline F4 loadU(const float* p) {
  return loadF(p);
}
inline void storeU(float* p, F4 a) {
  storeF(p, a);
}
inline I4 loadI(const int32_t* p) {
  return {{p[0], p[1], p[2], p[3]}};
}
inline void storeI(int32_t* p, I4 a) {
  std::memcpy(p, a.v, sizeof a.v);
}

template <typename R, typename A, typename B, typename Op>
inline R eachLane(const A& a, const B& b, Op op) {
  R r;
  for (int i = 0; i < 4; ++i) r.v[i] = op(a.v[i], b.v[i]);
  return r;
}
inline F4 add(F4 a, F4 b) {
  return eachLane<F4>(a, b, [](float x, float y) { return x + y; });
}
inline F4 sub(F4 a, F4 b) {
  return eachLane<F4>(a, b, [](float x, float y) { return x - y; });
}
inline F4 mul(F4 a, F4 b) {
  return eachLane<F4>(a, b, [](float x, float y) { return x * y; });
}
inline I4 greaterThan(F4 a, F4 b) {
  return eachLane<I4>(a, b, lane::greaterMask);
}
inline F4 select(F4 a, F4 b, I4 mask) {
  F4 r;
  for (int i = 0; i < 4; ++i) r.v[i] = lane::selectBits(a.v[i], b.v[i], mask.v[i]);
  return r;
}
inline I4 roundToInt(F4 a) {
  I4 r;
  for (int i = 0; i < 4; ++i) r.v[i] = lane::roundToInt(a.v[i]);
  return r;
}
inline F4 unsignedToFloat(I4 a) {
  F4 r;
  for (int i = 0; i < 4; ++i) r.v[i] = lane::unsignedToFloat(a.v[i]);
  return r;
}
inline F4 div(F4 a, F4 b) {
  return eachLane<F4>(a, b, [](float x, float y) { return x / y; });
}
inline I4 splatI(int32_t v) {
  return {{v, v, v, v}};
}
inline I4 equalI(I4 a, I4 b) {
  return eachLane<I4>(a, b, lane::equalMask);
}
inline I4 andMask(I4 a, I4 b) {
  return eachLane<I4>(a, b, [](int32_t x, int32_t y) { return x & y; });
}
inline I4 orMask(I4 a, I4 b) {
  return eachLane<I4>(a, b, [](int32_t x, int32_t y) { return x | y; });
}
inline I4 xorI(I4 a, I4 b) {
  return eachLane<I4>(a, b, [](int32_t x, int32_t y) { return x ^ y; });
}
inline I4 addI(I4 a, I4 b) {
  return eachLane<I4>(a, b,
                      [](int32_t x, int32_t y) { return static_cast<int32_t>(uint32_t(x) + uint32_t(y)); });
}
template <int kBits>
inline I4 shiftRightI(I4 a) {
  return eachLane<I4>(a, a, [](int32_t x, int32_t) { return static_cast<int32_t>(uint32_t(x) >> kBits); });
}
template <int kBits>
inline I4 shiftLeftI(I4 a) {
  return eachLane<I4>(a, a, [](int32_t x, int32_t) { return static_cast<int32_t>(uint32_t(x) << kBits); });
}
inline F4 loadUnalignedF(const float* p) {
  return loadF(p);
}
inline F4 fromLanes(float a, float b, float c, float d) {
  return {{a, b, c, d}};
}
inline F4 max(F4 a, F4 b) {
  return eachLane<F4>(a, b, [](float x, float y) { return x > y ? x : y; });
}
inline F4 min(F4 a, F4 b) {
  return eachLane<F4>(a, b, [](float x, float y) { return x < y ? x : y; });
}
inline F4 abs(F4 a) {
  F4 r;
  for (int i = 0; i < 4; ++i) r.v[i] = std::fabs(a.v[i]);
  return r;
}
inline I4 truncToInt(F4 a) {
  I4 r;
  for (int i = 0; i < 4; ++i) r.v[i] = lane::truncToInt(a.v[i]);
  return r;
}
inline F4 toFloat(I4 a) {
  F4 r;
  for (int i = 0; i < 4; ++i) r.v[i] = static_cast<float>(a.v[i]);
  return r;
}
inline I4 bitsOf(F4 a) {
  I4 r;
  std::memcpy(r.v, a.v, sizeof r.v);
  return r;
}
inline F4 fromBits(I4 a) {
  F4 r;
  std::memcpy(r.v, a.v, sizeof r.v);
  return r;
}
inline I4 equal(F4 a, F4 b) {
  return eachLane<I4>(a, b, [](float x, float y) { return x == y ? -1 : 0; });
}
inline bool allSet(I4 mask) {
  return (mask.v[0] & mask.v[1] & mask.v[2] & mask.v[3]) == -1;
}
inline bool anySet(I4 mask) {
  return (mask.v[0] | mask.v[1] | mask.v[2] | mask.v[3]) != 0;
}
inline void transpose4(F4& a, F4& b, F4& c, F4& d) {
  F4* rows[4] = {&a, &b, &c, &d};
  for (int i = 0; i < 4; ++i) {
    for (int j = i + 1; j < 4; ++j) std::swap(rows[i]->v[j], rows[j]->v[i]);
  }
}

inline I4 lessThan(F4 a, F4 b) {
  return eachLane<I4>(a, b, lane::lessMask);
}
inline I4 greaterEqual(F4 a, F4 b) {
  return eachLane<I4>(a, b, lane::greaterEqualMask);
}
inline I4 subI(I4 a, I4 b) {
  return eachLane<I4>(a, b,
                      [](int32_t x, int32_t y) { return static_cast<int32_t>(uint32_t(x) - uint32_t(y)); });
}
inline I4 mulI(I4 a, I4 b) {
  return eachLane<I4>(a, b,
                      [](int32_t x, int32_t y) { return static_cast<int32_t>(uint32_t(x) * uint32_t(y)); });
}
inline F4 copySign(F4 mag, F4 sign) {
  return eachLane<F4>(mag, sign, [](float x, float y) { return std::copysign(x, y); });
}
inline F4 unsignedToFloatExact(I4 a) {
  F4 r;
  for (int i = 0; i < 4; ++i) r.v[i] = lane::unsignedToFloatExact(a.v[i]);
  return r;
}
inline int laneBits(I4 mask) {
  int bits = 0;
  for (int i = 0; i < 4; ++i) bits |= (mask.v[i] < 0 ? 1 : 0) << i;
  return bits;
}
inline F4 interleaveLow(F4 a, F4 b) {
  return {{a.v[0], b.v[0], a.v[1], b.v[1]}};
}
inline F4 interleaveHigh(F4 a, F4 b) {
  return {{a.v[2], b.v[2], a.v[3], b.v[3]}};
}
inline F4 lowHalves(F4 a, F4 b) {
  return {{a.v[0], a.v[1], b.v[0], b.v[1]}};
}
inline F4 highHalves(F4 a, F4 b) {
  return {{a.v[2], a.v[3], b.v[2], b.v[3]}};
}

#endif

// x clamped to lo..hi with NaN giving lo, as ml::safeClamp: (x >= lo ? x : lo), then (> hi ? hi : .).
inline F4 clampLanes(F4 x, F4 lo, F4 hi) {
  const F4 low = select(x, lo, greaterEqual(x, lo));
  return select(hi, low, greaterThan(low, hi));
}

// Scalar forms of the lane choices, so that one kernel template serves floats and lanes.
inline float max(float a, float b) {
  return a > b ? a : b;
}
inline float min(float a, float b) {
  return a < b ? a : b;
}
inline float abs(float a) {
  return std::fabs(a);
}

// Four floats with arithmetic operators: kernels written as templates run on float or on Lanes alike,
// each lane doing exactly the float operations in the same order.
struct Lanes {
  F4 v;
  Lanes() : v(splat(0.f)) {}
  Lanes(float x) : v(splat(x)) {}  // NOLINT: implicit, so that constants mix with lanes
  explicit Lanes(F4 x) : v(x) {}
};

inline Lanes operator+(Lanes a, Lanes b) {
  return Lanes(add(a.v, b.v));
}
inline Lanes operator-(Lanes a, Lanes b) {
  return Lanes(sub(a.v, b.v));
}
inline Lanes operator*(Lanes a, Lanes b) {
  return Lanes(mul(a.v, b.v));
}
inline Lanes operator/(Lanes a, Lanes b) {
  return Lanes(div(a.v, b.v));
}
inline Lanes max(Lanes a, Lanes b) {
  return Lanes(max(a.v, b.v));
}
inline Lanes min(Lanes a, Lanes b) {
  return Lanes(min(a.v, b.v));
}
inline Lanes abs(Lanes a) {
  return Lanes(abs(a.v));
}
// a where mask is set, else b.
inline Lanes select(Lanes a, Lanes b, I4 mask) {
  return Lanes(select(a.v, b.v, mask));
}

// Two lane registers as eight lanes: each operation runs on both halves, so that two independent
// chains of work interleave instruction by instruction.
struct Lanes2 {
  Lanes a, b;
  Lanes2() = default;
  Lanes2(float x) : a(x), b(x) {}  // NOLINT: implicit, as Lanes
  Lanes2(Lanes first, Lanes second) : a(first), b(second) {}
};

inline Lanes2 operator+(Lanes2 x, Lanes2 y) {
  return {x.a + y.a, x.b + y.b};
}
inline Lanes2 operator-(Lanes2 x, Lanes2 y) {
  return {x.a - y.a, x.b - y.b};
}
inline Lanes2 operator*(Lanes2 x, Lanes2 y) {
  return {x.a * y.a, x.b * y.b};
}
inline Lanes2 operator/(Lanes2 x, Lanes2 y) {
  return {x.a / y.a, x.b / y.b};
}
inline Lanes2 max(Lanes2 x, Lanes2 y) {
  return {max(x.a, y.a), max(x.b, y.b)};
}
inline Lanes2 min(Lanes2 x, Lanes2 y) {
  return {min(x.a, y.a), min(x.b, y.b)};
}

}  // namespace ml::simd
