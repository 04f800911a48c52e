// Machine identity of the configuration load: adapter addresses (IP Helper),
// domain controller and join information (NetAPI) and the physical DNS host
// name, stored in the gv_* settings.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <dsgetdc.h>
#include <lm.h>

#include <cstring>

#include "agent/config/machineid.h"
#include "agent/log/logger.h"
#include "agent/util/textconv.h"

namespace {

// Lower-case hex byte pairs joined by ":", as in 00:1a:2b:3c:4d:5e.
std::string FormatHardwareAddress(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) out += ':';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

// Length of the list once `entry` is appended with its separating comma.
size_t LengthWith(const std::string& list, const std::string& entry) {
  return list.size() + (list.empty() ? 0 : 1) + entry.size();
}

void AppendEntry(std::string& list, const std::string& entry) {
  if (!list.empty()) list += ',';
  list += entry;
}

// A fixed-size text field of a system record, up to its first zero byte.
template <size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

std::string TrimNamespace(std::string text) {
  while (!text.empty() && IsBlank(text.back())) text.pop_back();
  size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) ++start;
  return text.substr(start);
}

AdapterLists BuildAdapterLists(const std::vector<AdapterDescription>& adapters, FILE* console) {
  AdapterLists lists;
  const size_t maxLength = kAdapterListLimit - 1;  // room for the terminator
  for (const AdapterDescription& adapter : adapters) {
    const std::string mac = FormatHardwareAddress(adapter.hardwareAddress);
    const bool listMac = mac.size() == 17;
    for (const AdapterAddress& address : adapter.addresses) {
      const int index = static_cast<int>(adapter.index);
      const int context = static_cast<int>(address.context);
      if (console) fprintf(console, "%-10.d%-10.d%-20.20s%s\n", index, context, address.ipAddress.c_str(),
                           address.ipMask.c_str());
      LogInfo("ipAddress :%-10.d%-10.d%-20.20s%s\n", index, context, address.ipAddress.c_str(),
              address.ipMask.c_str());
      if (address.ipAddress == "0.0.0.0") continue;
      if (LengthWith(lists.ipAddresses, address.ipAddress) > maxLength ||
          (listMac && LengthWith(lists.macAddresses, mac) > maxLength) ||
          LengthWith(lists.subnetMasks, address.ipMask) > maxLength)
        continue;
      AppendEntry(lists.ipAddresses, address.ipAddress);
      if (listMac) AppendEntry(lists.macAddresses, mac);
      AppendEntry(lists.subnetMasks, address.ipMask);
    }
  }
  if (console) fflush(console);
  if (lists.macAddresses.empty()) lists.macAddresses = "--";
  return lists;
}

int32_t GetMACandIPAddress(OptText& outIP, OptText& outMAC, OptText& outMask) {
  outIP = std::string();
  outMAC = std::string();
  outMask = std::string();

  ULONG size = 0;
  DWORD rc = GetAdaptersInfo(nullptr, &size);
  if (rc != ERROR_BUFFER_OVERFLOW) {
    LogError("GetMACandIPAddress : GetAdaptersInfo sizing failed with error %d\n", static_cast<int>(rc));
    return static_cast<int32_t>(rc);
  }
  auto* buffer = static_cast<IP_ADAPTER_INFO*>(GlobalAlloc(GPTR, size));
  if (!buffer) {
    const DWORD error = GetLastError();
    LogError("GetMACandIPAddress : Memory allocation error\n");
    return static_cast<int32_t>(error);
  }
  rc = GetAdaptersInfo(buffer, &size);
  if (rc != NO_ERROR) {
    LogError("GetMACandIPAddress : GetAdaptersInfo failed with error %d\n", static_cast<int>(rc));
    GlobalFree(buffer);
    return static_cast<int32_t>(rc);
  }

  std::vector<AdapterDescription> adapters;
  for (const IP_ADAPTER_INFO* info = buffer; info; info = info->Next) {
    AdapterDescription adapter;
    adapter.index = info->Index;
    const size_t length = info->AddressLength < sizeof info->Address ? info->AddressLength : sizeof info->Address;
    adapter.hardwareAddress.assign(info->Address, info->Address + length);
    for (const IP_ADDR_STRING* entry = &info->IpAddressList; entry; entry = entry->Next)
      adapter.addresses.push_back(
          {FieldText(entry->IpAddress.String), FieldText(entry->IpMask.String), entry->Context});
    adapters.push_back(std::move(adapter));
  }
  AdapterLists lists = BuildAdapterLists(adapters, stdout);
  GlobalFree(buffer);

  outIP = std::move(lists.ipAddresses);
  outMAC = std::move(lists.macAddresses);
  outMask = std::move(lists.subnetMasks);
  LogDebug("GetMACandIPAddress : Local Machine MAC ADDRESS : %s \n", outMAC->c_str());
  LogDebug("GetMACandIPAddress : Local Machine IP ADDRESS  : %s \n", outIP->c_str());
  LogDebug("GetMACandIPAddress : Local Machine Subnet Mask : %s \n", outMask->c_str());
  return 0;
}

