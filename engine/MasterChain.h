// Master chain after the voice sum: reverb, three-band EQ, noise floor, output gain, soft knee and colour.
#pragma once

#include <atomic>

#include "engine/DattorroReverb.h"
#include "engine/voice/ParamSmoother.h"
#include "foundation/MLDSPGens.h"
#include "foundation/MLDSPVector.h"

// Coefficients of one EQ band filter for a centre or corner frequency (computed once per block).
struct EqBandCoeffs {
  float a1{1.0f};
  float a2{0.0f};
  float a3{0.0f};
};

enum EqBandType { kEqLow = 0, kEqMid = 1, kEqHigh = 2 };

// f in cycles per sample (0 < f < 0.5).
EqBandCoeffs eqBandCoeffs(float f);

// One EQ band on one sample: a trapezoidal state-variable filter with damping 1 whose low-pass (low
// shelf), band-pass (mid peak) or high-pass (high shelf) output is scaled by gain - 1 and added back to x.
// gain is linear; ic1 and ic2 are the filter's integrator states.
inline float eqBand(float x, const EqBandCoeffs& c, float gain, int type, float& ic1, float& ic2) {
  const float d = x - ic2;
  const float bp = c.a1 * ic1 + c.a2 * d;
  const float lp = ic2 + c.a2 * ic1 + c.a3 * d;
  ic1 = 2.0f * bp - ic1;
  ic2 = 2.0f * lp - ic2;
  const float band = (type == kEqLow) ? lp : (type == kEqMid) ? bp : x - bp - lp;
  return x + (gain - 1.0f) * band;
}

// Soft knee above 0.9: samples with |x| <= 0.9 pass unchanged, louder ones approach 1 and never reach it.
float softKnee(float x);

// Per-block coefficients of the colour stage.
struct ColourCoeffs {
  float lpCoef{0.0f};  // one-pole low-pass at 3 kHz
  float dcCoef{1.0f};  // DC blocker pole, 5 Hz
};

// Per-channel state of the colour stage.
struct ColourState {
  float lowpass{0.0f};
  float dcIn{0.0f};
  float dcOut{0.0f};
};

ColourCoeffs colourCoeffs(float sampleRate);

// Colour stage: adds asymmetric harmonics to the part of a sample above 0.9 (wet share rising from 0 at
// 0.9 to 1 at 1.0). Samples with |x| <= 0.9 pass unchanged, though the low-pass always tracks them.
float colour(float x, const ColourCoeffs& c, ColourState& s);

// The block's plain values of the nine master parameters. Any value is accepted: the chain clamps each
// into its parameter's range (NaN gives the range's low end).
struct MasterSettings {
  float reverbPreDelayMs{0.0f};    // ms
  float reverbDecaySeconds{0.0f};  // s
  float reverbTone{0.0f};          // 0..1
  float reverbMix{0.0f};           // 0..1
  float eqLow{0.0f};               // -1..1, i.e. -12..+12 dB
  float eqMid{0.0f};
  float eqHigh{0.0f};
  float noiseLevel{0.0f};  // 0..1
  float outputGain{0.0f};  // linear

  // Reads the values from a block cache indexed by parameter id (kNumParams entries).
  static MasterSettings fromParams(const double* values);
};

// The whole master chain of one engine, run once per 64-sample block on the summed dry rows. Owns the
// reverb (about 750 KB): keep it inside a heap-allocated owner. Audio thread only, except levelHot.
struct MasterChain {
  static constexpr float kSmootherMs = 20.0f;
  static constexpr int kNumEqStates = 6;  // low L, low R, mid L, mid R, high L, high R

  DattorroReverb reverb;
  ParamSmoother preDelaySmoother;
  ParamSmoother decaySmoother;
  ParamSmoother toneSmoother;
  ParamSmoother mixSmoother;
  ParamSmoother eqLowSmoother;
  ParamSmoother eqMidSmoother;
  ParamSmoother eqHighSmoother;
  ParamSmoother noiseLevelSmoother;
  ParamSmoother outputGainSmoother;
  float eqIc1[kNumEqStates]{};
  float eqIc2[kNumEqStates]{};
  ml::NoiseGen noiseGen;
  ml::OnePole noiseFilter;
  float noiseFilterRate{0.0f};  // the rate noiseFilter's coefficients were made for
  ColourState colourState[2];
  float sampleRate{44100.0f};
  // True when the last block's peak after the output gain exceeded 0.9 (relaxed; read by the editor).
  std::atomic<bool> levelHot{false};

  // Activation: sets up the reverb and the smoothers (which jump to the given settings), restarts the
  // noise sequence and clears every filter state. sr must be > 0 (other values are ignored).
  void setSampleRate(float sr, const MasterSettings& settings);
  // Host reset: silences the reverb and clears the EQ, noise-filter and colour states.
  void resetAll();
  // The block's stages, in this order, each in place on the summed dry rows (engine stages 15-19).
  // Each smooths its settings over kSmootherMs.
  void processReverb(const MasterSettings& settings, ml::DSPVector& left, ml::DSPVector& right);
  void processEq(const MasterSettings& settings, ml::DSPVector& left, ml::DSPVector& right);
  void processNoise(const MasterSettings& settings, ml::DSPVector& left, ml::DSPVector& right);
  // Also publishes levelHot.
  void processOutputGain(const MasterSettings& settings, ml::DSPVector& left, ml::DSPVector& right);
  // Soft knee, then colour.
  void processSaturation(ml::DSPVector& left, ml::DSPVector& right);
  // All five stages in order.
  void process(const MasterSettings& settings, ml::DSPVector& left, ml::DSPVector& right);

private:
  void clearFilterStates();
};
