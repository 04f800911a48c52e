// Small operating-system shims for the portable log core: thread id, local
// clock, one process-wide mutex, sleeping, shared-mode file open, mkdir.
// Windows uses Win32; the host build (tests, benchmarks) uses POSIX.
#pragma once
#include <cstdint>
#include <cstdio>

namespace twplat {

struct LocalTime {
  int year, month, day, hour, minute, second, millis;
};

LocalTime Now();
uint32_t CurrentThreadId();
void SleepMs(uint32_t ms);  // 0 yields the processor

// Opens a file so that other processes may read, write and delete it meanwhile.
FILE* OpenShared(const char* path, const char* mode);

// The runtime's make-directory call; returns 0 or the runtime's errno.
int MakeDir(const char* path);

// One process-wide unnamed mutex (Windows mutex object on Windows).
struct Mutex;
Mutex* CreateMutexObject();
void LockMutex(Mutex* m);
void UnlockMutex(Mutex* m);
void CloseMutexObject(Mutex* m);

}  // namespace twplat
