// Process execution with a time limit (see execute.h): the one way the program
// starts the archive tool, the Java installer and the Windows Installer.
#include "handler/execute.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <optional>
#include <vector>

#include "agent/log/logger.h"
#include "agent/util/errortext.h"
#include "agent/util/scopedhandle.h"
#include "agent/util/wow64.h"

namespace {

constexpr uint32_t kMinute = 60000;
std::atomic<uint32_t> g_minuteLength{kMinute};

// A terminated process is given this long to be gone before `execute` returns,
// so the caller's next step does not meet it half-ended.
constexpr DWORD kTerminationWait = 5000;

// The current directory in full, whatever its length. 0 or the Windows error.
DWORD SaveCurrentDirectory(std::string& out) {
  std::vector<char> buffer(MAX_PATH + 1, '\0');
  for (;;) {
    DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0) return GetLastError();
    if (n < buffer.size()) {
      out.assign(buffer.data(), n);
      return 0;
    }
    buffer.assign(static_cast<size_t>(n) + 1, '\0');  // n: the size needed, terminator included
  }
}

// The null device, opened so that a child can inherit it; an empty handle
// when it cannot be opened.
KernelHandle OpenInheritableNullDevice() {
  SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
  return KernelHandle(CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &security,
                                  OPEN_EXISTING, 0, nullptr));
}

// Starts the command line with the null device as its standard input, output
// and error, and that handle as the only one it inherits: nothing reads what
// the archive tool and the installers print, and a child that asks for input
// (7za's password prompt for an encrypted entry) reads the end of it and
// fails at once instead of waiting out the time limit on a console nobody
// sees. Without the null device the child starts as before, inheriting nothing.
BOOL StartProcess(char* commandLine, STARTUPINFOA startup, PROCESS_INFORMATION* process) {
  const DWORD flags = CREATE_NO_WINDOW | CREATE_DEFAULT_ERROR_MODE;
  KernelHandle null = OpenInheritableNullDevice();
  if (!null) return CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup, process);
  STARTUPINFOEXA extended{};
  extended.StartupInfo = startup;
  extended.StartupInfo.cb = sizeof extended;
  extended.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
  extended.StartupInfo.hStdInput = extended.StartupInfo.hStdOutput = extended.StartupInfo.hStdError = null.Get();
  HANDLE inherited = null.Get();
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> list(size);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
  const bool limited = size != 0 && InitializeProcThreadAttributeList(attributes, 1, 0, &size);
  const bool listed = limited && UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inherited,
                                                           sizeof inherited, nullptr, nullptr);
  // Without a handle list (older systems) every inheritable handle goes to the
  // child; this program opens no other one.
  extended.lpAttributeList = listed ? attributes : nullptr;
  const BOOL created = CreateProcessA(nullptr, commandLine, nullptr, nullptr, TRUE,
                                      flags | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0), nullptr, nullptr,
                                      &extended.StartupInfo, process);
  const DWORD error = GetLastError();
  if (limited) DeleteProcThreadAttributeList(attributes);
  SetLastError(error);
  return created;
}

// Milliseconds to wait for a limit in minutes; never INFINITE.
DWORD WaitMilliseconds(int32_t minutes) {
  const uint64_t ms = static_cast<uint64_t>(minutes) * g_minuteLength.load();
  return ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(ms);
}

}  // namespace

void OverrideExecuteMinuteLength(std::optional<uint32_t> milliseconds) {
  g_minuteLength.store(milliseconds ? *milliseconds : kMinute);
}

