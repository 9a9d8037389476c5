// The voice's signal from oscillator to filters: oscillator rows and renderer, fold, pre-filter
// conditioning (declick, DC blocker, noise floor, Noise Mix and click), and filters A and B in series.
#include <array>
#include <cmath>

#include "engine/VoiceRender.h"
#include "engine/voice/NoiseClick.h"
#include "engine/voice/Wavefolder.h"
#include "foundation/MLFastMath.h"
#include "foundation/MLSafeValue.h"

namespace {

using PP = PluginProcessor;

constexpr int kBlock = static_cast<int>(ml::kFloatsPerDSPVector);
constexpr float kMaxFm = 0.2f;
constexpr float kFeedbackOn = 0.0001f;
constexpr float kFeedbackOffsetOn = 1e-6f;
constexpr float kFmOffsetOn = 1e-9f;
constexpr float kNoiseOn = 0.0001f;
constexpr float kKeyTrackOn = 0.001f;
constexpr float kKeyTrackCentreHz = 261.6f;

// Sets up the oscillator's phases at a note start of a synthesis voice: the path choice, and a fresh
// note's random start phase from the voice's analog stream.
void startNote(VoiceState& v, const VoiceBlock& b) {
  if (b.noteStart < 0 || b.voice < 0) return;
  const bool wasPm = v.pmPath;
  v.pmPath = choosePmPath(wasPm, b.hz.getConstBuffer(), b.noteStart);
  uint32_t startPhase = 0;
  if (!b.retrigger) {
    if (v.analogSeed == 0) v.analogSeed = analogSeedForVoice(b.voice);
    startPhase = analogXorshift(v.analogSeed);
  }
  startOscillatorNote(wasPm, v.pmPath, b.retrigger, startPhase, v.carrierPhasor.phase,
                      v.modulatorSine.phasor.phase, v.pmOversampler);
}

// A parameter row plus its route row and kit offset, clamped; the route row takes a per-voice source.
void modulatedRow(const float* row, const float* route, float offset, float lo, float hi, float* out) {
  for (int i = 0; i < kBlock; ++i) out[i] = ml::safeClamp(row[i] + route[i] + offset, lo, hi);
}

}  // namespace

void voiceOscillator(const VoiceContext& ctx, VoiceState& v, VoiceBlock& b) {
  if (b.pitchRowActive) {
    const ml::DSPVector& semitones = b.routeRow[kRoutePitch];
    for (int i = 0; i < kBlock; ++i) b.hz[i] *= ml::exp2Approx(semitones[i] / 12.f);
  }
  // Rows that are written in full before they are read are left uninitialised.
  ml::DSPVector mod, car;
  alignas(16) float modFade[kBlock];
  float* carFade = b.carFade;
  const float ratioMul = b.driftMul * b.kitRouteAdjust[kRouteRatio];
  for (int i = 0; i < kBlock; ++i) {
    mod[i] = b.hz[i] * b.rows[PP::kRowRatio][i] * ratioMul * b.routeRow[kRouteRatio][i] * b.invSr;
    car[i] = b.hz[i] * b.invSr;
  }
  limitModulatorIncrement(mod.getBuffer(), modFade);
  limitCarrierIncrement(car.getBuffer(), carFade);
  startNote(v, b);

  const auto voiceRoute = [&](uint32_t r) { return routeUsesVoiceSource(ctx.routes, r, b.source[r]); };
  ml::DSPVector fm = b.rows[PP::kRowFmAmount];
  if (voiceRoute(kRouteFm) || std::fabs(b.kitRouteAdjust[kRouteFm]) > kFmOffsetOn) {
    modulatedRow(b.rows[PP::kRowFmAmount].getConstBuffer(), b.routeRow[kRouteFm].getConstBuffer(),
                 b.kitRouteAdjust[kRouteFm], 0.f, kMaxFm, fm.getBuffer());
  }
  alignas(16) float index[kBlock];
  for (int i = 0; i < kBlock; ++i) index[i] = fm[i] * b.fmGain * modFade[i];

  const ml::DSPVector& feedbackRow = b.rows[PP::kRowFeedback];
  const bool feedbackOn = feedbackRow[kBlock - 1] > kFeedbackOn || feedbackRow[0] > kFeedbackOn ||
                          voiceRoute(kRouteFeedback) ||
                          std::fabs(b.kitRouteAdjust[kRouteFeedback]) > kFeedbackOffsetOn;
  if (feedbackOn) {
    modulatedRow(feedbackRow.getConstBuffer(), b.routeRow[kRouteFeedback].getConstBuffer(),
                 b.kitRouteAdjust[kRouteFeedback], 0.f, 1.f, b.feedback);
  }
  const ShapeRender render = shapeRender(v.shapeMode, b.shapeMode);
  alignas(16) float shape[kBlock];
  const bool shapeOn = render.effectiveShape == kShapeModeWarp || v.shapeMode.fading;
  if (shapeOn) {
    modulatedRow(b.rows[PP::kRowShape].getConstBuffer(), b.routeRow[kRouteShape].getConstBuffer(),
                 b.kitRouteAdjust[kRouteShape], 0.f, 1.f, shape);
  }

  OscillatorInputs in;
  in.car = car.getConstBuffer();
  in.carFade = carFade;
  in.mod = mod.getConstBuffer();
  in.index = index;
  in.feedback = feedbackOn ? b.feedback : nullptr;
  in.shape = shapeOn ? shape : nullptr;
  in.feedbackOn = feedbackOn;
  in.render = render;
  b.shapeRender = render;
  float* out = b.out.getBuffer();
  if (render.renderMode == kShapeModeCarrier) {
    const ml::DSPVector modSine = v.modulatorSine(mod);
    v.carrierPhasor(car);  // keeps running under the bank, unused
    renderCarrierBankOscillator(ctx.carrierBank, v.bank, modSine.getConstBuffer(), in, v.feedbackHistory,
                                out);
  } else if (v.pmPath) {
    b.pmPending = true;
    b.pmChainPending = beginPmOscillator(v.pmOversampler, in, v.feedbackHistory, b.pm);
  } else {
    const ml::DSPVector modSine = v.modulatorSine(mod);
    const ml::DSPVector phase = v.carrierPhasor(car);
    renderPlainOscillator(phase.getConstBuffer(), modSine.getConstBuffer(), in, v.feedbackHistory, out);
  }
}

