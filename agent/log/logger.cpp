// The support library's logger (see logger.h).
#include "agent/log/logger.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "agent/log/format.h"
#include "agent/log/objectlock.h"
#include "agent/log/platform.h"

std::atomic<FILE*> gv_logFilePtr{nullptr};

namespace {

struct LogSettings {
  std::optional<std::string> fileName;
  std::optional<std::string> folder;
  std::optional<std::string> path;
  std::optional<std::string> cquillRoot;
  std::atomic<uint8_t> level{3};
  std::unique_ptr<char> lock;  // a one-byte object whose address is the log lock
};

LogSettings& Settings() {
  static LogSettings s;
  return s;
}

int WriteLine(uint8_t threshold, const char* tag, const char* format, va_list ap) {
  LogSettings& s = Settings();
  if (!gv_logFilePtr.load()) return 0;
  uint8_t level = s.level.load();
  if (level == 0 || level < threshold) return 0;
  const void* lock = s.lock.get();
  if (!lock) return 0;
  std::string line = "[ " + GetTimeStamp() + " ] [ " +
                     std::to_string(static_cast<int32_t>(twplat::CurrentThreadId())) + " ] " + tag + " " +
                     FormatTextV(format, ap);
  LockObject(lock);
  // The stream may have been closed while this thread waited for the lock.
  if (FILE* f = gv_logFilePtr.load()) {
    fwrite(line.data(), 1, line.size(), f);
    fflush(f);
  }
  UnlockObject(lock);
  return 0;
}

bool Open(const char* mode) {
  LogSettings& s = Settings();
  if (gv_logFilePtr.load()) {
    LogTrace("gv_logFilePtr already Set\n");
    return true;
  }
  const std::string name = s.fileName.value_or("");
  std::string path;
  if (s.folder) {
    CreateDirectoryTree(s.folder->c_str());
    path = *s.folder + "/" + name;
  } else if (s.cquillRoot) {
    CreateDirectoryTree((*s.cquillRoot + "/logs").c_str());
    path = *s.cquillRoot + "/logs/" + name;
  } else {
    twplat::MakeDir("../logs");
    path = "../logs/" + name;
  }
  s.path = path;
  FILE* f = twplat::OpenShared(path.c_str(), mode);
  if (!f) return false;
  std::string opened = "Log open time: " + GetTimeStamp() + "\n";
  fwrite(opened.data(), 1, opened.size(), f);
  fflush(f);
  gv_logFilePtr.store(f);
  return true;
}

}  // namespace

#define TW_LEVEL_OP(name, threshold, tag)          \
  int name(const char* format, ...) {              \
    va_list ap;                                    \
    va_start(ap, format);                          \
    int r = WriteLine(threshold, tag, format, ap); \
    va_end(ap);                                    \
    return r;                                      \
  }

TW_LEVEL_OP(LogInfo, 1, "[INFO]")
TW_LEVEL_OP(LogError, 2, "[ERROR]")
TW_LEVEL_OP(LogDebug, 3, "[DEBUG]")
TW_LEVEL_OP(LogTrace, 4, "[TRACE]")

bool InitLogSettings() {
  LogSettings& s = Settings();
  if (gv_logFilePtr.load()) {
    s.level = 3;
    return true;
  }
  if (s.fileName) return true;
  s.fileName = "cquill.log";
  s.lock.reset(new char(0));
  s.folder.reset();
  s.path.reset();
  s.level = 3;
  return true;
}

bool SetLogSettings(const char* fileName, const char* folder, uint8_t level) {
  LogSettings& s = Settings();
  s.fileName.reset();
  s.folder.reset();
  if (fileName) s.fileName = fileName;
  if (folder) s.folder = folder;
  s.level = level;
  return true;
}

bool SetLogFileName(const char* name) {
  if (!name) return false;
  Settings().fileName = name;
  return true;
}

bool SetLogDirectory(const char* folder) {
  if (!folder) return false;
  Settings().folder = folder;
  return true;
}

void SetLogLevel(uint8_t level) { Settings().level = level; }

bool SetLogFilePtr(FILE* stream) {
  if (!stream) return false;
  gv_logFilePtr.store(stream);
  return true;
}

void SetCQuillRoot(const char* root) {
  if (root)
    Settings().cquillRoot = root;
  else
    Settings().cquillRoot.reset();
}

uint8_t GetLogLevel() { return Settings().level.load(); }
std::optional<std::string> GetLogFilePath() { return Settings().path; }
std::optional<std::string> GetCQuillRoot() { return Settings().cquillRoot; }
const void* GetLogLock() { return Settings().lock.get(); }

bool OpenLogFile() { return Open("a+"); }
bool OpenNewLogFile() { return Open("w"); }

void CloseLogFile() {
  const void* lock = Settings().lock.get();
  if (lock) LockObject(lock);
  if (FILE* f = gv_logFilePtr.exchange(nullptr)) {
    std::string closed = "Log close time: " + GetTimeStamp() + "\n";
    fwrite(closed.data(), 1, closed.size(), f);
    fflush(f);
    fclose(f);
  }
  if (lock) UnlockObject(lock);
}

void FreeLogSettings() {
  LogSettings& s = Settings();
  s.fileName.reset();
  s.folder.reset();
  s.path.reset();
  s.lock.reset();
}

std::string GetTimeStamp() {
  twplat::LocalTime t = twplat::Now();
  char buf[64];
  snprintf(buf, sizeof buf, "%d-%02d-%02d %02d:%02d:%02d:%03d", t.year, t.month, t.day, t.hour, t.minute,
           t.second, t.millis);
  return buf;
}

int CreateDirectoryTree(const char* path) {
  if (!path) return EINVAL;
  int r = twplat::MakeDir(path);
  if (r == 0) return 0;
  if (r == EEXIST) return 1;
  if (r != ENOENT) return r;
  std::string parent = path;
  while (!parent.empty() && parent.back() == '/') parent.pop_back();
  size_t slash = parent.rfind('/');
  if (slash == std::string::npos) return r;  // no parent text: nothing more to create
  parent.resize(slash);
  if (parent.empty()) return r;
  int pr = CreateDirectoryTree(parent.c_str());
  if (pr != 0 && pr != 1) return pr;
  r = twplat::MakeDir(path);
  if (r == EEXIST) return 1;
  return r;
}

void AppendTextToFile(const char* path, const char* format, ...) {
  if (!path) return;
  FILE* f = fopen(path, "a");
  if (!f) return;
  va_list ap;
  va_start(ap, format);
  std::string text = FormatTextV(format, ap);
  va_end(ap);
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
}
