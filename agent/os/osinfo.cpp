// Windows version naming: family numbers, edition names, service-pack names and
// release ("Gold") names, computed from an OsVersionInfo record. Portable: the
// record and its registry texts are handed in, nothing here asks Windows.
#include "agent/os/osinfo.h"

#include <cstring>

#include "agent/log/logger.h"

namespace {

OptText ReadText(const OsTextReader& reader, OsRegistryText which) {
  if (!reader) return std::nullopt;
  return reader(which);
}

// nullptr for a missing text, so the log prints it as "(null)".
const char* OrNull(const OptText& text) { return text ? text->c_str() : nullptr; }

// Cuts a name to what a buffer of `size` bytes (terminator included) holds.
std::string Bounded(std::string text, size_t size) {
  if (text.size() > size - 1) text.resize(size - 1);
  return text;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool EqualsNoCase(const std::string& a, const char* b) {
  const size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

int AsInt(uint32_t value) { return static_cast<int>(value); }

// Edition text by GetProductInfo's product type code; nullptr for codes the
// table does not know.
const char* EditionText(uint32_t code) {
  switch (code) {
    case 1: case 28: return "Ultimate Edition";
    case 2: case 5: return "Home Basic Edition";
    case 3: case 26: return "Home Premium Edition";
    case 4: case 10: case 27: return "Enterprise Edition";
    case 6: case 16: return "Business Edition";
    case 7: return "Standard Edition";
    case 8: return "Datacenter Edition";
    case 9: return "Small Business Server";
    case 11: case 47: case 66: return "Starter";
    case 12: return "Datacenter Edition (core installation)";
    case 13: return "Enterprise Edition (core installation)";
    case 14: return "Standard Edition (core installation)";
    case 17: case 29: return "Web Server Edition";
    case 20: return "Storage Server Express Edition";
    case 21: return "Storage Server Standard Edition";
    case 22: return "Storage Server Workgroup Edition";
    case 23: return "Storage Server Enterprise Edition";
    case 25: return "Small Business Server Premium Edition";
    case 33: return "Foundation Edition";
    case 36: return "Standard Edition without Hyper-V";
    case 37: return "Datacenter Edition without Hyper-V";
    case 38: return "Enterprise Edition without Hyper-V";
    case 39: return "Datacenter Edition without Hyper-V (core installation)";
    case 40: return "Standard Edition without Hyper-V (core installation)";
    case 41: return "Enterprise Edition without Hyper-V (core installation)";
    case 48: case 49: case 69: return "Professional Edition";
    case 50: return "Essentials Edition";
    case 65: return "Embedded Standard Edition";
    case 79: return "Server Standard (evaluation installation) Edition";
    case 101: return "Home";
    case 103: return "Professional with Media Center Edition";
    case 121: return "Education";
    case 122: return "Education N";
    case 123: return "IoT Core";
    case 125: return "Enterprise 2015 LTSB";
    case 126: return "Enterprise 2015 LTSB N";
    case 129: return "Enterprise 2015 LTSB Evaluation";
    case 130: return "Enterprise 2015 LTSB N Evaluation";
    case 131: return "IoT Core Commercial";
    default: return nullptr;
  }
}

// Product codes whose name is the bare version name.
bool IsVersionOnlyCode(uint32_t code) { return code >= 98 && code <= 100; }

// The versions that carry edition names, with their client and server names.
struct VersionNames {
  uint32_t major;
  uint32_t minor;
  const char* client;
  const char* server;
  bool serverAlwaysX64;  // the server name carries "(x64)" on any architecture
};

constexpr VersionNames kVersionNames[] = {
    {6, 0, "Windows Vista", "Windows Server 2008", false},
    {6, 1, "Windows 7", "Windows Server 2008 R2", false},
    {6, 2, "Windows 8", "Windows Server 2012", true},
    {6, 3, "Windows 8.1", "Windows Server 2012 R2", true},
    {10, 0, "Windows 10", "Windows Server 2016", true},
};

const VersionNames* FindVersion(uint32_t major, uint32_t minor) {
  for (const VersionNames& v : kVersionNames)
    if (v.major == major && v.minor == minor) return &v;
  return nullptr;
}

// "<version name> <edition>[ (x64)]"; an empty edition leaves out its blank too.
// Versions without names give the empty text.
std::string EditionName(uint32_t major, uint32_t minor, bool workstation, bool amd64, const std::string& edition) {
  const VersionNames* v = FindVersion(major, minor);
  if (!v) return std::string();
  std::string name = workstation ? v->client : v->server;
  if (!edition.empty()) name += " " + edition;
  if (amd64 || (!workstation && v->serverAlwaysX64)) name += " (x64)";
  return Bounded(std::move(name), kOsNameSize);
}

// Names of the systems for which GetProductInfo gives nothing.
std::string LegacyName(const OsVersionInfo& os) {
  const uint32_t major = os.major;
  const uint32_t minor = os.minor;
  if (os.platformId == kOsPlatformWin32s) return "Win32s";
  if (os.platformId == kOsPlatformWin9x) {
    if (major == 4 && minor == 0) return "Windows 95";
    if (major == 4 && minor == 10)
      return os.csdVersion.size() > 1 && os.csdVersion[1] == 'A' ? "Windows 98 SE" : "Windows 98";
    if (major == 4 && minor == 90) return "Windows Millennium Edition";
    return std::string();
  }
  if (os.platformId != kOsPlatformNT) return std::string();

  const bool workstation = os.productType == kOsWorkstation;
  const bool amd64 = os.architecture == kOsArchAmd64;
  const uint16_t suites = os.suiteMask;
  std::string base;
  if (major <= 4)
    base = "Windows NT ";
  else if (major == 5 && minor == 0)
    base = "Windows 2000 ";
  else if (major == 5 && minor == 1)
    base = "Windows XP ";
  else if (major == 5 && minor == 2)
    base = (amd64 && workstation) ? "Windows XP " : "Windows Server 2003";

  if (!os.extended) {
    // Without the extended record the product type is only in the registry;
    // a value longer than 1024 bytes is not read.
    OptText type = ReadText(os.readText, OsRegistryText::kProductOptionsType);
    std::string suffix;
    if (type && type->size() < 1024) {
      if (EqualsNoCase(*type, "WINNT"))
        suffix = "Workstation";
      else if (EqualsNoCase(*type, "LANMANNT"))
        suffix = "Server";
      else if (EqualsNoCase(*type, "SERVERNT"))
        suffix = "Advanced Server";
    }
    return Bounded(base + suffix + " " + std::to_string(major) + "." + std::to_string(minor), kOsNameSize);
  }

  std::string suffix;
  if (workstation) {
    if (major == 4)
      suffix = "Workstation 4.0";
    else if (suites & kOsSuitePersonal)
      suffix = "Home Edition ";
    else if (major == 5 && minor == 2 && amd64)
      suffix = "Professional x64 Edition";
    else
      suffix = "Professional";
  } else if (major == 5 && minor == 2) {
    if (amd64) {
      if (suites & kOsSuiteEnterprise)
        suffix = ", Enterprise x64 Edition";
      else if (suites & kOsSuiteDatacenter)
        suffix = ", Datacenter x64 Edition";
      else
        suffix = ", Standard x64 Edition";
    } else if (suites & kOsSuiteDatacenter) {
      suffix = ", Datacenter Edition";
    } else if (suites & kOsSuiteEnterprise) {
      suffix = ", Enterprise Edition";
    } else if (suites & kOsSuiteBlade) {
      suffix = ", Web Edition";
    } else if (suites & (kOsSuiteSmallBusiness | kOsSuiteSmallBusinessRestricted)) {
      suffix = " for Small Business Server";
    } else {
      suffix = ", Standard Edition";
    }
  } else if (major == 5 && minor == 0) {
    if (suites & kOsSuiteDatacenter)
      suffix = "Datacenter Server";
    else if (suites & kOsSuiteEnterprise)
      suffix = "Advanced Server";
    else
      suffix = "Server";
  } else {
    suffix = (suites & kOsSuiteTerminal) ? "Server 4.0, Terminal Server Edition" : "Server 4.0";
  }
  return Bounded(base + suffix, kOsNameSize);
}

// Release names by the beginning of the edition name, first match wins.
struct ReleaseName {
  const char* prefix;
  const char* plain;
  const char* x64;  // the AMD64 form
};

constexpr ReleaseName kReleaseNames[] = {
    {"Windows 2000", "Windows 2000 Gold", "Windows 2000 Gold"},
    {"Windows XP", "Windows XP Gold", "Windows XP Gold"},
    {"Windows Server 2003", "Windows Server 2003 Gold", "Windows Server 2003 Gold"},
    {"Windows Vista", "Windows Vista Gold", "Windows Vista Gold (x64)"},
    {"Windows Server 2008 R2", "Windows Server 2008 R2 Gold (x64)", "Windows Server 2008 R2 Gold (x64)"},
    {"Windows Server 2008", "Windows Server 2008 SP1", "Windows Server 2008 SP1"},
    {"Windows 7", "Windows 7 Gold", "Windows 7 Gold (x64)"},
    {"Windows 8 Beta", "Windows 8 Gold Beta", "Windows 8 Gold Beta (x64)"},
    {"Windows 8.1", "Windows 8.1 Gold", "Windows 8.1 Gold (x64)"},
    {"Windows 10", nullptr, nullptr},  // carries the release id, see below
    {"Windows 8", "Windows 8 Gold", "Windows 8 Gold (x64)"},
    {"Windows Server 8 Beta", "Windows Server 8 Gold Beta", "Windows Server 8 Gold Beta (x64)"},
    {"Windows Server 2012 R2", "Windows Server 2012 R2 Gold (x64)", "Windows Server 2012 R2 Gold (x64)"},
    {"Windows Server 2012", "Windows Server 2012 Gold (x64)", "Windows Server 2012 Gold (x64)"},
    {"Windows Server 2016", "Windows Server 2016 Gold (x64)", "Windows Server 2016 Gold (x64)"},
};

// Windows 10's release: "ReleaseId", else "1507" for build 10240, else "unknown".
std::string Windows10Release(const OsTextReader& reader) {
  OptText release = ReadText(reader, OsRegistryText::kReleaseId);
  if (release && !release->empty()) return *release;
  OptText build = ReadText(reader, OsRegistryText::kCurrentBuild);
  return (build && *build == "10240") ? "1507" : "unknown";
}

}  // namespace

int32_t GetOsFamily(const OsVersionInfo& os) {
  if (!os.available) return 1;
  if (os.platformId != kOsPlatformNT || os.major <= 4) return -1;
  if (os.major == 5) return os.minor == 0 ? 0 : 1;
  if (os.major == 6) {
    switch (os.minor) {
      case 0: return 2;
      case 1: return 3;
      case 2: return 4;
      case 3: return 5;
      default: return 7;
    }
  }
  if (os.major == 10 && os.minor == 0) return 6;
  return 7;
}

int32_t isWin7orWin8(const OsVersionInfo& os) {
  OptText name = GetOSNameEx(os, 0, 0);
  LogDebug("isWin7orWin8 : GetOSName %s\n", OrNull(name));
  const int32_t family = GetOsFamily(os);
  if (family == 3 || family == 4) {
    LogDebug("isWin7orWin8 : TRUE\n");
    return 1;
  }
  LogDebug("isWin7orWin8 : FALSE\n");
  return 0;
}

std::string FormatEditionName(uint32_t major, uint32_t minor, uint32_t productCode, uint32_t productType,
                              uint16_t architecture, const OsTextReader& readText) {
  const bool workstation = productType == kOsWorkstation;
  const bool amd64 = architecture == kOsArchAmd64;
  std::string edition;
  if (IsVersionOnlyCode(productCode)) {
    // These products are named by the version alone; on servers and on other
    // versions the version name below simply goes without an edition.
    const bool named = (major == 6 && (minor == 2 || minor == 3)) || (major == 10 && minor == 0);
    if (workstation && named) {
      std::string name = EditionName(major, minor, workstation, amd64, std::string());
      LogDebug("Returning with OS Name %s\n", name.c_str());
      return name;
    }
  } else if (const char* text = EditionText(productCode)) {
    edition = text;
  } else {
    LogInfo("dwPlatformInfo : %d\n", AsInt(productCode));
    LogInfo("dwMajorVersion : %d\n", AsInt(major));
    LogInfo("dwMinorVersion : %d\n", AsInt(minor));
    LogError("Edition can't be retrieved. So Assuming it as Beta\n");
    edition = "Beta";
  }

  OptText productName = ReadText(readText, OsRegistryText::kProductName);
  if (productName && productName->find("Preview") != std::string::npos) {
    LogInfo("OS Name detected from registry is : %s\n", productName->c_str());
    edition = "Beta";
  }
  return EditionName(major, minor, workstation, amd64, edition);
}

OptText GetOSNameEx(const OsVersionInfo& os, uint32_t major, uint32_t minor) {
  if (!os.available) return std::nullopt;
  if (!os.productInfoAvailable) return LegacyName(os);

  LogDebug("GetOSNameEx : dwMinorVersion : %d\n", AsInt(minor));
  LogDebug("GetOSNameEx : dwMajorVersion : %d\n", AsInt(major));
  LogDebug("osvi.dwMajorVersion : %d\n", AsInt(os.major));
  LogDebug("osvi.dwMinorVersion : %d\n", AsInt(os.minor));
  LogDebug("osvi.wServicePackMajor : %d\n", os.servicePackMajor);
  LogDebug("osvi.wServicePackMinor : %d\n", os.servicePackMinor);
  LogDebug("dwPlatformInfo : %d\n", AsInt(os.productCode));
  LogDebug("si.wProcessorArchitecture : %d\n", os.architecture);
  if (major != 0 || minor != 0)
    return FormatEditionName(major, minor, os.productCode, os.productType, os.architecture, os.readText);
  return FormatEditionName(os.major, os.minor, os.productCode, os.productType, os.architecture, os.readText);
}

std::string GetServicePackText(const OsVersionInfo& os) {
  LogDebug("osviex.dwMajorVersion : %d\n", AsInt(os.major));
  LogDebug("osviex.dwMinorVersion : %d\n", AsInt(os.minor));
  LogDebug("osviex.szCSDVersion   : %s\n", os.csdVersion.c_str());
  LogDebug("osviex.dwBuildNumber : %d\n", AsInt(os.build));
  LogDebug("osviex.dwPlatformId : %d\n", AsInt(os.platformId));
  LogDebug("osviex.wProductType : %d\n", os.productType);
  LogDebug("osviex.wServicePackMajor : %d\n", os.servicePackMajor);
  LogDebug("osviex.wServicePackMinor : %d\n", os.servicePackMinor);

  const int spMajor = os.servicePackMajor;
  const int spMinor = os.servicePackMinor;
  const bool xpOrLaterWorkstation =
      os.productType == kOsWorkstation && (os.major > 5 || (os.major == 5 && os.minor >= 1));
  std::string text;
  if (os.major <= 4 && spMajor == 6 && spMinor == 1)
    text = "6a";
  else if (xpOrLaterWorkstation && spMajor == 1 && spMinor == 1)
    text = "1a";
  else if (spMajor != 0 && spMinor == 0)
    text = std::to_string(spMajor);
  else if (spMajor == 0 && spMinor != 0)
    text = std::string("0.") + std::to_string(spMinor);
  else if (spMajor != 0)
    text = std::to_string(spMajor) + "." + std::to_string(spMinor);
  LogInfo("Return szText : %s\n", text.c_str());
  return text;
}

OptText GetOSServicePackName(const OsVersionInfo& os, uint32_t major, uint32_t minor) {
  if (!os.available) return std::nullopt;
  LogDebug("dwMajorVersion : %d\n", AsInt(major));
  LogInfo("dwMajorVersion : %d and dwMinorVersion %d \n", AsInt(major), AsInt(minor));
  if (os.platformId != kOsPlatformNT) return std::nullopt;

  std::string sp;
  if (major != 0 || minor != 0) {
    LogInfo("Going to get the service pack level\n");
    OptText level = ReadText(os.readText, OsRegistryText::kServicePackLevel);
    LogInfo("Service pack level : %s\n", OrNull(level));
    LogInfo("Service pack level  : dwMajorVersion : %d and dwMinorVersion %d \n", AsInt(major), AsInt(minor));
    if (!level || level->empty() || *level == "0") {
      LogInfo("Getting os base service pack\n");
      return GetOSBaseName(os, os.architecture, major, minor);
    }
    sp = *level;
  } else {
    LogInfo("Before assigning dwMajorVersion : %d and dwMinorVersion %d \n", AsInt(major), AsInt(minor));
    major = os.major;
    minor = os.minor;
    LogInfo("After assigning, dwMajorVersion : %d and dwMinorVersion %d \n", AsInt(major), AsInt(minor));
    sp = GetServicePackText(os);
    if (sp.empty()) return GetOSBaseName(os, os.architecture, major, minor);
  }

  const bool amd64 = os.architecture == kOsArchAmd64;
  const bool workstation = os.productType == kOsWorkstation;
  std::string name;
  if (os.major <= 4) {
    name = std::string("Windows NT") + std::to_string(os.major) + " Service Pack " + sp;
  } else if (os.major == 5) {
    switch (os.minor) {
      case 0: name = "Windows 2000 Service Pack " + sp; break;
      case 1: name = "Windows XP Service Pack " + sp; break;
      case 2:
        if (amd64 && workstation)
          name = "Windows XP x64 Edition Service Pack " + sp;
        else if (amd64)
          name = "Windows Server 2003 x64 Edition Service Pack " + sp;
        else
          name = "Windows Server 2003 Service Pack " + sp;
        break;
      default: break;
    }
  } else {
    const std::string x64 = amd64 ? " (x64)" : "";
    if (major == 6 && minor == 0)
      name = workstation ? "Windows Vista SP" + sp + x64 : "Windows Server 2008 SP" + sp + x64;
    else if (major == 6 && minor == 1)
      name = workstation ? "Windows 7 SP" + sp + x64 : "Windows Server 2008 R2 SP" + sp + " (x64)";
    else if (major == 6 && minor == 2)
      name = workstation ? "Windows 8 SP" + sp + x64 : "Windows Server 2012 SP" + sp + " (x64)";
    else if (major == 6 && minor == 3)
      name = workstation ? "Windows 8.1 SP" + sp + x64 : "Windows Server 2012 R2 SP" + sp + " (x64)";
    else if (major == 10 && minor == 0)
      name = workstation ? "Windows 10 SP" + sp + x64 + " " : "Windows Server 2016 SP" + sp + " (x64)";
    else
      return std::nullopt;
  }
  return Bounded(std::move(name), kOsServicePackNameSize);
}

OptText GetOSBaseName(const OsVersionInfo& os, uint16_t architecture, uint32_t major, uint32_t minor) {
  OptText name = GetOSNameEx(os, major, minor);
  if (!name) return std::nullopt;
  const bool amd64 = architecture == kOsArchAmd64;
  for (const ReleaseName& r : kReleaseNames) {
    if (!StartsWith(*name, r.prefix)) continue;
    if (!r.plain) {
      const std::string release = Windows10Release(os.readText);
      return Bounded((amd64 ? "Windows 10 (x64) Version " : "Windows 10  Version ") + release, kOsNameSize);
    }
    return std::string(amd64 ? r.x64 : r.plain);
  }
  return std::nullopt;
}
