// Pacing figures of the bandwidth-limited download (Windows program, run under
// Wine by bench/windows/run_pacing_bench.sh): one InternetGetRequestByBitrate
// at a given "DataTransferRate_KBps", timed as a whole and block by block, and
// compared with the rate its pacing rule predicts for those blocks.
//
//   pacing_bench.exe <port> <object path> <rate KBps> <destination>
//     -> "rate=<KBps> result=<code> bytes=<n> blocks=<n> seconds=<s> measured_Bps=<x>
//         predicted_Bps=<x> ideal_Bps=<x> ratio=<measured/predicted> slowest_block_ms=<ms>"
//
// The prediction: each block occupies 600 ms when it took under 450 ms, and
// its own time plus 100 ms otherwise. "ideal" is one full block per 600 ms.
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "agent/config/settings.h"
#include "agent/util/textconv.h"
#include "http/downloader.h"
#include "http/requestcore.h"
#include "http/winhttp_api.h"

namespace {

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Moments seen through the WinHTTP table: each session opened (the HEAD
// request, then one per block) and each pause with its length.
std::vector<double> g_sessionOpens;
std::vector<double> g_pauseStarts;

HINTERNET WINAPI TimedOpen(LPCWSTR agent, DWORD access, LPCWSTR proxy, LPCWSTR bypass, DWORD flags) {
  g_sessionOpens.push_back(Now());
  return RealWinHttpApi().Open(agent, access, proxy, bypass, flags);
}

void WINAPI TimedSleep(DWORD ms) {
  g_pauseStarts.push_back(Now());
  ::Sleep(ms);
}

uint64_t FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s <port> <object path> <rate KBps> <destination>\n", argv[0]);
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const int rate = std::atoi(argv[3]);
  std::wstring path, dest;
  ChangeUtf8ToWideStr(argv[2], path);
  ChangeUtf8ToWideStr(argv[4], dest);
  gv_dataTransferRateKBps = rate;
  g_winHttp.Open = &TimedOpen;
  g_winHttp.Sleep = &TimedSleep;

  const double start = Now();
  const int32_t result = InternetGetRequestByBitrate(false, "http", L"127.0.0.1", port, nullptr, nullptr, nullptr,
                                                     nullptr, path.c_str(), dest.c_str(), nullptr, DOWNLOAD_FILE, true);
  const double seconds = Now() - start;
  const uint64_t bytes = result == 0 ? FileSize(dest) : 0;

  // Block i runs from its session's opening (the first one is the HEAD
  // request's) to its pause.
  const size_t blocks = g_pauseStarts.size();
  double predicted = 0;
  double slowest = 0;
  for (size_t i = 0; i < blocks && i + 1 < g_sessionOpens.size(); ++i) {
    const double blockMs = (g_pauseStarts[i] - g_sessionOpens[i + 1]) * 1000.0;
    if (blockMs > slowest) slowest = blockMs;
    predicted += (blockMs < 450.0 ? 600.0 : blockMs + 100.0) / 1000.0;
  }
  const double blockSize = static_cast<double>(rate) * 500.0;
  const double measuredRate = seconds > 0 ? static_cast<double>(bytes) / seconds : 0;
  const double predictedRate = predicted > 0 ? static_cast<double>(bytes) / predicted : 0;
  std::printf("rate=%d result=%d bytes=%llu blocks=%zu seconds=%.3f measured_Bps=%.0f predicted_Bps=%.0f "
              "ideal_Bps=%.0f ratio=%.3f slowest_block_ms=%.1f\n",
              rate, static_cast<int>(result), static_cast<unsigned long long>(bytes), blocks, seconds, measuredRate,
              predictedRate, blockSize / 0.6, predictedRate > 0 ? measuredRate / predictedRate : 0.0, slowest);
  return result == 0 ? 0 : 1;
}
