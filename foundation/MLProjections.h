// Named shaping curves from float to float, mostly mapping 0..1 onto 0..1.
#pragma once

namespace ml::projections {

float zero(float x);
float unity(float x);
float squared(float x);
float flip(float x);
float clip(float x);  // clamped to 0..1
float smoothstep(float x);
float flatcenter(float x);
float bell(float x);  // 1 at 0.5, about 0.001 at 0 and 1
float easeOut(float x);
float easeIn(float x);
float easeInOut(float x);
float easeOutCubic(float x);
float easeInCubic(float x);
float easeInOutCubic(float x);
float easeOutQuartic(float x);
float easeInQuartic(float x);
float easeInOutQuartic(float x);
float overshoot(float x);     // peaks at 1.125 for x = 0.75, ends at 1
float bisquared(float x);     // odd: |x| * x
float invBisquared(float x);  // odd inverse of bisquared

}  // namespace ml::projections
