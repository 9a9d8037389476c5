#include "foundation/MLWindows.h"

#include <cmath>

namespace ml::dspwindows {

namespace {

// Multiples of 2 pi as single-precision constants, so every window uses the same rounding.
constexpr float kTwoPi = 6.2831855f;
constexpr float kFourPi = 12.566371f;
constexpr float kSixPi = 18.849556f;
constexpr float kEightPi = 25.132742f;

}  // namespace

float rectangle(float x) {
  return (x > 0.75f || x < 0.25f) ? 0.f : 1.f;
}
float triangle(float x) {
  return x > 0.5f ? 2.f - 2.f * x : 2.f * x;
}
float raisedCosine(float x) {
  return 0.5f - 0.5f * cosf(kTwoPi * x);
}
float hamming(float x) {
  return 0.54f - 0.46f * cosf(kTwoPi * x);
}
float blackman(float x) {
  return 0.42f - 0.5f * cosf(kTwoPi * x) + 0.08f * cosf(kFourPi * x);
}

float flatTop(float x) {
  return 0.21557894f - 0.41663158f * cosf(kTwoPi * x) + 0.27726316f * cosf(kFourPi * x) -
         0.083578944f * cosf(kSixPi * x) + 0.006947368f * cosf(kEightPi * x);
}

}  // namespace ml::dspwindows
