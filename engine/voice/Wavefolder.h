// Wavefolder characters: the sine fold, the Serge fold and the Lockhart fold, morphed by a character
// value 0..1, and the block stage that runs them at twice the sample rate.
#pragma once

// Serge-style fold: sin(1.6 tanh(x / 1.6)); bounded to about -1..1.
float sergeFold(float x);

// One-step approximation of the principal Lambert W for x >= 0.
float lambertW0pos(float x);

// Offset that makes the Lockhart curve pass through 0: 1 - lambertW0pos(e).
extern const float kLockRaw0;

// Lockhart fold of a triangle of x; odd, peak 0.98085 at x = pi/2.
float lockhartFold(float x);

// Morphs sine fold s (the sine of x) at c = 0 through the scaled Serge fold at 0.5 to the scaled
// Lockhart fold at 1; the gains level the three characters.
float foldCharMorph(float x, float s, float c);
