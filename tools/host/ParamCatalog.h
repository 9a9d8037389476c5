#pragma once
// The parameters a plug-in offers through clap.params: found by id or by name, shown as the plug-in's
// own texts, and set from text the user typed.

#include <cstdint>
#include <string>
#include <vector>

#include "clap/ext/params.h"
#include "tools/host/Score.h"

namespace tavrin::host {

class PluginInstance;

class ParamCatalog {
public:
  // Reads every parameter's information (main thread); empty when the plug-in offers no parameters.
  explicit ParamCatalog(const PluginInstance& plugin);

  const std::vector<clap_param_info>& params() const { return infos; }
  // The parameter named by its decimal id or, ignoring case, by its name; null when there is none.
  const clap_param_info* find(const std::string& idOrName) const;
  // The plug-in's text for a value of the parameter; "?" when it gives none.
  std::string text(const clap_param_info& param, double value) const;
  // The value of a text: "norm:V" is the plug-in's own value V, anything else is read by the plug-in's
  // text_to_value. False with a message naming the parameter when the plug-in cannot read the text or
  // the value lies outside the parameter's range.
  bool read(const clap_param_info& param, const std::string& text, double& value, std::string& error) const;

  // The values of typed entries, in their order; false with a message at the first unknown parameter or
  // unreadable value.
  bool resolve(const std::vector<ParamEntry>& entries, std::vector<ParamSpec>& params,
               std::string& error) const;

private:
  const PluginInstance& instance;
  const clap_plugin_params* ext = nullptr;
  std::vector<clap_param_info> infos;
};

// The names of the set flags, e.g. "automatable,hidden"; "-" when none is set.
std::string paramFlagNames(uint32_t flags);

}  // namespace tavrin::host
