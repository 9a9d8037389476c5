#pragma once
// A CLAPPlugin made in this process and reached only through its CLAP handle, so tests can drive it
// like a host and still read the engine behind it.

#include <thread>
#include <vector>

#include "plugin/CLAPPlugin.h"
#include "tools/host/Host.h"
#include "tools/host/PluginInstance.h"
#include "tools/host/Renderer.h"

struct PluginFixture {
  explicit PluginFixture(double sampleRate = 48000.0, uint32_t maxFrames = 4096,
                         tavrin::host::HostOptions hostOptions = {})
      : rate(sampleRate),
        host(hostOptions),
        object(new CLAPPlugin(host.clapHost())),
        instance(object->clapPlugin()) {
    instance.init();
    instance.activate(sampleRate, 1, maxFrames);
  }
  ~PluginFixture() { instance.deactivate(); }

  // Renders a timeline on the renderer's audio thread in blocks of blockFrames.
  tavrin::host::RenderResult render(const std::vector<tavrin::host::TimedEvent>& timeline, uint64_t frames,
                                    uint32_t blockFrames, const tavrin::host::ProcessHooks& hooks = {}) {
    tavrin::host::RenderJob job;
    job.sampleRate = rate;
    job.frames = frames;
    job.blocks.fixedFrames = blockFrames;
    return tavrin::host::render(instance, host, timeline, job, hooks);
  }

  // Makes this thread the audio thread and starts processing, for direct process calls.
  void startOnThisThread() {
    host.setAudioThread(std::this_thread::get_id());
    instance.startProcessing();
  }

  // The gate of synthesis voice v at sample i of the engine block rendered last.
  float gate(int v, size_t i) const {
    return object->engine.allocator.getVoice(v).outputs.constRow(ml::EventsToSignalsVoice::kGateRow)[i];
  }

  double rate;
  tavrin::host::Host host;
  CLAPPlugin* object;  // owned by the handle
  tavrin::host::PluginInstance instance;
};

// Whether an edit of key waits to be folded into the morph poles.
inline bool rebasePending(const PluginProcessor& engine, uint32_t key) {
  return engine.morph.engineFold[key].load() && engine.morph.saveFold[key].load();
}

// One process call with the given events on a stereo buffer (or none), from the test's thread.
struct DirectBlock {
  explicit DirectBlock(uint32_t frames, bool withOutput = true) : left(frames), right(frames), list(64) {
    channels[0] = left.data();
    channels[1] = right.data();
    buffer.data32 = channels;
    buffer.channel_count = 2;
    block.frames_count = frames;
    block.audio_outputs = withOutput ? &buffer : nullptr;
    block.audio_outputs_count = withOutput ? 1 : 0;
    block.in_events = list.clapEvents();
    block.out_events = out.clapEvents();
  }
  void add(uint32_t time, tavrin::host::EventData event) {
    event.header.time = time;
    list.push(event);
  }

  std::vector<float> left, right;
  float* channels[2];
  clap_audio_buffer buffer{};
  tavrin::host::InputEventList list;
  tavrin::host::OutputEventList out;
  clap_process block{};
};
