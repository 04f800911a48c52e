// A stand-in for msiexec.exe that records how Windows started it: its own
// module path, its IsWow64Process answer and its command line, appended to the
// file that the environment variable TW_MSIEXEC_RECORD names, then exit 0.
// Built as a 32-bit and a 64-bit program, so that a test can tell which
// msiexec a 32-bit process on 64-bit Windows was given.
#include <windows.h>

#include <cstdio>

int main() {
  char record[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableA("TW_MSIEXEC_RECORD", record, sizeof record);
  if (n == 0 || n >= sizeof record) return 1;
  char module[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, module, sizeof module);
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  FILE* file = fopen(record, "ab");
  if (!file) return 1;
  fprintf(file, "module=%s\r\nwow64=%d\r\ncommand=%s\r\n", module, wow64 ? 1 : 0, GetCommandLineA());
  fclose(file);
  return 0;
}
