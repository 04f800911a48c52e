// Java installation discovery: reads "JavaHome" under the JavaSoft keys in the
// view each lookup needs, records the install paths for the agent and keeps the
// application-detection key of the patch's product.
#include "handler/javadiscovery.h"

#include <windows.h>


#include "agent/log/logger.h"
#include "agent/registry/registry.h"
#include "agent/util/textconv.h"
#include "handler/options.h"

OptText szJavaHome;

namespace {

constexpr const char* kRuntimeKey = "SOFTWARE\\JavaSoft\\Java Runtime Environment\\";
constexpr const char* kDevKitKey = "SOFTWARE\\JavaSoft\\Java Development Kit\\";

// An absent option reads "(null)" in key paths and log lines, as the log shows
// absent texts.
const char* TextOrNull(const OptText& text) { return text ? text->c_str() : "(null)"; }

bool Contains(const OptText& text, const char* part) {
  return text && text->find(part) != std::string::npos;
}

// The text of a REG_SZ / REG_EXPAND_SZ value of any length, up to its first
// terminator, as UTF-8; nothing for a missing value or another type.
OptText QueryText(RegistryKey& key, const wchar_t* name) {
  std::wstring wide;
  std::string text;
  if (key.QueryStringValue(name, wide) != ERROR_SUCCESS || !ChangeWideToUtf8Str(wide.c_str(), text))
    return std::nullopt;
  return text;
}

// "JavaHome" under keyBase + productVersion. The product name picks the view:
// one naming an x64 product reads the native view, any other the agent's own.
std::string InstallHome(const char* keyBase) {
  const RunOptions& o = g_runOptions;
  const std::string path = std::string(keyBase) + TextOrNull(o.productVersion);
  const REGSAM access = Contains(o.productName, "x64") ? (KEY_QUERY_VALUE | KEY_WOW64_64KEY) : KEY_QUERY_VALUE;

  // The version comes from the command line: system code page.
  std::wstring widePath;
  if (!SystemCodePageToWide(path.c_str(), widePath)) return std::string();
  RegistryKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, widePath.c_str(), access) != ERROR_SUCCESS) return std::string();
  return QueryText(key, L"JavaHome").value_or(std::string());
}

}  // namespace

std::string JREInstallDir() {
  std::string home = InstallHome(kRuntimeKey);
  LogInfo("JREInstallDir : %s\n", home.c_str());
  return home;
}

std::string JDKInstallDir() {
  std::string home = InstallHome(kDevKitKey);
  LogInfo("JDKInstallDir : %s\n", home.c_str());
  return home;
}

void readJavaHome() {
  const RunOptions& o = g_runOptions;
  const std::string path = std::string(kRuntimeKey) + TextOrNull(o.productVersion);
  // An i586 package is the 32-bit Java: its home is in the agent's own view.
  if (Contains(o.patchName, "586"))
    ReadRegSZ(HKEY_LOCAL_MACHINE, path.c_str(), "JavaHome", szJavaHome);
  else
    ReadRegSZ64(HKEY_LOCAL_MACHINE, path.c_str(), "JavaHome", szJavaHome);
  LogInfo("szJavaHome : %s\n", TextOrNull(szJavaHome));
}

