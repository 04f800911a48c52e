// Scripted HTTP/1.1 server for the transfer tests: accept loop, request parsing,
// scripted answers (ranges, gzip, stalls, early close) and the request records.
// Sockets are non-blocking and polled in short slices so that a stop is never
// held up by a silent or slow client.
// Winsock before windows.h (the header itself needs neither).
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "tests/support/win_http_server.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace twtest {

namespace {

constexpr int kSliceMs = 20;
constexpr size_t kMaxHead = 64 * 1024;
constexpr uint64_t kMaxBody = 256ull * 1024 * 1024;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

const char* ReasonFor(int status) {
  switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 407: return "Proxy Authentication Required";
    case 408: return "Request Timeout";
    case 413: return "Payload Too Large";
    case 416: return "Range Not Satisfiable";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Status";
  }
}

bool ParseU64(const std::string& s, uint64_t& out) {
  if (s.empty() || s.size() > 19) return false;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  out = v;
  return true;
}

// A single byte range of a "bytes=" header, resolved against the entity size.
enum class RangeResult { kNone, kSatisfiable, kUnsatisfiable };

RangeResult ResolveRange(const std::string& header, uint64_t size, uint64_t& first, uint64_t& last) {
  std::string h = Trim(header);
  if (h.size() < 6 || Lower(h.substr(0, 6)) != "bytes=") return RangeResult::kNone;
  std::string spec = Trim(h.substr(6));
  if (spec.find(',') != std::string::npos) return RangeResult::kNone;  // several ranges: whole body
  size_t dash = spec.find('-');
  if (dash == std::string::npos) return RangeResult::kNone;
  std::string a = Trim(spec.substr(0, dash)), b = Trim(spec.substr(dash + 1));
  uint64_t va = 0, vb = 0;
  if (a.empty()) {  // suffix: the last n bytes
    if (!ParseU64(b, vb)) return RangeResult::kNone;
    if (vb == 0 || size == 0) return RangeResult::kUnsatisfiable;
    first = vb >= size ? 0 : size - vb;
    last = size - 1;
    return RangeResult::kSatisfiable;
  }
  if (!ParseU64(a, va)) return RangeResult::kNone;
  if (b.empty()) {
    vb = UINT64_MAX;
  } else if (!ParseU64(b, vb) || vb < va) {
    return RangeResult::kNone;
  }
  if (va >= size) return RangeResult::kUnsatisfiable;
  first = va;
  last = std::min(vb, size - 1);
  return RangeResult::kSatisfiable;
}

// A gzip header followed by a deflate block of the reserved type: every
// inflater rejects it at the first block.
std::string CorruptGzip(size_t length) {
  std::string out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
  out.push_back('\x07');
  size_t total = std::max<size_t>(length, 32);
  while (out.size() < total) out.push_back('\xff');
  return out;
}

std::string Hex(uint64_t v) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[v & 15]);
    v >>= 4;
  } while (v != 0);
  return out;
}

// The value of a header line the script gives (any case), or nullopt.
std::optional<std::string> HeaderOf(const Response& r, const char* name) {
  const std::string want = Lower(name);
  for (const auto& h : r.headers)
    if (Lower(h.first) == want) return h.second;
  return std::nullopt;
}

bool HeaderGiven(const Response& r, const char* name) { return HeaderOf(r, name).has_value(); }

// Whether an If-Range value names the version the answer carries (RFC 7233
// 3.2): an entity tag by strong comparison with the ETag, a date by equality
// with the Last-Modified text.
bool IfRangeMatches(const std::string& value, const Response& r) {
  if (value.rfind("W/", 0) == 0) return false;
  const bool entityTag = !value.empty() && value.front() == '"';
  const std::optional<std::string> current = HeaderOf(r, entityTag ? "ETag" : "Last-Modified");
  return current && *current == value && current->rfind("W/", 0) != 0;
}

}  // namespace

Response Response::Ok(std::string body) {
  Response r;
  r.body = std::move(body);
  return r;
}

Response Response::Status(int status, std::string body) {
  Response r;
  r.status = status;
  r.body = std::move(body);
  return r;
}

std::optional<std::string> RecordedRequest::Header(const std::string& name) const {
  auto it = headers.find(Lower(name));
  if (it == headers.end()) return std::nullopt;
  return it->second;
}

