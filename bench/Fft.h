#pragma once
// In-place radix-2 FFT over complex doubles, for measuring spectra in tests and measurement tools.

#include <complex>
#include <cstddef>
#include <utility>
#include <vector>

namespace measure {

// a.size() must be a power of two.
inline void fft(std::vector<std::complex<double>>& a) {
  constexpr double kPi = 3.14159265358979323846;
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const std::complex<double> step = std::polar(1.0, -2.0 * kPi / double(len));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w = 1.0;
      for (size_t k = 0; k < len / 2; ++k, w *= step) {
        const std::complex<double> u = a[i + k], v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
    }
  }
}

}  // namespace measure
