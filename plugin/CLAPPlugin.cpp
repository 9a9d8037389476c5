#include "plugin/CLAPPlugin.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "plugin/CLAPEntry.h"
#include "state/PresetLibrary.h"

namespace {

// Controllers bound at construction: resonance, release, attack and cutoff of the first filter and the
// amplitude envelope.
struct CcBinding {
  uint32_t cc;
  uint32_t param;
};
constexpr CcBinding kDefaultCcBindings[] = {{71, kParamFilterAResonance},
                                            {72, kParamAmpEnvRelease},
                                            {73, kParamAmpEnvAttack},
                                            {74, kParamFilterACutoff}};

constexpr double kPublishRateHz = 30.0;

void copyName(char (&field)[CLAP_NAME_SIZE], const char* name) {
  std::strncpy(field, name, CLAP_NAME_SIZE - 1);
  field[CLAP_NAME_SIZE - 1] = 0;
}

// The block's stereo output (port 0, channels 0 and 1), or false when the host left it out.
bool stereoOutput(const clap_process& process, float*& left, float*& right) {
  if (process.audio_outputs == nullptr || process.audio_outputs_count < 1) return false;
  const clap_audio_buffer& port = process.audio_outputs[0];
  if (port.data32 == nullptr || port.channel_count < 2) return false;
  left = port.data32[0];
  right = port.data32[1];
  return left != nullptr && right != nullptr;
}

// The engine's sample position for a beat position, or false when it has no finite 64-bit value.
bool songPosSamples(double beats, double tempo, double rate, int64_t& samples) {
  const double exact = std::trunc(beats * (60.0 / tempo) * rate);
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (!std::isfinite(exact) || exact >= kLimit || exact < -kLimit) return false;
  samples = static_cast<int64_t>(exact);
  return true;
}

}  // namespace

CLAPPlugin::CLAPPlugin(const clap_host* host) : clap::helpers::TavrinPluginBase(tavrinDescriptor(), host) {
  for (auto& entry : ccMap) entry.store(kCcUnmapped, std::memory_order_relaxed);
  for (const CcBinding& binding : kDefaultCcBindings)
    ccMap[binding.cc].store(binding.param, std::memory_order_relaxed);
}

bool CLAPPlugin::init() {
  // The host's log may be called from any thread; the platform log is never called on the audio thread.
  if (_hostProxy.canUseHostLog())
    hostLogRoute.emplace([this](const std::string& line) { log(CLAP_LOG_WARNING, line); });
  bootstrapPresetFolders();
  return true;
}

bool CLAPPlugin::activate(double rate, uint32_t, uint32_t) {
  if (!PluginProcessor::supportsSampleRate(rate)) {
    char message[128];
    std::snprintf(message, sizeof message,
                  "Tavrin cannot run at a sample rate of %.10g Hz (it runs at %.0f to %.0f Hz)", rate,
                  PluginProcessor::kMinSampleRate, PluginProcessor::kMaxSampleRate);
    log(CLAP_LOG_ERROR, message);
    return false;
  }
  sampleRate = rate;
  engine.setSampleRate(rate);
  return true;
}

clap_process_status CLAPPlugin::process(const clap_process* process) {
  const uint32_t frames = process->frames_count;
  const clap_input_events* in = process->in_events;
  const uint32_t count = in != nullptr ? in->size(in) : 0;
  if (process->transport != nullptr) applyTransport(*process->transport);

  float* left = nullptr;
  float* right = nullptr;
  const bool hasOutput = stereoOutput(*process, left, right);
  uint32_t next = 0;
  // Render up to each event's time, then dispatch it; an event behind the cursor is taken at the cursor.
  for (uint32_t cursor = 0; hasOutput && cursor < frames;) {
    uint32_t end = frames;
    for (; next < count; ++next) {
      const clap_event_header* event = in->get(in, next);
      if (event != nullptr && event->time > cursor) {
        end = std::min(frames, event->time);
        break;
      }
      if (event != nullptr) processEvent(*event);
    }
    if (end > cursor) engine.process(left + cursor, right + cursor, end - cursor);
    cursor = end;
  }
  // Events at or beyond the block's end, or every event of a block without output, are taken at the
  // point the output has reached, so no note-off is lost.
  for (; next < count; ++next)
    if (const clap_event_header* event = in->get(in, next)) processEvent(*event);

  outputDirtyParams(process->out_events, frames);
  engine.tickPostLoadRebaseGrace();
  publish(frames);
  return hasOutput ? CLAP_PROCESS_CONTINUE : CLAP_PROCESS_ERROR;
}

void CLAPPlugin::applyTransport(const clap_event_transport& transport) {
  if (transport.flags & CLAP_TRANSPORT_HAS_TEMPO) engine.setTempo(transport.tempo);
  engine.setTransportPlaying((transport.flags & CLAP_TRANSPORT_IS_PLAYING) != 0);
  if (!(transport.flags & CLAP_TRANSPORT_HAS_BEATS_TIMELINE)) return;
  const double beats =
      static_cast<double>(transport.song_pos_beats) / static_cast<double>(CLAP_BEATTIME_FACTOR);
  int64_t samples = 0;
  if (songPosSamples(beats, engine.getTempo(), engine.getSampleRate(), samples))
    engine.setSongPosSamples(samples);
  engine.setSongPosBeats(beats);
}

