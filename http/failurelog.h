// What a failed download leaves for the agent's statistics: a line in the
// agent's error log and a failure counter under "VTTracking".
#pragma once
#include <cstdint>
#include <string>

// Appends the date-time line and `line` (which carries its own line end) to
// the agent's error log "<install folder>logs\twerror.log".
void AppendToAgentErrorLog(const std::string& line);
// Adds one to a failure counter under "<agent key>\VTTracking\<detailsKey>"
// (missing counts as 0), stamps "LastVTDataModifiedTime" and returns the
// count written.
uint32_t IncrementVTTrackingCounter(const char* detailsKey, const char* valueName);
