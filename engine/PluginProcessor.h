// The synthesizer engine: parameter store, voices, block driver and master chain.
#pragma once

#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>

#include "engine/EngineKit.h"
#include "engine/KeyBook.h"
#include "engine/Lfo.h"
#include "engine/MasterChain.h"
#include "engine/Meters.h"
#include "engine/ModRoutes.h"
#include "engine/MorphPoles.h"
#include "engine/ParamTable.h"
#include "engine/PublishedValues.h"
#include "engine/SeqLanes.h"
#include "engine/TruePeakLimiter.h"
#include "engine/VoiceMix.h"
#include "engine/VoiceParams.h"
#include "engine/voice/AnalogDrift.h"
#include "engine/voice/CarrierBank.h"
#include "engine/voice/ParamSmoother.h"
#include "engine/voice/VoiceState.h"
#include "foundation/MLDSPGens.h"
#include "foundation/MLDSPVector.h"
#include "foundation/MLEventsToSignals.h"
#include "tuning/RatioSteps.h"
#include "tuning/ScalaParser.h"
#include "tuning/TuningState.h"

// Takes a flag another thread raises: true when it was up. A plain load first spares the locked exchange
// while it is down, as it is in nearly every block.
inline bool takeRaisedFlag(std::atomic<bool>& flag) {
  return flag.load(std::memory_order_relaxed) && flag.exchange(false, std::memory_order_acq_rel);
}

// One engine instance renders stereo audio in fixed 64-sample blocks for any host block size. Plain
// object with public state: the audio thread owns the DSP state; other threads reach it only through the
// atomics (parameters, flags, transport, published values). Large: keep it on the heap, never on a stack.
// The voice renders of one block between their steps (VoiceRender.h); built off the audio thread.
class PluginProcessor;
struct VoiceRenders;
struct VoiceRendersDeleter {
  void operator()(VoiceRenders* r) const;
};
std::unique_ptr<VoiceRenders, VoiceRendersDeleter> makeVoiceRenders(PluginProcessor& engine);

class PluginProcessor {
public:
  // One parameter's plain value. Loads and stores are relaxed: each value is independent and read once
  // per block.
  struct AtomicParam {
    std::atomic<double> value{0.0};
    static_assert(std::atomic<double>::is_always_lock_free, "parameters must be lock-free atomics");

    AtomicParam& operator=(double v) {
      value.store(v, std::memory_order_relaxed);
      return *this;
    }
    operator double() const { return value.load(std::memory_order_relaxed); }
  };

  static constexpr int kNumVoices = 8;

  // The 64-sample rows shared by every voice, smoothed once per block (indices into engineRows).
  enum EngineRow : uint32_t {
    kRowRatio,
    kRowFmAmount,
    kRowFold,
    kRowFoldBias,
    kRowFeedback,
    kRowShape,
    kRowFoldCharacter,
    kRowNoiseMix,
    kRowCutoffA,
    kRowResonanceA,
    kRowCutoffB,
    kRowResonanceB,
    kRowDriveA,
    kRowDriveB,
    kNumEngineRows
  };
  // Values the voices read as one number per block: the last sample of their smoothed row.
  enum EngineLast : uint32_t {
    kLastKeyTrackA,
    kLastKeyTrackB,
    kLastEnv1CurveA,
    kLastEnv1CurveD,
    kLastEnv1CurveR,
    kLastEnv1Curve,
    kLastEnv2CurveA,
    kLastEnv2CurveD,
    kLastEnv2CurveR,
    kNumEngineLasts
  };
  // Parameters that block-level modulation changes (routes, lane targets, ratio steps).
  enum ModTarget : uint32_t {
    kModRatio,
    kModFmAmount,
    kModFold,
    kModFoldBias,
    kModFeedback,
    kModShape,
    kModFoldCharacter,
    kModCutoffA,
    kModCutoffB,
    kNumModTargets
  };
  // A modulated parameter's block value from the cache (base) and after modulation (effective).
  struct ModulatedValue {
    double base{0.0};
    double effective{0.0};
  };

  static constexpr std::array<float, kNumVoices> kStereoSpreadPan = {0.3f, -0.85f, 0.65f, -0.2f,
                                                                     1.0f, -0.55f, 0.4f,  -0.75f};

  PluginProcessor();
  // An engine whose tuning client talks to the given MTS-ESP master library (tests use a stand-in).
  explicit PluginProcessor(const MasterLibrary& mtsLibrary);

  // Parameters (any thread unless noted).
  // Stores a plain value clamped to the row's range; an unknown id or a non-finite value is ignored.
  void setParam(uint32_t id, double plain);
  // The stored plain value; 0.0 for an unknown id.
  double getParam(uint32_t id) const;
  // Audio thread: a value the engine changed itself (Morph Fader write-back); raises its engine-changed flag.
  void setParamFromDsp(uint32_t id, double plain);
  // Audio thread: takes the engine-changed flag of id; false for an unknown id.
  bool consumeParamDirtyFromDsp(uint32_t id);
  // Main thread: the voice glides by itself; the next block re-applies the glide time.
  void setGlideSmooth(bool on);

