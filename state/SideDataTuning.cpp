// The tuning keys of the side data: the embedded local tuning, and the Scala file it came from, which a
// load reads again from the user's tunings folder.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/FileReader.h"
#include "platform/PlatformLog.h"
#include "state/SideData.h"

namespace {

constexpr const char* kScalaExtension = ".scl";
constexpr size_t kScalaExtensionBytes = 4;

// tuningsDir + "/" + stem + ".scl", or none when that path leads out of the tunings folder (a stem
// from a stream is outside input).
std::optional<std::string> scalaPath(const std::string& tuningsDir, const std::string& stem) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::path(tuningsDir).lexically_normal();
  const fs::path file = fs::path(tuningsDir + "/" + stem + kScalaExtension).lexically_normal();
  const fs::path inside = file.lexically_relative(folder);
  if (inside.empty() || inside.is_absolute() || *inside.begin() == "..") return std::nullopt;
  return file.string();
}

// Parses tuningsDir/stem.scl into out (displayed as name). False, with a log line, when there is no
// folder, the file lies outside it, readRegularFile refuses it or it is not a scale.
bool readScalaFile(const std::string& tuningsDir, const std::string& stem, const char* name,
                   LocalTuning& out) {
  const std::string file = stem + kScalaExtension;
  if (tuningsDir.empty()) {
    platform::log("tavrin: cannot read the project's tuning file " + file + ": there is no tunings folder");
    return false;
  }
  const std::optional<std::string> path = scalaPath(tuningsDir, stem);
  if (!path) {
    platform::log("tavrin: cannot read the project's tuning file " + file + ": it lies outside " +
                  tuningsDir);
    return false;
  }
  const std::optional<std::string> text = readRegularFile(*path);
  if (!text) return false;
  if (PluginProcessor::parseScala(text->data(), text->size(), name, out)) return true;
  platform::log("tavrin: cannot use " + *path + ": it is not a Scala scale");
  return false;
}

std::string stringOr(const cJSON* item, const char* fallback) {
  return cJSON_IsString(item) ? std::string(item->valuestring) : std::string(fallback);
}

// The embedded record of a "localTuning" object; false when its intervals and period are missing or
// cannot make a playable tuning (every interval a finite positive number, a finite period).
bool embeddedTuning(const cJSON* object, LocalTuning& out) {
  const cJSON* intervals = jsonMember(object, "intervals");
  const cJSON* period = jsonMember(object, "period");
  if (!cJSON_IsObject(object) || !cJSON_IsArray(intervals) || !cJSON_IsNumber(period)) return false;
  int count = 0;
  for (const cJSON* item = intervals->child; item != nullptr && count < kMaxTuningIntervals;
       item = item->next)
    out.ratios[count++] = cJSON_IsNumber(item) ? item->valuedouble : 0.0;
  for (int i = 0; i < count; ++i)
    if (!std::isfinite(out.ratios[i]) || !(out.ratios[i] > 0.0)) return false;
  if (!std::isfinite(period->valuedouble)) return false;
  out.count = count;
  const cJSON* scaleSize = jsonMember(object, "scaleSize");
  out.keysPerPeriod = cJSON_IsNumber(scaleSize) ? jsonInt(scaleSize) : count;
  out.periodRatio = period->valuedouble;
  const cJSON* name = jsonMember(object, "name");
  copyTuningName(out.name, cJSON_IsString(name) ? name->valuestring : "");
  return true;
}

}  // namespace

cJSON* localTuningObject(const LocalTuning& tuning, const std::string& filename, const std::string& source) {
  cJSON* object = cJSON_CreateObject();
  cJSON* intervals = cJSON_CreateArray();
  const int count = std::clamp(tuning.count, 0, kMaxTuningIntervals);
  for (int i = 0; i < count; ++i) cJSON_AddItemToArray(intervals, cJSON_CreateNumber(tuning.ratios[i]));
  cJSON_AddItemToObject(object, "intervals", intervals);
  cJSON_AddItemToObject(object, "period", cJSON_CreateNumber(tuning.periodRatio));
  cJSON_AddItemToObject(object, "scaleSize", cJSON_CreateNumber(tuning.keysPerPeriod));
  cJSON_AddItemToObject(object, "name", cJSON_CreateString(tuning.name));
  cJSON_AddItemToObject(object, "filename", cJSON_CreateString(filename.c_str()));
  cJSON_AddItemToObject(object, "source", cJSON_CreateString(source.c_str()));
  return object;
}

bool applyLocalTuningKey(const cJSON* root, PluginProcessor& engine, TavrinStateSidecar& sidecar,
                         std::mutex& lock) {
  const cJSON* object = jsonMember(root, "localTuning");
  auto embedded = std::make_unique<LocalTuning>();
  if (!embeddedTuning(object, *embedded)) return false;
  const std::string source = stringOr(jsonMember(object, "source"), "embed");
  const std::string filename = stringOr(jsonMember(object, "filename"), "");
  auto fromFile = std::make_unique<LocalTuning>();
  const bool parsed = source == "file" && !filename.empty() &&
                      readScalaFile(sidecar.tuningsDir, filename, filename.c_str(), *fromFile);
  std::lock_guard guard(lock);
  sidecar.name = embedded->name;
  sidecar.filename = filename;
  sidecar.source = source;
  engine.setLocalTuning(parsed ? *fromFile : *embedded);
  return true;
}

void applyTuningFileKey(const cJSON* root, PluginProcessor& engine, TavrinStateSidecar& sidecar,
                        std::mutex& lock) {
  const cJSON* item = jsonMember(root, "tuningFile");
  if (!cJSON_IsString(item) || item->valuestring[0] == 0) return;
  std::string stem = item->valuestring;
  if (stem.size() > kScalaExtensionBytes &&
      stem.compare(stem.size() - kScalaExtensionBytes, kScalaExtensionBytes, kScalaExtension) == 0)
    stem.resize(stem.size() - kScalaExtensionBytes);
  auto tuning = std::make_unique<LocalTuning>();
  const bool parsed = readScalaFile(sidecar.tuningsDir, stem, stem.c_str(), *tuning);
  std::lock_guard guard(lock);
  sidecar.name = stem;
  sidecar.filename = stem;
  sidecar.source = "file";
  if (parsed) engine.setLocalTuning(*tuning);
}
