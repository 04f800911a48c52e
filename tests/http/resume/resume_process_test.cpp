// Resumable downloads across processes: a downloader killed in the middle of
// its transfer (TerminateProcess) and run again, before and after its
// heartbeat has aged past 90 minutes, and two processes downloading the same
// path at the same time.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/http/resume/resume_fixture.h"
#include "tests/support/win_system.h"

using twtest::PatternBytes;
using twtest::RegView;
using twtest::Response;

namespace {

constexpr const char* kModified = "Mon, 02 Mar 2020 10:00:00 GMT";

Response Ranged(const std::string& body) {
  Response r = Response::Ok(body);
  r.honourRange = true;
  r.headers.push_back({"Last-Modified", kModified});
  return r;
}

std::wstring BesideSelf(const wchar_t* name) {
  std::vector<wchar_t> self(32768, L'\0');
  const DWORD n = ::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
  std::wstring path(self.data(), n);
  return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

// One run of tw_resume_downloader.
class Downloader {
 public:
  Downloader(int port, const std::string& objectPath, const std::string& dest, const std::string& install,
             const std::string& log) {
    // A backslash before a closing quote would escape it: the folder goes without its last one.
    std::string folder = install;
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    std::wstring cmd = L"\"" + BesideSelf(L"tw_resume_downloader.exe") + L"\" " + std::to_wstring(port) + L" " +
                       twtest::Widen(objectPath) + L" \"" + twtest::Widen(dest) + L"\" \"" + twtest::Widen(folder) + L"\" \"" + twtest::Widen(log) +
                       L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    started_ = ::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_) != 0;
  }
  ~Downloader() {
    if (started_) {
      if (::WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) ::TerminateProcess(pi_.hProcess, 1);
      ::WaitForSingleObject(pi_.hProcess, 10000);
      ::CloseHandle(pi_.hThread);
      ::CloseHandle(pi_.hProcess);
    }
  }
  bool Started() const { return started_; }
  void Kill() {
    ::TerminateProcess(pi_.hProcess, 1);
    ::WaitForSingleObject(pi_.hProcess, 10000);
  }
  // The full 32-bit result of the download; -1 when it did not end in time.
  int64_t Wait(DWORD ms) {
    if (::WaitForSingleObject(pi_.hProcess, ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    ::GetExitCodeProcess(pi_.hProcess, &code);
    return static_cast<int32_t>(code);
  }

 private:
  PROCESS_INFORMATION pi_{};
  bool started_ = false;
};

class ResumeProcessTest : public twtest::ResumeFixture {
 protected:
  // Starts a downloader of /k.bin that the server stalls after `stallAfter`
  // bytes, waits until its saves have settled and kills it. The stored size.
  DWORD KillMidTransfer(const std::string& body, uint64_t stallAfter, std::string& id) {
    Response stall = Ranged(body);
    stall.stallAfter = stallAfter;
    stall.stallMs = 20000;  // shorter than the downloader's receive time-out
    server_.ServeSequence("/k.bin", {Ranged(body), stall, Ranged(body)});
    Downloader child(server_.Port(), "/k.bin", Dest("killed.bin"), install_, twtest::Join(dir_, "killed.log"));
    EXPECT_TRUE(child.Started());
    EXPECT_TRUE(server_.WaitForRequests(2, 20000));
    // Settled: the same stored size for a second.
    DWORD stored = 0;
    int stable = 0;
    twtest::WaitUntil(
        [&] {
          const std::optional<std::string> current = IdFor("/k.bin");
          const std::optional<DWORD> size =
              current ? reg_.GetDword(RegView::k32, Sub(*current), "PartialFileSize") : std::nullopt;
          if (size && *size > 0 && *size == stored) {
            ++stable;
          } else {
            stable = 0;
            stored = size.value_or(0);
          }
          return stable >= 10;
        },
        30000);
    child.Kill();
    id = IdFor("/k.bin").value_or("");
    return stored;
  }
};

TEST_F(ResumeProcessTest, KilledDownloaderIsFollowedByATemporaryDownloadWhileItsHeartbeatIsFresh) {
  const std::string body = PatternBytes(400000);
  SeedSaveLimit(4096);
  std::string id;
  const DWORD stored = KillMidTransfer(body, 150000, id);
  ASSERT_FALSE(id.empty());
  ASSERT_GT(stored, 150000u - 16384u);
  ASSERT_LE(stored, 150000u);
  // The killed process still holds the flag; its saved state is consistent.
  EXPECT_EQ(reg_.GetDword(RegView::k32, Sub(id), "downloadInProgress"), 1u);
  EXPECT_TRUE(twtest::ReadFile(Partial(id)) == body.substr(0, stored));

  EXPECT_EQ(Resume("/k.bin", Dest("k.bin")), 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("k.bin")) == body);
  EXPECT_EQ(Ranges("/k.bin").back(), "bytes=0-400000");
  EXPECT_TRUE(HasLine("[INFO]", "Another download in progress - hence procedding for temporary download"));
  // The dead owner's state waits for its heartbeat to age.
  EXPECT_EQ(IdFor("/k.bin"), id);
  EXPECT_EQ(reg_.GetDword(RegView::k32, Sub(id), "PartialFileSize"), stored);
  EXPECT_EQ(RepositoryFiles(), std::vector<std::string>{id});
}

TEST_F(ResumeProcessTest, KilledDownloaderIsResumedFromItsSavedStateOnceItsHeartbeatIsStale) {
  const std::string body = PatternBytes(400000);
  SeedSaveLimit(4096);
  std::string id;
  const DWORD stored = KillMidTransfer(body, 250000, id);
  ASSERT_FALSE(id.empty());
  ASSERT_GT(stored, 250000u - 16384u);
  ASSERT_LE(stored, 250000u);
  ASSERT_TRUE(reg_.SetString(RegView::k32, Sub(id), "LastRetryTime", std::to_string(NowMillis() - 91LL * 60000)));

  EXPECT_EQ(Resume("/k.bin", Dest("k.bin")), 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("k.bin")) == body);
  EXPECT_EQ(Ranges("/k.bin").back(), "bytes=" + std::to_string(stored) + "-400000");
  EXPECT_FALSE(IdFor("/k.bin").has_value());
  EXPECT_FALSE(reg_.KeyExists(RegView::k32, Sub(id)));
  EXPECT_TRUE(RepositoryFiles().empty());
}

TEST_F(ResumeProcessTest, TwoProcessesDownloadingTheSamePathBothFinish) {
  const std::string body = PatternBytes(300000);
  Response slow = Ranged(body);
  slow.pieceSize = 4096;
  slow.pieceDelayMs = 30;  // about two seconds per download: they overlap
  server_.Serve("/c.bin", slow);
  SeedSaveLimit(4096);
  const std::string logA = twtest::Join(dir_, "a.log"), logB = twtest::Join(dir_, "b.log");
  int64_t rcA = -1, rcB = -1;
  {
    Downloader a(server_.Port(), "/c.bin", Dest("a.bin"), install_, logA);
    Downloader b(server_.Port(), "/c.bin", Dest("b.bin"), install_, logB);
    ASSERT_TRUE(a.Started());
    ASSERT_TRUE(b.Started());
    rcA = a.Wait(60000);
    rcB = b.Wait(60000);
  }
  EXPECT_EQ(rcA, 0);
  EXPECT_EQ(rcB, 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("a.bin")) == body);
  EXPECT_TRUE(twtest::ReadFile(Dest("b.bin")) == body);
  const std::string temporary = "Another download in progress - hence procedding for temporary download";
  const int temporaries = (twtest::ReadFile(logA).find(temporary) != std::string::npos ? 1 : 0) +
                          (twtest::ReadFile(logB).find(temporary) != std::string::npos ? 1 : 0);
  EXPECT_EQ(temporaries, 1);
  // Both ranged requests started at 0; nothing is left behind.
  std::vector<std::string> ranges = Ranges("/c.bin");
  EXPECT_EQ(std::count(ranges.begin(), ranges.end(), "bytes=0-300000"), 2);
  EXPECT_FALSE(IdFor("/c.bin").has_value());
  EXPECT_TRUE(reg_.SubKeys(RegView::k32, kMeta).empty());
  EXPECT_TRUE(RepositoryFiles().empty());
  EXPECT_EQ(reg_.GetDword(RegView::k32, kMeta, "DownloadCount"), 2u);
}

}  // namespace
