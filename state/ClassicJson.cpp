#include "state/ClassicJson.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>

#include "platform/CLocale.h"

namespace {

// A copy of item in which every number is a raw item holding its classic text; null when out of memory.
cJSON* classicCopy(const cJSON* item) {
  if (cJSON_IsNumber(item)) return cJSON_CreateRaw(classicJsonNumberText(item->valuedouble).c_str());
  if (!cJSON_IsArray(item) && !cJSON_IsObject(item)) return cJSON_Duplicate(item, false);
  cJSON* copy = cJSON_IsArray(item) ? cJSON_CreateArray() : cJSON_CreateObject();
  if (copy == nullptr) return nullptr;
  for (const cJSON* child = item->child; child != nullptr; child = child->next) {
    cJSON* childCopy = classicCopy(child);
    const bool added =
        childCopy != nullptr && (cJSON_IsArray(item) ? cJSON_AddItemToArray(copy, childCopy)
                                                     : cJSON_AddItemToObject(copy, child->string, childCopy));
    if (!added) {
      cJSON_Delete(childCopy);
      cJSON_Delete(copy);
      return nullptr;
    }
  }
  return copy;
}

}  // namespace

std::string classicJsonNumberText(double value) {
  if (value == 0.0) return "0";
  const platform::ScopedCLocale cLocale;
  char text[80];
  const double magnitude = std::fabs(value);
  if (std::fabs(std::trunc(value) - value) <= DBL_EPSILON && value <= INT_MAX && value >= INT_MIN)
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
  else if (!std::isfinite(value))
    return "null";
  else if (std::fabs(std::floor(value) - value) <= DBL_EPSILON && magnitude < 1.0e60)
    std::snprintf(text, sizeof text, "%.0f", value);
  else if (magnitude < 1.0e-6 || magnitude > 1.0e9)
    std::snprintf(text, sizeof text, "%e", value);
  else
    std::snprintf(text, sizeof text, "%f", value);
  return text;
}

std::optional<std::string> classicJsonPrintUnformatted(const cJSON* item) {
  if (item == nullptr) return std::nullopt;
  cJSON* copy = classicCopy(item);
  if (copy == nullptr) return std::nullopt;
  char* printed = cJSON_PrintUnformatted(copy);
  cJSON_Delete(copy);
  if (printed == nullptr) return std::nullopt;
  std::string text(printed);
  cJSON_free(printed);
  return text;
}
