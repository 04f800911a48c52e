// Process execution against real processes under Wine: exit codes and their
// remarks, the installer success codes, the time limit (shortened through the
// minute-length seam), working folders and the log lines of each path.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "agent/util/errortext.h"
#include "handler/execute.h"
#include "tests/support/logcheck.h"
#include "tests/support/scratch.h"
#include "tests/support/win_system.h"

using twtest::HasLine;
using twtest::LogCapture;

namespace {

using twtest::ExeFolder;

// The helper program with the given steps (see test_child.cpp).
std::string Child(const std::string& steps) {
  std::string command = "\"";
  command += ExeFolder();
  command += "\\tw_test_child.exe\" ";
  command += steps;
  return command;
}

std::string CurrentDirectory() {
  char dir[4096];
  DWORD n = GetCurrentDirectoryA(sizeof dir, dir);
  return std::string(dir, n);
}

// Waits until the helper has written its process id.
DWORD WaitForPid(const std::string& file) {
  std::string text;
  if (!twtest::WaitUntil([&] { return !(text = twtest::ReadFile(file)).empty(); }, 10000, 50)) return 0;
  return static_cast<DWORD>(std::stoul(text));
}

class ExecuteTest : public testing::Test {
 protected:
  void TearDown() override {
    OverrideExecuteMinuteLength(std::nullopt);
    twtest::RemoveTree(folder_);
  }

  std::string Remark(int32_t code) { return GetErrorMessageText(code); }

  LogCapture log_{4, "execute"};
  std::string folder_ = twtest::MakeScratchDir("execute");
  std::string remark_;
};

TEST_F(ExecuteTest, MissingProgramGivesFileNotFoundWithoutWaiting) {
  const std::string command = "tw_no_such_program_4711.exe /x";
  EXPECT_EQ(execute(nullptr, command.c_str(), remark_, 45, 0), ERROR_FILE_NOT_FOUND);

  EXPECT_TRUE(HasLine(log_, "[DEBUG]", "@@@@@@@@ Inside execute Method @@@@@@@@ "));
  EXPECT_TRUE(HasLine(log_, "[INFO]", "execute : Failed to Create the Process for the application "));
  EXPECT_FALSE(log_.Text().find("Process successfully created") != std::string::npos);
  EXPECT_TRUE(HasLine(log_, "[INFO]",
                      "execute : Remarks from the CreateProcess is " + remark_ + " for the executable " + command +
                          " "));
  EXPECT_TRUE(HasLine(log_, "[DEBUG]", "@@@@@@@@ End Of execute Method @@@@@@@@ "));
  EXPECT_FALSE(remark_.empty());
  EXPECT_EQ(remark_, Remark(ERROR_FILE_NOT_FOUND));
}

TEST_F(ExecuteTest, ExitCodesAndInstallerSuccessCodes) {
  struct Case {
    int32_t exitCode;
    int32_t installerResult;
  };
  for (const Case c : {Case{0, 0}, Case{3, 3}, Case{1508, 0}, Case{1641, 0}, Case{3010, 0}, Case{1603, 1603}}) {
    SCOPED_TRACE(c.exitCode);
    const std::string command = Child("exit " + std::to_string(c.exitCode));
    EXPECT_EQ(execute(nullptr, command.c_str(), remark_, 45, 0), c.exitCode);
    EXPECT_EQ(remark_, Remark(c.exitCode));
    std::string installerRemark;
    EXPECT_EQ(runInstaller(nullptr, command.c_str(), installerRemark, 45, 0), c.installerResult);
    EXPECT_EQ(installerRemark, remark_);  // the remark names the real exit code
    EXPECT_TRUE(HasLine(log_, "[INFO]", "execute : Process successfully created for application " + command + " "));
    EXPECT_TRUE(HasLine(log_, "[INFO]",
                        "execute : Exit code for the application : " + std::to_string(c.exitCode) + " "));
    EXPECT_TRUE(HasLine(log_, "[INFO]",
                        "execute : Remarks from the CreateProcess is " + remark_ + " for the executable " +
                            command + " "));
  }
}

TEST_F(ExecuteTest, TimeLimitTerminatesTheProcess) {
  OverrideExecuteMinuteLength(300);  // one minute of the limit lasts 0.3 s
  const std::string pidFile = folder_ + "\\pid.txt";
  const std::string command = Child("pid \"" + pidFile + "\" sleep 60000 exit 7");
  EXPECT_EQ(execute(nullptr, command.c_str(), remark_, 2, 0), WAIT_TIMEOUT);
  EXPECT_EQ(remark_, Remark(WAIT_TIMEOUT));
  EXPECT_TRUE(HasLine(log_, "[INFO]",
                      "execute : Terminating the Process for application " + command +
                          " as time is exceeded 2 Minutes "));
  EXPECT_TRUE(HasLine(log_, "[INFO]", "execute : The process has been successfully terminated ..! "));
  EXPECT_FALSE(log_.Text().find("Exit code for the application") != std::string::npos);

  // The process is gone, ended with exit code 0 rather than its own 7.
  const DWORD pid = WaitForPid(pidFile);
  ASSERT_NE(pid, 0u);
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process) {
    EXPECT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    EXPECT_TRUE(GetExitCodeProcess(process, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    CloseHandle(process);
  } else {
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));  // no such process any more
  }

