#include "editor/MessageValues.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>

#include "foundation/MLSafeValue.h"

bool isNullValue(const cJSON* value) {
  return value == nullptr || cJSON_IsNull(value);
}

bool isNumberValue(const cJSON* value) {
  return cJSON_IsNumber(value) || cJSON_IsBool(value);
}

const char* stringValue(const cJSON* value) {
  return cJSON_IsString(value) ? value->valuestring : nullptr;
}

namespace {

// The leading decimal number of text after white space and an optional plus sign; 0 when none.
double leadingNumber(std::string_view text) {
  const size_t start = text.find_first_not_of(" \t\n\r\f\v");
  if (start == std::string_view::npos) return 0.0;
  text.remove_prefix(start);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double number = 0.0;
  // Only decimal forms: no hexadecimal, infinity or NaN spellings.
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), number, std::chars_format::general);
  if (error != std::errc() || !std::isfinite(number)) return 0.0;
  const std::string_view digits(text.data(), static_cast<size_t>(end - text.data()));
  if (digits.find_first_of("0123456789") == std::string_view::npos) return 0.0;
  return number;
}

}  // namespace

double numericValue(const cJSON* value) {
  if (cJSON_IsBool(value)) return cJSON_IsTrue(value) ? 1.0 : 0.0;
  if (cJSON_IsNumber(value)) return ml::finiteOr(value->valuedouble, 0.0);
  if (const char* text = stringValue(value)) return leadingNumber(text);
  throw MessageError("TypeError", "value has no numeric form");
}

int32_t integerValue(double number) {
  return ml::saturateToInt32(number);
}

float floatValue(double number) {
  return static_cast<float>(
      ml::safeClamp(number, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
}

JsonTree parseJsonText(const char* text) {
  if (text == nullptr) return nullptr;
  JsonTree tree(cJSON_ParseWithOpts(text, nullptr, true));
  if (!cJSON_IsArray(tree.get()) && !cJSON_IsObject(tree.get())) return nullptr;
  return tree;
}

JsonTree parseJsonText(const cJSON* value) {
  return parseJsonText(stringValue(value));
}
