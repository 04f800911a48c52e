// The request core against the scripted server (what goes on the wire, what
// comes back) and through the WinHTTP call table (resends, restarts, options
// and the codes no server can provoke), with the log lines it writes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "agent/config/settings.h"
#include "http/requestcore.h"
#include "tests/support/logcheck.h"
#include "tests/http/core/seam.h"
#include "tests/support/scratch.h"
#include "tests/support/win_http_server.h"

namespace {

using twtest::Response;
using twtest::ScriptedServer;

// One call of GetInternetRequestHandle with the arguments a test changes;
// the handles are closed when it goes.
struct Request {
  bool useProxy = false;
  const char* protocol = "http";
  std::wstring server = L"127.0.0.1";
  int32_t port = 0;
  const wchar_t* proxyServer = nullptr;
  const wchar_t* proxyBypass = nullptr;
  const wchar_t* proxyUser = nullptr;
  const wchar_t* proxyPassword = nullptr;
  std::wstring path = L"/file";
  int32_t type = DOWNLOAD_FILE;
  bool keepAlive = true;
  bool gzip = false;
  RequestHandles handles;

  int32_t Run() {
    return GetInternetRequestHandle(useProxy, protocol, server.c_str(), port, proxyServer, proxyBypass, proxyUser,
                                    proxyPassword, path.c_str(), nullptr, nullptr, type, keepAlive, handles, gzip);
  }
};

class RequestCore : public testing::Test {
 protected:
  void SetUp() override {
    ResetAgentSettings();
    ASSERT_TRUE(server.Ok()) << server.Error();
    req.port = server.Port();
  }
  ScriptedServer server;
  Request req;
  twtest::LogCapture log{4, "requestcore"};
};

// --- on the wire ----------------------------------------------------------

TEST_F(RequestCore, PlainGetCarriesAgentAcceptAndKeepAlive) {
  server.Serve("/file", Response::Ok("content"));
  ASSERT_EQ(req.Run(), 0);
  EXPECT_EQ(req.handles.statusCode, 200);
  EXPECT_NE(req.handles.request.Get(), kNoHandle);
  ASSERT_EQ(server.RequestCount(), 1u);
  const twtest::RecordedRequest r = server.Requests()[0];
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.target, "/file");
  EXPECT_EQ(r.Header("user-agent").value_or(""), "TarnwickAgent");
  EXPECT_EQ(r.Header("accept").value_or(""), "*/*");
  EXPECT_EQ(r.Header("connection").value_or(""), "Keep-Alive");
  EXPECT_FALSE(r.Header("accept-encoding").has_value());
  EXPECT_TRUE(twtest::HasLine(log, "[DEBUG]", "@@@@@@@@ Inside GetInternetRequestHandle Method @@@@@@@@ \n"));
  EXPECT_TRUE(twtest::HasLine(log, "[INFO]", "GetInternetRequestHandle : IsAcceptEncodingGzip-Enabled -> 0\n"));
  EXPECT_TRUE(twtest::HasLine(log, "[DEBUG]", "GetInternetRequestHandle :  Header Informations : "));
  EXPECT_NE(log.Text().find("\n HTTP/1.1 200 OK"), std::string::npos);  // the raw header block follows
  EXPECT_TRUE(twtest::HasLine(log, "[DEBUG]", "@@@@@@@@ End of GetInternetRequestHandle Method @@@@@@@@ \n"));
}

TEST_F(RequestCore, RangeHeaderForKindOneAndHeadForKindTwo) {
  Response r = Response::Ok("0123456789");
  r.honourRange = true;
  server.Serve("/file", r);
  req.handles.requestKind = RequestKind::kRangedGet;
  req.handles.extraHeader = L"Range: bytes=4-";
  ASSERT_EQ(req.Run(), 0);
  EXPECT_EQ(req.handles.statusCode, 206);

  Request head;
  head.port = server.Port();
  head.handles.requestKind = RequestKind::kHead;
  head.handles.extraHeader = L"Range: bytes=0-1";  // only kind 1 sends it
  ASSERT_EQ(head.Run(), 0);
  EXPECT_EQ(head.handles.statusCode, 200);

  const auto reqs = server.Requests();
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].method, "GET");
  EXPECT_EQ(reqs[0].Header("range").value_or(""), "bytes=4-");
  EXPECT_EQ(reqs[1].method, "HEAD");
  EXPECT_FALSE(reqs[1].Header("range").has_value());
}

