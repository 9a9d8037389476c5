// Repair of snapshots captured under the old plucked envelope model, applied by every snapshot reader.
#pragma once

#include "engine/ParamSnapshot.h"

// When "Env Model" is captured and above 0.5 (the old plucked model): sustain := 0, release := the
// captured decay (or the decay's default when the decay was not captured), both captured, and "Env Model"
// := 0. Otherwise nothing changes.
void migratePluckSnapshot(ParamSnapshot& s);
