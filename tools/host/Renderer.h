#pragma once
// Renders a timeline of events through an activated plug-in instance on a separate audio thread, in
// fixed or random block sizes, with an optional transport, while the calling (main) thread serves the
// plug-in's main-thread callback requests.

#include <cstdint>
#include <functional>
#include <vector>

#include "tools/host/Events.h"

namespace tavrin::host {

class Host;
class PluginInstance;

// Block sizes: `fixedFrames` each, or, when randomMax > 0, sizes drawn uniformly from
// randomMin..randomMax (randomMin may be 0) by a generator seeded with `seed`.
struct BlockPlan {
  uint32_t fixedFrames = 256;
  uint32_t randomMin = 0;
  uint32_t randomMax = 0;
  uint32_t seed = 1;
};

// The block sizes that cover `totalFrames` (the last block is cut to fit).
std::vector<uint32_t> planBlocks(const BlockPlan& plan, uint64_t totalFrames);
// The largest block the plan can produce (at least 1): the maximum frame count for activation.
uint32_t maxBlockFrames(const BlockPlan& plan);

// A running transport sent with every block: tempo in BPM, playing or stopped, position from frame 0.
struct TransportPlan {
  bool enabled = false;
  double tempo = 120.0;
  bool playing = true;
};

struct RenderJob {
  double sampleRate = 48000.0;
  uint64_t frames = 0;
  BlockPlan blocks;
  TransportPlan transport;
};

// Called on the audio thread right before and after each process call, e.g. to count allocations.
struct ProcessHooks {
  std::function<void()> before;
  std::function<void()> after;
};

struct RenderResult {
  bool started = false;  // start_processing succeeded
  std::vector<float> left, right;
  std::vector<uint32_t> blockSizes;
  std::vector<TimedEvent> outputEvents;  // what the plug-in pushed, at absolute frames
  uint32_t processErrors = 0;            // process calls that answered CLAP_PROCESS_ERROR
  uint32_t droppedInputEvents = 0;       // events that did not fit a block's input list
};

// The clap_event_transport for a block starting at `frame`.
clap_event_transport makeTransport(const TransportPlan& plan, uint64_t frame, double sampleRate);

// Renders job.frames frames. The instance must be initialised and activated with a maximum frame
// count of at least maxBlockFrames(job.blocks); start and stop processing happen on the audio thread.
// A flush the host asked for while processing is served by the next process call; one asked for at the
// end is served by a params flush on the calling thread, its events placed at the last frame.
RenderResult render(PluginInstance& instance, Host& host, const std::vector<TimedEvent>& timeline,
                    const RenderJob& job, const ProcessHooks& hooks = {});

// Calls the plug-in's params flush with no input events (main thread, instance not processing) and
// answers what it pushed.
std::vector<EventData> flushParams(PluginInstance& instance);

}  // namespace tavrin::host
