// The resumable bandwidth-limited download under Wine: a stored partial file
// is continued block by block, an interrupted attempt leaves a state the next
// one continues, and the partial file never grows past the Content-Length.
// Also both downloaders against nginx.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "http/bitrate.h"
#include "http/downloader.h"
#include "tests/http/bitrate/bitrate_fixture.h"
#include "tests/support/win_servers.h"

using twtest::RecordedRequest;
using twtest::RegView;
using twtest::Response;

namespace {

const char kLastModified[] = "Wed, 21 Oct 2015 07:28:00 GMT";

class ResumeByBitrateTest : public twtest::BitrateFixture {
 protected:
  void SetUp() override {
    BitrateFixture::SetUp();
    gv_dataTransferRateKBps = 1;  // blocks of 500 bytes
    body_ = twtest::PatternBytes(1200);
  }

  Response Served() const {
    Response r = Response::Ok(body_);
    r.honourRange = true;
    r.headers.push_back({"Last-Modified", kLastModified});
    return r;
  }

  // The state an earlier attempt left: `stored` bytes in the partial file of id
  // `id`, recorded under "FileMetaData".
  std::string SeedPartialFile(const std::string& objectPath, const std::string& id, size_t stored) {
    return SeedStoredDownload(objectPath, id, body_.substr(0, stored), kLastModified);
  }

