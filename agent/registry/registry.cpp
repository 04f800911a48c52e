// Registry functions of the agent: each opens one key in the agent's registry
// view, does one thing with one value, closes the key and logs every step.
// RegistryKey (the keep-open form) lives in registrykey.cpp.
#include "agent/registry/registry.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include "agent/config/settings.h"
#include "agent/log/logger.h"
#include "agent/util/errortext.h"
#include "agent/util/textconv.h"
#include "agent/util/wow64.h"

namespace {

constexpr REGSAM kViewBits = KEY_WOW64_32KEY | KEY_WOW64_64KEY;

// "--" names the key's default (unnamed) value.
bool IsDefaultName(const char* name) { return name && _stricmp(name, "--") == 0; }
bool IsDefaultName(const wchar_t* name) { return name && _wcsicmp(name, L"--") == 0; }

// Keeps the registry's own code visible to LogLastError: registry calls return
// their code instead of setting the thread's last error.
void LogRegistryError(LONG code) {
  SetLastError(static_cast<DWORD>(code));
  LogLastError();
}

// Reads a decimal number the way the agent always has: leading blanks, an
// optional sign, digits up to the first non-digit; no digits gives 0. Values
// beyond the 32-bit range saturate instead of wrapping.
int32_t ParseDecimal(const char* text) {
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  return static_cast<int32_t>(value);
}

thread_local RegistryReadKeys* t_readKeys = nullptr;

// A key opened for reading one value: the thread's kept key while a
// RegistryReadKeys lives, else one of its own, closed when it goes.
class ReadKey {
 public:
  LONG Open(HKEY root, const char* subKey, REGSAM access) {
    if (RegistryReadKeys* keys = RegistryReadKeys::Current()) return keys->Open(root, subKey, access, &handle_);
    const LONG rc = own_.Open(root, subKey, access);
    handle_ = own_.Handle();
    return rc;
  }
  HKEY Handle() const { return handle_; }
  void Close() {
    own_.Close();
    handle_ = nullptr;
  }

