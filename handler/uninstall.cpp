// Removal of obsolete Java updates (see uninstall.h): reads the Windows
// uninstall entries in the view of the Java's architecture and runs the
// Windows Installer's msiexec /X for each older update of the same major version.
#include "handler/uninstall.h"

#include <windows.h>

#include <optional>
#include <vector>

#include "agent/config/settings.h"
#include "agent/log/logger.h"
#include "agent/registry/registry.h"
#include "agent/util/errortext.h"
#include "handler/execute.h"
#include "handler/options.h"
#include "handler/version.h"

namespace {

constexpr const char* kUninstallRoot = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const char* kUninstallEntryPrefix = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr int32_t kUninstallTimeLimitMinutes = 45;
constexpr DWORD kSubKeyNameLength = 260;

// The text up to its first dot; the whole text when it has none.
std::string MajorOf(const std::string& version) { return version.substr(0, version.find('.')); }

// The Windows folder, whatever its length. 0 or the Windows error.
DWORD WindowsFolder(std::string& out) {
  std::vector<char> buffer(MAX_PATH + 1, '\0');
  for (;;) {
    UINT n = GetWindowsDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
    if (n == 0) return GetLastError();
    if (n < buffer.size()) {
      out.assign(buffer.data(), n);
      return 0;
    }
    buffer.assign(static_cast<size_t>(n) + 1, '\0');  // n: the size needed, terminator included
  }
}

}  // namespace

int32_t uninstallObsoleteUpdates() {
  LogDebug("Inside");
  const bool is32Bit = g_runOptions.javaArchitecture && *g_runOptions.javaArchitecture == "32";
  KeyList allKeys;
  getSubKeysOfRegistryHive(allKeys, is32Bit);
  KeyList javaKeys;
  findKeysWithPattern(allKeys, kJavaProductCodePrefix, javaKeys);
  KeyList obsolete;
  getUpdatesToDelete(javaKeys, obsolete, is32Bit);
  return uninstallUpdates(obsolete, is32Bit);
}

void getSubKeysOfRegistryHive(KeyList& keys, bool is32Bit) {
  LogDebug("Inside getSubKeysOfRegistryHive");
  RegistryKey root;
  if (root.Open(HKEY_LOCAL_MACHINE, kUninstallRoot, is32Bit ? KEY_READ : (KEY_READ | KEY_WOW64_64KEY)) !=
      ERROR_SUCCESS)
    return;
  // Key names fit 260 characters; a longer (multi-byte) one gets a larger
  // buffer rather than ending the walk early.
  std::vector<char> name(kSubKeyNameLength, '\0');
  for (DWORD index = 0;;) {
    DWORD length = static_cast<DWORD>(name.size());
    LONG rc = RegEnumKeyExA(root.Handle(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA && name.size() < 65536) {
      name.assign(name.size() * 2, '\0');
      continue;
    }
    if (rc != ERROR_SUCCESS) break;
    keys.emplace_back(name.data(), length);
    ++index;
  }
  for (const std::string& key : keys) LogDebug("Subkey Name:%s\n", key.c_str());
}

void findKeysWithPattern(const KeyList& keys, const std::string& pattern, KeyList& result) {
  LogDebug("Inside finding pattern in a list of strings function");
  for (const std::string& key : keys) {
    if (key.find(pattern) == std::string::npos) continue;
    result.push_back(key);
    LogInfo("Key with the given pattern is:%s\n", key.c_str());
  }
}

void getUpdatesToDelete(const KeyList& keys, KeyList& result, bool is32Bit) {
  const std::optional<std::string>& latest = g_runOptions.javaLatestInstalledVersion;
  LogDebug("Inside");
  if (!latest) {
    // Without the newest installed version nothing can be older than it.
    LogInfo("getUpdatesToDelete: Latest installed version is not given\n");
    return;
  }
  const std::string latestMajor = MajorOf(*latest);
  for (const std::string& key : keys) {
    LogInfo("Process starts here\n");
    const std::string path = kUninstallEntryPrefix + key;
    LogInfo("Memory allocation successfull\n");
    LogInfo("The full key path is %s \n", path.c_str());
    std::optional<std::string> displayVersion;
    const int32_t rc = is32Bit ? ReadRegSZ(HKEY_LOCAL_MACHINE, path.c_str(), "DisplayVersion", displayVersion)
                               : ReadRegSZ64(HKEY_LOCAL_MACHINE, path.c_str(), "DisplayVersion", displayVersion);
    if (rc != ERROR_SUCCESS || !displayVersion) {
      LogInfo("getUpdatesToDelete: Display version is null\n");
      LogInfo("Cleanup is successfull for null value also \n");
      continue;
    }
    LogInfo("maatniya");
    const bool obsolete = MajorOf(*displayVersion) == latestMajor &&
                          !CheckForVersionEqual(displayVersion->c_str(), latest->c_str()) &&
                          CheckForVersionLesserAndEquals(displayVersion->c_str(), latest->c_str());
    if (obsolete) {
      result.push_back(key);
      LogInfo("Keys to delete :%s\n", key.c_str());
    }
    LogInfo("nee kelambu");
  }
  LogInfo("lolllll");
}

int32_t uninstallUpdates(const KeyList& keys, bool is32Bit) {
  if (keys.empty()) return 0;
  std::string windows;
  if (const DWORD error = WindowsFolder(windows); error != 0) {
    LogError("uninstallUpdates : Failed to get the Windows folder \n");
    LogErrorCode(static_cast<int32_t>(error));
    return static_cast<int32_t>(error);
  }
  int32_t result = 0;
  for (const std::string& key : keys) {
    std::string command;
    std::string folder;
    ProgramLookup lookup;
    if (gv_IsWow64 && is32Bit) {
      command = windows + "\\SysWOW64\\msiexec.exe /X" + key + " /qn /norestart";
      folder = windows + "\\SysWOW64";
      lookup = ProgramLookup::kRedirected;
    } else {
      command = windows + "\\System32\\msiexec.exe /X" + key + " /qn /norestart";
      folder = windows + "\\system32";
      // The native msiexec: a 32-bit build would otherwise be sent to SysWOW64.
      lookup = ProgramLookup::kNative;
      LogInfo("%s    %s  \n", command.c_str(), folder.c_str());
    }
    std::string remark;
    result = runInstaller(folder.c_str(), command.c_str(), remark, kUninstallTimeLimitMinutes, 0, lookup);
  }
  return result;
}