TEST_F(RequestCore, ConnectionCloseAndGzipWhenAsked) {
  server.Serve("/file", Response::Ok("x"));
  req.gzip = true;
  req.keepAlive = false;
  ASSERT_EQ(req.Run(), 0);
  ASSERT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(server.Requests()[0].Header("accept-encoding").value_or(""), "gzip");
  EXPECT_EQ(server.Requests()[0].Header("connection").value_or(""), "close");
  EXPECT_TRUE(twtest::HasLine(log, "[INFO]", "GetInternetRequestHandle : IsAcceptEncodingGzip-Enabled -> 1\n"));
  EXPECT_TRUE(twtest::HasLine(log, "[DEBUG]", "WinHttpSendRequest with \"Accept-Encoding: gzip\" Header\n"));
}

TEST_F(RequestCore, ErrorStatusesReturnZeroButProxyRefusalIs407) {
  server.Serve("/missing", Response::Status(404));
  server.Serve("/broken", Response::Status(500, "oops"));
  req.path = L"/missing";
  EXPECT_EQ(req.Run(), 0);
  EXPECT_EQ(req.handles.statusCode, 404);

  Request broken;
  broken.port = server.Port();
  broken.path = L"/broken";
  EXPECT_EQ(broken.Run(), 0);
  EXPECT_EQ(broken.handles.statusCode, 500);

  Response refused = Response::Status(407);
  refused.headers.push_back({"Proxy-Authenticate", "Basic realm=\"proxy\""});
  server.Serve("/proxy", refused);
  Request proxied;
  proxied.port = server.Port();
  proxied.path = L"/proxy";
  EXPECT_EQ(proxied.Run(), 407);
  EXPECT_EQ(proxied.handles.statusCode, 407);
  EXPECT_TRUE(twtest::HasLine(log, "[ERROR]", "GetInternetRequestHandle : Proxy Credentials are failed to authenticate 407 \n"));
}

// --- time-out options -------------------------------------------------------

TEST_F(RequestCore, OnlyGetDataSetsTheTimeouts) {
  server.Serve("/file", Response::Ok("x"));
  gv_httpConnectionTimeout = 1234;
  gv_httpRequestTimeout = 5678;
  {
    twtest::WinHttpSeam seam;
    req.type = GET_DATA;
    ASSERT_EQ(req.Run(), 0);
    const auto* connect = seam.record.FindOption(WINHTTP_OPTION_CONNECT_TIMEOUT);
    const auto* receive = seam.record.FindOption(WINHTTP_OPTION_RECEIVE_TIMEOUT);
    ASSERT_NE(connect, nullptr);
    ASSERT_NE(receive, nullptr);
    EXPECT_EQ(connect->number, 1234u);
    EXPECT_EQ(receive->number, 5678u);
  }
  {
    twtest::WinHttpSeam seam;
    Request download;
    download.port = server.Port();
    download.type = DOWNLOAD_FILE;
    ASSERT_EQ(download.Run(), 0);
    EXPECT_FALSE(seam.record.HasOption(WINHTTP_OPTION_CONNECT_TIMEOUT));
    EXPECT_FALSE(seam.record.HasOption(WINHTTP_OPTION_RECEIVE_TIMEOUT));
    EXPECT_TRUE(seam.record.options.empty());  // plain http: no option at all
  }
}

// --- proxy settings ---------------------------------------------------------

TEST_F(RequestCore, WithoutUseProxyTheSessionHasNoProxy) {
  server.Serve("/file", Response::Ok("x"));
  twtest::WinHttpSeam seam;
  req.proxyServer = L"127.0.0.1:1";
  req.proxyBypass = L"<local>";
  req.proxyUser = L"user";
  req.proxyPassword = L"secret";
  ASSERT_EQ(req.Run(), 0);  // a proxy on port 1 would have failed
  ASSERT_EQ(seam.record.sessions.size(), 1u);
  EXPECT_EQ(seam.record.sessions[0].accessType, static_cast<DWORD>(WINHTTP_ACCESS_TYPE_NO_PROXY));
  EXPECT_EQ(seam.record.sessions[0].proxy, L"");
  EXPECT_FALSE(seam.record.HasOption(WINHTTP_OPTION_PROXY_USERNAME));
  EXPECT_FALSE(seam.record.HasOption(WINHTTP_OPTION_PROXY_PASSWORD));
  EXPECT_FALSE(twtest::HasLine(log, "[DEBUG]", "GetInternetRequestHandle : Proxy Server Name : 127.0.0.1:1 \n"));
}

