// Folders of the running test program and of Windows (see win_system.h).
#include "tests/support/win_system.h"

#include <windows.h>

namespace twtest {

std::string ExeFolder() {
  std::string path(32768, '\0');
  const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(n);
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string WindowsFolder() {
  const UINT n = GetWindowsDirectoryA(nullptr, 0);
  std::string folder(n, '\0');
  folder.resize(GetWindowsDirectoryA(folder.data(), n));
  return folder;
}

}  // namespace twtest
