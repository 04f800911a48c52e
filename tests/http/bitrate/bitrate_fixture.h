// Common ground of the bandwidth-limited transfer tests: the download test
// ground (scripted server, scratch folders, agent keys, captured log) plus the
// resumable download's registry key and the state an earlier attempt left
// there, the WinHTTP recorder (so that pauses are recorded instead of waited
// for), calls of the two block downloaders, what the server saw, and receive
// time-outs injected after a number of body bytes.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "agent/config/settings.h"
#include "http/bitrate.h"
#include "http/downloader.h"
#include "http/winhttp_api.h"
#include "tests/http/core/seam.h"
#include "tests/http/download/download_fixture.h"

namespace twtest {

// Receive time-outs: WinHttpQueryDataAvailable fails with 12002 `remaining`
// times in a row once `failAfter` body bytes were read. Reads are cut to
// `readLimit` bytes so that a time-out can fall inside a block.
struct TimeoutInjection {
  uint64_t bytesRead = 0;
  uint64_t failAfter = 0;
  int remaining = 0;
  DWORD readLimit = 100;
};
inline TimeoutInjection g_bitrateTimeout;

inline BOOL WINAPI LimitedCountingReadData(HINTERNET request, LPVOID buffer, DWORD size, LPDWORD read) {
  if (size > g_bitrateTimeout.readLimit) size = g_bitrateTimeout.readLimit;
  const BOOL ok = RealWinHttpApi().ReadData(request, buffer, size, read);
  if (ok) g_bitrateTimeout.bytesRead += *read;
  return ok;
}

inline BOOL WINAPI TimingOutQueryDataAvailable(HINTERNET request, LPDWORD available) {
  if (g_bitrateTimeout.remaining > 0 && g_bitrateTimeout.bytesRead >= g_bitrateTimeout.failAfter) {
    --g_bitrateTimeout.remaining;
    ::SetLastError(ERROR_WINHTTP_TIMEOUT);
    return FALSE;
  }
  return RealWinHttpApi().QueryDataAvailable(request, available);
}

class BitrateFixture : public DownloadFixture {
 protected:
  const std::string kFileMetaData = std::string(kAgentKeyPath) + "\\FileMetaData";

  void SetUp() override {
    DownloadFixture::SetUp();
    reg_.DeleteTree(RegView::k32, kFileMetaData);
    reg_.Track(RegView::k32, kFileMetaData);
    // The pauses between blocks are recorded, not waited for.
    seam_.emplace();
  }
  void TearDown() override {
    seam_.reset();
    DownloadFixture::TearDown();
  }
  SeamRecord& Seam() { return seam_->record; }

  int32_t Download(const wchar_t* path, const std::string& dest) {
    const std::wstring wdest = twtest::Widen(dest);
    return InternetGetRequestByBitrate(false, "http", ScriptedServer::Host().c_str(), server_.Port(), nullptr,
                                       nullptr, nullptr, nullptr, path, wdest.c_str(), nullptr, DOWNLOAD_FILE, true);
  }
  int32_t GetData(const wchar_t* path, OptText& out) {
    return InternetGetRequestByBitrate(false, "http", ScriptedServer::Host().c_str(), server_.Port(), nullptr,
                                       nullptr, nullptr, nullptr, path, nullptr, &out, GET_DATA, true);
  }
  int32_t Resume(const wchar_t* path, const std::string& dest) {
    const std::wstring wdest = twtest::Widen(dest);
    return ResumeGetRequestByBitrate(false, "http", ScriptedServer::Host().c_str(), server_.Port(), nullptr, nullptr,
                                     nullptr, nullptr, path, wdest.c_str(), nullptr, DOWNLOAD_FILE, true);
  }

  // The state an earlier attempt of a resumable download left: `stored` in
  // the partial file of id `id`, recorded under "FileMetaData" with the
  // Last-Modified it was received under. The partial file's path.
  std::string SeedStoredDownload(const std::string& objectPath, const std::string& id, const std::string& stored,
                                 const std::string& lastModified) {
    EXPECT_TRUE(reg_.SetString(RegView::k32, kFileMetaData, objectPath, id));
    const std::string sub = kFileMetaData + "\\" + id;
    EXPECT_TRUE(reg_.SetString(RegView::k32, sub, "LastModifiedTime", lastModified));
    EXPECT_TRUE(reg_.SetDword(RegView::k32, sub, "PartialFileSize", static_cast<DWORD>(stored.size())));
    const std::string folder = install_ + "DownloadRepository";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    const std::string path = folder + "\\" + id;
    EXPECT_TRUE(twtest::WriteFile(path, stored));
    return path;
  }

  // Range headers of the requests so far that had one, in order.
  std::vector<std::string> Ranges() const {
    std::vector<std::string> out;
    for (const RecordedRequest& r : server_.Requests())
      if (auto range = r.Header("range")) out.push_back(*range);
    return out;
  }
  std::vector<std::string> Methods() const {
    std::vector<std::string> out;
    for (const RecordedRequest& r : server_.Requests()) out.push_back(r.method);
    return out;
  }

  void InjectTimeouts(uint64_t afterBytes, int count) {
    g_bitrateTimeout = TimeoutInjection{};
    g_bitrateTimeout.failAfter = afterBytes;
    g_bitrateTimeout.remaining = count;
    g_winHttp.ReadData = &LimitedCountingReadData;
    g_winHttp.QueryDataAvailable = &TimingOutQueryDataAvailable;
  }
  void ResetInjections() {
    g_bitrateTimeout = TimeoutInjection{};
    g_winHttp.ReadData = RealWinHttpApi().ReadData;
    g_winHttp.QueryDataAvailable = RealWinHttpApi().QueryDataAvailable;
  }

  std::optional<WinHttpSeam> seam_;
};

}  // namespace twtest
