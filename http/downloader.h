// The two download entries of the agent, plain and bandwidth-limited. Each
// first chooses its downloader by the agent setting "DownloadMode": 1 sends
// file downloads (and, bandwidth-limited, every download) of paths that are
// neither ".xml" nor ".json" to the resumable downloader, which keeps a
// partial file between attempts; anything else to the temporary-file one.
#pragma once
#include <cstdint>

#include "agent/config/settings.h"

// The connection parameters come first, in the order of the request core.
// `outData` receives the answer of a GET_DATA request (left untouched on
// failure; may be null for DOWNLOAD_FILE). Results: 0, 90001 (not modified),
// 707 (size differs from Content-Length), 6 (GET_DATA file not readable), an
// HTTP status, 407, or a WinHTTP / Windows error code.
int32_t InternetGetRequestEx(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                             const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                             const wchar_t* proxyPassword, const wchar_t* objectPath, const wchar_t* destination,
                             OptText* outData, int32_t requestType, bool keepAlive, bool acceptGzip);

// Same arguments as InternetGetRequestEx without acceptGzip; the answer comes
// in blocks with a pause after each. Results as InternetGetRequestEx (never
// 707 for a clean end).
int32_t InternetGetRequestByBitrate(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                                    const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                                    const wchar_t* proxyPassword, const wchar_t* objectPath,
                                    const wchar_t* destination, OptText* outData, int32_t requestType,
                                    bool keepAlive);