  // Life cycle (main thread).
  // The sample rates the engine runs at, ends included: every rate-dependent recursion stays stable
  // between them.
  static constexpr double kMinSampleRate = 1000.0;
  static constexpr double kMaxSampleRate = 768000.0;
  static constexpr bool supportsSampleRate(double rate) {
    return rate >= kMinSampleRate && rate <= kMaxSampleRate;  // false for NaN
  }
  // Ignores a rate the engine does not support.
  void setSampleRate(double rate);
  double getSampleRate() const { return sampleRate; }
  uint32_t latencySamples() const { return TruePeakLimiter::latencySamples(); }

  // Audio thread.
  // Renders frames of stereo output, refilling the 64-frame residue buffer whenever it runs empty.
  void process(float* left, float* right, uint32_t frames);
  // Renders one 64-sample block into the residue buffer.
  void generateBlock();
  // CLAP reset: silences everything and drops the residue buffer.
  void resetAll();

  // Frames of the last rendered block that the host has not taken yet (0..63 between process calls): a
  // note queued now at offset 63 - residueFrames() sounds exactly 63 frames after the host's time.
  uint32_t residueFrames() const { return residueRemaining; }

  // Transport (audio thread, before rendering).
  // Keeps the previous tempo when bpm is not finite or not above 0.
  void setTempo(double bpm) {
    if (std::isfinite(bpm) && bpm > 0.0) tempo.store(bpm, std::memory_order_relaxed);
  }
  double getTempo() const { return tempo.load(std::memory_order_relaxed); }
  void setTransportPlaying(bool playing) { transportPlaying.store(playing, std::memory_order_relaxed); }
  void setSongPosSamples(int64_t pos) { songPosSamples.store(pos, std::memory_order_relaxed); }
  // A new host position restarts the count of frames served since the last one.
  void setSongPosBeats(double beats) {
    songPosBeats.store(beats, std::memory_order_relaxed);
    framesSinceSongPos = 0;
  }
  // Song position in beats at the start of the engine block being rendered: the host's position plus
  // the frames served since it arrived, at the current tempo. Locked LFOs and the sequencer read it.
  double blockSongPosBeats() const;

  // Values published for the editor (any thread, relaxed).
  float getLfo1Output() const { return published.lfoOutput[0].load(std::memory_order_relaxed); }
  float getLfo2Output() const { return published.lfoOutput[1].load(std::memory_order_relaxed); }
  float getLfo1CyclePos() const { return published.lfoCyclePos[0].load(std::memory_order_relaxed); }
  float getLfo2CyclePos() const { return published.lfoCyclePos[1].load(std::memory_order_relaxed); }
  int32_t getLfo1Pattern() const { return published.lfoPattern[0].load(std::memory_order_relaxed); }
  int32_t getLfo2Pattern() const { return published.lfoPattern[1].load(std::memory_order_relaxed); }
  float getModCutoffAPos() const { return published.cutoffPositionA.load(std::memory_order_relaxed); }
  float getModCutoffBPos() const { return published.cutoffPositionB.load(std::memory_order_relaxed); }
  float getModRatioPos() const { return published.modPosition[kModRatio].load(std::memory_order_relaxed); }
  float getModFoldPos() const { return published.modPosition[kModFold].load(std::memory_order_relaxed); }
  float getModFmPos() const { return published.modPosition[kModFmAmount].load(std::memory_order_relaxed); }
  float getModFoldBiasPos() const {
    return published.modPosition[kModFoldBias].load(std::memory_order_relaxed);
  }
  float getModFeedbackPos() const {
    return published.modPosition[kModFeedback].load(std::memory_order_relaxed);
  }
  float getModShapePos() const { return published.modPosition[kModShape].load(std::memory_order_relaxed); }
  float getModFoldCharPos() const {
    return published.modPosition[kModFoldCharacter].load(std::memory_order_relaxed);
  }

  // Published output values (any thread).
  float getPeakL() const { return meters.getPeakL(); }
  float getPeakR() const { return meters.getPeakR(); }
  float getRmsL() const { return meters.getRmsL(); }
  float getRmsR() const { return meters.getRmsR(); }
  // The output stage is running hot (the master chain's level flag).
  bool getLimiterActive() const { return master.levelHot.load(std::memory_order_relaxed); }
  void getVoiceActivity(float out[kNumVoices]) const {
    for (int v = 0; v < kNumVoices; ++v) out[v] = voiceActivity[v].load(std::memory_order_relaxed);
  }
  float getKeyTrackOffsetA() const { return published.keyTrackOffset[0].load(std::memory_order_relaxed); }
  float getKeyTrackOffsetB() const { return published.keyTrackOffset[1].load(std::memory_order_relaxed); }
  // Bit mask of the kit slots that sounded in the last block.
  uint32_t afxSlotActive() const { return soundingSlotMask.load(std::memory_order_relaxed); }

