// Shared test helpers (see scratch.h).
#include "tests/support/scratch.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "agent/log/logger.h"
#include "agent/log/objectlock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace twtest {

namespace {
std::atomic<int> g_counter{0};

std::string ProcessId() {
#ifdef _WIN32
  return std::to_string(GetCurrentProcessId());
#else
  return std::to_string(getpid());
#endif
}
}  // namespace

std::string MakeScratchDir(const std::string& name) {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec) / ("tw-test-" + ProcessId());
  fs::path dir = base / (name + "-" + std::to_string(g_counter++));
  fs::remove_all(dir, ec);
  fs::create_directories(dir, ec);
  return dir.string();
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool WriteFile(const std::string& path, const std::string& content) {
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out);
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::string Join(const std::string& a, const std::string& b) {
#ifdef _WIN32
  return a + "\\" + b;
#else
  return a + "/" + b;
#endif
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string cur;
  for (char c : text) {
    if (c == '\n') {
      if (!cur.empty() && cur.back() == '\r') cur.pop_back();
      lines.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

std::string TagOf(const std::string& line) {
  for (const char* tag : {"[INFO] ", "[ERROR] ", "[DEBUG] ", "[TRACE] "}) {
    size_t pos = line.find(tag);
    if (pos != std::string::npos && line.rfind("[ ", 0) == 0) return std::string(tag, strlen(tag) - 1);
  }
  return "";
}

std::string MessageOf(const std::string& line) {
  std::string tag = TagOf(line);
  if (tag.empty()) return line;
  return line.substr(line.find(tag) + tag.size() + 1);
}

LogCapture::LogCapture(uint8_t level, const std::string& name) {
  folder_ = MakeScratchDir(name);
  CloseLogFile();
  InitMutex();
  InitLogSettings();
  std::string file = name + ".log";
  SetLogSettings(file.c_str(), folder_.c_str(), level);
  OpenLogFile();
  path_ = GetLogFilePath().value_or("");
}

LogCapture::~LogCapture() {
  CloseLogFile();
  FreeLogSettings();
  RemoveTree(folder_);
}

std::string LogCapture::Text() const { return ReadFile(path_); }

std::vector<std::string> LogCapture::Messages() const {
  std::vector<std::string> out;
  for (const std::string& line : SplitLines(Text())) {
    if (TagOf(line).empty()) continue;
    out.push_back(MessageOf(line));
  }
  return out;
}

bool LogCapture::Has(const std::string& message) const {
  std::string m = message;
  if (!m.empty() && m.back() == '\n') m.pop_back();
  for (const std::string& s : Messages())
    if (s == m) return true;
  return false;
}

}  // namespace twtest
