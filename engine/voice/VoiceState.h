// Everything one voice carries from one 64-sample block to the next, and the release tail that wraps
// a frozen copy of it.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "engine/voice/AnalogDrift.h"
#include "engine/voice/CarrierOscillator.h"
#include "engine/voice/EnvelopeModels.h"
#include "engine/voice/FilterStage.h"
#include "engine/voice/Oversampler2x.h"
#include "engine/voice/Oversampler2xAllpass.h"
#include "engine/voice/PMOversampler.h"
#include "engine/voice/ParamSmoother.h"
#include "engine/voice/Wavefolder.h"
#include "foundation/MLADSR.h"
#include "foundation/MLDSPGens.h"

// The voice's soft clip: its half-bands between the base rate and twice it, its last input at twice the
// rate (where the clip's mean towards the next input starts), the last output of the half-sample delay
// that keeps the sample in time with the mean, and the weight of that mean against the clip sample by
// sample (1 while the signal is loud and high enough to fold back, else 0; it crosses over within a
// block). T is float, or lanes of several voices.
template <typename T>
struct SoftClipStateOf {
  AllpassHalfbandOf<T, SteepAllpassDesign> up;
  AllpassHalfbandOf<T, SteepAllpassDesign> down;
  T lastInput{};
  T lastDelayed{};
  T meanWeight{};
};
using SoftClipState = SoftClipStateOf<float>;

// One voice's state between blocks: oscillator phases, filter and oversampler states, envelopes,
// smoothers, per-voice randomness and the sentinels that mark states not reached yet (negative
// stage times, pitches and modes, octaveOffset below -9000, prevKitSlot -2, analogSeed 0). Plain data
// without pointers, copied as a whole for a release tail. Pitches are note numbers, times seconds.
struct VoiceState {
  using EnvWrap = ::EnvWrap;

  // Smoothed route rows kept per voice, in modRowState order.
  enum ModRow : int32_t {
    kModRowCutoffA,
    kModRowCutoffB,
    kModRowFoldBias,
    kModRowFeedback,
    kModRowShape,
    kModRowFmAmount,
    kModRowFoldCharacter,
    kNumModRows
  };
  static constexpr int kNumVoiceSmoothers = 20;

  ml::PhasorGen carrierPhasor;
  ml::SineGen modulatorSine;
  // Filters A and B: clean integrators, nonlinear 4x state, ladder, drive layer with its 2x
  // oversampler and fade, mode tracker and cutoff snap.
  FilterState filterA;
  FilterState filterB;
  FoldState fold;
  PMOversampler pmOversampler;
  bool pmPath{false};
  bool pmSeeded{false};
  ml::ADSR adsr1;
  ml::ADSR adsr2;
  EnvWrap env1;
  EnvWrap env2;
  float prevGate{0.f};
  float voiceFade{1.f};  // noise and click stage declick, gain 0.5 (1 - cos(pi voiceFade))
  int8_t voiceFadeState{0};
  float retriggerFade{1.f};  // 0..1 along the 96-sample retrigger fade-in
  bool retriggerFadeActive{false};
  float lastPeak{0.f};
  float lastFrequency{0.f};  // Hz at sample 63 of the last block
  float gainCurrent{0.f};
  float gainTarget{0.f};
  float releaseXfade{1.f};  // 0..1 along the 256-sample release crossfade
  float releaseHoldLevel{0.f};
  float ampLevel{0.f};
  float velocity{1.f};
  float modRowState[kNumModRows]{1.f, 1.f, 0.f, 0.f, 0.f, 0.f, 0.f};
  bool modRowPrimed[kNumModRows]{};
  float envStageTime[2][3]{{-1.f, -1.f, -1.f}, {-1.f, -1.f, -1.f}};  // Env 1 then Env 2: A, D, R
  FeedbackHistory feedbackHistory;
  CarrierRotors bank;
  ModeTracker shapeMode;
  float pitchModState{0.f};
  bool pitchModPrimed{false};
  uint32_t snapshotEpoch{0};
  float noiseSmooth[2]{};  // 10 Hz DC blocker of the noise stage: previous input, previous output
  float dcX{0.f};
  float dcY{0.f};
  float lastPitch{-1.f};
  float lastNote{-1.f};
  float glidePitch{-1.f};
  float glideCoeff{1.f};
  float octaveOffset{-9999.f};
  int8_t latchedPole{-1};
  DriftClock drift;
  bool analogDrawn{false};
  AnalogOffsets analog;
  uint32_t analogSeed{0};
  float analogWalkCents{0.f};
  float analogWalkRate{0.f};  // sample rate analogWalkDecay was formed for
  float analogWalkDecay{1.f};
  // A held note's frequency formed for one note (NaN until the first), and the velocity timbre's
  // brightness for one timbre amount: looked up again only when their inputs move.
  float heldNote{std::numeric_limits<float>::quiet_NaN()};
  float heldNoteHz{0.f};
  float brightnessTimbre{0.f};
  float brightness{1.f};
  uint32_t noiseSeed{0};
  float pinkState[3]{};
  SoftClipState softClip;
  float clipX{0.f};
  float clipY{0.f};
  float toneLp{0.f};
  uint32_t clickSeed{0};
  float clickLevel{0.f};
  int8_t kitSlot{-1};
  std::array<ParamSmoother, kNumVoiceSmoothers> paramSmoothers{};
  bool kitRowsPrimed{false};
  int8_t prevKitSlot{-2};
  // MIDI channel 0..15 of the allocator voice's note, taken at its note-on and kept through the
  // release (and into a release tail), so a tuning per channel holds to the end of the sound.
  int8_t noteChannel{0};

  // Resets the voice for reuse. Keeps the parameter smoothers, glideCoeff, the drift clock's rate, the
  // cutoff snap values (not their active flags) and noteChannel; the ADSR generators become fresh ones.
  void clear();

  // The voice is still audible: its amplitude or its clean filter state is above the silence floor.
  bool sounding() const;
};

static_assert(std::is_trivially_copyable_v<VoiceState>, "a voice is copied as a whole into a release tail");

// A release tail: a voice copy rendered at a constant pitch while it fades out over 5 ms.
struct ReleaseVoice {
  VoiceState voice;
  float pitch{0.f};
  float fadeLevel{0.f};
  float fadeProgress{1.f};  // 0 at spawn, 1 = silent
  float fadeStep{0.f};
  float pan{0.f};
  int32_t startOffset{0};  // first sample rendered in the next block; -1 after it
  bool active{false};
};
