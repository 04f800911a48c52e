// Which msiexec the removal of obsolete updates starts from this 32-bit process
// on 64-bit Windows. Recorders stand in for System32's msiexec (a 64-bit
// program) and SysWOW64's (a 32-bit one); each writes its module path, its
// IsWow64Process answer and its command line. An older update is seeded in
// each registry view's uninstall entries.
//
// Wine starts its own msiexec for that name, whatever file is on disk, unless a
// DLL override under HKCU\Software\Wine prefers the file (Windows starts the
// file and never reads that key).
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

#include "agent/config/settings.h"
#include "handler/options.h"
#include "handler/uninstall.h"
#include "tests/support/scratch.h"
#include "tests/support/win_registry.h"
#include "tests/support/win_system.h"

using twtest::RegView;

namespace {

const std::string kUninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr const char* kJava32Code = "{26A24AE4-039D-4CA4-87B4-2F32180191F0}";
constexpr const char* kJava64Code = "{26A24AE4-039D-4CA4-87B4-2F64180191F0}";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

struct MsiexecCase {
  const char* architecture;   // the -x option
  const char* commandFolder;  // the msiexec folder the command names
  const char* code;           // the entry it removes
  bool recorder32;            // SysWOW64's 32-bit recorder ran, else System32's 64-bit one
};

void PrintTo(const MsiexecCase& c, std::ostream* out) { *out << "-x " << c.architecture; }

class UninstallOnWow64 : public testing::TestWithParam<MsiexecCase> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(overrides_.SetString(RegView::k64, "Software\\Wine\\DllOverrides", "msiexec.exe", "native"));
    for (const Placed& p : placed_) {
      ASSERT_TRUE(CopyFileA(p.target.c_str(), p.backup.c_str(), FALSE)) << p.target;
      ASSERT_TRUE(CopyFileA((twtest::ExeFolder() + "\\" + p.recorder).c_str(), p.target.c_str(), FALSE)) << p.target;
    }
    ASSERT_TRUE(reg_.SetString(RegView::k32, kUninstall + kJava32Code, "DisplayVersion", "8.0.1910.12"));
    ASSERT_TRUE(reg_.SetString(RegView::k64, kUninstall + kJava64Code, "DisplayVersion", "8.0.1910.12"));
    ASSERT_TRUE(SetEnvironmentVariableA("TW_MSIEXEC_RECORD", record_.c_str()));
    g_runOptions = RunOptions{};
    g_runOptions.javaLatestInstalledVersion = "8.0.2010.9";
    gv_IsWow64 = 1;  // as the agent configuration sets it on 64-bit Windows
  }
  void TearDown() override {
    g_runOptions = RunOptions{};
    gv_IsWow64 = 0;
    SetEnvironmentVariableA("TW_MSIEXEC_RECORD", nullptr);
    for (const Placed& p : placed_)
      if (twtest::FileExists(p.backup)) CopyFileA(p.backup.c_str(), p.target.c_str(), FALSE);
    twtest::RemoveTree(scratch_);
  }

  // A recorder in place of an msiexec, whose original is kept in `backup`.
  struct Placed {
    std::string target;
    std::string backup;
    const char* recorder;
  };

  twtest::RegistrySandbox reg_;
  twtest::RegistrySandbox overrides_{HKEY_CURRENT_USER};
  const std::string scratch_ = twtest::MakeScratchDir("msiexec");
  const std::string record_ = scratch_ + "\\record.txt";
  const Placed placed_[2] = {
      {twtest::NativeSystemFolder() + "\\msiexec.exe", scratch_ + "\\native.exe", "tw_msiexec_recorder64.exe"},
      {twtest::WindowsFolder() + "\\SysWOW64\\msiexec.exe", scratch_ + "\\wow64.exe", "tw_msiexec_recorder32.exe"}};
};

}  // namespace

TEST_P(UninstallOnWow64, StartsTheMsiexecOfThePackagesArchitecture) {
  const MsiexecCase& c = GetParam();
  g_runOptions.javaArchitecture = c.architecture;

  EXPECT_EQ(uninstallObsoleteUpdates(), 0);

  const std::string windows = twtest::WindowsFolder();
  const std::string module = windows + (c.recorder32 ? "\\SysWOW64" : "\\System32") + "\\msiexec.exe";
  const std::string command = windows + "\\" + c.commandFolder + "\\msiexec.exe /X" + c.code + " /qn /norestart";
  // One start: the other view's entry is not this run's business.
  EXPECT_EQ(Lower(twtest::ReadFile(record_)), Lower("module=" + module + "\r\nwow64=" + (c.recorder32 ? "1" : "0") +
                                                    "\r\ncommand=" + command + "\r\n"));
}

// A 32-bit package: the SysWOW64 form, the 32-bit msiexec. A 64-bit package:
// the System32 form, started with redirection off, so the native msiexec.
INSTANTIATE_TEST_SUITE_P(Package, UninstallOnWow64,
                         testing::Values(MsiexecCase{"32", "SysWOW64", kJava32Code, true},
                                         MsiexecCase{"64", "System32", kJava64Code, false}),
                         [](const testing::TestParamInfo<MsiexecCase>& info) {
                           return std::string("Java") + info.param.architecture;
                         });