namespace {

void foldAndDeclick(const VoiceContext& ctx, VoiceState& v, VoiceBlock& b) {
  float* row = b.out.getBuffer();
  FoldInputs fold;
  fold.fold = b.rows[PP::kRowFold].getConstBuffer();
  fold.foldRoute = b.routeRow[kRouteFold].getConstBuffer();
  fold.foldOffset = b.kitRouteAdjust[kRouteFold];
  fold.bias = b.rows[PP::kRowFoldBias].getConstBuffer();
  fold.biasRoute = b.routeRow[kRouteFoldBias].getConstBuffer();
  fold.biasOffset = b.kitRouteAdjust[kRouteFoldBias];
  fold.character = b.rows[PP::kRowFoldCharacter].getConstBuffer();
  fold.characterRoute = b.routeRow[kRouteFoldChar].getConstBuffer();
  fold.characterOffset = b.kitRouteAdjust[kRouteFoldChar];
  fold.characterVoiceSource = routeUsesVoiceSource(ctx.routes, kRouteFoldChar, b.source[kRouteFoldChar]);
  foldStage(row, v.fold, fold);

  declick(row, v.voiceFade, v.voiceFadeState, b.noteStart, b.retrigger);
}

// After the DC blocker: the noise floor, Noise Mix and click.
void noiseAndClick(const VoiceContext& ctx, VoiceState& v, VoiceBlock& b) {
  float* row = b.out.getBuffer();
  for (int i = 0; i < kBlock; ++i) row[i] += b.pinkFloor[i];
  const float click = static_cast<float>(ml::safeClamp(ctx.effParam(kParamClickAmount, v), 0.0, 1.0));
  const ml::DSPVector& noiseMix = b.rows[PP::kRowNoiseMix];
  if (noiseMix[kBlock - 1] > kNoiseOn || b.noiseMixSmootherValue > kNoiseOn || click > kNoiseOn) {
    const int clickIndex = clickFires(click, b.voice, b.noteStart, b.level) ? b.noteStart : -1;
    noiseMixAndClick(row, noiseMix.getConstBuffer(), v.clickSeed, v.clickLevel, click, v.velocity, clickIndex,
                     b.voice, b.sr);
  }
}

// One filter's key tracking and harmonic snap for the block.
struct FilterTracking {
  bool snapOn[2]{false, false};
  float keyTrackMul[2]{1.f, 1.f};
  float meanHz{0.f};
};

FilterTracking filterTracking(const VoiceContext& ctx, const VoiceBlock& b) {
  FilterTracking t;
  const float kt[2] = {b.last[PP::kLastKeyTrackA], b.last[PP::kLastKeyTrackB]};
  for (int k = 0; k < 2; ++k)
    t.snapOn[k] = ctx.out.published.filterLocked(k) && ctx.ratioSteps.ratioStepCount > 0;
  if (kt[0] > kKeyTrackOn || kt[1] > kKeyTrackOn || t.snapOn[0] || t.snapOn[1]) {
    float sum = 0.f;
    for (int i = 0; i < kBlock; ++i) sum += b.hz[i];
    t.meanHz = sum / static_cast<float>(kBlock);
    for (int k = 0; k < 2; ++k) {
      if (!t.snapOn[k] && kt[k] > kKeyTrackOn)
        t.keyTrackMul[k] = 1.f + kt[k] * (t.meanHz / kKeyTrackCentreHz - 1.f);
    }
  }
  // Every call stores them, release tails included: the last call of a block remains.
  for (int k = 0; k < 2; ++k)
    ctx.out.published.keyTrackOffset[k].store(t.keyTrackMul[k] - 1.f, std::memory_order_relaxed);
  return t;
}

void filterJob(const VoiceContext& ctx, VoiceState& v, VoiceBlock& b, FilterSeriesJob& filters) {
  const FilterTracking tracking = filterTracking(ctx, b);
  const FilterBlockSetup setup =
      filterBlockSetup(static_cast<float>(ml::finiteOr(ctx.effParam(kParamFilterSaturation, v), 0.0)), b.sr);
  const bool restart = b.noteStart >= 0 || b.epochChanged;
  struct FilterRows {
    FilterState& state;
    uint32_t cutoff, resonance, drive, route;
    int mode;
  };
  FilterRows rows[2] = {
      {v.filterA, PP::kRowCutoffA, PP::kRowResonanceA, PP::kRowDriveA, kRouteCutoffA, b.filterModeA},
      {v.filterB, PP::kRowCutoffB, PP::kRowResonanceB, PP::kRowDriveB, kRouteCutoffB, b.filterModeB},
  };
  filters.first = &v.filterA;
  filters.second = &v.filterB;
  filters.setup = setup;
  filters.in = b.out.getConstBuffer();
  filters.out = b.out.getBuffer();
  for (int k = 0; k < 2; ++k) {
    FilterRows& f = rows[k];
    const ml::DSPVector& cutoff = b.rows[f.cutoff];
    const ml::DSPVector& route = b.routeRow[f.route];
    float snapped = 0.f;
    if (tracking.snapOn[k]) {
      const float source = cutoff[kBlock - 1] * b.brightness * route[kBlock - 1];
      snapped = snapCutoffToHarmonic(ctx.ratioSteps.ratioSteps, ctx.ratioSteps.ratioStepCount,
                                     tracking.meanHz, source);
    }
    const float snapTarget = cutoffSnapUpdate(f.state.snap, tracking.snapOn[k], snapped, restart, b.sr);
    if (k == 0) ctx.out.published.cutoffSnapTargetA.store(snapTarget, std::memory_order_relaxed);

    FilterBlockInputs& in = filters.inputs[k];
    in.cutoff = cutoff.getConstBuffer();
    in.cutoffRoute = route.getConstBuffer();
    in.resonance = b.rows[f.resonance].getConstBuffer();
    in.drive = b.rows[f.drive].getConstBuffer();
    in.keyTrackMul = tracking.keyTrackMul[k];
    in.brightness = b.brightness;
    in.analogMul = b.cutoffMul;
    in.kitMul = b.kitRouteAdjust[f.route];
    in.mode = f.mode;
    in.snapOn = tracking.snapOn[k];
    in.calib = ctx.filterCalib[k].forFilterMode(f.mode);
  }
}

}  // namespace

