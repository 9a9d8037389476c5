// The voice oscillator's three renderers (carrier bank, 4x phase modulation, plain) and the
// block-level decisions around them: increment limits, path choice and shape fades.
#pragma once

#include <cstdint>
#include <type_traits>

#include "engine/voice/CarrierBank.h"
#include "engine/voice/CarrierKernels.h"
#include "engine/voice/FilterStage.h"
#include "engine/voice/PMOversampler.h"
#include "foundation/MLDSPVector.h"

inline constexpr int kOscBlockSize = int(ml::kFloatsPerDSPVector);

// Last two oscillator output samples, newest first: the feedback path's memory.
struct FeedbackHistory {
  float y1{0.f};
  float y2{0.f};
};

// Per-voice rotators of the carrier bank: one unit complex value per partial.
struct CarrierRotors {
  float re[kCarrierPartials]{};
  float im[kCarrierPartials]{};
  bool seeded{false};
};

static_assert(std::is_trivially_copyable_v<CarrierRotors> && std::is_trivially_copyable_v<FeedbackHistory>);

// Limits a modulator increment row in place (cycles per sample): the modulator fades out between
// 1/3 and 0.4 and its magnitude is held at 0.4 above that. Writes the fade row; non-finite gives 0.
// Both rows are 64 samples, 16-byte aligned (the same for limitCarrierIncrement).
void limitModulatorIncrement(float* mod, float* modFade);

// Limits a carrier increment row in place: the carrier fades out between 0.45 and 0.49 cycles per
// sample and its magnitude is held at 0.49, so the phasors never reach Nyquist. Non-finite gives 0.
void limitCarrierIncrement(float* car, float* carFade);

// Path choice at a note start with hysteresis, from the frequency at max(noteStart, 32): the 4x path
// above 1000 Hz, kept above 940 Hz once taken. Non-finite frequencies choose the plain path.
bool choosePmPath(bool pmPath, const float* hz, int noteStart);

// Phases at a note start of a synthesis voice, after the path choice. A fresh note (no retrigger)
// starts the carrier at startPhase and the 4x modulator at its start phase. A retrigger keeps the
// sounding phases and hands them across when the path changes: plain to 4x seeds the 4x phases from
// the plain carrier and modulator, 4x to plain sets the plain phases from the 4x ones.
void startOscillatorNote(bool wasPm, bool nowPm, bool retrigger, uint32_t startPhase, uint32_t& plainCarrier,
                         uint32_t& plainModulator, PMOversampler& pm);

// How one block renders the carrier shape, from the Shape Mode tracker and the Shape Mode value.
struct ShapeRender {
  int renderMode{kShapeModeSine};  // the mode rendered: the old one during the first half of a bank fade
  int effectiveShape{kShapeModeSine};
  int fromShape{kShapeModeSine};
  bool warp{false};          // renderMode is Warp
  bool bankFade{false};      // a fade to or from the carrier bank runs (dips to silence)
  bool sineWarpFade{false};  // a fade between Sine and Warp runs (crossfades the two carriers)
  float fadePos{0.f};
};

ShapeRender shapeRender(const ModeTracker& shapeTracker, int shapeMode);

// Rows the voice path hands to a renderer for one block (64 samples each).
struct OscillatorInputs {
  const float* car{nullptr};       // carrier increment, limited (cycles per sample)
  const float* carFade{nullptr};   // carrier fade near Nyquist
  const float* mod{nullptr};       // modulator increment, limited
  const float* index{nullptr};     // modulation index: FM amount x fmGain x modulator fade
  const float* feedback{nullptr};  // Feedback 0..1; read only when feedbackOn
  const float* shape{nullptr};     // Shape 0..1 (none: 0); read only for Warp and shape fades
  bool feedbackOn{false};
  ShapeRender render;
};

// Carrier-bank path. modSine is the modulator sine row; the partial increments of the block are taken
// from the carrier increment of sample 32.
void renderCarrierBankOscillator(const CarrierBank& bank, CarrierRotors& rotors, const float* modSine,
                                 const OscillatorInputs& in, FeedbackHistory& fb, float* out);

// 4x phase-modulation path on the voice's PMOversampler (phases seeded by startOscillatorNote).
void renderPmOscillator(PMOversampler& pm, const OscillatorInputs& in, FeedbackHistory& fb, float* out);

inline constexpr int kPmSubSamples = 4 * kOscBlockSize;

// The 4x signal of one block of the phase-modulation path between its steps. Each store starts one
// float in, so that the samples after the decimator's 15 of history are 16-byte aligned.
struct PmBlockRows {
  static constexpr int kHistory = HalfbandRing::kLength;
  alignas(16) float fourXStore[1 + kHistory + kPmSubSamples];
  alignas(16) float twoXStore[1 + kHistory + kPmSubSamples / 2];
  float* fourX() { return fourXStore + 1; }
  float* twoX() { return twoXStore + 1; }
  float* subSamples() { return fourX() + kHistory; }  // the block's 4x samples
};

// renderPmOscillator in steps, so that the feedback recursions of several voices run side by side:
// beginPmOscillator writes the block's 4x signal into rows, except when the carrier is the plain sine
// with feedback: then it leaves the modulated phases there and returns true, and the recursion is left
// to runPmFeedbackChains. finishPmOscillator decimates the 4x signal into out.
bool beginPmOscillator(PMOversampler& pm, const OscillatorInputs& in, FeedbackHistory& fb, PmBlockRows& rows);
void finishPmOscillator(PMOversampler& pm, PmBlockRows& rows, const float* carFade, float* out);

// One voice's pending feedback recursion: the modulated phases turned into the 4x signal in place, the
// block's Feedback row (one value per base-rate sample) and the voice's output history.
struct PmFeedbackChain {
  float* subSamples{nullptr};
  const float* feedback{nullptr};
  FeedbackHistory* history{nullptr};
};

// Runs n chains, up to 16 at a time in SIMD lanes; each gives exactly what it gives run alone.
void runPmFeedbackChains(const PmFeedbackChain* chains, int n);

// Plain path: phase is the carrier phasor row over in.car, modSine the modulator sine row.
void renderPlainOscillator(const float* phase, const float* modSine, const OscillatorInputs& in,
                           FeedbackHistory& fb, float* out);

// After the renderer: applies the bank fade's dip to out and advances a running shape fade by a
// quarter (a full fade lasts 256 samples), ending it at 1.
void finishShapeFade(ModeTracker& shapeTracker, const ShapeRender& r, float* out);
