// tavrin-render: a command-line CLAP host that renders timed notes through a plug-in into a WAV file.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tools/host/AudioFile.h"
#include "tools/host/ClapModule.h"
#include "tools/host/Host.h"
#include "tools/host/ParamCatalog.h"
#include "tools/host/PluginInstance.h"
#include "tools/host/Renderer.h"
#include "tools/host/Score.h"

using namespace tavrin::host;

namespace {

const char* kUsage =
    "usage: tavrin-render --plugin FILE.clap --out FILE.wav [options]\n"
    "       tavrin-render --plugin FILE.clap --list-params\n"
    "  --plugin FILE.clap        the module, a file path (Tavrin.clap is ./Tavrin.clap)\n"
    "  --list-params             print every parameter: id, name, flags, and its texts at the\n"
    "                            value 0, at 1 and at the default\n"
    "  --rate HZ                 sample rate (48000)\n"
    "  --seconds S               length of the rendering (2)\n"
    "  --notes T:KEY:VEL:DUR,... notes: start and duration in seconds, velocity 0..1\n"
    "  --params P=VALUE[@T],...  parameter values at times in seconds (0 when left out); P is an id or\n"
    "                            a name (any case), VALUE a text the plug-in reads (\"7=4500 Hz\",\n"
    "                            \"Filter A Cutoff=4.5 kHz\") or norm:V for the plug-in's own value V,\n"
    "                            0..1 for Tavrin (\"7=norm:0.22\")\n"
    "  --state FILE              a host state stream loaded into the plug-in before the first block\n"
    "  --midi                    send notes as MIDI instead of CLAP note events\n"
    "  --block N                 fixed block size (256)\n"
    "  --random-blocks MIN:MAX   random block sizes\n"
    "  --seed N                  seed of the random block sizes (1)\n"
    "  --tempo BPM               send a playing transport at this tempo\n"
    "  --stopped                 the transport is stopped\n"
    "  --id PLUGIN_ID            which plug-in of the factory (the first)\n";

const char* kSeverityNames[] = {
    "debug", "info", "warning", "error", "fatal", "host-misbehaving", "plugin-misbehaving"};

int failWith(const std::string& message) {
  std::fprintf(stderr, "tavrin-render: %s\n", message.c_str());
  return 1;
}

bool parseUnsigned(const std::string& text, uint32_t& value) {
  char* end = nullptr;
  const unsigned long parsed = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || *end != 0 || parsed > 0x7FFFFFFFul) return false;
  value = static_cast<uint32_t>(parsed);
  return true;
}

bool parsePositive(const std::string& text, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == 0 && value > 0 && value < 1e7;
}

struct Options {
  std::string plugin, out, id, notes, params, state;
  bool listParams = false;
  double rate = 48000.0, seconds = 2.0;
  NoteDialect dialect = NoteDialect::Clap;
  BlockPlan blocks;
  TransportPlan transport;
};

// Reads the command line; false with a message on a bad or missing argument.
bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
  std::map<std::string, std::string> values;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--list-params") {
      options.listParams = true;
    } else if (arg == "--midi") {
      options.dialect = NoteDialect::Midi;
    } else if (arg == "--stopped") {
      options.transport.playing = false;
    } else if (arg.rfind("--", 0) == 0 && i + 1 < argc) {
      values[arg] = argv[++i];
    } else {
      error = "unexpected argument " + arg;
      return false;
    }
  }
  for (const auto& [name, value] : values) {
    bool ok = true;
    if (name == "--plugin")
      options.plugin = value;
    else if (name == "--out")
      options.out = value;
    else if (name == "--id")
      options.id = value;
    else if (name == "--notes")
      options.notes = value;
    else if (name == "--params")
      options.params = value;
    else if (name == "--state")
      options.state = value;
    else if (name == "--rate")
      ok = parsePositive(value, options.rate);
    else if (name == "--seconds")
      ok = parsePositive(value, options.seconds);
    else if (name == "--block")
      ok = parseUnsigned(value, options.blocks.fixedFrames) && options.blocks.fixedFrames > 0;
    else if (name == "--seed")
      ok = parseUnsigned(value, options.blocks.seed);
    else if (name == "--tempo")
      ok = options.transport.enabled = parsePositive(value, options.transport.tempo);
    else if (name == "--random-blocks") {
      const size_t colon = value.find(':');
      ok = colon != std::string::npos && parseUnsigned(value.substr(0, colon), options.blocks.randomMin) &&
           parseUnsigned(value.substr(colon + 1), options.blocks.randomMax) &&
           options.blocks.randomMax >= std::max(options.blocks.randomMin, 1u);
    } else {
      error = "unknown option " + name;
      return false;
    }
    if (!ok) {
      error = "bad value for " + name + ": " + value;
      return false;
    }
  }
  if (options.plugin.empty() || (options.out.empty() && !options.listParams)) {
    error = "--plugin and --out (or --list-params) are required";
    return false;
  }
  return true;
}

