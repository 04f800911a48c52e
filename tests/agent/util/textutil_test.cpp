// The text helpers, portable: case-insensitive replace and the last path or
// URL component.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "agent/util/textutil.h"
#include "tests/support/logcheck.h"
#include "tests/support/scratch.h"

using twtest::HasLine;
using twtest::LogCapture;

namespace {

// ---- case-insensitive replace ----

TEST(FindAndReplace, ReplacesEveryOccurrenceKeepingCaseElsewhere) {
  EXPECT_EQ(FindAndReplaceWithNoCase("Client-Data/CORP/x", "corp", "acme"), "Client-Data/acme/x");
  EXPECT_EQ(FindAndReplaceWithNoCase("Corp-CORP-corp", "CoRp", "Acme"), "Acme-Acme-Acme");
  EXPECT_EQ(FindAndReplaceWithNoCase("aabb", "ab", "a"), "aa");
  EXPECT_EQ(FindAndReplaceWithNoCase("nothing here", "corp", "acme"), "nothing here");
}

TEST(FindAndReplace, ReplacementHoldingTheOldTextTerminates) {
  EXPECT_EQ(FindAndReplaceWithNoCase("ab-AB", "ab", "xaby"), "xaby-xaby");
  EXPECT_EQ(FindAndReplaceWithNoCase("abab", "ab", "ab_ab"), "ab_abab_ab");
  // The replacement is searched as given: upper case in it is not the old text.
  EXPECT_EQ(FindAndReplaceWithNoCase("ab", "ab", "XABY"), "XABY");
}

TEST(FindAndReplace, InputsThatComeBackUnchanged) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(FindAndReplaceWithNoCase("CORP", "c", "x"), "CORP");
  EXPECT_EQ(FindAndReplaceWithNoCase("CORP", "corp", "Corp"), "CORP");
  EXPECT_EQ(FindAndReplaceWithNoCase("C", "corp", "x"), "C");
  EXPECT_EQ(FindAndReplaceWithNoCase(nullptr, "corp", "x"), std::nullopt);
  EXPECT_EQ(FindAndReplaceWithNoCase("CORP", nullptr, "x"), "CORP");
  EXPECT_EQ(FindAndReplaceWithNoCase("CORP", "corp", nullptr), "CORP");
  fflush(stdout);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("FindAndReplaceWithNoCase : Input String : CORP \n"), std::string::npos) << out;
  EXPECT_NE(out.find("FindAndReplaceWithNoCase : The string to find is either NULL or empty string \n"),
            std::string::npos);
  EXPECT_NE(out.find("FindAndReplaceWithNoCase : Both the old string and new strings are same , we are sending the "
                     "input string as output ..\n"),
            std::string::npos);
  EXPECT_NE(out.find("FindAndReplaceWithNoCase : The input string is either NULL or empty string \n"),
            std::string::npos);
}

// ---- path, URL and character helpers ----

TEST(TextHelpers, LastComponents) {
  LogCapture log(4);
  EXPECT_EQ(GetLastFileName("C:\\dir\\sub\\file.exe"), "file.exe");
  EXPECT_EQ(GetLastFileName("file.exe"), "file.exe");
  EXPECT_EQ(GetLastFileName("C:\\dir\\"), "");
  EXPECT_EQ(GetLastFileName(nullptr), std::nullopt);
  EXPECT_TRUE(HasLine(log, "[DEBUG]", "GetLastFileName Function Called with file.exe...!\n"));
  EXPECT_EQ(GetLastUrlFileName("http://host:8080/a/b/jre.zip"), "jre.zip");
  EXPECT_EQ(GetLastUrlFileName("jre.zip"), "jre.zip");
  EXPECT_EQ(GetLastUrlFileName(nullptr), std::nullopt);
  EXPECT_TRUE(HasLine(log, "[DEBUG]", "GetLastUrlFileName Function Called with jre.zip...!\n"));
  EXPECT_EQ(ReplaceChar("a/b/c", '/', '\\'), "a\\b\\c");
  EXPECT_EQ(ReplaceChar("", '/', '\\'), "");
}

}  // namespace
