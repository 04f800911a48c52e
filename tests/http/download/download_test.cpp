// Plain downloads against the scripted server under Wine: lengths, statuses,
// delivery into memory and into files, the time-out recovery with its range
// request, gzip answers (good and corrupt) and what is left on disk.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "agent/config/settings.h"
#include "agent/registry/registry.h"
#include "agent/util/textconv.h"
#include "http/download.h"
#include "http/downloader.h"
#include "http/requestcore.h"
#include "http/winhttp_api.h"
#include "tests/http/core/seam.h"
#include "tests/http/download/download_fixture.h"
#include "tests/support/max_path_limit.h"

using twtest::RegView;
using twtest::Response;

namespace {

// Fault seam: a receive time-out once the given number of body bytes was read.
struct TimeoutInjection {
  uint64_t bytesRead = 0;
  uint64_t failAfter = 0;
  bool fired = false;
};
TimeoutInjection g_timeout;

BOOL WINAPI CountingReadData(HINTERNET request, LPVOID buffer, DWORD size, LPDWORD read) {
  const BOOL ok = RealWinHttpApi().ReadData(request, buffer, size, read);
  if (ok) g_timeout.bytesRead += *read;
  return ok;
}

BOOL WINAPI TimingOutQueryDataAvailable(HINTERNET request, LPDWORD available) {
  if (!g_timeout.fired && g_timeout.bytesRead >= g_timeout.failAfter) {
    g_timeout.fired = true;
    ::SetLastError(ERROR_WINHTTP_TIMEOUT);
    return FALSE;
  }
  return RealWinHttpApi().QueryDataAvailable(request, available);
}

// Wine's WinHttpQueryDataAvailable reports a receive time-out as the socket's
// 10060 where Windows reports 12002; this passes the real stall on with the
// code Windows gives.
BOOL WINAPI WindowsTimeoutQueryDataAvailable(HINTERNET request, LPDWORD available) {
  const BOOL ok = RealWinHttpApi().QueryDataAvailable(request, available);
  if (!ok && ::GetLastError() == WSAETIMEDOUT) ::SetLastError(ERROR_WINHTTP_TIMEOUT);
  return ok;
}

class DownloadTest : public twtest::DownloadFixture {
 protected:
  void InjectTimeoutAfter(uint64_t bytes) {
    g_timeout = TimeoutInjection{};
    g_timeout.failAfter = bytes;
    g_winHttp.ReadData = &CountingReadData;
    g_winHttp.QueryDataAvailable = &TimingOutQueryDataAvailable;
  }
  std::string Range(size_t index) {
    auto reqs = server_.Requests();
    if (index >= reqs.size()) return "<no request>";
    return reqs[index].Header("range").value_or("<none>");
  }
};

TEST_F(DownloadTest, FileWithExactContentLengthIsDelivered) {
  const std::string body = twtest::PatternBytes(300000);
  server_.Serve("/files/app.bin", Response::Ok(body));
  const std::string dest = Dest("app.bin");
  ASSERT_TRUE(twtest::WriteFile(dest, "old content"));

  EXPECT_EQ(Download(L"/files/app.bin", dest), 0);
  EXPECT_EQ(twtest::ReadFile(dest), body);
  EXPECT_TRUE(Leftovers().empty()) << Leftovers()[0];
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestEx : Content Length of the request file: 300000 Bytes"));
  EXPECT_TRUE(HasLine("[INFO]", "Bytes read reached the contenlength"));
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestEx : Total bytes read = 300000"));
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestEx : GetFileSize returns :  300000"));
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestEx : File completely downloaded..!"));
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestEx : Successfully downloaded the file /files/app.bin from the "
                                "server 127.0.0.1 to the destination file " + dest + " "));
  EXPECT_TRUE(HasLine("[DEBUG]", "@@@@@@@@ End Of InternetGetRequestEx Method @@@@@@@@ "));
  // A destination in a folder that does not exist yet: the folder is made.
  const std::string nested = twtest::Join(twtest::Join(dir_, "new"), "sub\\app.bin");
  EXPECT_EQ(Download(L"/files/app.bin", nested), 0);
  EXPECT_EQ(twtest::ReadFile(nested), body);
}

