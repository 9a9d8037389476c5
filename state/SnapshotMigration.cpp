#include "state/SnapshotMigration.h"

void migratePluckSnapshot(ParamSnapshot& s) {
  if (!s.has[kParamEnvModel] || !(s.value[kParamEnvModel] > 0.5)) return;
  s.value[kParamAmpEnvSustain] = 0.0;
  s.has[kParamAmpEnvSustain] = true;
  s.value[kParamAmpEnvRelease] =
      s.has[kParamAmpEnvDecay] ? s.value[kParamAmpEnvDecay] : kParams[kParamAmpEnvDecay].def;
  s.has[kParamAmpEnvRelease] = true;
  s.value[kParamEnvModel] = 0.0;
}
