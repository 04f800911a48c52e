// Small operating-system shims for the portable log core: thread id, local
// clock, one process-wide mutex, sleeping, the append-only log file, mkdir.
// Windows uses Win32; the host build (tests, benchmarks) uses POSIX.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace twplat {

struct LocalTime {
  int year, month, day, hour, minute, second, millis;
};

LocalTime Now();
// Tests may stand in a clock of their own for Now(); nullptr restores the system's.
void SetClockForTest(LocalTime (*clock)());
uint32_t CurrentThreadId();
void SleepMs(uint32_t ms);  // 0 yields the processor

// Opens (creates, or with `truncate` empties) a file for appending only, so that
// other processes may read and write it meanwhile and every AppendWhole lands
// whole at the end of the file, whoever else appends to it. The stream is only
// for AppendWhole and fclose.
FILE* OpenAppendOnly(const char* path, bool truncate);
// Writes `size` bytes to a stream of OpenAppendOnly with one system write. On
// Windows each "\n" is written as "\r\n", as a text-mode stream would.
bool AppendWhole(FILE* stream, const char* data, size_t size);

// The runtime's make-directory call; returns 0 or the runtime's errno.
int MakeDir(const char* path);

// One process-wide unnamed mutex (Windows mutex object on Windows).
struct Mutex;
Mutex* CreateMutexObject();
void LockMutex(Mutex* m);
void UnlockMutex(Mutex* m);
void CloseMutexObject(Mutex* m);

}  // namespace twplat
