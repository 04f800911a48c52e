// Sleeper copies for the process-check tests (see sleeper_process.h).
#include "tests/support/sleeper_process.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "tests/support/win_system.h"

namespace twtest {
namespace {

std::wstring OwnPath() {
  std::vector<wchar_t> buffer(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  return std::wstring(buffer.data(), n);
}

std::wstring BesideSelf(const std::wstring& program) {
  std::wstring self = OwnPath();
  return self.substr(0, self.find_last_of(L"\\/") + 1) + program;
}

// One job for all sleepers of this test program: closing it (at exit, however
// the program ends) ends them.
HANDLE SleeperJob() {
  static HANDLE job = [] {
    HANDLE h = CreateJobObjectW(nullptr, nullptr);
    if (h) {
      JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
      limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
      SetInformationJobObject(h, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    return h;
  }();
  return job;
}

}  // namespace

std::string OwnImageName() {
  std::wstring path = OwnPath();
  return Narrow(path.substr(path.find_last_of(L"\\/") + 1));
}

SleeperProcess::SleeperProcess(const std::string& folder, const std::string& name, const std::string& arguments) {
  std::wstring sleeper = BesideSelf(L"tw_proc_sleeper.exe");
  path_ = folder + "\\" + name;
  std::wstring target = Widen(path_);
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(Widen(folder)), ec);
  if (!CopyFileW(sleeper.c_str(), target.c_str(), FALSE)) return;

  commandLine_ = "\"" + path_ + "\"";
  if (!arguments.empty()) commandLine_ += " " + arguments;
  std::wstring command = Widen(commandLine_);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(target.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                      &startup, &info))
    return;
  AssignProcessToJobObject(SleeperJob(), info.hProcess);
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  pid_ = info.dwProcessId;
  // Let it start up so that its command line is readable from outside.
  Sleep(200);
}

SleeperProcess::~SleeperProcess() {
  if (!process_) return;
  if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 5000);
  }
  CloseHandle(process_);
}

bool SleeperProcess::WaitForExit(DWORD ms) const {
  return process_ && WaitForSingleObject(process_, ms) == WAIT_OBJECT_0;
}

DWORD SleeperProcess::ExitCode() const {
  DWORD code = 0;
  if (process_) GetExitCodeProcess(process_, &code);
  return code;
}

std::optional<DWORD> RunHelper(const std::string& program, const std::string& arguments, std::string& commandLine) {
  std::wstring path = BesideSelf(Widen(program));
  commandLine.assign(1, '"').append(Narrow(path)).append("\" ").append(arguments);
  std::wstring command = Widen(commandLine);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return std::nullopt;
  CloseHandle(info.hThread);
  std::optional<DWORD> result;
  DWORD code = 0;
  if (WaitForSingleObject(info.hProcess, 60 * 1000) == WAIT_OBJECT_0 && GetExitCodeProcess(info.hProcess, &code))
    result = code;
  else
    TerminateProcess(info.hProcess, 1);
  CloseHandle(info.hProcess);
  return result;
}

}  // namespace twtest
