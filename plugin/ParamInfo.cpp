#include "plugin/ParamInfo.h"

#include <cstring>

#include "engine/ParamTable.h"

namespace {

bool isHiddenParam(uint32_t id) {
  return (id >= kParamAnalog && id <= kParamPitchModRange) ||
         (id >= kParamFoldCharModStart && id <= kParamFoldCharModSource);
}

bool isSteppedParam(uint32_t id) {
  switch (id) {
    case kParamLfo1Slew:
    case kParamLfo2Slew:
    case kParamEnvModel:
    case kParamEnv1TempoSync:
    case kParamEnv2TempoSync:
      return true;
    default:
      return false;
  }
}

// Copies text into a fixed field, truncated to the field and always terminated.
template <size_t N>
void copyField(char (&field)[N], const char* text) {
  std::strncpy(field, text, N - 1);
  field[N - 1] = '\0';
}

}  // namespace

uint32_t paramClapFlags(uint32_t id) {
  if (id >= kNumParams) return 0;
  uint32_t flags = CLAP_PARAM_IS_AUTOMATABLE;
  if (isHiddenParam(id)) flags |= CLAP_PARAM_IS_HIDDEN;
  if (isSteppedParam(id)) flags |= CLAP_PARAM_IS_STEPPED;
  return flags;
}

bool fillClapParamInfo(uint32_t index, clap_param_info_t* info) {
  if (index >= kNumParams || info == nullptr) return false;
  const ParamInfo& row = kParams[index];
  info->id = row.id;
  info->flags = paramClapFlags(row.id);
  info->cookie = nullptr;
  copyField(info->name, row.name);
  copyField(info->module, "");
  info->min_value = 0.0;
  info->max_value = 1.0;
  info->default_value = normaliseParam(row.id, row.def);
  return true;
}
