// Resumable downloads against the scripted server (faults on demand) and nginx
// (real range support): resumption with the exact range, the checks that
// decide whether a stored partial file is reused, ownership of a partial file,
// periodic saves, the early-close rule, access logs and failure statistics.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <numeric>

#include "agent/log/format.h"
#include "http/downloader.h"
#include "http/resumestate.h"
#include "tests/http/core/seam.h"
#include "tests/http/resume/resume_fixture.h"
#include "tests/support/win_servers.h"

using twtest::PatternBytes;
using twtest::RegView;
using twtest::Response;

namespace {

constexpr const char* kModified = "Wed, 21 Oct 2015 07:28:00 GMT";

// A 200 answer that honours ranges and carries a Last-Modified header.
Response Ranged(const std::string& body, const char* modified = kModified) {
  Response r = Response::Ok(body);
  r.honourRange = true;
  r.acceptRanges = true;
  r.headers.push_back({"Last-Modified", modified});
  return r;
}

std::string Record(uint32_t contentLength, long result, uint32_t received) {
  return FormatText("\t%10u\t%5ld\t%10u", contentLength, result, received);
}

// Counts the lines of an access log that hold a record (they start with a space).
size_t Records(const std::string& log) {
  size_t n = 0;
  for (const std::string& line : twtest::SplitLines(log))
    if (line.rfind(" ", 0) == 0 && line.find("DownloadFile") != std::string::npos) ++n;
  return n;
}

using ResumeTest = twtest::ResumeFixture;

TEST_F(ResumeTest, EarlyCloseKeepsThePartialFileAndTheRetryAsksForTheExactRest) {
  const std::string body = PatternBytes(200000);
  SeedSaveLimit(4096);
  Response cut = Ranged(body);
  cut.closeAfter = 50000;
  server_.ServeSequence("/files/app.bin", {Ranged(body), cut, Ranged(body)});
  const std::string dest = Dest("app.bin");
  ASSERT_TRUE(twtest::WriteFile(dest, "old content"));

  // The server closes after 50000 bytes: kept, counted, not delivered.
  EXPECT_EQ(Resume("/files/app.bin", dest), 707);
  EXPECT_EQ(twtest::ReadFile(dest), "old content");
  const std::optional<std::string> id = IdFor("/files/app.bin");
  ASSERT_TRUE(id.has_value());
  EXPECT_EQ(reg_.GetDword(RegView::k32, Sub(*id), "PartialFileSize"), 50000u);
  EXPECT_EQ(reg_.GetString(RegView::k32, Sub(*id), "LastModifiedTime"), kModified);
  EXPECT_EQ(reg_.GetDword(RegView::k32, Sub(*id), "RetryCount"), 1u);
  EXPECT_FALSE(reg_.ValueExists(RegView::k32, Sub(*id), "downloadInProgress"));
  EXPECT_TRUE(twtest::ReadFile(Partial(*id)) == body.substr(0, 50000));
  EXPECT_EQ(reg_.GetDword(RegView::k32, kMeta, "DownloadFailureCount"), 1u);
  EXPECT_EQ(reg_.GetDword(RegView::k32, kResumeDetails, "RESUME_DOWNLOAD_FAILURE_COUNT"), 1u);
  EXPECT_TRUE(reg_.ValueExists(RegView::k32, kTracking, "LastVTDataModifiedTime"));
  const std::vector<std::string> errorLog = twtest::SplitLines(ErrorLog());
  ASSERT_EQ(errorLog.size(), 2u) << ErrorLog();
  EXPECT_EQ(errorLog[1], "\tResume Download failed with error code : 707 and total failed count value = 1");
  EXPECT_TRUE(HasLine("[INFO]", "DownloadFailureCount set to 1"));
  EXPECT_NE(FailureLog().find(Record(200000, 707, 50000)), std::string::npos) << FailureLog();
  EXPECT_EQ(Records(FailureLog()), 1u);

  // The next attempt asks for exactly the missing bytes and appends them.
  EXPECT_EQ(Resume("/files/app.bin", dest), 0);
  EXPECT_TRUE(twtest::ReadFile(dest) == body);
  EXPECT_EQ(Ranges("/files/app.bin"),
            (std::vector<std::string>{"", "bytes=0-200000", "", "bytes=50000-200000"}));
  EXPECT_TRUE(HasLine("[INFO]", "GetFileDataFromRegistry partial downloaded filesize  in registry 50000 from file  50000"));
  // Delivered: the partial file, its subkey and the path's value are gone.
  EXPECT_FALSE(IdFor("/files/app.bin").has_value());
  EXPECT_FALSE(reg_.KeyExists(RegView::k32, Sub(*id)));
  EXPECT_TRUE(RepositoryFiles().empty());
  EXPECT_EQ(reg_.GetDword(RegView::k32, kMeta, "DownloadCount"), 2u);
  EXPECT_EQ(reg_.GetDword(RegView::k32, kMeta, "DownloadFailureCount"), 1u);
  EXPECT_NE(SuccessLog().find(Record(200000, 0, 200000)), std::string::npos) << SuccessLog();
  EXPECT_NE(SuccessLog().find("app.bin\tDownloadFile"), std::string::npos) << SuccessLog();
  EXPECT_EQ(Records(SuccessLog()), 1u);
  EXPECT_EQ(Records(FailureLog()), 1u);
}

TEST_F(ResumeTest, StoredStateIsReusedOnlyWhenItStillMatchesTheServerFile) {
  const std::string body = PatternBytes(20000);
  server_.Serve("/f.bin", Ranged(body));
  SeedSaveLimit(4096);

  // Same Last-Modified (letter case aside) and size: resumed and appended.
  std::string lower = kModified;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  SeedPartial("/f.bin", "1001", body.substr(0, 7000), lower, 7000);
  EXPECT_EQ(Resume("/f.bin", Dest("a.bin")), 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("a.bin")) == body);
  EXPECT_EQ(Ranges("/f.bin").back(), "bytes=7000-20000");

