// The exported MTS-ESP client functions (C linkage). Our own code calls the mts:: functions instead, so
// a library loaded with the same names can never capture our calls.
#pragma once

#include <cstdint>

struct MTSClient;

#define TAVRIN_MTS_EXPORT extern "C" __attribute__((visibility("default")))

TAVRIN_MTS_EXPORT MTSClient* MTS_RegisterClient();
TAVRIN_MTS_EXPORT void MTS_DeregisterClient(MTSClient* client);
TAVRIN_MTS_EXPORT bool MTS_HasMaster(MTSClient* client);
TAVRIN_MTS_EXPORT bool MTS_Client_ShouldUpdateLibrary(MTSClient* client);
TAVRIN_MTS_EXPORT bool MTS_ShouldFilterNote(MTSClient* client, char midinote, char midichannel);
TAVRIN_MTS_EXPORT double MTS_NoteToFrequency(MTSClient* client, char midinote, char midichannel);
TAVRIN_MTS_EXPORT double MTS_RetuningAsRatio(MTSClient* client, char midinote, char midichannel);
TAVRIN_MTS_EXPORT double MTS_RetuningInSemitones(MTSClient* client, char midinote, char midichannel);
TAVRIN_MTS_EXPORT char MTS_FrequencyToNote(MTSClient* client, double freq, char midichannel);
TAVRIN_MTS_EXPORT char MTS_FrequencyToNoteAndChannel(MTSClient* client, double freq, char* midichannel);
TAVRIN_MTS_EXPORT const char* MTS_GetScaleName(MTSClient* client);
TAVRIN_MTS_EXPORT double MTS_GetPeriodRatio(MTSClient* client);
TAVRIN_MTS_EXPORT double MTS_GetPeriodSemitones(MTSClient* client);
TAVRIN_MTS_EXPORT char MTS_GetMapSize(MTSClient* client);
TAVRIN_MTS_EXPORT char MTS_GetMapStartKey(MTSClient* client);
TAVRIN_MTS_EXPORT char MTS_GetRefKey(MTSClient* client);
TAVRIN_MTS_EXPORT void MTS_ParseMIDIDataU(MTSClient* client, const unsigned char* buffer, int len);
TAVRIN_MTS_EXPORT void MTS_ParseMIDIData(MTSClient* client, const char* buffer, int len);
TAVRIN_MTS_EXPORT bool MTS_HasReceivedMTSSysEx(MTSClient* client);
