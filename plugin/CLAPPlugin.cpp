#include "plugin/CLAPPlugin.h"

#include <algorithm>
#include <cstring>

#include "plugin/CLAPEntry.h"

namespace {

void copyName(char (&field)[CLAP_NAME_SIZE], const char *name) {
  std::strncpy(field, name, CLAP_NAME_SIZE - 1);
  field[CLAP_NAME_SIZE - 1] = 0;
}

}  // namespace

CLAPPlugin::CLAPPlugin(const clap_host *host) : clap::helpers::TavrinPluginBase(tavrinDescriptor(), host) {}

bool CLAPPlugin::activate(double rate, uint32_t, uint32_t) {
  sampleRate = rate;
  return true;
}

clap_process_status CLAPPlugin::process(const clap_process *process) {
  for (uint32_t port = 0; process->audio_outputs && port < process->audio_outputs_count; ++port) {
    const clap_audio_buffer &buffer = process->audio_outputs[port];
    for (uint32_t channel = 0; buffer.data32 && channel < buffer.channel_count; ++channel)
      if (float *out = buffer.data32[channel])
        std::fill(out, out + process->frames_count, 0.0f);
  }
  return CLAP_PROCESS_CONTINUE;
}

uint32_t CLAPPlugin::audioPortsCount(bool isInput) const { return isInput ? 0 : 1; }

bool CLAPPlugin::audioPortsInfo(uint32_t index, bool isInput, clap_audio_port_info *info) const {
  if (isInput || index != 0)
    return false;
  info->id = 0;
  copyName(info->name, "Audio Output");
  info->flags = CLAP_AUDIO_PORT_IS_MAIN;
  info->channel_count = 2;
  info->port_type = CLAP_PORT_STEREO;
  info->in_place_pair = CLAP_INVALID_ID;
  return true;
}

uint32_t CLAPPlugin::notePortsCount(bool isInput) const { return isInput ? 1 : 0; }

bool CLAPPlugin::notePortsInfo(uint32_t index, bool isInput, clap_note_port_info *info) const {
  if (!isInput || index != 0)
    return false;
  info->id = 0;
  info->supported_dialects = CLAP_NOTE_DIALECT_CLAP | CLAP_NOTE_DIALECT_MIDI;
  info->preferred_dialect = CLAP_NOTE_DIALECT_MIDI;
  copyName(info->name, "Note Input");
  return true;
}
