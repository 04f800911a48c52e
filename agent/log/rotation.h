// Size-based rotation of agent logs: the live log is copied to numbered backups
// (backup 1 newest) and emptied, at open and then again on a one-shot timer that
// each run re-arms, until the agent log layer stops the chain.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

class LoggerConfig;

// folder + "\\" + base of `fileName` (the text before its first ".log") + k + ".log".
std::string BackupLogName(const char* folder, const char* fileName, int64_t k);

// 1 when the file holds at least `limit` bytes, else 0 (a missing file counts as empty).
int32_t CheckLogSizeReached(const char* path, uint32_t limit);

// Number of directory entries matching "<folder>\\<base>*.*", or -1 when the
// search fails.
int32_t FindNoOfRepeatedFileNames(const char* folder, const char* base);

// Rotates each log of the ";"-separated `nameList` in `folder` (nullptr: the
// agent's logs folder). Mode 1 copies the live log to backup 1 and empties it
// whatever its size; mode 0 moves it only when it is larger than `limit`.
// Returns 0, or the registry error when the agent install folder is needed and
// cannot be read.
int32_t RotateSpecificLogs(const char* folder, const char* nameList, int32_t backupCount, uint32_t limit,
                           int32_t mode);

// Rotates `folder`\`fileName` (nullptr folder: the agent's logs folder) in mode
// 1 when it has reached `maxLogSize` bytes.
int32_t RotateLoggerForEverRunningProcess(const char* folder, const char* fileName, int32_t backupCount,
                                          int32_t maxLogSize);

// One rotation for `config`, then arms the one-shot timer for the next one.
// 0, or the Windows error of the timer creation (no further rotation then).
int32_t LoggerTimerMethod(LoggerConfig* config);
// The timer callback; `config` is the LoggerConfig the chain was started with.
VOID CALLBACK LoggerTimerRoutine(PVOID config, BOOLEAN timerFired);

// Starts a timer chain on `queue` (nullptr: the process's default timer queue).
// A chain that is still running is stopped first.
void StartLoggerTimerChain(HANDLE queue);
// Stops the chain: no new run begins, a running one is waited for, then the
// queue (or the pending timer on the default queue) is deleted, again waiting
// for callbacks. Afterwards no rotation callback runs any more. Returns 0 or
// the Windows error of the deletion. Harmless when no chain was started.
DWORD StopLoggerTimerChain();
