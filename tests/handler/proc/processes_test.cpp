// The running-process checks on real processes in the Wine prefix: copies of a
// sleeper program stand in for jqs.exe, browsers and Java programs, and the
// in-use check reads their command lines through WMI.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "agent/config/settings.h"
#include "handler/javadiscovery.h"
#include "handler/options.h"
#include "handler/processes.h"
#include "tests/support/sleeper_process.h"
#include "tests/support/scratch.h"
#include "tests/support/win_registry.h"

using twtest::LogCapture;
using twtest::RegistrySandbox;
using twtest::RegView;
using twtest::SleeperProcess;

namespace {

const std::string kJre = "SOFTWARE\\JavaSoft\\Java Runtime Environment\\";

class ProcessesTest : public testing::Test {
 protected:
  void SetUp() override {
    javaInUse = 0;
    g_runOptions = RunOptions();
    szJavaHome.reset();
    gv_IsWow64 = 1;
    folder_ = twtest::MakeScratchDir("proc");
    version_ = "1.8.0_twp" + std::to_string(GetCurrentProcessId());
  }
  void TearDown() override {
    javaInUse = 0;
    g_runOptions = RunOptions();
    szJavaHome.reset();
    gv_IsWow64 = 0;
  }
  // Folder for one sleeper (image names repeat across folders).
  std::string Sub(const std::string& name) const { return folder_ + "\\" + name; }
  int Count(const std::string& message) const {
    const auto m = log_.Messages();
    return static_cast<int>(std::count(m.begin(), m.end(), message));
  }
  bool HasPrefix(const std::string& prefix) const {
    for (const std::string& m : log_.Messages())
      if (m.rfind(prefix, 0) == 0) return true;
    return false;
  }
  // A 64-bit Java whose home is `home` for the patch under test.
  void InstallJava(const std::string& home) {
    ASSERT_TRUE(reg_.SetString(RegView::k64, kJre + version_, "JavaHome", home));
    g_runOptions.productVersion = version_;
    g_runOptions.patchName = "jre-7u80-windows-x64.exe";
  }

