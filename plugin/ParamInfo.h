// What the host sees of each parameter: its CLAP flags and info.
#pragma once

#include <cstdint>

#include "clap/ext/params.h"

// CLAP flags of parameter id: every parameter is automatable; the engine-internal ones are hidden; only
// two-valued switches are stepped, because the host range is 0..1 and a stepped three-valued
// parameter would reach only its ends. 0 for an id out of range.
uint32_t paramClapFlags(uint32_t id);

// Fills info for parameter index (index == id) with its id, flags, name, empty module, the range 0..1
// and the normalised default. False, and info untouched, for an index out of range or a null info.
bool fillClapParamInfo(uint32_t index, clap_param_info_t* info);
