#include "tools/host/ParamCatalog.h"

#include <strings.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "tools/host/PluginInstance.h"

namespace tavrin::host {

namespace {

constexpr const char* kNormalisedPrefix = "norm:";

std::string describe(const clap_param_info& param) {
  return "parameter " + std::to_string(param.id) + " (" + param.name + ")";
}

// A whole-string decimal id.
bool parseId(const std::string& text, clap_id& id) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 10)
    return false;
  const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  id = static_cast<clap_id>(value);
  return value < CLAP_INVALID_ID;
}

}  // namespace

ParamCatalog::ParamCatalog(const PluginInstance& plugin)
    : instance(plugin), ext(plugin.extension<clap_plugin_params>(CLAP_EXT_PARAMS)) {
  if (!ext || !ext->count || !ext->get_info) return;
  const uint32_t count = ext->count(instance.plugin());
  for (uint32_t index = 0; index < count; ++index) {
    clap_param_info info{};
    if (!ext->get_info(instance.plugin(), index, &info)) continue;
    info.name[CLAP_NAME_SIZE - 1] = 0;
    infos.push_back(info);
  }
}

const clap_param_info* ParamCatalog::find(const std::string& idOrName) const {
  clap_id id;
  const bool byId = parseId(idOrName, id);
  for (const clap_param_info& info : infos)
    if (byId ? info.id == id : strcasecmp(info.name, idOrName.c_str()) == 0) return &info;
  return nullptr;
}

std::string ParamCatalog::text(const clap_param_info& param, double value) const {
  char buffer[256] = {};
  if (!ext->value_to_text || !ext->value_to_text(instance.plugin(), param.id, value, buffer, sizeof buffer))
    return "?";
  buffer[sizeof buffer - 1] = 0;
  return buffer;
}

bool ParamCatalog::read(const clap_param_info& param, const std::string& text, double& value,
                        std::string& error) const {
  if (text.rfind(kNormalisedPrefix, 0) == 0) {
    const std::string number = text.substr(std::strlen(kNormalisedPrefix));
    char* end = nullptr;
    value = std::strtod(number.c_str(), &end);
    if (number.empty() || *end != 0) {
      error = "\"" + text + "\" is no number for " + describe(param);
      return false;
    }
  } else if (!ext->text_to_value || !ext->text_to_value(instance.plugin(), param.id, text.c_str(), &value)) {
    error = "the plug-in cannot read \"" + text + "\" for " + describe(param);
    return false;
  }
  if (!std::isfinite(value) || value < param.min_value || value > param.max_value) {
    error = "\"" + text + "\" lies outside the range of parameter " + std::to_string(param.id) + " (" +
            param.name + ": " + this->text(param, param.min_value) + " to " +
            this->text(param, param.max_value) + ")";
    return false;
  }
  return true;
}

bool ParamCatalog::resolve(const std::vector<ParamEntry>& entries, std::vector<ParamSpec>& params,
                           std::string& error) const {
  params.clear();
  for (const ParamEntry& entry : entries) {
    const clap_param_info* param = find(entry.param);
    if (!param) {
      error = "unknown parameter \"" + entry.param + "\" (--list-params shows them)";
      return false;
    }
    double value = 0.0;
    if (!read(*param, entry.value, value, error)) return false;
    params.push_back({entry.time, param->id, value});
  }
  return true;
}

std::string paramFlagNames(uint32_t flags) {
  static const char* const kNames[] = {"stepped",
                                       "periodic",
                                       "hidden",
                                       "readonly",
                                       "bypass",
                                       "automatable",
                                       "automatable-per-note-id",
                                       "automatable-per-key",
                                       "automatable-per-channel",
                                       "automatable-per-port",
                                       "modulatable",
                                       "modulatable-per-note-id",
                                       "modulatable-per-key",
                                       "modulatable-per-channel",
                                       "modulatable-per-port",
                                       "requires-process"};
  std::string names;
  for (uint32_t bit = 0; bit < std::size(kNames); ++bit) {
    if (!(flags & (1u << bit))) continue;
    if (!names.empty()) names += ',';
    names += kNames[bit];
  }
  return names.empty() ? "-" : names;
}

}  // namespace tavrin::host
