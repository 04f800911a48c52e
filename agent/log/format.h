// printf-style formatting into an owned UTF-8 text. Wide-text arguments (%S,
// %ls, %ws) are rendered as UTF-8 whatever the platform's printf would do, and
// an absent narrow text (%s of a null pointer) renders as "(null)".
#pragma once
#include <cstdarg>
#include <cstddef>
#include <string>

// Lets the compiler check printf-style calls of the log and formatting helpers.
#if defined(__clang__)
#define TW_PRINTF(f, a) __attribute__((format(printf, f, a)))
#elif defined(__GNUC__)
#define TW_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define TW_PRINTF(f, a)
#endif

std::string FormatTextV(const char* format, va_list args);
// The same text without a heap allocation when it fits: formats into buf (cap
// bytes, its terminating NUL included) and returns buf, or else returns the text
// in `spill`; `length` is the text's length either way. Leaves `args` unread.
char* FormatTextInto(char* buf, size_t cap, std::string& spill, size_t& length, const char* format,
                     va_list args);
std::string FormatText(const char* format, ...) TW_PRINTF(1, 2);

// Wide (UTF-16 on Windows, UTF-32 elsewhere) to UTF-8; unpaired surrogates
// become U+FFFD. Used for log rendering, not for Win32 conversions.
std::string WideToUtf8Lossy(const wchar_t* text);
