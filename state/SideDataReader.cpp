// Applying the side data of a loaded state to the engine.
#include <algorithm>
#include <array>
#include <cfloat>
#include <memory>
#include <optional>

#include "state/ClassicJson.h"
#include "state/SideData.h"
#include "state/SnapshotJson.h"
#include "state/SnapshotMigration.h"

namespace {

constexpr int kLiveLanes = 2;
constexpr const char* kLiveLaneKeys[kLiveLanes] = {"lane0", "lane1"};
constexpr int kMaxSelectedDegrees = 8;
static_assert(kMaxSelectedDegrees <= PluginProcessor::kMaxRatioSelection);

// An item's number as a float, held inside the float range (non-numbers read as 0).
float jsonFloat(const cJSON* item) {
  return static_cast<float>(std::clamp(item->valuedouble, -double(FLT_MAX), double(FLT_MAX)));
}

void applyWindowSize(const cJSON* root, TavrinStateSidecar& sidecar) {
  const cJSON* width = jsonMember(root, "windowWidth");
  const cJSON* height = jsonMember(root, "windowHeight");
  if (!cJSON_IsNumber(width) || !cJSON_IsNumber(height)) return;
  if (jsonInt(width) <= 0 || jsonInt(height) <= 0) return;
  sidecar.windowWidth = jsonInt(width);
  sidecar.windowHeight = jsonInt(height);
}

void applyLocks(const cJSON* root, PluginProcessor& engine) {
  if (const cJSON* item = jsonMember(root, "ratioLocked")) engine.setRatioLocked(cJSON_IsTrue(item));
  if (const cJSON* item = jsonMember(root, "filterLockA")) engine.setFilterLocked(0, cJSON_IsTrue(item));
  if (const cJSON* item = jsonMember(root, "filterLockB")) engine.setFilterLocked(1, cJSON_IsTrue(item));
  if (const cJSON* item = jsonMember(root, "glideMode")) {
    const bool smooth = (cJSON_IsString(item) && std::string_view(item->valuestring) == "smooth") ||
                        (cJSON_IsNumber(item) && item->valuedouble > 0.5);
    engine.setGlideSmooth(smooth);
  }
}

// Degrees from [degree, ...] items, each taken once, at most eight.
void applySelectedDegrees(const cJSON* root, PluginProcessor& engine) {
  const cJSON* list = jsonMember(root, "selectedDegrees");
  if (!cJSON_IsArray(list)) return;
  std::array<int, kMaxSelectedDegrees> degrees{};
  const std::array<int, kMaxSelectedDegrees> octaves{};
  int count = 0;
  for (const cJSON* item = list->child; item != nullptr && count < kMaxSelectedDegrees; item = item->next) {
    if (!cJSON_IsArray(item) || !cJSON_IsNumber(item->child)) continue;
    const int degree = jsonInt(item->child);
    if (std::find(degrees.begin(), degrees.begin() + count, degree) == degrees.begin() + count)
      degrees[count++] = degree;
  }
  engine.setRatioSelection(degrees.data(), octaves.data(), count);
}

// Step values of an array, at most eight, as floats; answers how many.
int readSteps(const cJSON* array, int limit, float (&steps)[PluginProcessor::kSeqSteps]) {
  int n = 0;
  for (const cJSON* item = array->child; item != nullptr && n < limit; item = item->next)
    steps[n++] = jsonFloat(item);
  return n;
}

// Ties as the page writes them (true/false) or as numbers (non-zero ties).
void applyTies(const cJSON* array, PluginProcessor& engine, int lane) {
  if (!cJSON_IsArray(array)) return;
  unsigned char ties[PluginProcessor::kSeqSteps] = {};
  int n = 0;
  for (const cJSON* item = array->child; item != nullptr && n < PluginProcessor::kSeqSteps; item = item->next)
    ties[n++] = cJSON_IsTrue(item) || (cJSON_IsNumber(item) && jsonInt(item) != 0) ? 1 : 0;
  engine.setSeqTies(lane, ties, n);
}

// The lane settings the editor keeps: "ratioSeq" for lane 0, "seqLane1" for lane 1.
void applyLaneSettings(const cJSON* object, PluginProcessor& engine, int lane) {
  if (object == nullptr) return;
  if (const cJSON* item = jsonMember(object, "enabled")) engine.setSeqEnabled(lane, cJSON_IsTrue(item));
  if (lane == 0) {
    const cJSON* mode = jsonMember(object, "mode");
    engine.setSeqRatioAbsolute(cJSON_IsString(mode) && std::string_view(mode->valuestring) == "absolute");
    engine.setSeqRatioRankEncoded(cJSON_IsTrue(jsonMember(object, "rankEncoded")));
  }
  if (const cJSON* item = jsonMember(object, "runMode")) engine.setSeqRunMode(lane, jsonInt(item));
  if (const cJSON* item = jsonMember(object, "freeRate")) {
    const float hz = jsonFloat(item);
    engine.setSeqFreeRate(lane, hz);
    engine.setSeqRateCommitted(lane, hz);
  }
  if (const cJSON* item = jsonMember(object, "syncDiv")) engine.setSeqSyncDiv(lane, jsonInt(item));
  if (lane == 1)
    if (const cJSON* item = jsonMember(object, "target")) engine.setSeqTarget(lane, jsonInt(item));
  const cJSON* steps = jsonMember(object, "steps");
  const cJSON* stepCount = jsonMember(object, "stepCount");
  if (steps != nullptr && stepCount != nullptr) {
    float values[PluginProcessor::kSeqSteps] = {};
    const int n = std::clamp(jsonInt(stepCount), 0, PluginProcessor::kSeqSteps);
    readSteps(steps, n, values);
    engine.setSeqSteps(lane, values, n);
  }
  applyTies(jsonMember(object, "ties"), engine, lane);
}

// One pole's snapshot object read back through its text, repaired when the stream is old.
bool readPole(const cJSON* item, uint32_t streamVersion, ParamSnapshot& out) {
  if (!cJSON_IsObject(item)) return false;
  const std::optional<std::string> text = classicJsonPrintUnformatted(item);
  if (!text || !tavrin_parse_snapshot_json(text->c_str(), out, nullptr)) return false;
  if (streamNeedsMigration(streamVersion)) migratePluckSnapshot(out);
  return true;
}

void applyPoles(const cJSON* root, PluginProcessor& engine, std::mutex& lock, uint32_t streamVersion) {
  auto poles = std::make_unique<std::array<ParamSnapshot, 2>>();
  const bool readA = readPole(jsonMember(root, "snapshotADsp"), streamVersion, (*poles)[0]);
  const bool readB = readPole(jsonMember(root, "snapshotBDsp"), streamVersion, (*poles)[1]);
  const cJSON* authority = jsonMember(root, "morphAuthority");
  if (readA && readB && !(cJSON_IsNumber(authority) && authority->valuedouble >= 1.0))
    healSnapshotPair((*poles)[0], (*poles)[1], engine);
  const cJSON* envFeel = jsonMember(root, "envFeel");
  engine.setEnvFeelModern(cJSON_IsNumber(envFeel) && envFeel->valuedouble >= 2.0);
  std::lock_guard guard(lock);
  if (readA) engine.setSnapshot(0, (*poles)[0]);
  if (readB) engine.setSnapshot(1, (*poles)[1]);
}

// The live lanes' steps and ties, then their edit-broke flags (the step writes raise them).
void applyLiveLanes(const cJSON* root, PluginProcessor& engine) {
  const cJSON* live = jsonMember(root, "seqLive");
  if (!cJSON_IsObject(live)) return;
  bool broke[kLiveLanes] = {false, false};
  for (int lane = 0; lane < kLiveLanes; ++lane) {
    const cJSON* object = jsonMember(live, kLiveLaneKeys[lane]);
    if (!cJSON_IsObject(object)) continue;
    broke[lane] = cJSON_IsTrue(jsonMember(object, "editBroke"));
    if (const cJSON* steps = jsonMember(object, "steps"); cJSON_IsArray(steps)) {
      float values[PluginProcessor::kSeqSteps] = {};
      engine.setSeqSteps(lane, values, readSteps(steps, PluginProcessor::kSeqSteps, values));
    }
    applyTies(jsonMember(object, "ties"), engine, lane);
  }
  engine.stageSeqLatchRestore(broke[0], broke[1]);
  for (int lane = 0; lane < kLiveLanes; ++lane) engine.setSeqLaneEditBroke(lane, broke[lane]);
}

}  // namespace

void applySideData(PluginProcessor& engine, TavrinStateSidecar& sidecar, std::mutex& lock,
                   uint32_t streamVersion) {
  std::string text;
  {
    std::lock_guard guard(lock);
    text = sidecar.json;
  }
  if (text.empty()) return;
  const JsonTree tree = parseJsonObject(text);
  const cJSON* root = tree.get();
  if (root == nullptr) return;
  applyWindowSize(root, sidecar);
  if (!applyLocalTuningKey(root, engine, sidecar, lock)) applyTuningFileKey(root, engine, sidecar, lock);
  applyLocks(root, engine);
  applySelectedDegrees(root, engine);
  applyLaneSettings(jsonMember(root, "ratioSeq"), engine, 0);
  applyLaneSettings(jsonMember(root, "seqLane1"), engine, 1);
  applyPoles(root, engine, lock, streamVersion);
  applyLiveLanes(root, engine);
}
