// Log rotation (see rotation.h): size check, numbered backups, and the timer
// chain that repeats the check for as long as the agent log is open.
#include "agent/log/rotation.h"

#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "agent/config/settings.h"
#include "agent/log/agentlog.h"
#include "agent/log/format.h"
#include "agent/log/logger.h"
#include "agent/log/objectlock.h"
#include "agent/registry/registry.h"
#include "agent/util/errortext.h"
#include "agent/util/scopedhandle.h"
#include "agent/util/textconv.h"

namespace {

// The base of a log name: the text before its first ".log" ("" without one).
std::string LogBaseName(const char* fileName) {
  const char* dot = fileName ? strstr(fileName, ".log") : nullptr;
  if (!dot) return std::string();
  return std::string(fileName, static_cast<size_t>(dot - fileName));
}

// Messages meant for a console: the rotation may run before any log is open.
void WriteToStdout(const std::string& text) {
  fputs(text.c_str(), stdout);
  fflush(stdout);
}

// The two deletion messages differ only in the blank before the colon: the
// live log's has two, a backup's one.
void DeleteLogFile(const std::string& path, bool liveLog) {
  if (DeleteFileA(path.c_str())) {
    LogInfo("RotateSpecificLogs : The file %s was successfully deleted..:\n", path.c_str());
    return;
  }
  const int err = static_cast<int>(GetLastError());
  if (liveLog)
    LogInfo("RotateSpecificLogs : Unable to delete the file %s and the error code is  :%d\n", path.c_str(), err);
  else
    LogInfo("RotateSpecificLogs : Unable to delete the file %s and the error code is :%d\n", path.c_str(), err);
}

std::vector<std::string> SplitNameList(const char* nameList) {
  std::vector<std::string> names;
  if (!nameList) return names;
  std::string_view rest(nameList);
  while (!rest.empty()) {
    size_t cut = rest.find(';');
    std::string_view name = rest.substr(0, cut);
    if (!name.empty()) names.emplace_back(name);
    if (cut == std::string_view::npos) break;
    rest.remove_prefix(cut + 1);
  }
  return names;
}

// Mode 0's size probe: the file must be openable without sharing. Returns false
// when it is not (the name is skipped); `size` is 0 when it cannot be read, in
// which case the file is deleted.
bool ProbeExclusiveSize(const std::string& live, int64_t& size) {
  size = 0;
  KernelHandle h(CreateFileA(live.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) {
    LogError("RotateSpecificLogs : hFile is NULL or not AVAILABLE (Errorcode : %d) for the file name %s . \n",
             static_cast<int>(GetLastError()), live.c_str());
    return false;
  }
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExA(live.c_str(), GetFileExInfoStandard, &data)) {
    size = static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    LogInfo("RotateSpecificLogs : Sucessfully got the %s File size = %lld \n", live.c_str(),
            static_cast<long long>(size));
  } else {
    LogInfo("RotateSpecificLogs : The %s File size detection is failed and the error code is %d \n", live.c_str(),
            static_cast<int>(GetLastError()));
    DeleteLogFile(live, true);
  }
  return true;
}

// Mode 1's last step: copy the live log to backup 1 and empty it. The log lock
// is held from before the copy until the file is empty, so a line written by
// another thread lands either in the copy or in the emptied log, never in the
// gap. Our own lines are written after the lock is released (it is not
// re-entrant), so the copy line is the first of the emptied log.
void CopyAndTruncateLiveLog(const std::string& live, const std::string& target) {
  const void* lock = GetLogLock();
  if (lock) LockObject(lock);
  const BOOL copied = CopyFileA(live.c_str(), target.c_str(), FALSE);
  const DWORD copyErr = copied ? 0 : GetLastError();
  DWORD truncErr = 0;
  if (copied) {
    const KernelHandle h(CreateFileA(live.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) truncErr = GetLastError();
  }
  if (lock) UnlockObject(lock);

  std::wstring wideLive;
  ChangeToWideStr(live.c_str(), wideLive);
  if (!copied) {
    LogInfo("RotateSpecificLogs : CopyFile failed to move from %ls to  %s and the error code is %d \n",
            wideLive.c_str(), target.c_str(), static_cast<int>(copyErr));
    return;
  }
  LogInfo(
      "RotateSpecificLogs : File successfully copied from %ls to  %s so we are going to truncate the content of "
      "the first one \n",
      wideLive.c_str(), target.c_str());
  if (truncErr != 0)
    WriteToStdout(FormatText("RotateSpecificLogs : Truncate Existing backup File failed file Name -%ls errorcode - %d\n",
                             wideLive.c_str(), static_cast<int>(truncErr)));
}

void RotateOneLog(const std::string& folder, const std::string& name, int32_t backupCount, uint32_t limit,
                  int32_t mode) {
  LogInfo("RotateSpecificLogs : Log File Name : %s\n", name.c_str());
  const std::string live = folder + "\\" + name;
  int64_t size = 0;
  if (mode == 0 && !ProbeExclusiveSize(live, size)) return;
  if (!(size > static_cast<int64_t>(limit) || mode == 1)) return;

  const std::string base = LogBaseName(name.c_str());
  const int32_t found = FindNoOfRepeatedFileNames(folder.c_str(), base.c_str());
  LogInfo("RotateSpecificLogs : The return Value from FindNumberOfRepeatedFileNames method is : %d \n", found);

  // Shift from the oldest backup down to the live log; 64-bit so that no
  // backup count makes the arithmetic wrap.
  const int64_t keep = backupCount;
  int64_t c = found;
  do {
    int64_t sourceNo = c - 1;
    std::string source = BackupLogName(folder.c_str(), name.c_str(), sourceNo);
    LogInfo("RotateSpecificLogs : The tempFileName1 : %s . \n", source.c_str());
    if (c >= keep) {
      DeleteLogFile(source, false);
      sourceNo = keep - 2;
      source = BackupLogName(folder.c_str(), name.c_str(), sourceNo);
      c = keep - 1;
    }
    const std::string target = BackupLogName(folder.c_str(), name.c_str(), c);
    LogInfo("RotateSpecificLogs : The tempFileName2 : %s . \n", target.c_str());

    if (c != 1 || (mode != 0 && mode != 1)) {
      if (CopyFileA(source.c_str(), target.c_str(), FALSE)) {
        LogInfo("RotateSpecificLogs : File copied from %s to  %s . \n", source.c_str(), target.c_str());
        DeleteLogFile(source, false);
      } else {
        LogInfo("RotateSpecificLogs : CopyFile failed to move from %s to  %s and the error code is %d \n",
                source.c_str(), target.c_str(), static_cast<int>(GetLastError()));
      }
    } else if (mode == 0) {
      if (CopyFileA(live.c_str(), target.c_str(), FALSE)) {
        LogInfo("RotateSpecificLogs : File successfully copied from %s to  %s . \n", live.c_str(), target.c_str());
        DeleteLogFile(live, true);
      } else {
        LogInfo("RotateSpecificLogs : CopyFile failed to move from %s to  %s and the error code is %d \n",
                live.c_str(), target.c_str(), static_cast<int>(GetLastError()));
      }
    } else {
      CopyAndTruncateLiveLog(live, target);
    }
    c = sourceNo;
  } while (c >= 1);
}

// The timer chain. A run re-arms the next one-shot timer when it ends; closing
// sets `stopping`, waits until no run is in progress and then deletes the
// queue, so no run can touch the log once it is closed.
SRWLOCK g_chainLock = SRWLOCK_INIT;
CONDITION_VARIABLE g_chainIdle = CONDITION_VARIABLE_INIT;
HANDLE g_logTimerQueue = nullptr;  // nullptr: the process's default timer queue
HANDLE g_loggerTimer = nullptr;    // the timer armed last
bool g_stopping = false;
int g_runsInProgress = 0;

}  // namespace

std::string BackupLogName(const char* folder, const char* fileName, int64_t k) {
  return std::string(folder ? folder : "") + "\\" + LogBaseName(fileName) + std::to_string(k) + ".log";
}

int32_t CheckLogSizeReached(const char* path, uint32_t limit) {
  LARGE_INTEGER size;
  size.QuadPart = 0;
  const KernelHandle h(CreateFileA(path ? path : "", GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h) {
    const DWORD err = GetLastError();
    LogError("CheckLogSizeReached : Unable to get the file handle \n");
    LogErrorCodeA(static_cast<int32_t>(err));
  } else {
    if (!GetFileSizeEx(h.Get(), &size)) {
      LogError("CheckLogSizeReached : Error occurred in getting the size %d \n", static_cast<int>(GetLastError()));
      size.QuadPart = 0;
    }
  }
  LogInfo("CheckLogSizeReached : The log file size of %s is given by %ld \n", path,
          static_cast<long>(static_cast<int32_t>(size.LowPart)));
  if (size.QuadPart < static_cast<int64_t>(limit)) {
    LogDebug("CheckLogSizeReached : The size is less the required size \n");
    return 0;
  }
  LogInfo("CheckLogSizeReached : The size is greater than the given size .........\n");
  return 1;
}

int32_t FindNoOfRepeatedFileNames(const char* folder, const char* base) {
  LogDebug("@@@@@@@@@@@@Inside FindNoOfRepeatedFileNames Method @@@@@@@@@\n");
  const std::string dir = folder ? folder : "";
  const std::string pattern = dir + "\\" + (base ? base : "") + "*.*";
  LogInfo("FindNoOfRepeatedFileNames : Successfully allocated szFormattedPath and the value is %s  .\n",
          pattern.c_str());
  int32_t count = 0;
  WIN32_FIND_DATAA entry;
  FindHandle h(FindFirstFileA(pattern.c_str(), &entry));
  const DWORD firstErr = h ? 0 : GetLastError();
  LogInfo("FindNoOfRepeatedFileNames : Successfully finded out first file  %d  .\n",
          static_cast<int>(reinterpret_cast<intptr_t>(h.Get())));
  if (!h) {
    LogErrorCode(static_cast<int32_t>(firstErr));
    LogError("FindNumberOfRepeatedFileNames : Unable to find the files/folder.\n");
    count = -1;
  } else {
    DWORD endErr = 0;
    do {
      ++count;
      const std::string entryPath = dir + "\\" + entry.cFileName;
      LogInfo("FindNoOfRepeatedFileNames : after memset of szSrcPath is  %s  .\n", entryPath.c_str());
      if (!FindNextFileA(h.Get(), &entry)) endErr = GetLastError();
    } while (endErr == 0);
    h.Close();
    if (endErr != ERROR_NO_MORE_FILES) {
      LogErrorCode(static_cast<int32_t>(endErr));
      LogError("FindNumberOfRepeatedFileNames : Couldn't find next file :%d\n", static_cast<int>(endErr));
      count = -1;
    }
  }
  LogInfo("FindNoOfRepeatedFileNames : Going to Free the allocated memory in this method.\n");
  LogDebug("@@@@@@@@@@@@End of FindNoOfRepeatedFileNames Method with return value of No of file count : %d\t  @@@@@@@@@\n",
           count);
  return count;
}

int32_t RotateSpecificLogs(const char* folder, const char* nameList, int32_t backupCount, uint32_t limit,
                           int32_t mode) {
  LogInfo("\n @@@@@@@@@@@@@@@Inside RotateSpecificLogs Method @@@@@@@@@@@@@\n");
  std::string folderText;
  if (folder) {
    folderText = folder;
  } else {
    std::optional<std::string> installDir;
    const int32_t rc = ReadAgentInstallDir(installDir);
    if (rc != 0 || !installDir) {
      const int32_t err = rc != 0 ? rc : ERROR_FILE_NOT_FOUND;
      WriteToStdout(FormatText("RotateSpecificLogs : Unable to get the agent installed directory %d \n", err));
      return err;
    }
    folderText = *installDir + "logs\\";
  }
  for (const std::string& name : SplitNameList(nameList)) RotateOneLog(folderText, name, backupCount, limit, mode);
  LogInfo("\n @@@@@@@@@@@@@@@ End of RotateSpecificLogs Method with error code %d @@@@@@@@@@@@@\n", 0);
  return 0;
}

int32_t RotateLoggerForEverRunningProcess(const char* folder, const char* fileName, int32_t backupCount,
                                          int32_t maxLogSize) {
  if (!fileName) return 13;
  std::string folderText;
  if (folder) {
    folderText = std::string(folder) + "\\";
  } else if (gv_agentInstallDir) {
    folderText = *gv_agentInstallDir + "logs\\";
  } else {
    LogError("RotateLoggerForEverRunningProcess : the agent install folder is not known \n");
    return 13;
  }
  const std::string path = folderText + fileName;
  LogInfo("RotateLoggerForEverRunningProcess : cSfileName : %s \n", path.c_str());
  if (CheckLogSizeReached(path.c_str(), static_cast<uint32_t>(maxLogSize)) != 1) return 0;
  return RotateSpecificLogs(folderText.c_str(), fileName, backupCount, static_cast<uint32_t>(maxLogSize), 1);
}

int32_t LoggerTimerMethod(LoggerConfig* config) {
  if (!config) return ERROR_INVALID_PARAMETER;
  RotateLoggerForEverRunningProcess(config->logFolder.c_str(), config->fileName.c_str(), config->backupCount,
                                    config->maxLogSize);

  AcquireSRWLockExclusive(&g_chainLock);
  if (g_stopping) {  // the log is being closed: no next run
    ReleaseSRWLockExclusive(&g_chainLock);
    return 0;
  }
  const HANDLE queue = g_logTimerQueue;
  const HANDLE previous = g_loggerTimer;
  HANDLE timer = nullptr;
  const DWORD period = static_cast<DWORD>(config->timerPeriodMs);
  const BOOL created = CreateTimerQueueTimer(&timer, queue, LoggerTimerRoutine, config, period, 0, WT_EXECUTEDEFAULT);
  const DWORD err = created ? 0 : GetLastError();
  if (created) g_loggerTimer = timer;
  ReleaseSRWLockExclusive(&g_chainLock);

  if (!created) {
    LogError("LoggerTimerMethod : CreateTimerQueueTimer failed due to following error \n");
    LogErrorCode(static_cast<int32_t>(err));
    return static_cast<int32_t>(err);
  }
  // The one-shot timer armed before (normally the one whose callback is
  // running now) is released once its callback has returned.
  if (previous) DeleteTimerQueueTimer(queue, previous, nullptr);
  LogDebug("LoggerTimerMethod : Registered the TimerRoutime callback in next %d minutes . \n",
           config->timerPeriodMs / 60000);
  return 0;
}

VOID CALLBACK LoggerTimerRoutine(PVOID config, BOOLEAN /*timerFired*/) {
  AcquireSRWLockExclusive(&g_chainLock);
  if (g_stopping) {
    ReleaseSRWLockExclusive(&g_chainLock);
    return;
  }
  ++g_runsInProgress;
  ReleaseSRWLockExclusive(&g_chainLock);

  LogInfo("LoggerTimerRoutine : Inside LoggerTimerRoutine Method\n");
  LoggerTimerMethod(static_cast<LoggerConfig*>(config));
  LogInfo("LoggerTimerRoutine : End of LoggerTimerRoutine Method\n");

  AcquireSRWLockExclusive(&g_chainLock);
  if (--g_runsInProgress == 0) WakeAllConditionVariable(&g_chainIdle);
  ReleaseSRWLockExclusive(&g_chainLock);
}

void StartLoggerTimerChain(HANDLE queue) {
  StopLoggerTimerChain();
  AcquireSRWLockExclusive(&g_chainLock);
  g_logTimerQueue = queue;
  g_loggerTimer = nullptr;
  g_stopping = false;
  ReleaseSRWLockExclusive(&g_chainLock);
}

DWORD StopLoggerTimerChain() {
  AcquireSRWLockExclusive(&g_chainLock);
  g_stopping = true;
  while (g_runsInProgress > 0) SleepConditionVariableSRW(&g_chainIdle, &g_chainLock, INFINITE, 0);
  const HANDLE queue = g_logTimerQueue;
  const HANDLE timer = g_loggerTimer;
  g_logTimerQueue = nullptr;
  g_loggerTimer = nullptr;
  ReleaseSRWLockExclusive(&g_chainLock);

  // INVALID_HANDLE_VALUE: return only when every callback has finished.
  if (queue) {
    if (!DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE)) return GetLastError();
  } else if (timer) {
    if (!DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE)) return GetLastError();
  }
  return 0;
}
