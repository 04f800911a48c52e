// Reads what the running Windows says about itself (version record, product
// type code, native processor architecture, registry texts) and names it with
// the portable naming of osinfo.cpp.
#include <windows.h>

#include <cstring>

#include "agent/os/osinfo.h"
#include "agent/registry/registry.h"

namespace {

constexpr const char* kCurrentVersionKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr const char* kCurrentVersionKey64 = "Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr const char* kProductOptionsKey = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";

OptText ReadOsRegistryText(OsRegistryText which) {
  OptText out;
  int32_t rc = 0;
  switch (which) {
    case OsRegistryText::kProductName:
      rc = ReadRegSZ(HKEY_LOCAL_MACHINE, kCurrentVersionKey, "ProductName", out);
      break;
    case OsRegistryText::kReleaseId:
      rc = ReadRegSZ64(HKEY_LOCAL_MACHINE, kCurrentVersionKey64, "ReleaseId", out);
      break;
    case OsRegistryText::kCurrentBuild:
      rc = ReadRegSZ64(HKEY_LOCAL_MACHINE, kCurrentVersionKey64, "CurrentBuild", out);
      break;
    case OsRegistryText::kProductOptionsType:
      rc = ReadRegSZ(HKEY_LOCAL_MACHINE, kProductOptionsKey, "ProductType", out);
      break;
    case OsRegistryText::kServicePackLevel:
      rc = ReadRegSZ(HKEY_LOCAL_MACHINE, kAgentKeyPath, "ServicePackLevel", out);
      break;
  }
  if (rc != 0) return std::nullopt;
  return out;
}

template <typename Fn>
Fn Kernel32Function(const char* name) {
  HMODULE kernel = GetModuleHandleA("kernel32");
  if (!kernel) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, name)));
}

}  // namespace

OsVersionInfo ReadOsVersionInfo() {
  OsVersionInfo info;
  info.readText = ReadOsRegistryText;

  // The native architecture, also for a 32-bit process on 64-bit Windows.
  SYSTEM_INFO si{};
  using SystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
  if (auto native = Kernel32Function<SystemInfoFn>("GetNativeSystemInfo"))
    native(&si);
  else
    GetSystemInfo(&si);
  info.architecture = si.wProcessorArchitecture;

  OSVERSIONINFOEXA osvi{};
  osvi.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
  if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&osvi))) {
    info.extended = true;
  } else {
    osvi = OSVERSIONINFOEXA{};
    osvi.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&osvi))) return info;
  }
  info.available = true;
  info.major = osvi.dwMajorVersion;
  info.minor = osvi.dwMinorVersion;
  info.build = osvi.dwBuildNumber;
  info.platformId = osvi.dwPlatformId;
  info.csdVersion.assign(osvi.szCSDVersion, strnlen(osvi.szCSDVersion, sizeof osvi.szCSDVersion));
  if (info.extended) {
    info.servicePackMajor = osvi.wServicePackMajor;
    info.servicePackMinor = osvi.wServicePackMinor;
    info.suiteMask = osvi.wSuiteMask;
    info.productType = osvi.wProductType;
  }

  using ProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);
  if (auto productInfo = Kernel32Function<ProductInfoFn>("GetProductInfo")) {
    DWORD code = 0;
    if (productInfo(info.major, info.minor, info.servicePackMajor, info.servicePackMinor, &code)) {
      info.productInfoAvailable = true;
      info.productCode = code;
    }
  }
  return info;
}

int32_t GetOsFamily() { return GetOsFamily(ReadOsVersionInfo()); }

int32_t isWin7orWin8() { return isWin7orWin8(ReadOsVersionInfo()); }

OptText GetOSNameEx(uint32_t major, uint32_t minor) { return GetOSNameEx(ReadOsVersionInfo(), major, minor); }

std::string FormatEditionName(uint32_t major, uint32_t minor, uint32_t productCode, uint32_t productType,
                              uint16_t architecture) {
  return FormatEditionName(major, minor, productCode, productType, architecture, ReadOsRegistryText);
}

OptText GetOSServicePackName(uint32_t major, uint32_t minor) {
  return GetOSServicePackName(ReadOsVersionInfo(), major, minor);
}

OptText GetOSServicePackName() { return GetOSServicePackName(0, 0); }

std::string GetServicePackText() { return GetServicePackText(ReadOsVersionInfo()); }

OptText GetOSBaseName(uint16_t architecture, uint32_t major, uint32_t minor) {
  return GetOSBaseName(ReadOsVersionInfo(), architecture, major, minor);
}
