// Conversions between the program's narrow texts (UTF-8, or the system code
// page where an "A" interface or the command line filled them) and the UTF-16
// texts of Windows "W" interfaces, and a lower-casing that is safe for
// non-ASCII text.
// On failure the out-parameter holds an empty text.
#pragma once
#include <string>

// UTF-8 -> UTF-16. 1 on success, 0 for a missing text or a failed conversion.
int ChangeToWideStr(const char* text, std::wstring& out);
bool ChangeUtf8ToWideStr(const char* text, std::wstring& out);
// UTF-16 -> UTF-8.
bool ChangeWideToUtf8Str(const wchar_t* text, std::string& out);
// Reads the text as UTF-8 and gives it back as UTF-8 (through UTF-16).
int ChangeAnsiToUTF8Str(const char* text, std::string& out);
// Texts in the system (ANSI) code page, as the command line and the "A"
// interfaces give them, to UTF-16 and to UTF-8. False (and an empty out) for a
// missing text or a failed conversion.
bool SystemCodePageToWide(const char* text, std::wstring& out);
bool SystemCodePageToUtf8(const char* text, std::string& out);
// Lower-cased copy (ASCII letters at least); the empty text when conversion fails.
std::string ToLowerUtf8(const char* text);
