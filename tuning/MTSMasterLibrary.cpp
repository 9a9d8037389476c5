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
  for (; paths && *paths && !handle; ++paths) handle = dlopen(*paths, RTLD_NOW | RTLD_LOCAL);
  if (!handle) return;
  lookUp(handle, "MTS_RegisterClient", registerClient);
  lookUp(handle, "MTS_DeregisterClient", deregisterClient);
  lookUp(handle, "MTS_HasMaster", hasMaster);
  lookUp(handle, "MTS_GetVersionNumber", getVersionNumber);
  lookUp(handle, "MTS_ShouldFilterNote", shouldFilterNote);
  lookUp(handle, "MTS_ShouldFilterNoteMultiChannel", shouldFilterNoteMultiChannel);
  lookUp(handle, "MTS_GetTuningTable", getTuningTable);
  lookUp(handle, "MTS_GetMultiChannelTuningTable", getMultiChannelTuningTable);
  lookUp(handle, "MTS_UseMultiChannelTuning", useMultiChannelTuning);
  lookUp(handle, "MTS_GetScaleName", getScaleName);
  lookUp(handle, "MTS_GetPeriodRatio", getPeriodRatio);
  lookUp(handle, "MTS_GetMapSize", getMapSize);
  lookUp(handle, "MTS_GetMapStartKey", getMapStartKey);
  lookUp(handle, "MTS_GetRefKey", getRefKey);
  if (getTuningTable) tuningTable = getTuningTable();
  if (getMultiChannelTuningTable)
    for (int ch = 0; ch < kMTSChannels; ++ch) channelTables[ch] = getMultiChannelTuningTable(char(ch));
}

MasterLibrary::~MasterLibrary() {
  if (handle) dlclose(handle);
}

const MasterLibrary& masterLibrary() {
  static const MasterLibrary library(kInstalledPaths);
  return library;
}
