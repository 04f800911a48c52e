// The agent's log layer over the support-library logger: places the log in the
// agent's logs folder, takes its level from the agent's registry key, and runs
// the size-based rotation at open and then on a timer until the log is closed.
#pragma once
#include <cstdint>
#include <string>

// How the agent log is placed and rotated. The rotation timer keeps a pointer
// to its config, so a config handed to StartLogger must outlive the log.
class LoggerConfig {
 public:
  // Defaults; loads the agent install folder from the registry when it is not
  // loaded yet (the folder is that text followed directly by "logs").
  LoggerConfig();

  std::string fileName;
  std::string logFolder;
  int32_t backupCount = 5;       // files kept in all: the live log and backups 1..backupCount-1
  int32_t maxLogSize = 2000000;  // bytes at which the live log is rotated
  int32_t timerPeriodMs = 900000;
  int32_t openMode = 1;          // 2: truncate at open ("w"); else append ("a+")
  bool rotationTimer = true;     // false: rotate once at open only
};

// Opens `fileName` in the agent's logs folder. The registry error when the
// agent install folder cannot be read; else 0, even when the log could not be
// opened (the program then runs without a log).
int32_t OpenAgentLog(const char* fileName);
// Rotates (starting the timer chain when `rotationTimer` is set), then opens
// the log: the result of InitAgentLogger.
int32_t StartLogger(LoggerConfig* config);
// 0 when the log is open in `folder` at the registry's level, 13 on any failure.
int32_t InitAgentLogger(const char* fileName, const char* folder, int32_t mode);
// Stops the rotation (waiting for a running one), closes the log and frees its
// settings and the object-lock mutex. Returns 0; harmless when nothing is open.
int32_t CloseAgentLog();