TEST_F(DownloadTest, ShortOrUnannouncedBodyEndsWith707AndKeepsTheOldFile) {
  const std::string body = twtest::PatternBytes(5000);
  Response shortBody = Response::Ok(body.substr(0, 4999));
  shortBody.contentLength = 5000;  // one byte more than is sent
  server_.Serve("/short.bin", shortBody);
  Response unannounced = Response::Ok(body);
  unannounced.sendContentLength = false;
  server_.Serve("/nolength.bin", unannounced);
  const std::string dest = Dest("app.bin");
  ASSERT_TRUE(twtest::WriteFile(dest, "old content"));

  EXPECT_EQ(Download(L"/short.bin", dest), 707);
  EXPECT_EQ(twtest::ReadFile(dest), "old content");
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestEx : Error in downloading..!"));
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestEx : Only partial file downloaded. GetFileSize returns :  4999"));
  EXPECT_TRUE(Leftovers().empty());

  EXPECT_EQ(Download(L"/nolength.bin", dest), 707);
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestEx : Content Length of the request file: 0 Bytes"));
  EXPECT_EQ(twtest::ReadFile(dest), "old content");
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(DownloadTest, GetDataArrivesInMemoryAsText) {
  server_.Serve("/agentinfo.xml", Response::Ok("<a>\r\n<b/>\r\n</a>"));
  OptText data;
  EXPECT_EQ(GetData(L"/agentinfo.xml", data), 0);
  ASSERT_TRUE(data.has_value());
  EXPECT_EQ(*data, "<a>\n<b/>\n</a>");  // read back in text mode
  EXPECT_TRUE(HasLine("[DEBUG]", "Data in memory : <a>"));
  EXPECT_TRUE(Leftovers(temp_).empty());
  // Paths with ".xml" never consult the download mode.
  EXPECT_FALSE(HasLine("[INFO]", "InternetGetDownloader : Download Mode 0"));

  // An empty answer is an empty text, not a failure.
  server_.Serve("/empty", Response::Ok(""));
  OptText empty;
  EXPECT_EQ(GetData(L"/empty", empty), 0);
  EXPECT_EQ(empty, std::string());
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetDownloader : Download Mode 0"));
}

TEST_F(DownloadTest, StatusesOtherThan200EndWithTheStatus) {
  server_.Serve("/missing.bin", Response::Status(404, "<html>not here</html>"));
  server_.Serve("/broken.bin", Response::Status(500, "<html>oops</html>"));
  server_.Serve("/same.bin", Response::Status(304));
  const std::string dest = Dest("app.bin");
  ASSERT_TRUE(twtest::WriteFile(dest, "old content"));

  EXPECT_EQ(Download(L"/missing.bin", dest), 404);
  EXPECT_TRUE(HasLine("[ERROR]", "InternetGetRequestEx : Failed with the http status code, 404 "));
  EXPECT_EQ(Download(L"/broken.bin", dest), 500);
  EXPECT_TRUE(HasLine("[ERROR]", "InternetGetRequestEx : Failed with the http status code, 500 "));
  EXPECT_EQ(Download(L"/same.bin", dest), 90001);
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestEx :File not modified since the time: "));
  EXPECT_EQ(twtest::ReadFile(dest), "old content");

  OptText data;
  EXPECT_EQ(GetData(L"/missing.bin", data), 404);
  EXPECT_FALSE(data.has_value());
  EXPECT_TRUE(Leftovers().empty());
  EXPECT_TRUE(Leftovers(temp_).empty());
}

TEST_F(DownloadTest, RealReceiveTimeoutAsksForTheMissingRange) {
  // GET_DATA carries the configured receive time-out; the server goes silent
  // after 1000 bytes for longer than that.
  gv_httpRequestTimeout = 1000;
  g_winHttp.QueryDataAvailable = &WindowsTimeoutQueryDataAvailable;
  std::string body;
  while (body.size() < 20000) body += "<row id=\"" + std::to_string(body.size()) + "\"/>\n";
  body.resize(20000);
  Response stall = Response::Ok(body);
  stall.stallAfter = 1000;
  stall.stallMs = 4000;
  Response rest = Response::Ok(body);
  rest.honourRange = true;
  server_.ServeSequence("/data.bin", {stall, rest});

  OptText data;
  EXPECT_EQ(GetData(L"/data.bin", data), 0);
  ASSERT_TRUE(data.has_value());
  EXPECT_EQ(data->size(), body.size());
  EXPECT_TRUE(*data == body);
  ASSERT_EQ(server_.RequestCount(), 2u);
  EXPECT_EQ(Range(0), "<none>");
  EXPECT_EQ(Range(1), "bytes=1000-20000");
  EXPECT_TRUE(HasLine("[ERROR]", "InternetGetRequestEx : Error occured in WinHttpQueryDataAvailable --> 12002 "));
  EXPECT_TRUE(HasLine("[ERROR]", "HttpGetLastError: The request has timed out."));
  EXPECT_TRUE(HasLine("[INFO]", "Total Bytes read so far:1000"));
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestEx : second attempt to recover from previous error"));
  EXPECT_TRUE(Leftovers(temp_).empty());
}

TEST_F(DownloadTest, TimeoutRecoveryAppendsTheRangeToAByteIdenticalFile) {
  const std::string body = twtest::PatternBytes(700000);
  Response whole = Response::Ok(body);
  whole.honourRange = true;
  server_.Serve("/big.bin", whole);
  const std::string dest = Dest("big.bin");

  InjectTimeoutAfter(100000);
  EXPECT_EQ(Download(L"/big.bin", dest), 0);
  ASSERT_TRUE(g_timeout.fired);
  EXPECT_TRUE(twtest::ReadFile(dest) == body);
  ASSERT_EQ(server_.RequestCount(), 2u);
  const std::string range = Range(1);
  ASSERT_EQ(range.rfind("bytes=", 0), 0u) << range;
  const uint64_t first = std::stoull(range.substr(6));
  EXPECT_GE(first, 100000u);
  EXPECT_EQ(range, "bytes=" + std::to_string(first) + "-700000");
  EXPECT_EQ(g_timeout.bytesRead, body.size());  // nothing read twice
  EXPECT_TRUE(HasLine("[DEBUG]", "InternetGetRequestEx : Content-Range Header message: Range: " + range));
  EXPECT_TRUE(Leftovers().empty());

  // A time-out before the first byte asks for everything from byte 0.
  server_.ClearRequests();
  InjectTimeoutAfter(0);
  EXPECT_EQ(Download(L"/big.bin", dest), 0);
  EXPECT_EQ(Range(1), "bytes=0-700000");
  EXPECT_TRUE(HasLine("[INFO]", "Total Bytes read so far:0"));
  EXPECT_TRUE(twtest::ReadFile(dest) == body);
}

TEST_F(DownloadTest, RecoveryAnsweredWithTheWholeFileStartsAfresh) {
  const std::string body = twtest::PatternBytes(500000);
  server_.Serve("/big.bin", Response::Ok(body));  // ignores Range: 200 with everything
  const std::string dest = Dest("big.bin");

  InjectTimeoutAfter(120000);
  EXPECT_EQ(Download(L"/big.bin", dest), 0);
  ASSERT_TRUE(g_timeout.fired);
  EXPECT_EQ(server_.RequestCount(), 2u);
  EXPECT_TRUE(twtest::ReadFile(dest) == body);
  EXPECT_TRUE(HasLine("[INFO]",
                      "InternetGetRequestEx : The server sent the whole file again; the temporary file starts afresh "));
  EXPECT_TRUE(Leftovers().empty());
}

// A server that ignores Range and stalls at about the same point of every
// answer: the file starts afresh once; the next whole-file answer ends the
// download with 12152 instead of starting over for ever.
TEST_F(DownloadTest, SecondWholeFileAnswerToARecoveryEndsTheDownload) {
  const std::string body = twtest::PatternBytes(20000);
  server_.Serve("/big.bin", Response::Ok(body));
  const std::string dest = Dest("big.bin");
  ASSERT_TRUE(twtest::WriteFile(dest, "old content"));
  twtest::WinHttpSeam seam;
  seam.record.stallAfter = 5000;
  seam.record.readLimit = 1000;
  seam.record.stallingAnswers = 10;  // a download that starts over for ever ends after ten

  EXPECT_EQ(Download(L"/big.bin", dest), ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
  ASSERT_EQ(server_.RequestCount(), 3u);
  const std::string last = Range(2);
  EXPECT_EQ(last.rfind("bytes=", 0), 0u) << last;
  EXPECT_TRUE(HasLine("[ERROR]", "InternetGetRequestEx : The server sent the whole file again instead of the bytes "
                                 "from " + last.substr(6, last.find('-') - 6) + "; the download ends "));
  EXPECT_EQ(twtest::ReadFile(dest), "old content");
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(DownloadTest, RecoveryAnsweredWithAnErrorEndsWithThatStatus) {
  const std::string body = twtest::PatternBytes(500000);
  server_.ServeSequence("/big.bin", {Response::Ok(body), Response::Status(404, "<html>gone</html>")});
  const std::string dest = Dest("big.bin");
  ASSERT_TRUE(twtest::WriteFile(dest, "old content"));

  InjectTimeoutAfter(120000);
  EXPECT_EQ(Download(L"/big.bin", dest), 404);
  EXPECT_EQ(twtest::ReadFile(dest), "old content");
  EXPECT_TRUE(HasLine("[ERROR]", "InternetGetRequestEx : Failed with the http status code, 404 "));
  EXPECT_TRUE(Leftovers().empty());

  // A 206 that does not start where the file stopped is refused too.
  server_.ServeWith("/odd.bin", [body](const twtest::RecordedRequest& rq) {
    if (!rq.Header("range")) return Response::Ok(body);
    Response r = Response::Ok(body);
    r.status = 206;
    r.headers.push_back({"Content-Range", "bytes 0-499999/500000"});
    return r;
  });
  InjectTimeoutAfter(120000);
  EXPECT_EQ(Download(L"/odd.bin", dest), 206);
  EXPECT_EQ(twtest::ReadFile(dest), "old content");
  EXPECT_TRUE(Leftovers().empty());
}

// A 206 continues the file only when its Content-Range says so: from the byte
// where the file stopped, with the first answer's length as the total.
TEST_F(DownloadTest, RecoveryRefusesA206ThatDoesNotSayItContinuesTheFile) {
  const std::string body = twtest::PatternBytes(500000);
  struct Case {
    const char* name;
    bool contentRange;
    uint64_t total;
  };
  const Case cases[] = {{"without Content-Range", false, 0}, {"with another total", true, 600000}};
  const std::string dest = Dest("big.bin");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(twtest::WriteFile(dest, "old content"));
    server_.ClearRequests();
    server_.ServeWith("/big.bin", [body, c](const twtest::RecordedRequest& rq) {
      const std::optional<std::string> range = rq.Header("range");
      if (!range) return Response::Ok(body);
      const uint64_t first = std::stoull(range->substr(6));
      Response r = Response::Status(206, body.substr(first));
      if (c.contentRange)
        r.headers.push_back({"Content-Range", "bytes " + std::to_string(first) + "-499999/" + std::to_string(c.total)});
      return r;
    });
    InjectTimeoutAfter(120000);
    EXPECT_EQ(Download(L"/big.bin", dest), 206);
    EXPECT_EQ(server_.RequestCount(), 2u);
    EXPECT_TRUE(twtest::ReadFile(dest) == "old content");
    EXPECT_TRUE(Leftovers().empty());
  }
}

TEST_F(DownloadTest, GzipAnswerIsDecompressed) {
  const std::string body = twtest::PatternBytes(3000000);
  Response gz = Response::Ok(body);
  gz.gzip = true;
  server_.Serve("/pkg.bin", gz);
  const std::string dest = Dest("pkg.bin");

  EXPECT_EQ(Download(L"/pkg.bin", dest, true), 0);
  EXPECT_TRUE(twtest::ReadFile(dest) == body);
  ASSERT_EQ(server_.RequestCount(), 1u);
  EXPECT_EQ(server_.Requests()[0].Header("accept-encoding").value_or(""), "gzip");
  EXPECT_TRUE(HasLine("[DEBUG]", "InternetGetRequestEx :  Response Header Informations : gzip "));
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestEx : Response Header contains content-Encoding as gzip "));
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestEx : Successfully downloaded the Gzip compressed file from the "
                                "server 127.0.0.1 "));
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestEx : File Decompressed successfully."));
  EXPECT_FALSE(reg_.ValueExists(RegView::k32, kGzipDetails, "GZIP_DECOMPRESSION_FAILURE_COUNT"));
  EXPECT_TRUE(Leftovers().empty());

  // Into memory as well.
  Response gzText = Response::Ok("<resources><r id=\"1\"/></resources>");
  gzText.gzip = true;
  server_.Serve("/res.xml", gzText);
  OptText data;
  EXPECT_EQ(GetData(L"/res.xml", data, true), 0);
  EXPECT_EQ(data.value_or(""), "<resources><r id=\"1\"/></resources>");
  EXPECT_TRUE(Leftovers(temp_).empty());
}