  // The server's file changed: the stored bytes are dropped, start from 0.
  server_.ClearRequests();
  SeedPartial("/f.bin", "1002", std::string(7000, 'x'), "Thu, 01 Jan 2015 00:00:00 GMT", 7000);
  EXPECT_EQ(Resume("/f.bin", Dest("b.bin")), 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("b.bin")) == body);
  EXPECT_EQ(Ranges("/f.bin").back(), "bytes=0-20000");
  EXPECT_TRUE(HasLine("[INFO]", "Performing PreDownloadCleaningOfPartialFile"));

  // "PartialFileSize" shorter or longer than the file: start from 0.
  for (DWORD recorded : {6000u, 8000u}) {
    server_.ClearRequests();
    SeedPartial("/f.bin", "1003", std::string(7000, 'y'), kModified, recorded);
    EXPECT_EQ(Resume("/f.bin", Dest("c.bin")), 0) << recorded;
    EXPECT_TRUE(twtest::ReadFile(Dest("c.bin")) == body) << recorded;
    EXPECT_EQ(Ranges("/f.bin").back(), "bytes=0-20000") << recorded;
  }

  // A stored file longer than the content itself cannot be a prefix of it.
  server_.ClearRequests();
  SeedPartial("/f.bin", "1004", std::string(25000, 'z'), kModified, 25000);
  EXPECT_EQ(Resume("/f.bin", Dest("d.bin")), 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("d.bin")) == body);
  EXPECT_EQ(Ranges("/f.bin").back(), "bytes=0-20000");
  EXPECT_TRUE(RepositoryFiles().empty());
  EXPECT_FALSE(IdFor("/f.bin").has_value());
}

TEST_F(ResumeTest, AnswerWithoutLastModifiedIsNeverContinued) {
  const std::string body = PatternBytes(9000);
  Response r = Response::Ok(body);
  r.honourRange = true;
  server_.Serve("/nolm.bin", r);
  SeedSaveLimit(4096);
  // Stored with an empty Last-Modified too: nothing proves it is the same file.
  SeedPartial("/nolm.bin", "2001", std::string(3000, 'q'), "", 3000);
  EXPECT_EQ(Resume("/nolm.bin", Dest("nolm.bin")), 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("nolm.bin")) == body);
  EXPECT_EQ(Ranges("/nolm.bin").back(), "bytes=0-9000");
  EXPECT_TRUE(HasLine("[ERROR]", "GetFilelastmodifiedTime: Could n't query HEADER for last modified time"));
}

