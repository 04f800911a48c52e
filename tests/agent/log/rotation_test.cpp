// Log rotation against real files: the size threshold, the backup shifts, the
// files that disturb the count, unusable paths, the timer chain and its end,
// and that no line is lost while another thread keeps logging.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include "agent/log/agentlog.h"
#include "agent/log/logger.h"
#include "agent/log/rotation.h"
#include "agent/registry/registry.h"
#include "tests/agent/log/agentlog_fixture.h"
#include "tests/support/scratch.h"

using twtest::LogCapture;

namespace {

constexpr const char* kName = "twprereqhandler.log";

// Name -> content of every file in a folder.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
    files[entry.path().filename().string()] = twtest::ReadFile(entry.path().string());
  return files;
}

// The rotation joins its folder text (which ends in a backslash) and a name
// with one more backslash: the paths in its lines carry a doubled separator.
std::string Doubled(const std::string& folder, const std::string& name) { return folder + "\\\\" + name; }

bool HasPrefix(const LogCapture& log, const std::string& prefix) {
  for (const std::string& m : log.Messages())
    if (m.rfind(prefix, 0) == 0) return true;
  return false;
}

// A folder with the live log and backups 1..n holding "live", "b1", ... "bn".
std::string FolderWithBackups(const std::string& name, int n) {
  const std::string folder = twtest::MakeScratchDir(name);
  twtest::WriteFile(twtest::Join(folder, kName), "live");
  for (int k = 1; k <= n; ++k) {
    const std::string number = std::to_string(k);
    std::string content = "b";
    content += number;
    twtest::WriteFile(twtest::Join(folder, "twprereqhandler" + number + ".log"), content);
  }
  return folder;
}

}  // namespace

TEST(Rotation, RotatesFromExactlyTheLimitAndEmptiesTheLiveLog) {
  LogCapture log(4, "rotcap");
  const std::string folder = twtest::MakeScratchDir("rot-size");
  const std::string live = twtest::Join(folder, kName);
  ASSERT_TRUE(twtest::WriteFile(live, std::string(1999999, 'a')));

  EXPECT_EQ(RotateLoggerForEverRunningProcess(folder.c_str(), kName, 5, 2000000), 0);
  EXPECT_EQ(Snapshot(folder).size(), 1u);
  EXPECT_EQ(twtest::ReadFile(live).size(), 1999999u);
  EXPECT_TRUE(log.Has("RotateLoggerForEverRunningProcess : cSfileName : " + folder + "\\" + kName + " "));
  EXPECT_TRUE(log.Has("CheckLogSizeReached : The log file size of " + folder + "\\" + kName + " is given by 1999999 "));
  EXPECT_TRUE(log.Has("CheckLogSizeReached : The size is less the required size "));

  ASSERT_TRUE(twtest::WriteFile(live, std::string(2000000, 'a')));
  EXPECT_EQ(RotateLoggerForEverRunningProcess(folder.c_str(), kName, 5, 2000000), 0);
  auto files = Snapshot(folder);
  EXPECT_EQ(files.size(), 2u);
  EXPECT_EQ(files["twprereqhandler1.log"], std::string(2000000, 'a'));
  EXPECT_EQ(files[kName], "");
  EXPECT_TRUE(log.Has("CheckLogSizeReached : The size is greater than the given size ........."));
  twtest::RemoveTree(folder);
}

