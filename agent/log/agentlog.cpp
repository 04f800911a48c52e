// The agent log layer (see agentlog.h).
#include "agent/log/agentlog.h"

#include <windows.h>

#include <new>

#include "agent/config/settings.h"
#include "agent/log/logger.h"
#include "agent/log/objectlock.h"
#include "agent/log/rotation.h"
#include "agent/registry/registry.h"
#include "agent/util/errortext.h"

namespace {
// Whether the agent log made the object lock's mutex (and closes it): one made
// before, by the support library's start, is not the log's to close.
bool g_ownsMutex = false;
}  // namespace

LoggerConfig::LoggerConfig() : fileName("computer.log") {
  if (!gv_agentInstallDir) LoadAgentInstallDir();
  logFolder = gv_agentInstallDir.value_or("") + "logs";
}

int32_t OpenAgentLog(const char* fileName) {
  const int32_t rc = LoadAgentInstallDir();
  if (rc != 0) return rc;
  // Never freed: the rotation timer uses it for the life of the process.
  LoggerConfig* config = new (std::nothrow) LoggerConfig();
  if (!config) return 0;
  if (fileName) config->fileName = fileName;
  StartLogger(config);
  return 0;
}

int32_t StartLogger(LoggerConfig* config) {
  if (!config) return 13;
  if (config->rotationTimer) {
    HANDLE queue = CreateTimerQueue();
    if (!queue) {
      const DWORD err = GetLastError();
      LogError("ServiceMain : CreateTimerQueue is failed due to following error !! \n");
      LogErrorCode(static_cast<int32_t>(err));
    } else {
      LogInfo("ServiceMain : TimerQueue is created successfully \n");
    }
    // Without a queue of its own the timer goes to the process's default queue.
    StartLoggerTimerChain(queue);
    LoggerTimerMethod(config);
  } else {
    RotateLoggerForEverRunningProcess(config->logFolder.c_str(), config->fileName.c_str(), config->backupCount,
                                      config->maxLogSize);
  }
  return InitAgentLogger(config->fileName.c_str(), config->logFolder.c_str(), config->openMode);
}

int32_t InitAgentLogger(const char* fileName, const char* folder, int32_t mode) {
  bool created = false;
  if (!InitMutex(&created)) return 13;
  g_ownsMutex = g_ownsMutex || created;
  if (!InitLogSettings()) return 13;
  DWORD level = 2;
  if (ReadDwordRegistryData(HKEY_LOCAL_MACHINE, kAgentKeyPath, "TWAgentLogLevel", level) != 0) level = 2;
  // The level is one byte: 258 is level 2, 256 is 0.
  if (!SetLogSettings(fileName, folder, static_cast<uint8_t>(level))) return 13;
  const bool opened = mode == 2 ? OpenNewLogFile() : OpenLogFile();
  return opened ? 0 : 13;
}

int32_t CloseAgentLog() {
  const DWORD err = StopLoggerTimerChain();
  if (err != 0) {
    LogError("ServiceMain : DeleteTimerQueue is failed due to following error !! \n");
    LogErrorCode(static_cast<int32_t>(err));
  }
  CloseLogFile();
  FreeLogSettings();
  if (g_ownsMutex) CloseMutex();
  g_ownsMutex = false;
  return 0;
}