// A gzip stream may hold several members, one after the other: the answer is
// the whole of them decoded. Bytes after a member that are not a member (or a
// member cut short) make the stream undecodable, and the uncompressed download
// runs instead.
TEST_F(DownloadTest, GzipAnswerOfSeveralMembersIsDecodedWhole) {
  const std::string body = twtest::PatternBytes(400000);
  const std::string head = body.substr(0, 200000), tail = body.substr(200000);
  const std::string second = twtest::GzipEncode(tail);
  struct Case {
    const char* name;
    std::string encoded;
    bool fallsBack;
  };
  const Case cases[] = {
      {"two members", twtest::GzipEncode(head) + second, false},
      {"a member and bytes that are no member", twtest::GzipEncode(head) + "trailing garbage", true},
      {"a member and a cut one", twtest::GzipEncode(head) + second.substr(0, second.size() / 2), true},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = "/pkg" + std::to_string(++n) + ".bin";
    server_.ServeWith(path, [body, c](const twtest::RecordedRequest& rq) {
      if (!rq.Header("accept-encoding")) return Response::Ok(body);
      Response gz = Response::Ok(c.encoded);
      gz.headers.push_back({"Content-Encoding", "gzip"});
      return gz;
    });
    server_.ClearRequests();
    reg_.DeleteTree(RegView::k32, kTracking);
    const std::string dest = Dest("pkg" + std::to_string(n) + ".bin");

    EXPECT_EQ(Download(twtest::Widen(path).c_str(), dest, true), 0);
    EXPECT_TRUE(twtest::ReadFile(dest) == body);
    EXPECT_EQ(server_.RequestCount(), c.fallsBack ? 2u : 1u);
    EXPECT_EQ(reg_.GetDword(RegView::k32, kGzipDetails, "GZIP_DECOMPRESSION_FAILURE_COUNT").has_value(),
              c.fallsBack);
    EXPECT_TRUE(Leftovers().empty());
  }
}

