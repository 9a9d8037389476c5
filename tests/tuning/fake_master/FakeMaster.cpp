// A stand-in MTS-ESP master library for tests: exports the functions the client looks up, with tables,
// presence, filtering, map size, period and version the test sets through the fake_master_ functions.
// Built twice: complete, and with FAKE_MASTER_PARTIAL (only registration, presence and the tuning table).
#include <cmath>
#include <cstring>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {
constexpr int kNotes = 128, kChannels = 16;
double s_table[kNotes];
double s_channelTables[kChannels][kNotes];
bool s_useChannel[kChannels];
bool s_filter[kNotes];
bool s_online;
int s_clients, s_registrations;
char s_mapSize;
double s_period;
int s_version;
char s_name[64];

double equalTempered(int n) {
  return 440.0 * std::pow(2.0, (n - 69) / 12.0);
}
}  // namespace

EXPORT void fake_master_reset() {
  for (int n = 0; n < kNotes; ++n) {
    s_table[n] = equalTempered(n);
    s_filter[n] = false;
    for (auto& t : s_channelTables) t[n] = equalTempered(n);
  }
  for (bool& u : s_useChannel) u = false;
  s_online = true;
  s_clients = s_registrations = 0;
  s_mapSize = 12;
  s_period = 2.0;
  s_version = 0x10003;
  std::strcpy(s_name, "Fake Master");
}
EXPORT void fake_master_set_online(bool online) {
  s_online = online;
}
EXPORT void fake_master_set_frequency(int note, double hz) {
  s_table[note] = hz;
}
EXPORT void fake_master_set_channel_frequency(int ch, int note, double hz) {
  s_channelTables[ch][note] = hz;
}
EXPORT void fake_master_set_use_channel(int ch, bool use) {
  s_useChannel[ch] = use;
}
EXPORT void fake_master_set_filter(int note, bool filter) {
  s_filter[note] = filter;
}
EXPORT void fake_master_set_map_size(int size) {
  s_mapSize = char(size);
}
EXPORT void fake_master_set_period(double ratio) {
  s_period = ratio;
}
EXPORT void fake_master_set_version(int version) {
  s_version = version;
}
EXPORT int fake_master_clients() {
  return s_clients;
}
EXPORT int fake_master_registrations() {
  return s_registrations;
}

EXPORT void MTS_RegisterClient() {
  ++s_clients, ++s_registrations;
}
EXPORT void MTS_DeregisterClient() {
  --s_clients;
}
EXPORT bool MTS_HasMaster() {
  return s_online;
}
EXPORT const double* MTS_GetTuningTable() {
  return s_table;
}

#ifndef FAKE_MASTER_PARTIAL
EXPORT int MTS_GetVersionNumber() {
  return s_version;
}
EXPORT bool MTS_ShouldFilterNote(char note, char) {
  return s_filter[note & 127];
}
EXPORT bool MTS_ShouldFilterNoteMultiChannel(char note, char) {
  return s_filter[note & 127];
}
EXPORT const double* MTS_GetMultiChannelTuningTable(char ch) {
  return ch >= 0 && ch < kChannels ? s_channelTables[int(ch)] : nullptr;
}
EXPORT bool MTS_UseMultiChannelTuning(char ch) {
  return ch >= 0 && ch < kChannels && s_useChannel[int(ch)];
}
EXPORT const char* MTS_GetScaleName() {
  return s_name;
}
EXPORT double MTS_GetPeriodRatio() {
  return s_period;
}
EXPORT char MTS_GetMapSize() {
  return s_mapSize;
}
EXPORT char MTS_GetMapStartKey() {
  return 60;
}
EXPORT char MTS_GetRefKey() {
  return 69;
}
#endif
