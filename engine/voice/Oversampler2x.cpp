// Builds the shared half-band taps: Kaiser-windowed ideal half-band low-pass, normalised to unit DC.
#include "engine/voice/Oversampler2x.h"

#include <cmath>
#include <mutex>
#include <numbers>

namespace {

constexpr int kCentre = 7;
constexpr double kKaiserBeta = 7.0;
constexpr double kI0OfBeta = 168.5939085102897;

// Zeroth-order modified Bessel function of the first kind, by its power series (40 terms).
double besselI0(double z) {
  const double halfSq = (z * 0.5) * (z * 0.5);
  double term = 1.0;
  double sum = 1.0;
  for (int k = 1; k < 40; ++k) {
    term = term * halfSq / (double(k) * double(k));
    sum += term;
  }
  return sum;
}

std::once_flag s_halfbandOnce;

void buildHalfband() {
  constexpr float kPi = std::numbers::pi_v<float>;  // 3.1415927
  double sum = 0.0;
  for (int n = 0; n < Oversampler2x::kTaps; ++n) {
    const int m = n - kCentre;
    double h = 0.5;
    if (m != 0) {
      const float pm = kPi * float(m);
      h = std::sin(double(pm) * 0.5) / double(pm);
    }
    const double x = 2.0 * n / double(Oversampler2x::kTaps - 1) - 1.0;
    const double w = besselI0(kKaiserBeta * std::sqrt(1.0 - x * x)) / kI0OfBeta;
    const bool halfbandZero = (m != 0) && (m % 2 == 0);
    const float tap = halfbandZero ? 0.f : float(h * w);
    Oversampler2x::sTaps[n] = tap;
    sum += tap;
  }
  for (float& tap : Oversampler2x::sTaps) tap = float(double(tap) / sum);
  for (int n = 0; n < Oversampler2x::kTaps; ++n) {
    const float tap = Oversampler2x::sTaps[n];
    HalfbandTapsOf<float>::plain[n] = tap;
    HalfbandTapsOf<float>::doubled[n] = 2.f * tap;
    HalfbandTapsOf<ml::simd::Lanes>::plain[n] = tap;
    HalfbandTapsOf<ml::simd::Lanes>::doubled[n] = 2.f * tap;
  }
}

}  // namespace

void Oversampler2x::initHalfband() {
  std::call_once(s_halfbandOnce, buildHalfband);
}