// The proxy credentials are applied only when longer than one character. The
// scripted server stands in for the proxy here: WinHTTP sends a request for an
// http URL through a named proxy in absolute form.
TEST_F(RequestCore, ProxyCredentialsOfOneCharacterAreNotApplied) {
  server.SetDefault(Response::Ok("via proxy"));
  const std::wstring proxy = L"127.0.0.1:" + std::to_wstring(server.Port());
  struct Case {
    const wchar_t* user;
    const wchar_t* password;
    bool userSet;
    bool passwordSet;
  } cases[] = {
      {L"u", L"pw", false, false},  // a one-character user: neither is set
      {L"", L"pw", false, false},
      {L"us", L"p", true, false},
      {L"us", L"pw", true, true},
  };
  for (const Case& c : cases) {
    twtest::WinHttpSeam seam;
    Request r;
    r.useProxy = true;
    r.server = L"agent.example";
    r.port = 8080;
    r.proxyServer = proxy.c_str();
    r.proxyUser = c.user;
    r.proxyPassword = c.password;
    ASSERT_EQ(r.Run(), 0);
    ASSERT_EQ(seam.record.sessions.size(), 1u);
    EXPECT_EQ(seam.record.sessions[0].accessType, static_cast<DWORD>(WINHTTP_ACCESS_TYPE_NAMED_PROXY));
    EXPECT_EQ(seam.record.sessions[0].proxy, proxy);
    const auto* user = seam.record.FindOption(WINHTTP_OPTION_PROXY_USERNAME);
    const auto* password = seam.record.FindOption(WINHTTP_OPTION_PROXY_PASSWORD);
    EXPECT_EQ(user != nullptr, c.userSet) << "user " << testing::PrintToString(std::wstring(c.user));
    EXPECT_EQ(password != nullptr, c.passwordSet) << "user " << testing::PrintToString(std::wstring(c.user));
    if (user) {
      EXPECT_EQ(user->text, c.user);
    }
    if (password) {
      EXPECT_EQ(password->text, c.password);
    }
  }
  const auto reqs = server.Requests();
  ASSERT_FALSE(reqs.empty());
  EXPECT_EQ(reqs[0].target, "http://agent.example:8080/file");
  EXPECT_TRUE(twtest::HasLine(log, "[DEBUG]", "GetInternetRequestHandle : Proxy Server Name : " + std::string("127.0.0.1:") +
                      std::to_string(server.Port()) + " \n"));
}

// --- resend policy ------------------------------------------------------------

TEST_F(RequestCore, FiveResendRequestsThenTheHeaderReadFails) {
  twtest::WinHttpSeam seam;
  seam.record.sendsSucceedSilently = true;
  seam.record.receiveErrors = {12032, 12032, 12032, 12032, 12032};
  const int32_t rc = req.Run();
  EXPECT_EQ(seam.record.sendHeaders.size(), 5u);
  EXPECT_EQ(seam.record.receives, 5);
  EXPECT_EQ(seam.record.sleeps, std::vector<DWORD>(5, 5000));
  EXPECT_EQ(seam.record.sessions.size(), 1u);
  EXPECT_NE(rc, 0);
  EXPECT_NE(rc, 12032);
  EXPECT_TRUE(twtest::HasLine(log, "[ERROR]", "GetInternetRequestHandle :  Error in WinHttpQueryHeaders --> " + std::to_string(rc) + " \n"));
  EXPECT_EQ(twtest::CountMessage(log, "GetInternetRequestHandle : Resending the data to the server 127.0.0.1 \n"),
            5);
  EXPECT_EQ(server.RequestCount(), 0u);
  // The caller closes what is still open.
  EXPECT_NE(req.handles.request.Get(), kNoHandle);
}

