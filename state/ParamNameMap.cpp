#include "state/ParamNameMap.h"

#include <array>
#include <cstring>

namespace {

// Every parameter has a canonical name, and every row names a parameter of the table.
constexpr bool everyParamNamed() {
  std::array<bool, kNumParams> named{};
  for (const ParamNameEntry& row : kParamNameMap) {
    if (row.id >= kNumParams) return false;
    named[row.id] = true;
  }
  for (bool n : named)
    if (!n) return false;
  return true;
}
static_assert(everyParamNamed());

}  // namespace

uint32_t tavrin_lookup_param_id(const char* name) {
  if (name == nullptr) return kUnknownParamId;
  for (const ParamNameEntry& row : kParamNameMap)
    if (std::strcmp(row.name, name) == 0) return row.id;
  return kUnknownParamId;
}

const ParamNameEntry* tavrin_param_name_map(size_t& count) {
  count = kParamNameMapSize;
  return kParamNameMap;
}
