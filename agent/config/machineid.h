// Machine identity: who this computer is on the network (host name, domain or
// workgroup, domain controller, and the IPv4, MAC and subnet-mask lists of its
// adapters), gathered into the gv_* settings while the configuration loads.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "agent/config/settings.h"

// Each adapter list holds at most this many bytes, terminator included.
inline constexpr size_t kAdapterListLimit = 32767;

// One IPv4 address entry of an adapter.
struct AdapterAddress {
  std::string ipAddress;
  std::string ipMask;
  uint32_t context = 0;
};

// What the adapter list says about one adapter, in the system's order.
struct AdapterDescription {
  uint32_t index = 0;
  std::vector<uint8_t> hardwareAddress;
  std::vector<AdapterAddress> addresses;
};

struct AdapterLists {
  std::string ipAddresses;
  std::string macAddresses;  // "--" when no entry was added
  std::string subnetMasks;
};

// Builds the three comma-separated lists, writing each address entry to
// `console` and to the log. Addresses "0.0.0.0" are left out; an adapter's MAC
// goes with each of its addresses when it is the usual 17-character form. An
// entry that would take any list past kAdapterListLimit is left out of all
// three, so the lists stay in parallel.
AdapterLists BuildAdapterLists(const std::vector<AdapterDescription>& adapters, FILE* console = stdout);

// The join name as the namespace is kept: white space removed at the end, then
// at the start; letter case untouched.
std::string TrimNamespace(std::string text);

// Fills the machine-identity settings. 0, or 13 when the host name or the
// namespace cannot be obtained.
int32_t InitializeLocalMachineDetails();
// 0 or a Windows error code. The three lists are set (possibly empty) first.
int32_t GetMACandIPAddress(OptText& outIP, OptText& outMAC, OptText& outMask);
// 0 or the error of the domain-controller lookup; `out` is set only on success.
int32_t GetComputerLogonServer(OptText& out);
// 1 on success, 0 on failure.
int32_t GetLocalComputerName(OptText& out);
// 1 on success, 0 on failure; outJoined is 1 for a domain member, else 0.
int32_t GetComputerNameSpace(OptText& outName, int32_t& outJoined);