// A resend or restart that gets a response answers what that response gives:
// the failed receive before it stays in the log only. A header the request
// had to go out without is still reported.
TEST_F(RequestCore, RecoveredReceiveAnswersWhatTheResponseGives) {
  server.Serve("/file", Response::Ok("x"));
  struct Case {
    DWORD receiveError;
    DWORD headerError;  // the "Connection" header cannot be added
    int32_t result;
    size_t sessions;
    const char* logged;
  };
  const Case cases[] = {
      {12032, 0, 0, 1, "GetInternetRequestHandle : Resending the data to the server 127.0.0.1 \n"},
      {12152, 0, 0, 2,
       "GetInternetRequestHandle : Going to close the request handle and going to resending the data to the server "
       "127.0.0.1,as the error code received is 12152 \n"},
      {12015, 0, 0, 2,
       "GetInternetRequestHandle : Going to close the request handle and going to resending the data to the server "
       "127.0.0.1,as the error code received is 12015 \n"},
      {12032, 12153, 12153, 1, "GetInternetRequestHandle :  Error in WinHttpAddRequestHeaders --> 12153 \n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.receiveError);
    twtest::WinHttpSeam seam;
    seam.record.receiveErrors = {c.receiveError};
    if (c.headerError) seam.record.addHeaderErrors = {c.headerError};
    Request r;
    r.port = server.Port();
    const int logged = twtest::CountMessage(log, c.logged);
    EXPECT_EQ(r.Run(), c.result);
    EXPECT_EQ(r.handles.statusCode, 200);
    EXPECT_EQ(seam.record.sessions.size(), c.sessions);
    EXPECT_EQ(twtest::CountMessage(log, c.logged), logged + 1);
  }
}

TEST_F(RequestCore, LoginFailureOnSendRestartsOnceFromANewSession) {
  server.Serve("/file", Response::Ok("x"));
  twtest::WinHttpSeam seam;
  seam.record.sendErrors = {12015};
  EXPECT_EQ(req.Run(), 0);
  EXPECT_EQ(req.handles.statusCode, 200);
  EXPECT_EQ(seam.record.sessions.size(), 2u);
  EXPECT_EQ(seam.record.connects, 2);
  EXPECT_EQ(seam.record.closes, 3);  // the abandoned request, connection and session
  EXPECT_TRUE(seam.record.sleeps.empty());
  EXPECT_EQ(server.RequestCount(), 1u);
  EXPECT_TRUE(twtest::HasLine(log, "[INFO]", "GetInternetRequestHandle : Going to close the request handle and going to resending the data "
                      "to the server 127.0.0.1 \n"));
}

TEST_F(RequestCore, SecondSendFailureAfterTheRestartEndsTheCall) {
  for (DWORD code : {12015u, 12017u}) {
    twtest::WinHttpSeam seam;
    seam.record.sendErrors = {code, code};
    Request r;
    r.port = server.Port();
    EXPECT_EQ(r.Run(), static_cast<int32_t>(code));
    EXPECT_EQ(seam.record.sessions.size(), 2u);
    EXPECT_EQ(seam.record.sendHeaders.size(), 2u);
    EXPECT_TRUE(twtest::HasLine(log, "[ERROR]", "GetInternetRequestHandle :  Error in WinHttpSendRequest -> " + std::to_string(code) + " \n"));
  }
  EXPECT_TRUE(twtest::HasLine(log, "[ERROR]", "HttpGetLastError: The login attempt failed . A new request handle must be created before "
                      "retrying the function that originally produced this error. \n"));
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(RequestCore, UnparsableResponseRestartsOnce) {
  server.Serve("/file", Response::Ok("x"));
  twtest::WinHttpSeam seam;
  seam.record.receiveErrors = {12152};
  const int32_t rc = req.Run();
  EXPECT_EQ(seam.record.sessions.size(), 2u);
  EXPECT_EQ(seam.record.closes, 3);
  EXPECT_EQ(req.handles.statusCode, 200);
  EXPECT_EQ(rc, 0);  // the restarted request got its answer
  EXPECT_EQ(server.RequestCount(), 2u);
  EXPECT_TRUE(twtest::HasLine(log, "[INFO]", "GetInternetRequestHandle : Going to close the request handle and going to resending the data "
                      "to the server 127.0.0.1,as the error code received is 12152 \n"));
}

TEST_F(RequestCore, RepeatedUnparsableResponseRetriesOnTheSameRequest) {
  twtest::WinHttpSeam seam;
  seam.record.sendsSucceedSilently = true;
  seam.record.receiveErrors = {12152, 12152, 12152, 12152, 12152, 12152};
  const int32_t rc = req.Run();
  // One restart, then five attempts on the new request.
  EXPECT_EQ(seam.record.sessions.size(), 2u);
  EXPECT_EQ(seam.record.receives, 6);
  EXPECT_TRUE(seam.record.sleeps.empty());
  EXPECT_NE(rc, 0);
  EXPECT_TRUE(twtest::HasLine(log, "[ERROR]", "GetInternetRequestHandle :  Error in WinHttpQueryHeaders --> " + std::to_string(rc) + " \n"));
}

TEST_F(RequestCore, OtherReceiveErrorEndsAtOnce) {
  twtest::WinHttpSeam seam;
  seam.record.sendsSucceedSilently = true;
  seam.record.receiveErrors = {12002};
  EXPECT_EQ(req.Run(), 12002);
  EXPECT_EQ(seam.record.receives, 1);
  EXPECT_TRUE(twtest::HasLine(log, "[INFO]", "GetInternetRequestHandle :  Error - WinHttpReceiveResponse --> 12002 \n"));
  EXPECT_TRUE(twtest::HasLine(log, "[ERROR]", "HttpGetLastError: The request has timed out.\n"));
}

// --- failures before a request exists ----------------------------------------

TEST_F(RequestCore, FailedOpenRequestClosesWhatWasOpened) {
  twtest::WinHttpSeam seam;
  seam.record.openRequestError = 12005;
  EXPECT_EQ(req.Run(), 12005);
  EXPECT_EQ(seam.record.closes, 2);  // connection and session
  EXPECT_EQ(req.handles.session.Get(), kNoHandle);
  EXPECT_EQ(req.handles.connection.Get(), kNoHandle);
  EXPECT_EQ(req.handles.request.Get(), kNoHandle);
  EXPECT_TRUE(twtest::HasLine(log, "[ERROR]", "GetInternetRequestHandle :  Error in WinHttpOpenRequest --> 12005 \n"));
  EXPECT_TRUE(twtest::HasLine(log, "[ERROR]", "HttpGetLastError: The URL is invalid.\n"));
}

TEST_F(RequestCore, FailedConnectClosesTheSession) {
  twtest::WinHttpSeam seam;
  seam.record.connectError = 12007;
  const int32_t rc = req.Run();
  EXPECT_EQ(rc, 12007);
  EXPECT_EQ(seam.record.closes, 1);
  EXPECT_EQ(req.handles.session.Get(), kNoHandle);
  EXPECT_EQ(req.handles.connection.Get(), kNoHandle);
  EXPECT_TRUE(twtest::HasLine(log, "[ERROR]", "GetInternetRequestHandle :  Error in WinHttpConnect --> " + std::to_string(rc) + " \n"));
}

// --- error sentences ------------------------------------------------------------

TEST_F(RequestCore, ErrorSentences) {
  HttpGetLastError(12184);
  HttpGetLastError(12032);
  EXPECT_EQ(twtest::CountMessage(log, "HttpGetLastError: The WinHTTP function failed. The desired function can be "
                                         "retried on the same request handle \n"),
            2);
  HttpGetLastError(5);  // not a WinHTTP code: the system's text
  bool systemText = false;
  for (const std::string& m : log.Messages())
    if (m.rfind("Error Code : 5 , Error Message : ", 0) == 0) systemText = true;
  EXPECT_TRUE(systemText);
  HttpGetLastError(12038);
  bool example = false;
  for (const std::string& m : log.Messages())
    if (m.rfind("HttpGetLastError: SSL certificate common name (host name field) is incorrect. For example", 0) == 0)
      example = true;
  EXPECT_TRUE(example);
}

}  // namespace
