// Shared utilities under Wine: result messages and error texts, UTF-8/UTF-16
// conversions, time texts, file sizes and line appends.
#include <windows.h>

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "agent/util/errortext.h"
#include "agent/util/resultmsg.h"
#include "agent/util/textconv.h"
#include "agent/util/fileutil.h"
#include "agent/util/timeutil.h"
#include "agent/util/wow64.h"
#include "tests/support/logcheck.h"
#include "tests/support/scratch.h"

using twtest::HasLine;
using twtest::LogCapture;

namespace {

SYSTEMTIME MakeTime(int year, int month, int day, int hour, int minute, int second = 0) {
  SYSTEMTIME t{};
  t.wYear = static_cast<WORD>(year);
  t.wMonth = static_cast<WORD>(month);
  t.wDay = static_cast<WORD>(day);
  t.wHour = static_cast<WORD>(hour);
  t.wMinute = static_cast<WORD>(minute);
  t.wSecond = static_cast<WORD>(second);
  return t;
}

// ---- result messages and error texts ----

TEST(ResultMessages, TableTextsAndUnknownCodes) {
  EXPECT_EQ(GetResultMessage(17032), "Unknown Error. Code : 17032");
  EXPECT_EQ(GetResultMessage(17048), "OfficeUpdateError : This installation requires Windows Installer 3.1 or greater.");
  EXPECT_EQ(GetResultMessage(20001), "Patch update delayed since application is used by another process");
  EXPECT_EQ(GetResultMessage(-1), "Unknown Error. Code : -1");
}

TEST(ErrorTexts, SystemTextOrResultMessageWithItsLogLine) {
  LogCapture log(4);
  std::string notFound = GetErrorMessageText(2);
  EXPECT_FALSE(notFound.empty());
  EXPECT_TRUE(HasLine(log, "[ERROR]", "Error Code : 2 , Error Message : " + notFound + " \n")) << log.Text();

  std::string ok = GetErrorMessageText(0);
  EXPECT_FALSE(ok.empty());
  EXPECT_TRUE(HasLine(log, "[INFO]", "Message : " + ok + " \n")) << log.Text();

  // Windows has no text for the program's own codes: the result message stands in.
  EXPECT_EQ(GetErrorMessageText(20001), GetResultMessage(20001));
  EXPECT_TRUE(HasLine(log, "[ERROR]",
                      "Error Code : 20001 , Error Message : Patch update delayed since application is used by "
                      "another process \n"));
  LogErrorCode(17032);
  EXPECT_TRUE(HasLine(log, "[ERROR]", "Error Code : 17032 , Error Message : Unknown Error. Code : 17032 \n"));
}

TEST(ErrorTexts, NarrowTwinAndLastError) {
  std::string text = GetErrorMessageText(2);  // before the capture: it logs too
  LogCapture log(4);
  EXPECT_EQ(LogErrorCodeA(2), 0);
  // The narrow twin trims the text the wide form keeps with a trailing blank.
  while (!text.empty() && text.back() == ' ') text.pop_back();
  EXPECT_TRUE(HasLine(log, "[ERROR]", "Error Code : 2 , Error Message : " + text + " \n")) << log.Text();
  EXPECT_EQ(LogErrorCodeA(17048), 0);
  EXPECT_TRUE(HasLine(log, "[ERROR]",
                      "Error Code : 17048 , Error Message : OfficeUpdateError : This installation requires Windows "
                      "Installer 3.1 or greater. \n"));

  SetLastError(ERROR_ACCESS_DENIED);
  LogLastError();
  std::string denied = SystemMessageText(ERROR_ACCESS_DENIED);
  // The system text ends in its own line break; compare the words.
  while (!denied.empty() && (denied.back() == '\n' || denied.back() == '\r')) denied.pop_back();
  ASSERT_FALSE(denied.empty());
  EXPECT_NE(log.Text().find("[ERROR]  Error Message: " + denied), std::string::npos) << log.Text();
}

TEST(Wow64, SixtyFourBitBuildAndOverride) {
  EXPECT_TRUE(IsRunningOn64BitWindows());
  OverrideRunningOn64BitWindows(false);
  EXPECT_FALSE(IsRunningOn64BitWindows());
  OverrideRunningOn64BitWindows(std::nullopt);
  EXPECT_TRUE(IsRunningOn64BitWindows());
}

// ---- conversions ----

TEST(TextConversion, EmptyAndMissingTexts) {
  LogCapture log(4);
  std::wstring wide = L"old";
  EXPECT_EQ(ChangeToWideStr("", wide), 1);
  EXPECT_TRUE(wide.empty());
  EXPECT_EQ(ChangeToWideStr(nullptr, wide), 0);
  EXPECT_TRUE(HasLine(log, "[ERROR]", "ChangeToWideStr: AnsiString is empty! \n"));
  EXPECT_FALSE(ChangeUtf8ToWideStr(nullptr, wide));
  EXPECT_TRUE(HasLine(log, "[ERROR]", "ChangeUtf8ToWideStr: utf8 is empty! \n"));
  std::string narrow;
  EXPECT_EQ(ChangeAnsiToUTF8Str(nullptr, narrow), 0);
  EXPECT_TRUE(HasLine(log, "[ERROR]", "ChangeAnsiToUTF8Str: ansiString is empty! \n"));
  EXPECT_TRUE(ChangeWideToUtf8Str(L"", narrow));
  EXPECT_TRUE(narrow.empty());
}

TEST(TextConversion, NonAsciiRoundTrip) {
  LogCapture log(4);
  const std::string text = "Z\xC3\xBCrich \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80";  // Zürich 日本 😀
  std::wstring wide;
  ASSERT_TRUE(ChangeUtf8ToWideStr(text.c_str(), wide));
  EXPECT_EQ(wide, std::wstring(L"Z\u00FCrich \u65E5\u672C \U0001F600"));
  EXPECT_TRUE(HasLine(log, "[DEBUG]", "UTF String Received:" + text + "\n"));
  std::string back;
  ASSERT_TRUE(ChangeWideToUtf8Str(wide.c_str(), back));
  EXPECT_EQ(back, text);
  std::string same;
  EXPECT_EQ(ChangeAnsiToUTF8Str(text.c_str(), same), 1);
  EXPECT_EQ(same, text);
}

TEST(TextConversion, ToLowerUtf8LowersAsciiAndKeepsTheRest) {
  EXPECT_EQ(ToLowerUtf8("Client-DATA\\CORP.Example"), "client-data\\corp.example");
  std::string lowered = ToLowerUtf8("\xC3\x84XY");  // ÄXY
  std::wstring wide;
  ASSERT_TRUE(ChangeUtf8ToWideStr(lowered.c_str(), wide));
  ASSERT_EQ(wide.size(), 3u);
  EXPECT_EQ(wide.substr(1), L"xy");
  EXPECT_EQ(ToLowerUtf8(nullptr), "");
}

// ---- time ----

TEST(TimeTexts, DateAndTimeFormatting) {
  const SYSTEMTIME morning = MakeTime(2019, 3, 5, 9, 5, 7);
  EXPECT_EQ(LongDateTime(morning), "Mar 05,2019 09:05AM");
  EXPECT_EQ(DateStamp(morning), "19-03-05");
  EXPECT_EQ(TimeStamp(morning), "09:05:07");
  EXPECT_EQ(LongDateTime(MakeTime(2019, 3, 5, 12, 30)), "Mar 05,2019 00:30PM");
  EXPECT_EQ(LongDateTime(MakeTime(2020, 12, 31, 23, 59)), "Dec 31,2020 11:59PM");
  EXPECT_EQ(LongDateTime(MakeTime(2021, 1, 1, 0, 0)), "Jan 01,2021 00:00AM");
  EXPECT_EQ(TimeStamp(MakeTime(2021, 1, 1, 23, 4, 59)), "23:04:59");
  EXPECT_EQ(TwoDigits(7), "07");
  EXPECT_EQ(TwoDigits(42), "42");
  EXPECT_STREQ(MonthName(0), "Jan");
  EXPECT_STREQ(MonthName(11), "Dec");
  EXPECT_STREQ(MonthName(12), "");
}

TEST(TimeConversion, UnixSeconds) {
  int64_t seconds = -1;
  ASSERT_TRUE(SystemTimeToUnixSeconds(MakeTime(1970, 1, 2, 0, 0), seconds));
  EXPECT_EQ(seconds, 86400);
  ASSERT_TRUE(SystemTimeToUnixSeconds(MakeTime(2019, 3, 5, 9, 5, 7), seconds));
  EXPECT_EQ(seconds, 1551776707);
  // Beyond 2038 the 64-bit value does not wrap.
  ASSERT_TRUE(SystemTimeToUnixSeconds(MakeTime(2040, 1, 1, 0, 0), seconds));
  EXPECT_EQ(seconds, 2208988800LL);
  int64_t untouched = 5;
  EXPECT_FALSE(SystemTimeToUnixSeconds(MakeTime(2019, 13, 5, 0, 0), untouched));
  EXPECT_EQ(untouched, 5);
}

TEST(TimeConversion, SecondsAndMillisecondsOfNow) {
  LogCapture log(4);
  // Local time plus the standard time-zone offset is UTC, give or take a
  // daylight-saving hour.
  int64_t now = static_cast<int64_t>(time(nullptr));
  int32_t seconds = GetTimeInSeconds();
  EXPECT_LE(std::llabs(seconds - now), 3600 + 5) << seconds << " vs " << now;
  EXPECT_TRUE(HasLine(log, "[INFO]", "GetTimeInSeconds : Time in Second : " + std::to_string(seconds) + "\n"));
  EXPECT_TRUE(HasLine(log, "[DEBUG]", "GetTimeInSeconds : retDate :: " + std::to_string(seconds) + "\n"));

  testing::internal::CaptureStdout();
  std::wstring millis = CurrentTimeMillisText();
  fflush(stdout);
  std::string out = testing::internal::GetCapturedStdout();
  std::string narrow(millis.begin(), millis.end());
  EXPECT_EQ(out, "\nTime = " + narrow);
  EXPECT_LE(std::llabs(std::stoll(narrow) / 1000 - static_cast<int64_t>(time(nullptr))), 5);
  SYSTEMTIME fixed = MakeTime(1970, 1, 2, 0, 0);
  fixed.wMilliseconds = 250;
  testing::internal::CaptureStdout();
  EXPECT_EQ(CurrentTimeMillisText(fixed), L"86400250");
  testing::internal::GetCapturedStdout();
}

// ---- file helpers ----

TEST(TextHelpers, FileSize64) {
  std::string folder = twtest::MakeScratchDir("size");
  std::string file = folder + "\\f.bin";
  ASSERT_TRUE(twtest::WriteFile(file, std::string(1234, 'x')));
  int64_t size = -1;
  EXPECT_EQ(GetFileSize64(file.c_str(), size), 1);
  EXPECT_EQ(size, 1234);
  size = -1;
  EXPECT_EQ(GetFileSize64((folder + "\\missing.bin").c_str(), size), 0);
  EXPECT_EQ(GetFileSize64(nullptr, size), 0);
  EXPECT_EQ(size, -1);
  twtest::RemoveTree(folder);
}

TEST(TextHelpers, AppendLineToFileCreatesFolderAndFileThenAppends) {
  const std::string success = GetErrorMessageText(0);  // before the capture: it logs too
  LogCapture log(4);
  std::string folder = twtest::MakeScratchDir("append");
  std::string file = folder + "\\logs\\deep\\access.log";
  EXPECT_EQ(AppendLineToFile(file.c_str(), "first line"), 0);
  EXPECT_TRUE(HasLine(log, "[INFO]", "Message : " + success + " \n"));
  EXPECT_EQ(AppendLineToFile(file.c_str(), "second\tline"), 0);
  // Text-mode append: each line feed is written as CR LF.
  EXPECT_EQ(twtest::ReadFile(file), "first line\r\nsecond\tline\r\n");

  // An existing empty file is kept and appended to.
  std::string empty = folder + "\\empty.log";
  ASSERT_TRUE(twtest::WriteFile(empty, ""));
  EXPECT_EQ(AppendLineToFile(empty.c_str(), "x"), 0);
  EXPECT_EQ(twtest::ReadFile(empty), "x\r\n");

  EXPECT_EQ(AppendLineToFile(nullptr, "x"), 13);
  twtest::RemoveTree(folder);
}

}  // namespace
