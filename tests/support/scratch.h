// Shared test helpers: private scratch folders, whole-file reads and writes,
// and a capture of the support-library log into a scratch file.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace twtest {

// A new empty folder unique to this process and name (no trailing separator).
std::string MakeScratchDir(const std::string& name);
// Removes a folder tree made by MakeScratchDir (or any path); ignores errors.
void RemoveTree(const std::string& path);
std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
// Platform path separator joined: Join("a", "b") -> "a\\b" on Windows, "a/b" elsewhere.
std::string Join(const std::string& a, const std::string& b);
std::vector<std::string> SplitLines(const std::string& text);
// The message part of a log line: what follows "[TAG] ".
std::string MessageOf(const std::string& line);
// The tag of a log line ("[INFO]", ...), or "" for open/close lines.
std::string TagOf(const std::string& line);

// Opens the support-library log in a scratch folder at the given level and
// closes it again when destroyed. Text() is the file so far.
class LogCapture {
 public:
  explicit LogCapture(uint8_t level = 4, const std::string& name = "capture");
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  std::string Text() const;
  // Messages (prefix stripped) of the lines written since construction.
  std::vector<std::string> Messages() const;
  // True when some message equals `message` exactly.
  bool Has(const std::string& message) const;
  const std::string& Path() const { return path_; }
  const std::string& Folder() const { return folder_; }

 private:
  std::string folder_;
  std::string path_;
};

}  // namespace twtest
