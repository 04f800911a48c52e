// Plain downloads from a real nginx (fixture "http_servers"): HTTP and HTTPS,
// a pre-compressed gzip answer, and the time-out recovery answered by nginx's
// own range support.
#include <gtest/gtest.h>
#include <windows.h>

#include "tests/http/download/download_fixture.h"
#include "tests/support/win_servers.h"

using twtest::RegView;

namespace {

uint64_t g_bytesRead = 0;
bool g_timedOut = false;

BOOL WINAPI CountingReadData(HINTERNET request, LPVOID buffer, DWORD size, LPDWORD read) {
  const BOOL ok = RealWinHttpApi().ReadData(request, buffer, size, read);
  if (ok) g_bytesRead += *read;
  return ok;
}

// A receive time-out once a megabyte has arrived.
BOOL WINAPI TimingOutQueryDataAvailable(HINTERNET request, LPDWORD available) {
  if (!g_timedOut && g_bytesRead >= 1024 * 1024) {
    g_timedOut = true;
    ::SetLastError(ERROR_WINHTTP_TIMEOUT);
    return FALSE;
  }
  return RealWinHttpApi().QueryDataAvailable(request, available);
}

std::string TextTxt() {
  std::string text;
  char line[64];
  for (int i = 0; i < 5000; ++i) {
    std::snprintf(line, sizeof line, "line %06d of the compressible test text\n", i);
    text += line;
  }
  return text;
}

using DownloadNginxTest = twtest::DownloadFixture;

TEST_F(DownloadNginxTest, HttpAndHttpsDownloadsAreByteIdentical) {
  TW_REQUIRE_TEST_SERVERS(srv);
  const std::string big = twtest::PatternBytes(srv.bigSize);

  EXPECT_EQ(DownloadFrom("http", srv.httpPort, L"/big.bin", Dest("http.bin")), 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("http.bin")) == big);
  EXPECT_EQ(DownloadFrom("https", srv.httpsPort, L"/big.bin", Dest("https.bin")), 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("https.bin")) == big);
  EXPECT_TRUE(HasLine("[DEBUG]",
                      "GetInternetRequestHandle :  The request is updated with the internet option security flags. "));

  OptText data;
  EXPECT_EQ(GetDataFrom("https", srv.httpsPort, L"/config.xml", data), 0);
  EXPECT_EQ(data.value_or(""),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config><item name=\"a\">1</item></config>\n");
  EXPECT_TRUE(Leftovers().empty());
  EXPECT_TRUE(Leftovers(temp_).empty());
}

TEST_F(DownloadNginxTest, PrecompressedAnswerIsDecompressed) {
  TW_REQUIRE_TEST_SERVERS(srv);
  EXPECT_EQ(DownloadFrom("http", srv.httpPort, L"/text.txt", Dest("text.txt"), true), 0);
  EXPECT_TRUE(twtest::ReadFile(Dest("text.txt")) == TextTxt());
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestEx : Response Header contains content-Encoding as gzip "));
  EXPECT_TRUE(HasLine("[INFO]", "InternetGetRequestEx : File Decompressed successfully."));

  OptText data;
  EXPECT_EQ(GetDataFrom("https", srv.httpsPort, L"/text.txt", data, true), 0);
  EXPECT_TRUE(data.value_or("") == TextTxt());
  EXPECT_FALSE(reg_.ValueExists(RegView::k32, kGzipDetails, "GZIP_DECOMPRESSION_FAILURE_COUNT"));
}

TEST_F(DownloadNginxTest, TimeoutRecoveryUsesNginxRanges) {
  TW_REQUIRE_TEST_SERVERS(srv);
  g_bytesRead = 0;
  g_timedOut = false;
  g_winHttp.ReadData = &CountingReadData;
  g_winHttp.QueryDataAvailable = &TimingOutQueryDataAvailable;
  EXPECT_EQ(DownloadFrom("https", srv.httpsPort, L"/big.bin", Dest("big.bin")), 0);
  EXPECT_TRUE(g_timedOut);
  EXPECT_EQ(g_bytesRead, srv.bigSize);  // the range request fetched only the rest
  EXPECT_TRUE(twtest::ReadFile(Dest("big.bin")) == twtest::PatternBytes(srv.bigSize));
  EXPECT_TRUE(Leftovers().empty());
}

}  // namespace
