// Obsolete update removal for real: stand-in Java packages built with wixl are
// installed with msiexec in this test's Wine prefix, and the test checks which
// uninstall entries survive. Selection rules are also checked on seeded entries.
// A prefix without 32-bit Wine cannot start the programs of SysWOW64; the test
// then puts a copy of the 64-bit msiexec there, and what is tested is that our
// code runs that path. Which msiexec runs is uninstall_wow64_test's business.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/config/settings.h"
#include "agent/util/wow64.h"
#include "handler/options.h"
#include "handler/uninstall.h"
#include "tests/support/logcheck.h"
#include "tests/support/scratch.h"
#include "tests/support/win_registry.h"
#include "tests/support/win_system.h"

using testing::UnorderedElementsAre;
using twtest::HasLine;
using twtest::LogCapture;
using twtest::RegistrySandbox;
using twtest::RegView;

namespace {

using twtest::ExeFolder;
using twtest::WindowsFolder;

// The packages of tests/handler/windows/CMakeLists.txt.
struct Package {
  const char* name;
  const char* code;
  bool x64;
};
const Package kJava7_800{"java7-800", "{26A24AE4-039D-4CA4-87B4-2F32170080F0}", false};
const Package kJava8_1810{"java8-1810", "{26A24AE4-039D-4CA4-87B4-2F32180181F0}", false};
const Package kJava8_1910{"java8-1910", "{26A24AE4-039D-4CA4-87B4-2F32180191F0}", false};
const Package kJava8_2010{"java8-2010", "{26A24AE4-039D-4CA4-87B4-2F32180201F0}", false};
const Package kJava8_2110{"java8-2110", "{26A24AE4-039D-4CA4-87B4-2F32180211F0}", false};
const Package kJava8_1910x64{"java8-1910-x64", "{26A24AE4-039D-4CA4-87B4-2F64180191F0}", true};
const Package kJava8_2010x64{"java8-2010-x64", "{26A24AE4-039D-4CA4-87B4-2F64180201F0}", true};
const Package kAllPackages[] = {kJava7_800,  kJava8_1810,    kJava8_1910,   kJava8_2010,
                                kJava8_2110, kJava8_1910x64, kJava8_2010x64};

const std::string kUninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::string EntryPath(const std::string& key) { return kUninstall + "\\" + key; }
RegView ViewOf(const Package& p) { return p.x64 ? RegView::k64 : RegView::k32; }

// Runs a command line and gives its exit code (or -1 when it does not start).
int RunAndWait(const std::string& commandLine) {
  std::vector<char> command(commandLine.begin(), commandLine.end());
  command.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &process))
    return -1;
  WaitForSingleObject(process.hProcess, 120000);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return static_cast<int>(code);
}

// True when the log holds this message at this level, also where it follows a
// message written without a line end on the same line.
bool HasMessage(const LogCapture& log, const std::string& tag, const std::string& message) {
  std::string text;
  for (char c : log.Text())
    if (c != '\r') text += c;
  return text.find(tag + " " + message + "\n") != std::string::npos;
}

// True when the message was written without a line end: the next log line
// follows it on the same line, or it ends the log.
bool HasUnendedMessage(const LogCapture& log, const std::string& tag, const std::string& message) {
  const std::string text = log.Text();
  const std::string unended = tag + " " + message;
  if (text.size() >= unended.size() && text.compare(text.size() - unended.size(), unended.size(), unended) == 0)
    return true;
  return text.find(unended + "[ ") != std::string::npos;
}

std::string Msiexec() { return WindowsFolder() + "\\system32\\msiexec.exe"; }

class UninstallTest : public testing::Test {
 protected:
  void SetUp() override {
    g_runOptions = RunOptions{};
    gv_IsWow64 = 1;  // as the agent configuration sets it on 64-bit Windows
    RemovePackages();
  }

  void TearDown() override {
    OverrideRunningOn64BitWindows(std::nullopt);
    RemovePackages();
    g_runOptions = RunOptions{};
    gv_IsWow64 = 0;
    if (!madeMsiexecCopy_.empty()) DeleteFileA(madeMsiexecCopy_.c_str());
  }

  bool Installed(const Package& p) const { return reg_.KeyExists(ViewOf(p), EntryPath(p.code)); }

  void Install(std::initializer_list<Package> packages) {
    for (const Package& p : packages) {
      const std::string msi = ExeFolder() + "\\handler-msi\\" + p.name + ".msi";
      ASSERT_EQ(RunAndWait(Msiexec() + " /i \"" + msi + "\" /qn"), 0) << msi;
      ASSERT_TRUE(Installed(p)) << p.name;
    }
  }

