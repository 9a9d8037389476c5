// The MTS-ESP master library as the client sees it: the 14 functions it looks up, found by path.
#pragma once

// Signatures of the master library's functions (C linkage, notes and channels as plain chars).
namespace mtsmaster {
using RegisterClientFn = void (*)();
using DeregisterClientFn = void (*)();
using HasMasterFn = bool (*)();
using GetVersionNumberFn = int (*)();
using ShouldFilterNoteFn = bool (*)(char note, char channel);
using ShouldFilterNoteMultiChannelFn = bool (*)(char note, char channel);
using GetTuningTableFn = const double* (*)();
using GetMultiChannelTuningTableFn = const double* (*)(char channel);
using UseMultiChannelTuningFn = bool (*)(char channel);
using GetScaleNameFn = const char* (*)();
using GetPeriodRatioFn = double (*)();
using GetMapSizeFn = char (*)();
using GetMapStartKeyFn = char (*)();
using GetRefKeyFn = char (*)();
}  // namespace mtsmaster

constexpr int kMTSChannels = 16;
constexpr int kMTSNotes = 128;

// One opened master library (or none): its handle, the looked-up functions (null when the library or
// the symbol is missing) and the tuning tables it keeps current, fetched once when it is opened. The
// process has one, `masterLibrary()`; tests build their own from a path of their choosing.
class MasterLibrary {
public:
  // Opens the first of the null-terminated list of paths that loads, with immediate, local binding.
  explicit MasterLibrary(const char* const* paths);
  ~MasterLibrary();
  MasterLibrary(const MasterLibrary&) = delete;
  MasterLibrary& operator=(const MasterLibrary&) = delete;

  // A master is present: the tuning table exists and the library says a master is active.
  bool online() const { return tuningTable && hasMaster && hasMaster(); }
  bool loaded() const { return handle != nullptr; }

  mtsmaster::RegisterClientFn registerClient = nullptr;
  mtsmaster::DeregisterClientFn deregisterClient = nullptr;
  mtsmaster::HasMasterFn hasMaster = nullptr;
  mtsmaster::GetVersionNumberFn getVersionNumber = nullptr;
  mtsmaster::ShouldFilterNoteFn shouldFilterNote = nullptr;
  mtsmaster::ShouldFilterNoteMultiChannelFn shouldFilterNoteMultiChannel = nullptr;
  mtsmaster::GetTuningTableFn getTuningTable = nullptr;
  mtsmaster::GetMultiChannelTuningTableFn getMultiChannelTuningTable = nullptr;
  mtsmaster::UseMultiChannelTuningFn useMultiChannelTuning = nullptr;
  mtsmaster::GetScaleNameFn getScaleName = nullptr;
  mtsmaster::GetPeriodRatioFn getPeriodRatio = nullptr;
  mtsmaster::GetMapSizeFn getMapSize = nullptr;
  mtsmaster::GetMapStartKeyFn getMapStartKey = nullptr;
  mtsmaster::GetRefKeyFn getRefKey = nullptr;

  const double* tuningTable = nullptr;             // 128 frequencies in Hz
  const double* channelTables[kMTSChannels] = {};  // per-channel tables, null when absent

private:
  void* handle = nullptr;
};

// The process-wide library, opened from the installed locations on first use.
const MasterLibrary& masterLibrary();

// 1 / (440 x 2^((n - 69) / 12)), the inverse of key n's 12-TET frequency; n is masked to 0..127.
double inverse12TET(int note);
