// A file that changes on the server while a download asks for it in ranges,
// on every route that sends ranged requests (in blocks, resumable in blocks,
// the plain download's time-out recovery, the resumable download), under Wine
// against the scripted server, which honours If-Range as a real server does.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "http/bitrate.h"
#include "http/downloader.h"
#include "http/resume.h"
#include "tests/http/bitrate/bitrate_fixture.h"

using twtest::RecordedRequest;
using twtest::Response;
using Strings = std::vector<std::string>;

namespace {

const char kModified1[] = "Wed, 21 Oct 2015 07:28:00 GMT";
const char kModified2[] = "Thu, 22 Oct 2015 09:00:00 GMT";

enum class Route { kBlocks, kResumableBlocks, kPlain, kResumable };

class ChangedFileTest : public twtest::BitrateFixture {
 protected:
  void SetUp() override {
    BitrateFixture::SetUp();
    gv_dataTransferRateKBps = 1;  // blocks of 500 bytes
  }

  int32_t Fetch(Route route, const std::wstring& path, const std::string& dest) {
    const std::wstring wdest = twtest::Widen(dest);
    const std::wstring server = twtest::ScriptedServer::Host();
    const wchar_t* host = server.c_str();
    const int32_t port = server_.Port();
    // The plain and the resumable download ask for a range only to recover
    // from a stall: every one of them stalls once, in its first answer's body.
    if (route == Route::kPlain || route == Route::kResumable) {
      Seam().stallAfter = 600;
      Seam().readLimit = 100;
      Seam().stallingAnswers = 1;
      Seam().stalls = 0;
    }
    switch (route) {
      case Route::kBlocks:
        return InternetGetRequestByBitrate(false, "http", host, port, nullptr, nullptr, nullptr, nullptr,
                                           path.c_str(), wdest.c_str(), nullptr, DOWNLOAD_FILE, true);
      case Route::kResumableBlocks:
        return ResumeGetRequestByBitrate(false, "http", host, port, nullptr, nullptr, nullptr, nullptr, path.c_str(),
                                         wdest.c_str(), nullptr, DOWNLOAD_FILE, true);
      case Route::kPlain:
        return InternetGetRequestEx(false, "http", host, port, nullptr, nullptr, nullptr, nullptr, path.c_str(),
                                    wdest.c_str(), nullptr, DOWNLOAD_FILE, true, false);
      case Route::kResumable:
        return ResumeGetRequestEx(false, "http", host, port, nullptr, nullptr, nullptr, nullptr, path.c_str(),
                                  wdest.c_str(), nullptr, DOWNLOAD_FILE, true);
    }
    return -1;
  }