 private:
  RegistryKey own_;
  HKEY handle_ = nullptr;
};

// The narrow readers differ only in their log lines.
enum class Reader { kReadRegSZ, kReadRegSZ64 };

// Shared body of ReadRegSZ and ReadRegSZ64.
int32_t ReadNarrowValue(HKEY root, const char* subKey, const char* valueName, REGSAM access, Reader reader,
                        std::optional<std::string>& out) {
  out.reset();
  ReadKey key;
  LONG rc = key.Open(root, subKey, access);
  if (rc != ERROR_SUCCESS) {
    if (reader == Reader::kReadRegSZ)
      LogError("ReadRegSZ: Error while opening registry key %s ,and the error is  %d \n", subKey, static_cast<int>(rc));
    else
      LogError("ReadRegSZEx: Error while opening registry key for serverName %d \n", static_cast<int>(rc));
    return rc;
  }
  // Most values fit a first guess, which saves asking for the size first (each
  // registry call is a round trip to the registry's keeper). Five spare zero
  // bytes terminate any text, stored with a terminator or not.
  constexpr DWORD kFirstGuess = 512;
  std::vector<char> buffer(kFirstGuess + 5, '\0');
  DWORD read = kFirstGuess;
  rc = RegQueryValueExA(key.Handle(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &read);
  if (rc == ERROR_MORE_DATA) {
    const DWORD size = read;
    buffer.assign(static_cast<size_t>(size) + 5, '\0');
    read = size;
    rc = RegQueryValueExA(key.Handle(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &read);
  } else if (rc != ERROR_SUCCESS) {
    return rc;
  }
  out.emplace();
  if (rc != ERROR_SUCCESS) {
    if (reader == Reader::kReadRegSZ)
      LogError("ReadRegSZ: Error while reading DWORD value! %d \n", static_cast<int>(rc));
    else
      LogError("ReadRegSZEx: Error while reading DWORD value! %d \n", static_cast<int>(rc));
  } else {
    out->assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
  }
  return rc;
}

// Deletes subKey of parent and everything below it, in the given view.
bool DeleteTreeIn(HKEY parent, const char* subKey, REGSAM view) {
  RegistryKey key;
  LONG rc = key.Open(parent, subKey, KEY_ALL_ACCESS | view);
  if (rc == ERROR_SUCCESS) {
    // Names up to 260 characters are the usual case; longer ones get a buffer
    // sized from what the key reports.
    std::vector<char> name(261, '\0');
    for (;;) {
      DWORD length = static_cast<DWORD>(name.size());
      rc = RegEnumKeyExA(key.Handle(), 0, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_MORE_DATA) {
        DWORD longest = 0;
        if (RegQueryInfoKeyA(key.Handle(), nullptr, nullptr, nullptr, nullptr, &longest, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
            static_cast<size_t>(longest) + 1 <= name.size()) {
          // Could not learn a larger size: grow geometrically instead.
          longest = static_cast<DWORD>(name.size() * 2);
        }
        name.assign(static_cast<size_t>(longest) + 1, '\0');
        continue;
      }
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc != ERROR_SUCCESS || !DeleteTreeIn(key.Handle(), name.data(), view)) return false;
    }
    key.Close();
  }
  return RegDeleteKeyExA(parent, subKey, view, 0) == ERROR_SUCCESS;
}

}  // namespace

REGSAM RegistryAccess(REGSAM access) {
  if ((access & kViewBits) == 0) access |= KEY_WOW64_32KEY;
  if ((access & KEY_WOW64_64KEY) && !IsRunningOn64BitWindows())
    access = (access & ~static_cast<REGSAM>(KEY_WOW64_64KEY)) | KEY_WOW64_32KEY;
  return access;
}

int32_t addRegistryKey(HKEY root, const char* subKey) {
  LogDebug("addRegistryKey: Inside addRegistryKey method ...... \n");
  RegistryKey key;
  DWORD disposition = 0;
  LONG rc = key.Create(root, subKey, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &disposition);
  if (rc != ERROR_SUCCESS) {
    LogError("addRegistryKey:  Create registry key \"%s\" function failed: %d \n", subKey,
             static_cast<int>(rc));
    LogErrorCode(rc);
    return rc;
  }
  if (disposition == REG_OPENED_EXISTING_KEY)
    LogDebug("addRegistryKey:  Opened already existing key! \n");
  else
    LogDebug("addRegistryKey:  Create registry key function successfull: %d \n", static_cast<int>(disposition));
  return 0;
}

int32_t writeValue(HKEY root, const char* subKey, const char* valueName, const char* valueData, DWORD type) {
  LogDebug("@@@@@@@@ Inside writeValue Method @@@@@@@@ \n");
  if (!valueName || !valueData) {
    LogInfo("writeValue : Valuename or Valuedata is Empty \n");
    return 13;
  }
  LogDebug("writeValue: Subkey : %s \n", subKey);
  LogDebug("writeValue: Value Name: %s \n", valueName);
  LogDebug("writeValue: Value Data: %s \n", valueData);

  std::wstring name;
  std::wstring data;
  const bool defaultValue = IsDefaultName(valueName);
  const bool emptyData = std::strcmp(valueData, "--") == 0;
  // A failed conversion would store a wrong name or value: refuse it.
  if (!ChangeToWideStr(valueName, name) || !ChangeToWideStr(valueData, data)) return 13;
  if (defaultValue) {
    LogInfo("writeValue : going to add the (default) value .\n");
    name.clear();
  }
  if (emptyData) {
    LogInfo("writeValue : going to add the value data as 0 value .\n");
    data.clear();
  }

  DWORD number = 0;
  const BYTE* bytes = nullptr;
  DWORD byteCount = 0;
  if (type == REG_DWORD) {
    number = static_cast<DWORD>(ParseDecimal(emptyData ? "" : valueData));
    bytes = reinterpret_cast<const BYTE*>(&number);
    byteCount = sizeof(number);
    LogDebug("writeValue:  REG_DWORD -- sizeOfInputData: %d\n", static_cast<int>(byteCount));
  } else if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_BINARY) {
    const size_t total = (data.size() + 1) * sizeof(wchar_t);
    if (total > MAXDWORD) {
      LogError("writeValue:  Value data is too long: %zu bytes \n", total);
      return 13;
    }
    bytes = reinterpret_cast<const BYTE*>(data.c_str());
    byteCount = static_cast<DWORD>(total);
    LogDebug("writeValue:  Data type is REG_SZ or REG_EXPAND_SZ or REG_BINARY: %d\n", static_cast<int>(byteCount));
  } else {
    // The agent stores only the four types above; anything else is a caller error.
    LogError("writeValue:  Unsupported data type: %d \n", static_cast<int>(type));
    return 13;
  }

  int32_t created = addRegistryKey(root, subKey);
  if (created != 0) {
    LogError("writeValue:  WriteValue failure during key creation! %d \n", static_cast<int>(created));
    return created;
  }
  RegistryKey key;
  LONG rc = key.Open(root, subKey, KEY_ALL_ACCESS);
  if (rc != ERROR_SUCCESS) {
    LogError("writeValue:  Key open failure! %d \n", static_cast<int>(rc));
    LogErrorCode(rc);
    return rc;
  }
  LogDebug("writeValue:  Key found ...!: %d\n", static_cast<int>(rc));
  LogDebug("writeValue:  After addRegistryKey method in writeValue method!!\n");

  rc = RegSetValueExW(key.Handle(), defaultValue ? nullptr : name.c_str(), 0, type, bytes, byteCount);
  if (rc == ERROR_SUCCESS) {
    LogErrorCode(0);
    key.Close();
    LogDebug("@@@@@@@@ End Of writeValue Method @@@@@@@@ \n");
    return 0;
  }
  LogError("writeValue:  Function WriteValue failure!:%d\n", static_cast<int>(rc));
  LogError("writeValue:    Subkey: %s \n", subKey);
  LogError("writeValue:    Valuename: %ls \n", name.c_str());
  LogError("writeValue:    Valuedata: %ls \n", data.c_str());
  LogError("writeValue:    Datatype: %d \n", static_cast<int>(type));
  LogErrorCode(rc);
  return rc;
}

int32_t deleteValue(HKEY root, const char* subKey, const char* valueName) {
  LogDebug("deleteValue: Inside function deleteValue ..... \n");
  const bool defaultValue = IsDefaultName(valueName);
  if (defaultValue) LogInfo("deleteValue : going to delete the (default) value .\n");
  RegistryKey key;
  LONG rc = key.Open(root, subKey, KEY_ALL_ACCESS);
  if (rc != ERROR_SUCCESS) {
    LogError("deleteValue:  %s Key not found!: %d  \n", subKey, static_cast<int>(rc));
    LogRegistryError(rc);
    return rc;
  }
  LogInfo("deleteValue:  Key found ...!: %d\n", static_cast<int>(rc));
  rc = key.DeleteValue(defaultValue ? static_cast<const char*>(nullptr) : valueName);
  key.Close();
  if (rc == ERROR_SUCCESS) {
    LogInfo("deleteValue:  Delete value %s success! \n", valueName);
    return 0;
  }
  LogError("deleteValue:  Delete value %s failure! \n", valueName);
  LogRegistryError(rc);
  return rc;
}

int32_t deleteValueW(HKEY root, const wchar_t* subKey, const wchar_t* valueName) {
  LogDebug("deleteValue: Inside function deleteValue ..... subkey : %ls, Valuename : %ls \n", subKey,
           valueName);
  const bool defaultValue = IsDefaultName(valueName);
  if (defaultValue) LogInfo("deleteValue : going to delete the (default) value .\n");
  RegistryKey key;
  LONG rc = key.Open(root, subKey, KEY_ALL_ACCESS);
  if (rc != ERROR_SUCCESS) {
    LogError("deleteValue:  %ls Key not found!: %d  \n", subKey, static_cast<int>(rc));
    LogRegistryError(rc);
    return rc;
  }
  LogInfo("deleteValue:  Key found ...!: %d\n", static_cast<int>(rc));
  rc = key.DeleteValue(defaultValue ? static_cast<const wchar_t*>(nullptr) : valueName);
  key.Close();
  if (rc == ERROR_SUCCESS) {
    LogInfo("deleteValue:  Delete value %ls success! \n", valueName);
    return 0;
  }
  LogError("deleteValue:  Delete value %ls failure! \n", valueName);
  LogRegistryError(rc);
  return rc;
}

int32_t ReadDwordRegistryData(HKEY root, const char* subKey, const char* valueName, DWORD& out) {
  ReadKey key;
  LONG rc = key.Open(root, subKey, KEY_QUERY_VALUE);
  if (rc == ERROR_FILE_NOT_FOUND) {
    LogDebug("ReadDwordRegistryData:  value  %s Not found: %d \n", valueName, static_cast<int>(rc));
    return rc;
  }
  if (rc != ERROR_SUCCESS) {
    LogError("ReadDwordRegistryData: Error while opening registry key %s,and the errorcode is : %d \n",
             subKey, static_cast<int>(rc));
    return rc;
  }
  // Starts from the caller's value so that a value shorter than 4 bytes keeps
  // the bytes it does not cover, and a failed read leaves `out` alone.
  DWORD value = out;
  DWORD size = sizeof(value);
  rc = RegQueryValueExA(key.Handle(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
  key.Close();
  if (rc == ERROR_FILE_NOT_FOUND) {
    LogDebug("ReadDwordRegistryData:  value  %s Not found: %d \n", valueName, static_cast<int>(rc));
    return rc;
  }
  if (rc != ERROR_SUCCESS) {
    LogError("ReadDwordRegistryData: Error while reading DWORD value of %s : %d \n", valueName,
             static_cast<int>(rc));
    return rc;
  }
  out = value;
  return 0;
}

int32_t ReadRegSZ(HKEY root, const char* subKey, const char* valueName, std::optional<std::string>& out) {
  return ReadNarrowValue(root, subKey, valueName, KEY_QUERY_VALUE, Reader::kReadRegSZ, out);
}

int32_t ReadRegSZ64(HKEY root, const char* subKey, const char* valueName, std::optional<std::string>& out) {
  const REGSAM access = gv_IsWow64 ? (KEY_QUERY_VALUE | KEY_WOW64_64KEY) : KEY_QUERY_VALUE;
  return ReadNarrowValue(root, subKey, valueName, access, Reader::kReadRegSZ64, out);
}

int32_t ReadRegSZEx(HKEY root, const char* subKey, const char* valueName, std::optional<std::wstring>& out) {
  out.reset();
  std::wstring name;
  if (valueName && !ChangeToWideStr(valueName, name)) return 13;
  const wchar_t* wideName = valueName ? name.c_str() : nullptr;

  ReadKey key;
  LONG rc = key.Open(root, subKey, KEY_QUERY_VALUE);
  if (rc != ERROR_SUCCESS) {
    LogError("ReadRegSZEx: Error while opening registry key : %ls \n", wideName);
    return rc;
  }
  DWORD size = 0;
  rc = RegQueryValueExW(key.Handle(), wideName, nullptr, nullptr, nullptr, &size);
  if (rc != ERROR_SUCCESS) return rc;
  // size + 5 zero bytes, rounded up to whole UTF-16 units: at least two zero
  // units follow the stored data, so an unterminated text still ends.
  std::vector<wchar_t> buffer((static_cast<size_t>(size) + 5 + 1) / sizeof(wchar_t), L'\0');
  out.emplace();
  DWORD read = size;
  rc = RegQueryValueExW(key.Handle(), wideName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &read);
  if (rc != ERROR_SUCCESS) {
    LogError("ReadRegSZEx: Error while reading DWORD value! %d \n", static_cast<int>(rc));
  } else {
    out->assign(buffer.data(), wcsnlen(buffer.data(), buffer.size()));
  }
  return rc;
}

int32_t DeleteRegistryTree(HKEY root, const char* subKey) {
  const REGSAM view = RegistryAccess(0) & kViewBits;
  return DeleteTreeIn(root, subKey, view) ? 1 : 0;
}

int32_t ReadAgentInstallDir(std::optional<std::string>& out) {
  std::optional<std::string> folder;
  const int32_t rc = ReadRegSZ(HKEY_LOCAL_MACHINE, kAgentKeyPath, "TWAgentInstallDir", folder);
  if (rc != 0 || !folder) return rc;
  if (!folder->empty() && folder->back() != '\\') folder->push_back('\\');
  out = std::move(folder);
  return 0;
}

int32_t LoadAgentInstallDir() { return ReadAgentInstallDir(gv_agentInstallDir); }

RegistryReadKeys::RegistryReadKeys() : outermost_(t_readKeys == nullptr) {
  if (outermost_) t_readKeys = this;
}

RegistryReadKeys::~RegistryReadKeys() {
  if (outermost_) t_readKeys = nullptr;
}

RegistryReadKeys* RegistryReadKeys::Current() { return t_readKeys; }

LONG RegistryReadKeys::Open(HKEY root, const char* subKey, REGSAM access, HKEY* key) {
  const std::string path = subKey ? subKey : "";
  for (const Kept& k : kept_) {
    if (k.root == root && k.access == access && k.subKey == path) {
      *key = k.key.Handle();
      return ERROR_SUCCESS;
    }
  }
  RegistryKey opened;
  const LONG rc = opened.Open(root, subKey, access);
  if (rc != ERROR_SUCCESS) return rc;
  *key = opened.Handle();
  kept_.push_back({root, path, access, std::move(opened)});
  return ERROR_SUCCESS;
}
