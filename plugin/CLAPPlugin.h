#pragma once
// One instance of the instrument as the host sees it: for now a silent stereo instrument with one note
// input, on top of the host-call layer that checks and dispatches the host's calls.

#include "plugin/plugin.h"

class CLAPPlugin : public clap::helpers::TavrinPluginBase {
 public:
  explicit CLAPPlugin(const clap_host *host);

 protected:
  bool activate(double rate, uint32_t minFrameCount, uint32_t maxFrameCount) override;
  clap_process_status process(const clap_process *process) override;

  bool implementsAudioPorts() const override { return true; }
  uint32_t audioPortsCount(bool isInput) const override;
  bool audioPortsInfo(uint32_t index, bool isInput, clap_audio_port_info *info) const override;

  bool implementsNotePorts() const override { return true; }
  uint32_t notePortsCount(bool isInput) const override;
  bool notePortsInfo(uint32_t index, bool isInput, clap_note_port_info *info) const override;

 public:
  double sampleRate = 44100.0;  // the rate given by the last activate, in Hz
};
