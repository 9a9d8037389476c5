// Writing the host state stream.
#include <cstdint>
#include <string>

#include "state/KitSection.h"
#include "state/SideData.h"
#include "state/StateStream.h"
#include "state/StreamIo.h"

namespace {

bool writeHeaderAndParams(const clap_ostream* stream, const PluginProcessor& engine) {
  if (!tavrin_stream_write_all(stream, kStateMagic, sizeof kStateMagic) ||
      !writeField(stream, kStateVersion) || !writeField(stream, kNumParams))
    return false;
  for (uint32_t id = 0; id < kNumParams; ++id)
    if (!writeField(stream, engine.getParam(id))) return false;
  return true;
}

bool writeControllerMap(const clap_ostream* stream, const TavrinStateSidecar& sidecar) {
  for (uint32_t word : sidecar.ccMap)
    if (!writeField(stream, word)) return false;
  return true;
}

bool writeSideData(const clap_ostream* stream, const std::string& text) {
  return writeField(stream, static_cast<uint32_t>(text.size())) &&
         tavrin_stream_write_all(stream, text.data(), text.size());
}

}  // namespace

bool tavrin_state_save_stream(const clap_ostream* stream, PluginProcessor& engine,
                              TavrinStateSidecar& sidecar, std::mutex& lock) {
  if (!writeHeaderAndParams(stream, engine) || !writeControllerMap(stream, sidecar)) return false;
  const std::string text = mergeSideData(engine, sidecar, lock);
  // The length field is 32 bits wide: a longer text could not be framed, so it is left out.
  const bool fits = text.size() <= UINT32_MAX;
  if (!writeSideData(stream, fits ? text : std::string())) return false;
  std::lock_guard guard(lock);
  return tavrin_write_kit_section(stream, engine);
}
