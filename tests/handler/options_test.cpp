// Command-line parsing: every known option consumes the next argument, only the
// second character selects the option, -c values, trailing options, and the
// Java 8 test.
#include <gtest/gtest.h>

#include <vector>

#include "handler/options.h"
#include "tests/support/scratch.h"

namespace {
const RunOptions& Parse(std::vector<const char*> args) {
  g_runOptions = RunOptions{};
  args.insert(args.begin(), "twprereqhandler.exe");
  EXPECT_TRUE(parseCommandLine(static_cast<int>(args.size()), args.data()));
  return g_runOptions;
}
}  // namespace

TEST(ParseCommandLine, EveryOptionTakesTheNextArgument) {
  const RunOptions& o = Parse({"-p", "jre-8u401-windows-i586.exe", "-n", "Java_1.8_x64", "-v", "1.8", "-f",
                               "jre.exe", "-d", "deps.zip", "-x", "64", "-j", "8.0.4010.10"});
  EXPECT_EQ(o.patchName, "jre-8u401-windows-i586.exe");
  EXPECT_EQ(o.productName, "Java_1.8_x64");
  EXPECT_EQ(o.productVersion, "1.8");
  EXPECT_EQ(o.javaFileName, "jre.exe");
  EXPECT_EQ(o.dependencyFileName, "deps.zip");
  EXPECT_EQ(o.javaArchitecture, "64");
  EXPECT_EQ(o.javaLatestInstalledVersion, "8.0.4010.10");
  EXPECT_EQ(o.clearDetection, 0);
  EXPECT_FALSE(o.removeJavaInstallPath);
  EXPECT_FALSE(o.calledFromSoftwareDeployment);
}

TEST(ParseCommandLine, FlagsConsumeTheirFollowingArgument) {
  // The x after -s is its (ignored) value; -p is still seen.
  const RunOptions& a = Parse({"-s", "x", "-p", "setup.exe"});
  EXPECT_TRUE(a.calledFromSoftwareDeployment);
  EXPECT_EQ(a.patchName, "setup.exe");
  // -p is consumed as the value of -s, so setup.exe is skipped as a non-option.
  const RunOptions& b = Parse({"-s", "-p", "setup.exe"});
  EXPECT_TRUE(b.calledFromSoftwareDeployment);
  EXPECT_FALSE(b.patchName.has_value());
  // A trailing flag still counts; a trailing value option is ignored.
  const RunOptions& c = Parse({"-p", "a.exe", "-r"});
  EXPECT_TRUE(c.removeJavaInstallPath);
  const RunOptions& d = Parse({"-n", "Java", "-p"});
  EXPECT_FALSE(d.patchName.has_value());
  EXPECT_EQ(d.productName, "Java");
}

TEST(ParseCommandLine, SecondCharacterSelectsTheOption) {
  const RunOptions& o = Parse({"-pX", "one.exe", "-patch", "two.exe", "plain", "-q", "ignored", "-", "-N", "x"});
  EXPECT_EQ(o.patchName, "two.exe");  // the later one replaces the earlier
  EXPECT_FALSE(o.productName.has_value());  // letters are lower case
}

TEST(ParseCommandLine, ClearDetectionValues) {
  struct Case {
    const char* value;
    int32_t expected;
  } cases[] = {{"0", 0}, {"1", 1}, {"+7", 7}, {"-3", -3}, {"", 0},
               {"yes", -1}, {"5x", -1}, {"+", 0}, {"99999999999", -1}};
  for (const Case& c : cases) EXPECT_EQ(Parse({"-c", c.value}).clearDetection, c.expected) << c.value;
}

TEST(ParseCommandLine, LogsTheValues) {
  twtest::LogCapture log(1);
  Parse({"-p", "a.exe", "-n", "N", "-f", "F", "-c", "1", "-s", "x", "-r", "y"});
  std::string text = log.Text();
  EXPECT_TRUE(log.Has("patchName :a.exe"));
  EXPECT_TRUE(log.Has("productName : N"));
  EXPECT_EQ(text.find("F\n"), std::string::npos);  // -f is stored silently
  EXPECT_NE(text.find("[INFO] Java detection need to be cleared[ "), std::string::npos);
  EXPECT_NE(text.find("[INFO] called from software deployment[ "), std::string::npos);
  EXPECT_NE(text.find("[INFO] remove java install path reg key"), std::string::npos);
}

TEST(IsJava8Update, PatchNameOrProductName) {
  Parse({"-p", "jre-8u401.exe"});
  EXPECT_TRUE(isJava8Update());
  Parse({"-n", "Java_1.8_x64"});
  EXPECT_TRUE(isJava8Update());
  Parse({"-p", "JRE-8U401.exe", "-n", "java_1.8"});
  EXPECT_FALSE(isJava8Update());  // case-sensitive
  Parse({});
  EXPECT_FALSE(isJava8Update());
}
