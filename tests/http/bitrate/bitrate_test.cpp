// Bandwidth-limited downloads into a temporary file and chunked uploads, under
// Wine against the scripted server: the ranges on the wire, the HEAD request,
// the pacing pauses (observed through the WinHTTP table, not waited for), the
// recovery of a block and the answers that must never reach the file.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "http/resume.h"
#include "http/upload.h"
#include "tests/http/bitrate/bitrate_fixture.h"
#include "tests/support/max_path_limit.h"

using twtest::RecordedRequest;
using twtest::Response;

namespace {

class BitrateTest : public twtest::BitrateFixture {};

TEST_F(BitrateTest, BlocksFollowTheRateWithAHeadRequestFirst) {
  gv_dataTransferRateKBps = 1;  // blocks of 500 bytes
  const std::string body = twtest::PatternBytes(1200);
  Response r = Response::Ok(body);
  r.honourRange = true;
  server_.Serve("/files/app.bin", r);
  const std::string dest = Dest("app.bin");
  ASSERT_TRUE(twtest::WriteFile(dest, "old content"));

  EXPECT_EQ(Download(L"/files/app.bin", dest), 0);
  EXPECT_EQ(twtest::ReadFile(dest), body);
  EXPECT_EQ(Methods(), (std::vector<std::string>{"HEAD", "GET", "GET", "GET"}));
  // The block that reaches the end asks up to the Content-Length itself.
  EXPECT_EQ(Ranges(), (std::vector<std::string>{"bytes=0-499", "bytes=500-999", "bytes=1000-1200"}));
  EXPECT_TRUE(Leftovers().empty());
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestByBitrate : Content Length of the request file: 1200 Bytes"));
  EXPECT_TRUE(HasLine("[DEBUG]", "InternetGetRequestByBitrate: Block of bytes to read: 500"));
  EXPECT_TRUE(HasLine("[DEBUG]", "InternetGetRequestByBitrate: Content-Range Header message: Range: bytes=500-999"));
  EXPECT_TRUE(HasLine("[DEBUG]", "InternetGetRequestByBitrate: Bytes Read: 200"));
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestByBitrate: Total bytes read = 1200"));
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestByBitrate : Successfully downloaded the file /files/app.bin from "
                                "the server 127.0.0.1"));
  EXPECT_TRUE(HasLine("[DEBUG]", "@@@@@@@@ End Of InternetGetRequestByBitrate Method @@@@@@@@ "));
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetDownloader : Download Mode 0"));

  // A file of exactly one block: one request whose end value is the length.
  server_.ClearRequests();
  r.body = body.substr(0, 500);
  server_.Serve("/files/one.bin", r);
  EXPECT_EQ(Download(L"/files/one.bin", Dest("one.bin")), 0);
  EXPECT_EQ(twtest::ReadFile(Dest("one.bin")), r.body);
  EXPECT_EQ(Ranges(), (std::vector<std::string>{"bytes=0-500"}));

  // An empty file: the HEAD request only, and an empty file delivered.
  server_.ClearRequests();
  server_.Serve("/files/empty.bin", Response::Ok(""));
  EXPECT_EQ(Download(L"/files/empty.bin", Dest("empty.bin")), 0);
  EXPECT_TRUE(twtest::FileExists(Dest("empty.bin")));
  EXPECT_EQ(twtest::ReadFile(Dest("empty.bin")), "");
  EXPECT_EQ(Methods(), (std::vector<std::string>{"HEAD"}));
}

