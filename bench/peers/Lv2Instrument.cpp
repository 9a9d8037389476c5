#include "peers/Lv2Instrument.h"

#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/parameters/parameters.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace peers {

namespace {

// Large enough for a plug-in that sends its whole state to a user interface through its output.
constexpr size_t kAtomBufferBytes = 1 << 20;

// Owns one lilv node.
struct Node {
  LilvNode* node;
  explicit Node(LilvNode* n) : node(n) {}
  ~Node() { lilv_node_free(node); }
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
};

}  // namespace

// ---- UridMap

UridMap::UridMap()
    : mapTable{this, [](LV2_URID_Map_Handle self,
                        const char* uri) { return static_cast<UridMap*>(self)->map(uri); }},
      unmapTable{this, [](LV2_URID_Unmap_Handle self, LV2_URID urid) {
                   return static_cast<UridMap*>(self)->unmap(urid);
                 }} {}

LV2_URID UridMap::map(const char* uri) {
  std::lock_guard<std::mutex> hold(guard);
  const auto found = std::find(uris.begin(), uris.end(), uri);
  if (found != uris.end()) return static_cast<LV2_URID>(found - uris.begin()) + 1;
  uris.emplace_back(uri);
  return static_cast<LV2_URID>(uris.size());
}

const char* UridMap::unmap(LV2_URID urid) const {
  std::lock_guard<std::mutex> hold(guard);
  return urid >= 1 && urid <= uris.size() ? uris[urid - 1].c_str() : nullptr;
}

// ---- Lv2World

Lv2World::Lv2World() : lilvWorld(lilv_world_new()) {
  lilv_world_load_all(lilvWorld);
}

Lv2World::~Lv2World() {
  lilv_world_free(lilvWorld);
}

const LilvPlugin* Lv2World::plugin(const std::string& uri) const {
  const Node node(lilv_new_uri(lilvWorld, uri.c_str()));
  return lilv_plugins_get_by_uri(lilv_world_get_all_plugins(lilvWorld), node.node);
}

// ---- Lv2Worker

Lv2Worker::Lv2Worker() : scheduleTable{this, schedule}, thread([this] { serve(); }) {}

Lv2Worker::~Lv2Worker() {
  {
    std::lock_guard<std::mutex> hold(guard);
    quit = true;
  }
  wake.notify_one();
  thread.join();
}

void Lv2Worker::attach(LV2_Handle handle, const LV2_Worker_Interface* iface) {
  {
    std::lock_guard<std::mutex> hold(guard);
    pluginHandle = handle;
    workerInterface = iface;
  }
  wake.notify_one();
}

