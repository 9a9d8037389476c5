// Writes the editor document's parameter table, src/core/paramTable.js, from the engine's table and the
// canonical names of the name map. Usage: tavrin_param_table_js <output.js>
#include <charconv>
#include <cstdio>
#include <string>

#include "engine/ParamTable.h"
#include "state/ParamNameMap.h"

namespace {

// The shortest text that reads back as the same double, as JavaScript reads it too.
std::string number(double value) {
  char text[32];
  const std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
  return std::string(text, end.ptr);
}

// The first name of id in the name map: its canonical name.
const char* canonicalName(uint32_t id) {
  for (const ParamNameEntry& row : kParamNameMap)
    if (row.id == id) return row.name;
  return "";
}

std::string tableScript() {
  std::string out =
      "// Generated from the engine's parameter table by editor/ui/scripts/ParamTableJs.cpp; do not edit.\n"
      "// [key, min, max, default] of every parameter in id order; the key is its canonical name.\n"
      "export const kParamTable = [\n";
  for (const ParamInfo& row : kParams) {
    out += "  ['" + std::string(canonicalName(row.id)) + "', " + number(row.min) + ", " + number(row.max) +
           ", " + number(row.def) + "],\n";
  }
  out += "];\n";
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tavrin_param_table_js <output.js>\n");
    return 2;
  }
  const std::string script = tableScript();
  std::FILE* file = std::fopen(argv[1], "wb");
  const bool written = file != nullptr && std::fwrite(script.data(), 1, script.size(), file) == script.size();
  if (file == nullptr || std::fclose(file) != 0 || !written) {
    std::fprintf(stderr, "tavrin_param_table_js: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
