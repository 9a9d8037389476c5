// The set-value callback: the editor's control keys, tested in a fixed order, then parameter edits by name.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "editor/EditorSync.h"
#include "foundation/MLSafeValue.h"
#include "plugin/CLAPPlugin.h"
#include "plugin/EditorCallbacks.h"
#include "state/ParamNameMap.h"

namespace {

constexpr int kControlLanes = 3;
constexpr int kTiedLanes = 2;  // lanes whose settings the morph poles keep

bool on(double value) {
  return value > 0.5;
}

int toInt(double value) {
  return ml::saturateToInt32(value);
}

float toFloat(double value) {
  return static_cast<float>(std::clamp(value, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
}

// The integer at the start of text as atoi reads it (0 without digits), saturated to int.
int indexIn(const char* text) {
  const long long n = std::strtoll(text, nullptr, 10);
  return static_cast<int>(std::clamp<long long>(n, INT32_MIN, INT32_MAX));
}

// The lane digit right after a prefix, or -1 when it is not 0..2.
int laneIn(const char* text) {
  const int lane = text[0] - '0';
  return lane >= 0 && lane < kControlLanes ? lane : -1;
}

// One control key: an exact name or a prefix, and what it does with the rest of the name and the value.
struct ControlKey {
  const char* key;
  bool prefix;
  void (*apply)(CLAPPlugin& plugin, const char* rest, double value);
};

void underStateLock(CLAPPlugin& plugin, auto&& body) {
  std::lock_guard<std::mutex> lock(plugin.stateMutex);
  body(plugin.engine);
}

// Answers the page with a kit slot's sound, so it can show and edit it.
void replyArmedSlot(CLAPPlugin& plugin, int slot) {
  ParamSnapshot snapshot;
  int note = 0;
  bool present = false;
  float gain = 1.0f;
  float pan = 0.0f;
  {
    std::lock_guard<std::mutex> lock(plugin.stateMutex);
    if (!plugin.engine.getSlotCopy(slot, snapshot, note, present)) return;
    if (!plugin.engine.getSlotGainPan(slot, gain, pan)) {
      gain = 1.0f;
      pan = 0.0f;
    }
  }
  if (present && plugin.editor)
    plugin.editor->evaluateJS(loadSlotScript(slot, snapshot, note, gain, pan).c_str());
}

// Applies a lane key when the digit after the prefix names lane 0..2.
template <auto Body>
void forLane(CLAPPlugin& plugin, const char* rest, double value) {
  const int lane = laneIn(rest);
  if (lane >= 0) Body(plugin.engine, lane, value);
}

void setTriggerKey(CLAPPlugin& plugin, const char* rest, double value) {
  const int key = toInt(value);
  if (rest[0] == 0) {
    for (int lane = 0; lane < kControlLanes; ++lane) plugin.engine.setSeqTriggerKey(lane, key);
  } else if (rest[0] == '_' && laneIn(rest + 1) >= 0) {
    plugin.engine.setSeqTriggerKey(laneIn(rest + 1), key);
  }
}

void setFreeRate(PluginProcessor& engine, int lane, double value) {
  if (lane < kTiedLanes) {
    engine.setSeqRateCommitted(lane, toFloat(value));
    engine.rebaseParamEdit(kRebaseKeySeqRate + static_cast<uint32_t>(lane));
  } else {
    engine.setSeqFreeRate(lane, toFloat(value));
  }
}

void setRunMode(PluginProcessor& engine, int lane, double value) {
  engine.setSeqRunMode(lane, toInt(value));
  if (lane < kTiedLanes) engine.rebaseParamEdit(kRebaseKeySeqRun + static_cast<uint32_t>(lane));
}

void setSyncDiv(PluginProcessor& engine, int lane, double value) {
  engine.setSeqSyncDiv(lane, toInt(value));
  if (lane < kTiedLanes) engine.rebaseParamEdit(kRebaseKeySeqDiv + static_cast<uint32_t>(lane));
}

void setFilterLock(PluginProcessor& engine, int filter, double value) {
  engine.setFilterLocked(filter, on(value));
  engine.rebaseParamEdit(filter == 0 ? kRebaseKeyLockA : kRebaseKeyLockB);
}

// In the order they are tested; the first key that matches handles the message.
constexpr ControlKey kControlKeys[] = {
    {"__uiRestoring", false, [](CLAPPlugin& p, const char*, double v) { p.engine.setUIRestoring(on(v)); }},
    {"__ratioLock", false, [](CLAPPlugin& p, const char*, double v) { p.engine.setRatioLocked(on(v)); }},
    {"__glideMode", false, [](CLAPPlugin& p, const char*, double v) { p.engine.setGlideSmooth(on(v)); }},
    {"__envFeel", false, [](CLAPPlugin& p, const char*, double v) { p.engine.setEnvFeelModern(v >= 1.5); }},
    {"__afxMode", false, [](CLAPPlugin& p, const char*, double v) { p.engine.setAfxMode(on(v)); }},
    {"__afxBaseKey", false,
     [](CLAPPlugin& p, const char*, double v) { p.engine.setAfxBaseKey(toInt(v + 0.5)); }},
    {"__slotNote_", true,
     [](CLAPPlugin& p, const char* rest, double v) {
       underStateLock(p, [&](PluginProcessor& e) { e.setSlotNote(indexIn(rest), toInt(v + 0.5)); });
     }},
    {"__slotGain_", true,
     [](CLAPPlugin& p, const char* rest, double v) {
       underStateLock(p, [&](PluginProcessor& e) { e.setSlotGain(indexIn(rest), toFloat(v)); });
     }},
    {"__slotPan_", true,  // the page keeps pan as 0..1
     [](CLAPPlugin& p, const char* rest, double v) {
       underStateLock(p, [&](PluginProcessor& e) { e.setSlotPan(indexIn(rest), toFloat(v * 2.0 - 1.0)); });
     }},
    {"__auditionSlot_", true,
     [](CLAPPlugin& p, const char* rest, double) { p.engine.auditionSlot(indexIn(rest)); }},
    {"__armSlot_", true, [](CLAPPlugin& p, const char* rest, double) { replyArmedSlot(p, indexIn(rest)); }},
    {"__seqRatioMode", false,
     [](CLAPPlugin& p, const char*, double v) { p.engine.setSeqRatioAbsolute(on(v)); }},
    {"__seqRankEncoded", false,
     [](CLAPPlugin& p, const char*, double v) { p.engine.setSeqRatioRankEncoded(on(v)); }},
    {"__loadEpoch", false, [](CLAPPlugin& p, const char*, double) { p.engine.bumpSnapEpoch(); }},
    {"__filterLockA", false, [](CLAPPlugin& p, const char*, double v) { setFilterLock(p.engine, 0, v); }},
    {"__filterLockB", false, [](CLAPPlugin& p, const char*, double v) { setFilterLock(p.engine, 1, v); }},
    {"__seqEnabled_", true,
     forLane<[](PluginProcessor& e, int lane, double v) { e.setSeqEnabled(lane, on(v)); }>},
    {"__seqTarget_1", false,
     [](CLAPPlugin& p, const char*, double v) { p.engine.setSeqTarget(1, toInt(v)); }},
    {"__seqTriggerKey", true, setTriggerKey},
    {"__seqDelay_", true,  // a new division, the multiplier kept
     forLane<[](PluginProcessor& e, int lane, double v) {
       e.setSeqDelay(lane, toFloat(v), e.getSeqDelayMul(lane));
     }>},
    {"__seqDelayMul_", true,  // a new multiplier, the division kept
     forLane<[](PluginProcessor& e, int lane, double v) {
       e.setSeqDelay(lane, e.getSeqDelayDiv(lane), toInt(v));
     }>},
    {"__seqRunMode_", true, forLane<setRunMode>},
    {"__seqFreeRate_", true, forLane<setFreeRate>},
    {"__seqSyncDiv_", true, forLane<setSyncDiv>},
    {"__ccLearn", false,
     [](CLAPPlugin& p, const char*, double v) {
       p.ccLearnParam.store(toInt(v * kNumParams), std::memory_order_relaxed);
       p.ccLearnArmed.store(true, std::memory_order_relaxed);
     }},
    {"__ccLearnCancel", false,
     [](CLAPPlugin& p, const char*, double) {
       p.ccLearnArmed.store(false, std::memory_order_relaxed);
       p.ccLearnParam.store(-1, std::memory_order_relaxed);
     }},
};

const ControlKey* findControlKey(const char* name) {
  for (const ControlKey& row : kControlKeys) {
    const size_t length = std::strlen(row.key);
    if (row.prefix ? std::strncmp(name, row.key, length) == 0 : std::strcmp(name, row.key) == 0) return &row;
  }
  return nullptr;
}

}  // namespace

void editorSetValue(CLAPPlugin& plugin, const char* name, double value) {
  if (name == nullptr) return;
  if (std::strcmp(name, "__ready") == 0) {
    plugin.answerEditorReady();
    return;
  }
  // A value that is not finite is a fault of the page: it changes nothing.
  if (!std::isfinite(value)) return;
  if (const ControlKey* key = findControlKey(name)) {
    key->apply(plugin, name + std::strlen(key->key), value);
    return;
  }
  plugin.applyEditorEdit(tavrin_lookup_param_id(name), value);
}