TEST_F(ResumeTest, FreshHeartbeatMakesATemporaryDownloadThatLeavesTheOwnerAlone) {
  const std::string body = PatternBytes(20000);
  server_.Serve("/f.bin", Ranged(body));
  SeedSaveLimit(4096);
  SeedPartial("/f.bin", "3001", body.substr(0, 5000), kModified, 5000);
  SeedInProgress("3001", 10);
  const std::optional<std::string> heartbeat = reg_.GetString(RegView::k32, Sub("3001"), "LastRetryTime");

  EXPECT_EQ(Resume("/f.bin", Dest("f.bin")), 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("f.bin")) == body);
  EXPECT_EQ(Ranges("/f.bin").back(), "bytes=0-20000");
  EXPECT_TRUE(HasLine("[INFO]", "Another download in progress - hence procedding for temporary download"));
  // The owner's file, value and metadata are as they were.
  EXPECT_EQ(IdFor("/f.bin"), "3001");
  EXPECT_EQ(reg_.GetDword(RegView::k32, Sub("3001"), "downloadInProgress"), 1u);
  EXPECT_EQ(reg_.GetDword(RegView::k32, Sub("3001"), "PartialFileSize"), 5000u);
  EXPECT_EQ(reg_.GetString(RegView::k32, Sub("3001"), "LastRetryTime"), heartbeat);
  EXPECT_TRUE(twtest::ReadFile(Partial("3001")) == body.substr(0, 5000));
  // The temporary download left nothing of its own behind.
  EXPECT_EQ(RepositoryFiles(), std::vector<std::string>{"3001"});
  EXPECT_EQ(reg_.SubKeys(RegView::k32, kMeta), std::vector<std::string>{"3001"});

  // A temporary download that fails removes its private file too.
  Response cut = Ranged(body);
  cut.closeAfter = 1000;
  server_.ServeSequence("/f.bin", {Ranged(body), cut});
  EXPECT_EQ(Resume("/f.bin", Dest("g.bin")), 707);
  EXPECT_EQ(RepositoryFiles(), std::vector<std::string>{"3001"});
  EXPECT_EQ(IdFor("/f.bin"), "3001");
}

TEST_F(ResumeTest, StaleHeartbeatIsTakenOverAndResumed) {
  const std::string body = PatternBytes(20000);
  server_.Serve("/f.bin", Ranged(body));
  SeedSaveLimit(4096);
  SeedPartial("/f.bin", "4001", body.substr(0, 5000), kModified, 5000);
  SeedInProgress("4001", 91);

  EXPECT_EQ(Resume("/f.bin", Dest("f.bin")), 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("f.bin")) == body);
  EXPECT_EQ(Ranges("/f.bin").back(), "bytes=5000-20000");
  EXPECT_TRUE(HasLine("[INFO]", "GetFileDataFromRegistry - download in progress flag was set before 90 mins so "
                                "cleaning files and proceeding"));
  EXPECT_FALSE(IdFor("/f.bin").has_value());
  EXPECT_FALSE(reg_.KeyExists(RegView::k32, Sub("4001")));
  EXPECT_TRUE(RepositoryFiles().empty());

  // A flag without a readable heartbeat counts as stale as well.
  server_.ClearRequests();
  SeedPartial("/f.bin", "4002", body.substr(0, 3000), kModified, 3000);
  ASSERT_TRUE(reg_.SetDword(RegView::k32, Sub("4002"), "downloadInProgress", 1));
  EXPECT_EQ(Resume("/f.bin", Dest("g.bin")), 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("g.bin")) == body);
  EXPECT_EQ(Ranges("/f.bin").back(), "bytes=3000-20000");
}

TEST_F(ResumeTest, CompletePartialFileIsCopiedWithoutARangedRequest) {
  const std::string body = PatternBytes(12345);
  server_.Serve("/done.bin", Ranged(body));
  SeedSaveLimit(4096);
  SeedPartial("/done.bin", "5001", body, kModified, 12345);

  EXPECT_EQ(Resume("/done.bin", Dest("done.bin")), 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("done.bin")) == body);
  EXPECT_EQ(Ranges("/done.bin"), std::vector<std::string>{""});
  EXPECT_TRUE(HasLine("[ERROR]", "@@@@@@@@ End Of ResumeGetRequestEx Method @@@@@@@@ Full File already exist"));
  EXPECT_NE(SuccessLog().find(Record(12345, 0, 12345)), std::string::npos) << SuccessLog();
  EXPECT_TRUE(RepositoryFiles().empty());
  EXPECT_FALSE(IdFor("/done.bin").has_value());
}

TEST_F(ResumeTest, EmptyContentIsDeliveredAsAnEmptyFile) {
  server_.Serve("/empty.bin", Ranged(""));
  EXPECT_EQ(Resume("/empty.bin", Dest("empty.bin")), 0);
  EXPECT_TRUE(twtest::FileExists(Dest("empty.bin")));
  EXPECT_EQ(twtest::ReadFile(Dest("empty.bin")), "");
  EXPECT_TRUE(RepositoryFiles().empty());
}

// Samples, at every read of the body, what the registry and the partial file
// say: the registry follows each save, and saves are at most the limit apart.
struct SaveObserver {
  twtest::RegistrySandbox* reg = nullptr;
  std::string meta, path, repository;
  std::vector<std::pair<DWORD, uint64_t>> samples;  // (PartialFileSize, file size)
  DWORD blockCap = 0;                               // largest block the "network" hands over
};
SaveObserver* g_observer = nullptr;

