// Text helpers shared by the configuration loader, the download code and the
// folder utilities: case-insensitive replace, last path or URL component,
// character replace. Portable: no Windows call.
#pragma once
#include <cstdint>
#include <string>

#include "agent/config/settings.h"

// Every case-insensitive (ASCII) occurrence of oldText replaced by newText; the
// rest keeps the input's letter case. Progress goes to standard output. The
// input comes back unchanged when it or oldText is shorter than 2 characters,
// when both texts are equal ignoring case, or when newText is missing; absent
// when the input is missing.
OptText FindAndReplaceWithNoCase(const char* input, const char* oldText, const char* newText);

// The text after the last backslash (the whole text without one); absent for a
// missing path.
OptText GetLastFileName(const char* path);
// The text after the last "/" (the whole text without one); absent for a missing URL.
OptText GetLastUrlFileName(const char* url);

std::string ReplaceChar(const std::string& text, char from, char to);
