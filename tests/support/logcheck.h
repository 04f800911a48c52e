// Log assertions shared by the tests: a message written at a given level, and
// how often a message was written.
#pragma once
#include <string>

#include "tests/support/scratch.h"

namespace twtest {

// True when the log holds a line with this tag ("[INFO]", "[ERROR]", ...) and
// exactly this message (a final line feed in `message` is ignored).
inline bool HasLine(const LogCapture& log, const std::string& tag, std::string message) {
  if (!message.empty() && message.back() == '\n') message.pop_back();
  for (const std::string& line : SplitLines(log.Text()))
    if (TagOf(line) == tag && MessageOf(line) == message) return true;
  return false;
}

// Number of lines carrying exactly this message, at any level.
inline int CountMessage(const LogCapture& log, std::string message) {
  if (!message.empty() && message.back() == '\n') message.pop_back();
  int n = 0;
  for (const std::string& m : log.Messages())
    if (m == message) ++n;
  return n;
}

}  // namespace twtest
