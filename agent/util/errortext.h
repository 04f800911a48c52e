// Windows error codes turned into log lines: the system's message text, or the
// program's result-message text for codes Windows does not know.
#pragma once
#include <cstdint>
#include <string>

// The message text (UTF-8); also logs "Error Code : ..." (ERROR) or, for 0,
// "Message : ..." (INFO).
std::string GetErrorMessageText(int32_t code);
void LogErrorCode(int32_t code);
// Narrow twin used by the log-size check: ANSI message, trimmed; logs the same
// lines and returns 0.
int LogErrorCodeA(int32_t code);
// Logs " Error Message: <text of the thread's last error>".
void LogLastError();
// The system's message text for a code, UTF-8, no width limit; "" when unknown.
std::string SystemMessageText(uint32_t code);
