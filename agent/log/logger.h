// The support library's process-wide log: settings (file name, folder, level),
// the open stream, the line format and the four level operations. Each line is
// "[ <timestamp> ] [ <thread id> ] <tag> <message>", written whole under the
// log lock and flushed at once.
#pragma once
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "agent/log/format.h"


extern std::atomic<FILE*> gv_logFilePtr;

// Level operations: INFO from level 1, ERROR from 2, DEBUG from 3, TRACE from 4.
int LogInfo(const char* format, ...) TW_PRINTF(1, 2);
int LogError(const char* format, ...) TW_PRINTF(1, 2);
int LogDebug(const char* format, ...) TW_PRINTF(1, 2);
int LogTrace(const char* format, ...) TW_PRINTF(1, 2);

bool InitLogSettings();
bool SetLogSettings(const char* fileName, const char* folder, uint8_t level);
bool SetLogFileName(const char* name);
bool SetLogDirectory(const char* folder);
void SetLogLevel(uint8_t level);
bool SetLogFilePtr(FILE* stream);
void SetCQuillRoot(const char* root);  // used only when no log folder is set

uint8_t GetLogLevel();
std::optional<std::string> GetLogFilePath();  // the path that was opened
std::optional<std::string> GetCQuillRoot();   // the support library's root folder, if set
// The address that serialises log writers (and the rotation's truncation).
const void* GetLogLock();

bool OpenLogFile();     // append ("a+")
bool OpenNewLogFile();  // truncate ("w")
void CloseLogFile();
void FreeLogSettings();

// Local time as "YYYY-MM-DD hh:mm:ss:mmm".
std::string GetTimeStamp();

// 0 created, 1 already there, else the runtime's error number (2: parent missing).
int CreateDirectoryTree(const char* path);

// Appends a formatted text to a file (no newline added); silent on failure.
void AppendTextToFile(const char* path, const char* format, ...) TW_PRINTF(2, 3);
