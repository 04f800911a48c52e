// Registry access: one-shot functions that open a key, do one thing with one
// value and close it again, logging each step; and RegistryKey, which keeps a
// key open across several operations. Every open carries a registry view:
// without an explicit view the agent's own (32-bit) view is used.
#pragma once
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "agent/config/registrypaths.h"

// The access mask a path-naming registry call must use: no view bits -> the
// 32-bit view; on 32-bit Windows the native (64-bit) view folds into it.
REGSAM RegistryAccess(REGSAM access);

int32_t addRegistryKey(HKEY root, const char* subKey);
// Name "--" writes the default value; data "--" writes empty data. Types
// REG_SZ, REG_EXPAND_SZ, REG_BINARY (stored as the UTF-16 text) and REG_DWORD
// (data read as a signed decimal).
int32_t writeValue(HKEY root, const char* subKey, const char* valueName, const char* valueData, DWORD type);
int32_t deleteValue(HKEY root, const char* subKey, const char* valueName);
int32_t deleteValueW(HKEY root, const wchar_t* subKey, const wchar_t* valueName);
// Reads up to 4 bytes of any type; `out` is untouched on failure.
int32_t ReadDwordRegistryData(HKEY root, const char* subKey, const char* valueName, DWORD& out);
// Reads a value of any type; `out` holds the stored bytes up to the first zero
// byte (so an unterminated REG_SZ still reads as a text). `out` is none when
// the key or value is missing, "" when the second read fails.
int32_t ReadRegSZ(HKEY root, const char* subKey, const char* valueName, std::optional<std::string>& out);
// As ReadRegSZ through the UTF-16 interface (value name given in UTF-8; 13
// when the name cannot be converted).
int32_t ReadRegSZEx(HKEY root, const char* subKey, const char* valueName, std::optional<std::wstring>& out);
// As ReadRegSZ in the native view when gv_IsWow64 is set.
int32_t ReadRegSZ64(HKEY root, const char* subKey, const char* valueName, std::optional<std::string>& out);
// 1 when the key and everything below it were deleted, else 0.
int32_t DeleteRegistryTree(HKEY root, const char* subKey);

// The one reader of "TWAgentInstallDir" of the agent key: on success `out`
// holds the folder ending with a backslash (added when the stored text lacks
// it), so "logs", "bin\\7za.exe" and "patches" can be appended; on failure
// `out` is untouched. The registry's error code.
int32_t ReadAgentInstallDir(std::optional<std::string>& out);
// Reads the install folder into gv_agentInstallDir; returns the registry's
// error code.
int32_t LoadAgentInstallDir();

class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey();
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;

  // Opens or creates the key in the view RegistryAccess gives `access`; the key
  // held so far stays open when the call fails. Paths and names in the wide
  // forms reach the registry as they are (any length, any alphabet).
  LONG Open(HKEY parent, const char* subKey, REGSAM access);
  LONG Open(HKEY parent, const wchar_t* subKey, REGSAM access);
  LONG Create(HKEY parent, const char* subKey, char* keyClass = nullptr, DWORD options = REG_OPTION_NON_VOLATILE,
              REGSAM access = KEY_ALL_ACCESS, LPSECURITY_ATTRIBUTES security = nullptr,
              DWORD* disposition = nullptr);
  LONG Create(HKEY parent, const wchar_t* subKey, REGSAM access = KEY_ALL_ACCESS, DWORD* disposition = nullptr);
  // 13 when the stored type is not REG_DWORD.
  LONG QueryDWORDValue(const char* name, DWORD& out);
  LONG SetDWORDValue(const char* name, DWORD value);
  // inOutSize: buffer size in, stored size including the terminator out (0 on failure).
  LONG QueryStringValue(const char* name, char* buffer, DWORD* inOutSize);
  // Whole-text form of the above.
  LONG QueryStringValue(const char* name, std::string& out);
  // A REG_SZ or REG_EXPAND_SZ text of any length up to its first terminator
  // (13 for another type); `out` is untouched on failure.
  LONG QueryStringValue(const wchar_t* name, std::wstring& out);
  LONG SetStringValue(const char* name, const char* text, DWORD type = REG_SZ);
  LONG SetStringValue(const wchar_t* name, const wchar_t* text, DWORD type = REG_SZ);
  LONG DeleteValue(const char* name);
  LONG DeleteValue(const wchar_t* name);
  LONG Close();

  HKEY Handle() const { return key_; }
  REGSAM View() const { return view_; }

 private:
  template <typename Call>
  LONG Adopt(REGSAM access, Call call);

  HKEY key_ = nullptr;
  REGSAM view_ = 0;
};

// While one lives, the reading functions of its thread (ReadRegSZ,
// ReadRegSZ64, ReadRegSZEx, ReadDwordRegistryData) open each key once and read
// every later value of that key through the open key: each open and close is
// a round trip to the registry's keeper, and the configuration loader reads
// some sixty values of a handful of keys. The keys close when it goes. Keys
// that cannot be opened are tried again at the next read; writes, creations
// and deletions open their keys as they always do. Scopes nest: an inner one
// adds nothing.
class RegistryReadKeys {
 public:
  RegistryReadKeys();
  ~RegistryReadKeys();
  RegistryReadKeys(const RegistryReadKeys&) = delete;
  RegistryReadKeys& operator=(const RegistryReadKeys&) = delete;

  // The thread's scope, or null.
  static RegistryReadKeys* Current();
  // The kept key of subKey of root opened with access, opened now when it is
  // not kept yet; the open's error otherwise (nothing is kept then).
  LONG Open(HKEY root, const char* subKey, REGSAM access, HKEY* key);

 private:
  struct Kept {
    HKEY root;
    std::string subKey;
    REGSAM access;
    RegistryKey key;
  };
  std::vector<Kept> kept_;
  bool outermost_;
};