TEST(Rotation, ThreeBackupsBecomeFourWithExactLines) {
  LogCapture log(4, "rotcap");
  const std::string folder = FolderWithBackups("rot-three", 3);
  EXPECT_EQ(RotateLoggerForEverRunningProcess(folder.c_str(), kName, 5, 4), 0);

  auto files = Snapshot(folder);
  EXPECT_EQ(files, (std::map<std::string, std::string>{{kName, ""},
                                                       {"twprereqhandler1.log", "live"},
                                                       {"twprereqhandler2.log", "b1"},
                                                       {"twprereqhandler3.log", "b2"},
                                                       {"twprereqhandler4.log", "b3"}}));
  EXPECT_TRUE(log.Has("FindNoOfRepeatedFileNames : Successfully allocated szFormattedPath and the value is " +
                      Doubled(folder, "twprereqhandler*.*") + "  ."));
  EXPECT_TRUE(log.Has("RotateSpecificLogs : The return Value from FindNumberOfRepeatedFileNames method is : 4 "));
  EXPECT_TRUE(log.Has("RotateSpecificLogs : The tempFileName1 : " + Doubled(folder, "twprereqhandler3.log") + " . "));
  EXPECT_TRUE(log.Has("RotateSpecificLogs : File copied from " + Doubled(folder, "twprereqhandler3.log") + " to  " +
                      Doubled(folder, "twprereqhandler4.log") + " . "));
  EXPECT_TRUE(log.Has("RotateSpecificLogs : The file " + Doubled(folder, "twprereqhandler3.log") +
                      " was successfully deleted..:"));
  EXPECT_TRUE(log.Has("RotateSpecificLogs : File successfully copied from " + Doubled(folder, kName) + " to  " +
                      Doubled(folder, "twprereqhandler1.log") +
                      " so we are going to truncate the content of the first one "));
  // The banner lines begin with a line feed: the tag ends one line, the banner fills the next.
  EXPECT_NE(log.Text().find("[INFO] \r\n @@@@@@@@@@@@@@@ End of RotateSpecificLogs Method with error code 0 "
                            "@@@@@@@@@@@@@\r\n"),
            std::string::npos);
  twtest::RemoveTree(folder);
}

TEST(Rotation, FourBackupsDropTheOldestAndStayFour) {
  LogCapture log(4, "rotcap");
  const std::string folder = FolderWithBackups("rot-four", 4);
  EXPECT_EQ(RotateLoggerForEverRunningProcess(folder.c_str(), kName, 5, 4), 0);
  EXPECT_EQ(Snapshot(folder), (std::map<std::string, std::string>{{kName, ""},
                                                                   {"twprereqhandler1.log", "live"},
                                                                   {"twprereqhandler2.log", "b1"},
                                                                   {"twprereqhandler3.log", "b2"},
                                                                   {"twprereqhandler4.log", "b3"}}));
  EXPECT_TRUE(log.Has("RotateSpecificLogs : The file " + Doubled(folder, "twprereqhandler4.log") +
                      " was successfully deleted..:"));
  twtest::RemoveTree(folder);
}

TEST(Rotation, ForeignFileWithTheSameBaseShiftsOneStepFurther) {
  LogCapture log(4, "rotcap");
  const std::string folder = FolderWithBackups("rot-foreign", 2);
  ASSERT_TRUE(twtest::WriteFile(twtest::Join(folder, "twprereqhandler.txt"), "foreign"));
  EXPECT_EQ(RotateLoggerForEverRunningProcess(folder.c_str(), kName, 5, 4), 0);

  EXPECT_EQ(Snapshot(folder), (std::map<std::string, std::string>{{kName, ""},
                                                                   {"twprereqhandler.txt", "foreign"},
                                                                   {"twprereqhandler1.log", "live"},
                                                                   {"twprereqhandler2.log", "b1"},
                                                                   {"twprereqhandler3.log", "b2"}}));
  EXPECT_TRUE(log.Has("RotateSpecificLogs : The return Value from FindNumberOfRepeatedFileNames method is : 4 "));
  // The count starts the shift at a backup that does not exist.
  EXPECT_TRUE(log.Has("RotateSpecificLogs : CopyFile failed to move from " + Doubled(folder, "twprereqhandler3.log") +
                      " to  " + Doubled(folder, "twprereqhandler4.log") + " and the error code is 2 "));
  twtest::RemoveTree(folder);
}

TEST(Rotation, ForeignFileAtFullCountDeletesAMissingBackup) {
  LogCapture log(4, "rotcap");
  const std::string folder = FolderWithBackups("rot-foreign-full", 3);
  ASSERT_TRUE(twtest::WriteFile(twtest::Join(folder, "twprereqhandler.txt"), "foreign"));
  EXPECT_EQ(RotateLoggerForEverRunningProcess(folder.c_str(), kName, 5, 4), 0);
  auto files = Snapshot(folder);
  EXPECT_EQ(files.size(), 6u);
  EXPECT_EQ(files["twprereqhandler4.log"], "b3");
  EXPECT_EQ(files["twprereqhandler1.log"], "live");
  EXPECT_TRUE(log.Has("RotateSpecificLogs : Unable to delete the file " +
                      Doubled(folder, "twprereqhandler4.log") + " and the error code is :2"));
  twtest::RemoveTree(folder);
}

