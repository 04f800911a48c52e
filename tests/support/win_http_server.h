// Scripted HTTP/1.1 server for the transfer tests: runs in the test process on
// its own thread, listens on 127.0.0.1 at a free port, answers each path as the
// test scripted it and records every request that reached it.
//
// Typical use:
//
//   twtest::ScriptedServer server;                    // listening when constructed
//   ASSERT_TRUE(server.Ok()) << server.Error();
//   twtest::Response r;
//   r.body = "hello";
//   r.headers.push_back({"Last-Modified", "Wed, 21 Oct 2015 07:28:00 GMT"});
//   server.Serve("/files/a.txt", r);                  // every request gets this
//
//   twtest::Response stall = twtest::Response::Ok(bigBody);
//   stall.stallAfter = 1000;                          // 1000 body bytes, then silence
//   stall.stallMs = 3000;                             // (longer than the client's receive time-out)
//   twtest::Response rest = twtest::Response::Ok(bigBody);
//   rest.honourRange = true;                          // "Range: bytes=1000-..." gets 206
//   server.ServeSequence("/files/big.bin", {stall, rest});  // 1st request, then 2nd and later
//
//   ... call the code under test with L"127.0.0.1" and server.Port() ...
//
//   auto reqs = server.Requests();                    // what went on the wire
//   EXPECT_EQ(reqs[1].Header("range").value_or(""), "bytes=1000-");
//
// Matching: a request is answered by the script for its whole target ("/a?x=1")
// if there is one, else by the script for its path without the query ("/a"),
// else by the default (404 with an empty body unless SetDefault changed it).
// Scripts can be replaced at any time, also while a client is connected.
//
// As a proxy: give the client "127.0.0.1:<Port()>" as its named proxy; requests
// then arrive with the whole URL as target ("http://host:port/a?x=1"). Scripts
// for that full target, or for the path "/a", answer them; SetDefault(407 with
// a "Proxy-Authenticate" header) makes a proxy that refuses every credential.
//
// Sequences: ServeSequence answers the n-th request to that path with the n-th
// response; once they are used up the last one answers every further request.
//
// Connections: HTTP/1.1 keep-alive, several requests per connection, unless
// the client sends "Connection: close" or the response says otherwise (see
// Response::keepAlive and the length options). Each request records the
// number of the connection it came on, so tests can see reuse.
//
// Everything is thread-safe. The destructor closes the listening socket and
// every open connection (also ones that are stalling) and joins the threads.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace twtest {

// One scripted answer.
struct Response {
  int status = 200;
  // Reason phrase; empty gives the usual one for the status ("OK", "Not Found"...).
  std::string reason;
  // The content (before gzip encoding, when gzip is set).
  std::string body;
  // Extra header lines, sent as given and in this order ("Last-Modified",
  // "Content-Encoding", "Proxy-Authenticate", ...). A "Content-Length" or
  // "Content-Type" here replaces the one the server would have sent.
  std::vector<std::pair<std::string, std::string>> headers;

  // Content-Length handling. By default the exact length of the bytes sent
  // is announced. sendContentLength = false announces none, and the server
  // then closes the connection after the body to mark its end (unless chunked).
  // contentLength announces this value instead (a wrong length): the server
  // sends the body as it is and closes the connection after it.
  bool sendContentLength = true;
  std::optional<uint64_t> contentLength;
  // Sends the body with "Transfer-Encoding: chunked" (no Content-Length).
  bool chunked = false;

  // Range handling. honourRange = true answers "Range: bytes=a-b", "bytes=a-"
  // and "bytes=-n" with 206 and Content-Range (an end past the last byte is
  // cut to the last byte; a start past the end gives 416). Only when status
  // is 200. As a real server does, an If-Range that does not name this
  // answer's version makes the server ignore Range and send the whole body:
  // an entity tag must equal the "ETag" header (a weak one never matches), a
  // date must equal the "Last-Modified" header. false ignores the Range
  // header and answers with the whole body.
  bool honourRange = false;
  // Adds "Accept-Ranges: bytes" to the answer.
  bool acceptRanges = false;

