// Loading of the agent's configuration from its registry key into the
// process-wide settings (settings.h): servers, distribution server, proxy,
// agent details, transfer rate, machine identity and the imaged-computer mark.
#pragma once
#include <cstdint>
#include <string>

#include "agent/config/registrypaths.h"
#include "agent/config/settings.h"

// 0 when the configuration is complete, 13 when a required value is missing,
// 10047 when the computer is marked as imaged.
int32_t InitializeAgentParameters();

int32_t InitializeServerDetailsFromRegistry();
int32_t InitializeDSServerDetailsFromRegistry();
int32_t InitializeAgentDetails();
int32_t GetCustomerId(OptText& out);

// Makes sure the user's default key container of the base provider exists with
// a signature and an exchange key. 1 or 0.
int32_t EnsureCryptoKeys();
// Standard Base64; white space at both ends skipped. False (and `out` empty)
// for a missing or invalid text. The result is cut at its first zero byte, as
// the password it carries is used as a text.
bool DecodeBase64(const char* text, std::string& out);
