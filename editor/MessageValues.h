// Reading the values of the editor document's messages. A message value arrives as JSON: numbers,
// booleans (which count as numbers 1 and 0), strings, null, arrays and objects. Values of a kind that a
// message cannot use at all raise MessageError, which the bridge logs; the message is then dropped.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "state/JsonTree.h"

// A message value of the wrong kind: name says what went wrong, what() the details.
struct MessageError : std::runtime_error {
  MessageError(std::string errorName, const std::string& reason)
      : std::runtime_error(reason), name(std::move(errorName)) {}
  std::string name;
};

// True for a missing value and for JSON null.
bool isNullValue(const cJSON* value);
// True for numbers and booleans.
bool isNumberValue(const cJSON* value);
// The text of a string value, else null.
const char* stringValue(const cJSON* value);

// The numeric value of a number, boolean or string (its leading decimal number, 0 when it has none);
// non-finite numbers give 0. Null, arrays and objects raise MessageError.
double numericValue(const cJSON* value);
// A number's value truncated toward zero, saturated to the int32 range.
int32_t integerValue(double number);
// A number's float value, limited to the float range.
float floatValue(double number);

// The JSON array or object held in a string value (the whole text must be one array or object); null
// when value is no string or its text is anything else.
JsonTree parseJsonText(const cJSON* value);
// The same for text.
JsonTree parseJsonText(const char* text);
