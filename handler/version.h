// Comparison of dotted version texts (as the Windows uninstall entries give
// them, e.g. 8.0.2010.9): numeric per component, over the components both
// texts have.
#pragma once
#include <cstddef>
#include <optional>
#include <string>

// The next "."-separated component from `cursor` on, advancing the cursor past
// the dot; none when the cursor stands at the end of the text.
std::optional<std::string> nextVersionPart(const std::string& text, size_t& cursor);

// True when the two versions agree component by component over the shorter
// one's length (8.0.2010 equals 8.0.2010.9).
bool CheckForVersionEqual(const char* installedVersion, const char* versionToCheck);

// True when the first differing component (over the shorter length) is smaller
// in `currentVersion`, or when none differs; never for a text without components.
bool CheckForVersionLesserAndEquals(const char* currentVersion, const char* maxVersion);
