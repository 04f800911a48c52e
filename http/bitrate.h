// Bandwidth-limited transfers: downloads fetched as a sequence of byte-range
// blocks of "DataTransferRate_KBps" x 500 bytes with a pause after each block,
// and uploads sent in chunks.
#pragma once
#include <cstdint>

#include "agent/config/settings.h"

// Same arguments as InternetGetRequestEx without acceptGzip; never asks for or
// decodes gzip. Results as InternetGetRequestEx (never 707 for a clean end).
int32_t InternetGetRequestByBitrate(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                                    const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                                    const wchar_t* proxyPassword, const wchar_t* objectPath,
                                    const wchar_t* destination, OptText* outData, int32_t requestType,
                                    bool keepAlive);

// The registry-backed resumable variant (partial file and FileMetaData state).
int32_t ResumeGetRequestByBitrate(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                                  const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                                  const wchar_t* proxyPassword, const wchar_t* objectPath,
                                  const wchar_t* destination, OptText* outData, int32_t requestType,
                                  bool keepAlive);

// Uploads the local file in chunks of `chunkSize` bytes. 0, 13, 407, an HTTP
// status or an error code.
int32_t InternetSendRequestByBitRate(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                                     const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                                     const wchar_t* proxyPassword, const wchar_t* objectPath, const char* filePath,
                                     OptText* outData, int32_t ignored1, bool ignored2, int32_t chunkSize);
