// Machine identity: the adapter lists built from adapter descriptions (limits,
// skipped addresses, odd hardware addresses, console and log lines), and the
// identity Wine reports, checked against the system calls made here directly.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <dsgetdc.h>
#include <lm.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "agent/config/machineid.h"
#include "agent/config/settings.h"
#include "tests/support/scratch.h"

namespace {

const std::vector<uint8_t> kMac = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};

AdapterDescription Adapter(uint32_t index, std::vector<uint8_t> mac, std::vector<AdapterAddress> addresses) {
  AdapterDescription a;
  a.index = index;
  a.hardwareAddress = std::move(mac);
  a.addresses = std::move(addresses);
  return a;
}

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> out;
  if (list.empty()) return out;
  size_t start = 0;
  for (;;) {
    size_t comma = list.find(',', start);
    out.push_back(list.substr(start, comma - start));
    if (comma == std::string::npos) return out;
    start = comma + 1;
  }
}

// What the builder writes to its console, captured through a scratch file.
class Console {
 public:
  Console() : folder_(twtest::MakeScratchDir("console")), path_(twtest::Join(folder_, "out.txt")) {
    file_ = fopen(path_.c_str(), "wb");
  }
  ~Console() {
    if (file_) fclose(file_);
    twtest::RemoveTree(folder_);
  }
  FILE* File() { return file_; }
  std::string Text() {
    fflush(file_);
    return twtest::ReadFile(path_);
  }

 private:
  std::string folder_;
  std::string path_;
  FILE* file_ = nullptr;
};

TEST(AdapterLists, TwoAddressesGiveTwoEntriesAndTheMacTwice) {
  Console console;
  twtest::LogCapture log(3);
  const AdapterLists lists = BuildAdapterLists(
      {Adapter(12, kMac, {{"192.168.1.20", "255.255.255.0", 7}, {"10.0.0.5", "255.0.0.0", 0}})}, console.File());
  EXPECT_EQ(lists.ipAddresses, "192.168.1.20,10.0.0.5");
  EXPECT_EQ(lists.macAddresses, "00:1a:2b:3c:4d:5e,00:1a:2b:3c:4d:5e");
  EXPECT_EQ(lists.subnetMasks, "255.255.255.0,255.0.0.0");
  // "%-10.d" prints nothing for 0, padded to ten columns.
  EXPECT_EQ(console.Text(),
            "12        7         192.168.1.20        255.255.255.0\n"
            "12                  10.0.0.5            255.0.0.0\n");
  EXPECT_TRUE(log.Has("ipAddress :12        7         192.168.1.20        255.255.255.0"));
  EXPECT_TRUE(log.Has("ipAddress :12                  10.0.0.5            255.0.0.0"));
}

TEST(AdapterLists, UnconnectedAddressIsShownButNotListed) {
  Console console;
  twtest::LogCapture log(1);
  const AdapterLists lists = BuildAdapterLists(
      {Adapter(3, kMac, {{"0.0.0.0", "0.0.0.0", 0}}), Adapter(4, {0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45},
                                                              {{"172.16.0.9", "255.255.0.0", 1}})},
      console.File());
  EXPECT_EQ(lists.ipAddresses, "172.16.0.9");
  EXPECT_EQ(lists.macAddresses, "ab:cd:ef:01:23:45");
  EXPECT_EQ(lists.subnetMasks, "255.255.0.0");
  EXPECT_EQ(twtest::SplitLines(console.Text()).size(), 2u);
  EXPECT_TRUE(log.Has("ipAddress :3                   0.0.0.0             0.0.0.0"));
}

TEST(AdapterLists, NothingUsableLeavesEmptyListsAndNoMac) {
  for (const std::vector<AdapterDescription>& adapters :
       {std::vector<AdapterDescription>{}, {Adapter(1, kMac, {{"0.0.0.0", "0.0.0.0", 0}})}, {Adapter(2, kMac, {})}}) {
    const AdapterLists lists = BuildAdapterLists(adapters, nullptr);
    EXPECT_EQ(lists.ipAddresses, "");
    EXPECT_EQ(lists.macAddresses, "--");
    EXPECT_EQ(lists.subnetMasks, "");
  }
}

TEST(AdapterLists, OnlySeventeenCharacterMacsAreListed) {
  const AdapterLists lists = BuildAdapterLists(
      {Adapter(1, {1, 2, 3, 4, 5, 6, 7, 8}, {{"10.1.1.1", "255.0.0.0", 0}}),  // 23 characters
       Adapter(2, {}, {{"10.2.2.2", "255.0.0.0", 0}}),                        // no hardware address
       Adapter(3, kMac, {{"10.3.3.3", "255.255.0.0", 0}})},
      nullptr);
  EXPECT_EQ(lists.ipAddresses, "10.1.1.1,10.2.2.2,10.3.3.3");
  EXPECT_EQ(lists.macAddresses, "00:1a:2b:3c:4d:5e");
  EXPECT_EQ(lists.subnetMasks, "255.0.0.0,255.0.0.0,255.255.0.0");

  const AdapterLists none = BuildAdapterLists({Adapter(1, {0x0a, 0x0b}, {{"10.1.1.1", "255.0.0.0", 0}})}, nullptr);
  EXPECT_EQ(none.ipAddresses, "10.1.1.1");
  EXPECT_EQ(none.macAddresses, "--");
}

