// Fuzzes the command-line parser: arbitrary argument vectors (NUL-separated).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "handler/options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args{"twprereqhandler.exe"};
  std::string cur;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(cur);
      cur.clear();
    } else {
      cur += static_cast<char>(data[i]);
    }
  }
  args.push_back(cur);
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  g_runOptions = RunOptions{};
  parseCommandLine(static_cast<int>(argv.size()), argv.data());
  isJava8Update();
  return 0;
}
