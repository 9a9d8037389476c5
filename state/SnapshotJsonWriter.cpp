#include <algorithm>
#include <array>
#include <optional>

#include "engine/ParamTable.h"
#include "state/ClassicJson.h"
#include "state/ParamNameMap.h"
#include "state/SnapshotJson.h"

namespace {

// Normalised values are (value - min) / (max - min): every range must be positive.
constexpr bool everyRangePositive() {
  for (const ParamInfo& row : kParams)
    if (!(row.max > row.min)) return false;
  return true;
}
static_assert(everyRangePositive());

bool addNumber(cJSON* object, const char* key, double value) {
  return cJSON_AddNumberToObject(object, key, value) != nullptr;
}

// The captured parameters under their canonical names: the first row of each id in the map.
bool addParams(cJSON* object, const ParamSnapshot& s) {
  std::array<bool, kNumParams> named{};
  for (const ParamNameEntry& row : kParamNameMap) {
    if (named[row.id]) continue;
    named[row.id] = true;
    if (s.has[row.id] && !addNumber(object, row.name, normaliseParam(row.id, s.value[row.id]))) return false;
  }
  return true;
}

bool addToArray(cJSON* array, double value) {
  JsonTree item(cJSON_CreateNumber(value));
  if (item == nullptr || !cJSON_AddItemToArray(array, item.get())) return false;
  item.release();
  return true;
}

bool addLane(cJSON* object, const ParamSnapshot& s, int lane) {
  if (!s.seqLaneCaptured[lane]) return true;
  cJSON* steps = cJSON_AddArrayToObject(object, kSnapshotLaneKeys[lane].steps);
  cJSON* ties = cJSON_AddArrayToObject(object, kSnapshotLaneKeys[lane].ties);
  if (steps == nullptr || ties == nullptr) return false;
  const uint32_t count = std::min<uint32_t>(s.seqStepCount[lane], ParamSnapshot::kSeqMorphSteps);
  for (uint32_t i = 0; i < count; ++i) {
    if (!addToArray(steps, s.seqSteps[lane][i]) || !addToArray(ties, s.seqTies[lane][i] != 0 ? 1 : 0))
      return false;
  }
  return true;
}

// A setting whose absent value is negative, added only when present (a NaN counts as absent).
bool addWhenPresent(cJSON* object, const char* key, double value) {
  return !(value >= 0.0) || addNumber(object, key, value);
}

bool addSettings(cJSON* object, const ParamSnapshot& s) {
  if (!addNumber(object, kSnapshotKeySeq1Target, s.seq1Target) ||
      !addWhenPresent(object, kSnapshotKeyLockA, s.lockA) ||
      !addWhenPresent(object, kSnapshotKeyLockB, s.lockB))
    return false;
  for (int lane = 0; lane < ParamSnapshot::kSeqLanes; ++lane) {
    const SnapshotLaneKeys& keys = kSnapshotLaneKeys[lane];
    if (!addWhenPresent(object, keys.rate, s.seqRate[lane]) ||
        !addWhenPresent(object, keys.run, s.seqRun[lane]) ||
        !addWhenPresent(object, keys.div, s.seqDiv[lane]))
      return false;
  }
  return addNumber(object, kSnapshotKeyCaptureSeq, static_cast<double>(s.captureSeq));
}

}  // namespace

JsonTree snapshotToJsonObject(const ParamSnapshot& s) {
  JsonTree object(cJSON_CreateObject());
  if (object == nullptr) return nullptr;
  bool made = addParams(object.get(), s);
  for (int lane = 0; made && lane < ParamSnapshot::kSeqLanes; ++lane) made = addLane(object.get(), s, lane);
  if (made && addSettings(object.get(), s)) return object;
  return nullptr;
}

std::string tavrin_slot_params_to_json(const ParamSnapshot& s) {
  const JsonTree object(cJSON_CreateObject());
  std::optional<std::string> text;
  if (object != nullptr && addParams(object.get(), s)) text = classicJsonPrintUnformatted(object.get());
  return text.value_or("{}");
}
