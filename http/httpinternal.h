// Pieces shared by the transfer routines of this folder and not meant for
// their callers: result codes and request flags, the steps every POST and GET
// of the agent takes alike (session and connection, headers and options, the
// resend policy), and the reads of the response headers.
#pragma once
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "http/requesthandles.h"

// Results shared by the download routines (13, a missing or invalid value or
// argument, is ERROR_INVALID_DATA throughout).
inline constexpr int32_t kNotModified = 90001;
inline constexpr int32_t kPartialDownload = 707;
inline constexpr int32_t kDataNotReadable = 6;

// Largest single WinHttpReadData of a download.
inline constexpr DWORD kReadChunk = 1u << 20;

inline constexpr DWORD kRequestFlagRefresh = 0x100;      // WINHTTP_FLAG_REFRESH: bypass proxy caches
inline constexpr DWORD kRequestFlagSecure = 0x00800000;  // WINHTTP_FLAG_SECURE
inline constexpr DWORD kIgnoreCertificateErrors = 0x3300;
inline constexpr DWORD kResendPauseMs = 5000;
inline constexpr int kLastAttempt = 4;  // attempts 0..4: five sends at most

inline int32_t LastCode() { return static_cast<int32_t>(::GetLastError()); }

std::string Utf8(const wchar_t* text);

// True for "https" in any letter case (a missing protocol is plain http).
bool IsHttpsProtocol(const char* protocol);

// Pins TLS 1.0-1.2 on the session on Windows 7 and 8. Always 1.
int32_t SetSecureProtocols(HINTERNET session);

// Session and connection of a transfer (the proxy named when `useProxy`), with
// TLS pinned and `requestFlags` made secure for https. 0, or the code of the
// failed step (logged under `routine`; a session already opened is closed,
// its failed close reported as `closeReport` asks).
struct ConnectionTarget {
  const char* routine;
  bool useProxy;
  bool https;
  const wchar_t* proxyServer;
  const wchar_t* proxyBypass;
  const wchar_t* serverAddress;
  int32_t port;
  bool proxyNameAtInfo;  // the proxy server's name logged at INFO rather than DEBUG
  CloseReport closeReport;
};
int32_t OpenConnection(const ConnectionTarget& target, RequestHandles& handles, DWORD& requestFlags);

// The "Connection" header of a fresh request; a failure is logged under
// `routine` and its code returned (the request goes on without it).
int32_t AddConnectionHeader(const char* routine, HINTERNET request, bool keepAlive);

// The options every request of the agent carries: the connect time-out (when
// `connectTimeout`), the certificate checks relaxed for https, and the proxy
// credentials. 0, or the code of the failed option ("<routine> :  Error in
// WinHttpSetOption"), explained by HttpGetLastError when `explainFailure`.
struct RequestOptions {
  const char* routine;
  bool connectTimeout;
  bool https;
  bool useProxy;
  const wchar_t* proxyUser;
  const wchar_t* proxyPassword;
  bool explainFailure;
};
int32_t SetRequestOptions(const RequestOptions& options, HINTERNET request);

// One send of a request: how it went, and the code when it failed.
enum class SendOutcome {
  kSent,        // sent; the response is awaited
  kSendFailed,  // WinHttpSendRequest refused (code): restart or give up
  kAbort,       // anything else that ends the call (code, already logged)
};
using SendOnce = std::function<SendOutcome(HINTERNET request, int32_t& code)>;

// The bounded resend policy on one request: sends (by `send`) until a
// response arrives or five receives failed. A login failure or cancelled
// send, and a login failure or broken answer on receive, ask once per call
// (`restartUsed`) for a fresh request: `restart` is then set. Returns false
// with `result` set when the call ends with that code (logged); true
// otherwise. A failed receive that a resend or restart recovered is only
// logged: the response that then arrived decides the call's result.
bool SendWithResends(const char* routine, HINTERNET request, const wchar_t* serverAddress, const SendOnce& send,
                     bool& restartUsed, bool& restart, int32_t& result);

// The response's raw header block and status, logged under `routine`, the
// status kept in handles.statusCode. 0; 407 when the proxy refused the
// credentials; or the code of a failed header read (a request without a
// response fails here).
int32_t ReadResponseStatus(const char* routine, RequestHandles& handles);

// The text of a response header (`query`, or the custom header `name` with
// WINHTTP_QUERY_CUSTOM): 0 with `out` set ("" for an empty header), or the
// query's code (12150 when the header is missing).
int32_t QueryHeaderText(HINTERNET request, DWORD query, const wchar_t* name, std::wstring& out);

// Content-Length as a number: 0 with `length` set, or the query's code with
// `length` unset. A missing header (12150) and one that cannot be read into 32
// bits (122) are the one case IsUnknownLength: what it means is the caller's
// decision.
int32_t QueryContentLength(HINTERNET request, std::optional<uint32_t>& length);
inline bool IsUnknownLength(int32_t code) {
  return code == ERROR_WINHTTP_HEADER_NOT_FOUND || code == ERROR_INSUFFICIENT_BUFFER;
}

// "Content-Range: bytes <first>-<last>/<total>" of a 206 answer; `total` is
// unset for "/*". false when the header is missing or not of that form
// (numbers beyond 64 bits included).
struct ContentRange {
  uint64_t first = 0;
  uint64_t last = 0;
  std::optional<uint64_t> total;
};
bool QueryContentRange(HINTERNET request, ContentRange& range);