BOOL WINAPI ObservingReadData(HINTERNET request, LPVOID buffer, DWORD size, LPDWORD read) {
  if (g_observer) {
    const auto id = g_observer->reg->GetString(RegView::k32, g_observer->meta, g_observer->path);
    if (id) {
      const auto stored = g_observer->reg->GetDword(RegView::k32, g_observer->meta + "\\" + *id, "PartialFileSize");
      WIN32_FILE_ATTRIBUTE_DATA data{};
      uint64_t fileSize = 0;
      if (::GetFileAttributesExA((g_observer->repository + "\\" + *id).c_str(), GetFileExInfoStandard, &data))
        fileSize = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      g_observer->samples.push_back({stored.value_or(0), fileSize});
    }
  }
  return RealWinHttpApi().ReadData(request, buffer, size, read);
}

// Hands the body over in blocks of at most blockCap bytes, as a slow link would.
BOOL WINAPI CappedQueryDataAvailable(HINTERNET request, LPDWORD available) {
  const BOOL ok = RealWinHttpApi().QueryDataAvailable(request, available);
  if (ok && g_observer && g_observer->blockCap && *available > g_observer->blockCap)
    *available = g_observer->blockCap;
  return ok;
}

// Save sizes from the "updated registry entries" lines, in order.
std::vector<unsigned> SaveSizes(const std::vector<std::string>& messages) {
  std::vector<unsigned> sizes;
  unsigned last = 0;
  for (const std::string& m : messages) {
    unsigned total = 0;
    if (std::sscanf(m.c_str(), "updated registry entries  %u", &total) == 1) {
      sizes.push_back(total - last);
      last = total;
    }
  }
  return sizes;
}

TEST_F(ResumeTest, SaveLimitBoundsEachPeriodicSave) {
  const std::string body = PatternBytes(100000);
  server_.Serve("/slow.bin", Ranged(body));
  SeedSaveLimit(4096);
  SaveObserver observer;
  observer.reg = &reg_;
  observer.meta = kMeta;
  observer.path = "/slow.bin";
  observer.repository = Repository();
  observer.blockCap = 1500;
  g_observer = &observer;
  g_winHttp.ReadData = ObservingReadData;
  g_winHttp.QueryDataAvailable = CappedQueryDataAvailable;
  const int32_t rc = Resume("/slow.bin", Dest("slow.bin"));
  g_observer = nullptr;
  ResetWinHttpApi();

  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("slow.bin")) == body);
  ASSERT_GT(observer.samples.size(), 60u);
  DWORD previous = 0;
  size_t saves = 0;
  for (const auto& [stored, fileSize] : observer.samples) {
    EXPECT_EQ(stored, fileSize);  // the registry follows every save
    EXPECT_GE(stored, previous);
    EXPECT_LE(stored - previous, 4096u);
    if (stored != previous) ++saves;
    previous = stored;
  }
  EXPECT_GE(saves, 100000u / 4096u);
  // The save log lines agree: a periodic save happens when the next block
  // (at most 1500 bytes) would not fit any more.
  const std::vector<unsigned> sizes = SaveSizes(log_.Messages());
  ASSERT_FALSE(sizes.empty());
  for (size_t i = 0; i + 1 < sizes.size(); ++i) {
    EXPECT_LE(sizes[i], 4096u) << i;
    EXPECT_GT(sizes[i], 4096u - 1500u) << i;
  }
  EXPECT_EQ(std::accumulate(sizes.begin(), sizes.end(), 0u), 100000u);
}

TEST_F(ResumeTest, BlockLargerThanTheLimitIsSavedWhole) {
  const std::string body = PatternBytes(40000);
  server_.Serve("/big.bin", Ranged(body));
  SeedSaveLimit(1000);
  SaveObserver observer;
  observer.blockCap = 2500;
  g_observer = &observer;
  g_winHttp.QueryDataAvailable = CappedQueryDataAvailable;
  const int32_t rc = Resume("/big.bin", Dest("big.bin"));
  g_observer = nullptr;
  ResetWinHttpApi();

  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("big.bin")) == body);
  // The buffer grows to the largest block (at most 2500 bytes here): saves
  // then hold up to that block's size, more than the limit of 1000.
  const std::vector<unsigned> sizes = SaveSizes(log_.Messages());
  ASSERT_FALSE(sizes.empty());
  for (unsigned size : sizes) EXPECT_LE(size, 2500u);
  EXPECT_GT(*std::max_element(sizes.begin(), sizes.end()), 1000u);
  EXPECT_EQ(std::accumulate(sizes.begin(), sizes.end(), 0u), 40000u);
}

