// Runs the Java in-use check in a process of its own and answers with its
// result as the exit code, logging into the folder it is given:
//   tw_proc_wmicheck.exe <log folder> <productVersion> <patchName> [more arguments]
// The further arguments only make up the command line the check is to find.
#include <windows.h>

#include "agent/config/settings.h"
#include "agent/log/logger.h"
#include "agent/log/objectlock.h"
#include "handler/options.h"
#include "handler/processes.h"

int main(int argc, char** argv) {
  if (argc < 4) return 100;
  InitMutex();
  InitLogSettings();
  SetLogSettings("wmicheck.log", argv[1], 4);
  if (!OpenLogFile()) return 101;
  g_runOptions.productVersion = argv[2];
  g_runOptions.patchName = argv[3];
  gv_IsWow64 = 1;
  const int result = isJavaInUse();
  CloseLogFile();
  return result;
}
