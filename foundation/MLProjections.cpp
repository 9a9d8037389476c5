#include "foundation/MLProjections.h"

#include <cmath>

#include "foundation/MLScalarMath.h"

namespace ml::projections {

namespace {

// Joins an ease-in on the first half with an ease-out on the second, both scaled into 0..1.
template <float (*in)(float), float (*out)(float)>
float easeInThenOut(float x) {
  return x < 0.5f ? in(2.f * x) * 0.5f : out(2.f * x - 1.f) * 0.5f + 0.5f;
}

}  // namespace

float zero(float) {
  return 0.f;
}
float unity(float x) {
  return x;
}
float squared(float x) {
  return x * x;
}
float flip(float x) {
  return 1.f - x;
}
float clip(float x) {
  return ml::clamp(x, 0.f, 1.f);
}
float smoothstep(float x) {
  return 3.f * x * x - 2.f * x * x * x;
}

float flatcenter(float x) {
  const float c = x - 0.5f;
  return 4.f * c * c * c + 0.5f;
}

float bell(float x) {
  const float c = 2.f * x - 1.f;
  return powf(2.f, -10.f * c * c);
}

float easeOut(float x) {
  return 1.f - (x - 1.f) * (x - 1.f);
}
float easeIn(float x) {
  return x * x;
}
float easeInOut(float x) {
  return easeInThenOut<easeIn, easeOut>(x);
}

float easeOutCubic(float x) {
  const float c = 1.f - x;
  return 1.f - c * c * c;
}
float easeInCubic(float x) {
  return x * x * x;
}
float easeInOutCubic(float x) {
  return easeInThenOut<easeInCubic, easeOutCubic>(x);
}

float easeOutQuartic(float x) {
  const float c = x - 1.f;
  return 1.f - c * c * c * c;
}
float easeInQuartic(float x) {
  return x * x * x * x;
}
float easeInOutQuartic(float x) {
  return easeInThenOut<easeInQuartic, easeOutQuartic>(x);
}

float overshoot(float x) {
  return 3.f * x - 2.f * x * x;
}
float bisquared(float x) {
  return std::fabs(x) * x;
}

float invBisquared(float x) {
  return sqrtf(std::fabs(x)) * static_cast<float>(ml::sign(x));
}

}  // namespace ml::projections
