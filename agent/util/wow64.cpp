// The one answer to "64-bit Windows?" and the file-system redirection scope
// (see wow64.h).
#include "agent/util/wow64.h"

#include <atomic>

#include "agent/log/logger.h"

namespace {
// -1: no override; 0 or 1: forced answer.
std::atomic<int> g_override{-1};

bool AskWindows() {
#if defined(_WIN64)
  return true;
#else
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  HMODULE kernel = GetModuleHandleA("kernel32");
  auto fn = kernel ? reinterpret_cast<IsWow64ProcessFn>(
                         reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")))
                   : nullptr;
  BOOL wow = FALSE;
  if (fn && fn(GetCurrentProcess(), &wow)) return wow != FALSE;
  return false;
#endif
}
}  // namespace

bool IsRunningOn64BitWindows() {
  int forced = g_override.load();
  if (forced >= 0) return forced == 1;
  static const bool real = AskWindows();
  return real;
}

void OverrideRunningOn64BitWindows(std::optional<bool> answer) {
  g_override.store(answer ? (*answer ? 1 : 0) : -1);
}

FileSystemRedirectionOff::FileSystemRedirectionOff(Mode mode) : mode_(mode) {
  if (mode_ == Mode::kLogged) {
    // The shell is a delay-loaded import: its calls bind on first use through
    // LoadLibrary by module name, which takes an already loaded module as it
    // is without searching the disk, so loading it here covers them too.
    shell_ = LoadLibraryA("shell32.dll");
    shlwapi_ = LoadLibraryA("shlwapi.dll");
  }
#if !defined(_WIN64)
  if (IsRunningOn64BitWindows()) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    using DisableFn = BOOL(WINAPI*)(PVOID*);
    auto disable = kernel ? reinterpret_cast<DisableFn>(reinterpret_cast<void*>(
                                GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")))
                          : nullptr;
    revert_ = kernel ? reinterpret_cast<RevertFn>(
                           reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")))
                     : nullptr;
    active_ = disable && revert_ && disable(&saved_);
  }
#endif
  if (mode_ == Mode::kLogged) LogInfo("Disabled FS Redirection \n");
}

FileSystemRedirectionOff::~FileSystemRedirectionOff() {
  const DWORD error = GetLastError();
  if (active_) revert_(saved_);
  if (mode_ == Mode::kLogged) {
    LogInfo("Reverted FS Redirection \n");
    if (shlwapi_) FreeLibrary(shlwapi_);
    if (shell_) FreeLibrary(shell_);
  }
  SetLastError(error);
}
