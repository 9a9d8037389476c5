#pragma once
// Tavrin played as a host plays it: the built CLAP module, its patch loaded as a host state stream, notes
// as CLAP note events, a stopped transport, one stereo output port; init, activation and processing on the
// calling thread.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "clap/events.h"
#include "peers/Instrument.h"
#include "tools/host/ClapModule.h"
#include "tools/host/Events.h"
#include "tools/host/Host.h"
#include "tools/host/PluginInstance.h"

namespace peers {

class ClapInstrument final : public Instrument {
public:
  // An active, processing instance of the module's first plug-in with the state loaded; null with a
  // message when any step fails.
  static std::unique_ptr<ClapInstrument> create(const tavrin::host::ClapModule& module,
                                                const std::vector<uint8_t>& state, double sampleRate,
                                                std::string& error);
  ~ClapInstrument() override;

  void noteOn(int key, double velocity) override;
  void noteOff(int key) override;
  void processBlock() override;
  float lastBlockPeak() const override;

private:
  ClapInstrument(const tavrin::host::ClapModule& module, double sampleRate);

  tavrin::host::Host host;
  tavrin::host::PluginInstance instance;
  tavrin::host::InputEventList input;
  tavrin::host::OutputEventList output;
  clap_event_transport transport;
  bool active = false;
  bool processing = false;
  float left[kBlockFrames] = {};
  float right[kBlockFrames] = {};
};

}  // namespace peers
