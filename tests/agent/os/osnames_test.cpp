// Windows version naming from hand-built version records: family numbers,
// edition names, the older systems' names, service-pack names and the release
// ("Gold") fallbacks, with their log lines.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "agent/os/osinfo.h"
#include "tests/support/scratch.h"

namespace {

using Texts = std::map<OsRegistryText, std::string>;

OsTextReader ReaderOf(Texts texts) {
  return [texts](OsRegistryText which) -> OptText {
    auto it = texts.find(which);
    if (it == texts.end()) return std::nullopt;
    return it->second;
  };
}

// A Vista-or-later NT record: GetProductInfo answered with `code`.
OsVersionInfo Modern(uint32_t major, uint32_t minor, uint8_t type, uint16_t arch, uint32_t code,
                     uint16_t spMajor = 0, uint16_t spMinor = 0, Texts texts = {}) {
  OsVersionInfo os;
  os.available = true;
  os.extended = true;
  os.major = major;
  os.minor = minor;
  os.platformId = kOsPlatformNT;
  os.productType = type;
  os.architecture = arch;
  os.productInfoAvailable = true;
  os.productCode = code;
  os.servicePackMajor = spMajor;
  os.servicePackMinor = spMinor;
  os.readText = ReaderOf(std::move(texts));
  return os;
}

// An NT record from before GetProductInfo.
OsVersionInfo Legacy(uint32_t major, uint32_t minor, uint8_t type, uint16_t arch = kOsArchIntel,
                     uint16_t suites = 0, uint16_t spMajor = 0, uint16_t spMinor = 0) {
  OsVersionInfo os;
  os.available = true;
  os.extended = true;
  os.major = major;
  os.minor = minor;
  os.platformId = kOsPlatformNT;
  os.productType = type;
  os.architecture = arch;
  os.suiteMask = suites;
  os.servicePackMajor = spMajor;
  os.servicePackMinor = spMinor;
  return os;
}

std::string NameOf(const OsVersionInfo& os) { return GetOSNameEx(os, 0, 0).value_or("<none>"); }
std::string SpNameOf(const OsVersionInfo& os) { return GetOSServicePackName(os, 0, 0).value_or("<none>"); }

constexpr uint8_t kWs = kOsWorkstation;
constexpr uint8_t kSrv = kOsServer;
constexpr uint16_t kX86 = kOsArchIntel;
constexpr uint16_t kX64 = kOsArchAmd64;

TEST(OsFamily, NumbersByReportedVersion) {
  struct Row {
    uint32_t platform, major, minor;
    int32_t family;
  };
  const Row rows[] = {
      {kOsPlatformNT, 5, 0, 0},  {kOsPlatformNT, 5, 1, 1},  {kOsPlatformNT, 5, 2, 1},   {kOsPlatformNT, 6, 0, 2},
      {kOsPlatformNT, 6, 1, 3},  {kOsPlatformNT, 6, 2, 4},  {kOsPlatformNT, 6, 3, 5},   {kOsPlatformNT, 10, 0, 6},
      {kOsPlatformNT, 6, 4, 7},  {kOsPlatformNT, 10, 1, 7}, {kOsPlatformNT, 11, 0, 7},  {kOsPlatformNT, 4, 0, -1},
      {kOsPlatformNT, 3, 51, -1}, {kOsPlatformWin9x, 4, 10, -1}, {kOsPlatformWin32s, 5, 0, -1},
  };
  for (const Row& r : rows) {
    OsVersionInfo os = Legacy(r.major, r.minor, kWs);
    os.platformId = r.platform;
    EXPECT_EQ(GetOsFamily(os), r.family) << r.platform << " " << r.major << "." << r.minor;
  }
  EXPECT_EQ(GetOsFamily(OsVersionInfo{}), 1) << "no version record";
}

TEST(OsFamily, Win7OrWin8AnswersForFamilies3And4) {
  {
    twtest::LogCapture log(3);
    // Windows 10 Pro reports itself as 6.2 to a program without a manifest.
    EXPECT_EQ(isWin7orWin8(Modern(6, 2, kWs, kX64, 48)), 1);
    EXPECT_TRUE(log.Has("isWin7orWin8 : GetOSName Windows 8 Professional Edition (x64)"));
    EXPECT_TRUE(log.Has("isWin7orWin8 : TRUE"));
  }
  EXPECT_EQ(isWin7orWin8(Modern(6, 1, kWs, kX86, 1)), 1);
  for (auto [major, minor] : {std::pair{6u, 0u}, {6u, 3u}, {10u, 0u}, {5u, 1u}}) {
    twtest::LogCapture log(3);
    EXPECT_EQ(isWin7orWin8(Modern(major, minor, kWs, kX64, 48)), 0) << major << "." << minor;
    EXPECT_TRUE(log.Has("isWin7orWin8 : FALSE"));
  }
  twtest::LogCapture log(3);
  EXPECT_EQ(isWin7orWin8(OsVersionInfo{}), 0);
  EXPECT_TRUE(log.Has("isWin7orWin8 : GetOSName (null)"));
}

TEST(EditionName, EveryProductCodeHasItsEditionText) {
  const std::map<std::string, std::vector<uint32_t>> editions = {
      {"Ultimate Edition", {1, 28}},
      {"Home Basic Edition", {2, 5}},
      {"Home Premium Edition", {3, 26}},
      {"Enterprise Edition", {4, 10, 27}},
      {"Business Edition", {6, 16}},
      {"Standard Edition", {7}},
      {"Datacenter Edition", {8}},
      {"Small Business Server", {9}},
      {"Starter", {11, 47, 66}},
      {"Datacenter Edition (core installation)", {12}},
      {"Enterprise Edition (core installation)", {13}},
      {"Standard Edition (core installation)", {14}},
      {"Web Server Edition", {17, 29}},
      {"Storage Server Express Edition", {20}},
      {"Storage Server Standard Edition", {21}},
      {"Storage Server Workgroup Edition", {22}},
      {"Storage Server Enterprise Edition", {23}},
      {"Small Business Server Premium Edition", {25}},
      {"Foundation Edition", {33}},
      {"Standard Edition without Hyper-V", {36}},
      {"Datacenter Edition without Hyper-V", {37}},
      {"Enterprise Edition without Hyper-V", {38}},
      {"Datacenter Edition without Hyper-V (core installation)", {39}},
      {"Standard Edition without Hyper-V (core installation)", {40}},
      {"Enterprise Edition without Hyper-V (core installation)", {41}},
      {"Professional Edition", {48, 49, 69}},
      {"Essentials Edition", {50}},
      {"Embedded Standard Edition", {65}},
      {"Server Standard (evaluation installation) Edition", {79}},
      {"Home", {101}},
      {"Professional with Media Center Edition", {103}},
      {"Education", {121}},
      {"Education N", {122}},
      {"IoT Core", {123}},
      {"Enterprise 2015 LTSB", {125}},
      {"Enterprise 2015 LTSB N", {126}},
      {"Enterprise 2015 LTSB Evaluation", {129}},
      {"Enterprise 2015 LTSB N Evaluation", {130}},
      {"IoT Core Commercial", {131}},
  };
  for (const auto& [edition, codes] : editions) {
    for (uint32_t code : codes) {
      twtest::LogCapture log(4);
      EXPECT_EQ(FormatEditionName(6, 1, code, kWs, kX86, nullptr), "Windows 7 " + edition) << code;
      EXPECT_EQ(FormatEditionName(6, 1, code, kSrv, kX64, nullptr), "Windows Server 2008 R2 " + edition + " (x64)")
          << code;
      EXPECT_FALSE(log.Has("Edition can't be retrieved. So Assuming it as Beta")) << code;
    }
  }
}

TEST(EditionName, VersionTableForClientsAndServers) {
  struct Row {
    uint32_t major, minor;
    const char* ws;
    const char* wsX64;
    const char* srv;
    const char* srvX64;
  };
  const Row rows[] = {
      {6, 0, "Windows Vista Standard Edition", "Windows Vista Standard Edition (x64)",
       "Windows Server 2008 Standard Edition", "Windows Server 2008 Standard Edition (x64)"},
      {6, 1, "Windows 7 Standard Edition", "Windows 7 Standard Edition (x64)",
       "Windows Server 2008 R2 Standard Edition", "Windows Server 2008 R2 Standard Edition (x64)"},
      {6, 2, "Windows 8 Standard Edition", "Windows 8 Standard Edition (x64)",
       "Windows Server 2012 Standard Edition (x64)", "Windows Server 2012 Standard Edition (x64)"},
      {6, 3, "Windows 8.1 Standard Edition", "Windows 8.1 Standard Edition (x64)",
       "Windows Server 2012 R2 Standard Edition (x64)", "Windows Server 2012 R2 Standard Edition (x64)"},
      {10, 0, "Windows 10 Standard Edition", "Windows 10 Standard Edition (x64)",
       "Windows Server 2016 Standard Edition (x64)", "Windows Server 2016 Standard Edition (x64)"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(FormatEditionName(r.major, r.minor, 7, kWs, kX86, nullptr), r.ws);
    EXPECT_EQ(FormatEditionName(r.major, r.minor, 7, kWs, kX64, nullptr), r.wsX64);
    EXPECT_EQ(FormatEditionName(r.major, r.minor, 7, kSrv, kX86, nullptr), r.srv);
    EXPECT_EQ(FormatEditionName(r.major, r.minor, 7, kOsDomainController, kX64, nullptr), r.srvX64);
  }
  // Versions outside the table have no name.
  EXPECT_EQ(FormatEditionName(6, 4, 7, kWs, kX64, nullptr), "");
  EXPECT_EQ(FormatEditionName(5, 1, 7, kWs, kX86, nullptr), "");
}

TEST(EditionName, UnknownProductCodeIsBetaWithFourLines) {
  twtest::LogCapture log(4);
  EXPECT_EQ(FormatEditionName(6, 1, 200, kWs, kX64, nullptr), "Windows 7 Beta (x64)");
  const std::vector<std::string> lines = twtest::SplitLines(log.Text());
  std::vector<std::string> tagged;
  for (const std::string& line : lines)
    if (!twtest::TagOf(line).empty()) tagged.push_back(twtest::TagOf(line) + " " + twtest::MessageOf(line));
  const std::vector<std::string> expected = {
      "[INFO] dwPlatformInfo : 200",
      "[INFO] dwMajorVersion : 6",
      "[INFO] dwMinorVersion : 1",
      "[ERROR] Edition can't be retrieved. So Assuming it as Beta",
  };
  EXPECT_EQ(tagged, expected);
  // Code 0 ("unlicensed") is not in the table either.
  EXPECT_EQ(FormatEditionName(6, 0, 0, kSrv, kX86, nullptr), "Windows Server 2008 Beta");
}

TEST(EditionName, VersionOnlyCodesOnWindows8AndLaterWorkstations) {
  for (uint32_t code : {98u, 99u, 100u}) {
    int reads = 0;
    OsTextReader counting = [&reads](OsRegistryText) -> OptText {
      ++reads;
      return std::string("Windows 10 Insider Preview");
    };
    twtest::LogCapture log(3);
    EXPECT_EQ(FormatEditionName(6, 2, code, kWs, kX86, counting), "Windows 8");
    EXPECT_EQ(FormatEditionName(6, 2, code, kWs, kX64, counting), "Windows 8 (x64)");
    EXPECT_EQ(FormatEditionName(6, 3, code, kWs, kX86, counting), "Windows 8.1");
    EXPECT_EQ(FormatEditionName(6, 3, code, kWs, kX64, counting), "Windows 8.1 (x64)");
    EXPECT_EQ(FormatEditionName(10, 0, code, kWs, kX86, counting), "Windows 10");
    EXPECT_EQ(FormatEditionName(10, 0, code, kWs, kX64, counting), "Windows 10 (x64)");
    EXPECT_EQ(reads, 0) << "returned before the registry is consulted";
    EXPECT_TRUE(log.Has("Returning with OS Name Windows 8.1 (x64)"));
    EXPECT_FALSE(log.Has("Edition can't be retrieved. So Assuming it as Beta"));
  }
}

TEST(EditionName, VersionOnlyCodesElsewhereGiveTheNameWithoutEdition) {
  EXPECT_EQ(FormatEditionName(6, 2, 98, kSrv, kX86, nullptr), "Windows Server 2012 (x64)");
  EXPECT_EQ(FormatEditionName(10, 0, 99, kSrv, kX64, nullptr), "Windows Server 2016 (x64)");
  EXPECT_EQ(FormatEditionName(6, 1, 100, kWs, kX64, nullptr), "Windows 7 (x64)");
  EXPECT_EQ(FormatEditionName(6, 0, 98, kSrv, kX86, nullptr), "Windows Server 2008");
  EXPECT_EQ(FormatEditionName(6, 4, 98, kWs, kX86, nullptr), "");
  // The registry's preview marker still applies there.
  EXPECT_EQ(FormatEditionName(6, 1, 100, kWs, kX86, ReaderOf({{OsRegistryText::kProductName, "Preview"}})),
            "Windows 7 Beta");
}

TEST(EditionName, PreviewProductNameMakesItBeta) {
  const Texts preview = {{OsRegistryText::kProductName, "Windows 10 Pro Insider Preview"}};
  twtest::LogCapture log(1);
  EXPECT_EQ(FormatEditionName(6, 2, 48, kWs, kX86, ReaderOf(preview)), "Windows 8 Beta");
  EXPECT_TRUE(log.Has("OS Name detected from registry is : Windows 10 Pro Insider Preview"));
  // The release name follows the Beta edition.
  EXPECT_EQ(GetOSBaseName(Modern(6, 2, kWs, kX86, 48, 0, 0, preview), kX86, 0, 0), "Windows 8 Gold Beta");
  EXPECT_EQ(GetOSBaseName(Modern(6, 2, kWs, kX64, 48, 0, 0, preview), kX64, 0, 0), "Windows 8 Gold Beta (x64)");
  // Other product names, a lower-case marker and a missing name change nothing.
  EXPECT_EQ(FormatEditionName(6, 2, 48, kWs, kX86, ReaderOf({{OsRegistryText::kProductName, "Windows 8 Pro"}})),
            "Windows 8 Professional Edition");
  EXPECT_EQ(FormatEditionName(6, 2, 48, kWs, kX86, ReaderOf({{OsRegistryText::kProductName, "preview"}})),
            "Windows 8 Professional Edition");
  EXPECT_EQ(FormatEditionName(6, 2, 48, kWs, kX86, ReaderOf({})), "Windows 8 Professional Edition");
}

TEST(OsNameEx, ReportedVersionOrTheGivenOneWithDebugLines) {
  const OsVersionInfo os = Modern(6, 1, kWs, kX64, 48, 1, 0);
  {
    twtest::LogCapture log(3);
    EXPECT_EQ(NameOf(os), "Windows 7 Professional Edition (x64)");
    const std::vector<std::string> expected = {
        "GetOSNameEx : dwMinorVersion : 0", "GetOSNameEx : dwMajorVersion : 0", "osvi.dwMajorVersion : 6",
        "osvi.dwMinorVersion : 1",          "osvi.wServicePackMajor : 1",       "osvi.wServicePackMinor : 0",
        "dwPlatformInfo : 48",              "si.wProcessorArchitecture : 9",
    };
    EXPECT_EQ(log.Messages(), expected);
  }
  EXPECT_EQ(GetOSNameEx(os, 6, 3), "Windows 8.1 Professional Edition (x64)");
  EXPECT_EQ(GetOSNameEx(os, 10, 0), "Windows 10 Professional Edition (x64)");
  EXPECT_EQ(GetOSNameEx(OsVersionInfo{}, 0, 0), std::nullopt);
}

TEST(OsNameEx, OlderSystemsWithoutProductInfo) {
  struct Row {
    OsVersionInfo os;
    const char* name;
  };
  auto nine = [](uint32_t minor, const char* csd) {
    OsVersionInfo os = Legacy(4, minor, 0);
    os.platformId = kOsPlatformWin9x;
    os.csdVersion = csd;
    return os;
  };
  OsVersionInfo win32s = Legacy(3, 10, 0);
  win32s.platformId = kOsPlatformWin32s;
  const Row rows[] = {
      {win32s, "Win32s"},
      {nine(0, ""), "Windows 95"},
      {nine(10, ""), "Windows 98"},
      {nine(10, " A "), "Windows 98 SE"},
      {nine(10, "A"), "Windows 98"},
      {nine(90, ""), "Windows Millennium Edition"},
      {Legacy(4, 0, kWs), "Windows NT Workstation 4.0"},
      {Legacy(4, 0, kSrv), "Windows NT Server 4.0"},
      {Legacy(4, 0, kSrv, kX86, kOsSuiteTerminal), "Windows NT Server 4.0, Terminal Server Edition"},
      {Legacy(5, 0, kWs), "Windows 2000 Professional"},
      {Legacy(5, 0, kSrv, kX86, kOsSuiteDatacenter), "Windows 2000 Datacenter Server"},
      {Legacy(5, 0, kSrv, kX86, kOsSuiteEnterprise), "Windows 2000 Advanced Server"},
      {Legacy(5, 0, kOsDomainController), "Windows 2000 Server"},
      {Legacy(5, 1, kWs, kX86, kOsSuitePersonal), "Windows XP Home Edition "},
      {Legacy(5, 1, kWs), "Windows XP Professional"},
      {Legacy(5, 2, kWs, kX64), "Windows XP Professional x64 Edition"},
      {Legacy(5, 2, kSrv, kX64, kOsSuiteEnterprise), "Windows Server 2003, Enterprise x64 Edition"},
      {Legacy(5, 2, kSrv, kX64, kOsSuiteDatacenter), "Windows Server 2003, Datacenter x64 Edition"},
      {Legacy(5, 2, kSrv, kX64), "Windows Server 2003, Standard x64 Edition"},
      {Legacy(5, 2, kSrv, kX86, kOsSuiteDatacenter | kOsSuiteEnterprise), "Windows Server 2003, Datacenter Edition"},
      {Legacy(5, 2, kSrv, kX86, kOsSuiteEnterprise), "Windows Server 2003, Enterprise Edition"},
      {Legacy(5, 2, kSrv, kX86, kOsSuiteBlade), "Windows Server 2003, Web Edition"},
      {Legacy(5, 2, kSrv, kX86, kOsSuiteSmallBusiness), "Windows Server 2003 for Small Business Server"},
      {Legacy(5, 2, kSrv, kX86, kOsSuiteSmallBusinessRestricted), "Windows Server 2003 for Small Business Server"},
      {Legacy(5, 2, kSrv), "Windows Server 2003, Standard Edition"},
  };
  for (const Row& r : rows) EXPECT_EQ(NameOf(r.os), r.name);
}

TEST(OsNameEx, WithoutExtendedRecordTheRegistryNamesTheProduct) {
  auto basic = [](uint32_t major, uint32_t minor, OptText type) {
    OsVersionInfo os = Legacy(major, minor, 0);
    os.extended = false;
    Texts texts;
    if (type) texts[OsRegistryText::kProductOptionsType] = *type;
    os.readText = ReaderOf(texts);
    return os;
  };
  EXPECT_EQ(NameOf(basic(4, 0, "WINNT")), "Windows NT Workstation 4.0");
  EXPECT_EQ(NameOf(basic(4, 0, "LANMANNT")), "Windows NT Server 4.0");
  EXPECT_EQ(NameOf(basic(5, 0, "ServerNT")), "Windows 2000 Advanced Server 5.0");
  EXPECT_EQ(NameOf(basic(4, 0, "OTHER")), "Windows NT  4.0");
  EXPECT_EQ(NameOf(basic(4, 0, std::nullopt)), "Windows NT  4.0");
  // Longer than the 1024 bytes the value is read into: not read.
  EXPECT_EQ(NameOf(basic(4, 0, std::string("WINNT") + std::string(1100, ' '))), "Windows NT  4.0");
}

TEST(ServicePackText, FromTheServicePackNumbers) {
  struct Row {
    OsVersionInfo os;
    const char* text;
  };
  const Row rows[] = {
      {Legacy(6, 1, kWs, kX64, 0, 0, 0), ""},
      {Legacy(6, 1, kWs, kX64, 0, 2, 0), "2"},
      {Legacy(6, 1, kWs, kX64, 0, 0, 3), "0.3"},
      {Legacy(6, 1, kWs, kX64, 0, 1, 2), "1.2"},
      {Legacy(4, 0, kWs, kX86, 0, 6, 1), "6a"},
      {Legacy(5, 0, kWs, kX86, 0, 6, 1), "6.1"},
      {Legacy(5, 1, kWs, kX86, 0, 1, 1), "1a"},
      {Legacy(6, 1, kWs, kX86, 0, 1, 1), "1a"},
      {Legacy(5, 0, kWs, kX86, 0, 1, 1), "1.1"},
      {Legacy(5, 2, kSrv, kX86, 0, 1, 1), "1.1"},
  };
  for (const Row& r : rows) {
    twtest::LogCapture log(3);
    EXPECT_EQ(GetServicePackText(r.os), r.text);
    EXPECT_TRUE(log.Has(std::string("Return szText : ") + r.text));
  }
  OsVersionInfo os = Legacy(6, 1, kWs, kX64, 0, 1, 0);
  os.build = 7601;
  os.csdVersion = "Service Pack 1";
  twtest::LogCapture log(3);
  GetServicePackText(os);
  const std::vector<std::string> expected = {
      "osviex.dwMajorVersion : 6",   "osviex.dwMinorVersion : 1",     "osviex.szCSDVersion   : Service Pack 1",
      "osviex.dwBuildNumber : 7601", "osviex.dwPlatformId : 2",       "osviex.wProductType : 1",
      "osviex.wServicePackMajor : 1", "osviex.wServicePackMinor : 0", "Return szText : 1",
  };
  EXPECT_EQ(log.Messages(), expected);
}

TEST(ServicePackName, ReportedVersionWithItsServicePack) {
  struct Row {
    OsVersionInfo os;
    const char* name;
  };
  const Row rows[] = {
      {Legacy(4, 0, kWs, kX86, 0, 6, 1), "Windows NT4 Service Pack 6a"},
      {Legacy(5, 0, kSrv, kX86, 0, 4, 0), "Windows 2000 Service Pack 4"},
      {Legacy(5, 1, kWs, kX86, 0, 3, 0), "Windows XP Service Pack 3"},
      {Legacy(5, 2, kWs, kX64, 0, 2, 0), "Windows XP x64 Edition Service Pack 2"},
      {Legacy(5, 2, kSrv, kX64, 0, 2, 0), "Windows Server 2003 x64 Edition Service Pack 2"},
      {Legacy(5, 2, kSrv, kX86, 0, 1, 0), "Windows Server 2003 Service Pack 1"},
      {Legacy(5, 2, kWs, kX86, 0, 1, 0), "Windows Server 2003 Service Pack 1"},
      {Legacy(5, 3, kWs, kX86, 0, 1, 0), ""},
      {Modern(6, 0, kWs, kX86, 6, 2), "Windows Vista SP2"},
      {Modern(6, 0, kWs, kX64, 6, 2), "Windows Vista SP2 (x64)"},
      {Modern(6, 0, kSrv, kX86, 7, 2), "Windows Server 2008 SP2"},
      {Modern(6, 0, kSrv, kX64, 7, 2), "Windows Server 2008 SP2 (x64)"},
      {Modern(6, 1, kWs, kX86, 48, 1), "Windows 7 SP1"},
      {Modern(6, 1, kWs, kX64, 48, 1), "Windows 7 SP1 (x64)"},
      {Modern(6, 1, kSrv, kX86, 7, 1), "Windows Server 2008 R2 SP1 (x64)"},
      {Modern(6, 2, kWs, kX86, 48, 1), "Windows 8 SP1"},
      {Modern(6, 2, kWs, kX64, 48, 1), "Windows 8 SP1 (x64)"},
      {Modern(6, 2, kSrv, kX86, 7, 1), "Windows Server 2012 SP1 (x64)"},
      {Modern(6, 3, kWs, kX86, 48, 1), "Windows 8.1 SP1"},
      {Modern(6, 3, kWs, kX64, 48, 1), "Windows 8.1 SP1 (x64)"},
      {Modern(6, 3, kSrv, kX64, 7, 1), "Windows Server 2012 R2 SP1 (x64)"},
      {Modern(10, 0, kWs, kX86, 48, 1), "Windows 10 SP1 "},
      {Modern(10, 0, kWs, kX64, 48, 1), "Windows 10 SP1 (x64) "},
      {Modern(10, 0, kSrv, kX86, 7, 1), "Windows Server 2016 SP1 (x64)"},
      {Modern(6, 1, kWs, kX64, 48, 1, 1), "Windows 7 SP1a (x64)"},
  };
  for (const Row& r : rows) EXPECT_EQ(SpNameOf(r.os), r.name) << r.name;

  // Versions past the table, other platforms and a missing record give none.
  EXPECT_EQ(GetOSServicePackName(Modern(6, 4, kWs, kX64, 48, 1), 0, 0), std::nullopt);
  OsVersionInfo nine = Legacy(4, 10, 0);
  nine.platformId = kOsPlatformWin9x;
  EXPECT_EQ(GetOSServicePackName(nine, 0, 0), std::nullopt);
  EXPECT_EQ(GetOSServicePackName(OsVersionInfo{}, 0, 0), std::nullopt);
}

TEST(ServicePackName, LogLinesOfTheReportedVersion) {
  twtest::LogCapture log(1);
  EXPECT_EQ(SpNameOf(Modern(6, 1, kWs, kX64, 48, 1)), "Windows 7 SP1 (x64)");
  const std::vector<std::string> expected = {
      "dwMajorVersion : 0 and dwMinorVersion 0 ",
      "Before assigning dwMajorVersion : 0 and dwMinorVersion 0 ",
      "After assigning, dwMajorVersion : 6 and dwMinorVersion 1 ",
      "Return szText : 1",
  };
  EXPECT_EQ(log.Messages(), expected);
}

TEST(ServicePackName, GivenVersionTakesTheStoredServicePackLevel) {
  const OsVersionInfo os = Modern(6, 1, kWs, kX64, 48, 1, 0, {{OsRegistryText::kServicePackLevel, "2"}});
  twtest::LogCapture log(1);
  EXPECT_EQ(GetOSServicePackName(os, 6, 1), "Windows 7 SP2 (x64)");
  EXPECT_EQ(GetOSServicePackName(os, 6, 3), "Windows 8.1 SP2 (x64)");
  EXPECT_EQ(GetOSServicePackName(os, 6, 4), std::nullopt);
  EXPECT_TRUE(log.Has("dwMajorVersion : 6 and dwMinorVersion 1 "));
  EXPECT_TRUE(log.Has("Going to get the service pack level"));
  EXPECT_TRUE(log.Has("Service pack level : 2"));
  EXPECT_TRUE(log.Has("Service pack level  : dwMajorVersion : 6 and dwMinorVersion 1 "));

  // A long stored level is cut to the 64-byte name.
  const OsVersionInfo longLevel =
      Modern(6, 1, kWs, kX64, 48, 1, 0, {{OsRegistryText::kServicePackLevel, std::string(200, '9')}});
  const OptText cut = GetOSServicePackName(longLevel, 6, 1);
  ASSERT_TRUE(cut);
  EXPECT_EQ(*cut, std::string("Windows 7 SP") + std::string(63 - 12, '9'));
}

TEST(ServicePackName, NoStoredLevelFallsBackToTheReleaseName) {
  for (OptText level : {OptText{}, OptText{""}, OptText{"0"}}) {
    Texts texts;
    if (level) texts[OsRegistryText::kServicePackLevel] = *level;
    twtest::LogCapture log(1);
    EXPECT_EQ(GetOSServicePackName(Modern(6, 1, kWs, kX64, 48, 1, 0, texts), 6, 1), "Windows 7 Gold (x64)");
    EXPECT_TRUE(log.Has("Getting os base service pack"));
    EXPECT_TRUE(log.Has(level ? "Service pack level : " + *level : "Service pack level : (null)"));
  }
}

TEST(ReleaseName, GoldFallbackForEveryRelease) {
  struct Row {
    OsVersionInfo os;
    const char* name;
  };
  const Row rows[] = {
      {Legacy(5, 0, kWs), "Windows 2000 Gold"},
      {Legacy(5, 1, kWs), "Windows XP Gold"},
      {Legacy(5, 2, kWs, kX64), "Windows XP Gold"},
      {Legacy(5, 2, kSrv, kX64), "Windows Server 2003 Gold"},
      {Modern(6, 0, kWs, kX86, 6), "Windows Vista Gold"},
      {Modern(6, 0, kWs, kX64, 6), "Windows Vista Gold (x64)"},
      {Modern(6, 0, kSrv, kX64, 7), "Windows Server 2008 SP1"},
      {Modern(6, 1, kSrv, kX86, 7), "Windows Server 2008 R2 Gold (x64)"},
      {Modern(6, 1, kWs, kX86, 1), "Windows 7 Gold"},
      {Modern(6, 1, kWs, kX64, 1), "Windows 7 Gold (x64)"},
      {Modern(6, 2, kWs, kX86, 48), "Windows 8 Gold"},
      {Modern(6, 2, kWs, kX64, 48), "Windows 8 Gold (x64)"},
      {Modern(6, 2, kWs, kX64, 98), "Windows 8 Gold (x64)"},
      {Modern(6, 2, kWs, kX64, 200), "Windows 8 Gold Beta (x64)"},
      {Modern(6, 3, kWs, kX86, 48), "Windows 8.1 Gold"},
      {Modern(6, 3, kWs, kX64, 48), "Windows 8.1 Gold (x64)"},
      {Modern(6, 2, kSrv, kX86, 7), "Windows Server 2012 Gold (x64)"},
      {Modern(6, 3, kSrv, kX86, 7), "Windows Server 2012 R2 Gold (x64)"},
      {Modern(10, 0, kSrv, kX86, 7), "Windows Server 2016 Gold (x64)"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(SpNameOf(r.os), r.name) << r.name;
    EXPECT_EQ(GetOSBaseName(r.os, r.os.architecture, 0, 0), r.name) << r.name;
  }
  // Names no release starts with give none, and so does the service-pack name.
  EXPECT_EQ(GetOSBaseName(Modern(6, 4, kWs, kX64, 48), kX64, 0, 0), std::nullopt);
  EXPECT_EQ(GetOSServicePackName(Modern(6, 4, kWs, kX64, 48), 0, 0), std::nullopt);
  EXPECT_EQ(GetOSBaseName(Legacy(4, 0, kWs), kX86, 0, 0), std::nullopt);
  EXPECT_EQ(GetOSBaseName(OsVersionInfo{}, kX86, 0, 0), std::nullopt);
}

TEST(ReleaseName, Windows10CarriesItsReleaseId) {
  const OsVersionInfo os = Modern(10, 0, kWs, kX64, 48, 0, 0, {{OsRegistryText::kReleaseId, "1809"}});
  EXPECT_EQ(GetOSBaseName(os, kX64, 0, 0), "Windows 10 (x64) Version 1809");
  EXPECT_EQ(GetOSBaseName(os, kX86, 0, 0), "Windows 10  Version 1809");
  EXPECT_EQ(SpNameOf(os), "Windows 10 (x64) Version 1809");
  // A Windows 8 computer asked about 10.0.
  EXPECT_EQ(GetOSBaseName(Modern(6, 2, kWs, kX64, 48, 0, 0, {{OsRegistryText::kReleaseId, "1607"}}), kX64, 10, 0),
            "Windows 10 (x64) Version 1607");

  auto withBuild = [](OptText build) {
    Texts texts;
    if (build) texts[OsRegistryText::kCurrentBuild] = *build;
    return Modern(10, 0, kWs, kX86, 48, 0, 0, texts);
  };
  EXPECT_EQ(GetOSBaseName(withBuild("10240"), kX86, 0, 0), "Windows 10  Version 1507");
  EXPECT_EQ(GetOSBaseName(withBuild("10586"), kX86, 0, 0), "Windows 10  Version unknown");
  EXPECT_EQ(GetOSBaseName(withBuild(std::nullopt), kX86, 0, 0), "Windows 10  Version unknown");

  // A release id too long for the 100-byte name is cut, not overrun.
  const OsVersionInfo longId =
      Modern(10, 0, kWs, kX64, 48, 0, 0, {{OsRegistryText::kReleaseId, std::string(300, '7')}});
  const OptText cut = GetOSBaseName(longId, kX64, 0, 0);
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->size(), 99u);
  EXPECT_EQ(cut->rfind("Windows 10 (x64) Version 777", 0), 0u);
}

}  // namespace
