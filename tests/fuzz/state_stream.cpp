// Fuzzes the host state stream reader: any bytes after a first byte that sets how many bytes the stream
// hands out per read. A refused stream must change nothing (the engine saves the same stream as before);
// whatever loads must be playable and must save and load again to the same values.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "state/StateStream.h"
#include "tests/state/MemoryStreams.h"
#include "tests/state/PlayableEngine.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto engine = std::make_unique<PluginProcessor>();
  static auto again = std::make_unique<PluginProcessor>();
  if (size < 1) return 0;
  MemoryIStream in(std::vector<uint8_t>(data + 1, data + size));
  in.chunk = data[0] == 0 ? SIZE_MAX : data[0];
  TavrinStateSidecar sidecar;
  TavrinStateSidecar before = sidecar;
  std::vector<uint8_t> saved;
  check(tavrin_state_save(*engine, saved, before));
  std::mutex lock;
  if (!tavrin_state_load_stream(&in.stream, *engine, sidecar, lock)) {
    std::vector<uint8_t> after;
    check(tavrin_state_save(*engine, after, sidecar) && after == saved);
    return 0;
  }
  check(engineIsPlayable(*engine));

  check(tavrin_state_save(*engine, saved, sidecar));
  TavrinStateSidecar reloaded;
  check(tavrin_state_load(*again, saved.data(), saved.size(), reloaded));
  for (uint32_t id = 0; id < kNumParams; ++id) check(again->getParam(id) == engine->getParam(id));
  check(reloaded.ccMap == sidecar.ccMap);
  check(again->afxModeOn() == engine->afxModeOn() && again->afxBaseKeyValue() == engine->afxBaseKeyValue());
  return 0;
}
