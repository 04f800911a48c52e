// The agent's resource ID: from the registry ("SystemDetails" key) and, when it
// is missing there, from the management server.
#pragma once
#include <cstdint>

#include "agent/config/settings.h"

inline constexpr const char* kSystemDetailsKeyPath = "Software\\Orvanta\\Tarnwick\\TWAgent\\SystemDetails";

// 0 and the ID in `out` when found; otherwise an error code and `out` unset.
int32_t GetResourceID(OptText& out);
