// "Does this process run on 64-bit Windows?" answered in one place: the 64-bit
// build always says yes, the 32-bit build asks IsWow64Process. Tests may force
// the answer to simulate 32-bit Windows; the registry layer then folds the
// native view into the 32-bit one, as such a computer would.
#pragma once
#include <windows.h>

#include <optional>
#include <string>

bool IsRunningOn64BitWindows();
// std::nullopt restores the real answer.
void OverrideRunningOn64BitWindows(std::optional<bool> answer);

// The folder that `path` names for a 32-bit program on 64-bit Windows, which
// runs with redirection on, written as a process reaches it with redirection
// off: a path in System32 (outside the subfolders that WOW64 leaves alone) is
// the same path in SysWOW64. Other paths, and every path on 32-bit Windows,
// are returned as they are.
std::string PathSeenBy32BitPrograms(const std::string& path);

// Switches WOW64 file-system redirection off for the calling thread while it
// lives, so that a 32-bit process on 64-bit Windows reaches the real System32
// (and starts the native programs there). It acts only in a 32-bit process on
// 64-bit Windows, through the functions looked up by name (older systems lack
// them), and the thread's last error survives the switch back: the caller
// reads the error of what ran inside.
//
// A logged scope writes "Disabled FS Redirection \n" and "Reverted FS
// Redirection \n" whether or not it acted, and first loads what the shell's
// file operations need: a 32-bit process cannot load system DLLs while
// redirection is off.
class FileSystemRedirectionOff {
 public:
  enum class Mode { kSilent, kLogged };
  explicit FileSystemRedirectionOff(Mode mode = Mode::kSilent);
  ~FileSystemRedirectionOff();
  FileSystemRedirectionOff(const FileSystemRedirectionOff&) = delete;
  FileSystemRedirectionOff& operator=(const FileSystemRedirectionOff&) = delete;

 private:
  using RevertFn = BOOL(WINAPI*)(PVOID);
  Mode mode_;
  RevertFn revert_ = nullptr;
  PVOID saved_ = nullptr;
  bool active_ = false;
  HMODULE shell_ = nullptr;
  HMODULE shlwapi_ = nullptr;
};