  // Leaves none of the test packages installed.
  void RemovePackages() {
    for (const Package& p : kAllPackages)
      if (Installed(p)) RunAndWait(Msiexec() + " /x" + p.code + " /qn");
  }

  // Without 32-bit Wine there is no msiexec to start in SysWOW64: a 64-bit
  // copy stands in for it.
  void ProvideSysWow64Msiexec() {
    const std::string target = WindowsFolder() + "\\SysWOW64\\msiexec.exe";
    if (GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES) return;
    ASSERT_TRUE(CopyFileA(Msiexec().c_str(), target.c_str(), TRUE)) << GetLastError();
    madeMsiexecCopy_ = target;
  }

  void SetOptions(const char* latest, const char* architecture) {
    g_runOptions.javaLatestInstalledVersion = latest;
    g_runOptions.javaArchitecture = architecture;
  }

  LogCapture log_{4, "uninstall"};
  RegistrySandbox reg_;
  std::string madeMsiexecCopy_;
};

// ---- with real packages ----

TEST_F(UninstallTest, Java32OnWow64RemovesOnlyOlderUpdatesOfTheSameMajorWithSysWow64Msiexec) {
  ProvideSysWow64Msiexec();
  Install({kJava7_800, kJava8_1810, kJava8_1910, kJava8_2010, kJava8_2110});
  SetOptions("8.0.2010.9", "32");

  EXPECT_EQ(uninstallObsoleteUpdates(), 0);

  EXPECT_FALSE(Installed(kJava8_1810));
  EXPECT_FALSE(Installed(kJava8_1910));
  EXPECT_TRUE(Installed(kJava8_2010));  // the newest installed itself
  EXPECT_TRUE(Installed(kJava8_2110));  // newer
  EXPECT_TRUE(Installed(kJava7_800));   // another major version
  EXPECT_TRUE(HasLine(log_, "[INFO]", std::string("Keys to delete :") + kJava8_1810.code));
  EXPECT_TRUE(HasLine(log_, "[INFO]", std::string("Keys to delete :") + kJava8_1910.code));
  const std::string command = WindowsFolder() + "\\SysWOW64\\msiexec.exe /X" + kJava8_1910.code + " /qn /norestart";
  EXPECT_TRUE(HasLine(log_, "[INFO]", "execute : Process successfully created for application " + command + " "));
  EXPECT_TRUE(HasLine(log_, "[INFO]", "execute : Set Working Directory : " + WindowsFolder() + "\\SysWOW64 "));
  EXPECT_EQ(log_.Text().find("System32\\msiexec.exe"), std::string::npos);
}

TEST_F(UninstallTest, Java32On32BitWindowsUsesSystem32Msiexec) {
  OverrideRunningOn64BitWindows(false);
  gv_IsWow64 = 0;
  Install({kJava8_1910, kJava8_2010});
  SetOptions("8.0.2010.9", "32");

  EXPECT_EQ(uninstallObsoleteUpdates(), 0);

  EXPECT_FALSE(Installed(kJava8_1910));
  EXPECT_TRUE(Installed(kJava8_2010));
  const std::string windows = WindowsFolder();
  EXPECT_TRUE(HasMessage(log_, "[INFO]",
                      windows + "\\System32\\msiexec.exe /X" + kJava8_1910.code + " /qn /norestart    " + windows +
                          "\\system32  "));
}

TEST_F(UninstallTest, Java64ReadsTheNativeViewOnly) {
  Install({kJava8_1910x64, kJava8_2010x64, kJava8_1810});
  SetOptions("8.0.2010.9", "64");

  EXPECT_EQ(uninstallObsoleteUpdates(), 0);

  EXPECT_FALSE(Installed(kJava8_1910x64));
  EXPECT_TRUE(Installed(kJava8_2010x64));
  EXPECT_TRUE(Installed(kJava8_1810));  // a 32-bit Java is not this run's business
  const std::string windows = WindowsFolder();
  EXPECT_TRUE(HasMessage(log_, "[INFO]",
                      windows + "\\System32\\msiexec.exe /X" + kJava8_1910x64.code + " /qn /norestart    " +
                          windows + "\\system32  "));
}

