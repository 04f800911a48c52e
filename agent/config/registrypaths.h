// Registry key paths that several layers name: the agent's key and its
// subkeys (under HKEY_LOCAL_MACHINE, in the agent's own registry view). Kept
// low in the stack so that no layer includes a higher one for a constant.
#pragma once

inline constexpr const char* kAgentKeyPath = "Software\\Orvanta\\Tarnwick\\TWAgent";
inline constexpr const char* kServerInfoKeyPath = "Software\\Orvanta\\Tarnwick\\TWAgent\\ServerInfo";
inline constexpr const char* kSystemDetailsKeyPath = "Software\\Orvanta\\Tarnwick\\TWAgent\\SystemDetails";
// Followed by the product name: the application-detection key of a patch.
inline constexpr const char* kAppDetectionKeyPrefix = "SOFTWARE\\Orvanta\\Tarnwick\\TWAgent\\AppDetection\\";