TEST(AdapterLists, ListsStopAtTheirLimitAndStayInParallel) {
  // The MAC list grows fastest (18 bytes an entry): 1820 entries fit in 32766
  // characters, the 1821st would not and is left out of all three lists.
  std::vector<AdapterAddress> many;
  for (int i = 0; i < 2000; ++i) many.push_back({std::string("10.0.") + std::to_string(i / 250) + "." + std::to_string(i % 250),
                                                 "255.255.255.0", 0});
  const AdapterLists lists = BuildAdapterLists({Adapter(1, kMac, many)}, nullptr);
  EXPECT_LE(lists.macAddresses.size(), kAdapterListLimit - 1);
  EXPECT_EQ(Split(lists.macAddresses).size(), 1820u);
  EXPECT_EQ(Split(lists.ipAddresses).size(), 1820u);
  EXPECT_EQ(Split(lists.subnetMasks).size(), 1820u);
  EXPECT_EQ(Split(lists.ipAddresses).back(), many[1819].ipAddress);

  // Without MACs, the IP list is the one that fills: 2047 entries of 15
  // characters take 32751; a 15-character entry no longer fits (32767), a
  // 14-character one fills the list exactly to 32766; nothing fits after it.
  std::vector<AdapterAddress> wide(2047, AdapterAddress{"100.100.100.100", "255.255.255.0", 0});
  wide.push_back({"200.200.200.200", "255.255.255.0", 0});
  wide.push_back({"10.100.100.100", "255.255.0.0", 0});
  wide.push_back({"1.1.1.1", "255.0.0.0", 0});
  const AdapterLists full = BuildAdapterLists({Adapter(1, {}, wide)}, nullptr);
  EXPECT_EQ(full.ipAddresses.size(), kAdapterListLimit - 1);
  EXPECT_EQ(Split(full.ipAddresses).size(), 2048u);
  EXPECT_EQ(Split(full.ipAddresses).back(), "10.100.100.100");
  EXPECT_EQ(Split(full.subnetMasks).size(), 2048u);
  EXPECT_EQ(Split(full.subnetMasks).back(), "255.255.0.0");
  EXPECT_EQ(full.ipAddresses.find("200.200.200.200"), std::string::npos);
  EXPECT_EQ(full.macAddresses, "--");
}

TEST(MachineNamespace, BlanksAroundTheNameAreRemovedCaseKept) {
  EXPECT_EQ(TrimNamespace("  \tCorp.Example \r\n"), "Corp.Example");
  EXPECT_EQ(TrimNamespace("WORKGROUP"), "WORKGROUP");
  EXPECT_EQ(TrimNamespace(" Sales Team "), "Sales Team");
  EXPECT_EQ(TrimNamespace(" \t "), "");
}

// Wine's adapters as GetAdaptersInfo reports them, independently of the code.
struct ExpectedLists {
  DWORD rc = 0;
  std::vector<std::string> ips, masks, macs;
};

ExpectedLists ReadAdaptersHere() {
  ExpectedLists e;
  ULONG size = 0;
  e.rc = GetAdaptersInfo(nullptr, &size);
  if (e.rc != ERROR_BUFFER_OVERFLOW) return e;
  std::vector<char> buffer(size);
  auto* info = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
  e.rc = GetAdaptersInfo(info, &size);
  if (e.rc != NO_ERROR) return e;
  for (; info; info = info->Next) {
    std::string macText;
    for (UINT i = 0; i < info->AddressLength && i < 8; ++i) {
      char pair[4];
      snprintf(pair, sizeof pair, "%02x", info->Address[i]);
      if (i) macText += ":";
      macText += pair;
    }
    for (IP_ADDR_STRING* a = &info->IpAddressList; a; a = a->Next) {
      if (std::string(a->IpAddress.String) == "0.0.0.0") continue;
      e.ips.push_back(a->IpAddress.String);
      e.masks.push_back(a->IpMask.String);
      if (macText.size() == 17) e.macs.push_back(macText);
    }
  }
  return e;
}

class MachineIdentity : public testing::Test {
 protected:
  void SetUp() override { ResetAgentSettings(); }
  void TearDown() override { ResetAgentSettings(); }
};

