// Checks the scripted test server through WinHTTP: every behaviour the transfer
// tests script (status, lengths, ranges, HEAD, gzip, stalls, early close,
// sequences, keep-alive) and the request records they assert on.
#include <gtest/gtest.h>

#include "tests/http/servers/winhttp_client.h"
#include "tests/support/win_http_server.h"

namespace {

using twtest::ClientRequest;
using twtest::Get;
using twtest::Gunzip;
using twtest::Response;
using twtest::ScriptedServer;

twtest::ClientAnswer Call(const ScriptedServer& server, const ClientRequest& rq) {
  return twtest::Fetch(ScriptedServer::Host(), server.Port(), rq);
}

// A receive time-out: Windows reports ERROR_WINHTTP_TIMEOUT (12002); Wine 8
// passes the socket's WSAETIMEDOUT (10060) through instead.
bool IsTimeout(DWORD error) { return error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT; }

TEST(ScriptedServer, AnswersScriptedPathAndRecordsTheRequest) {
  ScriptedServer server;
  ASSERT_TRUE(server.Ok()) << server.Error();
  Response r = Response::Ok("hello world");
  r.headers.push_back({"Last-Modified", "Wed, 21 Oct 2015 07:28:00 GMT"});
  server.Serve("/files/a.txt", r);

  auto a = Call(server, Get(L"/files/a.txt?v=2", L"X-Test: one"));
  ASSERT_EQ(a.error, 0u) << a.failedAt;
  EXPECT_EQ(a.status, 200);
  EXPECT_EQ(a.body, "hello world");
  EXPECT_TRUE(a.HasHeaderLine(L"Content-Length: 11"));
  EXPECT_TRUE(a.HasHeaderLine(L"Last-Modified: Wed, 21 Oct 2015 07:28:00 GMT"));

  auto reqs = server.Requests();
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0].method, "GET");
  EXPECT_EQ(reqs[0].target, "/files/a.txt?v=2");
  EXPECT_EQ(reqs[0].path, "/files/a.txt");
  EXPECT_EQ(reqs[0].Header("X-TEST").value_or(""), "one");
  EXPECT_EQ(reqs[0].Header("user-agent").value_or(""), "twtest");
  EXPECT_NE(reqs[0].raw.find("GET /files/a.txt?v=2 HTTP/1.1\r\n"), std::string::npos);
  EXPECT_EQ(reqs[0].raw.substr(reqs[0].raw.size() - 4), "\r\n\r\n");
  EXPECT_EQ(reqs[0].answeredStatus, 200);
}

TEST(ScriptedServer, FullTargetScriptWinsAndUnknownPathsGetTheDefault) {
  ScriptedServer server;
  server.Serve("/q", Response::Ok("plain"));
  server.Serve("/q?x=1", Response::Ok("query"));
  EXPECT_EQ(Call(server, Get(L"/q?x=1")).body, "query");
  EXPECT_EQ(Call(server, Get(L"/q?x=2")).body, "plain");
  EXPECT_EQ(Call(server, Get(L"/nothing")).status, 404);
  server.SetDefault(Response::Status(500, "boom"));
  auto a = Call(server, Get(L"/nothing"));
  EXPECT_EQ(a.status, 500);
  EXPECT_EQ(a.body, "boom");
  EXPECT_EQ(server.RequestsFor("/q").size(), 2u);
}

TEST(ScriptedServer, StatusesWithoutBody) {
  ScriptedServer server;
  Response proxyAuth = Response::Status(407);
  proxyAuth.headers.push_back({"Proxy-Authenticate", "Basic realm=\"test\""});
  server.Serve("/auth", proxyAuth);
  server.Serve("/same", Response::Status(304));
  EXPECT_EQ(Call(server, Get(L"/auth")).status, 407);
  auto a = Call(server, Get(L"/same"));
  EXPECT_EQ(a.error, 0u) << a.failedAt;
  EXPECT_EQ(a.status, 304);
  EXPECT_EQ(a.body, "");
}

