// Stand-in Java installer for the software-deployment runs: it writes how it
// was started (its command line and current folder) into "<its own path>.ran"
// and exits with 3010 (installed, restart required), or with N when its
// command line holds "/exit=N".
#include <windows.h>

#include <cstdlib>
#include <string>

int main() {
  const std::string commandLine = GetCommandLineA();
  std::string self(MAX_PATH, '\0');
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (n < self.size()) {
      self.resize(n);
      break;
    }
    self.resize(self.size() * 2);
  }
  DWORD n = GetCurrentDirectoryA(0, nullptr);
  std::string folder(n, '\0');
  folder.resize(GetCurrentDirectoryA(n, folder.data()));

  const std::string record = "command=" + commandLine + "\r\nfolder=" + folder + "\r\n";
  HANDLE file = CreateFileA((self + ".ran").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
  }

  const size_t at = commandLine.find("/exit=");
  if (at != std::string::npos) return std::atoi(commandLine.c_str() + at + 6);
  return 3010;
}