TEST_F(ResumeTest, RangedRequestsStoreOnlyTheRangeAsked) {
  const std::string body = PatternBytes(20000);
  SeedSaveLimit(4096);

  // A server that ignores the range sends the whole file: the partial file
  // starts again from it instead of growing past the content.
  Response whole = Response::Ok(body);
  whole.headers.push_back({"Last-Modified", kModified});
  server_.Serve("/norange.bin", whole);
  SeedPartial("/norange.bin", "6001", body.substr(0, 8000), kModified, 8000);
  EXPECT_EQ(Resume("/norange.bin", Dest("norange.bin")), 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("norange.bin")) == body);
  EXPECT_EQ(Ranges("/norange.bin").back(), "bytes=8000-20000");
  EXPECT_TRUE(RepositoryFiles().empty());

  // An error page is never written into the file; no access-log line either.
  server_.ServeSequence("/err.bin", {Ranged(body), Response::Status(503, "maintenance")});
  SeedPartial("/err.bin", "6002", body.substr(0, 8000), kModified, 8000);
  EXPECT_EQ(Resume("/err.bin", Dest("err.bin")), 503);
  EXPECT_TRUE(twtest::ReadFile(Partial("6002")) == body.substr(0, 8000));
  EXPECT_EQ(reg_.GetDword(RegView::k32, Sub("6002"), "PartialFileSize"), 8000u);
  EXPECT_FALSE(reg_.ValueExists(RegView::k32, Sub("6002"), "downloadInProgress"));
  EXPECT_FALSE(twtest::FileExists(Dest("err.bin")));
  EXPECT_EQ(FailureLog(), "");

  // A 206 for another range than the one asked is refused.
  server_.ServeWith("/wrong.bin", [body](const twtest::RecordedRequest& req) {
    if (!req.Header("range")) return Ranged(body);
    Response r = Response::Status(206, body.substr(100, 1000));
    r.headers.push_back({"Content-Range", "bytes 100-1099/20000"});
    r.headers.push_back({"Last-Modified", kModified});
    return r;
  });
  SeedPartial("/wrong.bin", "6003", body.substr(0, 8000), kModified, 8000);
  EXPECT_EQ(Resume("/wrong.bin", Dest("wrong.bin")), 206);
  EXPECT_TRUE(twtest::ReadFile(Partial("6003")) == body.substr(0, 8000));
}

TEST_F(ResumeTest, HeaderRequestFailuresEndWithTheStatusAndAFailureRecord) {
  server_.Serve("/gone.bin", Response::Status(404));
  EXPECT_EQ(Resume("/gone.bin", Dest("gone.bin")), 404);
  EXPECT_TRUE(HasLine("[ERROR]", "PreDownloadHandling : Failed with the http status code, 404 "));
  const std::string log = FailureLog();
  // Header line, dashes, then the record.
  EXPECT_EQ(log.rfind("DATE\t\t\tSTART_TIME\t", 0), 0u) << log;
  EXPECT_NE(log.find(Record(0, 404, 0)), std::string::npos) << log;
  EXPECT_NE(log.find("gone.bin\tDownloadFile"), std::string::npos) << log;
  EXPECT_FALSE(reg_.KeyExists(RegView::k32, kMeta));

  server_.Serve("/same.bin", Response::Status(304));
  EXPECT_EQ(Resume("/same.bin", Dest("same.bin")), 90001);
  EXPECT_NE(FailureLog().find(Record(0, 90001, 0)), std::string::npos);
  EXPECT_EQ(Records(FailureLog()), 2u);
  EXPECT_EQ(SuccessLog(), "");
}

// Breaks the body of the first answer once `g_failAfter` bytes have come.
uint64_t g_readSoFar = 0;
uint64_t g_failAfter = 0;
DWORD g_failCode = 0;
// Reads at most this many bytes a call when not 0: Wine hands over whatever has
// arrived, so a loaded machine would otherwise deliver pieces in one big read.
DWORD g_readCap = 0;
BOOL WINAPI CountingReadData(HINTERNET request, LPVOID buffer, DWORD size, LPDWORD read) {
  if (g_readCap != 0 && size > g_readCap) size = g_readCap;
  const BOOL ok = RealWinHttpApi().ReadData(request, buffer, size, read);
  if (ok) g_readSoFar += *read;
  return ok;
}
BOOL WINAPI FailingQueryDataAvailable(HINTERNET request, LPDWORD available) {
  if (g_failCode != 0 && g_readSoFar >= g_failAfter) {
    const DWORD code = g_failCode;
    g_failCode = 0;
    ::SetLastError(code);
    return FALSE;
  }
  return RealWinHttpApi().QueryDataAvailable(request, available);
}
// Installs the two above: the first query once `after` body bytes have come
// fails with `code`; reads are cut to `readCap` bytes (0: not cut).
void FailQueryAfter(uint64_t after, DWORD code, DWORD readCap = 0) {
  g_readSoFar = 0;
  g_failAfter = after;
  g_failCode = code;
  g_readCap = readCap;
  g_winHttp.ReadData = CountingReadData;
  g_winHttp.QueryDataAvailable = FailingQueryDataAvailable;
}
// Puts the real calls back.
void StopFailing() {
  ResetWinHttpApi();
  g_readCap = 0;
}

