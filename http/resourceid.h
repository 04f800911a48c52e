// The agent's resource ID: from the registry ("SystemDetails" key) and, when it
// is missing there, from the management server.
#pragma once
#include <cstdint>

#include "agent/config/registrypaths.h"
#include "agent/config/settings.h"

// 0 and the ID in `out` when the registry has it; otherwise what the server
// lookup gives.
int32_t GetResourceID(OptText& out);
// Fetches the computer's resource document from the main server and reads the
// ID from it: 0 (and the ID in `out`, stored in the registry and announced to
// the agent service, when the document names one), or the error of the request
// or of the load.
int32_t GetResourceIDFromServer(OptText& out);
