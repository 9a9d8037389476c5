#include "editor/EditorPush.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "editor/PercentEncode.h"
#include "foundation/MLSafeValue.h"
#include "platform/CLocale.h"
#include "state/ParamNameMap.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr float kMoveThreshold = 0.0001f;

constexpr std::array<const char*, kNumParams> canonicalNames() {
  std::array<const char*, kNumParams> names{};
  for (const ParamNameEntry& row : kParamNameMap)
    if (row.id < kNumParams && names[row.id] == nullptr) names[row.id] = row.name;
  return names;
}

// A value from the audio thread as the page sees it: a non-finite one would print as a bare "nan" or
// "inf" and break the whole batch, so it shows as 0.
float shown(const std::atomic<float>& value) {
  return ml::finiteOr(value.load(kRelaxed), 0.0f);
}

double shownDouble(double value) {
  return ml::finiteOr(value, 0.0);
}

const char* jsBool(bool on) {
  return on ? "true" : "false";
}

// Reads count floats into fresh and tells whether any moved against last.
template <size_t N>
bool readFloats(const std::array<std::atomic<float>, N>& source, float (&fresh)[N], const float (&last)[N]) {
  bool moved = false;
  for (size_t i = 0; i < N; ++i) {
    fresh[i] = shown(source[i]);
    moved = moved || pollMoved(fresh[i], last[i]);
  }
  return moved;
}

template <size_t N>
void keep(float (&mirror)[N], const float (&fresh)[N]) {
  std::copy(fresh, fresh + N, mirror);
}

void appendFloatList(std::string& out, const float* values, int count, const char* separator) {
  for (int i = 0; i < count; ++i) appendFormat(out, "%s%.4f", i > 0 ? separator : "", double{values[i]});
}

void appendVoiceActivity(const GuiPollData& poll, PollSnapshot& m, bool force, std::string& out) {
  float fresh[GuiPollData::kNumVoices];
  if (!readFloats(poll.voiceActivity, fresh, m.voice) && !force) return;
  keep(m.voice, fresh);
  out += "if(window.mlibSetVoiceActivity) window.mlibSetVoiceActivity([";
  appendFloatList(out, fresh, GuiPollData::kNumVoices, ",");
  out += "]);";
}

void appendLamp(bool fresh, bool& last, bool force, const char* function, std::string& out) {
  if (fresh == last && !force) return;
  last = fresh;
  appendFormat(out, " if(window.%s) window.%s(%s);", function, function, jsBool(fresh));
}

// A group of floats sent as the arguments of one call.
template <size_t N>
void appendFloatCall(const std::array<std::atomic<float>, N>& source, float (&last)[N], bool force,
                     const char* function, std::string& out) {
  float fresh[N];
  if (!readFloats(source, fresh, last) && !force) return;
  keep(last, fresh);
  appendFormat(out, " if(window.%s) window.%s(", function, function);
  appendFloatList(out, fresh, static_cast<int>(N), ", ");
  out += ");";
}

void appendSeqSteps(const GuiPollData& poll, PollSnapshot& m, bool force, std::string& out) {
  int32_t fresh[kSeqLanes];
  bool changed = false;
  for (int lane = 0; lane < kSeqLanes; ++lane) {
    fresh[lane] = poll.seqStep[lane].load(kRelaxed);
    changed = changed || fresh[lane] != m.seqStep[lane];
  }
  if (!changed && !force) return;
  std::copy(fresh, fresh + kSeqLanes, m.seqStep);
  static_assert(kSeqLanes == 3, "the page's call takes three steps");
  appendFormat(out, " if(window.mlibSetSeqStep) window.mlibSetSeqStep(%d, %d, %d);", fresh[0], fresh[1],
               fresh[2]);
}

// Lanes 0 and 1: whether they show morphed values, and the first count of those values.
void appendSeqState(const GuiPollData& poll, PollSnapshot& m, bool force, std::string& out) {
  bool active[kSeqTiedLanes];
  int32_t count[kSeqTiedLanes];
  float values[kSeqTiedLanes][kSeqSteps];
  bool changed = false;
  for (int lane = 0; lane < kSeqTiedLanes; ++lane) {
    active[lane] = poll.seqActive[lane].load(std::memory_order_acquire);
    count[lane] = std::clamp(poll.seqCount[lane].load(kRelaxed), 0, kSeqSteps);
    changed = changed || active[lane] != m.seqActive[lane] || count[lane] != m.seqCount[lane];
    for (int i = 0; i < count[lane]; ++i) {
      values[lane][i] = shown(poll.seqValues[lane][i]);
      changed = changed || pollMoved(values[lane][i], m.seqValues[lane][i]);
    }
  }
  if (!changed && !force) return;
  out += " if(window.mlibSetSeqState) window.mlibSetSeqState([";
  for (int lane = 0; lane < kSeqTiedLanes; ++lane) {
    m.seqActive[lane] = active[lane];
    m.seqCount[lane] = count[lane];
    std::copy(values[lane], values[lane] + count[lane], m.seqValues[lane]);
    appendFormat(out, "%s{active:%s,vals:[", lane > 0 ? "," : "", jsBool(active[lane]));
    appendFloatList(out, values[lane], count[lane], ",");
    out += "]}";
  }
  out += "]);";
}

