// Where the real test servers of this run listen (nginx for HTTP and HTTPS,
// tinyproxy as an authenticating proxy) and what they serve. The servers run
// on the Linux side as the ctest fixture "http_servers"; its start writes an
// env file that TestServers() reads.
//
// Register a test that uses them like this (in its CMakeLists.txt):
//
//   tw_add_test(NAME my_test WINDOWS SOURCES my_test.cpp LIBS ...
//     FIXTURES http_servers
//     ENV TW_SERVERS_ENV=${CMAKE_BINARY_DIR}/http-servers/servers.env)
//
// and start each test case with
//
//   TW_REQUIRE_TEST_SERVERS(srv);      // fails the test with a clear message when not running
//   ... srv.Host(), srv.httpPort, srv.httpsPort, srv.ProxyServer(), srv.ProxyUser() ...
//
// Running a test program by hand: start the servers first,
//   tests/http/servers/http-servers.sh start build/win64/http-servers
// then run the exe (without TW_SERVERS_ENV it looks for
// "http-servers\servers.env" beside the exe, which is where the line above
// puts it), and stop them again with
//   tests/http/servers/http-servers.sh stop build/win64/http-servers
//
// What nginx serves (document root docRoot, DocFile() names a file; every file has Last-Modified,
// ETag and "Accept-Ranges: bytes", and If-Modified-Since gives 304):
//   /hello.txt      "Hello from nginx\n" (17 bytes, text/plain)
//   /empty.txt      0 bytes
//   /config.xml     a small XML document (text/xml)
//   /data.json      a small JSON document (application/json)
//   /dir/nested.txt "nested file\n"
//   /big.bin        bigSize bytes (3 MiB); byte i is twtest::PatternBytes's byte i
//   /text.txt       5000 lines "line 000000 of the compressible test text\n" ...;
//                   with "Accept-Encoding: gzip" nginx sends the pre-compressed
//                   text.txt.gz instead: "Content-Encoding: gzip" and a Content-Length
//   /corrupt.txt    "the plain content of corrupt.txt\n"; with "Accept-Encoding: gzip"
//                   its pre-compressed twin, which is NOT a valid gzip stream
//   /post           any method, also POST with a body: 200 "posted\n"
//   /status/500, /status/503   those statuses
//   anything else   404
// Ranges ("Range: bytes=a-b", "bytes=a-") are answered 206 by nginx itself.
// HTTPS uses a self-signed certificate made at fixture start: clients must set
// the certificate-ignore security flags.
//
// tinyproxy, two instances, both for clients from 127.0.0.1 only and forwarding
// only to 127.0.0.1/localhost (so to nginx):
//  - ProxyServer() ("127.0.0.1:<proxyPort>") with Basic authentication,
//    ProxyUser()/ProxyPassword(). No credentials give 407; wrong ones give 401
//    from this tinyproxy version (it answers a failed check with "401
//    Unauthorized" and a WWW-Authenticate challenge). Under Wine, HTTPS through
//    it fails with 12157: Wine's WinHTTP does not answer a 407 to its CONNECT.
//  - OpenProxyServer() ("127.0.0.1:<openProxyPort>") without authentication,
//    for HTTPS through a proxy (CONNECT tunnel) and proxy tests without credentials.
// Requests through either must name nginx ProxiedHost() ("localhost"), not
// "127.0.0.1" (see there); Wine sends proxied requests as HTTP/1.0. For a proxy that says 407 to everything use the
// scripted server as the proxy (win_http_server.h).
#pragma once
#include <cstdint>
#include <string>

namespace twtest {

struct TestServerInfo {
  bool ok = false;
  std::string error;  // why ok is false: not started, unreadable env file, not answering

  int httpPort = 0;
  int httpsPort = 0;
  int proxyPort = 0;      // tinyproxy with Basic authentication
  int openProxyPort = 0;  // tinyproxy without authentication
  std::string proxyUser;
  std::string proxyPassword;
  std::string docRoot;      // Windows path of the document root: "Z:\\...\\docroot"
  std::string docRootUnix;  // the same on the Linux side
  uint64_t bigSize = 0;     // size of /big.bin

  static std::wstring Host() { return L"127.0.0.1"; }
  // The name to give nginx in requests sent through the proxy. Wine's WinHTTP
  // sends a request without the proxy form (and HTTPS without CONNECT) when the
  // target's host name equals the proxy's, so the target must be named
  // differently from "127.0.0.1"; tinyproxy resolves it to nginx.
  static std::wstring ProxiedHost() { return L"localhost"; }
  std::wstring ProxyServer() const;      // L"127.0.0.1:<proxyPort>"
  std::wstring OpenProxyServer() const;  // L"127.0.0.1:<openProxyPort>"
  std::wstring ProxyUser() const;
  std::wstring ProxyPassword() const;
  // Windows path of a served file: DocFile("dir/nested.txt") -> "Z:\\...\\docroot\\dir\\nested.txt".
  std::string DocFile(const std::string& relative) const;
};

// Reads the env file once (TW_SERVERS_ENV, else "http-servers\servers.env"
// beside the exe) and checks that the three ports accept connections.
const TestServerInfo& TestServers();
// The same for a given env file (a Linux or Windows path; "" = beside the exe), not cached.
TestServerInfo ReadTestServers(const std::string& envFile);

// "/a/b" -> "Z:\\a\\b": how a Linux path looks to a program under Wine.
std::string UnixToWinePath(const std::string& unixPath);

}  // namespace twtest

// Binds `var` to TestServers() and fails the current test (return) when the
// servers are not running.
#define TW_REQUIRE_TEST_SERVERS(var)                           \
  const ::twtest::TestServerInfo& var = ::twtest::TestServers(); \
  ASSERT_TRUE(var.ok) << var.error