TEST_F(DownloadTest, AnswerWithoutContentEncodingIsUsedAsReceived) {
  const std::string body = twtest::GzipEncode("looks compressed, is not announced");
  server_.Serve("/raw.gz", Response::Ok(body));
  const std::string dest = Dest("raw.gz");
  EXPECT_EQ(Download(L"/raw.gz", dest, true), 0);
  EXPECT_TRUE(twtest::ReadFile(dest) == body);
  EXPECT_TRUE(HasLine("[ERROR]", "InternetGetRequestEx : Response Header doesn't contain content-Encoding. "));
}

TEST_F(DownloadTest, CorruptGzipFallsBackToAnUncompressedDownload) {
  const std::string body = twtest::PatternBytes(40000);
  server_.ServeWith("/pkg.bin", [body](const twtest::RecordedRequest& rq) {
    Response r = Response::Ok(body);
    r.corruptGzip = rq.Header("accept-encoding").value_or("").find("gzip") != std::string::npos;
    return r;
  });
  ASSERT_TRUE(reg_.SetDword(RegView::k32, kGzipDetails, "GZIP_DECOMPRESSION_FAILURE_COUNT", 4));
  const std::string dest = Dest("pkg.bin");
  ASSERT_TRUE(twtest::WriteFile(dest, "old content"));

  EXPECT_EQ(Download(L"/pkg.bin", dest, true), 0);
  EXPECT_TRUE(twtest::ReadFile(dest) == body);
  auto reqs = server_.Requests();
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].Header("accept-encoding").value_or(""), "gzip");
  EXPECT_FALSE(reqs[1].Header("accept-encoding").has_value());
  EXPECT_TRUE(HasLine("[ERROR]",
                      "InternetGetRequestEx : File Decompression failure. So need to download the original file."));
  EXPECT_EQ(reg_.GetDword(RegView::k32, kGzipDetails, "GZIP_DECOMPRESSION_FAILURE_COUNT"), 5u);
  auto stamp = reg_.GetDword(RegView::k32, kTracking, "LastVTDataModifiedTime");
  ASSERT_TRUE(stamp.has_value());
  EXPECT_GT(*stamp, 1600000000u);
  auto errorLog = twtest::SplitLines(twtest::ReadFile(install_ + "logs\\twerror.log"));
  ASSERT_EQ(errorLog.size(), 2u);
  EXPECT_FALSE(errorLog[0].empty());
  EXPECT_EQ(errorLog[1], "\tGzip file Decompression failed for the file " + dest);
  EXPECT_TRUE(Leftovers().empty());

  // Into memory, with no counter yet: it starts at 1.
  reg_.DeleteTree(RegView::k32, kTracking);
  server_.ClearRequests();
  server_.ServeWith("/list.txt", [](const twtest::RecordedRequest& rq) {
    Response r = Response::Ok("line one\nline two\n");
    r.corruptGzip = rq.Header("accept-encoding").has_value();
    return r;
  });
  OptText data;
  EXPECT_EQ(GetData(L"/list.txt", data, true), 0);
  EXPECT_EQ(server_.RequestCount(), 2u);
  EXPECT_EQ(data.value_or(""), "line one\nline two\n");
  EXPECT_EQ(reg_.GetDword(RegView::k32, kGzipDetails, "GZIP_DECOMPRESSION_FAILURE_COUNT"), 1u);
  EXPECT_TRUE(Leftovers(temp_).empty());
}