  // Tuning. Main thread: the local tuning takes effect at the next block; neither call waits for one.
  using LocalTuning = ::LocalTuning;
  using TuningSnapshot = ::TuningSnapshot;
  static bool parseScala(const char* text, size_t len, const char* name, LocalTuning& out) {
    return ::parseScala(text, len, name, out);
  }
  void setLocalTuning(const LocalTuning& t) { tuning.setLocalTuning(t); }
  void clearLocalTuning() { tuning.clearLocalTuning(); }
  bool getLocalTuningCopy(LocalTuning& out) const { return tuning.getLocalTuningCopy(out); }
  uint32_t getTuningVersion() const { return tuning.getTuningVersion(); }
  bool getMTSConnected() const { return tuning.getMTSConnected(); }
  // Audio thread: MIDI Tuning Standard messages from the note input, and the summary for the editor.
  void parseMTSSysEx(const uint8_t* data, uint32_t length) { tuning.parseMTSSysEx(data, length); }
  bool getTuningSnapshot(TuningSnapshot& out) { return tuning.getTuningSnapshot(out); }
  // Audio thread: the tuning in force (a master, a received message, the local tuning, or 12-TET).
  double effectiveNoteFreq(int note, int channel) { return tuning.effectiveNoteFreq(note, channel); }
  int effectiveScaleSize() const { return tuning.effectiveScaleSize(); }
  double effectivePeriodRatio() const { return tuning.effectivePeriodRatio(); }
  bool effectiveTuningActive() const { return tuning.effectiveTuningActive(); }

  // Ratio steps: the intervals of the tuning in force that the ratio lock and the cutoff locks snap to.
  static constexpr int kMaxRatioSelection = RatioSelection::kMaxPairs;
  static constexpr int kMaxMtsRatioSteps = MtsRatioSteps::kMaxSteps;
  // Main thread: the (degree, octave) pairs the steps are built from, from the next block on; a null
  // array or n = 0 selects the automatic table.
  void setRatioSelection(const int* degrees, const int* octaves, int n);
  int32_t ratioSelectionCount() const { return ratioSelection.count(); }  // any thread
  // Audio thread.
  void recomputeMtsRatioSteps() { ::recomputeMtsRatioSteps(mtsRatioSteps, ratioSelection, tuning); }
  const MtsRatioSteps& currentRatioSteps() const { return mtsRatioSteps; }

  // Notes and voice bookkeeping (audio thread, between rendered spans). Offsets are sample offsets into
  // the next block, clamped to 0..63; channels are clamped to 0..15. Keys outside 0..127 are ignored,
  // except key -1 where noted.
  static int clampEventOffset(int offset);
  // False when the note was dropped (key out of range, or filtered out by a tuning master).
  bool handleNoteOn(int channel, int key, double velocity, int offset);
  // Key -1 releases every held key, each on its own channel.
  void handleNoteOff(int channel, int key, int offset);
  void setSustainPedal(bool down, int offset);
  // Bend -1..1; a value that is not finite is ignored.
  void setPitchBend(float bend);
  // Silences a key's voices at once and for good, whatever the pedal; key -1 is allSoundOff.
  void chokeKey(int channel, int key);
  // MIDI controller 120: silence now, every key and the pedal up, bend 0.
  void allSoundOff();
  // MIDI controller 123: every key and the pedal up, bend 0; voices keep their release.
  void allNotesOff();
  bool anyKeyHeld() const { return keyBook.anyKeyHeld(); }
  // Hands a sounding voice to the release tail that is free (or furthest into its fade).
  void spawnReleaseVoice(const VoiceState& voice, float pitch, float pan, int offset);
  // Stage 13's part for the release tails: begins the render of every active tail, so that their
  // filters run with the voices'.
  void beginReleaseVoices();
  // Stage 14: finishes the tails' renders and adds them into the rows.
  void renderReleaseVoices(ml::DSPVector& left, ml::DSPVector& right);
  // After every block: sends a note-off to a voice whose gate stays open with its key up, then clears it.
  void recoverStuckVoices();
  // For the editor poll: per voice the allocator note and last gate sample, per key whether it is held.
  // Returns the voices whose gate is above 0.5 on a note 1..127 whose key is up; 0 for a null buffer.
  int debugVoiceLedger(int notes[kNumVoices], float gates[kNumVoices], bool held[128]) const;