std::string GzipEncode(const std::string& data) {
  z_stream zs{};
  if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  std::string out;
  out.resize(deflateBound(&zs, static_cast<uLong>(data.size())) + 32);
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  int rc = deflate(&zs, Z_FINISH);
  size_t produced = out.size() - zs.avail_out;
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) return {};
  out.resize(produced);
  return out;
}

std::string PatternBytes(size_t length) {
  std::string out(length, '\0');
  for (size_t i = 0; i < length; ++i) out[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return out;
}

// ---------------------------------------------------------------------------

struct Script {
  std::vector<Response> responses;
  size_t next = 0;
  Handler handler;
};

struct ScriptedServer::State {
  std::mutex mu;
  mutable std::condition_variable cv;
  std::map<std::string, Script> scripts;
  Response fallback = Response::Status(404);
  std::vector<RecordedRequest> records;
  int connections = 0;

  std::atomic<bool> stopping{false};
  HANDLE stopEvent = nullptr;
  SOCKET listener = INVALID_SOCKET;
  uint16_t port = 0;
  std::string error;
  bool wsaStarted = false;
  std::thread acceptThread;
  std::vector<std::thread> workers;

  // Sleeps up to ms; false when the server is stopping.
  bool Pause(int ms) {
    if (ms <= 0) return !stopping;
    return WaitForSingleObject(stopEvent, static_cast<DWORD>(ms)) == WAIT_TIMEOUT && !stopping;
  }

  // Waits until the socket is readable (or writable); false on stop, error or time-out.
  bool WaitSocket(SOCKET s, bool forWrite, int timeoutMs) {
    int waited = 0;
    while (!stopping) {
      fd_set set;
      FD_ZERO(&set);
      FD_SET(s, &set);
      timeval tv{0, kSliceMs * 1000};
      int n = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &tv);
      if (n > 0) return true;
      if (n == SOCKET_ERROR) return false;
      waited += kSliceMs;
      if (timeoutMs >= 0 && waited >= timeoutMs) return false;
    }
    return false;
  }

  bool SendAll(SOCKET s, const char* data, size_t len) {
    while (len > 0) {
      int chunk = static_cast<int>(std::min<size_t>(len, 64 * 1024));
      int n = send(s, data, chunk, 0);
      if (n == SOCKET_ERROR) {
        if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
        if (!WaitSocket(s, true, -1)) return false;
        continue;
      }
      data += n;
      len -= static_cast<size_t>(n);
    }
    return true;
  }

  // Appends what arrives to buf; false on close, error or stop.
  bool ReadMore(SOCKET s, std::string& buf, int idleTimeoutMs) {
    for (;;) {
      char tmp[16 * 1024];
      int n = recv(s, tmp, sizeof tmp, 0);
      if (n > 0) {
        buf.append(tmp, static_cast<size_t>(n));
        return true;
      }
      if (n == 0) return false;
      if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
      if (!WaitSocket(s, false, idleTimeoutMs)) return false;
    }
  }

  Response Pick(const RecordedRequest& req) {
    Handler handler;
    {
      std::lock_guard<std::mutex> lock(mu);
      auto it = scripts.find(req.target);
      if (it == scripts.end()) it = scripts.find(req.path);
      if (it == scripts.end()) return fallback;
      Script& sc = it->second;
      if (!sc.handler) {
        if (sc.responses.empty()) return fallback;
        size_t i = std::min(sc.next, sc.responses.size() - 1);
        ++sc.next;
        return sc.responses[i];
      }
      handler = sc.handler;
    }
    return handler(req);
  }

  void Record(RecordedRequest req) {
    {
      std::lock_guard<std::mutex> lock(mu);
      records.push_back(std::move(req));
    }
    cv.notify_all();
  }

  void AcceptLoop();
  void Serve(SOCKET s, int connection);
  // Answers one request; false when the connection must be closed afterwards.
  bool Answer(SOCKET s, RecordedRequest& req, bool clientWantsClose);
};

void ScriptedServer::State::AcceptLoop() {
  while (!stopping) {
    if (!WaitSocket(listener, false, -1)) {
      if (stopping) break;
      Pause(kSliceMs);
      continue;
    }
    SOCKET s = accept(listener, nullptr, nullptr);
    if (s == INVALID_SOCKET) continue;
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    BOOL noDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    std::lock_guard<std::mutex> lock(mu);
    int number = ++connections;
    workers.emplace_back([this, s, number] { Serve(s, number); });
  }
}

