// Dotted version comparison: the worked table, numeric ordering, components
// present on one side only, empty and non-numeric components.
#include <gtest/gtest.h>

#include "handler/version.h"
#include "tests/support/scratch.h"

TEST(NextVersionPart, SplitsAtEveryDot) {
  auto parts = [](const std::string& text) {
    std::vector<std::string> out;
    size_t cursor = 0;
    while (auto p = nextVersionPart(text, cursor)) out.push_back(*p);
    return out;
  };
  EXPECT_EQ(parts("8.0.2010.9"), (std::vector<std::string>{"8", "0", "2010", "9"}));
  EXPECT_EQ(parts("8..1"), (std::vector<std::string>{"8", "", "1"}));
  EXPECT_EQ(parts("8."), (std::vector<std::string>{"8"}));
  EXPECT_TRUE(parts("").empty());
}

TEST(VersionComparison, WorkedTable) {
  struct Row {
    const char* a;
    const char* b;
    bool equal;
    bool lesserOrEqual;
  } rows[] = {
      {"8.0.2010.9", "8.0.2010.9", true, true}, {"8.0.1910.12", "8.0.2010.9", false, true},
      {"8.0.2110.5", "8.0.2010.9", false, false}, {"8.0.2010", "8.0.2010.9", true, true},
      {"1.10", "1.9", false, false},             {"8.0_201", "8.0.2010.9", true, true},
      {"", "8.0", false, false},                 {"8.0", "", false, false},
      {"8.0.2010.9", "8.0", true, true},          {"8..1", "8.0.1", true, true},
      {"12abc.1", "12.1", true, true},            {"1.9", "1.10", false, true},
      {" 7.-1", "7.0", false, true},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(CheckForVersionEqual(r.a, r.b), r.equal) << r.a << " vs " << r.b;
    EXPECT_EQ(CheckForVersionLesserAndEquals(r.a, r.b), r.lesserOrEqual) << r.a << " vs " << r.b;
  }
}

TEST(VersionComparison, LogsTheComparison) {
  twtest::LogCapture log(4);
  CheckForVersionEqual("8.0.1", "8.0.2");
  CheckForVersionLesserAndEquals("8.0.1", "8.0.2");
  EXPECT_TRUE(log.Has("CheckForVersionEqual : Installed File Version : 8.0.1 "));
  EXPECT_TRUE(log.Has("CheckForVersionEqual : The currentVersion is lesser than minVersion "));
  EXPECT_TRUE(log.Has("CheckForVersionLesserAndEquals : Comparing CurrentVersion value : 8.0.1 and MaxVersion "
                      "value : 8.0.2 "));
  EXPECT_TRUE(log.Has("CheckForVersionGreaterAndEquals : Checking version 1 : 1 and Version 2 : 2"));
  EXPECT_TRUE(log.Has("CheckForVersionLesserAndEquals : The currentVersion lesser than the maxVersion "));
  EXPECT_TRUE(log.Has("\t @@@@@@ End Of CheckForVersionLesserAndEquals Method @@@@@@@@ "));
}
