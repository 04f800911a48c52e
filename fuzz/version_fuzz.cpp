// Fuzzes the version comparison: two texts split at the first NUL byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "handler/version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string in(reinterpret_cast<const char*>(data), size);
  size_t nul = in.find('\0');
  std::string a = in.substr(0, nul);
  std::string b = nul == std::string::npos ? std::string() : in.substr(nul + 1);
  b = b.substr(0, b.find('\0'));
  bool eq = CheckForVersionEqual(a.c_str(), b.c_str());
  bool le = CheckForVersionLesserAndEquals(a.c_str(), b.c_str());
  // Equal versions are always lesser-or-equal.
  if (eq && !le) __builtin_trap();
  return 0;
}
