// The one answer to "64-bit Windows?" and the file-system redirection scope
// (see wow64.h).
#include "agent/util/wow64.h"

#include <atomic>
#include <cstring>

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

// Subfolders of System32 that WOW64 does not redirect.
constexpr const char* kNotRedirected[] = {"catroot", "catroot2", "driverstore", "drivers\\etc", "logfiles", "spool"};

// A system folder as GetSystemDirectoryA or GetSystemWow64DirectoryA gives it;
// "" when there is none (no SysWOW64 on 32-bit Windows).
std::string SystemFolder(UINT(WINAPI* get)(LPSTR, UINT)) {
  std::string folder(get(nullptr, 0), '\0');
  if (folder.empty()) return folder;
  folder.resize(get(folder.data(), static_cast<UINT>(folder.size())));
  return folder;
}

// True when `path` is `folder` or lies below it, compared as the file system
// compares names (case-insensitive).
bool IsInFolder(const std::string& path, const std::string& folder) {
  return !folder.empty() && path.size() >= folder.size() &&
         _strnicmp(path.c_str(), folder.c_str(), folder.size()) == 0 &&
         (path.size() == folder.size() || path[folder.size()] == '\\');
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

std::string PathSeenBy32BitPrograms(const std::string& path) {
  if (!IsRunningOn64BitWindows()) return path;
  const std::string system = SystemFolder(GetSystemDirectoryA);
  if (!IsInFolder(path, system)) return path;
  for (const char* exempt : kNotRedirected)
    if (IsInFolder(path, system + "\\" + exempt)) return path;
  const std::string wow64 = SystemFolder(GetSystemWow64DirectoryA);
  return wow64.empty() ? path : wow64 + path.substr(system.size());
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