TEST_F(ResumeTest, TimeOutInTheBodyIsRecoveredWithARangeFromTheReceivedCount) {
  const std::string body = PatternBytes(300000);
  Response slow = Ranged(body);
  slow.pieceSize = 10000;
  slow.pieceDelayMs = 1;
  server_.Serve("/t.bin", slow);
  SeedSaveLimit(4096);
  FailQueryAfter(100000, ERROR_WINHTTP_TIMEOUT);
  const int32_t rc = Resume("/t.bin", Dest("t.bin"));
  StopFailing();

  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("t.bin")) == body);
  const std::vector<std::string> ranges = Ranges("/t.bin");
  ASSERT_EQ(ranges.size(), 3u);
  EXPECT_EQ(ranges[1], "bytes=0-300000");
  unsigned from = 0;
  ASSERT_EQ(std::sscanf(ranges[2].c_str(), "bytes=%u-300000", &from), 1) << ranges[2];
  EXPECT_GE(from, 100000u);
  EXPECT_LT(from, 300000u);
  EXPECT_TRUE(HasLine("[INFO]", "ResumeGetRequestEx : Total Bytes read so far:" + std::to_string(from)));
  EXPECT_TRUE(HasLine("[INFO]", "ResumeGetRequestEx : second attempt to recover from previous error"));
}

TEST_F(ResumeTest, OtherReadFailuresKeepTheLastPeriodicSave) {
  const std::string body = PatternBytes(100000);
  Response slow = Ranged(body);
  slow.pieceSize = 1000;
  slow.pieceDelayMs = 1;
  server_.Serve("/r.bin", slow);
  SeedSaveLimit(4096);
  FailQueryAfter(30000, ERROR_WINHTTP_OPERATION_CANCELLED, 1000);
  const int32_t rc = Resume("/r.bin", Dest("r.bin"));
  StopFailing();

  EXPECT_EQ(rc, ERROR_WINHTTP_OPERATION_CANCELLED);
  const std::optional<std::string> id = IdFor("/r.bin");
  ASSERT_TRUE(id.has_value());
  const std::optional<DWORD> stored = reg_.GetDword(RegView::k32, Sub(*id), "PartialFileSize");
  ASSERT_TRUE(stored.has_value());
  EXPECT_GT(*stored + 4096, 30000u);
  EXPECT_LE(*stored, 30000u + 1000u);
  EXPECT_TRUE(twtest::ReadFile(Partial(*id)) == body.substr(0, *stored));
  // The flag is released when the attempt ends.
  EXPECT_FALSE(reg_.ValueExists(RegView::k32, Sub(*id), "downloadInProgress"));
  EXPECT_NE(FailureLog().find(FormatText("\t%10u\t%5ld\t", 100000u, 12017L)), std::string::npos) << FailureLog();

  EXPECT_EQ(Resume("/r.bin", Dest("r.bin")), 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("r.bin")) == body);
  EXPECT_EQ(Ranges("/r.bin").back(), "bytes=" + std::to_string(*stored) + "-100000");
  EXPECT_EQ(reg_.GetDword(RegView::k32, kMeta, "DownloadFailureCount"), 1u);
}

