// The one answer to "64-bit Windows?" (see wow64.h).
#include "agent/util/wow64.h"

#include <windows.h>

#include <atomic>

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
