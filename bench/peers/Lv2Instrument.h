#pragma once
// An LV2 instrument loaded through lilv and driven like a host would: URID map, block-length and
// sample-rate options, a worker thread for the plug-ins that schedule work, MIDI notes on the first atom
// input, and an optional preset restored through the plug-in's state interface.

#include <lilv/lilv.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "peers/Instrument.h"

namespace peers {

// The URIs the plug-ins ask for, numbered in order of first use (any thread).
class UridMap {
public:
  UridMap();
  UridMap(const UridMap&) = delete;
  UridMap& operator=(const UridMap&) = delete;

  LV2_URID map(const char* uri);
  const char* unmap(LV2_URID urid) const;
  LV2_URID_Map* mapFeature() { return &mapTable; }
  LV2_URID_Unmap* unmapFeature() { return &unmapTable; }

private:
  mutable std::mutex guard;
  std::deque<std::string> uris;  // a deque keeps each string where it is as more are added
  LV2_URID_Map mapTable;
  LV2_URID_Unmap unmapTable;
};

// Every installed LV2 bundle, read once.
class Lv2World {
public:
  Lv2World();
  ~Lv2World();
  Lv2World(const Lv2World&) = delete;
  Lv2World& operator=(const Lv2World&) = delete;

  LilvWorld* world() const { return lilvWorld; }
  UridMap& urids() { return uridMap; }
  // The installed plug-in with this URI, or null.
  const LilvPlugin* plugin(const std::string& uri) const;

private:
  LilvWorld* lilvWorld;
  UridMap uridMap;
};

// Runs the plug-in's scheduled work on its own thread and hands the responses back to the rendering
// thread after each run, as the worker extension asks.
class Lv2Worker {
public:
  Lv2Worker();
  ~Lv2Worker();
  Lv2Worker(const Lv2Worker&) = delete;
  Lv2Worker& operator=(const Lv2Worker&) = delete;

  LV2_Worker_Schedule* scheduleFeature() { return &scheduleTable; }
  // The plug-in's worker interface (null when it has none); work queued before this waits for it.
  void attach(LV2_Handle handle, const LV2_Worker_Interface* iface);
  // Waits for the work under way, after which the worker no longer calls the plug-in.
  void detach();
  // Delivers the responses ready so far, then tells the plug-in the run has ended (rendering thread).
  void deliverResponses();

private:
  using Message = std::vector<uint8_t>;
  static LV2_Worker_Status schedule(LV2_Worker_Schedule_Handle handle, uint32_t size, const void* data);
  static LV2_Worker_Status respond(LV2_Worker_Respond_Handle handle, uint32_t size, const void* data);
  void serve();

  LV2_Worker_Schedule scheduleTable;
  std::mutex guard;
  std::condition_variable wake, idle;
  std::deque<Message> requests;
  // Responses wait in one list and are handed over from the other, both kept with their capacity.
  std::vector<Message> responses, delivering;
  LV2_Handle pluginHandle = nullptr;
  const LV2_Worker_Interface* workerInterface = nullptr;
  bool working = false;
  bool quit = false;
  std::thread thread;
};

class Lv2Instrument final : public Instrument {
public:
  // Instantiates the plug-in at the sample rate and restores the preset when one is named; null with a
  // message when the plug-in is not installed or cannot be loaded.
  static std::unique_ptr<Lv2Instrument> create(Lv2World& world, const std::string& pluginUri,
                                               const std::string& presetUri, double sampleRate,
                                               std::string& error);
  ~Lv2Instrument() override;

  void noteOn(int key, double velocity) override;
  void noteOff(int key) override;
  void processBlock() override;
  float lastBlockPeak() const override;

private:
  // One port's buffer: audio and CV ports get a block of floats, control ports one float, atom ports
  // an aligned atom buffer.
  struct Port {
    enum class Kind { Audio, Control, Atom, Other } kind = Kind::Other;
    bool input = false;
    std::string symbol;
    std::vector<uint64_t> data;  // 8-byte units: the alignment atoms need
    float* floats() { return reinterpret_cast<float*>(data.data()); }
    const float* floats() const { return reinterpret_cast<const float*>(data.data()); }
  };

  Lv2Instrument(Lv2World& host, const LilvPlugin* found, double rate);
  bool instantiate(std::string& error);
  void connectPorts();
  bool restorePreset(const std::string& presetUri, std::string& error);
  static void setPortValue(const char* symbol, void* self, const void* value, uint32_t size, uint32_t type);
  void queueMidi(uint8_t status, uint8_t data1, uint8_t data2);
  void clearAtomPorts();

  Lv2World& world;
  const LilvPlugin* plugin;
  double sampleRate;
  // Option values the options feature points at.
  int32_t blockLength = kBlockFrames;
  float rateValue;
  std::vector<LV2_Options_Option> options;
  Lv2Worker worker;
  std::vector<LV2_Feature> featureStore;
  std::vector<const LV2_Feature*> features;
  LilvInstance* instance = nullptr;
  std::vector<Port> ports;
  Port* midiIn = nullptr;
  std::vector<Port*> audioOut;
  LV2_URID midiEventType, sequenceType, chunkType;
};

}  // namespace peers
