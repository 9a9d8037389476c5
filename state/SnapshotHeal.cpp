// The repair of morph poles saved before the morph kept its own envelope timing.
#include <cmath>

#include "state/SideData.h"

namespace {

// Envelope delays and holds with their tempo divisions, and the two trigger modes: the poles must agree.
constexpr uint32_t kTier1[] = {kParamEnv1Delay,         kParamEnv1Hold,          kParamEnv2Delay,
                               kParamEnv2Hold,          kParamEnv1DelayDivision, kParamEnv1HoldDivision,
                               kParamEnv2DelayDivision, kParamEnv2HoldDivision};
constexpr uint32_t kTrig[] = {kParamEnv1TriggerMode, kParamEnv2TriggerMode};
// Attack, decay, sustain, release and curves of both envelopes: shared pole values must match the engine.
constexpr uint32_t kTier2[] = {
    kParamAmpEnvAttack, kParamAmpEnvDecay, kParamAmpEnvSustain, kParamAmpEnvRelease, kParamEnv1CurveA,
    kParamEnv1CurveD,   kParamEnv1CurveR,  kParamEnv2Attack,    kParamEnv2Decay,     kParamEnv2Sustain,
    kParamEnv2Release,  kParamEnv2CurveA,  kParamEnv2CurveD,    kParamEnv2CurveR};

void takeEngineValue(ParamSnapshot& a, ParamSnapshot& b, uint32_t id, double current) {
  a.value[id] = b.value[id] = current;
  a.has[id] = b.has[id] = true;
}

}  // namespace

void healSnapshotPair(ParamSnapshot& a, ParamSnapshot& b, const PluginProcessor& engine) {
  const auto eitherNaN = [&](uint32_t id) { return std::isnan(a.value[id]) || std::isnan(b.value[id]); };
  const auto mustAgree = [&](uint32_t id) {
    if (eitherNaN(id) || a.value[id] != b.value[id]) takeEngineValue(a, b, id, engine.getParam(id));
  };
  for (uint32_t id : kTier1) mustAgree(id);
  for (uint32_t id : kTrig) mustAgree(id);
  for (uint32_t id : kTier2) {
    const double current = engine.getParam(id);
    if (eitherNaN(id) || (a.value[id] == b.value[id] && a.value[id] != current))
      takeEngineValue(a, b, id, current);
  }
}
