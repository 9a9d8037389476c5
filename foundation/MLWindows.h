// Window functions over one period: x runs 0..1 across the window.
#pragma once

namespace ml::dspwindows {

float rectangle(float x);     // 1 on 0.25..0.75, else 0
float triangle(float x);      // 0 at the ends, 1 at 0.5
float raisedCosine(float x);  // Hann
float hamming(float x);
float blackman(float x);
float flatTop(float x);

}  // namespace ml::dspwindows
