// Common ground of the resumable-download tests: a scripted server, scratch
// folders for the agent install folder (download repository, logs) and the
// destinations, the agent's registry keys that the downloads read and write
// (emptied first and removed afterwards), and the captured log.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "agent/config/settings.h"
#include "agent/registry/registry.h"
#include "agent/util/textconv.h"
#include "http/requestcore.h"
#include "http/resume.h"
#include "http/winhttp_api.h"
#include "tests/support/scratch.h"
#include "tests/support/win_http_server.h"
#include "tests/support/win_registry.h"
#include "tests/support/win_system.h"

namespace twtest {

class ResumeFixture : public ::testing::Test {
 protected:
  const std::string kMeta = std::string(kAgentKeyPath) + "\\FileMetaData";
  const std::string kSettings = std::string(kAgentKeyPath) + "\\Settings";
  const std::string kTracking = std::string(kAgentKeyPath) + "\\VTTracking";
  const std::string kResumeDetails = kTracking + "\\ResumeDownloadDetails";

  void SetUp() override {
    ResetAgentSettings();
    dir_ = MakeScratchDir("resume");
    dest_ = Join(dir_, "dest");
    install_ = Join(dir_, "agent") + "\\";
    ::CreateDirectoryA(dest_.c_str(), nullptr);
    ::CreateDirectoryA(install_.c_str(), nullptr);
    ::CreateDirectoryA((install_ + "logs").c_str(), nullptr);
    gv_tempPath = dir_;
    gv_agentInstallDir = install_;
    for (const std::string& key : {kMeta, kSettings, kTracking}) {
      reg_.DeleteTree(RegView::k32, key);
      reg_.Track(RegView::k32, key);
    }
    ResetWinHttpApi();
  }

  void TearDown() override {
    ResetWinHttpApi();
    ResetAgentSettings();
    RemoveTree(dir_);
  }

  std::string Dest(const std::string& name) const { return Join(dest_, name); }

  int32_t Resume(const std::string& path, const std::string& dest, int32_t port = 0) {
    const std::wstring wpath = twtest::Widen(path);
    const std::wstring wdest = twtest::Widen(dest);
    return ResumeGetRequestEx(false, "http", ScriptedServer::Host().c_str(), port ? port : server_.Port(), nullptr,
                              nullptr, nullptr, nullptr, wpath.c_str(), wdest.c_str(), nullptr, DOWNLOAD_FILE, true);
  }

  // Seeds the "FileMetaData" key as an earlier download would have left it.
  void SeedSaveLimit(DWORD limit) {
    ASSERT_TRUE(reg_.SetString(RegView::k32, kMeta, "IntermediateRepositoryName", "DownloadRepository\\"));
    ASSERT_TRUE(reg_.SetDword(RegView::k32, kMeta, "InterSaveByteLimit", limit));
  }
  // A stored partial file of `path` with its metadata.
  void SeedPartial(const std::string& path, const std::string& id, const std::string& bytes,
                   const std::string& lastModified, DWORD partialSize) {
    ASSERT_TRUE(reg_.SetString(RegView::k32, kMeta, path, id));
    ASSERT_TRUE(reg_.SetString(RegView::k32, Sub(id), "LastModifiedTime", lastModified));
    ASSERT_TRUE(reg_.SetDword(RegView::k32, Sub(id), "PartialFileSize", partialSize));
    ASSERT_TRUE(reg_.SetDword(RegView::k32, Sub(id), "RetryCount", 1));
    ::CreateDirectoryA(Repository().c_str(), nullptr);
    ASSERT_TRUE(WriteFile(Partial(id), bytes));
  }
  // Marks `id` as being downloaded, with a heartbeat `ageMinutes` old.
  void SeedInProgress(const std::string& id, int64_t ageMinutes) {
    ASSERT_TRUE(reg_.SetDword(RegView::k32, Sub(id), "downloadInProgress", 1));
    ASSERT_TRUE(reg_.SetString(RegView::k32, Sub(id), "LastRetryTime", std::to_string(NowMillis() - ageMinutes * 60000)));
  }

 public:
  // Milliseconds since 1970 (UTC), as the heartbeats count them.
  static int64_t NowMillis() {
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    const int64_t ticks = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return ticks / 10000 - 11644473600000LL;
  }

 protected:
  std::string Sub(const std::string& id) const { return kMeta + "\\" + id; }
  std::string Repository() const { return install_ + "DownloadRepository"; }
  std::string Partial(const std::string& id) const { return Repository() + "\\" + id; }
  std::optional<std::string> IdFor(const std::string& path) const { return reg_.GetString(RegView::k32, kMeta, path); }
  std::vector<std::string> RepositoryFiles() const {
    std::vector<std::string> found;
    WIN32_FIND_DATAA fd;
    HANDLE h = ::FindFirstFileA((Repository() + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return found;
    do {
      if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) found.push_back(fd.cFileName);
    } while (::FindNextFileA(h, &fd));
    ::FindClose(h);
    return found;
  }

  // The Range headers of the requests for `path`, in order ("" for a plain GET).
  std::vector<std::string> Ranges(const std::string& path) const {
    std::vector<std::string> out;
    for (const RecordedRequest& r : server_.RequestsFor(path)) out.push_back(r.Header("range").value_or(""));
    return out;
  }

  bool HasLine(const std::string& tag, const std::string& message) const {
    for (const std::string& line : SplitLines(log_.Text()))
      if (TagOf(line) == tag && MessageOf(line) == message) return true;
    return false;
  }
  size_t CountLines(const std::string& tag, const std::string& prefix) const {
    size_t n = 0;
    for (const std::string& line : SplitLines(log_.Text()))
      if (TagOf(line) == tag && MessageOf(line).rfind(prefix, 0) == 0) ++n;
    return n;
  }

  std::string SuccessLog() const { return ReadFile(install_ + "logs\\downloadSuccessAccess.log"); }
  std::string FailureLog() const { return ReadFile(install_ + "logs\\downloadFailureAccess.log"); }
  std::string ErrorLog() const { return ReadFile(install_ + "logs\\twerror.log"); }

  LogCapture log_{4, "resume"};
  RegistrySandbox reg_;
  ScriptedServer server_;
  std::string dir_, dest_, install_;
};

}  // namespace twtest
