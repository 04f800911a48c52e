// The program's own result codes and their messages, for codes that Windows
// has no message text for.
#pragma once
#include <cstdint>
#include <string>

std::string GetResultMessage(int32_t code);
