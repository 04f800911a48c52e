// Operating-system shims of the log core (see platform.h).
#include "agent/log/platform.h"

#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#include <direct.h>
#include <share.h>
#else
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>
#include <ctime>
#include <mutex>
#include <thread>
#endif

namespace twplat {

#ifdef _WIN32

LocalTime Now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

void SleepMs(uint32_t ms) { Sleep(ms); }

FILE* OpenShared(const char* path, const char* mode) { return _fsopen(path, mode, _SH_DENYNO); }

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

LocalTime Now() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm t;
  localtime_r(&tv.tv_sec, &t);
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
          static_cast<int>(tv.tv_usec / 1000)};
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

void SleepMs(uint32_t ms) {
  if (ms == 0)
    std::this_thread::yield();
  else
    usleep(ms * 1000);
}

FILE* OpenShared(const char* path, const char* mode) { return fopen(path, mode); }

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
