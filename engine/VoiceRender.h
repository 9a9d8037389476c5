// The steps of the per-voice signal path and the working record they pass along within one block.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "engine/ModRoutes.h"
#include "engine/PluginProcessor.h"
#include "engine/VoiceContext.h"
#include "engine/voice/CarrierOscillator.h"
#include "engine/voice/FilterLanes.h"
#include "foundation/MLDSPVector.h"

// The parameter rows one voice plays for a block: by reference the engine's shared rows, which stay
// unchanged while the voices render, and the voice's own copy of each row its kit slot overrides. The
// own rows are built only when set, so a voice without a kit slot copies nothing.
class VoiceRows {
public:
  static constexpr size_t kNumRows = PluginProcessor::kNumEngineRows;

  VoiceRows() = default;
  // A copy would point into the original's own rows.
  VoiceRows(const VoiceRows&) = delete;
  VoiceRows& operator=(const VoiceRows&) = delete;

  void share(const std::array<ml::DSPVector, kNumRows>& engineRows) {
    for (size_t k = 0; k < kNumRows; ++k) rows[k] = &engineRows[k];
  }
  void setOwn(size_t k, const ml::DSPVector& value) { rows[k] = std::construct_at(&ownRows.row[k], value); }
  const ml::DSPVector& operator[](size_t k) const { return *rows[k]; }

private:
  union OwnRows {
    OwnRows() {}  // rows begin their life when set
    ml::DSPVector row[kNumRows];
  };
  std::array<const ml::DSPVector*, kNumRows> rows{};
  OwnRows ownRows;
};

// The values one call of the voice render path computes for its later steps, set afresh for each block.
struct VoiceBlockValues {
  int voice{-1};  // 0..7, or -1 for a release tail
  float sr{48000.f};
  float invSr{1.f / 48000.f};
  bool epochChanged{false};
  bool kitSilent{false};  // a kit-mode note on a key without a used slot: this block is silent
  float pitchOffset{0.f};
  int8_t kitSlotBefore{-1};  // the voice's kit slot before this block's note start (a tail keeps it)

  float noiseMixSmootherValue{0.f};  // current value of the smoother that feeds the Noise Mix row

  // Pitch.
  float bend{0.f};  // semitones
  float pitchMul{1.f};
  float cutoffMul{1.f};
  float timeMul{1.f};
  float gainMul{1.f};

  // Gate scan.
  GateEdges edges;  // of the gate row against the voice's last gate, as the block begins
  int noteStart{-1};
  int noteEnd{-1};
  bool retrigger{false};
  bool spawned{false};
  float level{0.f};  // the voice's level at the start of the block, with the declick gain

  // Envelopes and timbre.
  float envNote{60.f};
  EnvShapeParams env1Shape;
  float driftMul{1.f};
  float fmGain{1.f};
  float brightness{1.f};

  // Modes and routes.
  int filterModeA{0};
  int filterModeB{0};
  int shapeMode{0};
  bool pitchRowActive{false};

  // Between the oscillator's steps: how it renders the shape, and on the 4x path whether the feedback
  // recursion is still to run.
  ShapeRender shapeRender;
  bool pmPending{false};
  bool pmChainPending{false};
};

// Everything one call of the voice render path computes for its later steps. Lives in the engine's
// VoiceRenders for one block; rows are 64 samples, pitches note numbers, frequencies Hz. The rows are
// not cleared between blocks: each step writes a row whole before any later step reads it.
struct VoiceBlock : VoiceBlockValues {
  // The engine's last values with the kit slot's own, each route's source, and the kit second pass's
  // block multipliers of Ratio and the cutoffs and block offsets of the others.
  std::array<float, PluginProcessor::kNumEngineLasts> last;
  std::array<int32_t, kNumRoutes> source;
  std::array<float, kNumRoutes> kitRouteAdjust;
  ml::DSPVector pitch;  // the allocator's pitch row after the voice's own smooth glide
  ml::DSPVector gate;   // the gate row in use (with the start delay applied)
  // Parameter rows: the engine's shared rows, or the voice's own where its kit slot overrides them.
  VoiceRows rows;
  ml::DSPVector hz;
  ml::DSPVector env1Raw;  // Env 1 as rendered
  ml::DSPVector env1Row;  // Env 1 x gain, 0..1: the route source
  ml::DSPVector env2Row;
  std::array<ml::DSPVector, kNumRoutes> routeRow;  // neutral: 1 for Ratio and the cutoffs, else 0

  // The oscillator's carrier fade and Feedback rows (the latter written only while feedback is on), and
  // on the 4x path its 4x rows.
  alignas(16) float carFade[ml::kFloatsPerDSPVector];
  alignas(16) float feedback[ml::kFloatsPerDSPVector];
  PmBlockRows pm;
  alignas(16) float pinkFloor[ml::kFloatsPerDSPVector];  // the voice's noise floor of the block