TEST(Rotation, MissingLiveLogIsNotRotated) {
  LogCapture log(4, "rotcap");
  const std::string folder = twtest::MakeScratchDir("rot-missing");
  EXPECT_EQ(RotateLoggerForEverRunningProcess(folder.c_str(), kName, 5, 1), 0);
  EXPECT_TRUE(Snapshot(folder).empty());
  EXPECT_TRUE(log.Has("CheckLogSizeReached : Unable to get the file handle "));
  EXPECT_TRUE(HasPrefix(log, "Error Code : 2 , Error Message : "));
  EXPECT_FALSE(HasPrefix(log, "RotateSpecificLogs")) << log.Text();
  twtest::RemoveTree(folder);
}

TEST(Rotation, ModeOneRotatesEveryNameOfTheListWhateverItsSize) {
  LogCapture log(4, "rotcap");
  const std::string folder = twtest::MakeScratchDir("rot-list");
  twtest::WriteFile(twtest::Join(folder, "a.log"), "A");
  twtest::WriteFile(twtest::Join(folder, "b.log"), "B");
  EXPECT_EQ(RotateSpecificLogs(folder.c_str(), "a.log;;b.log", 5, 1000000, 1), 0);
  EXPECT_EQ(Snapshot(folder), (std::map<std::string, std::string>{
                                  {"a.log", ""}, {"a1.log", "A"}, {"b.log", ""}, {"b1.log", "B"}}));
  EXPECT_TRUE(log.Has("RotateSpecificLogs : Log File Name : a.log"));
  EXPECT_TRUE(log.Has("RotateSpecificLogs : Log File Name : b.log"));
  twtest::RemoveTree(folder);
}

TEST(Rotation, ModeZeroMovesOnlyLogsAboveTheLimit) {
  LogCapture log(4, "rotcap");
  const std::string folder = twtest::MakeScratchDir("rot-mode0");
  twtest::WriteFile(twtest::Join(folder, "big.log"), std::string(20, 'x'));
  twtest::WriteFile(twtest::Join(folder, "small.log"), "tiny");
  EXPECT_EQ(RotateSpecificLogs(folder.c_str(), "big.log;small.log", 5, 10, 0), 0);
  EXPECT_EQ(Snapshot(folder), (std::map<std::string, std::string>{{"big1.log", std::string(20, 'x')},
                                                                   {"small.log", "tiny"}}));
  EXPECT_TRUE(log.Has("RotateSpecificLogs : Sucessfully got the " + folder + "\\big.log File size = 20 "));
  EXPECT_TRUE(log.Has("RotateSpecificLogs : File successfully copied from " + folder + "\\big.log to  " +
                      folder + "\\big1.log . "));
  twtest::RemoveTree(folder);
}

TEST(Rotation, OverlongPathsFailWithAWindowsErrorAndNoDamage) {
  LogCapture log(4, "rotcap");
  const std::string base = twtest::MakeScratchDir("rot-long");
  const std::string folder = base + "\\" + std::string(300, 'd');
  EXPECT_EQ(RotateLoggerForEverRunningProcess(folder.c_str(), kName, 5, 0), 0);
  EXPECT_TRUE(log.Has("CheckLogSizeReached : Unable to get the file handle "));
  EXPECT_TRUE(HasPrefix(log, "Error Code : "));
  EXPECT_FALSE(HasPrefix(log, "Error Code : 0 "));

  EXPECT_EQ(RotateSpecificLogs(folder.c_str(), kName, 5, 0, 1), 0);
  EXPECT_TRUE(log.Has("FindNumberOfRepeatedFileNames : Unable to find the files/folder."));
  EXPECT_TRUE(log.Has("RotateSpecificLogs : The return Value from FindNumberOfRepeatedFileNames method is : -1 "));
  EXPECT_TRUE(Snapshot(base).empty());
  twtest::RemoveTree(base);
}

