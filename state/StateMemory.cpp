// The state stream over memory buffers.
#include "state/StateStream.h"
#include "state/StreamIo.h"

bool tavrin_state_save(PluginProcessor& engine, std::vector<uint8_t>& out, TavrinStateSidecar& sidecar) {
  out.clear();
  const AppendingOStream sink(out);
  std::mutex lock;
  return tavrin_state_save_stream(sink.stream(), engine, sidecar, lock);
}

bool tavrin_state_load(PluginProcessor& engine, const uint8_t* data, size_t size,
                       TavrinStateSidecar& sidecar) {
  if (data == nullptr || size == 0) return false;
  BufferIStream source(data, size);
  std::mutex lock;
  return tavrin_state_load_stream(source.stream(), engine, sidecar, lock);
}
