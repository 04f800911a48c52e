// Posting to one of the agent's servers, with the same session, proxy, TLS and
// resend rules as the request core: a text body, or a local file written in
// chunks; the server's answer is read into memory when the caller wants it.
#pragma once
#include <cstdint>
#include <string>

#include "agent/config/settings.h"
#include "http/requestcore.h"

// Posts `body` to `objectPath`. The body length is `postSize` for form data
// (SEND_FORM_DATA) when it is non-zero and no longer than the text, otherwise
// the text's length. With `outData` given, a 200 answer's content is stored
// there (left untouched otherwise), as the downloads hand theirs. Results: 0
// (200), 13 (no body), 407, another HTTP status, or a WinHTTP or Windows error
// code.
int32_t InternetSendRequestEx(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                              const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                              const wchar_t* proxyPassword, const wchar_t* objectPath, const char* body,
                              OptText* outData, int32_t requestType, bool keepAlive, int32_t postSize);

// Uploads the local file in chunks of `chunkSize` bytes. 0, 13, 407, an HTTP
// status or an error code.
int32_t InternetSendRequestByBitRate(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                                     const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                                     const wchar_t* proxyPassword, const wchar_t* objectPath, const char* filePath,
                                     OptText* outData, int32_t ignored1, bool ignored2, int32_t chunkSize);
