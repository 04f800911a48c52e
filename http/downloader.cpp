// The download entries (see downloader.h): the one place that reads
// "DownloadMode" and hands the call to the plain, the block or one of the two
// resumable downloaders.
#include "http/downloader.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "agent/log/logger.h"
#include "agent/registry/registry.h"
#include "http/bitrate.h"
#include "http/download.h"
#include "http/requestcore.h"
#include "http/resume.h"

namespace {

// How the answer is fetched: in one response, or in paced blocks.
enum class Pace { kWhole, kBlocks };

bool Contains(const wchar_t* text, const wchar_t* part) { return text && std::wcsstr(text, part) != nullptr; }

// Logged under the name "InternetGetDownloader".
int32_t InternetGetDownloader(const DownloadCall& call, Pace pace) {
  if (!Contains(call.objectPath, L".xml") && !Contains(call.objectPath, L".json")) {
    LogInfo("InternetGetDownloader : Tarnwick Server & Port -> %ls : %d \n", call.serverAddress, call.port);
    DWORD mode = 0;
    const std::string settingsKey = std::string(kAgentKeyPath) + "\\Settings";
    const bool read = ReadDwordRegistryData(HKEY_LOCAL_MACHINE, settingsKey.c_str(), "DownloadMode", mode) == 0;
    if (read && mode == 1) {
      if (pace == Pace::kBlocks) return ResumableDownloadInBlocks(call);
      if (call.requestType == DOWNLOAD_FILE) return ResumableDownload(call);
    }
    LogInfo("InternetGetDownloader : Download Mode %d\n", static_cast<int>(mode));
  }
  if (pace == Pace::kBlocks) return DownloadInBlocks(call);
  // A gzip answer that cannot be decoded is fetched again, through this same
  // choice, without gzip.
  return DownloadThroughTempFile(call, [&call] {
    DownloadCall uncompressed = call;
    uncompressed.acceptGzip = false;
    return InternetGetDownloader(uncompressed, Pace::kWhole);
  });
}

}  // namespace

int32_t InternetGetRequestEx(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                             const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                             const wchar_t* proxyPassword, const wchar_t* objectPath, const wchar_t* destination,
                             OptText* outData, int32_t requestType, bool keepAlive, bool acceptGzip) {
  return InternetGetDownloader(DownloadCall{useProxy, protocol, serverAddress, port, proxyServer, proxyBypass,
                                            proxyUser, proxyPassword, objectPath, destination, outData, requestType,
                                            keepAlive, acceptGzip},
                               Pace::kWhole);
}

int32_t InternetGetRequestByBitrate(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                                    const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                                    const wchar_t* proxyPassword, const wchar_t* objectPath,
                                    const wchar_t* destination, OptText* outData, int32_t requestType,
                                    bool keepAlive) {
  return InternetGetDownloader(DownloadCall{useProxy, protocol, serverAddress, port, proxyServer, proxyBypass,
                                            proxyUser, proxyPassword, objectPath, destination, outData, requestType,
                                            keepAlive},
                               Pace::kBlocks);
}