  ml::DSPVector out;
};

// The renders of one block between their steps: up to eight voices and eight release tails, each with
// its working record and its filter job, and the scratch of the filter lanes.
struct VoiceRenders {
  static constexpr int kMaxRenders = 2 * PluginProcessor::kNumVoices;
  explicit VoiceRenders(const VoiceContext& engineContext) : context(engineContext) {}
  const VoiceContext context;
  std::array<VoiceBlock, kMaxRenders> blocks;
  std::array<VoiceState*, kMaxRenders> voices{};
  std::array<FilterSeriesJob, kMaxRenders> filters;
  FilterLaneScratch lanes;
  int count{0};     // renders begun this block
  int filtered{0};  // renders whose filters have run
};

// Steps in the order the render path runs them (VoiceRender.cpp).
// Epoch and kit slot of the block.
void voiceBlockPrologue(const VoiceContext& c, VoiceState& v, VoiceBlock& b);
// Parameter rows and last values, with the per-voice rows of a kit slot (VoiceKitRows.cpp).
void voiceParamRows(const VoiceContext& c, VoiceState& v, VoiceBlock& b);
// Octave, bend, smooth glide, analog offsets and the frequency row.
void voicePitchAndFrequency(const VoiceContext& c, VoiceState& v, VoiceBlock& b);
// Filter modes and Env 1's parameters (VoiceEnvelopeSteps.cpp).
void voiceEnvelope1Params(const VoiceContext& c, VoiceState& v, VoiceBlock& b);
// Gate scan, retrigger, start delay and release-tail spawn.
void voiceGateScan(const VoiceContext& c, VoiceState& v, VoiceBlock& b);
// Drift, velocity timbre and the Env 1 render.
void voiceDriftTimbreAndEnv1(const VoiceContext& c, VoiceState& v, VoiceBlock& b);
// Env 2's parameters and render into b.env2Row.
void voiceEnvelope2(const VoiceContext& c, VoiceState& v, VoiceBlock& b);
// Route sources, mode trackers, Env 2, route rows and their smoothing (VoiceRouteRows.cpp).
void voiceRouteRows(const VoiceContext& c, VoiceState& v, VoiceBlock& b);
// Oscillator, fold and pre-filter conditioning into b.out, and the job of filters A and B in series
// on b.out (VoiceSignal.cpp). The oscillator of the 4x path stops before its feedback recursion, which
// voiceSignalsToFilters runs for all renders begun, side by side, as it does their DC blockers and noise
// floors, around their fold, conditioning and filter jobs; the jobs run with the other renders' in
// renderVoiceFilters.
void voiceOscillator(const VoiceContext& c, VoiceState& v, VoiceBlock& b);
void voiceSignalsToFilters(const VoiceContext& c, VoiceRenders& renders, int first);
// DC blocker, amplitude, soft clip and tone of the renders from first on, the soft clips of four
// renders side by side (VoiceOutputStage.cpp); renderVoiceFilters runs them after the filters.
void voiceOutputChains(VoiceRenders& renders, int first);
// The rest of the output stage: retrigger fade, the samples a release tail carries, and meters.
void voiceOutputStage(const VoiceContext& c, VoiceState& v, VoiceBlock& b);

// One block of an envelope in the modern or the classic model; triggerIndex is the note start or -1.
ml::DSPVector renderVoiceEnvelope(bool modern, ml::ADSR& adsr, EnvWrap& env, const ml::DSPVector& gate,
                                  const EnvShapeParams& p, int triggerIndex, float sr);

// Envelope env (0 or 1) of a voice for this block: stage times (glided, reset at a note start), key
// tracking from note, curves {attack, decay, release}, delay, hold and trigger mode. timeMul scales the
// stage times (the voice's analog offset for Env 1, 1 for Env 2).
EnvShapeParams envelopeShape(const VoiceParams& params, double sampleRate, double tempo, VoiceState& voice,
                             int env, bool noteStarts, float note, float timeMul, const float (&curves)[3]);

// A kit slot's raw value made safe to play: not finite gives the block value, else it is clamped to
// the parameter's range (kit files store raw values).
double sanitizedKitValue(uint32_t id, double raw, double blockValue);

// A glide step that lands: when the step leaves the value unchanged or within 1e-4 of the target,
// the value becomes the target (single-precision one-poles otherwise stall short of it).
inline float glideToward(float value, float target, float c) {
  const float next = value + c * (target - value);
  const float gap = target - next;
  return (next == value || (gap < 1e-4f && gap > -1e-4f)) ? target : next;
}

// True when route r takes a per-voice source: Env 1 or Env 2, or a crossfade away from one.
bool routeUsesVoiceSource(const ModRoutes& routes, uint32_t r, int32_t source);
