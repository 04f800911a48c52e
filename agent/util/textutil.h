// Text and small file helpers shared by the configuration loader, the download
// code and the folder utilities: case-insensitive replace, last path or URL
// component, character replace, 64-bit file size and line appends.
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

// 1 and the file's size, or 0 for a missing path or a file that cannot be opened.
int GetFileSize64(const char* path, int64_t& out);

// Appends the text and a line feed to the file, creating its folder and the
// file first when it is missing or empty. Returns the creation's Windows code
// (0 when nothing had to be created), or the open's error when the file cannot
// be opened for appending.
int32_t AppendLineToFile(const char* path, const char* text);