  std::string body_;
};

TEST_F(ResumeByBitrateTest, StoredPartialFileIsContinuedInBlocks) {
  server_.Serve("/files/app.bin", Served());
  const std::string partial = SeedPartialFile("/files/app.bin", "1234567", 300);
  const std::string dest = Dest("app.bin");

  EXPECT_EQ(Resume(L"/files/app.bin", dest), 0);
  EXPECT_EQ(twtest::ReadFile(dest), body_);
  // The plain GET for the headers, then the blocks from the stored size on.
  EXPECT_EQ(Methods(), (std::vector<std::string>{"GET", "GET", "GET"}));
  EXPECT_EQ(Ranges(), (std::vector<std::string>{"bytes=300-799", "bytes=800-1200"}));
  EXPECT_EQ(Seam().sleeps.size(), 2u);
  EXPECT_FALSE(twtest::FileExists(partial));
  EXPECT_FALSE(reg_.GetString(RegView::k32, kFileMetaData, "/files/app.bin").has_value());
  EXPECT_TRUE(HasLine("[DEBUG]", "ResumeGetRequestByBitrate: Block of bytes to read: 500"));
  EXPECT_TRUE(HasLine("[ERROR]", "ResumeGetRequestByBitrate: GetInternetRequestHandle function return code: 0  206"));
  EXPECT_TRUE(HasLine("[INFO]", "ResumeGetRequestByBitrate: Bytes Read: 400"));
  EXPECT_TRUE(HasLine("[INFO]", "ResumeGetRequestByBitrate : Bytes read reached the contenlength"));
  EXPECT_TRUE(HasLine("[INFO]", "ResumeGetRequestByBitrate: Total bytes read = 1200"));
  EXPECT_TRUE(HasLine("[DEBUG]", "@@@@@@@@ End Of ResumeGetRequestByBitrate Method @@@@@@@@ "));
}

TEST_F(ResumeByBitrateTest, InterruptedAttemptIsContinuedByTheNextOne) {
  server_.Serve("/files/app.bin", Served());
  const std::string dest = Dest("app.bin");
  // The second block times out after 200 of its bytes, and so does its repetition.
  InjectTimeouts(700, 2);

  EXPECT_EQ(Resume(L"/files/app.bin", dest), ERROR_WINHTTP_TIMEOUT);
  EXPECT_FALSE(twtest::FileExists(dest));
  EXPECT_TRUE(HasLine("[INFO]", "ResumeGetRequestByBitrate : second attempt of the previous request"));
  const auto id = reg_.GetString(RegView::k32, kFileMetaData, "/files/app.bin");
  ASSERT_TRUE(id.has_value());
  const std::string sub = kFileMetaData + "\\" + *id;
  EXPECT_EQ(reg_.GetDword(RegView::k32, sub, "PartialFileSize"), 700u);
  EXPECT_EQ(twtest::ReadFile(install_ + "DownloadRepository\\" + *id), body_.substr(0, 700));

  server_.ClearRequests();
  ResetInjections();
  EXPECT_EQ(Resume(L"/files/app.bin", dest), 0);
  EXPECT_EQ(twtest::ReadFile(dest), body_);
  EXPECT_EQ(Ranges(), (std::vector<std::string>{"bytes=700-1200"}));
}

TEST_F(ResumeByBitrateTest, PartialFileNeverGrowsPastTheContentLength) {
  // Every block is answered from the right byte on, but with the rest of the
  // file and more.
  const std::string body = body_;
  server_.ServeWith("/files/app.bin", [body](const RecordedRequest& req) {
    Response r = Response::Ok(body);
    r.headers.push_back({"Last-Modified", kLastModified});
    const std::string range = req.Header("range").value_or("");
    if (req.method == "GET" && range.rfind("bytes=", 0) == 0) {
      const size_t first = std::stoul(range.substr(6));
      r = Response::Status(206, body.substr(first) + std::string(3000, 'x'));
      r.headers.push_back({"Content-Range", "bytes " + std::to_string(first) + "-1199/1200"});
      r.headers.push_back({"Last-Modified", kLastModified});
    }
    return r;
  });
  const std::string partial = SeedPartialFile("/files/app.bin", "7654321", 300);
  const std::string dest = Dest("app.bin");

  EXPECT_EQ(Resume(L"/files/app.bin", dest), 0);
  EXPECT_EQ(twtest::ReadFile(dest), body_);
  EXPECT_EQ(Ranges(), (std::vector<std::string>{"bytes=300-799"}));

  // A whole-file answer to the stored range starts the partial file afresh
  // instead of landing behind the stored bytes.
  Response whole = Response::Ok(body_);
  whole.headers.push_back({"Last-Modified", kLastModified});
  server_.Serve("/files/app.bin", whole);
  SeedPartialFile("/files/app.bin", "7654322", 300);
  EXPECT_EQ(Resume(L"/files/app.bin", dest), 0);
  EXPECT_EQ(twtest::ReadFile(dest), body_);
}

// The block loop's own ends come after bytes it accepted: those bytes are
// saved, so that the next attempt continues from them.
TEST_F(ResumeByBitrateTest, OwnEndsOfTheBlockLoopKeepTheBytesReceived) {
  const std::string body = body_;
  // A first block of 500 bytes, then what the case answers for the next one.
  auto firstBlockThen = [body](Response next) {
    return [body, next](const RecordedRequest& req) {
      Response r = Response::Ok(body);
      r.headers.push_back({"Last-Modified", kLastModified});
      const std::string range = req.Header("range").value_or("");
      if (range.empty()) return r;
      if (range.rfind("bytes=0-", 0) != 0) return next;
      r = Response::Status(206, body.substr(0, 500));
      r.headers.push_back({"Content-Range", "bytes 0-499/1200"});
      return r;
    };
  };
  Response empty = Response::Status(206, "");
  empty.headers.push_back({"Content-Range", "bytes 500-999/1200"});
  Response otherRange = Response::Status(206, body.substr(0, 500));
  otherRange.headers.push_back({"Content-Range", "bytes 0-499/1200"});
  Response ignoresRange = Response::Ok(body);
  ignoresRange.headers.push_back({"Last-Modified", kLastModified});

  struct Case {
    const char* name;
    const char* path;
    twtest::Handler serve;
    bool stalls;  // every answer stalls after 300 bytes
    int32_t result;
  };
  const Case cases[] = {
      {"two empty blocks", "/files/empty.bin", firstBlockThen(empty), false, ERROR_HANDLE_EOF},
      {"an answer for another range", "/files/other.bin", firstBlockThen(otherRange), false, 206},
      {"a second whole-file answer", "/files/whole.bin",
       [ignoresRange](const RecordedRequest&) { return ignoresRange; }, true, ERROR_WINHTTP_INVALID_SERVER_RESPONSE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = c.path;
    const std::wstring wpath = twtest::Widen(path);
    const std::string dest = Dest(path.substr(7));
    server_.ServeWith(path, c.serve);
    server_.ClearRequests();
    Seam().stallAfter.reset();
    if (c.stalls) {
      Seam().stallAfter = 300;
      Seam().readLimit = 100;
      Seam().stallingAnswers = 10;
    }

    EXPECT_EQ(Resume(wpath.c_str(), dest), c.result);
    const std::vector<std::string> ranges = Ranges();
    ASSERT_FALSE(ranges.empty());
    unsigned saved = 0;
    ASSERT_EQ(std::sscanf(ranges.back().c_str(), "bytes=%u-", &saved), 1) << ranges.back();
    EXPECT_GT(saved, 0u);
    const auto id = reg_.GetString(RegView::k32, kFileMetaData, path);
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(reg_.GetDword(RegView::k32, kFileMetaData + "\\" + *id, "PartialFileSize"), saved);
    EXPECT_TRUE(twtest::ReadFile(install_ + "DownloadRepository\\" + *id) == body_.substr(0, saved));

    // The next attempt asks for the rest only.
    Seam().stallAfter.reset();
    server_.Serve(path, Served());
    server_.ClearRequests();
    EXPECT_EQ(Resume(wpath.c_str(), dest), 0);
    EXPECT_TRUE(twtest::ReadFile(dest) == body_);
    ASSERT_FALSE(Ranges().empty());
    EXPECT_EQ(Ranges().front().rfind("bytes=" + std::to_string(saved) + "-", 0), 0u) << Ranges().front();
  }
}

// ---------------------------------------------------------------------------
// Against nginx: big blocks, real ranges, and the last block's end value past
// the last byte.

class BitrateNginxTest : public twtest::BitrateFixture {};

TEST_F(BitrateNginxTest, BothDownloadersFetchTheBigFileInBlocks) {
  TW_REQUIRE_TEST_SERVERS(srv);
  gv_dataTransferRateKBps = 1024;  // the agent's usual setting: blocks of 512000 bytes
  const std::string expected = twtest::PatternBytes(static_cast<size_t>(srv.bigSize));
  const size_t blocks = static_cast<size_t>((srv.bigSize + 511999) / 512000);
  auto fetch = [&](bool resumable, const std::string& dest) {
    const std::wstring wdest = twtest::Widen(dest);
    auto* routine = resumable ? &ResumeGetRequestByBitrate : &InternetGetRequestByBitrate;
    return routine(false, "http", twtest::TestServerInfo::Host().c_str(), srv.httpPort, nullptr, nullptr, nullptr,
                   nullptr, L"/big.bin", wdest.c_str(), nullptr, DOWNLOAD_FILE, true);
  };

  EXPECT_EQ(fetch(false, Dest("big.bin")), 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("big.bin")) == expected);
  EXPECT_EQ(Seam().sleeps.size(), blocks);
  EXPECT_TRUE(HasLine("[DEBUG]", "InternetGetRequestByBitrate: Content-Range Header message: Range: bytes=3072000-" +
                                     std::to_string(srv.bigSize)));

  Seam().sleeps.clear();
  EXPECT_EQ(fetch(true, Dest("big2.bin")), 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("big2.bin")) == expected);
  EXPECT_EQ(Seam().sleeps.size(), blocks);
}

}  // namespace