  // Envelope model switch (any thread; true = modern) and the followed voice's envelope display.
  bool envFeelModern() const { return published.envModelModern.load(std::memory_order_relaxed); }
  void setEnvFeelModern(bool modern) { published.envModelModern.store(modern, std::memory_order_relaxed); }
  // Advances a voice's Env 2 and its display on its own (when no route renders it); gateBefore is the
  // voice's gate at the end of the previous block.
  void tickEnv2Playhead(VoiceState& voice, const ml::DSPVector& gate, float gateBefore);
  float getEnv1PlayValue() const { return published.env1Play.value.load(std::memory_order_relaxed); }
  int32_t getEnv1PlayStage() const { return published.env1Play.stage.load(std::memory_order_relaxed); }
  float getEnv1PlayPos() const { return published.env1Play.pos.load(std::memory_order_relaxed); }
  float getEnv2PlayValue() const { return published.env2Play.value.load(std::memory_order_relaxed); }
  int32_t getEnv2PlayStage() const { return published.env2Play.stage.load(std::memory_order_relaxed); }
  float getEnv2PlayPos() const { return published.env2Play.pos.load(std::memory_order_relaxed); }
  float getEnvPlayNote() const { return published.envPlayNote.load(std::memory_order_relaxed); }
  float getEnvPlayVel() const { return published.envPlayVel.load(std::memory_order_relaxed); }

  // Engine-wide flags the editor and the state loader set (main thread). Turning a lock on asks for the
  // ratio selection to be rebuilt from the tuning.
  void setUIRestoring(bool on) { published.uiRestoring.store(on, std::memory_order_release); }
  bool uiRestoringActive() const { return published.uiRestoring.load(std::memory_order_acquire); }
  void setRatioLocked(bool on) { published.setRatioLocked(on); }
  bool ratioLocked() const { return published.ratioLockFlag.load(std::memory_order_relaxed); }
  // Filter A for which = 0, filter B for any other value.
  void setFilterLocked(int which, bool on) { published.setFilterLocked(which, on); }
  bool filterLocked(int which) const { return published.filterLocked(which); }
  void setSeqRatioAbsolute(bool on) { published.seqRatioAbsolute.store(on, std::memory_order_relaxed); }
  void setSeqRatioRankEncoded(bool on) { published.seqRatioRankEncoded.store(on, std::memory_order_relaxed); }
  void setEditorAttached(bool on) { published.editorAttached.store(on, std::memory_order_relaxed); }

  // Morph snapshots A (0) and B (1) and the rebase of edits into them. Main thread unless noted; pole
  // indices outside 0..1 are ignored (getters answer false or 0).
  using ParamSnapshot = ::ParamSnapshot;
  void setSnapshot(int i, const ParamSnapshot& s) { morph.setSnapshot(i, s); }
  void clearSnapshot(int i) { morph.clearSnapshot(i); }
  bool getSnapshotCopy(int i, ParamSnapshot& out) const { return morph.getSnapshotCopy(i, out); }
  bool hasSnapshot(int i) const { return morph.hasSnapshot(i); }
  uint64_t engineSnapSeq(int i) const { return morph.engineSnapSeq(i); }
  // An incoming capture numbered captureSeq is older than the pole the engine holds.
  bool snapshotSeqOlder(int i, uint64_t captureSeq) const { return morph.snapshotSeqOlder(i, captureSeq); }
  uint64_t nextCaptureSeq() { return morph.nextCaptureSeq(); }  // any thread
  // Main or audio thread: the next block moves the morph position without glide.
  void bumpSnapEpoch() { snapshotEpoch.fetch_add(1, std::memory_order_release); }
  // Audio (host edits) or main thread (editor edits): an edit of a rebase key folds into the poles.
  void rebaseParamEdit(uint32_t key) { morph.rebaseParamEdit(key); }
  void clearRebasePending() { morph.clearRebasePending(); }
  // After a state load the host's echo of the loaded values does not rebase for 3 process calls; the
  // audio thread counts them down and asks whether the grace is still on.
  void openPostLoadRebaseGrace() { morph.openPostLoadRebaseGrace(); }
  void tickPostLoadRebaseGrace() { morph.tickPostLoadRebaseGrace(); }
  bool postLoadRebaseGraceActive() const { return morph.postLoadRebaseGraceActive(); }
  static bool slotEqual(const ParamSnapshot& a, const ParamSnapshot& b, uint32_t key) {
    return ::slotEqual(a, b, key);
  }
  static void completeSnapshotDefaults(ParamSnapshot& s) { ::completeSnapshotDefaults(s); }
  // Any thread: folds key's current value into s and gives s a new capture number.
  void foldRebaseSlot(ParamSnapshot& s, uint32_t key);
  bool faderAtMorphPole() const;
  // Audio thread: folds key into poles[near], and into the far pole too (returning true) when both held
  // equal values for it and the fader is not at a pole.
  bool foldRebaseSlotMirrored(std::array<ParamSnapshot, 2>& poles, int near, uint32_t key);
  // Main thread, before a state save: folds the edits not yet saved into the staged poles.
  void drainRebaseToStaging();
  // Audio thread: this block's calibration blend for filter 0 (A) or 1 (B) playing filterMode.
  FilterCalibBlend filterCalibBlend(int filter, int32_t filterMode) const;