TEST(ScriptedServer, RangesHonouredOrIgnored) {
  ScriptedServer server;
  const std::string body = twtest::PatternBytes(1000);
  Response ranged = Response::Ok(body);
  ranged.honourRange = true;
  server.Serve("/ranged", ranged);
  server.Serve("/whole", Response::Ok(body));

  auto a = Call(server, Get(L"/ranged", L"Range: bytes=100-199"));
  EXPECT_EQ(a.status, 206);
  EXPECT_TRUE(a.HasHeaderLine(L"Content-Range: bytes 100-199/1000"));
  EXPECT_EQ(a.body, body.substr(100, 100));

  a = Call(server, Get(L"/ranged", L"Range: bytes=900-"));
  EXPECT_EQ(a.status, 206);
  EXPECT_EQ(a.body, body.substr(900));

  // An end at or past the size (as the download recovery asks) is cut to the last byte.
  a = Call(server, Get(L"/ranged", L"Range: bytes=400-1000"));
  EXPECT_EQ(a.status, 206);
  EXPECT_TRUE(a.HasHeaderLine(L"Content-Range: bytes 400-999/1000"));
  EXPECT_EQ(a.body, body.substr(400));

  a = Call(server, Get(L"/ranged", L"Range: bytes=-10"));
  EXPECT_EQ(a.body, body.substr(990));

  a = Call(server, Get(L"/ranged", L"Range: bytes=1000-"));
  EXPECT_EQ(a.status, 416);
  EXPECT_TRUE(a.HasHeaderLine(L"Content-Range: bytes */1000"));

  a = Call(server, Get(L"/whole", L"Range: bytes=100-199"));
  EXPECT_EQ(a.status, 200);
  EXPECT_EQ(a.body, body);
}

TEST(ScriptedServer, HeadGetsHeadersOnly) {
  ScriptedServer server;
  server.Serve("/file", Response::Ok(std::string(5000, 'x')));
  Response noHead = Response::Ok("x");
  noHead.supportHead = false;
  server.Serve("/nohead", noHead);

  ClientRequest rq = Get(L"/file");
  rq.verb = L"HEAD";
  auto a = Call(server, rq);
  ASSERT_EQ(a.error, 0u) << a.failedAt;
  EXPECT_EQ(a.status, 200);
  EXPECT_TRUE(a.HasHeaderLine(L"Content-Length: 5000"));
  EXPECT_EQ(a.body, "");
  // The connection stays usable after a HEAD answer.
  EXPECT_EQ(Call(server, Get(L"/file")).body.size(), 5000u);

  rq.path = L"/nohead";
  EXPECT_EQ(Call(server, rq).status, 405);
  EXPECT_EQ(server.Requests()[0].method, "HEAD");
}

TEST(ScriptedServer, GzipRealAndCorrupt) {
  ScriptedServer server;
  const std::string text = std::string(3000, 'a') + "end";
  Response gz = Response::Ok(text);
  gz.gzip = true;
  server.Serve("/gz", gz);
  Response bad = Response::Ok(text);
  bad.corruptGzip = true;
  server.Serve("/bad", bad);

  auto a = Call(server, Get(L"/gz", L"Accept-Encoding: gzip"));
  ASSERT_EQ(a.error, 0u) << a.failedAt;
  EXPECT_TRUE(a.HasHeaderLine(L"Content-Encoding: gzip"));
  EXPECT_TRUE(a.HasHeaderLine(L"Content-Length: " + std::to_wstring(a.body.size())));
  EXPECT_LT(a.body.size(), text.size());
  EXPECT_EQ(Gunzip(a.body).value_or("<invalid>"), text);

  a = Call(server, Get(L"/bad", L"Accept-Encoding: gzip"));
  ASSERT_EQ(a.error, 0u) << a.failedAt;
  EXPECT_TRUE(a.HasHeaderLine(L"Content-Encoding: gzip"));
  EXPECT_EQ(a.body.substr(0, 2), "\x1f\x8b");
  EXPECT_FALSE(Gunzip(a.body).has_value());
}

