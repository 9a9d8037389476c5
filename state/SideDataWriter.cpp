#include <cstring>
#include <memory>
#include <optional>

#include "foundation/MLSafeValue.h"
#include "state/ClassicJson.h"
#include "state/SideData.h"
#include "state/SnapshotJson.h"

namespace {

constexpr const char* kSnapshotKeys[2] = {"snapshotADsp", "snapshotBDsp"};
constexpr const char* kLaneKeys[2] = {"lane0", "lane1"};

// What the merge reads under the lock.
struct SideDataInputs {
  std::string filename;
  std::string source;
  std::string json;
  bool hasTuning = false;
  LocalTuning tuning{};
  bool hasPole[2] = {false, false};
  ParamSnapshot pole[2];
};

void takeInputs(PluginProcessor& engine, TavrinStateSidecar& sidecar, std::mutex& lock, SideDataInputs& in) {
  std::lock_guard guard(lock);
  in.filename = sidecar.filename;
  in.source = sidecar.source;
  in.json = sidecar.json;
  in.hasTuning = engine.getLocalTuningCopy(in.tuning);
  engine.drainRebaseToStaging();
  for (int i = 0; i < 2; ++i) in.hasPole[i] = engine.getSnapshotCopy(i, in.pole[i]);
}

cJSON* liveLaneObject(const PluginProcessor& engine, int lane) {
  float steps[PluginProcessor::kSeqSteps] = {};
  unsigned char ties[PluginProcessor::kSeqSteps] = {};
  const int count = engine.getSeqStepsCopy(lane, steps, PluginProcessor::kSeqSteps);
  engine.getSeqTiesCopy(lane, ties, PluginProcessor::kSeqSteps);
  cJSON* object = cJSON_CreateObject();
  cJSON* stepArray = cJSON_CreateArray();
  cJSON* tieArray = cJSON_CreateArray();
  for (int i = 0; i < count; ++i) {
    cJSON_AddItemToArray(stepArray, cJSON_CreateNumber(steps[i]));
    cJSON_AddItemToArray(tieArray, cJSON_CreateNumber(ties[i] != 0 ? 1 : 0));
  }
  cJSON_AddItemToObject(object, "editBroke", cJSON_CreateBool(engine.seqLaneEditBroke(lane)));
  cJSON_AddItemToObject(object, "steps", stepArray);
  cJSON_AddItemToObject(object, "ties", tieArray);
  return object;
}

// Removes every member of key: a text may hold a key twice, and a copy left behind would be read on the
// next load.
void jsonDeleteAll(cJSON* object, const char* key) {
  while (cJSON_GetObjectItemCaseSensitive(object, key) != nullptr)
    cJSON_DeleteItemFromObjectCaseSensitive(object, key);
}

void mergeNativeKeys(cJSON* root, const PluginProcessor& engine, const TavrinStateSidecar& sidecar,
                     const SideDataInputs& in) {
  jsonPut(root, "windowWidth", cJSON_CreateNumber(sidecar.windowWidth));
  jsonPut(root, "windowHeight", cJSON_CreateNumber(sidecar.windowHeight));
  jsonPut(root, "tuningFile", cJSON_CreateString(in.filename.c_str()));
  if (in.hasTuning)
    jsonPut(root, "localTuning", localTuningObject(in.tuning, in.filename, in.source));
  else
    jsonDeleteAll(root, "localTuning");
  for (int i = 0; i < 2; ++i) {
    if (in.hasPole[i])
      jsonPut(root, kSnapshotKeys[i], snapshotToJsonObject(in.pole[i]).release());
    else
      jsonDeleteAll(root, kSnapshotKeys[i]);
  }
  if (in.hasPole[0] || in.hasPole[1]) jsonPut(root, "morphAuthority", cJSON_CreateNumber(1));
  if (engine.envFeelModern())
    jsonPut(root, "envFeel", cJSON_CreateNumber(2));
  else
    jsonDeleteAll(root, "envFeel");
  jsonPut(root, "filterLockA", cJSON_CreateBool(engine.filterLocked(0)));
  jsonPut(root, "filterLockB", cJSON_CreateBool(engine.filterLocked(1)));
  cJSON* live = cJSON_CreateObject();
  for (int lane = 0; lane < 2; ++lane)
    cJSON_AddItemToObject(live, kLaneKeys[lane], liveLaneObject(engine, lane));
  jsonPut(root, "seqLive", live);
}

}  // namespace

int32_t jsonInt(const cJSON* number) {
  return ml::saturateToInt32(number->valuedouble);
}

void jsonPut(cJSON* object, const char* key, cJSON* item) {
  if (item == nullptr) return;
  if (cJSON_GetObjectItemCaseSensitive(object, key) == nullptr) {
    cJSON_AddItemToObject(object, key, item);
    return;
  }
  cJSON_ReplaceItemInObjectCaseSensitive(object, key, item);
  for (cJSON* member = item->next; member != nullptr;) {
    cJSON* next = member->next;
    if (member->string != nullptr && std::strcmp(member->string, key) == 0)
      JsonTree(cJSON_DetachItemViaPointer(object, member));
    member = next;
  }
}

JsonTree parseJsonObject(const std::string& text) {
  // The length counts the terminating NUL, which the parser then requires after the value.
  JsonTree root(cJSON_ParseWithLengthOpts(text.c_str(), text.size() + 1, nullptr, true));
  if (!cJSON_IsObject(root.get())) return nullptr;
  return root;
}

std::string mergeSideData(PluginProcessor& engine, TavrinStateSidecar& sidecar, std::mutex& lock) {
  auto in = std::make_unique<SideDataInputs>();
  takeInputs(engine, sidecar, lock, *in);
  const std::string starting = in->json;
  std::string text = in->json;
  JsonTree root = parseJsonObject(in->json);
  // Keys the writer does not own keep their text as it was read, so a save after a load is byte-stable.
  if (root != nullptr) keepMemberTexts(root.get(), in->json);
  if (root == nullptr) root.reset(cJSON_CreateObject());
  if (root != nullptr) {
    mergeNativeKeys(root.get(), engine, sidecar, *in);
    if (std::optional<std::string> printed = classicJsonPrintUnformatted(root.get()))
      text = std::move(*printed);
  }
  std::lock_guard guard(lock);
  if (sidecar.json == starting) sidecar.json = text;
  return text;
}