TEST_F(BitrateTest, HeadAnswerDecidesBeforeAnyFileIsMade) {
  gv_dataTransferRateKBps = 1;
  server_.Serve("/same.bin", Response::Status(304));
  server_.Serve("/missing.bin", Response::Status(404, "<html>not here</html>"));
  Response unannounced = Response::Ok(twtest::PatternBytes(700));
  unannounced.sendContentLength = false;
  server_.Serve("/nolength.bin", unannounced);
  const std::string dest = Dest("app.bin");
  ASSERT_TRUE(twtest::WriteFile(dest, "old content"));

  EXPECT_EQ(Download(L"/same.bin", dest), 90001);
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestByBitrate : File not modified since the time: "));
  EXPECT_EQ(Download(L"/missing.bin", dest), 404);
  EXPECT_TRUE(HasLine("[ERROR]", "InternetGetRequestByBitrate : Failed with the http status code: 404 "));
  EXPECT_EQ(Download(L"/nolength.bin", dest), 12150);
  EXPECT_TRUE(HasLine("[ERROR]", "InternetGetRequestByBitrate :  Error in Content Length Header -> 12150 "));
  EXPECT_TRUE(HasLine("[ERROR]", "HttpGetLastError: The requested header could not be located. "));

  EXPECT_EQ(Methods(), (std::vector<std::string>{"HEAD", "HEAD", "HEAD"}));
  EXPECT_EQ(twtest::ReadFile(dest), "old content");
  EXPECT_TRUE(Leftovers().empty());
}

// A Content-Length the HEAD answer carries but that cannot be read is no length
// of 0: nothing is fetched and the old file stays.
BOOL WINAPI UnreadableContentLength(HINTERNET request, DWORD info, LPCWSTR name, LPVOID buffer, LPDWORD size,
                                    LPDWORD index) {
  if (info == (WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER)) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  return RealWinHttpApi().QueryHeaders(request, info, name, buffer, size, index);
}

