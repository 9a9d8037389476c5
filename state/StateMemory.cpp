// The state stream over memory buffers.
#include <algorithm>
#include <cstring>

#include "state/StateStream.h"
#include "state/StreamIo.h"

namespace {

struct BufferSource {
  const uint8_t* data;
  size_t size;
  size_t position = 0;

  static int64_t read(const clap_istream* stream, void* buffer, uint64_t size) {
    auto& self = *static_cast<BufferSource*>(stream->ctx);
    const size_t n = static_cast<size_t>(std::min<uint64_t>(size, self.size - self.position));
    if (n > 0) std::memcpy(buffer, self.data + self.position, n);
    self.position += n;
    return static_cast<int64_t>(n);
  }
};

}  // namespace

bool tavrin_state_save(PluginProcessor& engine, std::vector<uint8_t>& out, TavrinStateSidecar& sidecar) {
  out.clear();
  const AppendingOStream sink(out);
  std::mutex lock;
  return tavrin_state_save_stream(sink.stream(), engine, sidecar, lock);
}

bool tavrin_state_load(PluginProcessor& engine, const uint8_t* data, size_t size,
                       TavrinStateSidecar& sidecar) {
  if (data == nullptr || size == 0) return false;
  BufferSource source{data, size};
  const clap_istream stream{&source, &BufferSource::read};
  std::mutex lock;
  return tavrin_state_load_stream(&stream, engine, sidecar, lock);
}