TEST_F(DownloadTest, ResumableModeTakesTheResumableRouteForFilesOnly) {
  ASSERT_TRUE(reg_.SetDword(RegView::k32, kSettings, "DownloadMode", 1));
  const std::string meta = std::string(kAgentKeyPath) + "\\FileMetaData";
  reg_.DeleteTree(RegView::k32, meta);
  reg_.Track(RegView::k32, meta);
  Response app = Response::Ok("payload");
  app.honourRange = true;
  app.headers.push_back({"Last-Modified", "Wed, 21 Oct 2015 07:28:00 GMT"});
  server_.Serve("/files/app.bin", app);
  server_.Serve("/files/list.json", Response::Ok("{}"));
  const std::string dest = Dest("app.bin");
  ASSERT_TRUE(twtest::WriteFile(dest, "old content"));

  // A plain GET for the headers, then the byte range into the partial file.
  EXPECT_EQ(Download(L"/files/app.bin", dest, true), 0);
  EXPECT_EQ(twtest::ReadFile(dest), "payload");
  const auto requests = server_.RequestsFor("/files/app.bin");
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_FALSE(requests[0].Header("range").has_value());
  EXPECT_EQ(requests[1].Header("range").value_or(""), "bytes=0-7");
  EXPECT_FALSE(requests[1].Header("accept-encoding").has_value());
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetDownloader : Tarnwick Server & Port -> 127.0.0.1 : " +
                                    std::to_string(server_.Port()) + " "));
  EXPECT_FALSE(HasLine("[INFO]", "InternetGetDownloader : Download Mode 1"));
  EXPECT_TRUE(Leftovers().empty());
  EXPECT_NE(twtest::ReadFile(install_ + "logs\\downloadSuccessAccess.log").find("/files/app.bin"),
            std::string::npos);

  // Paths with ".json" and data requests stay with the plain download.
  server_.ClearRequests();
  EXPECT_EQ(Download(L"/files/list.json", Dest("list.json")), 0);
  EXPECT_EQ(twtest::ReadFile(Dest("list.json")), "{}");
  OptText data;
  EXPECT_EQ(GetData(L"/files/app.bin", data), 0);
  EXPECT_EQ(data.value_or(""), "payload");
  EXPECT_EQ(server_.RequestCount(), 2u);
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetDownloader : Download Mode 1"));
}