void voiceSignalsToFilters(const VoiceContext& ctx, VoiceRenders& renders, int first) {
  std::array<PmFeedbackChain, VoiceRenders::kMaxRenders> chains;
  int n = 0;
  for (int r = first; r < renders.count; ++r) {
    VoiceBlock& b = renders.blocks[r];
    if (b.pmChainPending) chains[n++] = {b.pm.subSamples(), b.feedback, &renders.voices[r]->feedbackHistory};
  }
  runPmFeedbackChains(chains.data(), n);
  std::array<PinkFloorJob, VoiceRenders::kMaxRenders> floors;
  std::array<DcBlockJob, VoiceRenders::kMaxRenders> dcBlockers;
  n = 0;
  for (int r = first; r < renders.count; ++r, ++n) {
    VoiceState& v = *renders.voices[r];
    VoiceBlock& b = renders.blocks[r];
    if (b.pmPending) finishPmOscillator(v.pmOversampler, b.pm, b.carFade, b.out.getBuffer());
    finishShapeFade(v.shapeMode, b.shapeRender, b.out.getBuffer());
    foldAndDeclick(ctx, v, b);
    floors[n] = {&v.noiseSeed, v.pinkState, b.voice, b.envNote, v.velocity, b.pinkFloor};
    dcBlockers[n] = {b.out.getBuffer(), v.noiseSmooth};
  }
  pinkNoiseFloors(floors.data(), n);
  // Every render begun in a block has the engine's sample rate.
  if (n > 0) dcBlocks(dcBlockers.data(), n, renders.blocks[first].sr);
  for (int r = first; r < renders.count; ++r) {
    VoiceState& v = *renders.voices[r];
    VoiceBlock& b = renders.blocks[r];
    noiseAndClick(ctx, v, b);
    filterJob(ctx, v, b, renders.filters[r]);
  }
}
