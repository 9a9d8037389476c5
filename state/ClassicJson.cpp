#include "state/ClassicJson.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

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

// The classic printer's own text of a finite, non-zero value.
std::string classicText(double value) {
  char text[80];
  const double magnitude = std::fabs(value);
  if (std::fabs(std::trunc(value) - value) <= DBL_EPSILON && value <= INT_MAX && value >= INT_MIN)
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
  else if (std::fabs(std::floor(value) - value) <= DBL_EPSILON && magnitude < 1.0e60)
    std::snprintf(text, sizeof text, "%.0f", value);
  else if (magnitude < 1.0e-6 || magnitude > 1.0e9)
    std::snprintf(text, sizeof text, "%e", value);
  else
    std::snprintf(text, sizeof text, "%f", value);
  return text;
}

size_t skipSpace(std::string_view text, size_t at) {
  // The parser's own rule: every byte up to the space is white space.
  while (at < text.size() && static_cast<unsigned char>(text[at]) <= ' ') ++at;
  return at;
}

// The one JSON value that starts at `at` in text, with its end in `end`; null when none starts there.
JsonTree valueAt(std::string_view text, size_t at, size_t& end) {
  const char* parsedEnd = nullptr;
  JsonTree value(cJSON_ParseWithLengthOpts(text.data() + at, text.size() - at, &parsedEnd, false));
  if (value != nullptr) end = static_cast<size_t>(parsedEnd - text.data());
  return value;
}

struct MemberText {
  std::string key;
  std::string_view value;
};

// The members of the JSON object that text holds, each with its value's text; none when text is not one
// object (text after the object is allowed: the caller's parse has refused it already).
std::optional<std::vector<MemberText>> memberTexts(std::string_view text) {
  size_t at = skipSpace(text, 0);
  if (at == text.size() || text[at] != '{') return std::nullopt;
  at = skipSpace(text, at + 1);
  std::vector<MemberText> members;
  if (at < text.size() && text[at] == '}') return members;
  for (;;) {
    size_t end = 0;
    const JsonTree key = valueAt(text, at, end);
    if (!cJSON_IsString(key.get())) return std::nullopt;
    at = skipSpace(text, end);
    if (at == text.size() || text[at] != ':') return std::nullopt;
    at = skipSpace(text, at + 1);
    if (valueAt(text, at, end) == nullptr) return std::nullopt;
    members.push_back({key->valuestring, text.substr(at, end - at)});
    at = skipSpace(text, end);
    if (at == text.size() || (text[at] != ',' && text[at] != '}')) return std::nullopt;
    if (text[at] == '}') return members;
    at = skipSpace(text, at + 1);
  }
}

}  // namespace

bool keepMemberTexts(cJSON* root, std::string_view text) {
  const std::optional<std::vector<MemberText>> members = memberTexts(text);
  if (!cJSON_IsObject(root) || !members || static_cast<size_t>(cJSON_GetArraySize(root)) != members->size())
    return false;
  size_t i = 0;
  for (const cJSON* child = root->child; child != nullptr; child = child->next, ++i)
    if (child->string == nullptr || (*members)[i].key != child->string) return false;
  i = 0;
  for (cJSON* child = root->child; child != nullptr; ++i) {
    cJSON* next = child->next;
    cJSON* raw = cJSON_CreateRaw(std::string((*members)[i].value).c_str());
    if (raw == nullptr) return false;
    // The key moves to the raw item: replacing by pointer does not carry it over.
    raw->string = std::exchange(child->string, nullptr);
    raw->type |= child->type & cJSON_StringIsConst;
    cJSON_ReplaceItemViaPointer(root, child, raw);
    child = next;
  }
  return true;
}

std::string classicJsonNumberText(double value) {
  if (value == 0.0) return "0";
  if (!std::isfinite(value)) return "null";
  const platform::ScopedCLocale cLocale;
  std::string text = classicText(value);
  // A text that reads back as another number ("1.000000" for 0.9999996, "1.000000e-06" for 9.9999999e-7)
  // would print differently at the next save. Printing what it reads back as makes a save after a load
  // give the same bytes; that text reads back as itself within two steps.
  for (int step = 0; step < 2; ++step) {
    std::string again = classicText(std::strtod(text.c_str(), nullptr));
    if (again == text) break;
    text = std::move(again);
  }
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
