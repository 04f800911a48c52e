// Running-process checks before a Java update: ends the Java quick starter, and
// finds browsers and processes that use the installed Java (their command lines,
// read through WMI, name the Java home). The outcome is the javaInUse flag.
#pragma once
#include <windows.h>

#include <cstdint>

// 1 once a browser or a process using the installed Java was found; never reset.
extern int32_t javaInUse;

// Ends every process whose image name equals `name` (case-insensitive). True when
// at least one was found, whether or not ending it worked.
bool KillProcesses(const char* name);
// Looks up the Java home, then checks browsers and (when no browser runs and the
// home is known) the command lines of all processes. Returns javaInUse.
int32_t isJavaInUse();
// 1 when a browser runs (and sets javaInUse), else javaInUse.
int32_t isBrowserRunning();
// The identifier of another process whose image name agrees with `name` in its
// first 15 characters (case-insensitive), or 0.
uint32_t findProcessByName(const char* name);
// Initialises COM (once, multithreaded) and connects to WMI "root\\cimv2",
// keeping the connection for the life of the process. The result of the last step.
HRESULT ConnectWMINamespace();
// Walks every process through WMI and sets javaInUse when a command line contains
// the Java home (case-sensitive). 0 when some command line was seen, else the
// query's result.
HRESULT CheckForJavaRelatedProceses();
