// Fixtures and measurements shared by the voice kernel tests: tone amplitude, pitch and power spectra.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <vector>

#include "bench/Fft.h"
#include "engine/voice/Oversampler2x.h"
#include "platform/FloatingPointControl.h"

namespace kernel_test {

// Kernels that oversample: the shared half-band taps are built once per suite.
class HalfbandTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { Oversampler2x::initHalfband(); }
};

// ... run with denormals flushed, as the engine runs them.
class FlushedHalfbandTest : public HalfbandTest {
protected:
  void SetUp() override { enableDenormalFlush(); }
  ScopedFloatingPointControl fpu;
};

inline constexpr double kTwoPi = 6.283185307179586;

// Amplitude of the component at freq (Hz) in x[start..], by correlation over whole samples.
inline double toneAmplitude(const std::vector<float>& x, size_t start, double freq, double sr) {
  std::complex<double> acc{0.0, 0.0};
  const size_t n = x.size() - start;
  for (size_t i = 0; i < n; ++i) {
    const double ph = kTwoPi * freq * double(i + start) / sr;
    acc += double(x[i + start]) * std::complex<double>(std::cos(ph), -std::sin(ph));
  }
  return 2.0 * std::abs(acc) / double(n);
}

// Runs a sine of amplitude amp at freq through a per-sample process for seconds and returns the
// output amplitude at freq over the second half, divided by amp.
inline double sineGain(const std::function<float(float)>& process, double freq, double sr, float amp = 0.5f,
                       double seconds = 0.25) {
  const size_t n = size_t(seconds * sr);
  std::vector<float> y(n);
  for (size_t i = 0; i < n; ++i) y[i] = process(amp * float(std::sin(kTwoPi * freq * double(i) / sr)));
  return toneAmplitude(y, n / 2, freq, sr) / amp;
}

inline double toDb(double gain) {
  return 20.0 * std::log10(gain);
}

// Frequency from the rising zero crossings of x[start, end) (linear interpolation between samples).
inline double zeroCrossingFrequency(const std::vector<float>& x, size_t start, double sr,
                                    size_t end = SIZE_MAX) {
  double first = -1.0, last = -1.0;
  int count = 0;
  for (size_t i = start + 1; i < std::min(end, x.size()); ++i) {
    if (x[i - 1] < 0.f && x[i] >= 0.f) {
      const double t = double(i - 1) + double(x[i - 1]) / double(x[i - 1] - x[i]);
      if (first < 0.0) first = t;
      last = t;
      ++count;
    }
  }
  return (count > 1) ? sr * double(count - 1) / (last - first) : 0.0;
}

inline double rms(const std::vector<float>& x, size_t start, size_t end) {
  double s = 0.0;
  for (size_t i = start; i < end; ++i) s += double(x[i]) * double(x[i]);
  return std::sqrt(s / double(end - start));
}

// Power spectrum (|X|^2, bins 0..n/2) of x with a Hann window; n must be a power of two.
inline std::vector<double> powerSpectrum(const std::vector<float>& x) {
  const size_t n = x.size();
  std::vector<std::complex<double>> a(n);
  for (size_t i = 0; i < n; ++i) a[i] = double(x[i]) * (0.5 - 0.5 * std::cos(kTwoPi * double(i) / double(n)));
  measure::fft(a);
  std::vector<double> p(n / 2 + 1);
  for (size_t k = 0; k <= n / 2; ++k) p[k] = std::norm(a[k]);
  return p;
}

}  // namespace kernel_test
