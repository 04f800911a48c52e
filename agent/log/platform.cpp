// Operating-system shims of the log core (see platform.h).
#include "agent/log/platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>
#include <ctime>
#include <mutex>
#include <thread>
#endif

namespace twplat {

namespace {
std::atomic<LocalTime (*)()> g_testClock{nullptr};
LocalTime SystemNow();
}  // namespace

LocalTime Now() {
  if (LocalTime (*clock)() = g_testClock.load(std::memory_order_relaxed)) return clock();
  return SystemNow();
}

void SetClockForTest(LocalTime (*clock)()) { g_testClock.store(clock); }

#ifdef _WIN32

namespace {
LocalTime SystemNow() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}
}  // namespace

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

void SleepMs(uint32_t ms) { Sleep(ms); }

// The handle has FILE_APPEND_DATA without FILE_WRITE_DATA: the system then
// writes each WriteFile at the current end of the file in one step, so lines of
// two processes sharing the log never overwrite each other (a handle that may
// write anywhere, as the runtime's "a+" gives, seeks to the end and then
// writes, and another process may append in between). Rotation empties the
// file through a handle of its own; this one simply goes on at the new end.
FILE* OpenAppendOnly(const char* path, bool truncate) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  if (truncate) {
    HANDLE h = CreateFileA(path, GENERIC_WRITE, share, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    CloseHandle(h);
  }
  HANDLE h = CreateFileA(path, FILE_GENERIC_WRITE & ~FILE_WRITE_DATA, share, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_APPEND | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  FILE* f = _fdopen(fd, "ab");
  if (!f) _close(fd);
  return f;
}

bool AppendWhole(FILE* stream, const char* data, size_t size) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (h == INVALID_HANDLE_VALUE) return false;
  // The log has always been a text-mode file here: "\r\n" ends its lines.
  const size_t feeds = static_cast<size_t>(std::count(data, data + size, '\n'));
  char local[1024];
  std::string heap;
  const char* out = data;
  size_t left = size;
  if (feeds > 0) {
    left = size + feeds;
    char* to = local;
    if (left > sizeof local) {
      heap.resize(left);
      to = heap.data();
    }
    out = to;
    for (size_t i = 0; i < size; ++i) {
      if (data[i] == '\n') *to++ = '\r';
      *to++ = data[i];
    }
  }
  while (left > 0) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(left, 0x40000000));
    if (!WriteFile(h, out, chunk, &written, nullptr) || written == 0) return false;
    out += written;
    left -= written;
  }
  return true;
}

int MakeDir(const char* path) { return _mkdir(path) == 0 ? 0 : errno; }

// The object locks' mutex is private to the process, so a critical section
// serves: it waits without limit like an unnamed kernel mutex but stays in user
// mode when nobody holds it (every log line takes it twice).
struct Mutex {
  CRITICAL_SECTION section;
};

Mutex* CreateMutexObject() {
  Mutex* m = new Mutex;
  InitializeCriticalSection(&m->section);
  return m;
}
void LockMutex(Mutex* m) { EnterCriticalSection(&m->section); }
void UnlockMutex(Mutex* m) { LeaveCriticalSection(&m->section); }
void CloseMutexObject(Mutex* m) {
  if (!m) return;
  DeleteCriticalSection(&m->section);
  delete m;
}

#else

namespace {
LocalTime SystemNow() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm t;
  localtime_r(&tv.tv_sec, &t);
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
          static_cast<int>(tv.tv_usec / 1000)};
}
}  // namespace

// Asked of the kernel once per thread (a system call costs a good part of a
// log line), and again in the child after a fork.
namespace {
thread_local uint32_t t_threadId = 0;
}  // namespace

uint32_t CurrentThreadId() {
  static const bool forgetInChild = pthread_atfork(nullptr, nullptr, [] { t_threadId = 0; }) == 0;
  (void)forgetInChild;
  if (t_threadId == 0) t_threadId = static_cast<uint32_t>(syscall(SYS_gettid));
  return t_threadId;
}

void SleepMs(uint32_t ms) {
  if (ms == 0)
    std::this_thread::yield();
  else
    usleep(ms * 1000);
}

// O_APPEND: each write() lands whole at the end of the file.
FILE* OpenAppendOnly(const char* path, bool truncate) {
  const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0666);
  if (fd < 0) return nullptr;
  FILE* f = fdopen(fd, "a");
  if (!f) close(fd);
  return f;
}

bool AppendWhole(FILE* stream, const char* data, size_t size) {
  const int fd = fileno(stream);
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

int MakeDir(const char* path) { return mkdir(path, 0777) == 0 ? 0 : errno; }

struct Mutex {
  std::mutex m;
};
Mutex* CreateMutexObject() { return new Mutex; }
void LockMutex(Mutex* m) { m->m.lock(); }
void UnlockMutex(Mutex* m) { m->m.unlock(); }
void CloseMutexObject(Mutex* m) { delete m; }

#endif

}  // namespace twplat
