// The one way a request reaches the agent's servers: session, connection and
// request opened, decorated (keep-alive, range, proxy credentials, TLS options,
// time-outs), sent with the bounded resend policy, and the response headers
// and status received. The caller reads the body; the record it passed owns
// the handles.
#pragma once
#include <windows.h>
#include <winhttp.h>

#include <cstdint>

#include "http/requesthandles.h"
#include "http/winhttp_errors.h"

// Request type codes.
inline constexpr int32_t GET_DATA = 11001;
inline constexpr int32_t SEND_DATA_TIMED = 11002;
inline constexpr int32_t DOWNLOAD_FILE = 11003;
inline constexpr int32_t SEND_DATA = 11004;
inline constexpr int32_t SEND_FORM_DATA = 11005;
inline constexpr int32_t SEND_DATA_BY_BITRATE = 11006;

// The connection parameters shared by every transfer routine come first, in
// this order; `unused` carries nothing this routine reads. On return the
// record holds what was opened: all three handles after a response arrived,
// none after a failure before the request existed (what was opened is closed).
// Result: 0 when a response arrived (also after resends or the restart; its
// status is in handles.statusCode), the code of a header that could not be
// added to the request that got it, 407 when the proxy refused the
// credentials, or the code of the step that failed.
int32_t GetInternetRequestHandle(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                                 const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                                 const wchar_t* proxyPassword, const wchar_t* objectPath, const wchar_t* destination,
                                 const void* unused, int32_t requestType, bool keepAlive, RequestHandles& handles,
                                 bool acceptGzip);
