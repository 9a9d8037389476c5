#include "peers/EngineInstrument.h"

#include <algorithm>
#include <cmath>

namespace peers {

EngineInstrument::EngineInstrument(const std::vector<engine_cases::CaseParam>& patch, double sampleRate)
    : engine(std::make_unique<PluginProcessor>()) {
  engine->setSampleRate(sampleRate);
  for (const engine_cases::CaseParam& p : patch) engine->setParam(p.id, p.plain);
}

float EngineInstrument::processBlock() {
  engine->process(left, right, kBlockFrames);
  float peak = 0.0f;
  for (unsigned i = 0; i < kBlockFrames; ++i)
    peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
  return peak;
}

}  // namespace peers
