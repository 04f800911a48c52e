// Bandwidth-limited downloads: the answer is fetched as a row of byte-range
// blocks of "DataTransferRate_KBps" x 500 bytes with a pause after each block,
// into a per-thread temporary file (the downloader of
// InternetGetRequestByBitrate) or into the registry-backed partial file of a
// resumable download (ResumeGetRequestByBitrate).
#pragma once
#include <cstdint>

#include "agent/config/settings.h"
#include "http/downloadsteps.h"

// The downloader of InternetGetRequestByBitrate once the temporary-file route
// was chosen: a HEAD request for the length, then the blocks. Never asks for
// or decodes gzip. Results as InternetGetRequestEx (never 707 for a clean end).
int32_t DownloadInBlocks(const DownloadCall& call);

// The registry-backed resumable variant (partial file and FileMetaData
// state); same arguments as InternetGetRequestEx without acceptGzip.
int32_t ResumeGetRequestByBitrate(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                                  const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                                  const wchar_t* proxyPassword, const wchar_t* objectPath,
                                  const wchar_t* destination, OptText* outData, int32_t requestType,
                                  bool keepAlive);
// ResumeGetRequestByBitrate for a call already gathered (its acceptGzip is
// ignored).
int32_t ResumableDownloadInBlocks(const DownloadCall& call);
