// Registry sandbox for Wine tests (see win_registry.h). Talks to the registry
// directly through the UTF-16 interface, independent of the agent's own
// registry layer, so tests can check that layer against it.
#include "tests/support/win_registry.h"

#include "tests/support/win_system.h"

#include <algorithm>
#include <cwchar>

namespace twtest {
namespace {

std::string Narrow(const wchar_t* text, size_t length) {
  if (length == 0) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
  return out;
}

// Empty name = the default value.
const wchar_t* ValueName(const std::wstring& name) { return name.empty() ? nullptr : name.c_str(); }

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && _stricmp(a.c_str(), b.c_str()) == 0;
}

// Opens a key; nullptr when it cannot be opened.
HKEY OpenKey(HKEY root, RegView view, const std::string& path, REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, Widen(path).c_str(), 0, access | ViewFlag(view), &key) != ERROR_SUCCESS) return nullptr;
  return key;
}

}  // namespace

REGSAM ViewFlag(RegView view) { return view == RegView::k32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY; }

RegistrySandbox::RegistrySandbox(HKEY root) : root_(root) {}

RegistrySandbox::~RegistrySandbox() {
  for (auto it = changes_.rbegin(); it != changes_.rend(); ++it) {
    if (it->isValue) {
      const SavedValue& v = values_[it->index];
      if (v.before) {
        Store(v.view, v.path, v.name, v.before->type, v.before->bytes.data(), v.before->bytes.size());
      } else if (HKEY key = OpenKey(root_, v.view, v.path, KEY_SET_VALUE)) {
        RegDeleteValueW(key, ValueName(Widen(v.name)));
        RegCloseKey(key);
      }
    } else {
      const TrackedKey& k = keys_[it->index];
      DeleteTree(k.view, k.path);
    }
  }
}

std::string RegistrySandbox::UniquePath(const std::string& name) {
  return std::string(kRoot) + "\\" + name + "-" + std::to_string(GetCurrentProcessId());
}