  // Kit slots (main thread unless noted). Slot indices outside 0..23 are ignored; the getters answer
  // false for them. Every setter hands the slot to the next block and keeps the fields it does not set.
  // used = the snapshot's capture flag; notes clamp to 0..127 (a negative note with a snapshot keeps the
  // slot's note), gain to 0..4, pan to -1..1 (a gain or pan that is not finite takes 1.0 or 0.0);
  // snapshots are sanitised.
  void setSlotSnapshot(int slot, const ParamSnapshot& s, int note) { kit.setSound(slot, s, note); }
  void setSlotNote(int slot, int note) { kit.setNote(slot, note); }
  void setSlotGain(int slot, float gain) { kit.setGain(slot, gain); }
  void setSlotPan(int slot, float pan) { kit.setPan(slot, pan); }
  void setSlotSnapshotGainPan(int slot, const ParamSnapshot& s, int note, float gain, float pan) {
    kit.setSoundGainPan(slot, s, note, gain, pan);
  }
  // Empties the slot: no capture, note at its key from the current base key, gain 1.0, pan 0.0.
  void clearSlot(int slot) { kit.clear(slot, afxBaseKeyValue()); }
  // The staged slot as last written.
  bool getSlotCopy(int slot, ParamSnapshot& out, int& note, bool& used) const {
    return kit.copySound(slot, out, note, used);
  }
  bool getSlotGainPan(int slot, float& gain, float& pan) const { return kit.gainPan(slot, gain, pan); }
  void setAfxMode(bool on) { kitMode.store(on, std::memory_order_relaxed); }
  bool afxModeOn() const { return kitMode.load(std::memory_order_relaxed); }  // any thread
  void setAfxBaseKey(int key);
  int afxBaseKeyValue() const { return kitBaseKey.load(std::memory_order_relaxed); }  // any thread
  // Plays the slot's key for about 150 ms from the next block on.
  void auditionSlot(int slot) { kit.audition.request(slot); }
  // Audio thread: the mix gains of a voice or release tail at pan; in kit mode a voice on a slot takes
  // the slot's gain and adds its pan.
  StereoGains voiceMixGains(const VoiceState& voice, float pan) const;

  // Sequencer lanes (SeqLanes.h says how each call treats its lane index).
  using SeqGlide = ::SeqGlide;
  using SeqLaneDelay = ::SeqLaneDelay;
  using SeqTieReanchor = ::SeqTieReanchor;
  static constexpr int kSeqSteps = ::kSeqSteps;
  // Main thread (editor, state load).
  void setSeqSteps(int lane, const float* steps, int n) { seq.setSteps(lane, steps, n); }
  void setSeqTies(int lane, const unsigned char* ties, int n) { seq.setTies(lane, ties, n); }
  void setSeqEnabled(int lane, bool on) { seq.setEnabled(lane, on); }
  void setSeqTriggerKey(int lane, int key) { seq.setTriggerKey(lane, key); }
  void setSeqRunMode(int lane, int mode) { seq.setRunMode(lane, mode); }
  void setSeqSyncDiv(int lane, int div) { seq.setSyncDiv(lane, div); }
  void setSeqFreeRate(int lane, float hz) { seq.setFreeRate(lane, hz); }
  void setSeqDelay(int lane, float division, int multiplier) { seq.setDelay(lane, division, multiplier); }
  void setSeqTarget(int lane, int target) { seq.setTarget(lane, target); }
  void setSeqRateCommitted(int lane, float hz) { seq.setRateCommitted(lane, hz); }
  void resetSeqRateCommitted() { seq.resetRateCommitted(); }
  void setSeqLaneEditBroke(int lane, bool broke) { seq.setEditBroke(lane, broke); }
  void stageSeqLatchRestore(bool lane0, bool lane1) { seq.stageLatchRestore(lane0, lane1); }
  bool getSeqEnabled(int lane) const { return seq.enabled(lane); }
  int getSeqTriggerKey(int lane) const { return seq.triggerKey(lane); }
  int getSeqRunMode(int lane) const { return seq.runMode(lane); }
  int getSeqSyncDiv(int lane) const { return seq.syncDiv(lane); }
  float getSeqFreeRate(int lane) const { return seq.freeRate(lane); }
  int getSeqStep(int lane) const { return seq.step(lane); }
  int getSeqStepCount(int lane) const { return seq.stepCount(lane); }
  int getSeqDelayMul(int lane) const { return seq.delayMultiplier(lane); }
  float getSeqDelayDiv(int lane) const { return seq.delayDivision(lane); }
  float getSeqRateCommitted(int lane) const { return seq.rateCommitted(lane); }
  bool seqLaneEditBroke(int lane) const { return seq.editBroke(lane); }
  int getSeqStepsCopy(int lane, float* out, int max) const { return seq.stepsCopy(lane, out, max); }
  int getSeqTiesCopy(int lane, unsigned char* out, int max) const { return seq.tiesCopy(lane, out, max); }
  // Audio thread: the lane's morphed step values while its steps morph (true), else n = 0 and false.
  bool getSeqMorphValues(int lane, float* out, int max, int& n) const;
  // Audio thread: a note-on's trigger delay check and step advance; the lane clock's helpers.
  bool shouldAdvanceSeq(int lane) { return seq.shouldAdvance(lane, getTempo(), sampleRate); }
  void advanceSeqStep(int lane) { seq.advanceStep(lane, blockClock, sampleRate); }
  bool seqOffsetHolding(int lane) { return seq.offsetHolding(lane, getTempo(), sampleRate); }
  void seqEnterStep(int lane, int step, int64_t durationSamples) {
    seq.enterStep(lane, step, durationSamples);
  }
  // Audio thread: values over the live morph poles (pole 0 A, 1 B) and the lanes as the lane targets
  // read them this block.
  SeqPoleLane seqPoleLane(int pole, int lane) const;
  float seqStepValueOf(int pole, int lane, int step) const;
  bool seqStepTieOf(int pole, int lane, int step) const;
  float seqValMorph(int lane, int step, float frac, bool glide) const;
  float seqTieReanchorApply(int lane, float value, bool tied, int step, float phase) {
    return seq.tieReanchor(lane, value, tied, step, phase);
  }
  SeqLaneReading readSeqLane(int lane) const;
  // Stage 4: the free rates of lanes 0 and 1 from their committed rates or the morph poles.
  void updateSeqFreeRates();