bool readFile(const std::string& path, std::vector<uint8_t>& bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return !file.bad();
}

void printChannel(const char* name, const AudioStats& stats) {
  std::printf("%s: peak %.6f (%.2f dBFS), rms %.6f, NaN %llu, Inf %llu\n", name, stats.peak,
              stats.peak > 0 ? 20.0 * std::log10(stats.peak) : -INFINITY, stats.rms,
              static_cast<unsigned long long>(stats.nanCount),
              static_cast<unsigned long long>(stats.infCount));
}

// The text followed by spaces up to `width` characters (UTF-8 aware) and one more space.
std::string padded(const std::string& text, size_t width) {
  const size_t characters =
      std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; });
  return text + std::string(std::max(width, characters) - characters + 1, ' ');
}

void printParams(const ParamCatalog& catalog) {
  std::printf("%4s  %s%s%s%s%s\n", "id", padded("name", 28).c_str(), padded("flags", 20).c_str(),
              padded("at 0", 14).c_str(), padded("at 1", 14).c_str(), "default");
  for (const clap_param_info& param : catalog.params())
    std::printf("%4u  %s%s%s%s%s\n", param.id, padded(param.name, 28).c_str(),
                padded(paramFlagNames(param.flags), 20).c_str(), padded(catalog.text(param, 0.0), 14).c_str(),
                padded(catalog.text(param, 1.0), 14).c_str(),
                catalog.text(param, param.default_value).c_str());
}

// Renders the score through an initialised instance and writes the WAV file; the exit status.
int renderScore(PluginInstance& instance, Host& host, const Options& options, const Score& score) {
  RenderJob job;
  job.sampleRate = options.rate;
  job.frames = static_cast<uint64_t>(options.seconds * options.rate + 0.5);
  job.blocks = options.blocks;
  job.transport = options.transport;
  if (!instance.activate(options.rate, 1, maxBlockFrames(options.blocks)))
    return failWith("clap_plugin.activate failed");
  const RenderResult result =
      render(instance, host, buildTimeline(score, options.rate, options.dialect), job);
  instance.deactivate();
  instance.destroy();

  int status = 0;
  if (!result.started) status = failWith("clap_plugin.start_processing failed");
  if (result.processErrors > 0)
    status = failWith(std::to_string(result.processErrors) + " process calls answered an error");
  std::printf("rendered %llu frames at %.0f Hz in %zu blocks, %zu notes, %zu output events\n",
              static_cast<unsigned long long>(job.frames), options.rate, result.blockSizes.size(),
              score.notes.size(), result.outputEvents.size());
  printChannel("left", measure(result.left));
  printChannel("right", measure(result.right));
  if (!writeWavFloat32(options.out, result.left, result.right, static_cast<uint32_t>(options.rate)))
    return failWith("cannot write " + options.out);
  std::printf("wrote %s (32-bit float stereo WAV)\n", options.out.c_str());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!parseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "tavrin-render: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  Score score;
  std::vector<ParamEntry> paramEntries;
  if ((!options.notes.empty() && !parseNotes(options.notes, score.notes, error)) ||
      (!options.params.empty() && !parseParamEntries(options.params, paramEntries, error)))
    return failWith(error);
  std::vector<uint8_t> state;
  if (!options.state.empty() && !readFile(options.state, state))
    return failWith("cannot read the state file " + options.state);

  Host host;
  ClapModule module;
  if (!module.load(options.plugin)) return failWith(module.error());
  const clap_plugin_descriptor* desc = module.firstDescriptor();
  const std::string id = options.id.empty() ? desc->id : options.id;
  std::printf("plug-in: %s %s by %s (%s)\n", desc->name, desc->version ? desc->version : "",
              desc->vendor ? desc->vendor : "", desc->id);

  int status = 0;
  {
    PluginInstance instance(module.factory(), host, id.c_str());
    if (!instance.valid()) return failWith("the factory created no plug-in with id " + id);
    if (!instance.init()) return failWith("clap_plugin.init failed");
    if (!options.state.empty() && !instance.loadState(state))
      return failWith("the plug-in refused the state in " + options.state);
    const ParamCatalog catalog(instance);
    if (options.listParams) {
      printParams(catalog);
      return 0;
    }
    if (!catalog.resolve(paramEntries, score.params, error)) return failWith(error);
    status = renderScore(instance, host, options, score);
  }
  for (const LogEntry& entry : host.logEntries()) {
    const bool known = entry.severity >= 0 && entry.severity <= 6;
    std::printf("plug-in log [%s]: %s\n", known ? kSeverityNames[entry.severity] : "?",
                entry.message.c_str());
  }
  return status;
}
