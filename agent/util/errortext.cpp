// Error-code logging (see errortext.h).
#include "agent/util/errortext.h"

#include <windows.h>

#include "agent/log/format.h"
#include "agent/log/logger.h"
#include "agent/util/resultmsg.h"

namespace {
constexpr DWORD kLang = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

void LogCodeLines(int32_t code, const std::string& text) {
  if (code != 0)
    LogError("Error Code : %d , Error Message : %s \n", static_cast<int>(code), text.c_str());
  else
    LogInfo("Message : %s \n", text.c_str());
}
}  // namespace

std::string SystemMessageText(uint32_t code) {
  wchar_t* buf = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, kLang, reinterpret_cast<LPWSTR>(&buf), 0, nullptr);
  std::string text;
  if (n && buf) text = WideToUtf8Lossy(buf);
  if (buf) LocalFree(buf);
  return text;
}

std::string GetErrorMessageText(int32_t code) {
  wchar_t* buf = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                           nullptr, static_cast<DWORD>(code), kLang, reinterpret_cast<LPWSTR>(&buf), 0, nullptr);
  std::string text;
  if (n && buf) {
    text = WideToUtf8Lossy(buf);
  } else {
    text = GetResultMessage(code);
  }
  if (buf) LocalFree(buf);
  LogCodeLines(code, text);
  return text;
}

void LogErrorCode(int32_t code) { (void)GetErrorMessageText(code); }

int LogErrorCodeA(int32_t code) {
  char* buf = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                           nullptr, static_cast<DWORD>(code), kLang, reinterpret_cast<LPSTR>(&buf), 0, nullptr);
  std::string text;
  if (n && buf) {
    text = buf;
    size_t b = text.find_first_not_of(" \t\r\n");
    size_t e = text.find_last_not_of(" \t\r\n");
    text = b == std::string::npos ? std::string() : text.substr(b, e - b + 1);
  } else {
    text = GetResultMessage(code);
  }
  if (buf) LocalFree(buf);
  LogCodeLines(code, text);
  return 0;
}

void LogLastError() {
  DWORD err = GetLastError();
  wchar_t* buf = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, err, kLang, reinterpret_cast<LPWSTR>(&buf), 0, nullptr);
  LogError(" Error Message: %ls\n", buf);
  if (buf) LocalFree(buf);
}
