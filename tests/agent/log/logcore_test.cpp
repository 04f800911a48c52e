// The support-library log: line format, level filtering, open/close framing,
// calls outside the open state, whole lines from concurrent writers.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "agent/log/format.h"
#include "agent/log/logger.h"
#include "agent/log/objectlock.h"
#include "tests/support/scratch.h"

using twtest::LogCapture;
using twtest::SplitLines;

TEST(LogFormat, LineIsPrefixTagAndMessageByteForByte) {
  std::string text;
  {
    LogCapture log(4);
    LogInfo("hello %d %s\n", 42, "world");
    text = log.Text();
  }
  auto lines = SplitLines(text);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(Log open time: \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3})")))
      << lines[0];
  EXPECT_TRUE(std::regex_match(
      lines[1], std::regex(R"(\[ \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3} \] \[ -?\d+ \] \[INFO\] hello 42 world)")))
      << lines[1];
}

TEST(LogFormat, NoNewlineIsAdded) {
  LogCapture log(4);
  LogError("first");
  LogError("second\n");
  auto lines = SplitLines(log.Text());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("[ERROR] first[ "), std::string::npos) << lines[1];
}

TEST(LogLevels, EachLevelAddsOneTag) {
  const char* tags[] = {"[INFO]", "[ERROR]", "[DEBUG]", "[TRACE]"};
  for (int level = 0; level <= 5; ++level) {
    LogCapture log(static_cast<uint8_t>(level));
    LogInfo("i\n");
    LogError("e\n");
    LogDebug("d\n");
    LogTrace("t\n");
    std::string text = log.Text();
    for (int t = 0; t < 4; ++t) {
      bool expected = level != 0 && level >= t + 1;
      EXPECT_EQ(text.find(tags[t]) != std::string::npos, expected) << "level " << level << " tag " << tags[t];
    }
  }
}

TEST(LogLifecycle, CallsBeforeOpenAndAfterCloseAreHarmless) {
  CloseLogFile();
  EXPECT_EQ(LogInfo("nowhere %d\n", 1), 0);
  std::string path;
  {
    LogCapture log(4);
    path = log.Path();
    LogInfo("inside\n");
    CloseLogFile();
    LogInfo("after close\n");
    std::string text = log.Text();
    EXPECT_NE(text.find("inside"), std::string::npos);
    EXPECT_EQ(text.find("after close"), std::string::npos);
    EXPECT_NE(text.find("Log close time: "), std::string::npos);
    CloseLogFile();  // a second close is harmless too
  }
  EXPECT_EQ(LogInfo("after free\n"), 0);
}

TEST(LogLifecycle, TwoOpeningsAppendEachFramed) {
  std::string folder = twtest::MakeScratchDir("twice");
  for (int run = 0; run < 2; ++run) {
    InitMutex();
    InitLogSettings();
    SetLogSettings("twice.log", folder.c_str(), 2);
    ASSERT_TRUE(OpenLogFile());
    LogInfo("run %d\n", run);
    CloseLogFile();
    FreeLogSettings();
  }
  auto lines = SplitLines(twtest::ReadFile(folder + "/twice.log"));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0].rfind("Log open time: ", 0), 0u);
  EXPECT_NE(lines[1].find("run 0"), std::string::npos);
  EXPECT_EQ(lines[2].rfind("Log close time: ", 0), 0u);
  EXPECT_EQ(lines[3].rfind("Log open time: ", 0), 0u);
  EXPECT_NE(lines[4].find("run 1"), std::string::npos);
  EXPECT_EQ(lines[5].rfind("Log close time: ", 0), 0u);
  twtest::RemoveTree(folder);
}

TEST(LogConcurrency, LinesFromTwoThreadsNeverInterleave) {
  LogCapture log(4);
  const std::string a(300, 'a'), b(300, 'b');
  auto writer = [](const std::string& s) {
    for (int i = 0; i < 500; ++i) LogInfo("%s\n", s.c_str());
  };
  std::thread t1(writer, a), t2(writer, b);
  t1.join();
  t2.join();
  int count = 0;
  for (const std::string& m : log.Messages()) {
    EXPECT_TRUE(m == a || m == b) << m.substr(0, 40);
    ++count;
  }
  EXPECT_EQ(count, 1000);
}

TEST(LogFormat, WideTextsRenderAsUtf8AndAbsentTextsAsNull) {
  EXPECT_EQ(FormatText("%S|%ls|%s", L"caf\u00e9", L"x", static_cast<const char*>(nullptr)), "caf\xc3\xa9|x|(null)");
  EXPECT_EQ(FormatText("%5d|%-4s|%.2f|%lld|%%", 42, "ab", 1.5, 1LL << 40), "   42|ab  |1.50|1099511627776|%");
}

TEST(CreateDirectoryTree, CreatesParentsAndReportsExisting) {
  std::string root = twtest::MakeScratchDir("tree");
  std::string deep = root + "/a/b/c";
  EXPECT_EQ(CreateDirectoryTree(deep.c_str()), 0);
  EXPECT_TRUE(twtest::FileExists(deep));
  EXPECT_EQ(CreateDirectoryTree(deep.c_str()), 1);
#ifdef _WIN32
  // Without a '/', a missing parent is reported, not created.
  std::string flat = root + "\\missing\\child";
  EXPECT_EQ(CreateDirectoryTree(flat.c_str()), 2);
  EXPECT_FALSE(twtest::FileExists(root + "\\missing"));
#endif
  twtest::RemoveTree(root);
}