void RecordJavaInstallPaths() {
  const RunOptions& o = g_runOptions;
  RegistryKey softwareKey;
  LONG opened = softwareKey.Open(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_ALL_ACCESS);
  const HKEY software = softwareKey.Handle();
  if (opened != ERROR_SUCCESS) {
    LogError("Unable to set/delete java install path to registry. error code : %d\n", static_cast<int>(opened));
    return;
  }

  if (o.removeJavaInstallPath || !o.productName) {
    int32_t rc = deleteValue(software, "Orvanta", "JREPath");
    if (rc == 0)
      LogInfo("JRE Install Path removed from the registry.\n");
    else
      LogError("Failed to remove JRE install path from registry. error code : %d\n", static_cast<int>(rc));
    rc = deleteValue(software, "Orvanta", "JDKPath");
    if (rc == 0)
      LogInfo("JDK Install Path removed from the registry.\n");
    else
      LogError("Failed to remove JDK install path from registry. error code : %d\n", static_cast<int>(rc));
    rc = deleteValue(software, "Orvanta", "FileName");
    if (rc == 0)
      LogInfo("Java file name removed from registry from the registry.\n");
    else
      LogError("Failed to remove java install path from registry. error code : %d\n", static_cast<int>(rc));
  } else {
    // The paths are written even when empty: an empty path tells the agent
    // that this version is not installed.
    int32_t rc = writeValue(software, "Orvanta", "JREPath", JREInstallDir().c_str(), REG_SZ);
    LogInfo("Reg : %d\n", static_cast<int>(rc));
    if (rc == 0)
      LogInfo("JRE Install Path added to the registry.\n");
    else
      LogError("Failed to add JRE install Path to the registry. error code : %d\n", static_cast<int>(rc));
    rc = writeValue(software, "Orvanta", "JDKPath", JDKInstallDir().c_str(), REG_SZ);
    LogInfo("Reg : %d\n", static_cast<int>(rc));
    if (rc == 0)
      LogInfo("Java Install Path added to the registry.\n");
    else
      LogError("Failed to add JDK install Path to the registry. error code : %d\n", static_cast<int>(rc));
    if (o.javaFileName) {
      // writeValue takes UTF-8; the command line gave the system code page.
      std::string fileName;
      rc = SystemCodePageToUtf8(o.javaFileName->c_str(), fileName)
               ? writeValue(software, "Orvanta", "FileName", fileName.c_str(), REG_SZ)
               : 13;
      if (rc == 0)
        LogInfo("File name added.\n");
      else
        LogError("Failed to add file name to the registry. error code : %d\n", static_cast<int>(rc));
    }
  }
}

std::string DetectionKeyPath() { return std::string(kAppDetectionKeyPrefix) + TextOrNull(g_runOptions.productName); }

int32_t CreateDetectionKey() {
  const std::string path = DetectionKeyPath();
  LogDebug("addRegistryKey: Inside addRegistryKey method ...... \n");
  if (g_runOptions.calledFromSoftwareDeployment) return 0;
  // Through the UTF-16 interface: product names of any length and alphabet.
  // The name comes from the command line: system code page.
  std::wstring widePath;
  if (!SystemCodePageToWide(path.c_str(), widePath)) return 13;
  RegistryKey key;
  LONG rc = key.Create(HKEY_LOCAL_MACHINE, widePath.c_str(), KEY_ALL_ACCESS);
  LogDebug("RegCreateKeyEx: returns : %d\n", static_cast<int>(rc));
  return rc;
}

int32_t ClearDetectionKey() {
  // An empty name (or one of backslashes only) would name AppDetection itself
  // and wipe the detection marks of every product.
  const OptText& name = g_runOptions.productName;
  if (name && name->find_first_not_of('\\') == std::string::npos) {
    LogError("Detection key not cleared: the product name is empty\n");
    return 0;
  }
  // The same UTF-16 path as the key was created with, in the same view.
  std::wstring widePath;
  if (!SystemCodePageToWide(DetectionKeyPath().c_str(), widePath)) return 0;
  RegistryKey key;
  LONG rc = key.Open(HKEY_LOCAL_MACHINE, widePath.c_str(), KEY_ALL_ACCESS);
  if (rc != ERROR_SUCCESS) return 0;
  rc = RegDeleteTreeW(key.Handle(), nullptr);
  key.Close();
  if (rc == ERROR_SUCCESS)
    rc = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, widePath.c_str(), RegistryAccess(0) & (KEY_WOW64_32KEY | KEY_WOW64_64KEY), 0);
  return rc == ERROR_SUCCESS ? 1 : 0;
}
