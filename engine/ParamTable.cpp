#include "engine/ParamTable.h"

#include "foundation/MLSafeValue.h"

double normaliseParam(uint32_t id, double plain) {
  if (id >= kNumParams) return 0.0;
  const ParamInfo& row = kParams[id];
  return ml::safeClamp((plain - row.min) / (row.max - row.min), 0.0, 1.0);
}

double clapDenormParam(uint32_t id, double normalised) {
  if (id >= kNumParams) return 0.0;
  const ParamInfo& row = kParams[id];
  return row.min + ml::safeClamp(normalised, 0.0, 1.0) * (row.max - row.min);
}
