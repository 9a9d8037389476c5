// A load case's patch as the host state stream a host would load into the plug-in: the parameters and the
// envelope feel, which no parameter carries.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "EngineCases.h"
#include "engine/PluginProcessor.h"
#include "state/StateSidecar.h"
#include "state/StateStream.h"

namespace engine_cases {

// Empty when the engine's own writer fails.
inline std::vector<uint8_t> patchState(const std::vector<CaseParam>& params) {
  auto engine = std::make_unique<PluginProcessor>();  // large: kept on the heap
  applyPatch(*engine, params);
  TavrinStateSidecar sidecar;
  sidecar.ccMap.fill(UINT32_MAX);  // no controller mapped
  std::vector<uint8_t> bytes;
  if (!tavrin_state_save(*engine, bytes, sidecar)) bytes.clear();
  return bytes;
}

}  // namespace engine_cases