  // Voice Mode (0 poly, 1 mono, 2 legato) and the voices it plays: Voice Count in poly, else one.
  struct VoiceConfig {
    int32_t mode;
    uint64_t effectiveCount;
  };
  VoiceConfig cachedVoiceConfig() const;
  // Voice configuration: applies Voice Mode and Voice Count from the block cache.
  void applyVoiceMode();
  // Glide time handed to the allocator, in seconds.
  float effectiveEtsGlideSeconds() const;
  // Begins the render of synthesis voice v (0..7) with the allocator's rows; returns the render number.
  int beginVoice(int v);
  // The whole per-voice signal path over one voice state; voice -1 is a release tail.
  ml::DSPVector renderVoiceSignal(VoiceState& voice, const ml::DSPVector& pitch, const ml::DSPVector& gate,
                                  int voiceIndex);
  // The same path in three parts, so that the filters of every render of a block run side by side in
  // lanes: beginVoiceRender runs the steps up to the filter inputs and returns the render number,
  // renderVoiceFilters runs the filters of every render begun and their output chains up to the tone
  // stage (the soft clips side by side too), finishVoiceRender runs the rest of the output stage of
  // render r and returns its signal (valid until the next block).
  int beginVoiceRender(VoiceState& voice, const ml::DSPVector& pitch, const ml::DSPVector& gate,
                       int voiceIndex);
  void renderVoiceFilters();
  const ml::DSPVector& finishVoiceRender(int r);
  // A parameter as the voice plays it: its kit slot's captured value (sanitised) in kit mode, else
  // the block cache value.
  double effParam(uint32_t id, const VoiceState& voice) const { return voiceParams.effParam(id, voice); }
  // The voice's kit slot captured id with a value other than the block's (NaN counts as other).
  bool afxOverridden(uint32_t id, const VoiceState& voice) const {
    return voiceParams.kitOverridden(id, voice);
  }
  // Stage 7: rebuilds the carrier bank when the tuning or Shape moved, then glides its amplitudes.
  void maintainCarrierBank();
  // Sets every engine smoother's time for the current sample rate and jumps it to its cached value.
  void resetEngineSmoothers();

  // The stages of generateBlock, in order.
  void stageSnapshotHandOver();       // 1
  void stageAuditionRing();           // 2
  void stageParamCacheAndMorph();     // 3
  void stageBlendsAndRouteSources();  // 4
  void stageVoiceConfiguration();     // 5
  void stageSequencerClock();         // 6
  void stageTuningUpkeep();           // 7
  void stageEvents();                 // 8
  void stageLfos();                   // 9
  void stageModulationRoutes();       // 10
  void stageEngineRows();             // 11
  void stageVoiceSumGainAndSpread();  // 12
  void stageVoices();                 // 13
  void stageReleaseTails();           // 14
  void stageReverb();                 // 15
  void stageEq();                     // 16
  void stageNoiseFloor();             // 17
  void stageOutputGain();             // 18
  void stageSaturation();             // 19
  void stageLimiterAndMeters();       // 20
  void stageResidueCopy();            // 21
  void stageMtsRetuneCheck();         // 22
  void stageBlockEnd();               // 23

  // 1. Sample rate.
  double sampleRate{44100.0};

  // 2. Parameter store, and per parameter a flag raised when the engine changed the value itself.
  std::array<AtomicParam, kNumParams> params;
  std::array<std::atomic<bool>, kNumParams> paramDirtyFromDsp{};

