// Fuzzes the MIDI Tuning Standard reader: any bytes; the table must stay finite and positive and the
// map values must stay either unset or the scale/octave pair.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tuning/MTSClient.h"
#include "tuning/MTSSysEx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kNoPaths[] = {nullptr};
  static const MasterLibrary noMaster(kNoPaths);
  MTSClient* c = mts::registerClient(noMaster);
  mts::parseMIDIData(c, data, size);
  for (int n = 0; n < kMTSNotes; ++n) {
    const double f = mts::noteToFrequency(c, n, -1);
    if (!std::isfinite(f) || !(f > 0.0)) std::abort();
  }
  const int mapSize = mts::mapSize(c);
  if ((mapSize != -1 && mapSize != 12) || std::strlen(mts::scaleName(c)) >= MTSClient::kNameBytes)
    std::abort();
  mts::deregisterClient(c);
  return 0;
}
