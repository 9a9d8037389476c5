#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "engine/ParamTable.h"
#include "foundation/MLSafeValue.h"
#include "state/ParamNameMap.h"
#include "state/SnapshotJson.h"

namespace {

// The member named exactly key when it holds a number; null otherwise.
const cJSON* numberItem(const cJSON* object, const char* key) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, key);
  return cJSON_IsNumber(item) ? item : nullptr;
}

// Every member naming a parameter with a number value, in document order; answers how many there were.
int readParams(const cJSON* root, ParamSnapshot& s) {
  int found = 0;
  for (const cJSON* member = root->child; member != nullptr; member = member->next) {
    const uint32_t id = tavrin_lookup_param_id(member->string);
    if (id >= kNumParams || !cJSON_IsNumber(member)) continue;
    s.value[id] = clapDenormParam(id, member->valuedouble);
    s.has[id] = true;
    ++found;
  }
  return found;
}

// A lane is read only when its steps are an array of at least one item; ties past their array's end stay
// untied.
void readLane(const cJSON* root, ParamSnapshot& s, int lane) {
  const cJSON* steps = cJSON_GetObjectItemCaseSensitive(root, kSnapshotLaneKeys[lane].steps);
  const int items = cJSON_IsArray(steps) ? cJSON_GetArraySize(steps) : 0;
  if (items < 1) return;
  const uint32_t count = std::min<uint32_t>(static_cast<uint32_t>(items), ParamSnapshot::kSeqMorphSteps);
  const cJSON* step = steps->child;
  for (uint32_t i = 0; i < count; ++i, step = step->next)
    s.seqSteps[lane][i] =
        cJSON_IsNumber(step) ? static_cast<float>(ml::safeClamp(step->valuedouble, 0.0, 1.0)) : 0.0f;

  const cJSON* ties = cJSON_GetObjectItemCaseSensitive(root, kSnapshotLaneKeys[lane].ties);
  const cJSON* tie = cJSON_IsArray(ties) ? ties->child : nullptr;
  for (uint32_t i = 0; i < count && tie != nullptr; ++i, tie = tie->next)
    s.seqTies[lane][i] = cJSON_IsNumber(tie) && tie->valuedouble != 0.0 ? 1 : 0;
  s.seqStepCount[lane] = count;
  s.seqLaneCaptured[lane] = true;
}

int32_t truncated(const cJSON* number) {
  return ml::saturateToInt32(number->valuedouble);
}

// A rate that a float cannot hold counts as absent.
float rateOf(const cJSON* number) {
  const double rate = number->valuedouble;
  return std::fabs(rate) <= FLT_MAX ? static_cast<float>(rate) : -1.0f;
}

uint64_t captureSeqOf(const cJSON* number) {
  const double seq = number->valuedouble;
  if (!(seq > 0.0)) return 0;
  return seq >= 18446744073709551616.0 ? UINT64_MAX : static_cast<uint64_t>(seq);
}

void readSettings(const cJSON* root, ParamSnapshot& s, bool* seqPresent) {
  if (const cJSON* target = numberItem(root, kSnapshotKeySeq1Target))
    s.seq1Target = static_cast<uint32_t>(
        std::clamp<int64_t>(ml::saturateToInt64(target->valuedouble), 0, ParamSnapshot::kMaxSeq1Target));
  if (const cJSON* lock = numberItem(root, kSnapshotKeyLockA)) s.lockA = truncated(lock);
  if (const cJSON* lock = numberItem(root, kSnapshotKeyLockB)) s.lockB = truncated(lock);
  for (int lane = 0; lane < ParamSnapshot::kSeqLanes; ++lane) {
    const SnapshotLaneKeys& keys = kSnapshotLaneKeys[lane];
    if (const cJSON* rate = numberItem(root, keys.rate)) s.seqRate[lane] = rateOf(rate);
    if (const cJSON* run = numberItem(root, keys.run)) s.seqRun[lane] = truncated(run);
    if (const cJSON* div = numberItem(root, keys.div)) s.seqDiv[lane] = truncated(div);
  }
  if (const cJSON* seq = numberItem(root, kSnapshotKeyCaptureSeq)) {
    s.captureSeq = captureSeqOf(seq);
    if (seqPresent != nullptr) *seqPresent = true;
  }
}

}  // namespace

bool tavrin_parse_snapshot_json(const char* text, ParamSnapshot& out, bool* seqPresent) {
  out.clear();
  if (text == nullptr) return false;
  const size_t length = strnlen(text, kMaxSnapshotJsonBytes + 1);
  if (length == 0 || length > kMaxSnapshotJsonBytes) return false;
  // The whole text must be the one JSON value: trailing bytes other than white space refuse it.
  const JsonTree root(cJSON_ParseWithOpts(text, nullptr, true));
  if (!cJSON_IsObject(root.get())) return false;
  const int found = readParams(root.get(), out);
  if (found > 0) completeSnapshotDefaults(out);
  for (int lane = 0; lane < ParamSnapshot::kSeqLanes; ++lane) readLane(root.get(), out, lane);
  readSettings(root.get(), out, seqPresent);
  out.valid = found > 0;
  return out.valid;
}