  // 3. Voice allocator: notes in, per-voice pitch (row 0) and gate (row 1) out.
  ml::EventsToSignals allocator;

  // 4. Voices and release tails.
  std::array<VoiceState, kNumVoices> voices{};
  std::array<ReleaseVoice, kNumVoices> releaseVoices{};
  // Per voice and per tail its render in voiceRenders (-1: none).
  std::array<int8_t, kNumVoices> voiceRender{};
  std::array<int8_t, kNumVoices> tailRender{};

  // 5. Voice bookkeeping.
  std::array<float, kNumVoices> voicePan{};
  std::atomic<bool> voiceConfigChanged{false};
  std::atomic<bool> smoothGlide{false};
  int32_t lastVoiceMode{-1};
  uint64_t effectiveVoiceCount{0};
  float lastGlideSeconds{-1.0f};
  VoiceSumGain voiceSumGain;
  // Per voice: gate level at the end of the last block, note-start stamp and closed-and-idle block count.
  std::array<float, kNumVoices> voicePrevGate{};
  std::array<uint64_t, kNumVoices> voiceNoteStamp{};
  std::array<int32_t, kNumVoices> voiceSilentBlocks{};
  uint64_t noteStartCounter{0};

  // 6. and 8. Morph poles with their hand-over, rebase flags, grace and block outputs; the snapshot
  // epoch (a change lands the morph position at once and restarts the voices' glides).
  MorphPoles morph;
  std::atomic<uint32_t> snapshotEpoch{0};

  // 7. The block parameter cache: every stage of a block reads these, never the atomics.
  std::array<double, kNumParams> cache{};

  // 8.-9. The kit: the main thread's staged slots with their hand-over and the audition; kit mode and
  // base key (0..127), the render copies the voices read and the slots heard in the last block.
  static constexpr int kNumKitSlots = ::kNumKitSlots;
  EngineKit kit;
  std::atomic<bool> kitMode{false};
  std::atomic<int32_t> kitBaseKey{kDefaultKitBaseKey};
  std::array<KitSlot, kNumKitSlots> kitSlots = emptyKitSlots();  // audio thread
  std::atomic<uint32_t> soundingSlotMask{0};                     // bit s: slot s sounded in the last block
  // The block cache and the kit slots as the voices play them.
  VoiceParams voiceParams{cache, kitMode, kitSlots};

  // 10. Per-voice activity meters.
  std::array<std::atomic<float>, kNumVoices> voiceActivity{};

  // 11. The master chain holds the reverb, EQ, noise floor, output gain and saturation; then the
  // limiter and the output meters; the sequencer lanes.
  MasterChain master;
  MasterSettings masterSettings;  // this block's master-chain values, read once from the cache
  TruePeakLimiter limiter;
  OutputMeters meters;
  // The two LFOs and the route arrays. The voice render path reads `routes` (see ModRoutes) for the
  // sources, crossfades and engine-wide block values of the block being rendered.
  std::array<LFO, 2> lfos;
  ModRoutes routes;
  SeqLanes seq;
  // Each route's selected source this block (0..3), from its Source parameter (stage 4).
  std::array<int32_t, kNumRoutes> routeSelectedSource{};

  // 12. Values published for the editor and the flags the editor sets; the voice the envelope display
  // follows, with its gate at the end of the previous block; filter A's calibrated cutoff at the end of
  // the last synthesis voice.
  PublishedValues published;
  static_assert(kModCutoffA == PublishedValues::kNumModPositions, "published positions stop at the cutoffs");
  int followedVoice{-1};
  float followedGateBefore{0.0f};
  std::atomic<float> calibratedCutoffA{0.0f};

  // 13. Transport.
  std::atomic<double> tempo{120.0};
  std::atomic<bool> transportPlaying{false};
  std::atomic<int64_t> songPosSamples{0};
  std::atomic<double> songPosBeats{0.0};
  bool prevTransportPlaying{false};  // updated by the LFO stage; earlier stages see the last block's
  uint64_t framesSinceSongPos{0};    // frames served since the host's last song position
  std::atomic<float> pitchBend{0.0f};

  // 14. The key book (keys 0..127, the pedal and the lost note-off sweep) and the stuck-voice counters.
  static constexpr int kNumKeys = KeyBook::kNumKeys;
  KeyBook keyBook;
  std::array<int32_t, kNumVoices> stuckBlocks{};
  uint32_t stuckRecoveries{0};
  // Per allocator voice: the key it played at the end of the last event stage (for its note channel).
  std::array<int32_t, kNumVoices> voiceKeySeen{};

  // 15. Tuning: the local (Scala) tuning and its hand-over, the MTS-ESP client and the tuning watch.
  // Carrier-bank and drift targets join here.
  TuningState tuning;
  // The ratio steps, the selection they are built from, and the tuning version they last followed while
  // a lock was on. ratioStepsRebuilt: they followed a retune with the ratio lock on, so the ratio eases
  // to its new step; the ratio lock takes the flag.
  RatioSelection ratioSelection;
  MtsRatioSteps mtsRatioSteps;
  uint32_t ratioStepsTuningVersion{0};
  bool ratioStepsRebuilt{false};
  // The carrier bank and the FM ratio drift targets every voice reads.
  CarrierBank carrierBank;
  DriftTargets driftTargets;

