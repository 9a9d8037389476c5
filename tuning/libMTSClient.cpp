#include "tuning/libMTSClient.h"

#include "tuning/MTSClient.h"
#include "tuning/MTSSysEx.h"

namespace {
int channelOf(char ch) {
  return static_cast<signed char>(ch);
}
int noteOf(char note) {
  return static_cast<unsigned char>(note) & 127;
}
void parse(MTSClient* c, const void* buffer, int len) {
  if (len > 0) mts::parseMIDIData(c, static_cast<const uint8_t*>(buffer), size_t(len));
}
}  // namespace

MTSClient* MTS_RegisterClient() {
  return mts::registerClient(masterLibrary());
}
void MTS_DeregisterClient(MTSClient* c) {
  mts::deregisterClient(c);
}
bool MTS_HasMaster(MTSClient* c) {
  return mts::hasMaster(c);
}
bool MTS_Client_ShouldUpdateLibrary(MTSClient* c) {
  return mts::shouldUpdateLibrary(c);
}

bool MTS_ShouldFilterNote(MTSClient* c, char note, char ch) {
  return mts::shouldFilterNote(c, noteOf(note), channelOf(ch));
}
double MTS_NoteToFrequency(MTSClient* c, char note, char ch) {
  return mts::noteToFrequency(c, noteOf(note), channelOf(ch));
}
double MTS_RetuningAsRatio(MTSClient* c, char note, char ch) {
  return mts::retuningAsRatio(c, noteOf(note), channelOf(ch));
}
double MTS_RetuningInSemitones(MTSClient* c, char note, char ch) {
  return mts::retuningInSemitones(c, noteOf(note), channelOf(ch));
}
char MTS_FrequencyToNote(MTSClient* c, double freq, char ch) {
  return char(mts::frequencyToNote(c, freq, channelOf(ch)));
}
char MTS_FrequencyToNoteAndChannel(MTSClient* c, double freq, char* ch) {
  int found = 0;
  const int note = mts::frequencyToNoteAndChannel(c, freq, ch ? &found : nullptr);
  if (ch) *ch = char(found);
  return char(note);
}

const char* MTS_GetScaleName(MTSClient* c) {
  return mts::scaleName(c);
}
double MTS_GetPeriodRatio(MTSClient* c) {
  return mts::periodRatio(c);
}
double MTS_GetPeriodSemitones(MTSClient* c) {
  return mts::periodSemitones(c);
}
char MTS_GetMapSize(MTSClient* c) {
  return char(mts::mapSize(c));
}
char MTS_GetMapStartKey(MTSClient* c) {
  return char(mts::mapStartKey(c));
}
char MTS_GetRefKey(MTSClient* c) {
  return char(mts::refKey(c));
}

void MTS_ParseMIDIDataU(MTSClient* c, const unsigned char* buffer, int len) {
  parse(c, buffer, len);
}
void MTS_ParseMIDIData(MTSClient* c, const char* buffer, int len) {
  parse(c, buffer, len);
}
bool MTS_HasReceivedMTSSysEx(MTSClient* c) {
  return mts::hasReceivedSysEx(c);
}
