// Plain downloads from the agent's servers: one URL fetched into memory
// (GET_DATA) or into a file (DOWNLOAD_FILE) through a per-thread temporary file,
// checked against the announced length, gzip answers decompressed, a receive
// time-out recovered with a byte-range request.
#pragma once
#include <cstdint>
#include <string>

#include "agent/config/settings.h"

// Everything one download call was given, in the order of the arguments of
// InternetGetRequestEx; shared by the download routines.
struct DownloadCall {
  bool useProxy = false;
  const char* protocol = nullptr;
  const wchar_t* serverAddress = nullptr;
  int32_t port = 0;
  const wchar_t* proxyServer = nullptr;
  const wchar_t* proxyBypass = nullptr;
  const wchar_t* proxyUser = nullptr;
  const wchar_t* proxyPassword = nullptr;
  const wchar_t* objectPath = nullptr;
  const wchar_t* destination = nullptr;  // DOWNLOAD_FILE target; may be null for GET_DATA
  OptText* outData = nullptr;            // GET_DATA target; may be null for DOWNLOAD_FILE
  int32_t requestType = 0;
  bool keepAlive = false;
  bool acceptGzip = false;  // only the plain download asks for gzip
};

// The connection parameters come first, in the order of the request core.
// `outData` receives the answer of a GET_DATA request (left untouched on
// failure; may be null for DOWNLOAD_FILE). Results: 0, 90001 (not modified),
// 707 (size differs from Content-Length), 6 (GET_DATA file not readable), an
// HTTP status, 407, or a WinHTTP / Windows error code.
int32_t InternetGetRequestEx(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                             const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                             const wchar_t* proxyPassword, const wchar_t* objectPath, const wchar_t* destination,
                             OptText* outData, int32_t requestType, bool keepAlive, bool acceptGzip);

// Reads the calling thread's GET_DATA temporary file as text (line ends as a
// text-mode read gives them) into `out`. 1 on success, 0 when the file cannot
// be opened (`out` untouched).
int LoadDatafromFile(OptText& out);

// Decodes the gzip file `source` into `target` (which may be the same path).
// 1 when the whole stream was decoded and written; 0 otherwise, and then
// `target` is left as it was. An empty source counts as success and writes
// nothing.
int DecompressGzipFile(const wchar_t* source, const wchar_t* target);

// The GET_DATA temporary file of the calling thread: "<TEMP>\tw<thread id>.tmp".
std::wstring GetDataTempFilePath();

// Shared with the other download routines: appends the date-time line and
// `line` (which carries its own line end) to the agent's error log
// "<install folder>logs\twerror.log".
void AppendToAgentErrorLog(const std::string& line);
// Adds one to a failure counter under "<agent key>\VTTracking\<detailsKey>"
// (missing counts as 0), stamps "LastVTDataModifiedTime" and returns the
// count written.
uint32_t IncrementVTTrackingCounter(const char* detailsKey, const char* valueName);
