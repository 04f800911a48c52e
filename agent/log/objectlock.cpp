// Object lock (see objectlock.h). Locked addresses live in a list guarded by one
// unnamed mutex; a waiter releases the mutex, sleeps and tries again. The sleep
// grows by 10 before every wait and is that counter / 1000 milliseconds, so the
// first 99 waits of the process only yield.
#include "agent/log/objectlock.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <vector>

#include "agent/log/platform.h"

namespace {
std::atomic<twplat::Mutex*> g_mutex{nullptr};
std::vector<const void*> g_locked;  // guarded by g_mutex
std::atomic<int> g_sleepCounter{0};
}  // namespace

bool InitMutex(bool* created) {
  if (created) *created = false;
  if (g_mutex.load()) return true;
  twplat::Mutex* m = twplat::CreateMutexObject();
  if (!m) return false;
  // Another thread may have made one meanwhile: the first one stays.
  twplat::Mutex* none = nullptr;
  if (!g_mutex.compare_exchange_strong(none, m)) {
    twplat::CloseMutexObject(m);
    return true;
  }
  if (created) *created = true;
  return true;
}

void CloseMutex() {
  twplat::Mutex* old = g_mutex.exchange(nullptr);
  twplat::CloseMutexObject(old);
}

void LockObject(const void* address) {
  for (;;) {
    twplat::Mutex* m = g_mutex.load();
    if (!m) return;  // before InitMutex or after CloseMutex: nothing to serialise with
    twplat::LockMutex(m);
    bool held = std::find(g_locked.begin(), g_locked.end(), address) != g_locked.end();
    if (!held) g_locked.push_back(address);
    twplat::UnlockMutex(m);
    if (!held) return;
    int next = g_sleepCounter.load();
    int grown;
    do {
      grown = next > INT_MAX - 10 ? INT_MAX : next + 10;
      if (grown == 0) grown = 10;
    } while (!g_sleepCounter.compare_exchange_weak(next, grown));
    twplat::SleepMs(static_cast<uint32_t>(grown / 1000));
  }
}

void UnlockObject(const void* address) {
  twplat::Mutex* m = g_mutex.load();
  if (!m) return;
  twplat::LockMutex(m);
  auto it = std::find(g_locked.begin(), g_locked.end(), address);
  if (it != g_locked.end()) g_locked.erase(it);
  twplat::UnlockMutex(m);
}