int32_t GetComputerLogonServer(OptText& out) {
  PDOMAIN_CONTROLLER_INFOA info = nullptr;
  const DWORD rc = DsGetDcNameA(nullptr, nullptr, nullptr, nullptr, DS_RETURN_FLAT_NAME, &info);
  if (rc != ERROR_SUCCESS) {
    LogError("GetComputerLogonServer: Error while fetching DC name! %d \n", static_cast<int>(rc));
    return static_cast<int32_t>(rc);
  }
  LogDebug("GetComputerLogonServer : DomainControllerName :%s \n", info->DomainControllerName);
  LogDebug("DomainControllerAddress :%s\n", info->DomainControllerAddress);
  LogDebug("DomainName :%s\n", info->DomainName);
  LogDebug("DnsForestName :%s\n", info->DnsForestName);
  LogDebug("DcSiteName :%s\n", info->DcSiteName);
  LogDebug("ClientSiteName :%s\n", info->ClientSiteName);
  // Windows puts "\\\\" before the name; anything shorter is taken as it is.
  const char* name = info->DomainControllerName ? info->DomainControllerName : "";
  if (name[0] == '\\' && name[1] == '\\') name += 2;
  out = std::string(name);
  NetApiBufferFree(info);
  return 0;
}

int32_t GetLocalComputerName(OptText& out) {
  WSADATA wsaData;
  const bool started = WSAStartup(MAKEWORD(2, 2), &wsaData) == 0;
  wchar_t name[64] = {};
  DWORD size = 64;
  int32_t result = 0;
  if (!GetComputerNameExW(ComputerNamePhysicalDnsHostname, name, &size)) {
    LogError("GetLocalComputerName: Error while getting computername! %d \n", WSAGetLastError());
  } else {
    LogDebug("GetLocalComputerName: Computer Name: %ls \n", name);
    std::string utf8;
    if (ChangeWideToUtf8Str(name, utf8)) {
      out = std::move(utf8);
      LogInfo("GetLocalComputerName : Computer Name : %s\n", out->c_str());
      result = 1;
    }
  }
  if (started) WSACleanup();
  return result;
}

int32_t GetComputerNameSpace(OptText& outName, int32_t& outJoined) {
  LPWSTR name = nullptr;
  NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
  const NET_API_STATUS rc = NetGetJoinInformation(nullptr, &name, &status);
  if (rc != NERR_Success) {
    LogError("GetComputerNameSpace : Failed to retrive the namespace -> %d \n", static_cast<int>(rc));
    return 0;
  }
  std::string utf8;
  if (name && !ChangeWideToUtf8Str(name, utf8)) {
    NetApiBufferFree(name);
    return 0;
  }
  if (name) NetApiBufferFree(name);
  outName = std::move(utf8);

  outJoined = 0;
  switch (status) {
    case NetSetupUnknownStatus:
      LogInfo("GetComputerNameSpace : The status is unknown. \n");
      break;
    case NetSetupUnjoined:
      LogInfo("GetComputerNameSpace :The computer is not joined. \n");
      break;
    case NetSetupWorkgroupName:
      LogInfo("GetComputerNameSpace :The computer is joined to a workgroup. \n");
      break;
    case NetSetupDomainName:
      LogInfo("GetComputerNameSpace :The computer is joined to a domain. \n");
      outJoined = 1;
      break;
    default:
      LogInfo("GetComputerNameSpace : The status is not determined .\n");
      break;
  }
  return 1;
}

int32_t InitializeLocalMachineDetails() {
  if (GetMACandIPAddress(gv_ipAddress, gv_macAddress, gv_subnetMask) != 0)
    LogError("InitializeLocalMachineDetails : Error while fetching Local machine IP and MAC Addresses! \n");
  if (GetComputerLogonServer(gv_domainController) != 0)
    LogError("InitializeLocalMachineDetails : Error while fetching computer domain controller ! \n");
  if (!GetLocalComputerName(gv_localComputerName)) {
    LogError("InitializeLocalMachineDetails : Error occured while retrieving the local computer name !!! \n");
    return 13;
  }
  OptText nameSpace;
  int32_t joined = 0;
  if (!GetComputerNameSpace(nameSpace, joined)) {
    LogError("InitializeLocalMachineDetails : Error occured while retrieving the name space !!! \n");
    return 13;
  }
  gv_clientNamespace = TrimNamespace(nameSpace.value_or(std::string()));
  return 0;
}