TEST_F(AgentLogTest, NoFolderMeansTheAgentLogsFolder) {
  const std::string logs = install_ + "logs";
  ASSERT_TRUE(twtest::WriteFile(logs + "\\x.log", "X"));
  EXPECT_EQ(RotateSpecificLogs(nullptr, "x.log", 5, 0, 1), 0);
  EXPECT_EQ(twtest::ReadFile(logs + "\\x1.log"), "X");

  ASSERT_TRUE(reg_.DeleteValue(twtest::RegView::k32, kAgentKeyPath, "TWAgentInstallDir"));
  EXPECT_EQ(RotateSpecificLogs(nullptr, "x.log", 5, 0, 1), 2);
}

TEST_F(AgentLogTest, TimerRotatesAgainOnItsOwnThreadAndStopsAtClose) {
  // Lives as long as the process: the timer holds a pointer to it.
  static LoggerConfig* config = new LoggerConfig();
  config->fileName = "timer.log";
  config->logFolder = install_ + "logs";
  config->maxLogSize = 1;  // every run rotates
  config->timerPeriodMs = 200;
  ASSERT_EQ(StartLogger(config), 0);
  LogInfo("main marker\n");

  // The marker reaches backup 1 only through a rotation after the open, which
  // only the timer makes; a later one carries the timer's own lines along.
  const std::string logs = install_ + "logs";
  const std::string backup1 = logs + "\\timer1.log";
  std::string timerLine;
  const std::regex routine(R"(\[ \S+ \S+ \] \[ (-?\d+) \] \[INFO\] LoggerTimerRoutine : Inside LoggerTimerRoutine Method)");
  bool markerRotated = false;
  for (int i = 0; i < 600 && timerLine.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (twtest::ReadFile(backup1).find("main marker") != std::string::npos) markerRotated = true;
    if (!markerRotated) continue;
    for (const auto& [name, text] : Snapshot(logs)) {
      if (name == "timer.log") continue;
      std::smatch m;
      if (std::regex_search(text, m, routine)) timerLine = m[1];
    }
  }
  EXPECT_TRUE(markerRotated);
  ASSERT_FALSE(timerLine.empty()) << "no rotation by the timer within 30 s";
  EXPECT_NE(timerLine, std::to_string(static_cast<int>(GetCurrentThreadId())));

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CloseAgentLog(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

  const auto closed = Snapshot(logs);
  const auto lines = twtest::SplitLines(closed.at("timer.log"));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("Log close time: ", 0), 0u) << lines.back();
  // Five periods later nothing has moved: no callback ran after the close.
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_EQ(Snapshot(logs), closed);
}

TEST(Rotation, NoLineIsLostWhileAnotherThreadRotates) {
  std::map<std::string, std::string> files;
  int written = 0;
  int rotations = 0;
  {
    LogCapture log(1, "nolost");
    const std::string folder = log.Folder();
    std::atomic<bool> writing{true};
    std::atomic<int> done{0};
    std::thread rotator([&] {
      while (writing.load()) {
        RotateSpecificLogs(folder.c_str(), "nolost.log", 1000000, 0, 1);
        done.fetch_add(1);
      }
    });
    // Keep writing until enough rotations have happened in between, at most
    // 150 lines ahead of them: a rotation copies every backup, so a writer far
    // ahead would only make each rotation slower than the last.
    for (; done.load() < 20; ++written) {
      while (written >= 150 * (done.load() + 1)) std::this_thread::yield();
      LogInfo("numbered line %d\n", written);
    }
    writing = false;
    rotator.join();
    rotations = done.load();
    files = Snapshot(folder);
  }
  ASSERT_GE(rotations, 20);
  std::vector<int> seen(static_cast<size_t>(written), 0);
  const std::regex numbered(R"(numbered line (\d+))");
  for (const auto& [name, text] : files) {
    for (const std::string& line : twtest::SplitLines(text)) {
      std::smatch m;
      const std::string message = twtest::MessageOf(line);
      if (!std::regex_match(message, m, numbered)) continue;
      const int n = std::stoi(m[1]);
      ASSERT_LT(n, written);
      ++seen[static_cast<size_t>(n)];
    }
  }
  for (int n = 0; n < written; ++n) ASSERT_EQ(seen[static_cast<size_t>(n)], 1) << "line " << n;
  EXPECT_GT(files.size(), 2u);
}
