// Checks the real servers of the "http_servers" fixture through WinHTTP: nginx
// over HTTP and HTTPS, its ranges and pre-compressed answers, and tinyproxy's
// authentication; and that a missing fixture is reported at once.
#include <gtest/gtest.h>

#include "tests/http/servers/winhttp_client.h"
#include "tests/support/scratch.h"
#include "tests/support/win_http_server.h"
#include "tests/support/win_servers.h"

namespace {

using twtest::ClientRequest;
using twtest::Get;
using twtest::Gunzip;

TEST(RealServers, NginxOverHttpAndHttps) {
  TW_REQUIRE_TEST_SERVERS(srv);
  auto a = twtest::Fetch(srv.Host(), srv.httpPort, Get(L"/hello.txt"));
  ASSERT_EQ(a.error, 0u) << a.failedAt;
  EXPECT_EQ(a.status, 200);
  EXPECT_EQ(a.body, "Hello from nginx\n");
  EXPECT_TRUE(a.HasHeaderLine(L"Content-Length: 17"));
  EXPECT_EQ(twtest::Fetch(srv.Host(), srv.httpPort, Get(L"/missing.txt")).status, 404);
  EXPECT_EQ(twtest::Fetch(srv.Host(), srv.httpPort, Get(L"/status/500")).status, 500);

  ClientRequest secure = Get(L"/big.bin");
  secure.https = true;
  a = twtest::Fetch(srv.Host(), srv.httpsPort, secure);
  ASSERT_EQ(a.error, 0u) << a.failedAt;
  EXPECT_EQ(a.status, 200);
  EXPECT_EQ(a.body.size(), srv.bigSize);
  EXPECT_TRUE(a.body == twtest::PatternBytes(static_cast<size_t>(srv.bigSize)));

  // The served tree is readable from the Windows side under its Z: path.
  EXPECT_EQ(twtest::ReadFile(srv.DocFile("dir/nested.txt")), "nested file\n");
}

TEST(RealServers, NginxRangesAndConditionalGet) {
  TW_REQUIRE_TEST_SERVERS(srv);
  const std::string big = twtest::PatternBytes(static_cast<size_t>(srv.bigSize));
  auto a = twtest::Fetch(srv.Host(), srv.httpPort, Get(L"/big.bin", L"Range: bytes=1000-1999"));
  ASSERT_EQ(a.error, 0u) << a.failedAt;
  EXPECT_EQ(a.status, 206);
  EXPECT_TRUE(a.HasHeaderLine(L"Content-Range: bytes 1000-1999/" + std::to_wstring(srv.bigSize)));
  EXPECT_TRUE(a.body == big.substr(1000, 1000));

  const std::wstring tail = L"Range: bytes=" + std::to_wstring(srv.bigSize - 10) + L"-";
  a = twtest::Fetch(srv.Host(), srv.httpPort, Get(L"/big.bin", tail));
  EXPECT_EQ(a.status, 206);
  EXPECT_TRUE(a.body == big.substr(big.size() - 10));

  // Last-Modified given back as If-Modified-Since gives 304.
  a = twtest::Fetch(srv.Host(), srv.httpPort, Get(L"/hello.txt"));
  size_t at = a.rawHeaders.find(L"Last-Modified: ");
  ASSERT_NE(at, std::wstring::npos);
  std::wstring stamp = a.rawHeaders.substr(at + 15, a.rawHeaders.find(L"\r\n", at) - at - 15);
  a = twtest::Fetch(srv.Host(), srv.httpPort, Get(L"/hello.txt", L"If-Modified-Since: " + stamp));
  EXPECT_EQ(a.status, 304);
}

TEST(RealServers, NginxPrecompressedAnswersCarryALength) {
  TW_REQUIRE_TEST_SERVERS(srv);
  const std::string plain = twtest::ReadFile(srv.DocFile("text.txt"));
  ASSERT_FALSE(plain.empty());

  auto a = twtest::Fetch(srv.Host(), srv.httpPort, Get(L"/text.txt", L"Accept-Encoding: gzip"));
  ASSERT_EQ(a.error, 0u) << a.failedAt;
  EXPECT_EQ(a.status, 200);
  EXPECT_TRUE(a.HasHeaderLine(L"Content-Encoding: gzip"));
  EXPECT_TRUE(a.HasHeaderLine(L"Content-Length: " + std::to_wstring(a.body.size())));
  EXPECT_LT(a.body.size(), plain.size());
  EXPECT_TRUE(Gunzip(a.body) == plain);

  a = twtest::Fetch(srv.Host(), srv.httpPort, Get(L"/text.txt"));
  EXPECT_EQ(a.rawHeaders.find(L"Content-Encoding"), std::wstring::npos);
  EXPECT_TRUE(a.body == plain);

  a = twtest::Fetch(srv.Host(), srv.httpPort, Get(L"/corrupt.txt", L"Accept-Encoding: gzip"));
  EXPECT_TRUE(a.HasHeaderLine(L"Content-Encoding: gzip"));
  EXPECT_FALSE(Gunzip(a.body).has_value());
}

TEST(RealServers, TinyproxyAuthenticates) {
  TW_REQUIRE_TEST_SERVERS(srv);
  ClientRequest rq = Get(L"/hello.txt");
  rq.proxy = srv.ProxyServer();
  rq.proxyUser = srv.ProxyUser();
  rq.proxyPassword = srv.ProxyPassword();
  rq.receiveTimeoutMs = rq.responseTimeoutMs = 20000;
  auto a = twtest::Fetch(srv.ProxiedHost(), srv.httpPort, rq);
  ASSERT_EQ(a.error, 0u) << a.failedAt;
  EXPECT_EQ(a.status, 200);
  EXPECT_EQ(a.body, "Hello from nginx\n");

  rq.proxyUser.clear();
  rq.proxyPassword.clear();
  EXPECT_EQ(twtest::Fetch(srv.ProxiedHost(), srv.httpPort, rq).status, 407);

  // This tinyproxy answers a failed check with 401 and a WWW-Authenticate
  // challenge instead of 407; either way the request does not get through.
  rq.proxyUser = srv.ProxyUser();
  rq.proxyPassword = L"wrong";
  a = twtest::Fetch(srv.ProxiedHost(), srv.httpPort, rq);
  EXPECT_TRUE(a.status == 407 || a.status == 401) << a.status;
  EXPECT_NE(a.body, "Hello from nginx\n");
}

TEST(RealServers, HttpsThroughTheOpenProxy) {
  TW_REQUIRE_TEST_SERVERS(srv);
  // A CONNECT tunnel; the authenticating proxy cannot be used for this under
  // Wine, whose WinHTTP does not answer a 407 to its CONNECT.
  ClientRequest rq = Get(L"/hello.txt");
  rq.https = true;
  rq.proxy = srv.OpenProxyServer();
  rq.receiveTimeoutMs = rq.responseTimeoutMs = 20000;
  auto a = twtest::Fetch(srv.ProxiedHost(), srv.httpsPort, rq);
  ASSERT_EQ(a.error, 0u) << a.failedAt;
  EXPECT_EQ(a.status, 200);
  EXPECT_EQ(a.body, "Hello from nginx\n");
}

TEST(RealServers, MissingServersAreReportedAtOnce) {
  auto info = twtest::ReadTestServers("/nonexistent/http-servers/servers.env");
  EXPECT_FALSE(info.ok);
  EXPECT_NE(info.error.find("Z:\\nonexistent\\http-servers\\servers.env"), std::string::npos) << info.error;
  EXPECT_NE(info.error.find("http_servers"), std::string::npos) << info.error;

  // An env file naming a port where nothing listens (one that was just free).
  int port = 0;
  {
    twtest::ScriptedServer taken;
    port = taken.Port();
  }
  const std::string dir = twtest::MakeScratchDir("servers-env");
  const std::string env = twtest::Join(dir, "servers.env");
  const std::string p = std::to_string(port);
  ASSERT_TRUE(twtest::WriteFile(env, "TW_HTTP_PORT=" + p + "\nTW_HTTPS_PORT=" + p + "\nTW_PROXY_PORT=" + p + "\nTW_OPEN_PROXY_PORT=" + p +
                                         "\nTW_DOCROOT=/tmp/none\n"));
  info = twtest::ReadTestServers(env);
  EXPECT_FALSE(info.ok);
  EXPECT_NE(info.error.find("nginx http (" + p + ")"), std::string::npos) << info.error;
  EXPECT_NE(info.error.find("http_servers"), std::string::npos) << info.error;
  EXPECT_EQ(info.docRoot, "Z:\\tmp\\none");
  twtest::RemoveTree(dir);
}

}  // namespace
