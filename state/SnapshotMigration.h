// Repair of values stored under the old plucked envelope model, for snapshots carried by streams old
// enough to hold them.
#pragma once

#include <cstdint>

#include "engine/ParamSnapshot.h"

// Streams up to this version, and the headerless legacy form (counted as version 0), were written while
// the old values were in use and are repaired when read; newer streams restore exactly what was saved.
// A kit file of version 1 carries sections of stream version 5.
inline constexpr uint32_t kLastMigratedStreamVersion = 5;

constexpr bool streamNeedsMigration(uint32_t streamVersion) {
  return streamVersion <= kLastMigratedStreamVersion;
}

// When "Env Model" is captured and above 0.5 (the old plucked model): sustain := 0, release := the
// captured decay (or the decay's default when the decay was not captured), both captured, and "Env Model"
// := 0. Otherwise nothing changes.
void migratePluckSnapshot(ParamSnapshot& s);