TEST_F(UninstallTest, AFailedUninstallDoesNotStopTheOthersAndOnlyTheLastResultCounts) {
  ProvideSysWow64Msiexec();
  Install({kJava8_1910});
  const std::string unknown = "{26A24AE4-039D-4CA4-87B4-2F32189999F0}";

  EXPECT_EQ(uninstallUpdates({unknown, kJava8_1910.code}, true), 0);
  EXPECT_FALSE(Installed(kJava8_1910));
  EXPECT_TRUE(HasLine(log_, "[INFO]", "execute : Exit code for the application : 1605 "));

  EXPECT_EQ(uninstallUpdates({kJava8_1910.code}, true), 1605);  // no longer installed

  const size_t before = log_.Text().size();
  EXPECT_EQ(uninstallUpdates({}, true), 0);
  EXPECT_EQ(log_.Text().size(), before);  // nothing run
}

// ---- selection on seeded entries ----

class SelectionTest : public UninstallTest {
 protected:
  void SetUp() override {
    g_runOptions = RunOptions{};
    gv_IsWow64 = 1;
  }
  void TearDown() override {
    g_runOptions = RunOptions{};
    gv_IsWow64 = 0;
  }

  // A seeded uninstall entry whose name carries the Java prefix and this test
  // process's id; without a version it has no DisplayVersion.
  std::string Seed(RegView view, const std::string& tag, const char* version, const char* before = "") {
    const std::string key = before + std::string(kJavaProductCodePrefix) + tag + "-" +
                            std::to_string(GetCurrentProcessId()) + "}";
    EXPECT_TRUE(reg_.CreateKey(view, EntryPath(key)));
    if (version) {
      EXPECT_TRUE(reg_.SetString(view, EntryPath(key), "DisplayVersion", version));
    }
    return key;
  }

  // The seeded Java keys found in a view, then the obsolete ones among them.
  std::vector<std::string> Obsolete(bool is32Bit) {
    KeyList all, java, mine, result;
    getSubKeysOfRegistryHive(all, is32Bit);
    findKeysWithPattern(all, kJavaProductCodePrefix, java);
    findKeysWithPattern(java, "-" + std::to_string(GetCurrentProcessId()) + "}", mine);
    getUpdatesToDelete(mine, result, is32Bit);
    return result;
  }
};

TEST_F(SelectionTest, OlderUpdatesOfTheSameMajorOnly) {
  const std::string older = Seed(RegView::k32, "A1", "8.0.1910.12");
  const std::string prefixInside = Seed(RegView::k32, "A2", "8.0.1810.11", "Mid-");
  Seed(RegView::k32, "A3", "8.0.2010");  // equal over the shared length
  Seed(RegView::k32, "A4", "8.0.2010.9");
  Seed(RegView::k32, "A5", "8.0.2110.5");
  Seed(RegView::k32, "A6", "7.0.800.15");
  const std::string noVersion = Seed(RegView::k32, "A7", nullptr);
  SetOptions("8.0.2010.9", "32");

  EXPECT_THAT(Obsolete(true), UnorderedElementsAre(older, prefixInside));
  EXPECT_TRUE(HasLine(log_, "[INFO]", "Key with the given pattern is:" + prefixInside));
  EXPECT_TRUE(HasLine(log_, "[INFO]", "The full key path is " + EntryPath(noVersion) + " "));
  EXPECT_TRUE(HasLine(log_, "[INFO]", "getUpdatesToDelete: Display version is null"));
  EXPECT_TRUE(HasLine(log_, "[INFO]", "Cleanup is successfull for null value also "));
  EXPECT_TRUE(HasLine(log_, "[INFO]", "Keys to delete :" + older));
  for (const char* message : {"Inside getSubKeysOfRegistryHive", "Inside finding pattern in a list of strings function",
                              "Inside"})
    EXPECT_TRUE(HasUnendedMessage(log_, "[DEBUG]", message)) << message;
  for (const char* message : {"maatniya", "nee kelambu", "lolllll"})
    EXPECT_TRUE(HasUnendedMessage(log_, "[INFO]", message)) << message;
}

TEST_F(SelectionTest, LatestVersionWithoutDotOrAbsent) {
  Seed(RegView::k32, "C1", "80.0.1");
  Seed(RegView::k32, "C2", "8.0.1910.12");  // equals 8 over the shared length

  SetOptions("8", "32");
  EXPECT_TRUE(Obsolete(true).empty());
  EXPECT_EQ(log_.Text().find(": 80.0.1"), std::string::npos);  // not even compared

  // Software deployment may run without a latest version: nothing is obsolete.
  g_runOptions.javaLatestInstalledVersion.reset();
  EXPECT_TRUE(Obsolete(true).empty());
  EXPECT_EQ(uninstallObsoleteUpdates(), 0);
}

}  // namespace
