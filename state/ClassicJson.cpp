#include "state/ClassicJson.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>

#include "platform/CLocale.h"

namespace {

// A copy of item in which every number is a raw item holding its classic text; null when out of memory.
JsonTree classicCopy(const cJSON* item) {
  if (cJSON_IsNumber(item))
    return JsonTree(cJSON_CreateRaw(classicJsonNumberText(item->valuedouble).c_str()));
  if (!cJSON_IsArray(item) && !cJSON_IsObject(item)) return JsonTree(cJSON_Duplicate(item, false));
  JsonTree copy(cJSON_IsArray(item) ? cJSON_CreateArray() : cJSON_CreateObject());
  if (copy == nullptr) return nullptr;
  for (const cJSON* child = item->child; child != nullptr; child = child->next) {
    JsonTree childCopy = classicCopy(child);
    const bool added =
        childCopy != nullptr &&
        (cJSON_IsArray(item) ? cJSON_AddItemToArray(copy.get(), childCopy.get())
                             : cJSON_AddItemToObject(copy.get(), child->string, childCopy.get()));
    if (!added) return nullptr;
    childCopy.release();
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
  const JsonTree copy = classicCopy(item);
  if (copy == nullptr) return std::nullopt;
  char* printed = cJSON_PrintUnformatted(copy.get());
  if (printed == nullptr) return std::nullopt;
  std::string text(printed);
  cJSON_free(printed);
  return text;
}