  // The If-Range header of each request that asked for a range, in order.
  Strings IfRanges() const {
    Strings out;
    for (const RecordedRequest& r : server_.Requests())
      if (r.Header("range")) out.push_back(r.Header("if-range").value_or("<none>"));
    return out;
  }
};

// One version of the file as the server publishes it: ranges honoured, its
// Last-Modified and, when given, its ETag.
Response Version(const std::string& body, const char* modified, const char* etag) {
  Response r = Response::Ok(body);
  r.honourRange = true;
  r.headers.push_back({"Last-Modified", modified});
  if (etag) r.headers.push_back({"ETag", etag});
  return r;
}

// The file is re-published, with the same length, new bytes and a new
// Last-Modified (and ETag), after the download received part of it. Every
// range names the first version in If-Range, so the server answers the next
// one with the whole new version, which replaces what was received: the file
// delivered is never part one version and part the other.
TEST_F(ChangedFileTest, FileRepublishedMidDownloadIsDeliveredWholeInItsNewVersion) {
  const std::string first = twtest::PatternBytes(1200);
  std::string second = first;
  for (char& c : second) c = static_cast<char>(~c);
  struct Case {
    const char* name;
    Route route;
    bool etag;
    size_t storedBefore;     // bytes of the first version an earlier attempt stored
    size_t answeredByFirst;  // requests the first version answers before the new one is out
    Strings ranges;
    std::string ifRange;  // what every range names
  };
  const Case cases[] = {
      {"in blocks", Route::kBlocks, true, 0, 2, {"bytes=0-499", "bytes=500-999"}, "\"v1\""},
      {"in blocks, no ETag", Route::kBlocks, false, 0, 2, {"bytes=0-499", "bytes=500-999"}, kModified1},
      {"resumable in blocks", Route::kResumableBlocks, true, 0, 2, {"bytes=0-499", "bytes=500-999"}, "\"v1\""},
      // The stored bytes were received under the stored Last-Modified.
      {"resumable in blocks, resuming", Route::kResumableBlocks, true, 300, 1, {"bytes=300-799"}, kModified1},
      {"plain, recovering from a stall", Route::kPlain, true, 0, 1, {"bytes=600-1200"}, "\"v1\""},
      {"resumable, recovering from a stall", Route::kResumable, true, 0, 2, {"bytes=0-1200", "bytes=600-1200"},
       "\"v1\""},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = "/files/app" + std::to_string(++n) + ".bin";
    const std::string dest = Dest("app" + std::to_string(n) + ".bin");
    ASSERT_TRUE(twtest::WriteFile(dest, "old content"));
    if (c.storedBefore > 0)
      SeedStoredDownload(path, "4711" + std::to_string(n), first.substr(0, c.storedBefore), kModified1);
    std::vector<Response> published(c.answeredByFirst, Version(first, kModified1, c.etag ? "\"v1\"" : nullptr));
    published.push_back(Version(second, kModified2, c.etag ? "\"v2\"" : nullptr));
    server_.ServeSequence(path, published);
    server_.ClearRequests();

    EXPECT_EQ(Fetch(c.route, twtest::Widen(path), dest), 0);
    EXPECT_TRUE(twtest::ReadFile(dest) == second);
    EXPECT_EQ(Ranges(), c.ranges);
    EXPECT_EQ(IfRanges(), Strings(c.ranges.size(), c.ifRange));
    EXPECT_TRUE(Leftovers().empty());
  }
}

// A whole-file answer to a range that announces no bytes, after a first answer
// that announced 1200, is a body cut short: the download ends with its route's
// code for that and the old file stays.
TEST_F(ChangedFileTest, EmptyWholeFileAnswerToARangeEndsAsAShortBody) {
  const std::string body = twtest::PatternBytes(1200);
  struct Case {
    const char* name;
    Route route;
    int32_t result;
    const char* line;
  };
  const Case cases[] = {
      {"in blocks", Route::kBlocks, ERROR_HANDLE_EOF,
       "InternetGetRequestByBitrate : The server sent an empty file instead of the bytes from 0; the download ends "},
      {"resumable in blocks", Route::kResumableBlocks, ERROR_HANDLE_EOF,
       "ResumeGetRequestByBitrate : The server sent an empty file instead of the bytes from 0; the download ends "},
      {"plain, recovering from a stall", Route::kPlain, 707,
       "InternetGetRequestEx : The server sent an empty file instead of the bytes from 600; the download ends "},
      {"resumable", Route::kResumable, 707,
       "ResumeGetRequestEx : The server sent an empty file instead of the bytes from 0; the download ends "},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = "/files/empty" + std::to_string(++n) + ".bin";
    const std::string dest = Dest("empty" + std::to_string(n) + ".bin");
    ASSERT_TRUE(twtest::WriteFile(dest, "old content"));
    const Response whole = Version(body, kModified1, nullptr);
    server_.ServeWith(path, [whole](const RecordedRequest& req) {
      return req.Header("range") ? Response::Ok("") : whole;
    });

    EXPECT_EQ(Fetch(c.route, twtest::Widen(path), dest), c.result);
    EXPECT_TRUE(HasLine("[ERROR]", c.line));
    EXPECT_EQ(twtest::ReadFile(dest), "old content");
    EXPECT_TRUE(Leftovers().empty());
  }
}

}  // namespace
