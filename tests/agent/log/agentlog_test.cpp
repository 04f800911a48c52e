// The agent log layer against Wine's registry and files: where the log goes,
// which level the agent key gives, what happens without an install folder or
// with an unusable one, and the open/close framing across runs.
#include <gtest/gtest.h>

#include <regex>

#include "agent/config/settings.h"
#include "agent/log/agentlog.h"
#include "agent/log/logger.h"
#include "agent/registry/registry.h"
#include "tests/agent/log/agentlog_fixture.h"
#include "tests/support/scratch.h"

using twtest::RegView;
using twtest::SplitLines;
using twtest::TagOf;

namespace {

const std::regex kOpenLine(R"(Log open time: \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3})");
const std::regex kCloseLine(R"(Log close time: \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3})");

// Writes one line per level and closes the log; returns the tags found in the file.
std::vector<std::string> TagsOfOneRun(const std::string& path) {
  LogInfo("info line\n");
  LogError("error line\n");
  LogDebug("debug line\n");
  LogTrace("trace line\n");
  CloseAgentLog();
  std::vector<std::string> tags;
  for (const std::string& line : SplitLines(twtest::ReadFile(path))) tags.push_back(TagOf(line));
  return tags;
}

}  // namespace

TEST_F(AgentLogTest, LogGoesToLogsFolderWithOneForwardSlashAtDefaultLevel) {
  ASSERT_EQ(OpenAgentLog("twprereqhandler.log"), 0);
  const std::string expected = install_ + "logs/twprereqhandler.log";
  EXPECT_EQ(GetLogFilePath().value_or(""), expected);
  ASSERT_TRUE(twtest::FileExists(expected));

  // No TWAgentLogLevel: INFO and ERROR only. The rotation at open ran before
  // the file was open, so none of its lines are there.
  const std::vector<std::string> tags = TagsOfOneRun(expected);
  EXPECT_EQ(tags, (std::vector<std::string>{"", "[INFO]", "[ERROR]", ""}));
  const auto lines = SplitLines(twtest::ReadFile(expected));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_TRUE(std::regex_match(lines[0], kOpenLine)) << lines[0];
  EXPECT_EQ(twtest::MessageOf(lines[1]), "info line");
  EXPECT_TRUE(std::regex_match(lines[3], kCloseLine)) << lines[3];
}

TEST_F(AgentLogTest, LevelComesFromTheAgentKeyAsOneByte) {
  struct Case {
    DWORD level;
    std::vector<std::string> tags;
  };
  const Case cases[] = {
      {0, {"", ""}},
      {1, {"", "[INFO]", ""}},
      {3, {"", "[INFO]", "[ERROR]", "[DEBUG]", ""}},
      {4, {"", "[INFO]", "[ERROR]", "[DEBUG]", "[TRACE]", ""}},
      {258, {"", "[INFO]", "[ERROR]", ""}},  // only the low byte counts
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(reg_.SetDword(RegView::k32, kAgentKeyPath, "TWAgentLogLevel", c.level));
    ASSERT_EQ(OpenAgentLog("levels.log"), 0);
    const std::string path = install_ + "logs/levels.log";
    EXPECT_EQ(TagsOfOneRun(path), c.tags) << "level " << c.level;
    twtest::RemoveTree(path);
  }
}

TEST_F(AgentLogTest, TextLevelLongerThanFourBytesGivesDefault) {
  ASSERT_TRUE(reg_.SetString(RegView::k32, kAgentKeyPath, "TWAgentLogLevel", "12345"));
  ASSERT_EQ(OpenAgentLog("textlevel.log"), 0);
  EXPECT_EQ(TagsOfOneRun(install_ + "logs/textlevel.log"), (std::vector<std::string>{"", "[INFO]", "[ERROR]", ""}));
}

TEST_F(AgentLogTest, MissingInstallFolderReturnsRegistryErrorAndOpensNothing) {
  ASSERT_TRUE(reg_.DeleteValue(RegView::k32, kAgentKeyPath, "TWAgentInstallDir"));
  EXPECT_EQ(OpenAgentLog("twprereqhandler.log"), 2);
  EXPECT_EQ(gv_logFilePtr.load(), nullptr);
  EXPECT_FALSE(twtest::FileExists(install_ + "logs"));
  EXPECT_EQ(LogInfo("lost %d\n", 1), 0);
  EXPECT_EQ(CloseAgentLog(), 0);
}