LV2_Worker_Status Lv2Worker::schedule(LV2_Worker_Schedule_Handle handle, uint32_t size, const void* data) {
  auto& self = *static_cast<Lv2Worker*>(handle);
  const auto* bytes = static_cast<const uint8_t*>(data);
  {
    std::lock_guard<std::mutex> hold(self.guard);
    self.requests.emplace_back(bytes, bytes + size);
  }
  self.wake.notify_one();
  return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status Lv2Worker::respond(LV2_Worker_Respond_Handle handle, uint32_t size, const void* data) {
  auto& self = *static_cast<Lv2Worker*>(handle);
  const auto* bytes = static_cast<const uint8_t*>(data);
  std::lock_guard<std::mutex> hold(self.guard);
  self.responses.emplace_back(bytes, bytes + size);
  return LV2_WORKER_SUCCESS;
}

void Lv2Worker::serve() {
  std::unique_lock<std::mutex> hold(guard);
  for (;;) {
    wake.wait(hold, [this] { return quit || (workerInterface && !requests.empty()); });
    if (quit) return;
    const Message request = std::move(requests.front());
    requests.pop_front();
    const LV2_Worker_Interface* iface = workerInterface;
    const LV2_Handle handle = pluginHandle;
    working = true;
    hold.unlock();
    iface->work(handle, respond, this, static_cast<uint32_t>(request.size()), request.data());
    hold.lock();
    working = false;
    idle.notify_all();
  }
}

void Lv2Worker::detach() {
  std::unique_lock<std::mutex> hold(guard);
  workerInterface = nullptr;
  pluginHandle = nullptr;
  idle.wait(hold, [this] { return !working; });
}

void Lv2Worker::deliverResponses() {
  {
    std::lock_guard<std::mutex> hold(guard);
    if (!workerInterface) return;
    delivering.swap(responses);
  }
  for (const Message& response : delivering)
    workerInterface->work_response(pluginHandle, static_cast<uint32_t>(response.size()), response.data());
  delivering.clear();
  if (workerInterface->end_run) workerInterface->end_run(pluginHandle);
}

// ---- Lv2Instrument

Lv2Instrument::Lv2Instrument(Lv2World& host, const LilvPlugin* found, double rate)
    : world(host), plugin(found), sampleRate(rate), rateValue(static_cast<float>(rate)) {
  UridMap& urids = world.urids();
  midiEventType = urids.map(LV2_MIDI__MidiEvent);
  sequenceType = urids.map(LV2_ATOM__Sequence);
  chunkType = urids.map(LV2_ATOM__Chunk);
}

Lv2Instrument::~Lv2Instrument() {
  if (!instance) return;
  lilv_instance_deactivate(instance);
  worker.detach();
  lilv_instance_free(instance);
}

std::unique_ptr<Lv2Instrument> Lv2Instrument::create(Lv2World& world, const std::string& pluginUri,
                                                     const std::string& presetUri, double sampleRate,
                                                     std::string& error) {
  const LilvPlugin* plugin = world.plugin(pluginUri);
  if (!plugin) {
    error = "not installed: " + pluginUri;
    return nullptr;
  }
  std::unique_ptr<Lv2Instrument> instrument(new Lv2Instrument(world, plugin, sampleRate));
  if (!instrument->instantiate(error)) return nullptr;
  instrument->connectPorts();
  if (!instrument->midiIn || instrument->audioOut.empty()) {
    error = pluginUri + ": no MIDI input or no audio output";
    return nullptr;
  }
  lilv_instance_activate(instrument->instance);
  if (!presetUri.empty() && !instrument->restorePreset(presetUri, error)) return nullptr;
  return instrument;
}

bool Lv2Instrument::instantiate(std::string& error) {
  UridMap& urids = world.urids();
  const LV2_URID intType = urids.map(LV2_ATOM__Int);
  const LV2_URID floatType = urids.map(LV2_ATOM__Float);
  auto option = [&](const char* key, LV2_URID type, const void* value) {
    return LV2_Options_Option{LV2_OPTIONS_INSTANCE, 0, urids.map(key), sizeof(int32_t), type, value};
  };
  options = {option(LV2_BUF_SIZE__nominalBlockLength, intType, &blockLength),
             option(LV2_BUF_SIZE__maxBlockLength, intType, &blockLength),
             option(LV2_BUF_SIZE__minBlockLength, intType, &blockLength),
             option(LV2_PARAMETERS__sampleRate, floatType, &rateValue),
             {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
  featureStore = {
      {LV2_URID__map, urids.mapFeature()},         {LV2_URID__unmap, urids.unmapFeature()},
      {LV2_OPTIONS__options, options.data()},      {LV2_WORKER__schedule, worker.scheduleFeature()},
      {LV2_BUF_SIZE__boundedBlockLength, nullptr}, {LV2_BUF_SIZE__fixedBlockLength, nullptr},
      {LV2_BUF_SIZE__powerOf2BlockLength, nullptr}};
  for (const LV2_Feature& feature : featureStore) features.push_back(&feature);
  features.push_back(nullptr);

  instance = lilv_plugin_instantiate(plugin, sampleRate, features.data());
  if (!instance) {
    error =
        std::string(lilv_node_as_uri(lilv_plugin_get_uri(plugin))) + ": the plug-in refused to instantiate";
    return false;
  }
  worker.attach(lilv_instance_get_handle(instance),
                static_cast<const LV2_Worker_Interface*>(
                    lilv_instance_get_extension_data(instance, LV2_WORKER__interface)));
  return true;
}

void Lv2Instrument::connectPorts() {
  LilvWorld* lilv = world.world();
  const Node audioClass(lilv_new_uri(lilv, LV2_CORE__AudioPort));
  const Node controlClass(lilv_new_uri(lilv, LV2_CORE__ControlPort));
  const Node atomClass(lilv_new_uri(lilv, LV2_ATOM__AtomPort));
  const Node inputClass(lilv_new_uri(lilv, LV2_CORE__InputPort));
  const Node midiEvent(lilv_new_uri(lilv, LV2_MIDI__MidiEvent));

  const uint32_t count = lilv_plugin_get_num_ports(plugin);
  std::vector<float> defaults(count);
  lilv_plugin_get_port_ranges_float(plugin, nullptr, nullptr, defaults.data());
  ports.resize(count);
  for (uint32_t i = 0; i < count; ++i) {
    const LilvPort* lilvPort = lilv_plugin_get_port_by_index(plugin, i);
    Port& port = ports[i];
    port.input = lilv_port_is_a(plugin, lilvPort, inputClass.node);
    port.symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, lilvPort));
    if (lilv_port_is_a(plugin, lilvPort, controlClass.node)) {
      port.kind = Port::Kind::Control;
      port.data.assign(1, 0);
      port.floats()[0] = std::isnan(defaults[i]) ? 0.0f : defaults[i];
    } else if (lilv_port_is_a(plugin, lilvPort, atomClass.node)) {
      port.kind = Port::Kind::Atom;
      port.data.assign(kAtomBufferBytes / sizeof(uint64_t), 0);
      if (port.input && !midiIn && lilv_port_supports_event(plugin, lilvPort, midiEvent.node)) midiIn = &port;
    } else {
      // Audio, CV and any other port: a block of floats, silent when it is an input.
      port.kind = lilv_port_is_a(plugin, lilvPort, audioClass.node) ? Port::Kind::Audio : Port::Kind::Other;
      port.data.assign(kBlockFrames / 2, 0);
    }
    if (port.kind == Port::Kind::Audio && !port.input) audioOut.push_back(&port);
    lilv_instance_connect_port(instance, i, port.data.data());
  }
  clearAtomPorts();
}

bool Lv2Instrument::restorePreset(const std::string& presetUri, std::string& error) {
  LilvWorld* lilv = world.world();
  const Node preset(lilv_new_uri(lilv, presetUri.c_str()));
  lilv_world_load_resource(lilv, preset.node);
  LilvState* state = lilv_state_new_from_world(lilv, world.urids().mapFeature(), preset.node);
  if (!state) {
    error = "no preset " + presetUri;
    return false;
  }
  lilv_state_restore(state, instance, setPortValue, this, 0, features.data());
  lilv_state_free(state);
  return true;
}

void Lv2Instrument::setPortValue(const char* symbol, void* self, const void* value, uint32_t size,
                                 uint32_t type) {
  auto& instrument = *static_cast<Lv2Instrument*>(self);
  if (size != sizeof(float) || type != instrument.world.urids().map(LV2_ATOM__Float)) return;
  for (Port& port : instrument.ports) {
    if (port.kind == Port::Kind::Control && port.input && port.symbol == symbol)
      std::memcpy(port.floats(), value, sizeof(float));
  }
}

void Lv2Instrument::clearAtomPorts() {
  for (Port& port : ports) {
    if (port.kind != Port::Kind::Atom) continue;
    auto* atom = reinterpret_cast<LV2_Atom_Sequence*>(port.data.data());
    if (port.input) {
      atom->atom.type = sequenceType;
      lv2_atom_sequence_clear(atom);
    } else {
      // An output buffer is offered as an empty chunk of its whole capacity.
      atom->atom.type = chunkType;
      atom->atom.size = kAtomBufferBytes - sizeof(LV2_Atom);
    }
  }
}

void Lv2Instrument::queueMidi(uint8_t status, uint8_t data1, uint8_t data2) {
  struct {
    LV2_Atom_Event event;
    uint8_t bytes[8];
  } midi{};
  midi.event.time.frames = 0;
  midi.event.body.type = midiEventType;
  midi.event.body.size = 3;
  midi.bytes[0] = status;
  midi.bytes[1] = data1;
  midi.bytes[2] = data2;
  lv2_atom_sequence_append_event(reinterpret_cast<LV2_Atom_Sequence*>(midiIn->data.data()),
                                 kAtomBufferBytes - sizeof(LV2_Atom), &midi.event);
}

void Lv2Instrument::noteOn(int key, double velocity) {
  const auto midiVelocity = static_cast<uint8_t>(std::clamp(std::lround(velocity * 127.0), 1l, 127l));
  queueMidi(LV2_MIDI_MSG_NOTE_ON, static_cast<uint8_t>(key), midiVelocity);
}

void Lv2Instrument::noteOff(int key) {
  queueMidi(LV2_MIDI_MSG_NOTE_OFF, static_cast<uint8_t>(key), 0);
}

void Lv2Instrument::processBlock() {
  lilv_instance_run(instance, kBlockFrames);
  worker.deliverResponses();
  clearAtomPorts();
}

float Lv2Instrument::lastBlockPeak() const {
  float peak = 0.0f;
  for (const Port* port : audioOut) {
    const float* samples = port->floats();
    for (unsigned i = 0; i < kBlockFrames; ++i) peak = std::max(peak, std::fabs(samples[i]));
  }
  return peak;
}

}  // namespace peers
