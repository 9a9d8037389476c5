// Printing JSON with the classic number texts that the plug-in's JSON formats keep. The installed cJSON
// prints the shortest text that reads back exactly ("0.5"); the formats keep the classic one
// ("0.500000"), so every number is printed here and handed to cJSON as raw text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "state/JsonTree.h"

// The classic text of a JSON number: "0" for zero; "%d" for a value within DBL_EPSILON of an integer
// in the 32-bit range; "null" for NaN and infinities; "%.0f" for another value within DBL_EPSILON of an
// integer below 1e60 in magnitude; "%e" for a magnitude below 1e-6 or above 1e9; "%f" otherwise (six
// decimals). Where that text reads back as a number whose classic text differs ("1.000000" reads back as
// 1, printed "1"), the text is the one it settles on, so every text printed reads back as itself.
std::string classicJsonNumberText(double value);

// Makes the value of every member of root, the object parsed from text, a raw item holding that value's
// text exactly as text has it, so that printing root gives those bytes back. Members added or replaced
// afterwards print as usual. False, with nothing changed, when root is not the object text holds (or,
// with the members made so far kept, when memory runs out).
bool keepMemberTexts(cJSON* root, std::string_view text);

// The unformatted text of item (any JSON value) with every number in its classic text; nothing when
// the copy or the printing fails. The item itself is not changed.
std::optional<std::string> classicJsonPrintUnformatted(const cJSON* item);
