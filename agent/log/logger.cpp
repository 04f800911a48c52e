// The support library's logger (see logger.h).
#include "agent/log/logger.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

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
  // The stream was opened here for appending only (else SetLogFilePtr adopted it).
  std::atomic<bool> appendOnly{false};
};

LogSettings& Settings() {
  static LogSettings s;
  return s;
}

// Longest texts of the line prefix: seven numbers of the timestamp, each at
// most 11 characters ("-2147483648"), with their six separators; a tag such as
// "[ERROR]"; the whole "[ <timestamp> ] [ <thread id> ] <tag> ".
constexpr size_t kIntMax = 11;
constexpr size_t kTimeStampMax = 7 * kIntMax + 6;
constexpr size_t kTagMax = 7;
constexpr size_t kPrefixMax = 2 + kTimeStampMax + 5 + kIntMax + 3 + kTagMax + 1;

// Writes `value` as printf's "%0<width>d" does; returns the end.
char* PutDecimal(char* out, int value, int width) {
  char digits[kIntMax];
  unsigned int magnitude = value < 0 ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) {
    *out++ = '-';
    --width;
  }
  for (int pad = width - count; pad > 0; --pad) *out++ = '0';
  while (count > 0) *out++ = digits[--count];
  return out;
}

char* PutText(char* out, std::string_view text) {
  memcpy(out, text.data(), text.size());
  return out + text.size();
}

// The timestamp "%d-%02d-%02d %02d:%02d:%02d:%03d" of the local clock, read
// now, into out (kTimeStampMax bytes); returns the end.
char* PutTimeStamp(char* out) {
  const twplat::LocalTime t = twplat::Now();
  out = PutDecimal(out, t.year, 0);
  *out++ = '-';
  out = PutDecimal(out, t.month, 2);
  *out++ = '-';
  out = PutDecimal(out, t.day, 2);
  *out++ = ' ';
  out = PutDecimal(out, t.hour, 2);
  *out++ = ':';
  out = PutDecimal(out, t.minute, 2);
  *out++ = ':';
  out = PutDecimal(out, t.second, 2);
  *out++ = ':';
  return PutDecimal(out, t.millis, 3);
}

// One write of a whole line: one append for a stream opened here, else
// through the adopted stream as it stands.
void Emit(FILE* f, const char* data, size_t size) {
  if (Settings().appendOnly.load()) {
    twplat::AppendWhole(f, data, size);
  } else {
    fwrite(data, 1, size, f);
    fflush(f);
  }
}

// "Log open time: ..." and "Log close time: ...": no prefix, no level.
void WriteFramingLine(FILE* f, std::string_view label) {
  char line[32 + kTimeStampMax];
  char* end = PutText(line, label);
  end = PutTimeStamp(end);
  *end++ = '\n';
  Emit(f, line, static_cast<size_t>(end - line));
}

int WriteLine(uint8_t threshold, std::string_view tag, const char* format, va_list ap) {
  LogSettings& s = Settings();
  if (!gv_logFilePtr.load()) return 0;
  uint8_t level = s.level.load();
  if (level == 0 || level < threshold) return 0;
  const void* lock = s.lock.get();
  if (!lock) return 0;
  // The message is formatted behind room for the longest prefix, so that the
  // whole line leaves in one write without being copied.
  char line[1024];
  std::string spill;  // a message too long for the stack, or one of wide texts
  size_t length = 0;
  char* message = FormatTextInto(line + kPrefixMax, sizeof line - kPrefixMax, spill, length, format, ap);
  if (message != line + kPrefixMax) {
    spill.insert(0, kPrefixMax, ' ');
    message = spill.data() + kPrefixMax;
  }
  const int32_t threadId = static_cast<int32_t>(twplat::CurrentThreadId());
  LockObject(lock);
  // The stream may have been closed while this thread waited for the lock. The
  // timestamp is read only now, under the lock, so that the lines of all
  // threads carry their times in the order in which they stand in the file.
  if (FILE* f = gv_logFilePtr.load()) {
    char* start = message - kPrefixMax;
    char* end = PutText(start, "[ ");
    end = PutTimeStamp(end);
    end = PutText(end, " ] [ ");
    end = PutDecimal(end, threadId, 0);
    end = PutText(end, " ] ");
    end = PutText(end, tag);
    *end++ = ' ';
    // The prefix was written at the front of the room; close the gap to the message.
    const size_t prefixLength = static_cast<size_t>(end - start);
    start = static_cast<char*>(memmove(message - prefixLength, start, prefixLength));
    Emit(f, start, prefixLength + length);
  }
  UnlockObject(lock);
  return 0;
}

bool Open(bool truncate) {
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
  FILE* f = twplat::OpenAppendOnly(path.c_str(), truncate);
  if (!f) return false;
  s.appendOnly = true;
  WriteFramingLine(f, "Log open time: ");
  gv_logFilePtr.store(f);
  return true;
}

}  // namespace

#define TW_LEVEL_OP(name, threshold, tag)          \
  int name(const char* format, ...) {              \
    static_assert(sizeof(tag) - 1 <= kTagMax);     \
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
  Settings().appendOnly = false;
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

bool OpenLogFile() { return Open(false); }
bool OpenNewLogFile() { return Open(true); }

void CloseLogFile() {
  const void* lock = Settings().lock.get();
  if (lock) LockObject(lock);
  if (FILE* f = gv_logFilePtr.exchange(nullptr)) {
    WriteFramingLine(f, "Log close time: ");
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
  char buf[kTimeStampMax];
  return std::string(buf, PutTimeStamp(buf));
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