TEST_F(DownloadTest, DestinationBeyondMaxPathIsHandled) {
  const std::wstring folder = DeepFolder();
  const std::wstring dest = folder + L"\\file.bin";
  ASSERT_GT(dest.size(), static_cast<size_t>(MAX_PATH));
  const std::string body = twtest::PatternBytes(10000);
  Response gz = Response::Ok(body);
  gz.gzip = true;
  server_.Serve("/long.bin", gz);

  {
    twtest::MaxPathLimit limit;  // Windows' rule for long paths, which Wine lacks
    ASSERT_TRUE(limit.Installed());
    EXPECT_EQ(InternetGetRequestEx(false, "http", twtest::ScriptedServer::Host().c_str(), server_.Port(), nullptr,
                                   nullptr, nullptr, nullptr, L"/long.bin", dest.c_str(), nullptr, DOWNLOAD_FILE, true,
                                   true),
              0);
  }
  EXPECT_TRUE(ReadLongFile(dest) == body);
  EXPECT_EQ(FilesIn(folder).size(), 1u);  // the file itself, no temporary or scratch file

  // Into folders that do not exist yet: they are made on the way.
  const std::wstring deeper = folder + L"\\new\\newer\\file.bin";
  {
    twtest::MaxPathLimit limit;
    EXPECT_EQ(InternetGetRequestEx(false, "http", twtest::ScriptedServer::Host().c_str(), server_.Port(), nullptr,
                                   nullptr, nullptr, nullptr, L"/long.bin", deeper.c_str(), nullptr, DOWNLOAD_FILE, true,
                                   true),
              0);
  }
  EXPECT_TRUE(ReadLongFile(deeper) == body);
}

