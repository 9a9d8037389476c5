// Wavefolder characters: the sine fold, the Serge fold and the Lockhart fold, morphed by a character
// value 0..1, and the block stage that runs them at twice the sample rate.
#pragma once

#include "engine/voice/Oversampler2x.h"

// Serge-style fold: sin(1.6 tanh(x / 1.6)) with the rational tanh and ml::sinApprox; bounded to about
// -1..1.
float sergeFold(float x);

// One-step approximation of the principal Lambert W for x >= 0, its logarithms by ml::logApprox.
float lambertW0pos(float x);

// Offset that makes the Lockhart curve pass through 0: 1 - lambertW0pos(e).
extern const float kLockRaw0;

// Lockhart fold of a triangle of x (2/pi ml::foldedAngle of x); odd, peak 0.98085 at x = pi/2.
float lockhartFold(float x);

// The antiderivative of lockhartFold from 0, in double precision: even and periodic in x (period 2 pi),
// from a table of the integral over a quarter period (cubic Hermite segments whose slopes are the fold).
double lockhartFoldIntegral(double x);

// The Lockhart fold band-limited by its second antiderivative (second-order antiderivative anti-aliasing):
// over a stream of shaper inputs, the fold's mean about each input weighted by a triangle reaching to its
// neighbours, one input late. Its kinks make harmonics that fall only as 1/n^2; the triangle lowers those
// that would fold back above twice the rate by about 1/n^2 more. The state: the last two inputs, the
// second integral at the last and the first-order mean between them (doubles).
struct LockhartMeans {
  float before;
  float last;
  double lastSecond;
  double lastMean;
};

// The state after the inputs before and last.
LockhartMeans lockhartMeansFrom(float before, float last);

// The means about the last input and the first n - 1 of x (n at most kMaxLockhartMeans) into out[0..n-1],
// taking x as the next inputs.
inline constexpr int kMaxLockhartMeans = 128;
void lockhartMeans(LockhartMeans& m, const float* x, int n, float* out);

// Morphs sine fold s (the sine of x) at c = 0 through the scaled Serge fold at 0.5 to the scaled
// Lockhart fold at 1; the gains level the three characters.
float foldCharMorph(float x, float s, float c);

// What the fold stage reads per block. Rows are 64 samples; route rows are the modulation route rows
// (pass a zero row when no route targets the value), offsets the block-level modulation.
struct FoldInputs {
  const float* fold{nullptr};  // smoothed Fold, 1..8
  const float* foldRoute{nullptr};
  float foldOffset{0.f};
  const float* bias{nullptr};  // smoothed Fold Bias, -1..1
  const float* biasRoute{nullptr};
  float biasOffset{0.f};
  const float* character{nullptr};  // smoothed Fold Character, 0..1
  const float* characterRoute{nullptr};
  float characterOffset{0.f};
  // The Fold Character route takes a per-voice source (Env 1, Env 2, or a crossfade from one).
  bool characterVoiceSource{false};
};

// A voice's fold: its 2x oversampler and the last two 2x shaper inputs (the start of the next block's
// Lockhart means). Plain data, copies with the voice.
struct FoldState {
  Oversampler2x oversampler;
  float beforeLastInput{0.f};
  float lastInput{0.f};

  void clear() { *this = FoldState{}; }
};

// Folds the row in place at twice the sample rate, the sines by ml::sinApprox, the Lockhart character by its
// means (lockhartMeans), the sine and Serge characters at the 2x input before, in time with them (their
// aliasing is already below -60 dB at C7). The fold fades in over fold amounts 1..1.2; a block whose amount
// never exceeds 1.001 passes unchanged and leaves the oversampler untouched. The wet path is 7 samples late
// against the dry one (the oversampler's latency and the one 2x sample of the means).
void foldStage(float* row, FoldState& state, const FoldInputs& in);
