// Starting other programs: `execute` runs one command line in a working folder,
// waits for it up to a limit in minutes and ends it when the limit passes;
// `runInstaller` does the same and counts the installer success codes as success.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

// How a 32-bit process on 64-bit Windows finds the program of a command line:
// through WOW64 file-system redirection (a path under System32 reaches the
// SysWOW64 folder), or in the native file system (System32 is the 64-bit
// system folder). A 64-bit process and 32-bit Windows see no difference.
enum class ProgramLookup { kRedirected, kNative };

// Runs `commandLine` (program path and arguments) with `workingFolder` as the
// current directory (nullptr: the caller's). Waits up to `timeLimitMinutes`
// (0: not waited for) and terminates the process when the limit passes.
// Result: the exit code, 258 after a time-out, or the Windows error that kept
// the program from running or being waited for; 13 for a missing command line
// or a negative limit. `remark` receives the message text of the result.
// `showWindow` not 0 shows the program's window normally.
int32_t execute(const char* workingFolder, const char* commandLine, std::string& remark, int32_t timeLimitMinutes,
                int32_t showWindow, ProgramLookup lookup = ProgramLookup::kRedirected);

// As `execute`, with the installer success codes 0, 1508, 1641 and 3010 given as 0.
int32_t runInstaller(const char* workingFolder, const char* commandLine, std::string& remark,
                     int32_t timeLimitMinutes, int32_t showWindow, ProgramLookup lookup = ProgramLookup::kRedirected);

// Test seam: the length in milliseconds of one minute of the time limit
// (60000 in production); std::nullopt restores it.
void OverrideExecuteMinuteLength(std::optional<uint32_t> milliseconds);
