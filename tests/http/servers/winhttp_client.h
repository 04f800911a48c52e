// A small synchronous WinHTTP client for the server tests: one request, the
// whole answer (status, raw headers, body) and the first error met.
#pragma once
#include <windows.h>
#include <winhttp.h>

#include <zlib.h>

#include <optional>
#include <string>

namespace twtest {

struct ClientAnswer {
  DWORD error = 0;        // first failing call's GetLastError, 0 when all went well
  const char* failedAt = "";
  int status = 0;
  std::wstring rawHeaders;
  std::string body;

  bool HasHeaderLine(const std::wstring& line) const { return rawHeaders.find(line + L"\r\n") != std::wstring::npos; }
};

struct ClientRequest {
  std::wstring verb = L"GET";
  std::wstring path = L"/";
  bool https = false;
  std::wstring headers;  // extra header lines, "\r\n"-separated
  std::string body;
  int receiveTimeoutMs = 10000;
  // Also sets the wait for the response headers (WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT);
  // Wine applies only this one to WinHttpReceiveResponse.
  int responseTimeoutMs = 0;
  std::wstring proxy;  // "127.0.0.1:port" for a named proxy
  std::wstring proxyUser, proxyPassword;
  bool keepAlive = true;
};

// One WinHTTP session; requests made through the same session may share a
// kept-alive connection.
class Client {
 public:
  explicit Client(const std::wstring& proxy = L"") {
    session_ = proxy.empty() ? WinHttpOpen(L"twtest", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                           WINHTTP_NO_PROXY_BYPASS, 0)
                             : WinHttpOpen(L"twtest", WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.c_str(),
                                           WINHTTP_NO_PROXY_BYPASS, 0);
  }
  ~Client() {
    if (session_) WinHttpCloseHandle(session_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  ClientAnswer Send(const std::wstring& host, int port, const ClientRequest& rq) {
    ClientAnswer a;
    auto fail = [&a](const char* where) {
      if (a.error == 0) {
        a.error = GetLastError();
        a.failedAt = where;
      }
    };
    if (!session_) {
      fail("WinHttpOpen");
      return a;
    }
    HINTERNET connect = WinHttpConnect(session_, host.c_str(), static_cast<INTERNET_PORT>(port), 0);
    if (!connect) {
      fail("WinHttpConnect");
      return a;
    }
    DWORD flags = WINHTTP_FLAG_REFRESH | (rq.https ? WINHTTP_FLAG_SECURE : 0);
    HINTERNET request = WinHttpOpenRequest(connect, rq.verb.c_str(), rq.path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
    if (!request) {
      fail("WinHttpOpenRequest");
      WinHttpCloseHandle(connect);
      return a;
    }
    WinHttpSetTimeouts(request, 10000, 10000, 10000, rq.receiveTimeoutMs);
    if (rq.responseTimeoutMs > 0) {
      DWORD ms = static_cast<DWORD>(rq.responseTimeoutMs);
      WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &ms, sizeof ms);
    }
    if (rq.https) {
      DWORD sec = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
                  SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
      WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &sec, sizeof sec);
    }
    if (!rq.proxyUser.empty()) {
      WinHttpSetOption(request, WINHTTP_OPTION_PROXY_USERNAME, const_cast<wchar_t*>(rq.proxyUser.c_str()),
                       static_cast<DWORD>(rq.proxyUser.size()));
      WinHttpSetOption(request, WINHTTP_OPTION_PROXY_PASSWORD, const_cast<wchar_t*>(rq.proxyPassword.c_str()),
                       static_cast<DWORD>(rq.proxyPassword.size()));
    }
    std::wstring headers = rq.headers;
    if (!rq.keepAlive) headers += std::wstring(headers.empty() ? L"" : L"\r\n") + L"Connection: close";
    BOOL sent = WinHttpSendRequest(request, headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                                   headers.empty() ? 0 : static_cast<DWORD>(-1),
                                   rq.body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(rq.body.data()),
                                   static_cast<DWORD>(rq.body.size()), static_cast<DWORD>(rq.body.size()), 0);
    if (!sent) {
      fail("WinHttpSendRequest");
    } else if (!WinHttpReceiveResponse(request, nullptr)) {
      fail("WinHttpReceiveResponse");
    } else {
      DWORD status = 0, size = sizeof status;
      if (WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr, &status, &size,
                              nullptr))
        a.status = static_cast<int>(status);
      size = 0;
      WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr, nullptr, &size, nullptr);
      if (size > 0) {
        std::wstring raw(size / sizeof(wchar_t) + 1, L'\0');
        if (WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr, raw.data(), &size, nullptr))
          a.rawHeaders.assign(raw.c_str());
      }
      for (;;) {
        DWORD avail = 0;
        if (!WinHttpQueryDataAvailable(request, &avail)) {
          fail("WinHttpQueryDataAvailable");
          break;
        }
        if (avail == 0) break;
        std::string chunk(avail, '\0');
        DWORD got = 0;
        if (!WinHttpReadData(request, chunk.data(), avail, &got)) {
          fail("WinHttpReadData");
          break;
        }
        if (got == 0) break;
        a.body.append(chunk.data(), got);
      }
    }
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connect);
    return a;
  }

 private:
  HINTERNET session_ = nullptr;
};

// One request on a fresh session.
inline ClientAnswer Fetch(const std::wstring& host, int port, const ClientRequest& rq) {
  Client c(rq.proxy);
  return c.Send(host, port, rq);
}

// A GET of `path` with extra header lines.
inline ClientRequest Get(const std::wstring& path, const std::wstring& headers = L"") {
  ClientRequest rq;
  rq.path = path;
  rq.headers = headers;
  return rq;
}

// Inflates a gzip stream; nullopt when it is not a valid one.
inline std::optional<std::string> Gunzip(const std::string& in) {
  z_stream zs{};
  if (inflateInit2(&zs, 31) != Z_OK) return std::nullopt;
  std::string out;
  char buf[8192];
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  zs.avail_in = static_cast<uInt>(in.size());
  int rc;
  do {
    zs.next_out = reinterpret_cast<Bytef*>(buf);
    zs.avail_out = sizeof buf;
    rc = inflate(&zs, Z_NO_FLUSH);
    out.append(buf, sizeof buf - zs.avail_out);
  } while (rc == Z_OK);
  inflateEnd(&zs);
  if (rc != Z_STREAM_END) return std::nullopt;
  return out;
}

}  // namespace twtest
