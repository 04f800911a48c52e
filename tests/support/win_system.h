// Where the running test program and Windows live, for tests that start
// programs beside themselves or look into the system folders.
#pragma once
#include <string>

namespace twtest {

// The folder of the running test program (no trailing backslash).
std::string ExeFolder();
// The Windows folder, as GetWindowsDirectory gives it.
std::string WindowsFolder();

}  // namespace twtest
