// RegistryKey: one registry key kept open across several operations, with the
// registry view it was opened in. Move-only; the handle closes with the object.
#include <cstring>
#include <cwchar>
#include <vector>

#include "agent/registry/registry.h"

namespace {
constexpr REGSAM kViewBits = KEY_WOW64_32KEY | KEY_WOW64_64KEY;
constexpr LONG kInvalidData = 13;
}  // namespace

RegistryKey::~RegistryKey() {
  // The last error of whatever failed before the key went out of scope stays visible.
  DWORD saved = GetLastError();
  Close();
  SetLastError(saved);
}

RegistryKey::RegistryKey(RegistryKey&& other) noexcept : key_(other.key_), view_(other.view_) {
  other.key_ = nullptr;
  other.view_ = 0;
}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    Close();
    key_ = other.key_;
    view_ = other.view_;
    other.key_ = nullptr;
    other.view_ = 0;
  }
  return *this;
}

// Open and Create differ only in the call that hands out the key: `call`
// receives the effective access mask and where to put the key, and on success
// the key it gave replaces the one held.
template <typename Call>
LONG RegistryKey::Adopt(REGSAM access, Call call) {
  const REGSAM effective = RegistryAccess(access);
  HKEY key = nullptr;
  const LONG rc = call(effective, &key);
  if (rc != ERROR_SUCCESS) return rc;
  Close();
  key_ = key;
  view_ = effective & kViewBits;
  return ERROR_SUCCESS;
}

LONG RegistryKey::Open(HKEY parent, const char* subKey, REGSAM access) {
  return Adopt(access, [&](REGSAM effective, HKEY* key) { return RegOpenKeyExA(parent, subKey, 0, effective, key); });
}

LONG RegistryKey::Open(HKEY parent, const wchar_t* subKey, REGSAM access) {
  return Adopt(access, [&](REGSAM effective, HKEY* key) { return RegOpenKeyExW(parent, subKey, 0, effective, key); });
}

LONG RegistryKey::Create(HKEY parent, const wchar_t* subKey, REGSAM access, DWORD* disposition) {
  return Adopt(access, [&](REGSAM effective, HKEY* key) {
    return RegCreateKeyExW(parent, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, effective, nullptr, key, disposition);
  });
}

LONG RegistryKey::Create(HKEY parent, const char* subKey, char* keyClass, DWORD options, REGSAM access,
                         LPSECURITY_ATTRIBUTES security, DWORD* disposition) {
  return Adopt(access, [&](REGSAM effective, HKEY* key) {
    return RegCreateKeyExA(parent, subKey, 0, keyClass, options, effective, security, key, disposition);
  });
}

LONG RegistryKey::QueryDWORDValue(const char* name, DWORD& out) {
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD size = sizeof(value);
  LONG rc = RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  if (rc != ERROR_SUCCESS) return rc;
  if (type != REG_DWORD) return kInvalidData;
  out = value;
  return ERROR_SUCCESS;
}

LONG RegistryKey::SetDWORDValue(const char* name, DWORD value) {
  return RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

LONG RegistryKey::QueryStringValue(const char* name, char* buffer, DWORD* inOutSize) {
  if (!buffer || !inOutSize) return kInvalidData;
  const DWORD capacity = *inOutSize;
  *inOutSize = 0;
  DWORD type = REG_NONE;
  DWORD size = capacity;
  LONG rc = RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  if (rc != ERROR_SUCCESS) return rc;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return kInvalidData;
  if (size == 0) {
    // Stored with no bytes at all: hand out the empty text.
    if (capacity == 0) return ERROR_MORE_DATA;
    buffer[0] = '\0';
    *inOutSize = 1;
    return ERROR_SUCCESS;
  }
  if (buffer[size - 1] != '\0') return kInvalidData;
  *inOutSize = size;
  return ERROR_SUCCESS;
}

LONG RegistryKey::QueryStringValue(const char* name, std::string& out) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  LONG rc = RegQueryValueExA(key_, name, nullptr, &type, nullptr, &size);
  if (rc != ERROR_SUCCESS) return rc;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return kInvalidData;
  std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
  DWORD read = size;
  rc = RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &read);
  if (rc != ERROR_SUCCESS) return rc;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return kInvalidData;
  if (read > 0 && buffer[read - 1] != '\0') return kInvalidData;
  out.assign(buffer.data(), strnlen(buffer.data(), read));
  return ERROR_SUCCESS;
}

LONG RegistryKey::QueryStringValue(const wchar_t* name, std::wstring& out) {
  std::vector<wchar_t> buffer;
  for (;;) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG rc = RegQueryValueExW(key_, name, nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS) return rc;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return kInvalidData;
    // Room for a terminator the stored text may lack.
    buffer.assign(size / sizeof(wchar_t) + 2, L'\0');
    DWORD read = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
    rc = RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &read);
    if (rc == ERROR_MORE_DATA) continue;  // grew between the two reads
    if (rc != ERROR_SUCCESS) return rc;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return kInvalidData;
    out.assign(buffer.data(), wcsnlen(buffer.data(), buffer.size()));
    return ERROR_SUCCESS;
  }
}

LONG RegistryKey::SetStringValue(const wchar_t* name, const wchar_t* text, DWORD type) {
  if (!text) return kInvalidData;
  const size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
  if (bytes > MAXDWORD) return kInvalidData;
  return RegSetValueExW(key_, name, 0, type, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(bytes));
}

LONG RegistryKey::DeleteValue(const char* name) { return RegDeleteValueA(key_, name); }
LONG RegistryKey::DeleteValue(const wchar_t* name) { return RegDeleteValueW(key_, name); }

LONG RegistryKey::SetStringValue(const char* name, const char* text, DWORD type) {
  if (!text) return kInvalidData;
  const size_t bytes = std::strlen(text) + 1;
  if (bytes > MAXDWORD) return kInvalidData;
  return RegSetValueExA(key_, name, 0, type, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(bytes));
}

LONG RegistryKey::Close() {
  LONG rc = ERROR_SUCCESS;
  if (key_) rc = RegCloseKey(key_);
  key_ = nullptr;
  view_ = 0;
  return rc;
}
