// The two envelope models of a voice: the classic one on top of the exponential ADSR generator, and
// the modern time-based playhead with warped segments. Both keep a display state for the editor.
#pragma once

#include <cstdint>

#include "engine/voice/Envelopes.h"
#include "foundation/MLADSR.h"
#include "foundation/MLDSPVector.h"

// Display and playhead stages of both models (the modern model runs on the same numbers).
enum EnvStage : int32_t {
  kEnvDelay = 0,
  kEnvAttack = 1,
  kEnvHold = 2,
  kEnvDecay = 3,
  kEnvSustain = 4,
  kEnvRelease = 5,
  kEnvIdle = 6
};

// Per-envelope state of one voice beside its ADSR generator. The classic fields wrap the ADSR with a
// delay, a hold, the trigger modes and the curve rescaling of the release; the modern fields are the
// playhead. Levels are 0..1, counters and lengths in samples. Plain data; copies with the voice.
struct EnvWrap {
  // Classic model.
  int32_t delayCounter{0};
  int32_t holdCounter{0};
  int32_t delayLength{0};
  int32_t holdLength{0};
  bool inDelay{false};
  bool inHold{false};
  bool holdDone{false};
  // Both models.
  bool gate{false};
  bool oneShotLatch{false};
  float displayLevel{0.f};
  int32_t displayStage{kEnvIdle};
  float displayProgress{0.f};
  // Classic model.
  float lastOutput{0.f};
  int32_t lastAdsrStage{ml::ADSR::kOff};
  float releaseStartLevel{0.f};     // shaped output when the release began
  float releaseStartRawLevel{0.f};  // the ADSR's own level then
  bool releaseRescaled{false};
  // Modern model.
  int32_t stage{kEnvIdle};
  int32_t stageCounter{0};
  float level{0.f};
  float modernReleaseStartLevel{0.f};
  float smoothedSustain{0.f};
  bool sustainInitialised{false};

  void clear() { *this = EnvWrap{}; }
  bool idle() const { return displayStage == kEnvIdle; }
};

// The gate's edges in one block (before = the last gate of the previous block): bit i of rises is set
// where gate[i] > 0 follows a value <= 0, bit i of falls where gate[i] <= 0 follows a value > 0, and
// bit i of high where gate[i] > 0.
struct GateEdges {
  uint64_t rises{0};
  uint64_t falls{0};
  uint64_t high{0};
};
// gate: a row of one block, 16-byte aligned.
GateEdges gateEdges(const float* gate, float before);
inline GateEdges gateEdges(const ml::DSPVector& gate, float before) {
  return gateEdges(gate.getConstBuffer(), before);
}

// First sample of the block at which the gate rises above 0 (before = the last gate of the previous
// block), or -1.
int firstGateRise(const float* gate, float before);
inline int firstGateRise(const ml::DSPVector& gate, float before) {
  return firstGateRise(gate.getConstBuffer(), before);
}

// Glides a stored stage time one block step toward `target` with coefficient c; a negative stored
// value takes the target at once.
void glideStageTime(float& stored, float target, float c);

// Classic model: one block through the ADSR (whose coefficients the caller has set with calcCoeffs).
// The ADSR sees gates 0 and 1 only. triggerIndex is the sample of the note start or -1.
ml::DSPVector renderEnvelope(ml::ADSR& adsr, EnvWrap& env, const ml::DSPVector& gate, const EnvShapeParams& p,
                             int triggerIndex, float sampleRate);

// Modern model: one block of the playhead, 0..1. Writes the ADSR's stage and previous gate so that code
// asking the ADSR (voice activity, release detection, a later switch to the classic model) stays right.
ml::DSPVector renderEnvelopeModern(ml::ADSR& adsr, EnvWrap& env, const ml::DSPVector& gate,
                                   const EnvShapeParams& p, int triggerIndex, float sampleRate);
