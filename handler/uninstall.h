// Removal of obsolete Java updates: the uninstall entries of the Windows
// Installer whose product codes carry the Java prefix are compared with the
// newest installed version, and the older ones of its major version removed.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Uninstall subkey names (for Windows Installer products, the product codes).
using KeyList = std::vector<std::string>;

// Every uninstall entry whose name contains this text is a Java update.
inline constexpr const char* kJavaProductCodePrefix = "{26A24AE4-039D-4CA4-87B4-2F";

// Uninstalls the obsolete updates named by the run options
// javaLatestInstalledVersion and javaArchitecture ("32": the 32-bit Java;
// anything else: the 64-bit one). The result of the last uninstall run, 0 when
// none ran.
int32_t uninstallObsoleteUpdates();

// Appends every subkey name of the uninstall root (32-bit or native view).
void getSubKeysOfRegistryHive(KeyList& keys, bool is32Bit);
// Appends to `result` every key that contains `pattern` (case-sensitive).
void findKeysWithPattern(const KeyList& keys, const std::string& pattern, KeyList& result);
// Appends to `result` every key whose DisplayVersion has the major version of
// javaLatestInstalledVersion and is older than it.
void getUpdatesToDelete(const KeyList& keys, KeyList& result, bool is32Bit);
// Runs msiexec /X for every key, 45 minutes each; the last result, 0 for none.
int32_t uninstallUpdates(const KeyList& keys, bool is32Bit);
