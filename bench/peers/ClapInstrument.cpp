#include "peers/ClapInstrument.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "tools/host/Renderer.h"

namespace peers {

ClapInstrument::ClapInstrument(const tavrin::host::ClapModule& module, double sampleRate)
    : instance(module.factory(), host, module.firstDescriptor()->id),
      transport(tavrin::host::makeTransport({.enabled = true, .playing = false}, 0, sampleRate)) {
  // Everything runs on this thread, the audio thread included.
  host.setAudioThread(std::this_thread::get_id());
}

std::unique_ptr<ClapInstrument> ClapInstrument::create(const tavrin::host::ClapModule& module,
                                                       const std::vector<uint8_t>& state, double sampleRate,
                                                       std::string& error) {
  std::unique_ptr<ClapInstrument> self(new ClapInstrument(module, sampleRate));
  tavrin::host::PluginInstance& plugin = self->instance;
  if (!plugin.valid() || !plugin.init()) {
    error = "Tavrin: the module gave no instance";
  } else if (state.empty() || !plugin.loadState(state)) {
    error = "Tavrin: the patch's state was refused";
  } else if (!(self->active = plugin.activate(sampleRate, 1, kBlockFrames))) {
    error = "Tavrin: activation failed";
  } else if (!(self->processing = plugin.startProcessing())) {
    error = "Tavrin: start_processing failed";
  } else {
    if (self->host.takeCallbackRequest()) plugin.onMainThread();
    return self;
  }
  return nullptr;
}

ClapInstrument::~ClapInstrument() {
  if (processing) instance.stopProcessing();
  if (active) instance.deactivate();
}

void ClapInstrument::noteOn(int key, double velocity) {
  input.push(tavrin::host::makeNoteEvent(CLAP_EVENT_NOTE_ON, 0, static_cast<int16_t>(key), velocity));
}

void ClapInstrument::noteOff(int key) {
  input.push(tavrin::host::makeNoteEvent(CLAP_EVENT_NOTE_OFF, 0, static_cast<int16_t>(key), 0.0));
}

void ClapInstrument::processBlock() {
  float* channels[2] = {left, right};
  clap_audio_buffer out{};
  out.data32 = channels;
  out.channel_count = 2;
  clap_process block{};
  block.steady_time = -1;
  block.frames_count = kBlockFrames;
  block.transport = &transport;
  block.audio_outputs = &out;
  block.audio_outputs_count = 1;
  block.in_events = input.clapEvents();
  block.out_events = output.clapEvents();
  instance.process(block);
  input.clear();
  output.clear();
}

float ClapInstrument::lastBlockPeak() const {
  float peak = 0.0f;
  for (unsigned i = 0; i < kBlockFrames; ++i)
    peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
  return peak;
}

}  // namespace peers