  // The installer wrapper does not count a time-out as success.
  std::string installerRemark;
  EXPECT_EQ(runInstaller(nullptr, Child("sleep 60000").c_str(), installerRemark, 1, 0), WAIT_TIMEOUT);
}

TEST_F(ExecuteTest, LimitZeroLeavesTheProcessRunning) {
  const std::string pidFile = folder_ + "\\pid.txt";
  const std::string command = Child("pid \"" + pidFile + "\" sleep 1500 exit 5");
  EXPECT_EQ(execute(nullptr, command.c_str(), remark_, 0, 0), 0);
  EXPECT_EQ(remark_, Remark(0));
  EXPECT_FALSE(log_.Text().find("Exit code for the application") != std::string::npos);

  const DWORD pid = WaitForPid(pidFile);
  ASSERT_NE(pid, 0u);
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(WaitForSingleObject(process, 0), static_cast<DWORD>(WAIT_TIMEOUT));  // still running
  EXPECT_EQ(WaitForSingleObject(process, 20000), WAIT_OBJECT_0);
  DWORD exitCode = 0;
  EXPECT_TRUE(GetExitCodeProcess(process, &exitCode));
  EXPECT_EQ(exitCode, 5u);  // its own failure never reached the caller
  CloseHandle(process);
}

TEST_F(ExecuteTest, WorkingFolderIsTheProgramsCurrentDirectoryAndIsRestored) {
  const std::string before = CurrentDirectory();
  const std::string work = folder_ + "\\work";
  ASSERT_TRUE(CreateDirectoryA(work.c_str(), nullptr));
  const std::string cwdFile = folder_ + "\\cwd.txt";
  const std::string command = Child("cwd \"" + cwdFile + "\"");

  EXPECT_EQ(execute(work.c_str(), command.c_str(), remark_, 45, 1), 0);
  EXPECT_EQ(twtest::ReadFile(cwdFile), work);
  EXPECT_EQ(CurrentDirectory(), before);
  EXPECT_TRUE(HasLine(log_, "[INFO]", "execute : Current Working Directory : " + before + " "));
  EXPECT_TRUE(HasLine(log_, "[INFO]", "execute : Executing Application Source : " + command + " "));
  EXPECT_TRUE(HasLine(log_, "[INFO]", "execute : Set Working Directory : " + work + " "));

  // A relative folder is taken from the caller's current directory, once.
  ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
  EXPECT_EQ(execute("work", command.c_str(), remark_, 45, 0), 0);
  EXPECT_EQ(twtest::ReadFile(cwdFile), work);
  EXPECT_EQ(CurrentDirectory(), folder_);
  SetCurrentDirectoryA(before.c_str());
}

TEST_F(ExecuteTest, MissingWorkingFolderStartsNothing) {
  const std::string before = CurrentDirectory();
  const std::string missing = folder_ + "\\missing";
  const std::string pidFile = folder_ + "\\pid.txt";
  const int32_t result = execute(missing.c_str(), Child("pid \"" + pidFile + "\"").c_str(), remark_, 45, 0);

  EXPECT_TRUE(result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND) << result;
  EXPECT_EQ(remark_, Remark(result));
  EXPECT_EQ(CurrentDirectory(), before);
  EXPECT_TRUE(HasLine(log_, "[ERROR]", "execute : Failed to set the WorkingDirectory " + missing + " "));
  EXPECT_FALSE(log_.Text().find("Process successfully created") != std::string::npos);
  Sleep(300);
  EXPECT_FALSE(twtest::FileExists(pidFile));
}

TEST_F(ExecuteTest, LongCommandLineAndBadArguments) {
  // A command line longer than any fixed buffer the program might have used.
  std::string padding;
  while (padding.size() < 9000) padding += "pad 0123456789abcdef ";
  EXPECT_EQ(execute(folder_.c_str(), Child(padding + "exit 9").c_str(), remark_, 45, 0), 9);

  EXPECT_EQ(execute(nullptr, nullptr, remark_, 45, 0), ERROR_INVALID_DATA);
  EXPECT_EQ(remark_, Remark(ERROR_INVALID_DATA));
  EXPECT_EQ(execute(nullptr, Child("exit 0").c_str(), remark_, -1, 0), ERROR_INVALID_DATA);
}

// A child that asks for input gets the end of the null device and fails at
// once, instead of waiting out its time limit on a console nobody sees: 7za's
// password prompt for an encrypted entry. The limit of 1 minute bounds the
// test should the child wait after all (it would then end with 258).
TEST_F(ExecuteTest, ChildAskingForInputFailsAtOnce) {
  std::string tool = "\"";  // appended: GCC 12 warns falsely on "..." + a temporary string
  tool += ExeFolder();
  tool += "\\e2e-data\\7za.exe\"";
  const std::string archive = folder_ + "\\encrypted.zip";
  ASSERT_TRUE(twtest::WriteFile(folder_ + "\\secret.txt", "secret"));
  ASSERT_EQ(execute(folder_.c_str(), (tool + " a -tzip -pSECRET encrypted.zip secret.txt").c_str(), remark_, 1, 0), 0);
  ASSERT_TRUE(DeleteFileA((folder_ + "\\secret.txt").c_str()));

  const int32_t result = execute(folder_.c_str(), (tool + " x -y \"" + archive + "\"").c_str(), remark_, 1, 0);
  EXPECT_EQ(result, 255) << "7za stops at the end of its input (its code 255), not at the time limit (258)";
}

}  // namespace
