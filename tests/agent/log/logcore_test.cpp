// The support-library log: line format, level filtering, open/close framing,
// calls outside the open state, whole lines from concurrent writers in the
// order of their timestamps, and a log file that can only be appended to.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <regex>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "agent/log/format.h"
#include "agent/log/logger.h"
#include "agent/log/objectlock.h"
#include "agent/log/platform.h"
#include "tests/support/scratch.h"

using twtest::LogCapture;
using twtest::SplitLines;

namespace {

#ifdef _WIN32
const char* const kNewline = "\r\n";
#else
const char* const kNewline = "\n";
#endif

twplat::LocalTime g_fixedTime;
twplat::LocalTime FixedClock() { return g_fixedTime; }

// One millisecond later at every reading; every other reading dawdles, so a
// thread that read the clock before taking the log lock gets overtaken.
std::atomic<int> g_steps{0};
twplat::LocalTime SteppingClock() {
  const int ms = g_steps.fetch_add(1);
  if (ms % 2 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return {2024, 1, 1, 0, ms / 60000 % 60, ms / 1000 % 60, ms % 1000};
}

}  // namespace

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

TEST(LogConcurrency, TimestampsRiseInTheOrderOfTheLines) {
  std::vector<std::string> lines;
  {
    LogCapture log(1);
    twplat::SetClockForTest(SteppingClock);
    std::atomic<bool> go{false};
    auto writer = [&go] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < 40; ++i) LogInfo("step\n");
    };
    std::thread t1(writer), t2(writer);
    go = true;
    t1.join();
    t2.join();
    twplat::SetClockForTest(nullptr);
    lines = SplitLines(log.Text());
  }
  ASSERT_EQ(lines.size(), 81u);
  std::vector<std::string> stamps;
  for (size_t i = 1; i < lines.size(); ++i) stamps.push_back(lines[i].substr(2, 23));
  EXPECT_TRUE(std::is_sorted(stamps.begin(), stamps.end())) << testing::PrintToString(stamps);
}

TEST(LogFormat, WideTextsRenderAsUtf8AndAbsentTextsAsNull) {
  const char* none = nullptr;
  const char* lonePercent = "100%";
  const std::pair<std::string, std::string> cases[] = {
      {FormatText("%S|%ls|%s", L"caf\u00e9", L"x", none), "caf\xc3\xa9|x|(null)"},
      {FormatText("%5d|%-4s|%.2f|%lld|%%", 42, "ab", 1.5, 1LL << 40), "   42|ab  |1.50|1099511627776|%"},
      // An absent text among plain conversions, cut and padded alike everywhere.
      {FormatText("%d %s|%.3s|%8s|%c", 7, "a", none, none, 'z'), "7 a|(nu|  (null)|z"},
      // A negative precision from the arguments counts as none, a negative width pads right.
      {FormatText("%.*s|%*d|%.*s %ls", -1, "whole", -3, 8, -2, "all", L"w"), "whole|8  |all w"},
      {FormatText("%zu|%hhd|%5.1f|%S", size_t{3}, 300, 2.5, L"w"), "3|44|  2.5|w"},
      {FormatText(lonePercent), "100%"},
  };
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
}

TEST(LogFormat, TimestampFieldsArePaddedLikePrintf) {
  const std::pair<twplat::LocalTime, std::string> cases[] = {
      {{2024, 1, 2, 3, 4, 5, 6}, "2024-01-02 03:04:05:006"},
      {{30827, 12, 31, 23, 59, 59, 999}, "30827-12-31 23:59:59:999"},
      {{-1, -5, 0, 100, 7, 8, -5}, "-1--5-00 100:07:08:-05"},
      {{INT_MIN, 0, 0, 0, 0, 0, INT_MAX}, "-2147483648-00-00 00:00:00:2147483647"},
  };
  for (const auto& [time, stamp] : cases) {
    g_fixedTime = time;
    twplat::SetClockForTest(FixedClock);
    {
      LogCapture log(1);
      LogInfo("x\n");
      EXPECT_EQ(GetTimeStamp(), stamp);
      const std::string line = SplitLines(log.Text()).at(1);
      EXPECT_EQ(line.rfind("[ " + stamp + " ] [ ", 0), 0u) << line;
    }
    twplat::SetClockForTest(nullptr);
  }
}

TEST(LogFormat, LongAndWideMessagesLeaveAsWholeLines) {
  std::string block;
  for (int i = 0; i < 300; ++i) block += "123456789\n";
  std::string raw = block;
  for (size_t at = raw.find('\n'); at != std::string::npos; at = raw.find('\n', at + 2)) raw.replace(at, 1, kNewline);
  LogCapture log(1);
  LogInfo("%s", block.c_str());
  LogInfo("%ls|%s|%s\n", L"w\u00e9", block.c_str(), static_cast<const char*>(nullptr));
  const std::string text = log.Text();
  EXPECT_NE(text.find("[INFO] " + raw + "[ "), std::string::npos);
  EXPECT_NE(text.find("[INFO] w\xc3\xa9|" + raw + "|(null)" + kNewline), std::string::npos);
}

// A line of one process must not overwrite a line of another that shares the
// log: the log's own handle writes at the end of the file wherever it stands.
// (Wine honours a handle opened with FILE_APPEND_DATA but not FILE_WRITE_DATA.)
TEST(LogFile, WritesGoToTheEndWhereverTheHandleStands) {
  LogCapture log(1);
  LogInfo("first\n");
  const int fd = fileno(gv_logFilePtr.load());
#ifdef _WIN32
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  ASSERT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, "XX", 2, &written, nullptr));
#else
  ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
  ASSERT_EQ(write(fd, "XX", 2), 2);
#endif
  LogInfo("second\n");
  const std::string text = log.Text();
  EXPECT_EQ(text.rfind("Log open time: ", 0), 0u) << text;
  EXPECT_NE(text.find(std::string("first") + kNewline + "XX[ "), std::string::npos) << text;
  EXPECT_NE(text.find(std::string("] [INFO] second") + kNewline), std::string::npos) << text;
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

// A mutex in use is never replaced: the first InitMutex makes it, later ones
// keep it and say that they made none; after CloseMutex a new one is made.
TEST(ObjectLock, InitMutexKeepsTheMutexThatExists) {
  CloseMutex();
  struct Step {
    bool closeFirst;
    bool created;
  } steps[] = {{false, true}, {false, false}, {false, false}, {true, true}, {false, false}};
  for (const Step& step : steps) {
    if (step.closeFirst) CloseMutex();
    bool created = !step.created;
    ASSERT_TRUE(InitMutex(&created));
    EXPECT_EQ(created, step.created);
  }
}
