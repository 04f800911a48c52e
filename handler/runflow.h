// The program's spine: reads the agent's install folder, opens the log, parses
// the options and walks the preparation steps in their fixed order; the result
// is the program's exit code.
#pragma once
#include <cstdint>

int32_t RunPrerequisiteHandler(int argc, const char* const* argv);
