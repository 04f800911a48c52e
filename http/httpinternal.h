// Pieces shared by the transfer routines of this folder and not meant for
// their callers: result codes and request flags, small WinHTTP and file
// helpers, and the steps every POST and GET of the agent takes alike.
#pragma once
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <cwchar>
#include <functional>
#include <optional>
#include <string>

#include "agent/config/settings.h"
#include "http/download.h"
#include "http/requestcore.h"

// Results shared by the download routines.
inline constexpr int32_t kNotModified = 90001;
inline constexpr int32_t kPartialDownload = 707;
inline constexpr int32_t kDataNotReadable = 6;
inline constexpr int32_t kInvalidArgument = 13;

// Largest single WinHttpReadData of a download.
inline constexpr DWORD kReadChunk = 1u << 20;

inline constexpr DWORD kRequestFlagRefresh = 0x100;      // WINHTTP_FLAG_REFRESH: bypass proxy caches
inline constexpr DWORD kRequestFlagSecure = 0x00800000;  // WINHTTP_FLAG_SECURE
inline constexpr DWORD kIgnoreCertificateErrors = 0x3300;
inline constexpr DWORD kResendPauseMs = 5000;
inline constexpr int kLastAttempt = 4;  // attempts 0..4: five sends at most

inline int32_t LastCode() { return static_cast<int32_t>(::GetLastError()); }

inline bool IsOpen(HINTERNET h) { return h != nullptr && h != kNoHandle; }

inline bool Contains(const wchar_t* text, const wchar_t* part) {
  return text && std::wcsstr(text, part) != nullptr;
}

std::string Utf8(const wchar_t* text);

// The calling thread's id as text, for per-thread temporary file names.
std::wstring ThreadIdText();

// The form of a path that file calls accept at any length: absolute paths that
// reach MAX_PATH get the extended-length prefix; others stay as they are.
std::wstring FileApiPath(const std::wstring& path);

// Owns a Win32 file handle; keeps GetLastError across its own close.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(HANDLE h) : h_(h) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE Get() const { return h_; }
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE h) {
    Close();
    h_ = h;
  }
  void Close();

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

// Writes all `size` bytes; false with the thread's last error set (a write
// that takes nothing counts as ERROR_WRITE_FAULT).
bool WriteAll(HANDLE file, const char* data, size_t size);

// Closes one handle of a transfer where open, logging a failure under the
// routine's and the handle's names, and marks it kNoHandle.
void CloseLogged(const char* routine, HINTERNET& h, const char* name);

// Content-Length as a number: 0 with the value (`known` true), or the error
// code of the query. A value the query cannot hold (122) gives 0 with length
// 0, and so does a missing header (12150) unless `absentIsError`.
int32_t QueryContentLength(HINTERNET request, DWORD& length, bool& known, bool absentIsError);

// "Content-Range: bytes <first>-<last>/<total>" of a 206 answer. false when
// the header is missing or unreadable; `total` stays unset for "/*".
bool QueryContentRange(HINTERNET request, uint64_t& first, std::optional<uint64_t>& total);

// How many body bytes wait on handles.request, with one recovery: a failure
// that is `recoverable` runs `recover` (which sends a fresh request on
// `handles`, 0 when reading can go on) and asks again. false with `result`
// set when reading ends with that code (a failed query is logged).
bool QueryAvailableOrRecover(const char* routine, RequestHandles& handles, DWORD& available,
                             const std::function<bool(int32_t code)>& recoverable,
                             const std::function<int32_t()>& recover, int32_t& result);

// Sends the GET (or what handles.requestKind asks for) of a download call
// through the request core.
int32_t OpenDownloadRequest(const DownloadCall& call, RequestHandles& handles, bool keepAlive, bool acceptGzip);

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
// otherwise. `lastReceiveError` takes the code of each failed receive.
bool SendWithResends(const char* routine, HINTERNET request, const wchar_t* serverAddress, const SendOnce& send,
                     bool& restartUsed, bool& restart, int32_t& lastReceiveError, int32_t& result);

// Session and connection of a transfer (the proxy named when `useProxy`), with
// TLS pinned and `requestFlags` made secure for https. 0, or the code of the
// failed step (logged; what was opened is closed by `closeSession`).
struct ConnectionTarget {
  const char* routine;
  bool useProxy;
  bool https;
  const wchar_t* proxyServer;
  const wchar_t* proxyBypass;
  const wchar_t* serverAddress;
  int32_t port;
  bool proxyNameAtInfo;  // the proxy server's name logged at INFO rather than DEBUG
};
int32_t OpenConnection(const ConnectionTarget& target, RequestHandles& handles, DWORD& requestFlags,
                       const std::function<void(HINTERNET&)>& closeSession);

// A POST of the agent on its own handles: connection, request, the resend
// policy with one restart that replaces only the request, and the response
// read by ReadUploadResponse. What differs between the uploads is given here
// and in the SendBody step.
class PostExchange {
 public:
  struct Settings {
    const char* routine;  // name at the front of the log lines
    bool useProxy;
    bool https;
    const wchar_t* serverAddress;
    const wchar_t* proxyUser;
    const wchar_t* proxyPassword;
    const wchar_t* objectPath;
    OptText* outData;
    bool keepAlive = false;             // "Connection: Keep-Alive" rather than "close"
    bool timed = false;                 // the connect time-out from the settings
    bool anyAcceptType = false;         // "*/*" rather than WinHTTP's default accept types
    bool explainOptionFailure = false;  // a failed option is explained by HttpGetLastError
  };

  PostExchange(const Settings& settings, SendOnce sendBody) : s_(settings), sendBody_(std::move(sendBody)) {}

  // Session, connection and request. 0, or the code of the failed step
  // (logged; the handles opened so far are closed).
  int32_t Open(const wchar_t* proxyServer, const wchar_t* proxyBypass, int32_t port, bool proxyNameAtInfo);
  // Sends, reads the response and closes the handles; the call's result.
  int32_t ExchangeAndClose();

 private:
  int32_t Prepare();
  int32_t OpenRequestOrClose();
  int32_t Restart();
  int32_t Exchange();
  void Close(HINTERNET& h, const char* name) { CloseLogged(s_.routine, h, name); }

  Settings s_;
  SendOnce sendBody_;
  DWORD requestFlags_ = kRequestFlagRefresh;
  RequestHandles handles_;
};
