// What travels with the engine in the host state stream besides the parameters.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// The plug-in's side data as the state stream writes and reads it. A new record has every map word 0,
// both sizes 0 and every text empty.
struct TavrinStateSidecar {
  static constexpr uint32_t kNumControllers = 128;

  // MIDI controller number -> parameter id; any word of 119 or more means not mapped.
  std::array<uint32_t, kNumControllers> ccMap{};
  std::string json;        // the editor's UI-state JSON, merged with the native keys in the stream
  std::string filename;    // file stem of the local tuning when it came from a Scala file
  std::string name;        // display name of the local tuning
  std::string source;      // "file" or "embed"
  int32_t windowWidth{0};  // editor size in points
  int32_t windowHeight{0};
  std::string tuningsDir;  // input only: the user tunings folder, where Scala files are read again
};