TEST(ScriptedServer, StallTriggersTheClientReceiveTimeout) {
  ScriptedServer server;
  Response r = Response::Ok(twtest::PatternBytes(4000));
  r.stallAfter = 1500;
  r.stallMs = 5000;
  server.Serve("/stall", r);
  ClientRequest rq = Get(L"/stall");
  rq.receiveTimeoutMs = 500;
  auto a = Call(server, rq);
  EXPECT_EQ(a.status, 200);
  EXPECT_TRUE(IsTimeout(a.error)) << a.error << " at " << a.failedAt;
  EXPECT_STREQ(a.failedAt, "WinHttpQueryDataAvailable");
  EXPECT_EQ(a.body, twtest::PatternBytes(1500));
}

TEST(ScriptedServer, DelayBeforeHeadersTimesOutTheResponse) {
  ScriptedServer server;
  Response r = Response::Ok("late");
  r.delayMs = 5000;
  server.Serve("/late", r);
  ClientRequest rq = Get(L"/late");
  rq.responseTimeoutMs = 500;
  auto a = Call(server, rq);
  EXPECT_TRUE(IsTimeout(a.error)) << a.error;
  EXPECT_STREQ(a.failedAt, "WinHttpReceiveResponse");
}

TEST(ScriptedServer, ShortBodies) {
  ScriptedServer server;
  Response cut = Response::Ok(twtest::PatternBytes(1000));
  cut.closeAfter = 300;
  server.Serve("/cut", cut);
  Response longer = Response::Ok("0123456789");
  longer.contentLength = 20;
  server.Serve("/longer", longer);
  Response unknown = Response::Ok("no length here");
  unknown.sendContentLength = false;
  server.Serve("/nolength", unknown);

  // The client sees the announced length but only the bytes sent before the close.
  auto a = Call(server, Get(L"/cut"));
  EXPECT_TRUE(a.HasHeaderLine(L"Content-Length: 1000"));
  EXPECT_EQ(a.body, twtest::PatternBytes(300));

  a = Call(server, Get(L"/longer"));
  EXPECT_TRUE(a.HasHeaderLine(L"Content-Length: 20"));
  EXPECT_EQ(a.body, "0123456789");

  a = Call(server, Get(L"/nolength"));
  EXPECT_EQ(a.error, 0u) << a.failedAt;
  EXPECT_EQ(a.rawHeaders.find(L"Content-Length"), std::wstring::npos);
  EXPECT_EQ(a.body, "no length here");
}

TEST(ScriptedServer, SequenceThenLastRepeats) {
  ScriptedServer server;
  server.ServeSequence("/seq", {Response::Status(500, "first"), Response::Ok("second"), Response::Ok("third")});
  EXPECT_EQ(Call(server, Get(L"/seq")).status, 500);
  EXPECT_EQ(Call(server, Get(L"/seq")).body, "second");
  EXPECT_EQ(Call(server, Get(L"/seq")).body, "third");
  EXPECT_EQ(Call(server, Get(L"/seq")).body, "third");
  auto reqs = server.Requests();
  ASSERT_EQ(reqs.size(), 4u);
  EXPECT_EQ(reqs[0].answeredStatus, 500);
  EXPECT_EQ(reqs[3].answeredStatus, 200);
}