bool RegistrySandbox::CreateKey(RegView view, const std::string& path) {
  // Find the highest level that does not exist yet: that is what teardown removes.
  std::optional<std::string> firstNew;
  for (size_t pos = 0; !firstNew;) {
    size_t sep = path.find('\\', pos);
    std::string prefix = path.substr(0, sep);
    if (!KeyExists(view, prefix) && !SameText(prefix, kRoot)) firstNew = prefix;
    if (sep == std::string::npos) break;
    pos = sep + 1;
  }
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(root_, Widen(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS | ViewFlag(view), nullptr, &key, &disposition) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  if (firstNew) Track(view, *firstNew);
  return true;
}

void RegistrySandbox::RememberValue(RegView view, const std::string& path, const std::string& name) {
  for (const SavedValue& v : values_)
    if (v.view == view && SameText(v.path, path) && SameText(v.name, name)) return;
  // A value in a key this sandbox creates goes away with the key.
  for (const TrackedKey& k : keys_)
    if (k.view == view && (SameText(k.path, path) ||
                           (path.size() > k.path.size() && path[k.path.size()] == '\\' &&
                            SameText(path.substr(0, k.path.size()), k.path))))
      return;
  values_.push_back({view, path, name, GetRaw(view, path, name)});
  changes_.push_back({true, values_.size() - 1});
}

bool RegistrySandbox::Store(RegView view, const std::string& path, const std::string& name, DWORD type,
                            const void* data, size_t size) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root_, Widen(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS | ViewFlag(view), nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  const std::wstring wname = Widen(name);
  LONG rc = RegSetValueExW(key, ValueName(wname), 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

bool RegistrySandbox::SetRaw(RegView view, const std::string& path, const std::string& name, DWORD type,
                             const std::string& bytes) {
  if (!CreateKey(view, path)) return false;
  RememberValue(view, path, name);
  return Store(view, path, name, type, bytes.data(), bytes.size());
}

bool RegistrySandbox::SetString(RegView view, const std::string& path, const std::string& name,
                                const std::string& value, DWORD type) {
  std::wstring wide = Widen(value);
  std::string bytes(reinterpret_cast<const char*>(wide.c_str()), (wide.size() + 1) * sizeof(wchar_t));
  return SetRaw(view, path, name, type, bytes);
}

bool RegistrySandbox::SetDword(RegView view, const std::string& path, const std::string& name, DWORD value) {
  return SetRaw(view, path, name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof(value)));
}

bool RegistrySandbox::SetBinary(RegView view, const std::string& path, const std::string& name,
                                const std::string& bytes) {
  return SetRaw(view, path, name, REG_BINARY, bytes);
}

bool RegistrySandbox::DeleteValue(RegView view, const std::string& path, const std::string& name) {
  HKEY key = OpenKey(root_, view, path, KEY_SET_VALUE | KEY_QUERY_VALUE);
  if (!key) return false;
  RememberValue(view, path, name);
  LONG rc = RegDeleteValueW(key, ValueName(Widen(name)));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

std::optional<RawRegValue> RegistrySandbox::GetRaw(RegView view, const std::string& path,
                                                   const std::string& name) const {
  HKEY key = OpenKey(root_, view, path, KEY_QUERY_VALUE);
  if (!key) return std::nullopt;
  const std::wstring wname = Widen(name);
  RawRegValue value;
  DWORD size = 0;
  LONG rc = RegQueryValueExW(key, ValueName(wname), nullptr, &value.type, nullptr, &size);
  if (rc == ERROR_SUCCESS) {
    value.bytes.assign(size, '\0');
    rc = RegQueryValueExW(key, ValueName(wname), nullptr, &value.type,
                          reinterpret_cast<BYTE*>(value.bytes.data()), &size);
    value.bytes.resize(size);
  }
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return std::nullopt;
  return value;
}

std::optional<std::string> RegistrySandbox::GetString(RegView view, const std::string& path,
                                                      const std::string& name) const {
  std::optional<RawRegValue> raw = GetRaw(view, path, name);
  if (!raw || (raw->type != REG_SZ && raw->type != REG_EXPAND_SZ)) return std::nullopt;
  std::wstring wide(raw->bytes.size() / sizeof(wchar_t), L'\0');
  std::copy_n(raw->bytes.data(), wide.size() * sizeof(wchar_t), reinterpret_cast<char*>(wide.data()));
  return Narrow(wide.c_str(), wcsnlen(wide.c_str(), wide.size()));
}

std::optional<DWORD> RegistrySandbox::GetDword(RegView view, const std::string& path,
                                               const std::string& name) const {
  std::optional<RawRegValue> raw = GetRaw(view, path, name);
  if (!raw || raw->type != REG_DWORD || raw->bytes.size() != sizeof(DWORD)) return std::nullopt;
  DWORD value = 0;
  std::copy_n(raw->bytes.data(), sizeof(value), reinterpret_cast<char*>(&value));
  return value;
}

bool RegistrySandbox::KeyExists(RegView view, const std::string& path) const {
  HKEY key = OpenKey(root_, view, path, KEY_QUERY_VALUE);
  if (!key) return false;
  RegCloseKey(key);
  return true;
}

bool RegistrySandbox::ValueExists(RegView view, const std::string& path, const std::string& name) const {
  return GetRaw(view, path, name).has_value();
}

std::vector<std::string> RegistrySandbox::SubKeys(RegView view, const std::string& path) const {
  std::vector<std::string> names;
  HKEY key = OpenKey(root_, view, path, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE);
  if (!key) return names;
  DWORD longest = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &longest, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr);
  std::wstring name(static_cast<size_t>(longest) + 1, L'\0');
  for (DWORD i = 0;; ++i) {
    DWORD length = static_cast<DWORD>(name.size());
    if (RegEnumKeyExW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.push_back(Narrow(name.c_str(), length));
  }
  RegCloseKey(key);
  return names;
}

bool RegistrySandbox::DeleteTree(RegView view, const std::string& path) {
  if (HKEY key = OpenKey(root_, view, path, KEY_ALL_ACCESS)) {
    RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
  }
  RegDeleteKeyExW(root_, Widen(path).c_str(), ViewFlag(view), 0);
  return !KeyExists(view, path);
}

void RegistrySandbox::Track(RegView view, const std::string& path) {
  for (const TrackedKey& k : keys_)
    if (k.view == view && SameText(k.path, path)) return;
  keys_.push_back({view, path});
  changes_.push_back({false, keys_.size() - 1});
}

}  // namespace twtest
