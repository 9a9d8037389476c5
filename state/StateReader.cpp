// Reading the host state stream. The whole stream is read and checked first; only a stream that passes
// resets the engine, hands over its values, map, side data and kit, has its old values repaired and its
// side data applied. A refused stream leaves the engine and the sidecar as they were.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "state/KitSection.h"
#include "state/SideData.h"
#include "state/SnapshotMigration.h"
#include "state/StateStream.h"
#include "state/StreamIo.h"

namespace {

constexpr size_t kSideDataChunk = 4096;

// What a stream holds, read before anything changes. The legacy form counts as version 0. Large: keep it
// on the heap.
struct StreamContents {
  uint32_t version{0};
  std::array<double, kNumParams> values{};
  uint32_t valueCount{0};  // values read, for ids 0 .. valueCount - 1
  std::array<uint32_t, TavrinStateSidecar::kNumControllers> ccMap{};
  uint32_t ccWords{0};              // controller words read, from controller 0
  std::optional<std::string> json;  // the side data, when its block was there (empty when cut short)
  bool hasKit{false};               // the kit section's header was read and its count accepted
  KitSectionData kit;
};

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
  // A stream whose side data does not ask for the modern model was saved playing the classic one, the
  // default before; only the side data's "envFeel" turns the modern model on.
  engine.setEnvFeelModern(false);
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

// count values for ids 0, 1, ...: those of the table's ids are kept, the rest read and dropped; a short
// read ends them.
void readParamValues(const clap_istream* stream, uint32_t count, StreamContents& out) {
  for (uint32_t id = 0; id < count; ++id) {
    double value = 0.0;
    if (!readField(stream, value)) return;
    if (id < kNumParams) out.values[out.valueCount++] = value;
  }
}

void readControllerMap(const clap_istream* stream, StreamContents& out) {
  while (out.ccWords < out.ccMap.size() && readField(stream, out.ccMap[out.ccWords])) ++out.ccWords;
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

// The side-data block: a text of 1 byte up to the limit is kept (as empty when cut short); a longer one
// is skipped so the kit section after it is still found.
void readSideData(const clap_istream* stream, StreamContents& out) {
  uint32_t length = 0;
  if (!readField(stream, length) || length == 0) return;
  const bool keep = length < kMaxSideDataBytes;
  std::string text;
  const bool whole = readBlock(stream, length, keep, text);
  if (keep) out.json = whole ? std::move(text) : std::string();
}

bool readTaggedStream(const clap_istream* stream, StreamContents& out) {
  uint32_t count = 0;
  if (!readField(stream, out.version) || !readField(stream, count)) return false;
  readParamValues(stream, count, out);
  if (out.version >= 2) readControllerMap(stream, out);
  if (out.version >= 3) readSideData(stream, out);
  if (out.version >= 4) out.hasKit = readKitSection(stream, out.version, out.kit);
  return true;
}

// A legacy value no writer could have stored: not finite, or more than a whole range width outside the
// parameter's range (values a little outside are kept: older versions had other ranges).
bool implausibleLegacyValue(uint32_t id, double value) {
  const ParamInfo& row = kParams[id];
  const double width = row.max - row.min;
  return !std::isfinite(value) || value < row.min - width || value > row.max + width;
}

// The legacy form: the four bytes already read and four more make value 0, then values 1..46. Refused
// when it holds more than those values or any value is implausible, which random bytes almost always do.
bool readLegacyStream(const clap_istream* stream, const uint8_t (&first)[4], StreamContents& out) {
  uint8_t bytes[8];
  std::memcpy(bytes, first, sizeof first);
  if (!tavrin_stream_read_all(stream, bytes + 4, 4)) return false;
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  out.values[0] = std::bit_cast<double>(bits);
  out.valueCount = 1;
  while (out.valueCount < kLegacyParamCount && readField(stream, out.values[out.valueCount]))
    ++out.valueCount;
  uint8_t more = 0;
  if (out.valueCount == kLegacyParamCount && readField(stream, more)) return false;
  for (uint32_t id = 0; id < out.valueCount; ++id)
    if (implausibleLegacyValue(id, out.values[id])) return false;
  return true;
}

// The repairs for streams up to version 5 and the legacy form, written when these values meant something
// else: an LFO sync mode above 1.5 reads as synced, and the plucked envelope model as the classic one
// with sustain 0 and the decay as release.
void repairLoadedParams(PluginProcessor& engine) {
  for (uint32_t id : {kParamLfo1SyncMode, kParamLfo2SyncMode})
    if (engine.getParam(id) > 1.5) engine.setParam(id, 1.0);
  if (engine.getParam(kParamEnvModel) > 0.5) {
    engine.setParam(kParamAmpEnvSustain, 0.0);
    engine.setParam(kParamAmpEnvRelease, engine.getParam(kParamAmpEnvDecay));
    engine.setParam(kParamEnvModel, 0.0);
  }
}

// Replaces the engine's state and the sidecar's side data with what the stream held.
void applyContents(const StreamContents& in, PluginProcessor& engine, TavrinStateSidecar& sidecar,
                   std::mutex& lock) {
  resetForLoad(engine, sidecar, lock);
  for (uint32_t id = 0; id < in.valueCount; ++id) engine.setParam(id, in.values[id]);
  std::copy_n(in.ccMap.begin(), in.ccWords, sidecar.ccMap.begin());
  {
    std::lock_guard guard(lock);
    if (in.json) sidecar.json = *in.json;
    if (in.hasKit) applyKitSection(engine, in.kit);
  }
  if (streamNeedsMigration(in.version)) repairLoadedParams(engine);
  applySideData(engine, sidecar, lock, in.version);
  engine.openPostLoadRebaseGrace();
}

}  // namespace

bool tavrin_state_load_stream(const clap_istream* stream, PluginProcessor& engine,
                              TavrinStateSidecar& sidecar, std::mutex& lock) {
  auto contents = std::make_unique<StreamContents>();
  uint8_t magic[4];
  if (!tavrin_stream_read_all(stream, magic, sizeof magic)) return false;
  const bool tagged = std::memcmp(magic, kStateMagic, sizeof magic) == 0;
  if (tagged ? !readTaggedStream(stream, *contents) : !readLegacyStream(stream, magic, *contents))
    return false;
  applyContents(*contents, engine, sidecar, lock);
  return true;
}