void appendKitPlayhead(const GuiPollData& poll, PollSnapshot& m, bool force, std::string& out) {
  const uint32_t fresh = poll.kitPlayhead.load(kRelaxed);
  if (fresh == m.kitPlayhead && !force) return;
  m.kitPlayhead = fresh;
  appendFormat(out, " if(window.mlibSetAfxPlayhead) window.mlibSetAfxPlayhead(%u);", fresh);
}

void appendEnvPlayhead(const GuiPollData& poll, PollSnapshot& m, bool force, std::string& out) {
  PollSnapshot f;
  f.env1Value = shown(poll.env1Value);
  f.env1Stage = poll.env1Stage.load(kRelaxed);
  f.env1Pos = shown(poll.env1Pos);
  f.env2Value = shown(poll.env2Value);
  f.env2Stage = poll.env2Stage.load(kRelaxed);
  f.env2Pos = shown(poll.env2Pos);
  f.note = shown(poll.envNote);
  f.velocity = shown(poll.envVelocity);
  const bool changed = pollMoved(f.env1Value, m.env1Value) || f.env1Stage != m.env1Stage ||
                       pollMoved(f.env1Pos, m.env1Pos) || pollMoved(f.env2Value, m.env2Value) ||
                       f.env2Stage != m.env2Stage || pollMoved(f.env2Pos, m.env2Pos) ||
                       pollMoved(f.note, m.note) || pollMoved(f.velocity, m.velocity);
  if (!changed && !force) return;
  m.env1Value = f.env1Value;
  m.env1Stage = f.env1Stage;
  m.env1Pos = f.env1Pos;
  m.env2Value = f.env2Value;
  m.env2Stage = f.env2Stage;
  m.env2Pos = f.env2Pos;
  m.note = f.note;
  m.velocity = f.velocity;
  appendFormat(out,
               " if(window.mlibSetEnvPlayhead) window.mlibSetEnvPlayhead({envValue:%.4f,envStage:%d,"
               "envPos:%.4f,env2Value:%.4f,env2Stage:%d,env2Pos:%.4f,note:%.4f,vel:%.4f});",
               double{f.env1Value}, f.env1Stage, double{f.env1Pos}, double{f.env2Value}, f.env2Stage,
               double{f.env2Pos}, double{f.note}, double{f.velocity});
}

void appendValueGroups(const GuiPollData& poll, PollSnapshot& m, bool force, std::string& out) {
  appendVoiceActivity(poll, m, force, out);
  appendLamp(poll.mtsConnected.load(kRelaxed), m.mts, force, "mlibSetMTSStatus", out);
  appendLamp(poll.limiterActive.load(kRelaxed), m.limiter, force, "mlibSetLimiterState", out);
  appendFloatCall(poll.lfo, m.lfo, force, "mlibSetLFOOutput", out);
  appendSeqSteps(poll, m, force, out);
  appendSeqState(poll, m, force, out);
  appendKitPlayhead(poll, m, force, out);
  appendFloatCall(poll.levels, m.levels, force, "mlibSetPeakLevels", out);
  appendFloatCall(poll.keyTrackOffset, m.keyTrack, force, "mlibSetKeyTrackOffset", out);
  appendFloatCall(poll.modPos, m.modPos, force, "mlibSetModPositions", out);
  appendFloatCall(poll.oscModPos, m.oscModPos, force, "mlibSetOscModPositions", out);
  appendEnvPlayhead(poll, m, force, out);
}

void appendChangedParams(std::array<std::atomic<bool>, kNumParams>& changed,
                         const std::array<std::atomic<float>, kNumParams>& values, const char* function,
                         std::string& out) {
  for (uint32_t id = 0; id < kNumParams; ++id) {
    if (!changed[id].exchange(false, std::memory_order_acq_rel)) continue;
    appendFormat(out, " if(window.%s) window.%s('%s', %f);", function, function, kParamNames[id],
                 double{shown(values[id])});
  }
}

// The label of a degree as the page shows it: its digits, slashes and full stops.
void appendLabel(std::string& out, const char (&label)[kTuningTextBytes]) {
  out += '"';
  for (int i = 0; i < kTuningTextBytes && label[i] != 0; ++i) {
    const char c = label[i];
    if ((c >= '0' && c <= '9') || c == '/' || c == '.') out += c;
  }
  out += '"';
}

