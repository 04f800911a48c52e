// The one way a request reaches the agent's servers: session, connection and
// request opened, decorated (keep-alive, range, proxy credentials, TLS options,
// time-outs), sent with the bounded resend policy, and the response headers
// and status received. The caller reads the body and closes the handles.
#pragma once
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <string>

// Request type codes.
inline constexpr int32_t GET_DATA = 11001;
inline constexpr int32_t SEND_DATA_TIMED = 11002;
inline constexpr int32_t DOWNLOAD_FILE = 11003;
inline constexpr int32_t SEND_DATA = 11004;
inline constexpr int32_t SEND_FORM_DATA = 11005;
inline constexpr int32_t SEND_DATA_BY_BITRATE = 11006;

// The handles of one request, owned by the caller. Handles start as
// kNoHandle ("-1"); a handle the routine closed itself is set back to it.
inline HINTERNET const kNoHandle = reinterpret_cast<HINTERNET>(static_cast<intptr_t>(-1));

struct RequestHandles {
  HINTERNET session = kNoHandle;
  HINTERNET connection = kNoHandle;
  HINTERNET request = kNoHandle;
  int32_t requestKind = 0;               // 0 GET, 1 GET with extraHeader (ranges), 2 HEAD
  const wchar_t* extraHeader = nullptr;  // added when requestKind is 1
  int32_t statusCode = 0;                // HTTP status of the last response
};

// Closes request, connection and session (in that order) where open, and
// marks them kNoHandle.
void CloseRequestHandles(RequestHandles& handles);

// The connection parameters shared by every transfer routine come first, in
// this order; `unused` carries nothing this routine reads.
int32_t GetInternetRequestHandle(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                                 const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                                 const wchar_t* proxyPassword, const wchar_t* objectPath, const wchar_t* destination,
                                 const void* unused, int32_t requestType, bool keepAlive, RequestHandles& handles,
                                 bool acceptGzip);

// Shared by the transfer routines that open their own requests.
// True for "https" in any letter case (a missing protocol is plain http).
bool IsHttpsProtocol(const char* protocol);
// Reads the response's raw header block (CRLF-separated, terminated) into
// `headers`; false with the thread's last error set when it cannot.
bool QueryRawHeaders(HINTERNET request, std::wstring& headers);

// Pins TLS 1.0-1.2 on the session on Windows 7 and 8. Always 1.
int32_t SetSecureProtocols(HINTERNET session);
// Logs the ERROR sentence for a WinHTTP error code (or the system's message).
void HttpGetLastError(int32_t code);