  LogCapture log_{4, "processes"};
  RegistrySandbox reg_;
  std::string folder_;
  std::string version_;
};

// The folder goes after every sleeper in a test has ended.
struct FolderCleanup {
  std::string path;
  ~FolderCleanup() { twtest::RemoveTree(path); }
};

TEST_F(ProcessesTest, KillProcessesEndsEveryProcessOfThatNameOnly) {
  FolderCleanup cleanup{folder_};
  SleeperProcess first(Sub("a"), "jqs.exe");
  SleeperProcess second(Sub("b"), "jqs.exe");
  SleeperProcess bystander(Sub("c"), "jqs.exe.exe");
  ASSERT_TRUE(first.Started() && second.Started() && bystander.Started());

  EXPECT_TRUE(KillProcesses("JQS.EXE"));
  ASSERT_TRUE(first.WaitForExit(5000));
  ASSERT_TRUE(second.WaitForExit(5000));
  // Ended with the exit code read just before: the still-active value.
  EXPECT_EQ(first.ExitCode(), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_FALSE(bystander.WaitForExit(0));

  const auto m = log_.Messages();
  ASSERT_GE(m.size(), 5u) << log_.Text();
  EXPECT_EQ(m.front(), "@@@@@@@@@  Inside KillProcesses Method @@@@@@@@@@@");
  EXPECT_EQ(m[1], "Process name to kill : JQS.EXE");
  EXPECT_EQ(Count("JQS.EXE was Killed......"), 2);
  EXPECT_EQ(m.back(), "@@@@@@@@@  End of KillProcesses Method @@@@@@@@@@@");

  // Nothing of that name is left.
  EXPECT_FALSE(KillProcesses("jqs.exe"));
  EXPECT_EQ(Count("jqs.exe was Killed......"), 0);
}

TEST_F(ProcessesTest, LongNamesMatchOnFifteenCharactersWhenFindingButWholeWhenKilling) {
  FolderCleanup cleanup{folder_};
  SleeperProcess longName(Sub("a"), "averylongname_one.exe");
  SleeperProcess shortName(Sub("b"), "jqs.exe");
  ASSERT_TRUE(longName.Started() && shortName.Started());

  EXPECT_EQ(findProcessByName("AVERYLONGNAME_ONE.EXE"), longName.Pid());
  EXPECT_EQ(findProcessByName("averylongname_oXXXX.exe"), longName.Pid());
  EXPECT_EQ(findProcessByName("averylongname_X.exe"), 0u);
  // Up to 14 characters a name matches only whole.
  EXPECT_EQ(findProcessByName("Jqs.Exe"), shortName.Pid());
  EXPECT_EQ(findProcessByName("jqs.ex"), 0u);
  EXPECT_EQ(findProcessByName("jqs.exe.x"), 0u);

  EXPECT_FALSE(KillProcesses("averylongname_oXXXX.exe"));
  EXPECT_FALSE(longName.WaitForExit(200));
}

TEST_F(ProcessesTest, TheProgramNeverFindsOrEndsItself) {
  FolderCleanup cleanup{folder_};
  const std::string self = twtest::OwnImageName();
  EXPECT_EQ(findProcessByName(self.c_str()), 0u);
  EXPECT_FALSE(KillProcesses(self.c_str()));

  // A namesake of the program is another process: found, and ended.
  SleeperProcess twin(Sub("a"), self);
  ASSERT_TRUE(twin.Started());
  EXPECT_EQ(findProcessByName(self.c_str()), twin.Pid());
  EXPECT_TRUE(KillProcesses(self.c_str()));
  EXPECT_TRUE(twin.WaitForExit(5000));
}

TEST_F(ProcessesTest, RunningBrowserMeansJavaInUseWithoutWmi) {
  FolderCleanup cleanup{folder_};
  EXPECT_EQ(isBrowserRunning(), 0);
  EXPECT_TRUE(log_.Has("checking for browsers...\n"));
  EXPECT_FALSE(log_.Has("Browser is being used\n"));

  // Each browser's image name, Internet Explorer's included.
  for (const char* browser : {"iexplore.exe", "chrome.exe", "firefox.exe"}) {
    SCOPED_TRACE(browser);
    javaInUse = 0;
    SleeperProcess running(Sub("a"), browser);
    ASSERT_TRUE(running.Started());
    EXPECT_EQ(isBrowserRunning(), 1);
    EXPECT_EQ(javaInUse, 1);
  }
  EXPECT_TRUE(log_.Has("Browser is being used\n"));

  SleeperProcess chrome(Sub("a"), "chrome.exe");
  ASSERT_TRUE(chrome.Started());

  // The in-use check: a browser is enough, the process walk is skipped.
  javaInUse = 0;
  InstallJava(Sub("jre"));
  EXPECT_EQ(isJavaInUse(), 1);
  EXPECT_FALSE(log_.Has("WMI Connected\n"));
  EXPECT_EQ(Count("szJavaHome : " + Sub("jre")), 2);
}

// Wine's WMI gives the command line of the asking process only (other
// processes have none), so the in-use check runs in a helper process whose own
// command line names (or does not name) the Java home; the helper answers with
// isJavaInUse() as its exit code and logs into the folder it is given.
class WmiCheckTest : public ProcessesTest {
 protected:
  // Runs the check with the home registered as `registered` and the further
  // arguments on the helper's command line.
  std::optional<DWORD> RunCheck(const std::string& registered, const std::string& arguments) {
    InstallJava(registered);
    const std::string logFolder = Sub("log");
    CreateDirectoryA(logFolder.c_str(), nullptr);
    const auto code = twtest::RunHelper("tw_proc_wmicheck.exe",
                                        "\"" + logFolder + "\" " + version_ + " " + *g_runOptions.patchName + " " +
                                            arguments,
                                        commandLine_);
    for (const std::string& line : twtest::SplitLines(twtest::ReadFile(logFolder + "\\wmicheck.log")))
      if (!twtest::TagOf(line).empty()) messages_.push_back(twtest::MessageOf(line));
    return code;
  }
  bool Logged(const std::string& message) const {
    return std::find(messages_.begin(), messages_.end(), message) != messages_.end();
  }
  bool LoggedPrefix(const std::string& prefix) const {
    return std::any_of(messages_.begin(), messages_.end(),
                       [&](const std::string& m) { return m.rfind(prefix, 0) == 0; });
  }
  std::string Dump() const {
    std::string text;
    for (const std::string& m : messages_) text += m.substr(0, 300) + "\n";
    return text;
  }

  std::string commandLine_;
  std::vector<std::string> messages_;
};

TEST_F(WmiCheckTest, ProcessWhoseCommandLineHoldsTheJavaHomeIsInUse) {
  FolderCleanup cleanup{folder_};
  const std::string home = Sub("jre");
  EXPECT_EQ(RunCheck(home, "\"" + home + "\\bin\\javaw.exe\" -jar app.jar"), 1u) << Dump();
  EXPECT_TRUE(Logged("GetValuesUsingWMIQuery : Connected to ROOT\\CIMV2 WMI namespace ")) << Dump();
  EXPECT_TRUE(Logged("WMI Connected"));
  EXPECT_TRUE(Logged("GetValuesUsingWMIQuery : Command Line for the process : " +
                     std::to_string(commandLine_.size()) + " : " + commandLine_ + " "))
      << Dump();
  EXPECT_TRUE(Logged("szJavaHomeW : " + home + " and Value : " + commandLine_));
  EXPECT_TRUE(LoggedPrefix("process " + commandLine_ + " use java is ")) << Dump();
  EXPECT_TRUE(Logged("GetValuesUsingWMIQuery : Going to clean the allocated resources ."));
  EXPECT_TRUE(Logged("szJavaHome : " + home));
}

TEST_F(WmiCheckTest, HomeInOtherLetterCaseIsNotInUse) {
  FolderCleanup cleanup{folder_};
  const std::string home = Sub("jre");
  std::string upper = home;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  ASSERT_NE(upper, home);
  EXPECT_EQ(RunCheck(upper, "\"" + home + "\\bin\\javaw.exe\""), 0u) << Dump();
  // The command line was looked at, and not matched.
  EXPECT_TRUE(Logged("szJavaHomeW : " + upper + " and Value : " + commandLine_)) << Dump();
  EXPECT_FALSE(LoggedPrefix("process "));
}

TEST_F(WmiCheckTest, LongCommandLinesAreSearchedInFull) {
  FolderCleanup cleanup{folder_};
  const std::string home = Sub("jre");
  // The home appears only after 3000 characters of other arguments.
  EXPECT_EQ(RunCheck(home, std::string(3000, 'x') + " -cp " + home + "\\lib\\rt.jar"), 1u) << Dump();
  ASSERT_GT(commandLine_.size(), 3000u);
  EXPECT_TRUE(LoggedPrefix("process " + commandLine_ + " use java is "));
}

// The home is read through the narrow registry reader, in the system code
// page; a letter outside ASCII must still match the command line WMI gives.
TEST_F(WmiCheckTest, HomeOutsideAsciiIsFoundInTheCommandLine) {
  ASSERT_NE(GetACP(), static_cast<UINT>(CP_UTF8)) << "a UTF-8 system code page would prove nothing here";
  FolderCleanup cleanup{folder_};
  const std::string home = Sub("jr\xC3\xA9");  // UTF-8, as the test's texts are
  EXPECT_EQ(RunCheck(home, "\"" + home + "\\bin\\javaw.exe\" -jar app.jar"), 1u) << Dump();
  EXPECT_TRUE(LoggedPrefix("process " + commandLine_ + " use java is ")) << Dump();
}

// Another process started from the Java home. Wine's WMI reports no command
// line for processes other than the caller, so this runs on Windows only.
TEST_F(ProcessesTest, OtherProcessStartedFromTheJavaHomeIsInUse) {
  if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
    GTEST_SKIP() << "Wine's Win32_Process has command lines of the calling process only";
  FolderCleanup cleanup{folder_};
  const std::string home = Sub("jre");
  InstallJava(home);
  SleeperProcess java(home + "\\bin", "javaw.exe", "-jar app.jar");
  ASSERT_TRUE(java.Started());
  EXPECT_EQ(isJavaInUse(), 1);
  EXPECT_TRUE(HasPrefix("process " + java.CommandLine() + " use java is ")) << log_.Text();
}

TEST_F(ProcessesTest, NoJavaHomeSkipsTheProcessWalk) {
  FolderCleanup cleanup{folder_};
  g_runOptions.productVersion = version_ + "-missing";
  EXPECT_EQ(isJavaInUse(), 0);
  EXPECT_TRUE(log_.Has("checking for browsers...\n"));
  EXPECT_FALSE(log_.Has("WMI Connected\n"));
  EXPECT_EQ(Count("szJavaHome : (null)"), 2);
}

TEST_F(ProcessesTest, WmiConnectsOnceAndStaysUsable) {
  // Connecting twice on the run thread keeps COM and the connection working.
  EXPECT_EQ(ConnectWMINamespace(), S_OK);
  EXPECT_EQ(ConnectWMINamespace(), S_OK);
  szJavaHome = "C:\\no such java home";
  EXPECT_EQ(CheckForJavaRelatedProceses(), S_OK);
  EXPECT_EQ(javaInUse, 0);
  EXPECT_TRUE(HasPrefix("GetValuesUsingWMIQuery : Command Line for the process : "));
  EXPECT_FALSE(log_.Has("CheckForJavaRelatedProceses : WMI Connection failed. So ignoring WMI checks\n"));
}

}  // namespace
