// The per-voice signal path: the order of its steps, the block prologue, and pitch to frequency.
#include "engine/VoiceRender.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "engine/voice/RowChecks.h"
#include "foundation/MLDSPGens.h"
#include "foundation/MLSIMD.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr float kOctaveGlideSeconds = 0.014f;
constexpr float kMinGlideSeconds = 1e-5f;
constexpr float kOctaveJumpSentinel = -9000.f;
constexpr int kMaxKey = 127;

// The octave in keys and how the voice moves to it this block.
struct OctaveMove {
  float target{0.f};  // octaves x keys per period
  float coeff{1.f};
  bool gliding{false};
  float log2Period{1.f};  // log2 of the period ratio (1 for the octave)
  float steps{12.f};      // keys per period
};

OctaveMove octaveMove(const VoiceContext& ctx, VoiceState& v, const VoiceBlock& b) {
  OctaveMove m;
  const bool tuned = ctx.tuning.effectiveTuningActive();
  const int steps = tuned ? std::max(1, ctx.tuning.effectiveScaleSize()) : 12;
  m.steps = static_cast<float>(steps);
  if (tuned) {
    const double period = ctx.tuning.effectivePeriodRatio();
    m.log2Period = period > 0.0 && std::isfinite(period) ? static_cast<float>(std::log2(period)) : 1.f;
  }
  // The octave a held note keeps while the morph fader crosses between poles joins with the morph.
  const double octave = ml::finiteOr(ctx.effParam(kParamOctave, v), 0.0);
  m.target = static_cast<float>(std::round(octave) * steps);
  if (v.octaveOffset < kOctaveJumpSentinel || b.epochChanged) {
    v.octaveOffset = m.target;
  } else if (v.octaveOffset != m.target) {
    m.gliding = true;
    m.coeff = 1.f - std::exp(-1.f / (kOctaveGlideSeconds * b.sr));
  }
  return m;
}

// The voice's own glide of the allocator's pitch row (smooth glide mode).
void smoothGlide(const VoiceContext& ctx, VoiceState& v, VoiceBlock& b) {
  const float t = static_cast<float>(ml::safeClamp(ctx.effParam(kParamGlide, v), 0.0, 500.0)) * 0.001f;
  const float c = t > kMinGlideSeconds ? 1.f - std::exp(-1.f / (t * b.sr)) : 1.f;
  v.glideCoeff = c;
  for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) {
    if (v.glidePitch >= 0.f) {
      v.glidePitch = glideToward(v.glidePitch, b.pitch[i], c);
    } else if (b.gate[i] > 0.f && i + 1 < ml::kFloatsPerDSPVector) {
      // The first note of a voice starts on its own pitch, not from the idle row's note 0; the
      // allocator's row reaches the note one sample after the gate opens.
      v.glidePitch = b.pitch[i + 1];
    } else {
      continue;
    }
    b.pitch[i] = v.glidePitch;
  }
}

// The fixed analog offsets of a synthesis voice and its pitch walk, as multipliers.
void analogOffsets(VoiceState& v, VoiceBlock& b) {
  if (b.voice >= 0) {
    if (!v.analogDrawn) {
      v.analog = drawAnalogOffsets(b.voice, b.sr);
      v.analogDrawn = true;
    }
    if (v.analogWalkRate != b.sr) {
      v.analogWalkRate = b.sr;
      v.analogWalkDecay = analogWalkDecay(b.sr);
    }
    v.analogWalkCents = analogWalkStep(v.analogSeed, v.analogWalkCents, b.voice, v.analogWalkDecay);
  }
  b.pitchMul = std::exp2((v.analog.pitchCents + v.analogWalkCents) / 1200.f);
  b.cutoffMul = v.analog.cutoffMul;
  b.timeMul = 1.f + v.analog.timeOffset;
  b.gainMul = v.analog.gainMul;
}

}  // namespace

void VoiceRendersDeleter::operator()(VoiceRenders* r) const {
  delete r;
}

std::unique_ptr<VoiceRenders, VoiceRendersDeleter> makeVoiceRenders(PluginProcessor& e) {
  // References only: the renders see the engine's state of each block as it renders.
  const VoiceOutputs out{e.published, e.soundingSlotMask, e.voiceActivity, e.releaseVoices, e.sampleRate};
  const VoiceContext context{e.sampleRate,      {e.cache, e.kitMode, e.kitSlots},
                             e.kitBaseKey,      e.snapshotEpoch,
                             e.tuning,          e.tempo,
                             e.allocator,       e.pitchBend,
                             e.smoothGlide,     e.voicePan,
                             e.driftTargets,    e.engineRows,
                             e.rowSmoothers,    e.engineLast,
                             e.lastSmoothers,   e.modulated,
                             e.ratioLockActive, e.routes,
                             e.carrierBank,     e.mtsRatioSteps,
                             e.morph.calib,     out};
  return std::unique_ptr<VoiceRenders, VoiceRendersDeleter>(new VoiceRenders(context));
}

ml::DSPVector PluginProcessor::renderVoiceSignal(VoiceState& voice, const ml::DSPVector& pitch,
                                                 const ml::DSPVector& gate, int voiceIndex) {
  voiceRenders->count = voiceRenders->filtered = 0;
  const int r = beginVoiceRender(voice, pitch, gate, voiceIndex);
  renderVoiceFilters();
  return finishVoiceRender(r);
}

