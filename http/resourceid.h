// The agent's resource ID: from the registry ("SystemDetails" key) and, when it
// is missing there, from the management server.
#pragma once
#include <cstdint>

#include "agent/config/registrypaths.h"
#include "agent/config/settings.h"

// 0 and the ID in `out` when found; otherwise an error code and `out` unset.
int32_t GetResourceID(OptText& out);
