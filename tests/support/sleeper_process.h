// Starts copies of the sleeper program under a chosen image name and command
// line, and ends them when the test is over (a job object ends them too should
// the test program itself die).
#pragma once
#include <windows.h>

#include <optional>
#include <string>

namespace twtest {

// "<folder>\\<name>": a copy of the sleeper started with `arguments` after its
// quoted path; the command line is exactly CommandLine().
class SleeperProcess {
 public:
  SleeperProcess(const std::string& folder, const std::string& name, const std::string& arguments = "");
  ~SleeperProcess();
  SleeperProcess(const SleeperProcess&) = delete;
  SleeperProcess& operator=(const SleeperProcess&) = delete;

  bool Started() const { return process_ != nullptr; }
  DWORD Pid() const { return pid_; }
  const std::string& CommandLine() const { return commandLine_; }
  const std::string& Path() const { return path_; }
  // True when the process ended within `ms`.
  bool WaitForExit(DWORD ms) const;
  // The exit code once ended (STILL_ACTIVE while running, too).
  DWORD ExitCode() const;

 private:
  std::string path_;
  std::string commandLine_;
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
};

// The image name of the running test program ("processes_test.exe").
std::string OwnImageName();

// Runs a helper program built beside the test program, as
// "\"<path>\" <arguments>" (given back in commandLine), and waits up to a
// minute for it: its exit code, or nothing when it could not run or hung.
std::optional<DWORD> RunHelper(const std::string& program, const std::string& arguments, std::string& commandLine);

}  // namespace twtest