  // 16. Engine smoothers, block values and block clock.
  std::array<ParamSmoother, kNumEngineRows> rowSmoothers;
  std::array<ml::DSPVector, kNumEngineRows> engineRows;
  std::array<ParamSmoother, kNumEngineLasts> lastSmoothers;
  std::array<float, kNumEngineLasts> engineLast{};
  // Per row and last smoother: the bits of its input at its last call, which a block that brings the same
  // input to a smoother at rest skips.
  std::array<uint64_t, kNumEngineRows> rowInputs{};
  std::array<uint64_t, kNumEngineLasts> lastInputs{};
  std::array<ModulatedValue, kNumModTargets> modulated{};
  // The bits of the modulated values whose positions were published last (once the first block has
  // published them all): an unchanged value keeps its position.
  std::array<uint64_t, PublishedValues::kNumModPositions> publishedModBits{};
  bool modPositionsPublished{false};
  ParamSmoother morphFaderSmoother;
  ParamSmoother stereoSpreadSmoother;
  float stereoSpread{0.0f};  // this block's smoothed Stereo Spread, 0..1
  // Ratio lock (set by the lane targets: the lock is on, or the ratio lane picked a step by rank) and a
  // pending ratio jump, which runs the Ratio smoother with its own time until it lands; the step the
  // lock chose last block.
  bool ratioLockActive{false};
  bool ratioJumpPending{false};
  float ratioJumpMs{5.0f};
  double lastSnappedRatio{0.0};
  uint64_t blockClock{0};

  // The stereo rows that flow through the stages of one block.
  ml::DSPVector blockLeft;
  ml::DSPVector blockRight;

  // 17. Residue buffer: the last rendered block and how much of it the host has not taken yet.
  ml::DSPVector residueLeft;
  ml::DSPVector residueRight;
  uint32_t residueReadIndex{0};
  uint32_t residueRemaining{0};

  // The renders of the current block (VoiceRender.h), with their view of the engine's state above: last,
  // so that the state they refer to is built first.
  std::unique_ptr<VoiceRenders, VoiceRendersDeleter> voiceRenders{makeVoiceRenders(*this)};

private:
  // Stage 23: rebuilds the ratio steps after a retune while the ratio lock or a cutoff lock is on.
  void followRetuneWithRatioSteps();
  // Stages 4, 9 and 10: route sources, LFOs and routes.
  void selectRouteSources();
  void runLfo(int index, const LfoSettings& settings, const LfoTransport& transport);
  void applyRoute(uint32_t route, ModTarget target);
  // The lane-target stage acts inside the route stage: the ratio lane and ratio lock right after the
  // Ratio route, lane 1's target after the other routes.
  void applyRatioLaneAndLock();
  void applyLaneOneTarget();
  void publishModPositions();

  // Stages 1, 3 and 4: the morph's parts.
  int nearMorphPole() const;  // by the Morph Fader's current value: A below 0.5, else B
  void handOverMorphPoles();
  void takeLaneLatchRestore();
  void foldEngineRebase();
  void foldSettingKey(ParamSnapshot& s, uint32_t key);  // a rebase key past the parameters
  double morphPositionForBlock(double fader);
  void morphParamCache();
  void publishFilterModeBlends();
  void trackMorphActiveEpoch();

  // Stage 13 per voice: pan, render, sum, and the choice of the voice the envelope display follows.
  void renderVoiceIntoMix(int v);
  // What stage 13 reads of a voice: its gate row and envelope idle states (Env 2 counts when a route
  // renders it).
  ml::DSPVector voiceGate(int v) const;
  bool voiceEnv1Idle(int v) const;
  bool voiceEnvelopesIdle(int v, bool env2Routed) const;
  // Some modulation route takes Env 2 as its source this block (the voice then renders Env 2 itself).
  bool routeUsesEnv2() const;
  // Stage 13's end: publishes the followed voice's envelopes (or idle when none is followed).
  void publishEnvelopeDisplay();

  // Notes: the key book and the event-stage prelude.
  void postNoteEvent(uint8_t type, int channel, int key, float velocity, int offset);
  void postSustainEvent(bool down, int offset);
  void clearVoice(int v);
  void putEveryKeyUpForActivation();
  void returnStolenNotes();
  // A free voice for each held key that no voice sounds, while there are such keys and free voices.
  // Inlined where it is defined, into its one caller, which runs every block.
  [[gnu::always_inline]] inline void giveFreeVoicesStolenKeys();
  void sweepLostNoteOffs();
  // After the allocator ran: a voice that took a new note takes that key's channel.
  void trackVoiceChannels();
};