int PluginProcessor::beginVoiceRender(VoiceState& voice, const ml::DSPVector& pitch,
                                      const ml::DSPVector& gate, int voiceIndex) {
  VoiceRenders& renders = *voiceRenders;
  const int r = renders.count++;
  VoiceBlock& b = renders.blocks[r];
  static_cast<VoiceBlockValues&>(b) = VoiceBlockValues{};
  renders.voices[r] = &voice;
  b.voice = voiceIndex;
  b.sr = static_cast<float>(sampleRate);
  b.invSr = 1.f / b.sr;
  b.pitch = pitch;
  b.gate = gate;
  voiceBlockPrologue(renders.context, voice, b);
  voiceParamRows(renders.context, voice, b);
  voicePitchAndFrequency(renders.context, voice, b);
  voiceEnvelope1Params(renders.context, voice, b);
  voiceGateScan(renders.context, voice, b);
  voiceDriftTimbreAndEnv1(renders.context, voice, b);
  voiceRouteRows(renders.context, voice, b);
  voiceOscillator(renders.context, voice, b);
  return r;
}

void PluginProcessor::renderVoiceFilters() {
  VoiceRenders& renders = *voiceRenders;
  // With no voice and no tail begun there is nothing to filter; the empty pass still costs its scratch.
  if (renders.filtered == renders.count) return;
  voiceSignalsToFilters(renders.context, renders, renders.filtered);
  renderFilterJobs(renders.filters.data() + renders.filtered, renders.count - renders.filtered,
                   renders.lanes);
  voiceOutputChains(renders, renders.filtered);
  renders.filtered = renders.count;
}

const ml::DSPVector& PluginProcessor::finishVoiceRender(int r) {
  VoiceRenders& renders = *voiceRenders;
  VoiceBlock& b = renders.blocks[r];
  // Synthesis voices only, in render order: the last voice of the block remains.
  if (b.voice >= 0) calibratedCutoffA.store(renders.filters[r].cutoffs.first, std::memory_order_relaxed);
  voiceOutputStage(renders.context, *renders.voices[r], b);
  return b.out;
}

void voiceBlockPrologue(const VoiceContext& ctx, VoiceState& v, VoiceBlock& b) {
  b.edges = gateEdges(b.gate, v.prevGate);
  b.kitSlotBefore = v.kitSlot;
  if (b.voice >= 0) {
    const uint32_t epoch = ctx.snapshotEpoch.load(std::memory_order_acquire);
    if (epoch != v.snapshotEpoch) {
      v.snapshotEpoch = epoch;
      b.epochChanged = true;
    }
  }
  if (!ctx.params.kitMode.load(std::memory_order_relaxed)) {
    if (b.voice >= 0) v.kitSlot = -1;
    return;
  }
  const int base = ctx.kitBaseKey.load(std::memory_order_relaxed);
  // A release tail keeps its slot, and with it the slot's note.
  if (b.voice >= 0 && b.edges.rises != 0) {
    // The slot follows the key the allocator plays, not the pitch row (which may still glide from
    // the previous note, or start late in the block).
    const int key = static_cast<int>(ctx.allocator.getVoice(b.voice).creatorKeyIdx);
    const int slot = key - base;
    const bool used = slot >= 0 && slot < PluginProcessor::kNumKitSlots && ctx.params.kitSlots[slot].used;
    v.kitSlot = static_cast<int8_t>(used ? slot : -1);
    b.kitSilent = !used;
  }
  if (v.kitSlot >= 0)
    b.pitchOffset = static_cast<float>(ctx.params.kitSlots[v.kitSlot].note - (base + v.kitSlot));
}

void voicePitchAndFrequency(const VoiceContext& ctx, VoiceState& v, VoiceBlock& b) {
  const OctaveMove octave = octaveMove(ctx, v, b);
  b.bend = ctx.pitchBend.load(std::memory_order_relaxed) *
           static_cast<float>(ml::finiteOr(ctx.effParam(kParamPitchBendRange, v), 0.0));
  if (b.voice >= 0 && ctx.smoothGlide.load(std::memory_order_relaxed)) smoothGlide(ctx, v, b);
  analogOffsets(v, b);

  const bool tuned = ctx.tuning.effectiveTuningActive();
  ml::DSPVector notes;
  for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) notes[i] = b.pitch[i] + octave.target + b.pitchOffset;
  if (!tuned && !octave.gliding && rowConstant(notes.getConstBuffer())) {
    // A held note: one frequency for the block.
    const float note = notes[0] + b.bend;
    if (!(note == v.heldNote)) {
      v.heldNote = note;
      v.heldNoteHz = ml::pitchToFrequency(note);
    }
    b.hz = v.heldNoteHz * b.pitchMul;
    return;
  }
  const float tunedMul = tuned ? std::exp2(b.bend / 12.f) * b.pitchMul : 0.f;
  // Note frequencies are looked up again only when the note moves.
  int lastKey = -1;
  float keyHz = 0.f;
  float lastNote = std::nanf("");
  float noteHz = 0.f;
  for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) {
    float octaveMul = 1.f;
    if (octave.gliding) {
      v.octaveOffset = glideToward(v.octaveOffset, octave.target, octave.coeff);
      octaveMul = std::exp2(octave.log2Period * (v.octaveOffset - octave.target) / octave.steps);
    }
    const float note = notes[i];
    if (tuned) {
      // A fractional note keeps only its integer key under a tuning.
      const int key = static_cast<int>(ml::safeClamp(std::trunc(note), 0.f, static_cast<float>(kMaxKey)));
      if (key != lastKey) {
        keyHz = static_cast<float>(ctx.tuning.effectiveNoteFreq(key, v.noteChannel));
        lastKey = key;
      }
      b.hz[i] = keyHz * tunedMul * octaveMul;
    } else {
      if (!(note == lastNote)) {
        noteHz = ml::pitchToFrequency(note + b.bend);
        lastNote = note;
      }
      b.hz[i] = noteHz * b.pitchMul * octaveMul;
    }
  }
}
