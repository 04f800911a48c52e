// UTF-8 <-> UTF-16 conversions with the UTF-8 code page (see textconv.h).
#include "agent/util/textconv.h"

#include <windows.h>

#include <cwctype>

#include "agent/log/logger.h"
#include "agent/util/errortext.h"

namespace {
// Converts including the terminator, as the system conversion calls are asked to.
bool MultiByteToWide(UINT codePage, const char* text, std::wstring& out) {
  out.clear();
  if (!text) return false;
  int needed = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
  if (needed <= 0) return false;
  std::wstring buf(static_cast<size_t>(needed), L'\0');
  if (MultiByteToWideChar(codePage, 0, text, -1, buf.data(), needed) <= 0) return false;
  buf.resize(static_cast<size_t>(needed) - 1);
  out = std::move(buf);
  return true;
}

bool Utf8ToWide(const char* text, std::wstring& out) { return MultiByteToWide(CP_UTF8, text, out); }
}  // namespace

bool SystemCodePageToWide(const char* text, std::wstring& out) { return MultiByteToWide(CP_ACP, text, out); }

bool SystemCodePageToUtf8(const char* text, std::string& out) {
  out.clear();
  std::wstring wide;
  return SystemCodePageToWide(text, wide) && ChangeWideToUtf8Str(wide.c_str(), out);
}

int ChangeToWideStr(const char* text, std::wstring& out) {
  out.clear();
  if (!text) {
    LogError("ChangeToWideStr: AnsiString is empty! \n");
    return 0;
  }
  if (!Utf8ToWide(text, out)) {
    LogLastError();
    return 0;
  }
  return 1;
}

bool ChangeUtf8ToWideStr(const char* text, std::wstring& out) {
  out.clear();
  LogDebug("UTF String Received:%s\n", text);
  if (!text) {
    LogError("ChangeUtf8ToWideStr: utf8 is empty! \n");
    return false;
  }
  if (!Utf8ToWide(text, out)) {
    LogLastError();
    return false;
  }
  return true;
}

bool ChangeWideToUtf8Str(const wchar_t* text, std::string& out) {
  out.clear();
  if (!text) return false;
  int needed = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string buf;
  if (needed > 0) {
    buf.assign(static_cast<size_t>(needed) + 1, '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, buf.data(), needed, nullptr, nullptr) > 0) {
      buf.resize(static_cast<size_t>(needed) - 1);
      out = std::move(buf);
      return true;
    }
  }
  LogError(" Error Message: %s\n", SystemMessageText(GetLastError()).c_str());
  return false;
}

int ChangeAnsiToUTF8Str(const char* text, std::string& out) {
  out.clear();
  if (!text) {
    LogError("ChangeAnsiToUTF8Str: ansiString is empty! \n");
    return 0;
  }
  std::wstring wide;
  if (!ChangeToWideStr(text, wide)) return 0;
  return ChangeWideToUtf8Str(wide.c_str(), out) ? 1 : 0;
}

std::string ToLowerUtf8(const char* text) {
  std::wstring wide;
  if (!ChangeUtf8ToWideStr(text, wide)) return std::string();
  for (wchar_t& c : wide) c = static_cast<wchar_t>(towlower(c));
  std::string out;
  ChangeWideToUtf8Str(wide.c_str(), out);
  return out;
}
