#include "tools/host/Renderer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>

#include "clap/ext/params.h"
#include "tools/host/Host.h"
#include "tools/host/PluginInstance.h"

namespace tavrin::host {

std::vector<uint32_t> planBlocks(const BlockPlan& plan, uint64_t totalFrames) {
  std::vector<uint32_t> sizes;
  std::mt19937 random(plan.seed);
  std::uniform_int_distribution<uint32_t> draw(plan.randomMin, std::max(plan.randomMin, plan.randomMax));
  for (uint64_t done = 0; done < totalFrames;) {
    const uint32_t wanted = plan.randomMax > 0 ? draw(random) : std::max(plan.fixedFrames, 1u);
    const auto size = static_cast<uint32_t>(std::min<uint64_t>(wanted, totalFrames - done));
    sizes.push_back(size);
    done += size;
  }
  return sizes;
}

uint32_t maxBlockFrames(const BlockPlan& plan) {
  return std::max(plan.randomMax > 0 ? std::max(plan.randomMin, plan.randomMax) : plan.fixedFrames, 1u);
}

clap_event_transport makeTransport(const TransportPlan& plan, uint64_t frame, double sampleRate) {
  clap_event_transport transport{};
  transport.header = {sizeof(clap_event_transport), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_TRANSPORT, 0};
  transport.flags = CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_HAS_BEATS_TIMELINE |
                    CLAP_TRANSPORT_HAS_SECONDS_TIMELINE |
                    (plan.playing ? uint32_t(CLAP_TRANSPORT_IS_PLAYING) : 0u);
  const double seconds = static_cast<double>(frame) / sampleRate;
  const double beats = seconds * plan.tempo / 60.0;
  transport.song_pos_beats = std::llround(beats * static_cast<double>(CLAP_BEATTIME_FACTOR));
  transport.song_pos_seconds = std::llround(seconds * static_cast<double>(CLAP_SECTIME_FACTOR));
  transport.tempo = plan.tempo;
  transport.tsig_num = 4;
  transport.tsig_denom = 4;
  return transport;
}

namespace {

// Everything the audio thread works with, allocated before it starts.
struct AudioThreadState {
  std::vector<float> scratchLeft, scratchRight;
  float* channels[2];
  clap_audio_buffer output{};
  InputEventList input;
  OutputEventList outEvents;

  AudioThreadState(uint32_t maxFrames, size_t inputCapacity)
      : scratchLeft(maxFrames), scratchRight(maxFrames), input(inputCapacity) {
    channels[0] = scratchLeft.data();
    channels[1] = scratchRight.data();
    output.data32 = channels;
    output.channel_count = 2;
  }
};

void renderBlocks(PluginInstance& instance, const std::vector<TimedEvent>& timeline, const RenderJob& job,
                  const ProcessHooks& hooks, AudioThreadState& state, RenderResult& result) {
  size_t next = 0;
  uint64_t position = 0;
  for (const uint32_t frames : result.blockSizes) {
    state.input.clear();
    for (; next < timeline.size() && timeline[next].frame < position + frames; ++next) {
      EventData event = timeline[next].event;
      event.header.time = static_cast<uint32_t>(timeline[next].frame - position);
      result.droppedInputEvents += !state.input.push(event);
    }
    state.outEvents.clear();
    std::fill(state.scratchLeft.begin(), state.scratchLeft.end(), 0.0f);
    std::fill(state.scratchRight.begin(), state.scratchRight.end(), 0.0f);
    const clap_event_transport transport = makeTransport(job.transport, position, job.sampleRate);

    clap_process block{};
    block.steady_time = static_cast<int64_t>(position);
    block.frames_count = frames;
    block.transport = job.transport.enabled ? &transport : nullptr;
    block.audio_outputs = &state.output;
    block.audio_outputs_count = 1;
    block.in_events = state.input.clapEvents();
    block.out_events = state.outEvents.clapEvents();

    if (hooks.before) hooks.before();
    const clap_process_status status = instance.process(block);
    if (hooks.after) hooks.after();

    result.processErrors += status == CLAP_PROCESS_ERROR;
    std::copy_n(state.scratchLeft.begin(), frames, result.left.begin() + static_cast<ptrdiff_t>(position));
    std::copy_n(state.scratchRight.begin(), frames, result.right.begin() + static_cast<ptrdiff_t>(position));
    for (const EventData& event : state.outEvents.events())
      result.outputEvents.push_back({position + event.header.time, event});
    position += frames;
  }
}

}  // namespace

RenderResult render(PluginInstance& instance, Host& host, const std::vector<TimedEvent>& timeline,
                    const RenderJob& job, const ProcessHooks& hooks) {
  RenderResult result;
  result.blockSizes = planBlocks(job.blocks, job.frames);
  result.left.assign(job.frames, 0.0f);
  result.right.assign(job.frames, 0.0f);
  result.outputEvents.reserve(4096);
  AudioThreadState state(maxBlockFrames(job.blocks), std::max<size_t>(timeline.size(), 16));

  std::atomic<bool> done{false};
  std::thread audio([&] {
    host.setAudioThread(std::this_thread::get_id());
    result.started = instance.startProcessing();
    if (result.started) {
      renderBlocks(instance, timeline, job, hooks, state, result);
      instance.stopProcessing();
    }
    host.clearAudioThread();
    done = true;
  });
  while (!done) {
    if (host.takeCallbackRequest()) instance.onMainThread();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  audio.join();
  if (host.takeCallbackRequest()) instance.onMainThread();
  if (host.takeFlushRequest())
    for (const EventData& event : flushParams(instance)) result.outputEvents.push_back({job.frames, event});
  return result;
}

std::vector<EventData> flushParams(PluginInstance& instance) {
  const auto* params = instance.extension<clap_plugin_params>(CLAP_EXT_PARAMS);
  if (!params || !params->flush) return {};
  InputEventList in(1);
  OutputEventList out;
  params->flush(instance.plugin(), in.clapEvents(), out.clapEvents());
  return out.events();
}

}  // namespace tavrin::host
