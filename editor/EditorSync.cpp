#include "editor/EditorSync.h"

#include <algorithm>

#include "editor/EditorPush.h"
#include "editor/PercentEncode.h"
#include "engine/PluginProcessor.h"
#include "state/ParamNameMap.h"
#include "state/SnapshotJson.h"

namespace {

// Pan -1..1 as the page keeps it, 0..1.
double panToPage(float pan) {
  return std::clamp((static_cast<double>(pan) + 1.0) * 0.5, 0.0, 1.0);
}

}  // namespace

std::array<SyncParam, kNumParams> syncParamValues(const PluginProcessor& engine) {
  std::array<SyncParam, kNumParams> params{};
  std::array<bool, kNumParams> named{};
  size_t next = 0;
  // The name map's order, each parameter under its first (canonical) name.
  for (const ParamNameEntry& entry : kParamNameMap) {
    if (entry.id >= kNumParams || named[entry.id]) continue;
    named[entry.id] = true;
    const ParamInfo& row = kParams[entry.id];
    const double range = row.max - row.min;
    params[next++] = {entry.name, range > 0.0 ? (engine.getParam(entry.id) - row.min) / range : 0.0};
  }
  return params;
}

std::string uiStateScript(const std::string& uiStateJson) {
  if (uiStateJson.empty()) return "if(window.mlibSetUIState) window.mlibSetUIState(null);";
  return "(function(){var u=null;try{u=decodeURIComponent('" + tavrinPercentEncode(uiStateJson) +
         "')}catch(e){}if(window.mlibSetUIState) window.mlibSetUIState(u);})();";
}

std::string loadSlotScript(int slot, const ParamSnapshot& snapshot, int note, float gain, float pan) {
  std::string out;
  appendFormat(out, "if(window.mlibLoadSlot) window.mlibLoadSlot(%d,", slot);
  out += tavrin_slot_params_to_json(snapshot);
  appendFormat(out, ",%d,%f,%f);", note, double{gain}, panToPage(pan));
  return out;
}

std::string setParamScript(const char* id, double value) {
  std::string script;
  appendFormat(script, "if(window.mlibSetParam) window.mlibSetParam('%s', %f);", id, value);
  return script;
}

std::string documentWithStartState(std::string_view html, const std::vector<std::string>& scripts) {
  constexpr std::string_view kHead = "<head>";
  const size_t head = html.find(kHead);
  if (head == std::string_view::npos || scripts.empty()) return std::string(html);
  std::string state;
  for (const std::string& script : scripts) state += "try{" + script + "\n}catch(e){}\n";
  // Percent-encoded, the text can hold nothing that ends the script element or the string.
  const std::string element =
      "<script>window.mlibStartState=decodeURIComponent('" + tavrinPercentEncode(state) + "');</script>";
  const size_t at = head + kHead.size();
  std::string document;
  document.reserve(html.size() + element.size());
  document.append(html.substr(0, at)).append(element).append(html.substr(at));
  return document;
}
