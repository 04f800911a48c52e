// The OS names of the running Windows (Wine): the version record matches what
// the system calls report, the names follow from it, and the registry texts
// come from their keys and views.
#include <windows.h>

#include <gtest/gtest.h>

#include "agent/config/settings.h"
#include "agent/os/osinfo.h"
#include "agent/registry/registry.h"
#include "tests/support/scratch.h"
#include "tests/support/win_registry.h"

namespace {

TEST(OsWin, RecordMatchesTheSystemCalls) {
  OSVERSIONINFOEXA osvi{};
  osvi.dwOSVersionInfoSize = sizeof osvi;
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&osvi)));
  SYSTEM_INFO si{};
  GetNativeSystemInfo(&si);
  DWORD code = 0;
  ASSERT_TRUE(GetProductInfo(osvi.dwMajorVersion, osvi.dwMinorVersion, osvi.wServicePackMajor,
                             osvi.wServicePackMinor, &code));

  const OsVersionInfo os = ReadOsVersionInfo();
  EXPECT_TRUE(os.available);
  EXPECT_TRUE(os.extended);
  EXPECT_EQ(os.major, osvi.dwMajorVersion);
  EXPECT_EQ(os.minor, osvi.dwMinorVersion);
  EXPECT_EQ(os.build, osvi.dwBuildNumber);
  EXPECT_EQ(os.platformId, osvi.dwPlatformId);
  EXPECT_EQ(os.csdVersion, osvi.szCSDVersion);
  EXPECT_EQ(os.servicePackMajor, osvi.wServicePackMajor);
  EXPECT_EQ(os.servicePackMinor, osvi.wServicePackMinor);
  EXPECT_EQ(os.productType, osvi.wProductType);
  EXPECT_EQ(os.suiteMask, osvi.wSuiteMask);
  EXPECT_EQ(os.architecture, si.wProcessorArchitecture);
  EXPECT_TRUE(os.productInfoAvailable);
  EXPECT_EQ(os.productCode, code);
}

// Wine 8 reports Windows 7 SP1 (6.1.7601), a workstation, product code 28,
// on an AMD64 machine.
TEST(OsWin, NamesOfTheReportedWindows7) {
  const OsVersionInfo os = ReadOsVersionInfo();
  ASSERT_EQ(os.major, 6u);
  ASSERT_EQ(os.minor, 1u);
  ASSERT_EQ(os.productType, kOsWorkstation);
  ASSERT_EQ(os.productCode, 28u);
  ASSERT_EQ(os.servicePackMajor, 1u);
  ASSERT_EQ(os.architecture, kOsArchAmd64);

  twtest::LogCapture log(3);
  EXPECT_EQ(GetOsFamily(), 3);
  EXPECT_EQ(GetOSNameEx(0, 0), "Windows 7 Ultimate Edition (x64)");
  EXPECT_EQ(GetOSServicePackName(), "Windows 7 SP1 (x64)");
  EXPECT_EQ(GetServicePackText(), "1");
  EXPECT_EQ(GetOSBaseName(kOsArchAmd64, 0, 0), "Windows 7 Gold (x64)");
  EXPECT_EQ(FormatEditionName(6, 2, 48, kOsWorkstation, kOsArchIntel), "Windows 8 Professional Edition");
  EXPECT_EQ(isWin7orWin8(), 1);
  EXPECT_TRUE(log.Has("isWin7orWin8 : GetOSName Windows 7 Ultimate Edition (x64)"));
  EXPECT_TRUE(log.Has("isWin7orWin8 : TRUE"));
  EXPECT_TRUE(log.Has("dwPlatformInfo : 28"));
  EXPECT_TRUE(log.Has("osviex.szCSDVersion   : Service Pack 1"));
}

class OsWinRegistry : public testing::Test {
 protected:
  void SetUp() override { ResetAgentSettings(); }
  void TearDown() override { ResetAgentSettings(); }
  twtest::RegistrySandbox reg_;
};

TEST_F(OsWinRegistry, ServicePackLevelComesFromTheAgentKey) {
  reg_.SetString(twtest::RegView::k32, kAgentKeyPath, "ServicePackLevel", "3");
  reg_.SetString(twtest::RegView::k64, kAgentKeyPath, "ServicePackLevel", "8");
  EXPECT_EQ(GetOSServicePackName(6, 1), "Windows 7 SP3 (x64)");
  reg_.SetString(twtest::RegView::k32, kAgentKeyPath, "ServicePackLevel", "0");
  EXPECT_EQ(GetOSServicePackName(6, 1), "Windows 7 Gold (x64)");
}

TEST_F(OsWinRegistry, PreviewProductNameIsReadInTheAgentView) {
  const char* key = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  reg_.SetString(twtest::RegView::k64, key, "ProductName", "Windows 10 Pro Insider Preview");
  EXPECT_EQ(GetOSNameEx(6, 2), "Windows 8 Ultimate Edition (x64)") << "the native view is not consulted";
  reg_.SetString(twtest::RegView::k32, key, "ProductName", "Windows 10 Pro Insider Preview");
  twtest::LogCapture log(1);
  EXPECT_EQ(GetOSNameEx(6, 2), "Windows 8 Beta (x64)");
  EXPECT_EQ(GetOSBaseName(kOsArchAmd64, 6, 2), "Windows 8 Gold Beta (x64)");
  EXPECT_TRUE(log.Has("OS Name detected from registry is : Windows 10 Pro Insider Preview"));
}

TEST_F(OsWinRegistry, ReleaseIdIsReadInTheNativeView) {
  const char* key = "Software\\Microsoft\\Windows NT\\CurrentVersion";
  gv_IsWow64 = 1;
  reg_.SetString(twtest::RegView::k64, key, "ReleaseId", "2004");
  reg_.SetString(twtest::RegView::k32, key, "ReleaseId", "1511");
  EXPECT_EQ(GetOSBaseName(kOsArchAmd64, 10, 0), "Windows 10 (x64) Version 2004");

  reg_.DeleteValue(twtest::RegView::k64, key, "ReleaseId");
  reg_.SetString(twtest::RegView::k64, key, "CurrentBuild", "10240");
  EXPECT_EQ(GetOSBaseName(kOsArchIntel, 10, 0), "Windows 10  Version 1507");
}

}  // namespace
