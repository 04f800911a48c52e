// Download figures of the plain downloader (Windows program, run under Wine by
// bench/windows/run_http_bench.sh): the time of one file download, and the
// peak working set of a run with or without a gzip download, for the script to
// compare with curl and with an idle run.
//
//   http_bench.exe download <port> <object path> <destination>      -> "seconds=<s> bytes=<n> result=<code>"
//   http_bench.exe gzip <port> <object path> <destination>          -> "peak_working_set=<bytes> result=<code>"
//   http_bench.exe winhttp <port> <object path>                     -> "seconds=<s> bytes=<n> result=<code>"
//   http_bench.exe winhttp-file <port> <object path> <destination>  -> "seconds=<s> bytes=<n> result=<code>"
//   http_bench.exe idle                                             -> "peak_working_set=<bytes>"
// "winhttp" is the platform's ceiling: the same GET read through bare WinHTTP
// calls into memory, with no file and none of the downloader's work.
// "winhttp-file" is the reference for the downloader's own cost: the same bare
// loop, with the downloader's read size, writing each read to the destination
// file. run_e2e_bench.sh also downloads the main road's archive with it.
#include <windows.h>
#include <psapi.h>
#include <winhttp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "agent/config/settings.h"
#include "agent/util/textconv.h"
#include "http/downloader.h"
#include "http/httpinternal.h"
#include "http/requestcore.h"

namespace {

uint64_t PeakWorkingSet() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.PeakWorkingSetSize;
}

uint64_t FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

int32_t Download(int port, const char* path, const char* dest, bool gzip) {
  std::wstring wpath, wdest;
  ChangeUtf8ToWideStr(path, wpath);
  ChangeUtf8ToWideStr(dest, wdest);
  return InternetGetRequestEx(false, "http", L"127.0.0.1", port, nullptr, nullptr, nullptr, nullptr, wpath.c_str(),
                              wdest.c_str(), nullptr, DOWNLOAD_FILE, true, gzip);
}

// Bare WinHTTP, with reads of at most the downloader's read size, each
// written to `file` when one is given: 0 and the bytes received, or the
// failing call's error code.
int32_t BareWinHttpGet(int port, const wchar_t* path, HANDLE file, uint64_t& bytes) {
  bytes = 0;
  HINTERNET session = WinHttpOpen(L"TarnwickAgent", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0);
  HINTERNET connection = session ? WinHttpConnect(session, L"127.0.0.1", static_cast<INTERNET_PORT>(port), 0) : nullptr;
  HINTERNET request = connection ? WinHttpOpenRequest(connection, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                                      WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_REFRESH)
                                 : nullptr;
  int32_t result = 0;
  if (!request || !WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request, nullptr)) {
    result = static_cast<int32_t>(GetLastError());
  } else {
    std::vector<char> buffer(kReadChunk);
    for (;;) {
      DWORD available = 0, read = 0;
      if (!WinHttpQueryDataAvailable(request, &available)) {
        result = static_cast<int32_t>(GetLastError());
        break;
      }
      if (available == 0) break;
      if (available > buffer.size()) available = static_cast<DWORD>(buffer.size());
      if (!WinHttpReadData(request, buffer.data(), available, &read)) {
        result = static_cast<int32_t>(GetLastError());
        break;
      }
      if (read == 0) break;
      DWORD written = 0;
      if (file != INVALID_HANDLE_VALUE &&
          (!WriteFile(file, buffer.data(), read, &written, nullptr) || written != read)) {
        result = static_cast<int32_t>(GetLastError());
        break;
      }
      bytes += read;
    }
  }
  if (request) WinHttpCloseHandle(request);
  if (connection) WinHttpCloseHandle(connection);
  if (session) WinHttpCloseHandle(session);
  return result;
}

int Usage() {
  std::fprintf(stderr,
               "usage: http_bench download|gzip|winhttp-file <port> <path> <destination> | winhttp <port> <path> | "
               "idle\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  ResetAgentSettings();
  const std::string mode = argv[1];
  if (mode == "idle") {
    std::printf("peak_working_set=%llu\n", static_cast<unsigned long long>(PeakWorkingSet()));
    return 0;
  }
  if ((mode == "winhttp" && argc == 4) || (mode == "winhttp-file" && argc == 5)) {
    std::wstring wpath;
    ChangeUtf8ToWideStr(argv[3], wpath);
    LARGE_INTEGER freq, start, end;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&start);
    HANDLE file = INVALID_HANDLE_VALUE;
    if (argc == 5) {
      std::wstring wdest;
      ChangeUtf8ToWideStr(argv[4], wdest);
      file = CreateFileW(wdest.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
      if (file == INVALID_HANDLE_VALUE) {
        std::printf("seconds=0 bytes=0 result=%d\n", static_cast<int>(GetLastError()));
        return 1;
      }
    }
    uint64_t bytes = 0;
    const int32_t result = BareWinHttpGet(std::atoi(argv[2]), wpath.c_str(), file, bytes);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    QueryPerformanceCounter(&end);
    std::printf("seconds=%.6f bytes=%llu result=%d\n",
                static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(freq.QuadPart),
                static_cast<unsigned long long>(bytes), static_cast<int>(result));
    return result == 0 ? 0 : 1;
  }
  if (argc != 5 || (mode != "download" && mode != "gzip")) return Usage();
  const int port = std::atoi(argv[2]);

  LARGE_INTEGER freq, start, end;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&start);
  const int32_t result = Download(port, argv[3], argv[4], mode == "gzip");
  QueryPerformanceCounter(&end);
  const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(freq.QuadPart);

  if (mode == "download") {
    std::wstring wdest;
    ChangeUtf8ToWideStr(argv[4], wdest);
    std::printf("seconds=%.6f bytes=%llu result=%d\n", seconds, static_cast<unsigned long long>(FileSize(wdest)),
                static_cast<int>(result));
  } else {
    std::printf("peak_working_set=%llu result=%d seconds=%.6f\n", static_cast<unsigned long long>(PeakWorkingSet()),
                static_cast<int>(result), seconds);
  }
  return result == 0 ? 0 : 1;
}