TEST_F(AgentLogTest, UnusableLogFolderStillReturnsZeroWithoutLog) {
  // The install folder is a file, so its logs folder cannot be created.
  const std::string blocker = install_ + "blocker";
  ASSERT_TRUE(twtest::WriteFile(blocker, "not a folder"));
  ASSERT_TRUE(reg_.SetString(RegView::k32, kAgentKeyPath, "TWAgentInstallDir", blocker + "\\"));
  EXPECT_EQ(OpenAgentLog("twprereqhandler.log"), 0);
  EXPECT_EQ(gv_logFilePtr.load(), nullptr);
  EXPECT_EQ(LogError("nowhere\n"), 0);
  EXPECT_EQ(CloseAgentLog(), 0);
  EXPECT_EQ(twtest::ReadFile(blocker), "not a folder");
}

TEST_F(AgentLogTest, TwoRunsAppendEachFramedByOpenAndCloseLines) {
  const std::string path = install_ + "logs/twprereqhandler.log";
  ASSERT_EQ(OpenAgentLog("twprereqhandler.log"), 0);
  LogInfo("first run\n");
  EXPECT_EQ(CloseAgentLog(), 0);
  ASSERT_EQ(OpenAgentLog("twprereqhandler.log"), 0);
  LogInfo("second run\n");
  EXPECT_EQ(CloseAgentLog(), 0);

  const auto lines = SplitLines(twtest::ReadFile(path));
  ASSERT_EQ(lines.size(), 6u) << twtest::ReadFile(path);
  EXPECT_TRUE(std::regex_match(lines[0], kOpenLine));
  EXPECT_EQ(twtest::MessageOf(lines[1]), "first run");
  EXPECT_TRUE(std::regex_match(lines[2], kCloseLine));
  EXPECT_TRUE(std::regex_match(lines[3], kOpenLine));
  EXPECT_EQ(twtest::MessageOf(lines[4]), "second run");
  EXPECT_TRUE(std::regex_match(lines[5], kCloseLine));
}

TEST_F(AgentLogTest, CallsAfterCloseAndCloseWithoutOpenAreHarmless) {
  EXPECT_EQ(CloseAgentLog(), 0);  // never opened
  ASSERT_EQ(OpenAgentLog("twprereqhandler.log"), 0);
  EXPECT_EQ(CloseAgentLog(), 0);
  const std::string path = install_ + "logs/twprereqhandler.log";
  const std::string before = twtest::ReadFile(path);
  EXPECT_EQ(LogInfo("after close\n"), 0);
  EXPECT_EQ(LogTrace("after close\n"), 0);
  EXPECT_EQ(CloseAgentLog(), 0);  // twice
  EXPECT_EQ(twtest::ReadFile(path), before);
}

TEST_F(AgentLogTest, ConfigDefaultsFollowTheInstallFolder) {
  gv_agentInstallDir.reset();  // not loaded yet: the constructor reads it
  LoggerConfig config;
  EXPECT_EQ(config.fileName, "computer.log");
  EXPECT_EQ(config.logFolder, install_ + "logs");
  EXPECT_EQ(config.backupCount, 5);
  EXPECT_EQ(config.maxLogSize, 2000000);
  EXPECT_EQ(config.timerPeriodMs, 900000);
  EXPECT_EQ(config.openMode, 1);
  EXPECT_TRUE(config.rotationTimer);
}

TEST_F(AgentLogTest, OpenModeTwoStartsTheFileAfresh) {
  const std::string folder = install_ + "logs";
  ASSERT_TRUE(twtest::WriteFile(folder + "\\fresh.log", "old content\n"));
  ASSERT_EQ(InitAgentLogger("fresh.log", folder.c_str(), 2), 0);
  LogInfo("new content\n");
  CloseAgentLog();
  const std::string text = twtest::ReadFile(folder + "\\fresh.log");
  EXPECT_EQ(text.find("old content"), std::string::npos) << text;
  EXPECT_NE(text.find("new content"), std::string::npos) << text;
}
