// A tiny program for the execute tests. Its arguments are steps done in order:
//   pid FILE    write the process id into FILE
//   cwd FILE    write the current directory into FILE
//   sleep MS    sleep MS milliseconds
//   exit N      end with exit code N
// Without an exit step it ends with 0.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
void WriteText(const char* path, const char* text) {
  FILE* f = fopen(path, "wb");
  if (!f) return;
  fputs(text, f);
  fclose(f);
}
}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const char* step = argv[i];
    const char* value = argv[i + 1];
    if (strcmp(step, "pid") == 0) {
      char text[32];
      snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(GetCurrentProcessId()));
      WriteText(value, text);
    } else if (strcmp(step, "cwd") == 0) {
      char dir[4096];
      DWORD n = GetCurrentDirectoryA(sizeof dir, dir);
      if (n > 0 && n < sizeof dir) WriteText(value, dir);
    } else if (strcmp(step, "sleep") == 0) {
      Sleep(static_cast<DWORD>(strtoul(value, nullptr, 10)));
    } else if (strcmp(step, "exit") == 0) {
      return static_cast<int>(strtol(value, nullptr, 10));
    }
  }
  return 0;
}
