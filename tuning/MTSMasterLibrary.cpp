#include "tuning/MTSMasterLibrary.h"

#include <dlfcn.h>

#include <array>
#include <cmath>

namespace {

const std::array<double, kMTSNotes> s_inverse12TET = [] {
  std::array<double, kMTSNotes> t{};
  for (int n = 0; n < kMTSNotes; ++n) t[n] = 1.0 / (440.0 * std::pow(2.0, (n - 69) / 12.0));
  return t;
}();

constexpr const char* kInstalledPaths[] = {"/Library/Application Support/MTS-ESP/libMTS.dylib",
                                           "/usr/local/lib/libMTS.so", nullptr};

template <class Fn>
void lookUp(void* handle, const char* name, Fn& fn) {
  fn = reinterpret_cast<Fn>(dlsym(handle, name));
}

}  // namespace

double inverse12TET(int note) {
  return s_inverse12TET[note & 127];
}

MasterLibrary::MasterLibrary(const char* const* paths) {
  for (; paths && *paths && !handle_; ++paths) handle_ = dlopen(*paths, RTLD_NOW | RTLD_LOCAL);
  if (!handle_) return;
  lookUp(handle_, "MTS_RegisterClient", registerClient);
  lookUp(handle_, "MTS_DeregisterClient", deregisterClient);
  lookUp(handle_, "MTS_HasMaster", hasMaster);
  lookUp(handle_, "MTS_GetVersionNumber", getVersionNumber);
  lookUp(handle_, "MTS_ShouldFilterNote", shouldFilterNote);
  lookUp(handle_, "MTS_ShouldFilterNoteMultiChannel", shouldFilterNoteMultiChannel);
  lookUp(handle_, "MTS_GetTuningTable", getTuningTable);
  lookUp(handle_, "MTS_GetMultiChannelTuningTable", getMultiChannelTuningTable);
  lookUp(handle_, "MTS_UseMultiChannelTuning", useMultiChannelTuning);
  lookUp(handle_, "MTS_GetScaleName", getScaleName);
  lookUp(handle_, "MTS_GetPeriodRatio", getPeriodRatio);
  lookUp(handle_, "MTS_GetMapSize", getMapSize);
  lookUp(handle_, "MTS_GetMapStartKey", getMapStartKey);
  lookUp(handle_, "MTS_GetRefKey", getRefKey);
  if (getTuningTable) tuningTable = getTuningTable();
  if (getMultiChannelTuningTable)
    for (int ch = 0; ch < kMTSChannels; ++ch) channelTables[ch] = getMultiChannelTuningTable(char(ch));
}

MasterLibrary::~MasterLibrary() {
  if (handle_) dlclose(handle_);
}

const MasterLibrary& masterLibrary() {
  static const MasterLibrary library(kInstalledPaths);
  return library;
}