void ScriptedServer::State::Serve(SOCKET s, int connection) {
  std::string buf;
  bool open = true;
  while (open && !stopping) {
    // Request head.
    size_t end;
    while ((end = buf.find("\r\n\r\n")) == std::string::npos) {
      if (buf.size() > kMaxHead || !ReadMore(s, buf, -1)) {
        open = false;
        break;
      }
    }
    if (!open) break;
    RecordedRequest req;
    req.connection = connection;
    req.raw = buf.substr(0, end + 4);
    buf.erase(0, end + 4);

    const std::string& raw = req.raw;
    size_t lineEnd = raw.find("\r\n");
    std::string line = raw.substr(0, lineEnd);
    size_t sp1 = line.find(' '), sp2 = line.rfind(' ');
    bool bad = sp1 == std::string::npos || sp2 == sp1;
    if (!bad) {
      req.method = line.substr(0, sp1);
      req.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
      req.version = line.substr(sp2 + 1);
      // A proxy request names the whole URL: its path starts after the authority.
      std::string local = req.target;
      size_t scheme = local.find("://");
      if (scheme != std::string::npos && scheme < local.find('/')) {
        size_t slash = local.find('/', scheme + 3);
        local = slash == std::string::npos ? "/" : local.substr(slash);
      }
      req.path = local.substr(0, local.find('?'));
    }
    size_t pos = lineEnd + 2;
    while (pos < end + 2) {
      size_t next = raw.find("\r\n", pos);
      std::string h = raw.substr(pos, next - pos);
      pos = next + 2;
      if (h.empty()) break;
      size_t colon = h.find(':');
      if (colon == std::string::npos) continue;
      std::string name = Lower(Trim(h.substr(0, colon)));
      std::string value = Trim(h.substr(colon + 1));
      auto it = req.headers.find(name);
      if (it == req.headers.end())
        req.headers.emplace(name, value);
      else
        it->second += ", " + value;
    }

    // Request body.
    if (req.Header("expect") && Lower(*req.Header("expect")) == "100-continue") {
      static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
      if (!SendAll(s, kContinue, sizeof kContinue - 1)) break;
    }
    auto te = req.Header("transfer-encoding");
    if (te && Lower(*te).find("chunked") != std::string::npos) {
      for (;;) {
        size_t eol;
        while ((eol = buf.find("\r\n")) == std::string::npos)
          if (buf.size() > kMaxHead || !ReadMore(s, buf, -1)) { open = false; break; }
        if (!open) break;
        uint64_t size = 0;
        std::string sizeText = Trim(buf.substr(0, std::min(eol, buf.find(';'))));
        char* stop = nullptr;
        size = std::strtoull(sizeText.c_str(), &stop, 16);
        if (sizeText.empty() || *stop != '\0' || req.body.size() + size > kMaxBody) {
          open = false;
          break;
        }
        buf.erase(0, eol + 2);
        if (size == 0) {  // trailers up to the empty line
          while ((eol = buf.find("\r\n")) == std::string::npos)
            if (!ReadMore(s, buf, -1)) { open = false; break; }
          if (!open) break;
          while (eol != 0) {
            buf.erase(0, eol + 2);
            while ((eol = buf.find("\r\n")) == std::string::npos)
              if (!ReadMore(s, buf, -1)) { open = false; break; }
            if (!open) break;
          }
          if (open) buf.erase(0, 2);
          break;
        }
        while (buf.size() < size + 2)
          if (!ReadMore(s, buf, -1)) { open = false; break; }
        if (!open) break;
        req.body.append(buf, 0, static_cast<size_t>(size));
        buf.erase(0, static_cast<size_t>(size) + 2);
      }
      if (!open) break;
    } else if (auto cl = req.Header("content-length")) {
      uint64_t length = 0;
      if (!ParseU64(*cl, length) || length > kMaxBody) {
        bad = true;
      } else {
        while (buf.size() < length)
          if (!ReadMore(s, buf, -1)) { open = false; break; }
        if (!open) break;
        req.body = buf.substr(0, static_cast<size_t>(length));
        buf.erase(0, static_cast<size_t>(length));
      }
    }

    if (bad) {
      req.answeredStatus = 400;
      Record(req);
      static const char kBad[] = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      SendAll(s, kBad, sizeof kBad - 1);
      break;
    }

    std::string conn = Lower(req.Header("connection").value_or(""));
    bool clientWantsClose = conn.find("close") != std::string::npos ||
                            (req.version == "HTTP/1.0" && conn.find("keep-alive") == std::string::npos);
    open = Answer(s, req, clientWantsClose);
  }
  // Orderly close: our side first, then let the client finish (bounded) so
  // that what was sent is not lost to a reset.
  shutdown(s, SD_SEND);
  for (int waited = 0; waited < 1000 && !stopping; waited += kSliceMs) {
    if (!WaitSocket(s, false, kSliceMs)) continue;
    char tmp[4096];
    int n = recv(s, tmp, sizeof tmp, 0);
    if (n == 0 || (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK)) break;
  }
  closesocket(s);
}