// A 206 continues the partial file only when its Content-Range says so: from
// the byte where the file stopped, with the first answer's length as the total.
TEST_F(ResumeTest, RecoveryRefusesA206ThatDoesNotSayItContinuesTheFile) {
  const std::string body = PatternBytes(100000);
  SeedSaveLimit(4096);
  struct Case {
    const char* name;
    const char* path;
    bool contentRange;
    uint64_t total;
  };
  const Case cases[] = {{"without Content-Range", "/norange.bin", false, 0},
                        {"with another total", "/total.bin", true, 200000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The first ranged request is answered properly; the one after the
    // time-out is not.
    server_.ServeWith(c.path, [body, c](const twtest::RecordedRequest& rq) {
      const uint64_t first = std::stoull(rq.Header("range").value_or("bytes=0-").substr(6));
      if (first == 0) return Ranged(body);
      Response r = Response::Status(206, body.substr(first));
      r.headers.push_back({"Last-Modified", kModified});
      if (c.contentRange)
        r.headers.push_back({"Content-Range", "bytes " + std::to_string(first) + "-99999/" + std::to_string(c.total)});
      return r;
    });
    FailQueryAfter(30000, ERROR_WINHTTP_TIMEOUT, 1000);
    const int32_t rc = Resume(c.path, Dest("r.bin"));
    StopFailing();

    EXPECT_EQ(rc, 206);
    EXPECT_FALSE(twtest::FileExists(Dest("r.bin")));
    // The partial file holds bytes of the first answer only.
    const std::optional<std::string> id = IdFor(c.path);
    ASSERT_TRUE(id.has_value());
    const std::optional<DWORD> stored = reg_.GetDword(RegView::k32, Sub(*id), "PartialFileSize");
    ASSERT_TRUE(stored.has_value());
    EXPECT_LE(*stored, 30000u + 1000u);
    EXPECT_TRUE(twtest::ReadFile(Partial(*id)) == body.substr(0, *stored));
  }
}

// A server that ignores Range and breaks off at about the same point of every
// answer: the partial file starts afresh once; the next whole-file answer
// ends the download with 12152, and what that attempt received is kept.
TEST_F(ResumeTest, SecondWholeFileAnswerToARecoveryEndsTheDownloadAndKeepsItsBytes) {
  const std::string body = PatternBytes(20000);
  Response whole = Response::Ok(body);
  whole.headers.push_back({"Last-Modified", kModified});
  server_.Serve("/w.bin", whole);
  twtest::WinHttpSeam seam;
  seam.record.stallAfter = 5000;
  seam.record.stallCode = ERROR_WINHTTP_CONNECTION_ERROR;
  seam.record.readLimit = 1000;
  seam.record.stallingAnswers = 10;  // a download that starts over for ever ends after ten
  const int32_t rc = Resume("/w.bin", Dest("w.bin"));

  EXPECT_EQ(rc, ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
  EXPECT_FALSE(twtest::FileExists(Dest("w.bin")));
  // The headers, the range from 0, and two recoveries answered with the whole file.
  const std::vector<std::string> ranges = Ranges("/w.bin");
  ASSERT_EQ(ranges.size(), 4u);
  unsigned from = 0;
  ASSERT_EQ(std::sscanf(ranges[3].c_str(), "bytes=%u-20000", &from), 1) << ranges[3];
  EXPECT_TRUE(HasLine("[ERROR]", "ResumeGetRequestEx : The server sent the whole file again instead of the bytes "
                                 "from " + std::to_string(from) + "; the download ends "));
  const std::optional<std::string> id = IdFor("/w.bin");
  ASSERT_TRUE(id.has_value());
  EXPECT_EQ(reg_.GetDword(RegView::k32, Sub(*id), "PartialFileSize"), from);
  EXPECT_TRUE(twtest::ReadFile(Partial(*id)) == body.substr(0, from));
  EXPECT_NE(ErrorLog().find("\tResume Download failed with error code : 12152 "), std::string::npos) << ErrorLog();
}

// The test plays a second process at the last moment before the clean-up of a
// complete download: it claims the path's file (the flag with its own
// heartbeat; under the first download's id, or under an id of its own) and
// writes its own bytes. The first download, which kept the flag until then,
// deletes none of it.
struct SecondProcess {
  twtest::RegistrySandbox* reg = nullptr;
  std::string meta, path, repository;
  bool ownId = false;  // claims under an id of its own rather than the first download's
  std::string firstId, id, heartbeat;
  bool flagHeldByFirst = false;
};
SecondProcess* g_second = nullptr;

void PlaySecondProcess() {
  SecondProcess& p = *g_second;
  p.firstId = p.reg->GetString(RegView::k32, p.meta, p.path).value_or("");
  p.flagHeldByFirst = p.reg->GetDword(RegView::k32, p.meta + "\\" + p.firstId, "downloadInProgress") == 1u;
  p.id = p.ownId ? "424242" : p.firstId;
  const std::string sub = p.meta + "\\" + p.id;
  // A claim is one heartbeat later than any the first download wrote.
  p.heartbeat = std::to_string(twtest::ResumeFixture::NowMillis() + 1);
  p.reg->SetString(RegView::k32, p.meta, p.path, p.id);
  p.reg->SetDword(RegView::k32, sub, "downloadInProgress", 1);
  p.reg->SetString(RegView::k32, sub, "LastRetryTime", p.heartbeat);
  twtest::WriteFile(p.repository + "\\" + p.id, "the second process's bytes");
}

TEST_F(ResumeTest, CompleteDownloadOwnsItsFileUntilItsCleanUp) {
  const std::string body = PatternBytes(20000);
  server_.Serve("/own.bin", Ranged(body));
  for (bool ownId : {false, true}) {
    SCOPED_TRACE(ownId ? "under its own id" : "under the first download's id");
    SecondProcess second;
    second.reg = &reg_;
    second.meta = kMeta;
    second.path = "/own.bin";
    second.repository = Repository();
    second.ownId = ownId;
    g_second = &second;
    g_beforeCleanFileAndRegistry = PlaySecondProcess;
    const int32_t rc = Resume("/own.bin", Dest("own.bin"));
    g_beforeCleanFileAndRegistry = nullptr;
    g_second = nullptr;

    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(twtest::ReadFile(Dest("own.bin")) == body);
    ASSERT_FALSE(second.firstId.empty());
    EXPECT_TRUE(second.flagHeldByFirst);
    EXPECT_EQ(IdFor("/own.bin"), second.id);
    EXPECT_EQ(reg_.GetDword(RegView::k32, Sub(second.id), "downloadInProgress"), 1u);
    EXPECT_EQ(reg_.GetString(RegView::k32, Sub(second.id), "LastRetryTime"), second.heartbeat);
    EXPECT_EQ(twtest::ReadFile(Partial(second.id)), "the second process's bytes");
    reg_.DeleteTree(RegView::k32, kMeta);
    twtest::RemoveTree(Repository());
  }
}

TEST_F(ResumeTest, DownloadModeOneRoutesFileDownloadsHere) {
  ASSERT_TRUE(reg_.SetDword(RegView::k32, kSettings, "DownloadMode", 1));
  const std::string body = PatternBytes(5000);
  server_.Serve("/files/app.bin", Ranged(body));
  const std::wstring dest = twtest::Widen(Dest("app.bin"));
  EXPECT_EQ(InternetGetRequestEx(false, "http", twtest::ScriptedServer::Host().c_str(), server_.Port(), nullptr,
                                 nullptr, nullptr, nullptr, L"/files/app.bin", dest.c_str(), nullptr, DOWNLOAD_FILE,
                                 true, true),
            0);
  EXPECT_TRUE(twtest::ReadFile(Dest("app.bin")) == body);
  EXPECT_EQ(Ranges("/files/app.bin"), (std::vector<std::string>{"", "bytes=0-5000"}));
  // The first download on a machine sets up the metadata key with its defaults.
  EXPECT_EQ(reg_.GetString(RegView::k32, kMeta, "IntermediateRepositoryName"), "DownloadRepository\\");
  EXPECT_EQ(reg_.GetDword(RegView::k32, kMeta, "InterSaveByteLimit"), 1048576u);
  // Never asks for gzip.
  for (const twtest::RecordedRequest& r : server_.RequestsFor("/files/app.bin"))
    EXPECT_FALSE(r.Header("accept-encoding").has_value());
  EXPECT_EQ(Records(SuccessLog()), 1u);
}

TEST_F(ResumeTest, DataRequestsAreReadBackFromThePartialFile) {
  server_.Serve("/data.txt", Ranged("line one\r\nline two\r\n"));
  OptText data;
  EXPECT_EQ(ResumeGetRequestEx(false, "http", twtest::ScriptedServer::Host().c_str(), server_.Port(), nullptr,
                               nullptr, nullptr, nullptr, L"/data.txt", nullptr, &data, GET_DATA, true),
            0);
  // Read back as text, like the plain data download.
  EXPECT_EQ(data.value_or("<none>"), "line one\nline two\n");
  EXPECT_TRUE(RepositoryFiles().empty());
  EXPECT_FALSE(IdFor("/data.txt").has_value());
  EXPECT_NE(SuccessLog().find("GetData"), std::string::npos);
}

// --- nginx ---------------------------------------------------------------

TEST_F(ResumeTest, NginxServesTheResumedRange) {
  TW_REQUIRE_TEST_SERVERS(srv);
  const std::string big = PatternBytes(srv.bigSize);
  SeedSaveLimit(65536);
  FailQueryAfter(1024 * 1024, ERROR_WINHTTP_OPERATION_CANCELLED);
  EXPECT_EQ(Resume("/big.bin", Dest("big.bin"), srv.httpPort), ERROR_WINHTTP_OPERATION_CANCELLED);
  StopFailing();
  const std::optional<std::string> id = IdFor("/big.bin");
  ASSERT_TRUE(id.has_value());
  const std::optional<DWORD> stored = reg_.GetDword(RegView::k32, Sub(*id), "PartialFileSize");
  ASSERT_TRUE(stored.has_value());
  EXPECT_GT(*stored, 900000u);

  EXPECT_EQ(Resume("/big.bin", Dest("big.bin"), srv.httpPort), 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("big.bin")) == big);
  EXPECT_TRUE(HasLine("[ERROR]", "ResumeGetRequestEx: Content-Range Header message: Range: bytes=" +
                                     std::to_string(*stored) + "-" + std::to_string(srv.bigSize)));
  EXPECT_TRUE(RepositoryFiles().empty());
}

}  // namespace