  // HEAD requests get the headers of the GET answer and no body. false
  // answers HEAD with 405 instead.
  bool supportHead = true;

  // Encodes the body with gzip (zlib, real gzip wrapper) and adds
  // "Content-Encoding: gzip". Lengths and ranges then refer to the encoded bytes.
  bool gzip = false;
  // Sends bytes that are not a valid gzip stream (a gzip header followed by
  // garbage, whose length is that of the body or at least 32 bytes) with
  // "Content-Encoding: gzip".
  bool corruptGzip = false;

  // Waits this long after reading the request before sending anything (to
  // make the client time out while waiting for the headers).
  int delayMs = 0;
  // After this many body bytes, stops sending for stallMs milliseconds and
  // then goes on with the rest (if the client is still there).
  std::optional<uint64_t> stallAfter;
  int stallMs = 0;
  // After this many body bytes, closes the connection (the announced length
  // stays what it was, so the client sees a short body).
  std::optional<uint64_t> closeAfter;
  // Sends the body in pieces of this size with pieceDelayMs between them (so
  // the client has to read it in several parts). 0 sends it in one go.
  size_t pieceSize = 0;
  int pieceDelayMs = 0;

  // false sends "Connection: close" and closes the connection after this answer.
  bool keepAlive = true;

  // Convenience makers.
  static Response Ok(std::string body);
  static Response Status(int status, std::string body = {});
};

// One request as it arrived.
struct RecordedRequest {
  std::string method;   // "GET", "HEAD", "POST"...
  std::string target;   // request target as sent: path and query
  std::string path;     // target without the query (and without "http://host:port"
                        // when the server is used as a proxy)
  std::string version;  // "HTTP/1.1"
  // Header names in lower case; a repeated header keeps its values joined by ", ".
  std::map<std::string, std::string> headers;
  // The request line and header lines exactly as received, up to and including
  // the empty line.
  std::string raw;
  std::string body;  // by Content-Length or chunked transfer coding
  // 1 for the first connection the server accepted, 2 for the next, ...
  int connection = 0;
  // The status the server answered with.
  int answeredStatus = 0;

  // Header value by name (any case), or nullopt.
  std::optional<std::string> Header(const std::string& name) const;
};

// Computes the answer to a request; for behaviour that depends on what arrived.
using Handler = std::function<Response(const RecordedRequest&)>;

class ScriptedServer {
 public:
  // Starts listening on 127.0.0.1 at a free port. Check Ok().
  ScriptedServer();
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  bool Ok() const;
  // Why the start failed ("" when it did not).
  std::string Error() const;
  uint16_t Port() const;
  // L"127.0.0.1", the address to give the client.
  static std::wstring Host();
  // "http://127.0.0.1:<port><path>".
  std::string Url(const std::string& path) const;

  // Every request for `path` gets `response`.
  void Serve(const std::string& path, Response response);
  // Successive requests for `path` get the responses in order; the last repeats.
  void ServeSequence(const std::string& path, std::vector<Response> responses);
  // Requests for `path` are answered by the handler (called on the server thread).
  void ServeWith(const std::string& path, Handler handler);
  // Answer for paths without a script (default: 404, empty body).
  void SetDefault(Response response);
  // Removes every script and request record (the default stays).
  void Reset();

  // Records so far (copies), in arrival order.
  std::vector<RecordedRequest> Requests() const;
  size_t RequestCount() const;
  // Requests whose path (without query) is `path`.
  std::vector<RecordedRequest> RequestsFor(const std::string& path) const;
  void ClearRequests();
  // Waits until at least n requests were recorded; false after timeoutMs.
  bool WaitForRequests(size_t n, int timeoutMs) const;
  // Number of connections accepted so far.
  int ConnectionCount() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

// Gzip-encodes data (gzip wrapper, default level); for building expected bytes.
std::string GzipEncode(const std::string& data);
// Bytes of a given length whose content is known: byte i is (i * 7 + i / 251) & 0xFF.
std::string PatternBytes(size_t length);

}  // namespace twtest
