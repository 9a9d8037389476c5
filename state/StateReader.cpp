// Reading the host state stream: reset, header, parameters, controller map, side data and kit, then the
// repairs of old values and the side data applied to the engine.
#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "state/KitSection.h"
#include "state/SideData.h"
#include "state/StateStream.h"
#include "state/StreamIo.h"

namespace {

constexpr size_t kSideDataChunk = 4096;

void resetForLoad(PluginProcessor& engine, TavrinStateSidecar& sidecar, std::mutex& lock) {
  for (uint32_t id = 0; id < kNumParams; ++id) engine.setParam(id, kParams[id].def);
  {
    std::lock_guard guard(lock);
    sidecar.json.clear();
    sidecar.name.clear();
    sidecar.filename.clear();
    sidecar.source.clear();
  }
  engine.clearLocalTuning();
  engine.setRatioLocked(false);
  engine.setFilterLocked(0, false);
  engine.setFilterLocked(1, false);
  engine.clearRebasePending();
  engine.bumpSnapEpoch();
  engine.resetSeqRateCommitted();
  engine.setGlideSmooth(false);
  const float zeros[PluginProcessor::kSeqSteps] = {};
  const unsigned char noTies[PluginProcessor::kSeqSteps] = {};
  for (int lane = 0; lane < 3; ++lane) {
    engine.setSeqSteps(lane, zeros, 0);
    engine.setSeqEnabled(lane, false);
  }
  engine.setSeqTies(0, noTies, 0);
  engine.setSeqTies(1, noTies, 0);
  engine.setSeqTarget(1, 0);
  engine.setRatioSelection(nullptr, nullptr, 0);
  std::lock_guard guard(lock);
  engine.clearSnapshot(0);
  engine.clearSnapshot(1);
  clearKit(engine);
}

// count values for ids 0, 1, ...: those of the table's ids are set, the rest read and dropped; a short
// read ends them.
void readParamValues(const clap_istream* stream, PluginProcessor& engine, uint32_t count) {
  for (uint32_t id = 0; id < count; ++id) {
    double value = 0.0;
    if (!readField(stream, value)) return;
    if (id < kNumParams) engine.setParam(id, value);
  }
}

void readControllerMap(const clap_istream* stream, TavrinStateSidecar& sidecar) {
  for (uint32_t& word : sidecar.ccMap)
    if (!readField(stream, word)) return;
}

// Reads (or, when keep is false, skips) length bytes in pieces, so a length that promises more than the
// stream holds costs no more memory than the stream gives. False at a short read.
bool readBlock(const clap_istream* stream, uint32_t length, bool keep, std::string& text) {
  char chunk[kSideDataChunk];
  for (uint32_t done = 0; done < length;) {
    const size_t n = std::min<size_t>(kSideDataChunk, length - done);
    if (!tavrin_stream_read_all(stream, chunk, n)) return false;
    if (keep) text.append(chunk, n);
    done += static_cast<uint32_t>(n);
  }
  return true;
}

// The side-data block: a text of 1 byte up to the limit becomes the sidecar's JSON (cleared at a short
// read); a longer one is skipped so the kit section after it is still found.
void readSideData(const clap_istream* stream, TavrinStateSidecar& sidecar, std::mutex& lock) {
  uint32_t length = 0;
  if (!readField(stream, length) || length == 0) return;
  const bool keep = length < kMaxSideDataBytes;
  std::string text;
  const bool whole = readBlock(stream, length, keep, text);
  if (!keep) return;
  std::lock_guard guard(lock);
  sidecar.json = whole ? std::move(text) : std::string();
}

bool readTaggedStream(const clap_istream* stream, PluginProcessor& engine, TavrinStateSidecar& sidecar,
                      std::mutex& lock) {
  uint32_t version = 0;
  uint32_t count = 0;
  if (!readField(stream, version) || !readField(stream, count)) return false;
  readParamValues(stream, engine, count);
  if (version >= 2) readControllerMap(stream, sidecar);
  if (version >= 3) readSideData(stream, sidecar, lock);
  if (version >= 4) {
    std::lock_guard guard(lock);
    tavrin_read_kit_section(stream, engine, version);
  }
  return true;
}

// The legacy form: the four bytes already read and four more make value 0, then values 1..46.
bool readLegacyStream(const clap_istream* stream, const uint8_t (&first)[4], PluginProcessor& engine) {
  uint8_t bytes[8];
  std::memcpy(bytes, first, sizeof first);
  if (!tavrin_stream_read_all(stream, bytes + 4, 4)) return false;
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  engine.setParam(0, std::bit_cast<double>(bits));
  for (uint32_t id = 1; id < kLegacyParamCount; ++id) {
    double value = 0.0;
    if (!readField(stream, value)) break;
    engine.setParam(id, value);
  }
  return true;
}

// Values that older versions stored differently: the third LFO sync mode is gone, and the plucked
// envelope model became the classic one with sustain 0 and the decay as release.
void repairLoadedParams(PluginProcessor& engine) {
  for (uint32_t id : {kParamLfo1SyncMode, kParamLfo2SyncMode})
    if (engine.getParam(id) > 1.5) engine.setParam(id, 1.0);
  if (engine.getParam(kParamEnvModel) > 0.5) {
    engine.setParam(kParamAmpEnvSustain, 0.0);
    engine.setParam(kParamAmpEnvRelease, engine.getParam(kParamAmpEnvDecay));
    engine.setParam(kParamEnvModel, 0.0);
  }
}

}  // namespace

bool tavrin_state_load_stream(const clap_istream* stream, PluginProcessor& engine,
                              TavrinStateSidecar& sidecar, std::mutex& lock) {
  resetForLoad(engine, sidecar, lock);
  uint8_t magic[4];
  if (!tavrin_stream_read_all(stream, magic, sizeof magic)) return false;
  const bool tagged = std::memcmp(magic, kStateMagic, sizeof magic) == 0;
  if (tagged ? !readTaggedStream(stream, engine, sidecar, lock) : !readLegacyStream(stream, magic, engine))
    return false;
  repairLoadedParams(engine);
  applySideData(engine, sidecar, lock);
  engine.openPostLoadRebaseGrace();
  return true;
}
