// The 64-sample signal vector, its integer twin and their element-wise operations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/MLSIMD.h"
#include "foundation/MLScalarMath.h"

namespace ml {

// Length of every signal block in the engine, in samples.
inline constexpr size_t kFloatsPerDSPVector = 64;
// Index of the last sample of a block.
inline constexpr size_t kLastSampleInVector = kFloatsPerDSPVector - 1;

// ROWS rows of 64 contiguous floats, 16-byte aligned, with value semantics. Row r begins at float
// 64 x r. Element and row accessors do not check their index.
template <size_t ROWS>
struct alignas(16) DSPVectorArray {
  static constexpr size_t kSize = kFloatsPerDSPVector * ROWS;
  float data[kSize]{};

  constexpr DSPVectorArray() = default;
  // Fills every element with v. Implicit, so a float can stand for a constant vector in expressions.
  constexpr DSPVectorArray(float v) {
    for (size_t i = 0; i < kSize; ++i) data[i] = v;
  }

  constexpr DSPVectorArray& operator=(float v) {
    for (size_t i = 0; i < kSize; ++i) data[i] = v;
    return *this;
  }

  constexpr float& operator[](size_t i) { return data[i]; }
  constexpr const float& operator[](size_t i) const { return data[i]; }

  float* getBuffer() { return data; }
  const float* getConstBuffer() const { return data; }
  float* row(size_t r) { return data + kFloatsPerDSPVector * r; }
  const float* constRow(size_t r) const { return data + kFloatsPerDSPVector * r; }

  DSPVectorArray& operator+=(const DSPVectorArray& b) {
    *this = *this + b;
    return *this;
  }

  friend DSPVectorArray operator+(const DSPVectorArray& a, const DSPVectorArray& b) {
    return map2(a, b, [](simd::F4 x, simd::F4 y) { return simd::add(x, y); });
  }
  friend DSPVectorArray operator-(const DSPVectorArray& a, const DSPVectorArray& b) {
    return map2(a, b, [](simd::F4 x, simd::F4 y) { return simd::sub(x, y); });
  }
  friend DSPVectorArray operator*(const DSPVectorArray& a, const DSPVectorArray& b) {
    return map2(a, b, [](simd::F4 x, simd::F4 y) { return simd::mul(x, y); });
  }

  // Applies a four-lane float operation to each group of four elements.
  template <typename Op>
  static DSPVectorArray map2(const DSPVectorArray& a, const DSPVectorArray& b, Op op) {
    DSPVectorArray r;
    for (size_t i = 0; i < kSize; i += 4) {
      simd::storeF(r.data + i, op(simd::loadF(a.data + i), simd::loadF(b.data + i)));
    }
    return r;
  }
};

using DSPVector = DSPVectorArray<1>;

// ROWS rows of 64 signed 32-bit integers, 16-byte aligned. Used for phase rounding and comparison masks.
template <size_t ROWS>
struct alignas(16) DSPVectorArrayInt {
  static constexpr size_t kSize = kFloatsPerDSPVector * ROWS;
  int32_t data[kSize]{};

  constexpr DSPVectorArrayInt() = default;
  constexpr DSPVectorArrayInt& operator=(int32_t v) {
    for (size_t i = 0; i < kSize; ++i) data[i] = v;
    return *this;
  }
  constexpr int32_t& operator[](size_t i) { return data[i]; }
  constexpr const int32_t& operator[](size_t i) const { return data[i]; }
  int32_t* getBuffer() { return data; }
  const int32_t* getConstBuffer() const { return data; }
};

template <size_t N>
DSPVectorArray<N> add(const DSPVectorArray<N>& a, const DSPVectorArray<N>& b) {
  return a + b;
}
template <size_t N>
DSPVectorArray<N> subtract(const DSPVectorArray<N>& a, const DSPVectorArray<N>& b) {
  return a - b;
}
template <size_t N>
DSPVectorArray<N> multiply(const DSPVectorArray<N>& a, const DSPVectorArray<N>& b) {
  return a * b;
}

// All bits set where a[i] > b[i], else 0; a NaN compares false.
template <size_t N>
DSPVectorArrayInt<N> greaterThan(const DSPVectorArray<N>& a, const DSPVectorArray<N>& b) {
  DSPVectorArrayInt<N> r;
  for (size_t i = 0; i < DSPVectorArray<N>::kSize; i += 4) {
    simd::storeI(r.data + i, simd::greaterThan(simd::loadF(a.data + i), simd::loadF(b.data + i)));
  }
  return r;
}

// Bitwise (mask AND a) OR (NOT mask AND b).
template <size_t N>
DSPVectorArray<N> select(const DSPVectorArray<N>& a, const DSPVectorArray<N>& b,
                         const DSPVectorArrayInt<N>& mask) {
  DSPVectorArray<N> r;
  for (size_t i = 0; i < DSPVectorArray<N>::kSize; i += 4) {
    simd::storeF(r.data + i,
                 simd::select(simd::loadF(a.data + i), simd::loadF(b.data + i), simd::loadI(mask.data + i)));
  }
  return r;
}

// Nearest integer under the current rounding mode (ties to even by default); out of int32 range or NaN
// gives 0x80000000.
template <size_t N>
DSPVectorArrayInt<N> roundFloatToInt(const DSPVectorArray<N>& v) {
  DSPVectorArrayInt<N> r;
  for (size_t i = 0; i < DSPVectorArray<N>::kSize; i += 4) {
    simd::storeI(r.data + i, simd::roundToInt(simd::loadF(v.data + i)));
  }
  return r;
}

// Float of each element read as unsigned 32 bits, with the lowest bit dropped: at most 2^32 after rounding.
template <size_t N>
DSPVectorArray<N> unsignedIntToFloat(const DSPVectorArrayInt<N>& v) {
  DSPVectorArray<N> r;
  for (size_t i = 0; i < DSPVectorArray<N>::kSize; i += 4) {
    simd::storeF(r.data + i, simd::unsignedToFloat(simd::loadI(v.data + i)));
  }
  return r;
}

// Element i is (i + 1) / 64: from 1/64 up to exactly 1.
inline constexpr DSPVector kUnityRampVec = [] {
  DSPVector v;
  for (size_t i = 0; i < kFloatsPerDSPVector; ++i) v[i] = static_cast<float>(i + 1) / 64.0f;
  return v;
}();

}  // namespace ml
