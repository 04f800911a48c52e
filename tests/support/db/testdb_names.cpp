// What the host and Windows sides of the test databases share (see testdb.h):
// the interface's destructor and names that no two test processes give out,
// also when the servers are the whole run's and outlive each process.
#include <atomic>
#include <cstdio>
#include <random>

#include "tests/support/db/testdb.h"
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace twtest::db {

TestDatabase::~TestDatabase() = default;

std::string UniqueDatabaseName(const std::string& prefix) {
  // The process ID tells apart the processes that run side by side; the random
  // part a later process that got the same ID after one that crashed and left
  // its databases behind; the count the names of one process.
  static const unsigned tag = std::random_device()();
  static std::atomic<unsigned> count{0};
#ifdef _WIN32
  const unsigned long pid = GetCurrentProcessId();
#else
  const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
  char suffix[64];
  snprintf(suffix, sizeof suffix, "_%lu_%08x_%u", pid, tag, ++count);
  return prefix + suffix;
}

}  // namespace twtest::db
