// Download access logs: the header once per file, fixed-width records, the
// success and failure files, "--" for a path without a file name.
#include <gtest/gtest.h>

#include <regex>

#include "agent/config/settings.h"
#include "http/accesslog.h"
#include "http/requestcore.h"
#include "tests/support/scratch.h"

namespace {
class AccessLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = twtest::MakeScratchDir("access");
    saved_ = gv_agentInstallDir;
    gv_agentInstallDir = dir_ + "\\";
    CreateDirectoryA((dir_ + "\\logs").c_str(), nullptr);
  }
  void TearDown() override {
    gv_agentInstallDir = saved_;
    twtest::RemoveTree(dir_);
  }
  AccessLogEntry Entry(const std::string& path) {
    AccessLogEntry e;
    e.startText = "\n 26-12-07\t\t  09:05:00\t";
    e.objectPath = path;
    e.objectPathW = std::wstring(path.begin(), path.end());
    e.serverAddress = L"127.0.0.1";
    e.port = 8080;
    e.requestType = DOWNLOAD_FILE;
    e.contentLength = 1200;
    e.bytesReceived = 600;
    return e;
  }
  std::string Read(const char* name) { return twtest::ReadFile(dir_ + "\\logs\\" + name); }
  std::string dir_;
  OptText saved_;
};

const std::string kHeader = "DATE\t\t\tSTART_TIME\t                         FILE_NAME\tMODE\t\t\t\tT_BYTES\tSTATUS\t"
                            "RECEVD_BYTES\tEND_TIME\tSERVER_NAME\t\tPORT\tURL";
}  // namespace

TEST_F(AccessLogTest, RecordLayoutIsFixedWidth) {
  std::string record = FormatAccessLogRecord(Entry("/patches/deps.zip"), 404, "09:06:07");
  EXPECT_EQ(record,
            "\n \n 26-12-07\t\t  09:05:00\t\t\t                      deps.zip\tDownloadFile\t      1200\t  404\t"
            "       600\t  09:06:07\t\t      127.0.0.1\t  8080\t/patches/deps.zip");
  AccessLogEntry data = Entry("/a/");
  data.requestType = GET_DATA;
  std::string other = FormatAccessLogRecord(data, 0, "09:06:07");
  EXPECT_NE(other.find("\t                            --\t     GetData\t"), std::string::npos) << other;
}

TEST_F(AccessLogTest, HeaderOnceThenRecordsInTheFileOfTheResult) {
  PrintHTTPAccessLog(Entry("/x/first.zip"), 404);
  PrintHTTPAccessLog(Entry("/x/second.zip"), 12002);
  PrintHTTPAccessLog(Entry("/x/done.zip"), 0);
  // Text-mode appends: every line end is CR LF on disk.
  std::string failure = Read("downloadFailureAccess.log");
  std::string header = std::regex_replace(kHeader, std::regex("\n"), "\r\n");
  ASSERT_EQ(failure.rfind(header + "\r\n" + std::string(142, '-'), 0), 0u) << failure.substr(0, 200);
  EXPECT_EQ(failure.find("DATE\t"), failure.rfind("DATE\t"));  // one header
  EXPECT_NE(failure.find("first.zip"), std::string::npos);
  EXPECT_NE(failure.find("second.zip"), std::string::npos);
  EXPECT_EQ(failure.find("done.zip"), std::string::npos);
  std::string success = Read("downloadSuccessAccess.log");
  EXPECT_EQ(success.rfind("DATE\t", 0), 0u);
  EXPECT_NE(success.find("done.zip"), std::string::npos);
}

TEST_F(AccessLogTest, StartTextIsDateAndTime) {
  EXPECT_TRUE(std::regex_match(AccessLogStartText(), std::regex("\n \\d\\d-\\d\\d-\\d\\d\t\t  \\d\\d:\\d\\d:\\d\\d\t")));
}
