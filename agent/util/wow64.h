// "Does this process run on 64-bit Windows?" answered in one place: the 64-bit
// build always says yes, the 32-bit build asks IsWow64Process. Tests may force
// the answer to simulate 32-bit Windows; the registry layer then folds the
// native view into the 32-bit one, as such a computer would.
#pragma once
#include <optional>

bool IsRunningOn64BitWindows();
// std::nullopt restores the real answer.
void OverrideRunningOn64BitWindows(std::optional<bool> answer);
