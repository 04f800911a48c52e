// The ERROR sentences of the transfer routines for WinHTTP error codes.
#pragma once
#include <cstdint>

// Logs the ERROR sentence for a WinHTTP error code, or the system's message
// for any other code.
void HttpGetLastError(int32_t code);
