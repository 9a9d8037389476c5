// The plug-in's parameters as the host sees them: info, values, texts, and the output events that report
// changes made inside the plug-in (edits inside gestures, engine-made changes as bare values).
#include <algorithm>
#include <limits>

#include "foundation/MLSafeValue.h"
#include "plugin/CLAPPlugin.h"
#include "plugin/ParamInfo.h"

namespace {

// An edit holds its parameter against host automation, and keeps its gesture open, for this long of
// processed audio after the last edit.
constexpr double kGestureHoldSeconds = 0.025;
// A countdown step that ends every gesture: more frames than any countdown holds.
constexpr uint32_t kEndEveryGesture = std::numeric_limits<uint32_t>::max();

void pushEvent(const clap_output_events* out, const clap_event_header& event) {
  // A full queue loses the event; the next change of the parameter reports its value again.
  if (out != nullptr && out->try_push != nullptr) out->try_push(out, &event);
}

void pushGesture(const clap_output_events* out, uint16_t type, uint32_t id) {
  clap_event_param_gesture gesture{};
  // The size covers the parameter id: a host copies events by their size.
  gesture.header = {sizeof gesture, 0, CLAP_CORE_EVENT_SPACE_ID, type, 0};
  gesture.param_id = id;
  pushEvent(out, gesture.header);
}

void pushValue(const clap_output_events* out, uint32_t id, double normalised) {
  clap_event_param_value value{};
  value.header = {sizeof value, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
  value.param_id = id;
  value.note_id = -1;
  value.port_index = -1;
  value.channel = -1;
  value.key = -1;
  value.value = normalised;
  pushEvent(out, value.header);
}

}  // namespace

bool CLAPPlugin::paramsInfo(uint32_t paramIndex, clap_param_info* info) const {
  return fillClapParamInfo(paramIndex, info);
}

bool CLAPPlugin::paramsValue(clap_id paramId, double* value) {
  if (paramId >= kNumParams || value == nullptr) return false;
  *value = normaliseParam(paramId, engine.getParam(paramId));
  return true;
}

bool CLAPPlugin::paramsValueToText(clap_id paramId, double value, char* display, uint32_t size) {
  return paramValueToText(paramId, value, lfoSyncModes(), display, size);
}

bool CLAPPlugin::paramsTextToValue(clap_id paramId, const char* display, double* value) {
  return paramTextToValue(paramId, display, lfoSyncModes(), value);
}

LfoSyncModes CLAPPlugin::lfoSyncModes() const {
  return {engine.getParam(kParamLfo1SyncMode), engine.getParam(kParamLfo2SyncMode)};
}

void CLAPPlugin::processEvents(const clap_input_events& in, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i)
    if (const clap_event_header* event = in.get(&in, i)) processEvent(*event);
}

void CLAPPlugin::paramsFlush(const clap_input_events* in, const clap_output_events* out) {
  if (in != nullptr && in->size != nullptr && in->get != nullptr) processEvents(*in, in->size(in));
  outputDirtyParams(out, isActive() ? 0 : kEndEveryGesture);
  engine.tickPostLoadRebaseGrace();
}

bool CLAPPlugin::applyEditorEdit(uint32_t id, double normalised) {
  if (id >= kNumParams) return false;
  engine.setParam(id, clapDenormParam(id, normalised));
  // While the editor restores its view, its values are not edits to fold into the morph poles.
  if (!engine.uiRestoringActive()) engine.rebaseParamEdit(id);
  // The countdown goes first, so a scan that sees the flag also sees its countdown.
  gestureCountdown[id].store(ml::saturateToInt32(sampleRate * kGestureHoldSeconds + 0.5),
                             std::memory_order_release);
  raiseParamFlag(editDirty[id]);
  if (_hostProxy.canUseParams()) _hostProxy.paramsRequestFlush();
  return true;
}

void CLAPPlugin::raiseParamFlag(std::atomic<bool>& flag) {
  // The flag goes first, so a report that takes paramsToReport also sees the flag.
  flag.store(true, std::memory_order_release);
  paramsToReport.store(true, std::memory_order_release);
}

void CLAPPlugin::outputDirtyParams(const clap_output_events* out, uint32_t frames) {
  constexpr auto acqRel = std::memory_order_acq_rel;
  constexpr auto relaxed = std::memory_order_relaxed;
  if (!takeRaisedFlag(paramsToReport) && openGestures == 0) return;
  for (uint32_t id = 0; id < kNumParams; ++id) {
    // Read after the flag's exchange, so the value is at least as new as the change that raised it.
    const auto sendValue = [&] { pushValue(out, id, normaliseParam(id, engine.getParam(id))); };

    // A relaxed look first: a flag that is down costs no locked exchange, and a raise it misses now is
    // taken at the next call.
    if (editDirty[id].load(relaxed) && editDirty[id].exchange(false, acqRel)) {
      if (!gestureActive[id]) {
        gestureActive[id] = true;
        ++openGestures;
        pushGesture(out, CLAP_EVENT_PARAM_GESTURE_BEGIN, id);
      }
      sendValue();
    }
    if (valueDirty[id].load(relaxed) && valueDirty[id].exchange(false, acqRel)) sendValue();

    int32_t countdown = gestureCountdown[id].load(relaxed);
    if (countdown > 0) {
      const auto left = static_cast<int32_t>(std::max<int64_t>(0, int64_t{countdown} - int64_t{frames}));
      // An edit that re-armed the countdown meanwhile keeps its full hold.
      if (gestureCountdown[id].compare_exchange_strong(countdown, left, relaxed)) countdown = left;
    }
    if (countdown == 0 && gestureActive[id]) {
      gestureActive[id] = false;
      --openGestures;
      pushGesture(out, CLAP_EVENT_PARAM_GESTURE_END, id);
    }
  }
}