TEST(ScriptedServer, KeepAliveReusesTheConnectionUnlessClosed) {
  ScriptedServer server;
  server.Serve("/k", Response::Ok("kept"));
  Response closing = Response::Ok("closed");
  closing.keepAlive = false;
  server.Serve("/c", closing);

  twtest::Client client;
  EXPECT_EQ(client.Send(ScriptedServer::Host(), server.Port(), Get(L"/k")).body, "kept");
  EXPECT_EQ(client.Send(ScriptedServer::Host(), server.Port(), Get(L"/k")).body, "kept");
  auto c = client.Send(ScriptedServer::Host(), server.Port(), Get(L"/c"));
  EXPECT_TRUE(c.HasHeaderLine(L"Connection: close"));
  EXPECT_EQ(client.Send(ScriptedServer::Host(), server.Port(), Get(L"/k")).body, "kept");
  ClientRequest closeRq = Get(L"/k");
  closeRq.keepAlive = false;
  EXPECT_EQ(client.Send(ScriptedServer::Host(), server.Port(), closeRq).body, "kept");
  EXPECT_EQ(client.Send(ScriptedServer::Host(), server.Port(), Get(L"/k")).body, "kept");

  auto reqs = server.Requests();
  ASSERT_EQ(reqs.size(), 6u);
  EXPECT_EQ(reqs[1].connection, reqs[0].connection);
  EXPECT_EQ(reqs[2].connection, reqs[0].connection);  // the closing answer still used it
  EXPECT_NE(reqs[3].connection, reqs[2].connection);
  EXPECT_EQ(reqs[4].Header("connection").value_or(""), "close");
  EXPECT_NE(reqs[5].connection, reqs[4].connection);
  EXPECT_EQ(server.ConnectionCount(), 3);
}

TEST(ScriptedServer, PostBodyRecordedAndChunkedPiecesArriveWhole) {
  ScriptedServer server;
  Response r = Response::Ok(twtest::PatternBytes(10000));
  r.chunked = true;
  r.pieceSize = 3000;
  r.pieceDelayMs = 50;
  server.Serve("/post", r);
  server.ServeWith("/echo", [](const twtest::RecordedRequest& req) { return Response::Ok("got " + req.body); });

  ClientRequest rq = Get(L"/post");
  rq.verb = L"POST";
  rq.body = "a=1&b=two";
  auto a = Call(server, rq);
  ASSERT_EQ(a.error, 0u) << a.failedAt;
  EXPECT_TRUE(a.HasHeaderLine(L"Transfer-Encoding: chunked"));
  EXPECT_EQ(a.body, twtest::PatternBytes(10000));
  auto reqs = server.Requests();
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0].method, "POST");
  EXPECT_EQ(reqs[0].body, "a=1&b=two");
  EXPECT_EQ(reqs[0].Header("content-length").value_or(""), "9");

  rq.path = L"/echo";
  EXPECT_EQ(Call(server, rq).body, "got a=1&b=two");
}

TEST(ScriptedServer, ActsAsARefusingProxy) {
  ScriptedServer proxy;
  Response refuse = Response::Status(407);
  refuse.headers.push_back({"Proxy-Authenticate", "Basic realm=\"test\""});
  proxy.SetDefault(refuse);
  ClientRequest rq = Get(L"/file.txt?x=1");
  rq.proxy = L"127.0.0.1:" + std::to_wstring(proxy.Port());
  rq.proxyUser = L"user";
  rq.proxyPassword = L"wrong";
  auto a = twtest::Fetch(L"192.0.2.1", 8080, rq);
  EXPECT_EQ(a.status, 407);
  auto reqs = proxy.Requests();
  ASSERT_FALSE(reqs.empty());
  EXPECT_EQ(reqs[0].target, "http://192.0.2.1:8080/file.txt?x=1");
  EXPECT_EQ(reqs[0].path, "/file.txt");
}

TEST(ScriptedServer, StopsWhileAClientWaitsOnAStall) {
  twtest::ClientAnswer answer;
  std::thread client;
  {
    ScriptedServer server;
    Response r = Response::Ok(std::string(100, 'x'));
    r.stallAfter = 10;
    r.stallMs = 60000;
    server.Serve("/s", r);
    const int port = server.Port();
    client = std::thread([port, &answer] {
      ClientRequest rq = Get(L"/s");
      rq.receiveTimeoutMs = 30000;
      answer = twtest::Fetch(ScriptedServer::Host(), port, rq);
    });
    EXPECT_TRUE(server.WaitForRequests(1, 10000));
  }  // the destructor ends the stall and closes the connection
  client.join();
  // The client learns of the close at once (no time-out) with the bytes sent so far.
  EXPECT_FALSE(IsTimeout(answer.error)) << answer.error;
  EXPECT_EQ(answer.body, std::string(10, 'x'));
}

}  // namespace