bool ScriptedServer::State::Answer(SOCKET s, RecordedRequest& req, bool clientWantsClose) {
  Response r = Pick(req);
  const bool head = req.method == "HEAD";
  if (head && !r.supportHead) r = Response::Status(405);

  std::string entity = r.body;
  if (r.corruptGzip)
    entity = CorruptGzip(r.body.size());
  else if (r.gzip)
    entity = GzipEncode(r.body);

  int status = r.status;
  std::string reason = r.reason;
  std::vector<std::pair<std::string, std::string>> headers;
  uint64_t first = 0, last = entity.empty() ? 0 : entity.size() - 1;
  const std::optional<std::string> ifRange = req.Header("if-range");
  if (r.honourRange && status == 200 && (!ifRange || IfRangeMatches(*ifRange, r))) {
    if (auto range = req.Header("range")) {
      switch (ResolveRange(*range, entity.size(), first, last)) {
        case RangeResult::kSatisfiable:
          status = 206;
          reason.clear();
          headers.push_back({"Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                                                  std::to_string(entity.size())});
          entity = entity.substr(static_cast<size_t>(first), static_cast<size_t>(last - first + 1));
          break;
        case RangeResult::kUnsatisfiable:
          status = 416;
          reason.clear();
          headers.push_back({"Content-Range", "bytes */" + std::to_string(entity.size())});
          entity.clear();
          break;
        case RangeResult::kNone:
          break;
      }
    }
  }
  if (reason.empty()) reason = ReasonFor(status);

  // 1xx, 204 and 304 answers never carry a body.
  const bool bodyless = (status >= 100 && status < 200) || status == 204 || status == 304;
  bool closeConn = clientWantsClose || !r.keepAlive;
  if (!HeaderGiven(r, "Content-Type") && !bodyless) headers.push_back({"Content-Type", "application/octet-stream"});
  if ((r.gzip || r.corruptGzip) && !HeaderGiven(r, "Content-Encoding")) headers.push_back({"Content-Encoding", "gzip"});
  if (r.acceptRanges) headers.push_back({"Accept-Ranges", "bytes"});
  if (!bodyless) {
    if (r.chunked) {
      headers.push_back({"Transfer-Encoding", "chunked"});
    } else if (HeaderGiven(r, "Content-Length")) {
      closeConn = true;  // the test chose the length: delimit by closing
    } else if (r.contentLength) {
      headers.push_back({"Content-Length", std::to_string(*r.contentLength)});
      if (*r.contentLength != entity.size()) closeConn = true;
    } else if (r.sendContentLength) {
      headers.push_back({"Content-Length", std::to_string(entity.size())});
    } else {
      closeConn = true;
    }
  }
  if (r.closeAfter) closeConn = true;
  for (const auto& h : r.headers) headers.push_back(h);
  headers.push_back({"Connection", closeConn ? "close" : "keep-alive"});

  req.answeredStatus = status;
  Record(req);

  if (r.delayMs > 0 && !Pause(r.delayMs)) return false;
  std::string headText = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
  headText += "Server: twtest\r\n";
  for (const auto& h : headers) headText += h.first + ": " + h.second + "\r\n";
  headText += "\r\n";
  if (!SendAll(s, headText.data(), headText.size())) return false;
  if (head || bodyless) return !closeConn;

  // Body, cut at the stall point, the close point and the piece size.
  auto sendPiece = [&](const char* data, size_t len) {
    if (!r.chunked) return SendAll(s, data, len);
    std::string sizeLine = Hex(len) + "\r\n";
    return SendAll(s, sizeLine.data(), sizeLine.size()) && SendAll(s, data, len) && SendAll(s, "\r\n", 2);
  };
  const uint64_t n = entity.size();
  uint64_t pos = 0;
  bool stalled = false;
  for (;;) {
    if (r.stallAfter && !stalled && pos == *r.stallAfter) {
      stalled = true;
      if (!Pause(r.stallMs)) return false;
    }
    if (r.closeAfter && pos >= *r.closeAfter) return false;
    if (pos >= n) break;
    uint64_t limit = n;
    if (r.stallAfter && !stalled && *r.stallAfter > pos) limit = std::min(limit, *r.stallAfter);
    if (r.closeAfter && *r.closeAfter > pos) limit = std::min(limit, *r.closeAfter);
    if (r.pieceSize > 0) limit = std::min<uint64_t>(limit, pos + r.pieceSize);
    if (!sendPiece(entity.data() + pos, static_cast<size_t>(limit - pos))) return false;
    pos = limit;
    if (r.pieceSize > 0 && r.pieceDelayMs > 0 && pos < n && !Pause(r.pieceDelayMs)) return false;
  }
  if (r.chunked && !SendAll(s, "0\r\n\r\n", 5)) return false;
  return !closeConn;
}

// ---------------------------------------------------------------------------

ScriptedServer::ScriptedServer() : state_(std::make_shared<State>()) {
  State& st = *state_;
  st.stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
    st.error = "WSAStartup failed";
    return;
  }
  st.wsaStarted = true;
  st.listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (st.listener == INVALID_SOCKET) {
    st.error = "socket failed: " + std::to_string(WSAGetLastError());
    return;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (bind(st.listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(st.listener, SOMAXCONN) != 0) {
    st.error = "bind/listen failed: " + std::to_string(WSAGetLastError());
    return;
  }
  int len = sizeof addr;
  getsockname(st.listener, reinterpret_cast<sockaddr*>(&addr), &len);
  st.port = ntohs(addr.sin_port);
  u_long nonBlocking = 1;
  ioctlsocket(st.listener, FIONBIO, &nonBlocking);
  st.acceptThread = std::thread([&st] { st.AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
  State& st = *state_;
  st.stopping = true;
  if (st.stopEvent) SetEvent(st.stopEvent);
  if (st.acceptThread.joinable()) st.acceptThread.join();
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(st.mu);
    workers.swap(st.workers);
  }
  for (auto& t : workers) t.join();
  if (st.listener != INVALID_SOCKET) closesocket(st.listener);
  if (st.wsaStarted) WSACleanup();
  if (st.stopEvent) CloseHandle(st.stopEvent);
}

bool ScriptedServer::Ok() const { return state_->port != 0 && state_->error.empty(); }
std::string ScriptedServer::Error() const { return state_->error; }
uint16_t ScriptedServer::Port() const { return state_->port; }
std::wstring ScriptedServer::Host() { return L"127.0.0.1"; }

std::string ScriptedServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(state_->port) + path;
}

void ScriptedServer::Serve(const std::string& path, Response response) {
  ServeSequence(path, {std::move(response)});
}

void ScriptedServer::ServeSequence(const std::string& path, std::vector<Response> responses) {
  std::lock_guard<std::mutex> lock(state_->mu);
  Script sc;
  sc.responses = std::move(responses);
  state_->scripts[path] = std::move(sc);
}

void ScriptedServer::ServeWith(const std::string& path, Handler handler) {
  std::lock_guard<std::mutex> lock(state_->mu);
  Script sc;
  sc.handler = std::move(handler);
  state_->scripts[path] = std::move(sc);
}

void ScriptedServer::SetDefault(Response response) {
  std::lock_guard<std::mutex> lock(state_->mu);
  state_->fallback = std::move(response);
}

void ScriptedServer::Reset() {
  std::lock_guard<std::mutex> lock(state_->mu);
  state_->scripts.clear();
  state_->records.clear();
}

std::vector<RecordedRequest> ScriptedServer::Requests() const {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->records;
}

size_t ScriptedServer::RequestCount() const {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->records.size();
}

std::vector<RecordedRequest> ScriptedServer::RequestsFor(const std::string& path) const {
  std::lock_guard<std::mutex> lock(state_->mu);
  std::vector<RecordedRequest> out;
  for (const auto& r : state_->records)
    if (r.path == path) out.push_back(r);
  return out;
}

void ScriptedServer::ClearRequests() {
  std::lock_guard<std::mutex> lock(state_->mu);
  state_->records.clear();
}

bool ScriptedServer::WaitForRequests(size_t n, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(state_->mu);
  return state_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return state_->records.size() >= n; });
}

int ScriptedServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->connections;
}

}  // namespace twtest
