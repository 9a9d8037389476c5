#pragma once
// The few CLAP declarations our header copy lacks: the host log and track-info tables that the
// host-call layer calls, and opaque names for the structures that only appear in the signatures of
// its virtual operations (the layer never looks inside them).

#include <cstdint>

#include "clap/host.h"
#include "clap/string-sizes.h"

extern "C" {

// Log severities of the host log ("clap.log"), 0..6.
typedef int32_t clap_log_severity;
enum {
  CLAP_LOG_DEBUG = 0,
  CLAP_LOG_INFO = 1,
  CLAP_LOG_WARNING = 2,
  CLAP_LOG_ERROR = 3,
  CLAP_LOG_FATAL = 4,
  CLAP_LOG_HOST_MISBEHAVING = 5,
  CLAP_LOG_PLUGIN_MISBEHAVING = 6,
};

typedef struct clap_host_log {
  void (*log)(const clap_host_t* host, clap_log_severity severity, const char* msg);
} clap_host_log_t;

typedef struct clap_color {
  uint8_t alpha;
  uint8_t red;
  uint8_t green;
  uint8_t blue;
} clap_color_t;

typedef struct clap_track_info {
  uint64_t flags;
  char name[CLAP_NAME_SIZE];
  clap_color_t color;
  int32_t audio_channel_count;
  const char* audio_port_type;
} clap_track_info_t;

typedef struct clap_host_track_info {
  bool (*get)(const clap_host_t* host, clap_track_info_t* info);
} clap_host_track_info_t;

// Opaque: passed through the virtual operations of the host-call layer, never dereferenced by it.
struct clap_audio_ports_config;
struct clap_audio_port_configuration_request;
struct clap_remote_controls_page;
struct clap_note_name;
struct clap_context_menu_target;
struct clap_context_menu_builder;
struct clap_voice_info;
struct clap_undo_delta_properties;
struct clap_project_location_element;
struct clap_mini_curve_display_curve_data;
}
