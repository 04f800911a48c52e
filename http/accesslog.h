// Download access logs: one fixed-width, tab-separated record per resumable
// download attempt that reaches its final handling, in
// "<install folder>logs\downloadSuccessAccess.log" (result 0) or
// "...\downloadFailureAccess.log" (any other result), each file opened by a
// column header.
#pragma once
#include <cstdint>
#include <string>

// What an attempt contributes to its record.
struct AccessLogEntry {
  std::string startText;      // AccessLogStartText() taken when the job was set up
  std::string objectPath;     // narrow URL path
  std::wstring objectPathW;   // the same, wide
  std::wstring serverAddress;
  int32_t port = 0;
  int32_t requestType = 0;
  uint32_t contentLength = 0;
  uint32_t bytesReceived = 0;  // including the part stored by earlier attempts
};

// "\n <YY-MM-DD>\t\t<hh:mm:ss>\t" of the current local time.
std::string AccessLogStartText();
// The record of one attempt as appended (without the header).
std::string FormatAccessLogRecord(const AccessLogEntry& entry, int32_t result, const std::string& endTime);
// Appends the record to the success or failure log, writing the header first
// when the file is missing or empty. Never fails the caller.
void PrintHTTPAccessLog(const AccessLogEntry& entry, int32_t result);