TEST_F(BitrateTest, UnreadableContentLengthOnTheHeadEndsTheDownload) {
  gv_dataTransferRateKBps = 1;
  Response r = Response::Ok(twtest::PatternBytes(700));
  r.honourRange = true;
  server_.Serve("/files/app.bin", r);
  const std::string dest = Dest("app.bin");
  ASSERT_TRUE(twtest::WriteFile(dest, "old content"));
  g_winHttp.QueryHeaders = &UnreadableContentLength;

  EXPECT_EQ(Download(L"/files/app.bin", dest), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_TRUE(HasLine("[ERROR]", "InternetGetRequestByBitrate :  Error in Content Length Header -> 122 "));
  EXPECT_EQ(Methods(), (std::vector<std::string>{"HEAD"}));
  EXPECT_EQ(twtest::ReadFile(dest), "old content");
  EXPECT_TRUE(Leftovers().empty());
}

// Every block route reaches a destination deeper than MAX_PATH, the temporary
// and staging files beside it included, under Windows' rule for such paths.
TEST_F(BitrateTest, DestinationBeyondMaxPathIsDeliveredOnEveryRoute) {
  gv_dataTransferRateKBps = 1;
  const std::string body = twtest::PatternBytes(1200);
  Response r = Response::Ok(body);
  r.honourRange = true;
  r.headers.push_back({"Last-Modified", "Wed, 21 Oct 2015 07:28:00 GMT"});
  server_.Serve("/files/app.bin", r);
  using Routine = decltype(&InternetGetRequestByBitrate);
  const struct {
    const char* name;
    Routine routine;
  } routes[] = {{"bandwidth-limited", &InternetGetRequestByBitrate},
                {"resumable in blocks", &ResumeGetRequestByBitrate},
                {"resumable", &ResumeGetRequestEx}};
  const std::wstring folder = DeepFolder();
  const std::wstring dest = folder + L"\\app.bin";
  ASSERT_GT(dest.size(), static_cast<size_t>(MAX_PATH));
  for (const auto& route : routes) {
    SCOPED_TRACE(route.name);
    {
      twtest::MaxPathLimit limit;
      ASSERT_TRUE(limit.Installed());
      EXPECT_EQ(route.routine(false, "http", twtest::ScriptedServer::Host().c_str(), server_.Port(), nullptr, nullptr,
                              nullptr, nullptr, L"/files/app.bin", dest.c_str(), nullptr, DOWNLOAD_FILE, true),
                0);
    }
    EXPECT_TRUE(ReadLongFile(dest) == body);
    EXPECT_EQ(FilesIn(folder), std::vector<std::wstring>{L"app.bin"});
    ::DeleteFileW((kLongPrefix + dest).c_str());
  }
}

TEST_F(BitrateTest, PauseTopsFastBlocksUpTo600MsAndFollowsSlowOnesWith100Ms) {
  gv_dataTransferRateKBps = 1;
  const std::string body = twtest::PatternBytes(1200);
  Response fast = Response::Ok(body);
  fast.honourRange = true;
  server_.Serve("/fast.bin", fast);
  // The blocks (not the HEAD request) of this one take over half a second.
  server_.ServeWith("/slow.bin", [body](const RecordedRequest& req) {
    Response r = Response::Ok(body);
    r.honourRange = true;
    if (req.method == "GET") r.delayMs = 520;
    return r;
  });

  ASSERT_EQ(Download(L"/fast.bin", Dest("fast.bin")), 0);
  ASSERT_EQ(Seam().sleeps.size(), 3u);
  for (DWORD pause : Seam().sleeps) {
    // A loopback block takes milliseconds: the pause is the rest of 600.
    EXPECT_GT(pause, 300u);
    EXPECT_LE(pause, 600u);
  }

  Seam().sleeps.clear();
  ASSERT_EQ(Download(L"/slow.bin", Dest("slow.bin")), 0);
  EXPECT_EQ(twtest::ReadFile(Dest("slow.bin")), body);
  EXPECT_EQ(Seam().sleeps, (std::vector<DWORD>{100, 100, 100}));
}

TEST_F(BitrateTest, TimeoutWhileReadingRepeatsTheBlockOnceWithoutPause) {
  gv_dataTransferRateKBps = 1;
  const std::string body = twtest::PatternBytes(1200);
  Response r = Response::Ok(body);
  r.honourRange = true;
  server_.Serve("/files/app.bin", r);
  InjectTimeouts(/*afterBytes=*/600, /*count=*/1);  // in the middle of the second block

  EXPECT_EQ(Download(L"/files/app.bin", Dest("app.bin")), 0);
  EXPECT_EQ(twtest::ReadFile(Dest("app.bin")), body);
  EXPECT_EQ(Ranges(), (std::vector<std::string>{"bytes=0-499", "bytes=500-999", "bytes=600-1099", "bytes=1100-1200"}));
  EXPECT_EQ(Seam().sleeps.size(), 3u);  // none before the repetition
  EXPECT_TRUE(HasLine("[ERROR]", "InternetGetRequestByBitrate : Error occured in WinHttpQueryDataAvailable --> 12002 "));
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestByBitrate : second attempt of the previous request"));

  // The repetition times out as well: the download ends with 12002.
  server_.ClearRequests();
  Seam().sleeps.clear();
  const std::string dest = Dest("again.bin");
  ASSERT_TRUE(twtest::WriteFile(dest, "old content"));
  InjectTimeouts(600, 2);
  EXPECT_EQ(Download(L"/files/app.bin", dest), 12002);
  EXPECT_EQ(Ranges(), (std::vector<std::string>{"bytes=0-499", "bytes=500-999", "bytes=600-1099"}));
  EXPECT_EQ(twtest::ReadFile(dest), "old content");
  EXPECT_TRUE(Leftovers().empty());

  // A block whose request times out ends the whole download with 12002.
  server_.ClearRequests();
  ResetInjections();
  Seam().receiveErrors = {0, 0, ERROR_WINHTTP_TIMEOUT};  // HEAD, first block, second block
  EXPECT_EQ(Download(L"/files/app.bin", dest), 12002);
  EXPECT_EQ(twtest::ReadFile(dest), "old content");
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(BitrateTest, EmptyAnswersToABlockEndTheDownload) {
  gv_dataTransferRateKBps = 1;
  const std::string body = twtest::PatternBytes(1200);
  // The first block is served; every later block gets a 206 without bytes.
  server_.ServeWith("/files/app.bin", [body](const RecordedRequest& req) {
    Response r = Response::Ok(body);
    r.honourRange = true;
    if (req.method == "GET" && req.Header("range").value_or("") != "bytes=0-499") {
      r = Response::Status(206, "");
      r.headers.push_back({"Content-Range", "bytes 500-999/1200"});
    }
    return r;
  });
  const std::string dest = Dest("app.bin");
  ASSERT_TRUE(twtest::WriteFile(dest, "old content"));

  EXPECT_EQ(Download(L"/files/app.bin", dest), ERROR_HANDLE_EOF);
  EXPECT_EQ(Ranges(), (std::vector<std::string>{"bytes=0-499", "bytes=500-999", "bytes=500-999"}));
  EXPECT_TRUE(HasLine("[ERROR]", "InternetGetRequestByBitrate : No data received twice in a row for the bytes from "
                                 "500; the download ends "));
  EXPECT_EQ(twtest::ReadFile(dest), "old content");
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(BitrateTest, WholeFileAnswerToALaterRangeRestartsTheFileOnce) {
  gv_dataTransferRateKBps = 1;
  const std::string body = twtest::PatternBytes(1200);
  // Ranges are honoured for the first block only; later blocks get the whole file.
  auto server = [body](bool shortWhole) {
    return [body, shortWhole](const RecordedRequest& req) {
      Response r = Response::Ok(body);
      r.honourRange = req.method == "HEAD" || req.Header("range").value_or("") == "bytes=0-499";
      if (!r.honourRange && shortWhole) r.closeAfter = 700;
      return r;
    };
  };
  server_.ServeWith("/whole.bin", server(false));
  EXPECT_EQ(Download(L"/whole.bin", Dest("whole.bin")), 0);
  EXPECT_EQ(twtest::ReadFile(Dest("whole.bin")), body);  // not 500 bytes followed by the whole file
  EXPECT_EQ(Ranges(), (std::vector<std::string>{"bytes=0-499", "bytes=500-999"}));
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestByBitrate : The server sent the whole file instead of the bytes "
                                "from 500; the file starts afresh "));

  // A whole answer that breaks off: the next range gets the whole file again,
  // which is refused instead of starting over and over.
  server_.ClearRequests();
  server_.ServeWith("/whole.bin", server(true));
  const std::string dest = Dest("short.bin");
  EXPECT_EQ(Download(L"/whole.bin", dest), ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
  EXPECT_EQ(Ranges(), (std::vector<std::string>{"bytes=0-499", "bytes=500-999", "bytes=700-1200"}));
  EXPECT_FALSE(twtest::FileExists(dest));
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(BitrateTest, AnswersThatDoNotContinueTheFileNeverReachIt) {
  gv_dataTransferRateKBps = 1;
  const std::string body = twtest::PatternBytes(1200);
  // Second block: an error page; third request on: a range from elsewhere.
  auto make = [body](int failing, int status) {
    return [body, failing, status](const RecordedRequest& req) {
      Response r = Response::Ok(body);
      r.honourRange = true;
      const std::string range = req.Header("range").value_or("");
      if (req.method == "GET" && range == "bytes=500-999") {
        if (failing == 1) r = Response::Status(status, "<html>server error</html>");
        if (failing == 2) {
          r = Response::Status(206, body.substr(0, 500));
          r.headers.push_back({"Content-Range", "bytes 0-499/1200"});
        }
        if (failing == 3) {
          // The right start, but more bytes than the file has: only up to
          // the Content-Length is kept.
          r = Response::Status(206, body.substr(500) + "trailing bytes past the end");
          r.headers.push_back({"Content-Range", "bytes 500-1199/1200"});
        }
      }
      return r;
    };
  };
  const std::string dest = Dest("app.bin");
  ASSERT_TRUE(twtest::WriteFile(dest, "old content"));

  server_.ServeWith("/a.bin", make(1, 500));
  EXPECT_EQ(Download(L"/a.bin", dest), 500);
  EXPECT_TRUE(HasLine("[ERROR]", "InternetGetRequestByBitrate : Failed with the http status code 500 "));
  EXPECT_EQ(twtest::ReadFile(dest), "old content");

  server_.ServeWith("/a.bin", make(2, 0));
  EXPECT_EQ(Download(L"/a.bin", dest), 206);
  EXPECT_TRUE(HasLine("[ERROR]", "InternetGetRequestByBitrate : The server's answer does not continue the file at "
                                 "byte 500 of 1200; the download ends "));
  EXPECT_EQ(twtest::ReadFile(dest), "old content");
  EXPECT_TRUE(Leftovers().empty());

  server_.ClearRequests();
  server_.ServeWith("/a.bin", make(3, 0));
  EXPECT_EQ(Download(L"/a.bin", dest), 0);
  EXPECT_EQ(twtest::ReadFile(dest), body);
  EXPECT_EQ(Ranges(), (std::vector<std::string>{"bytes=0-499", "bytes=500-999"}));
}

TEST_F(BitrateTest, GetDataArrivesInMemory) {
  gv_dataTransferRateKBps = 1;
  std::string text;
  for (int i = 0; i < 40; ++i) text += "line " + std::to_string(i) + " of the answer\n";
  Response r = Response::Ok(text);
  r.honourRange = true;
  server_.Serve("/agentinfo", r);

  OptText data;
  EXPECT_EQ(GetData(L"/agentinfo", data), 0);
  ASSERT_TRUE(data.has_value());
  EXPECT_EQ(*data, text);
  EXPECT_EQ(Ranges().size(), (text.size() + 499) / 500);
  EXPECT_TRUE(Leftovers(temp_).empty());
}

TEST_F(BitrateTest, DownloadModeOneTakesTheResumableRouteForAnyRequestType) {
  gv_dataTransferRateKBps = 1;
  ASSERT_TRUE(reg_.SetDword(twtest::RegView::k32, kSettings, "DownloadMode", 1));
  const std::string text = "resumable answer\n";
  Response r = Response::Ok(text);
  r.honourRange = true;
  r.headers.push_back({"Last-Modified", "Wed, 21 Oct 2015 07:28:00 GMT"});
  server_.Serve("/agentinfo", r);
  server_.Serve("/config.xml", r);

  OptText data;
  EXPECT_EQ(GetData(L"/agentinfo", data), 0);
  EXPECT_EQ(data, text);
  EXPECT_TRUE(HasLine("[DEBUG]", "@@@@@@@@ Inside ResumeGetRequestByBitrate Method @@@@@@@@ "));
  // No HEAD request on this route: the first request is a plain GET for the headers.
  EXPECT_EQ(Methods().front(), "GET");

  // Paths with ".xml" never take it.
  server_.ClearRequests();
  OptText xml;
  EXPECT_EQ(GetData(L"/config.xml", xml), 0);
  EXPECT_EQ(xml, text);
  EXPECT_EQ(Methods().front(), "HEAD");
}

// ---------------------------------------------------------------------------
// Upload in chunks.

std::vector<DWORD> g_writes;
std::atomic<int> g_failWriteAt{-1};

BOOL WINAPI RecordingWriteData(HINTERNET request, LPCVOID data, DWORD size, LPDWORD written) {
  const int index = static_cast<int>(g_writes.size());
  g_writes.push_back(size);
  if (index == g_failWriteAt) {
    ::SetLastError(ERROR_WINHTTP_CONNECTION_ERROR);
    return FALSE;
  }
  return RealWinHttpApi().WriteData(request, data, size, written);
}

class UploadByBitrateTest : public twtest::BitrateFixture {
 protected:
  void SetUp() override {
    BitrateFixture::SetUp();
    g_writes.clear();
    g_failWriteAt = -1;
  }
  int32_t Upload(const std::string& file, int32_t chunk, OptText* out = nullptr) {
    return InternetSendRequestByBitRate(false, "http", twtest::ScriptedServer::Host().c_str(), server_.Port(), nullptr,
                                        nullptr, nullptr, nullptr, L"/upload?name=a", file.c_str(), out, 11006, true,
                                        chunk);
  }
};

TEST_F(UploadByBitrateTest, FileGoesOutInChunksWithItsSizeHeader) {
  const std::string content = twtest::PatternBytes(2500);
  const std::string file = twtest::Join(dir_, "report.bin");
  ASSERT_TRUE(twtest::WriteFile(file, content));
  server_.Serve("/upload", Response::Ok("stored\n"));
  g_winHttp.WriteData = &RecordingWriteData;

  OptText answer;
  EXPECT_EQ(Upload(file, 1000, &answer), 0);
  EXPECT_EQ(answer, "stored\n");
  EXPECT_EQ(g_writes, (std::vector<DWORD>{1000, 1000, 500}));
  auto reqs = server_.Requests();
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0].method, "POST");
  EXPECT_EQ(reqs[0].target, "/upload?name=a");
  EXPECT_EQ(reqs[0].body, content);
  EXPECT_EQ(reqs[0].Header("content-type").value_or(""), "multipart/form-data; filesize=\"2500\"");
  EXPECT_EQ(reqs[0].Header("content-length").value_or(""), "2500");
  EXPECT_EQ(reqs[0].Header("connection").value_or(""), "Keep-Alive");
  EXPECT_TRUE(log_.Text().find("InternetSendRequestByBitRate: Header buffer: Content-type: multipart/form-data; "
                               "filesize=\"2500\"") != std::string::npos);
  EXPECT_TRUE(HasLine("[INFO]", "InternetSendRequestByBitRate : Successfully posted the data to the server 127.0.0.1 "));
  EXPECT_TRUE(HasLine("[DEBUG]", "***************** End Of InternetSendRequestByBitRate Method ***************** "));

  // A chunk larger than the file: one write.
  g_writes.clear();
  EXPECT_EQ(Upload(file, 1 << 20), 0);
  EXPECT_EQ(g_writes, (std::vector<DWORD>{2500}));
}

TEST_F(UploadByBitrateTest, RefusedInputsAndFailures) {
  const std::string file = twtest::Join(dir_, "report.bin");
  ASSERT_TRUE(twtest::WriteFile(file, twtest::PatternBytes(3000)));
  const std::string empty = twtest::Join(dir_, "empty.bin");
  ASSERT_TRUE(twtest::WriteFile(empty, ""));
  server_.Serve("/upload", Response::Status(500, "<html>oops</html>"));

  EXPECT_EQ(InternetSendRequestByBitRate(false, "http", twtest::ScriptedServer::Host().c_str(), server_.Port(),
                                         nullptr, nullptr, nullptr, nullptr, L"/upload", nullptr, nullptr, 11006, true,
                                         1000),
            13);
  EXPECT_EQ(Upload(twtest::Join(dir_, "missing.bin"), 1000), 13);
  EXPECT_EQ(Upload(empty, 1000), 13);
  EXPECT_TRUE(HasLine("[ERROR]", "InternetSendRequestByBitRate: File Size is zero: 0"));
  EXPECT_EQ(Upload(file, 0), 13);  // a chunk size of 0 would never finish
  EXPECT_EQ(server_.RequestCount(), 0u);

  EXPECT_EQ(Upload(file, 1000), 500);
  EXPECT_TRUE(HasLine("[ERROR]", "InternetSendRequestByBitRate : Failed to post the data to the server 127.0.0.1 "
                                 "with http status code 500 "));

  // A failed write ends the upload with its code; the rest is not sent.
  g_winHttp.WriteData = &RecordingWriteData;
  g_failWriteAt = 1;
  EXPECT_EQ(Upload(file, 1000), ERROR_WINHTTP_CONNECTION_ERROR);
  EXPECT_EQ(g_writes.size(), 2u);
  // (The header line carries no line end of its own, so this message follows
  // it on the same line.)
  EXPECT_NE(log_.Text().find("[ERROR] InternetSendRequestByBitRate :  Error in WinHttpWriteData --> 12030 "),
            std::string::npos);
}

}  // namespace
