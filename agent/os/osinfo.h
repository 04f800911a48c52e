// Which Windows the program runs on: a family number and display names (with
// the edition, with the service-pack level, or the release name). The naming is
// a function of an OsVersionInfo record, so it is the same code whether the
// record comes from Windows (oswin.cpp) or is built by hand.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "agent/config/settings.h"

// Platform ids, product types, processor architecture and suite bits as
// Windows reports them.
inline constexpr uint32_t kOsPlatformWin32s = 0;
inline constexpr uint32_t kOsPlatformWin9x = 1;
inline constexpr uint32_t kOsPlatformNT = 2;
inline constexpr uint8_t kOsWorkstation = 1;
inline constexpr uint8_t kOsDomainController = 2;
inline constexpr uint8_t kOsServer = 3;
inline constexpr uint16_t kOsArchIntel = 0;
inline constexpr uint16_t kOsArchAmd64 = 9;
inline constexpr uint16_t kOsSuiteSmallBusiness = 0x0001;
inline constexpr uint16_t kOsSuiteEnterprise = 0x0002;
inline constexpr uint16_t kOsSuiteTerminal = 0x0010;
inline constexpr uint16_t kOsSuiteSmallBusinessRestricted = 0x0020;
inline constexpr uint16_t kOsSuiteDatacenter = 0x0080;
inline constexpr uint16_t kOsSuitePersonal = 0x0200;
inline constexpr uint16_t kOsSuiteBlade = 0x0400;

// Registry texts the naming consults, each read only when a name needs it.
enum class OsRegistryText {
  kProductName,         // HKLM "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion" "ProductName", agent's view
  kReleaseId,           // HKLM "Software\\Microsoft\\Windows NT\\CurrentVersion" "ReleaseId", native view
  kCurrentBuild,        // the same key, "CurrentBuild", native view
  kProductOptionsType,  // HKLM "SYSTEM\\CurrentControlSet\\Control\\ProductOptions" "ProductType"
  kServicePackLevel,    // the agent key, "ServicePackLevel"
};
// Gives a registry text, or none when it is missing. An empty function means
// every text is missing.
using OsTextReader = std::function<OptText(OsRegistryText)>;

// What Windows says about itself.
struct OsVersionInfo {
  bool available = false;  // a version record (extended or basic) was obtained
  bool extended = false;   // the extended record (service-pack numbers, product type, suites)
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  uint32_t platformId = 0;
  std::string csdVersion;  // service-pack text, e.g. "Service Pack 1"
  uint16_t servicePackMajor = 0;
  uint16_t servicePackMinor = 0;
  uint16_t suiteMask = 0;
  uint8_t productType = 0;
  uint16_t architecture = 0;        // native processor architecture
  bool productInfoAvailable = false;  // GetProductInfo exists and answered
  uint32_t productCode = 0;         // its product type code
  OsTextReader readText;
};

// Sizes of the names handed out; longer texts are cut to fit, terminator included.
inline constexpr size_t kOsNameSize = 100;
inline constexpr size_t kOsServicePackNameSize = 64;

// Naming from a given record.
int32_t GetOsFamily(const OsVersionInfo& os);
int32_t isWin7orWin8(const OsVersionInfo& os);
OptText GetOSNameEx(const OsVersionInfo& os, uint32_t major, uint32_t minor);
std::string FormatEditionName(uint32_t major, uint32_t minor, uint32_t productCode, uint32_t productType,
                              uint16_t architecture, const OsTextReader& readText);
OptText GetOSServicePackName(const OsVersionInfo& os, uint32_t major, uint32_t minor);
std::string GetServicePackText(const OsVersionInfo& os);
OptText GetOSBaseName(const OsVersionInfo& os, uint16_t architecture, uint32_t major, uint32_t minor);

#if defined(_WIN32)
// The record of the running Windows; registry texts are read through the
// agent's registry functions when the naming asks for them.
OsVersionInfo ReadOsVersionInfo();

// The same names for the running Windows.
int32_t GetOsFamily();
// 1 on the families 3 and 4 (Windows 7 and 8, and every later Windows that
// reports itself as 6.2), else 0.
int32_t isWin7orWin8();
// (0, 0) names the reported version; other values stand in for it.
OptText GetOSNameEx(uint32_t major, uint32_t minor);
std::string FormatEditionName(uint32_t major, uint32_t minor, uint32_t productCode, uint32_t productType,
                              uint16_t architecture);
OptText GetOSServicePackName(uint32_t major, uint32_t minor);
OptText GetOSServicePackName();
std::string GetServicePackText();
OptText GetOSBaseName(uint16_t architecture, uint32_t major, uint32_t minor);
#endif
