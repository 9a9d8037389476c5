// The MIDI controller map as the editor page shows it: the parameter each controller moves, and the
// parameter that controller learn waits for.
#pragma once

#include <array>
#include <cstdint>

struct ControllerMapView {
  static constexpr int kControllers = 128;

  std::array<uint32_t, kControllers> params{};  // per controller; kNumParams or more: unmapped
  int32_t learning = -1;                        // the parameter learn waits for, -1 when none

  bool operator==(const ControllerMapView&) const = default;
};