// The in-place decompression on its own: a stream whose output is many times
// its input, a truncated stream and an empty file.
TEST_F(DownloadTest, DecompressGzipFileInPlace) {
  const std::string zeros(8 * 1024 * 1024, '\0');
  const std::string path = Dest("z.gz");
  std::wstring wpath;
  ASSERT_TRUE(ChangeUtf8ToWideStr(path.c_str(), wpath));

  ASSERT_TRUE(twtest::WriteFile(path, twtest::GzipEncode(zeros)));
  EXPECT_EQ(DecompressGzipFile(wpath.c_str(), wpath.c_str()), 1);
  EXPECT_TRUE(twtest::ReadFile(path) == zeros);

  std::string truncated = twtest::GzipEncode(twtest::PatternBytes(100000));
  truncated.resize(truncated.size() - 12);
  ASSERT_TRUE(twtest::WriteFile(path, truncated));
  EXPECT_EQ(DecompressGzipFile(wpath.c_str(), wpath.c_str()), 0);
  EXPECT_TRUE(twtest::ReadFile(path) == truncated);

  ASSERT_TRUE(twtest::WriteFile(path, ""));
  EXPECT_EQ(DecompressGzipFile(wpath.c_str(), wpath.c_str()), 1);
  EXPECT_EQ(twtest::ReadFile(path), "");
  EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

}  // namespace
