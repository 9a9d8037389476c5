#include "tools/host/PluginInstance.h"

#include <algorithm>
#include <cstring>

#include "clap/ext/state.h"
#include "clap/ext/timer-support.h"
#include "tools/host/Host.h"

namespace tavrin::host {

PluginInstance::PluginInstance(const clap_plugin_factory* factory, const Host& host, const char* pluginId)
    : clapPlugin(factory->create_plugin(factory, host.clapHost(), pluginId)) {}

namespace {

// A clap_istream over bytes in memory, answering 0 at the end.
struct ByteReader {
  const std::vector<uint8_t>& bytes;
  size_t position = 0;

  static int64_t read(const clap_istream* stream, void* buffer, uint64_t size) {
    auto& self = *static_cast<ByteReader*>(stream->ctx);
    const size_t n = static_cast<size_t>(std::min<uint64_t>(size, self.bytes.size() - self.position));
    if (n > 0) std::memcpy(buffer, self.bytes.data() + self.position, n);
    self.position += n;
    return static_cast<int64_t>(n);
  }
};

}  // namespace

bool PluginInstance::loadState(const std::vector<uint8_t>& bytes) {
  const auto* state = extension<clap_plugin_state>(CLAP_EXT_STATE);
  if (!state || !state->load) return false;
  ByteReader reader{bytes};
  const clap_istream stream{&reader, &ByteReader::read};
  return state->load(clapPlugin, &stream);
}

void PluginInstance::fireTimers(const Host& host) {
  const auto* timers = extension<clap_plugin_timer_support>(CLAP_EXT_TIMER_SUPPORT);
  if (timers == nullptr || timers->on_timer == nullptr) return;
  for (const clap_id id : host.timers()) timers->on_timer(clapPlugin, id);
}

void PluginInstance::destroy() {
  if (clapPlugin) clapPlugin->destroy(clapPlugin);
  clapPlugin = nullptr;
}

}  // namespace tavrin::host