std::string boundedText(const char* text, size_t capacity) {
  return std::string(text, strnlen(text, capacity));
}

void appendTuningSource(std::string& out, const TuningSnapshot& tuning) {
  if (tuning.source == TuningSnapshot::kMTS) {
    out += "'mts'";
  } else if (tuning.source == TuningSnapshot::kLocal) {
    out += "decodeURIComponent('" +
           tavrinPercentEncode("file:" + boundedText(tuning.name, kTuningNameBytes)) + "')";
  } else {
    out += "null";
  }
}

}  // namespace

const std::array<const char*, kNumParams> kParamNames = canonicalNames();

void appendFormat(std::string& out, const char* format, ...) {
  const platform::ScopedCLocale cLocale;
  char small[256];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (length >= 0 && static_cast<size_t>(length) < sizeof small) {
    out.append(small, static_cast<size_t>(length));
  } else if (length > 0) {
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(length) + 1);
    std::vsnprintf(out.data() + start, static_cast<size_t>(length) + 1, format, again);
    out.resize(start + static_cast<size_t>(length));
  }
  va_end(again);
}

bool pollMoved(float a, float b) {
  return std::fabs(a - b) > kMoveThreshold;
}

std::string tuningDataScript(const TuningSnapshot& tuning, bool withLabels) {
  if (!tuning.valid) return "try{if(window.mlibSetTuningData) window.mlibSetTuningData(null);}catch(e){}";
  const int count = std::clamp(tuning.count, 0, kMaxTuningIntervals);
  std::string out = "try{if(window.mlibSetTuningData) window.mlibSetTuningData({intervals:[";
  for (int i = 0; i < count; ++i)
    appendFormat(out, "%s%.12f", i > 0 ? "," : "", shownDouble(tuning.ratios[i]));
  if (withLabels) {
    out += "],labels:[";
    for (int i = 0; i < count; ++i) {
      if (i > 0) out += ',';
      appendLabel(out, tuning.degreeText[i]);
    }
  }
  appendFormat(out, "],period:%.12f,scaleSize:%d,name:decodeURIComponent('%s'),source:",
               shownDouble(tuning.periodRatio), tuning.keysPerPeriod,
               tavrinPercentEncode(boundedText(tuning.name, kTuningNameBytes)).c_str());
  appendTuningSource(out, tuning);
  out += "});}catch(e){}";
  return out;
}

std::string takeTuningScript(const GuiPollData& poll, uint32_t& lastTuningVersion) {
  const uint32_t version = poll.tuningVersion.load(std::memory_order_acquire);
  if (version == lastTuningVersion) return {};
  TuningSnapshot tuning{};
  std::memcpy(tuning.ratios, poll.tuningIntervals, sizeof tuning.ratios);
  std::memcpy(tuning.degreeText, poll.tuningLabels, sizeof tuning.degreeText);
  tuning.count = poll.tuningCount;
  tuning.periodRatio = poll.tuningPeriod;
  tuning.keysPerPeriod = poll.tuningScaleSize;
  std::memcpy(tuning.name, poll.tuningName, sizeof tuning.name);
  tuning.source = poll.tuningSourceKind;
  tuning.valid = poll.hasTuning;
  // A publish that finished while the fields were copied may have mixed two tunings: try again next tick.
  std::atomic_thread_fence(std::memory_order_acquire);
  if (poll.tuningVersion.load(kRelaxed) != version) return {};
  lastTuningVersion = version;
  return tuningDataScript(tuning, true);
}

std::string controllerMapScript(const ControllerMapView& controllers) {
  std::string out = "if(window.mlibSetControllerMap) window.mlibSetControllerMap({map:[";
  const char* separator = "";
  for (int cc = 0; cc < ControllerMapView::kControllers; ++cc) {
    const uint32_t param = controllers.params[static_cast<size_t>(cc)];
    if (param >= kNumParams) continue;
    appendFormat(out, "%s[%d,%u]", separator, cc, param);
    separator = ",";
  }
  appendFormat(out, "],learn:%d});", controllers.learning);
  return out;
}

PushScripts buildPushScripts(GuiPollData& poll, PushState& state, const ControllerMapView* controllers) {
  PushScripts scripts;
  const bool force = !state.primed;
  appendValueGroups(poll, state.mirror, force, scripts.batch);
  if (controllers != nullptr && (force || *controllers != state.controllers)) {
    state.controllers = *controllers;
    scripts.batch += ' ';
    scripts.batch += controllerMapScript(*controllers);
  }
  state.primed = true;
  scripts.tuning = takeTuningScript(poll, state.lastTuningVersion);
  appendChangedParams(poll.engineChanged, poll.engineValue, "mlibSetParamFromDsp", scripts.batch);
  appendChangedParams(poll.hostChanged, poll.hostValue, "mlibSetParam", scripts.batch);
  return scripts;
}