int32_t execute(const char* workingFolder, const char* commandLine, std::string& remark, int32_t timeLimitMinutes,
                int32_t showWindow, ProgramLookup lookup) {
  LogDebug("@@@@@@@@ Inside execute Method @@@@@@@@ \n");
  if (!commandLine || timeLimitMinutes < 0) {
    if (!commandLine)
      LogError("execute : No application given to execute \n");
    else
      LogError("execute : Invalid time limit %d Minutes \n", static_cast<int>(timeLimitMinutes));
    remark = GetErrorMessageText(ERROR_INVALID_DATA);
    LogDebug("@@@@@@@@ End Of execute Method @@@@@@@@ \n");
    return ERROR_INVALID_DATA;
  }

  std::string savedDirectory;
  if (workingFolder) {
    const DWORD code = SaveCurrentDirectory(savedDirectory);
    if (code != 0) {
      LogError("execute: Failed to get the CurrentWorkingDirectory \n");
      LogErrorCode(static_cast<int32_t>(code));
      remark = GetErrorMessageText(static_cast<int32_t>(code));
      return static_cast<int32_t>(code);
    }
    LogInfo("execute : Current Working Directory : %s \n", savedDirectory.c_str());
    LogInfo("execute : Executing Application Source : %s \n", commandLine);
    LogInfo("execute : Set Working Directory : %s \n", workingFolder);
    if (!SetCurrentDirectoryA(workingFolder)) {
      const int32_t error = static_cast<int32_t>(GetLastError());
      LogError("execute : Failed to set the WorkingDirectory %s \n", workingFolder);
      LogErrorCode(error);
      remark = GetErrorMessageText(error);
      return error;
    }
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (showWindow != 0) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
  }
  PROCESS_INFORMATION process{};
  KernelHandle processHandle;
  KernelHandle threadHandle;
  // CreateProcessA may write into the command line: it gets its own copy.
  std::vector<char> command(commandLine, commandLine + strlen(commandLine) + 1);
  BOOL created;
  {
    std::optional<FileSystemRedirectionOff> native;
    if (lookup == ProgramLookup::kNative) native.emplace();
    // The working folder is the current directory by now; naming it again
    // would resolve a relative folder a second time, inside itself.
    created = StartProcess(command.data(), startup, &process);
  }

  int32_t result = 0;
  if (!created) {
    result = static_cast<int32_t>(GetLastError());
    LogInfo("execute : Failed to Create the Process for the application \n");
    remark = GetErrorMessageText(result);
  } else {
    processHandle.Reset(process.hProcess);
    threadHandle.Reset(process.hThread);
    LogInfo("execute : Process successfully created for application %s \n", commandLine);
    if (timeLimitMinutes == 0) {
      remark = GetErrorMessageText(0);
    } else {
      const DWORD wait = WaitForSingleObject(process.hProcess, WaitMilliseconds(timeLimitMinutes));
      if (wait == WAIT_TIMEOUT) {
        result = WAIT_TIMEOUT;
        LogInfo("execute : Terminating the Process for application %s as time is exceeded %d Minutes \n",
                commandLine, static_cast<int>(timeLimitMinutes));
        remark = GetErrorMessageText(result);
        if (TerminateProcess(process.hProcess, 0)) {
          LogInfo("execute : The process has been successfully terminated ..! \n");
          WaitForSingleObject(process.hProcess, kTerminationWait);
        } else {
          LogError("execute : The process termination is failed with error code : %d \n",
                   static_cast<int>(GetLastError()));
        }
      } else if (wait == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        if (GetExitCodeProcess(process.hProcess, &exitCode)) {
          result = static_cast<int32_t>(exitCode);
          remark = GetErrorMessageText(result);
          LogInfo("execute : Exit code for the application : %d \n", static_cast<int>(result));
        } else {
          result = static_cast<int32_t>(GetLastError());
          LogInfo("execute : Unable to find the exit code for the application and the error code is : %d \n",
                  static_cast<int>(result));
          remark = GetErrorMessageText(result);
        }
      } else {
        // The wait itself failed: its error is the result, so it never reads as success.
        result = static_cast<int32_t>(GetLastError());
        if (result == 0) result = ERROR_INVALID_HANDLE;
        LogError("execute : WaitForSingleObject Failed with error code %d \n", static_cast<int>(result));
        remark = GetErrorMessageText(result);
      }
    }
  }

  if (workingFolder) SetCurrentDirectoryA(savedDirectory.c_str());
  LogInfo("execute : Remarks from the CreateProcess is %s for the executable %s \n", remark.c_str(), commandLine);
  LogDebug("@@@@@@@@ End Of execute Method @@@@@@@@ \n");
  return result;
}

int32_t runInstaller(const char* workingFolder, const char* commandLine, std::string& remark,
                     int32_t timeLimitMinutes, int32_t showWindow, ProgramLookup lookup) {
  const int32_t result = execute(workingFolder, commandLine, remark, timeLimitMinutes, showWindow, lookup);
  switch (result) {
    case 0:
    case 1508:
    case ERROR_SUCCESS_REBOOT_INITIATED:  // 1641
    case ERROR_SUCCESS_REBOOT_REQUIRED:   // 3010
      return 0;
    default:
      return result;
  }
}