TEST_F(MachineIdentity, AdapterListsMatchWhatWindowsReports) {
  const ExpectedLists expected = ReadAdaptersHere();
  OptText ip, mac, mask;
  twtest::LogCapture log(3);
  const int32_t rc = GetMACandIPAddress(ip, mac, mask);
  ASSERT_TRUE(ip && mac && mask) << "the lists exist even on failure";
  if (expected.rc != NO_ERROR) {
    // A machine without adapters: Windows' own code comes back.
    EXPECT_EQ(rc, static_cast<int32_t>(expected.rc));
    EXPECT_EQ(*ip, "");
    return;
  }
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(Split(*ip), expected.ips);
  EXPECT_EQ(Split(*mask), expected.masks);
  if (expected.macs.empty()) {
    EXPECT_EQ(*mac, "--");
  } else {
    EXPECT_EQ(Split(*mac), expected.macs);
  }
  EXPECT_TRUE(log.Has("GetMACandIPAddress : Local Machine IP ADDRESS  : " + *ip + " "));
  EXPECT_TRUE(log.Has("GetMACandIPAddress : Local Machine MAC ADDRESS : " + *mac + " "));
  EXPECT_TRUE(log.Has("GetMACandIPAddress : Local Machine Subnet Mask : " + *mask + " "));
}

// Wine has no domain: the controller lookup fails (Wine 8 says 120, "not
// implemented") and the output stays unset.
TEST_F(MachineIdentity, NoDomainControllerOutsideADomain) {
  PDOMAIN_CONTROLLER_INFOA info = nullptr;
  const DWORD expected = DsGetDcNameA(nullptr, nullptr, nullptr, nullptr, DS_RETURN_FLAT_NAME, &info);
  if (expected == ERROR_SUCCESS) {
    NetApiBufferFree(info);
    GTEST_SKIP() << "this computer has a domain controller";
  }
  twtest::LogCapture log(2);
  OptText dc;
  EXPECT_EQ(GetComputerLogonServer(dc), static_cast<int32_t>(expected));
  EXPECT_FALSE(dc.has_value());
  EXPECT_TRUE(log.Has(std::string("GetComputerLogonServer: Error while fetching DC name! ") + std::to_string(expected) + " "));
}

TEST_F(MachineIdentity, HostNameIsThePhysicalDnsName) {
  wchar_t name[256] = {};
  DWORD size = 256;
  ASSERT_TRUE(GetComputerNameExW(ComputerNamePhysicalDnsHostname, name, &size));
  char utf8[1024] = {};
  WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, sizeof utf8, nullptr, nullptr);

  twtest::LogCapture log(3);
  OptText out;
  EXPECT_EQ(GetLocalComputerName(out), 1);
  EXPECT_EQ(out, std::string(utf8));
  EXPECT_TRUE(log.Has(std::string("GetLocalComputerName: Computer Name: ") + utf8 + " "));
  EXPECT_TRUE(log.Has(std::string("GetLocalComputerName : Computer Name : ") + utf8));
}

TEST_F(MachineIdentity, NamespaceIsTheJoinName) {
  LPWSTR name = nullptr;
  NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
  ASSERT_EQ(NetGetJoinInformation(nullptr, &name, &status), static_cast<NET_API_STATUS>(NERR_Success));
  char utf8[1024] = {};
  WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, sizeof utf8, nullptr, nullptr);
  NetApiBufferFree(name);

  twtest::LogCapture log(1);
  OptText out;
  int32_t joined = -1;
  EXPECT_EQ(GetComputerNameSpace(out, joined), 1);
  EXPECT_EQ(out, std::string(utf8));
  EXPECT_EQ(joined, status == NetSetupDomainName ? 1 : 0);
  if (status == NetSetupWorkgroupName) {
    EXPECT_TRUE(log.Has("GetComputerNameSpace :The computer is joined to a workgroup. "));
  }
}

TEST_F(MachineIdentity, InitializeFillsTheSettings) {
  LPWSTR name = nullptr;
  NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
  ASSERT_EQ(NetGetJoinInformation(nullptr, &name, &status), static_cast<NET_API_STATUS>(NERR_Success));
  char joinName[1024] = {};
  WideCharToMultiByte(CP_UTF8, 0, name, -1, joinName, sizeof joinName, nullptr, nullptr);
  NetApiBufferFree(name);
  OptText hostName;
  ASSERT_EQ(GetLocalComputerName(hostName), 1);
  const ExpectedLists adapters = ReadAdaptersHere();

  twtest::LogCapture log(2);
  EXPECT_EQ(InitializeLocalMachineDetails(), 0);
  EXPECT_EQ(gv_localComputerName, hostName);
  EXPECT_EQ(gv_clientNamespace, TrimNamespace(joinName));
  ASSERT_TRUE(gv_ipAddress && gv_macAddress && gv_subnetMask);
  EXPECT_EQ(Split(*gv_ipAddress).size(), Split(*gv_subnetMask).size());
  EXPECT_EQ(Split(*gv_ipAddress), adapters.ips);
  if (status != NetSetupDomainName) {
    EXPECT_FALSE(gv_domainController.has_value());
    EXPECT_TRUE(log.Has("InitializeLocalMachineDetails : Error while fetching computer domain controller ! "));
  }
}

}  // namespace
