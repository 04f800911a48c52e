// A tiny downloader for the tests that kill a resumable download or run two
// at once: one ResumeGetRequestEx in a process of its own. Its exit code is
// the download's result.
//
//   tw_resume_downloader <port> <object path> <destination> <agent install folder> [<log file>]
//
// The install folder (with or without its last backslash) holds the download repository and
// the access logs; the optional log file receives the full log (level 4).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "agent/config/settings.h"
#include "agent/log/logger.h"
#include "agent/log/objectlock.h"
#include "agent/util/textconv.h"
#include "http/requestcore.h"
#include "http/resume.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: tw_resume_downloader <port> <object path> <destination> <install folder> [<log>]\n");
    return 87;
  }
  const int port = std::atoi(argv[1]);
  std::string install = argv[4];
  if (install.empty() || install.back() != '\\') install += '\\';
  gv_agentInstallDir = install;
  if (argc > 5) {
    const std::string log = argv[5];
    const size_t slash = log.find_last_of('\\');
    InitMutex();
    InitLogSettings();
    SetLogSettings(log.substr(slash + 1).c_str(), log.substr(0, slash).c_str(), 4);
    OpenLogFile();
  }
  std::wstring path, dest;
  ChangeUtf8ToWideStr(argv[2], path);
  ChangeUtf8ToWideStr(argv[3], dest);
  const int32_t rc = ResumeGetRequestEx(false, "http", L"127.0.0.1", port, nullptr, nullptr, nullptr, nullptr,
                                        path.c_str(), dest.c_str(), nullptr, DOWNLOAD_FILE, true);
  if (argc > 5) CloseLogFile();
  return rc;
}