void CLAPPlugin::publish(uint32_t frames) {
  publishCounter += frames;
  if (publishCounter < std::trunc(sampleRate / kPublishRateHz)) return;
  constexpr auto relaxed = std::memory_order_relaxed;
  constexpr auto release = std::memory_order_release;

  float activity[PluginProcessor::kNumVoices];
  engine.getVoiceActivity(activity);
  for (int v = 0; v < PluginProcessor::kNumVoices; ++v) guiPoll.voiceActivity[v].store(activity[v], relaxed);
  guiPoll.mtsConnected.store(engine.getMTSConnected(), relaxed);
  guiPoll.limiterActive.store(engine.getLimiterActive(), relaxed);
  const float levels[] = {engine.getPeakL(), engine.getPeakR(), engine.getRmsL(), engine.getRmsR()};
  for (int i = 0; i < 4; ++i) guiPoll.levels[i].store(levels[i], relaxed);
  const float lfo[] = {engine.getLfo1Output(), engine.getLfo2Output(), engine.getLfo1CyclePos(),
                       engine.getLfo2CyclePos()};
  for (int i = 0; i < 4; ++i) guiPoll.lfo[i].store(lfo[i], relaxed);

  guiPoll.env1Value.store(engine.getEnv1PlayValue(), relaxed);
  guiPoll.env1Stage.store(engine.getEnv1PlayStage(), relaxed);
  guiPoll.env1Pos.store(engine.getEnv1PlayPos(), relaxed);
  guiPoll.env2Value.store(engine.getEnv2PlayValue(), relaxed);
  guiPoll.env2Stage.store(engine.getEnv2PlayStage(), relaxed);
  guiPoll.env2Pos.store(engine.getEnv2PlayPos(), relaxed);
  guiPoll.envNote.store(engine.getEnvPlayNote(), relaxed);
  guiPoll.envVelocity.store(engine.getEnvPlayVel(), relaxed);
  publishSequencer();

  guiPoll.keyTrackOffset[0].store(engine.getKeyTrackOffsetA(), relaxed);
  guiPoll.keyTrackOffset[1].store(engine.getKeyTrackOffsetB(), relaxed);
  guiPoll.modPos[0].store(engine.getModCutoffAPos(), relaxed);
  guiPoll.modPos[1].store(engine.getModCutoffBPos(), relaxed);
  const float oscModPos[] = {engine.getModRatioPos(),    engine.getModFoldPos(),     engine.getModFmPos(),
                             engine.getModFoldBiasPos(), engine.getModFeedbackPos(), engine.getModShapePos(),
                             engine.getModFoldCharPos()};
  static_assert(std::size(oscModPos) == GuiPollData::kNumOscModPositions);
  for (int i = 0; i < GuiPollData::kNumOscModPositions; ++i)
    guiPoll.oscModPos[i].store(oscModPos[i], relaxed);
  guiPoll.kitPlayhead.store(engine.afxSlotActive(), relaxed);

  for (uint32_t id = 0; id < kNumParams; ++id) {
    if (!engine.consumeParamDirtyFromDsp(id)) continue;
    raiseParamFlag(valueDirty[id]);
    const ParamInfo& row = kParams[id];
    guiPoll.engineValue[id].store(static_cast<float>((engine.getParam(id) - row.min) / (row.max - row.min)),
                                  relaxed);
    guiPoll.engineChanged[id].store(true, release);
  }
  publishTuning();
  publishCounter = 0;
}

void CLAPPlugin::publishTuning() {
  const uint32_t version = engine.getTuningVersion();
  if (version == guiPoll.tuningVersion.load(std::memory_order_relaxed)) return;
  PluginProcessor::TuningSnapshot snapshot;
  if (engine.getTuningSnapshot(snapshot)) {
    std::memcpy(guiPoll.tuningIntervals, snapshot.ratios, sizeof guiPoll.tuningIntervals);
    std::memcpy(guiPoll.tuningLabels, snapshot.degreeText, sizeof guiPoll.tuningLabels);
    guiPoll.tuningCount = snapshot.count;
    guiPoll.tuningPeriod = snapshot.periodRatio;
    guiPoll.tuningScaleSize = snapshot.keysPerPeriod;
    std::memcpy(guiPoll.tuningName, snapshot.name, sizeof guiPoll.tuningName);
    guiPoll.tuningSourceKind = snapshot.source;
    guiPoll.hasTuning = true;
  } else {
    guiPoll.hasTuning = false;
    guiPoll.tuningCount = 0;
    guiPoll.tuningSourceKind = 0;
  }
  guiPoll.tuningVersion.store(version, std::memory_order_release);
}

uint32_t CLAPPlugin::audioPortsCount(bool isInput) const {
  return isInput ? 0 : 1;
}

bool CLAPPlugin::audioPortsInfo(uint32_t index, bool isInput, clap_audio_port_info* info) const {
  if (isInput || index != 0) return false;
  info->id = 0;
  copyName(info->name, "Audio Output");
  info->flags = CLAP_AUDIO_PORT_IS_MAIN;
  info->channel_count = 2;
  info->port_type = CLAP_PORT_STEREO;
  info->in_place_pair = CLAP_INVALID_ID;
  return true;
}

uint32_t CLAPPlugin::notePortsCount(bool isInput) const {
  return isInput ? 1 : 0;
}

bool CLAPPlugin::notePortsInfo(uint32_t index, bool isInput, clap_note_port_info* info) const {
  if (!isInput || index != 0) return false;
  info->id = 0;
  info->supported_dialects = CLAP_NOTE_DIALECT_CLAP | CLAP_NOTE_DIALECT_MIDI;
  info->preferred_dialect = CLAP_NOTE_DIALECT_MIDI;
  copyName(info->name, "Note Input");
  return true;
}
