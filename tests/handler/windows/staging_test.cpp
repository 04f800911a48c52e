// Installer staging in ordinary mode, in process: the archive is fetched from a
// scripted server, "extracted" by a stand-in archive tool that exits 0, and the
// extracted oracle folder copied into the system profile's LocalLow folder. A
// copy that fails after a good extraction is the result, not 0.
#include <gtest/gtest.h>
#include <windows.h>

#include "agent/config/settings.h"
#include "handler/options.h"
#include "handler/staging.h"
#include "tests/support/scratch.h"
#include "tests/support/win_http_server.h"
#include "tests/support/win_system.h"

namespace {

using twtest::ExeFolder;

std::string StagingFolder() {
  return twtest::WindowsFolder() + "\\system32\\config\\systemprofile\\AppData\\LocalLow\\oracle";
}

class StagingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAgentSettings();
    g_runOptions = RunOptions{};
    agent_ = twtest::MakeScratchDir("agent");
    gv_agentInstallDir = agent_ + "\\";
    // The stand-in archive tool: a console program that does nothing and exits 0.
    ASSERT_TRUE(CreateDirectoryA((agent_ + "\\bin").c_str(), nullptr));
    ASSERT_TRUE(CopyFileA((ExeFolder() + "\\trivial_console.exe").c_str(), (agent_ + "\\bin\\7za.exe").c_str(), FALSE));
    // What the extraction would have left in the patches folder.
    ASSERT_TRUE(twtest::WriteFile(agent_ + "\\patches\\oracle\\jre.msi", "installer"));
    ASSERT_TRUE(twtest::WriteFile(agent_ + "\\patches\\oracle\\sub\\data.cab", "cabinet"));

    ASSERT_TRUE(server_.Ok()) << server_.Error();
    server_.Serve("/store/deps.zip", twtest::Response::Ok("zip bytes"));
    gv_serverName = "127.0.0.1";
    gv_lastAccessName = "127.0.0.1";
    gv_serverProtocol = "http";
    gv_serverPort = server_.Port();
    gv_dsEnabled = "no";
    gv_proxyEnabled = "NO";
    gv_dataTransferRateKBps = 0;
    g_runOptions.dependencyFileName = "deps.zip";
  }
  void TearDown() override {
    twtest::RemoveTree(agent_);
    twtest::RemoveTree(StagingFolder());
  }

  std::string agent_;
  twtest::ScriptedServer server_;
};

}  // namespace

TEST_F(StagingTest, ArchiveIsFetchedAndTheOracleFolderStaged) {
  twtest::WriteFile(StagingFolder() + "\\stale.txt", "old");
  EXPECT_EQ(JavaPreInstaller(), 0);
  EXPECT_EQ(twtest::ReadFile(agent_ + "\\patches\\deps.zip"), "zip bytes");
  EXPECT_EQ(twtest::ReadFile(StagingFolder() + "\\jre.msi"), "installer");
  EXPECT_EQ(twtest::ReadFile(StagingFolder() + "\\sub\\data.cab"), "cabinet");
  EXPECT_FALSE(twtest::FileExists(StagingFolder() + "\\stale.txt"));  // emptied before the copy
}

TEST_F(StagingTest, CopyFailureAfterAGoodExtractionIsTheResult) {
  // Another process holds one staged file without sharing: its copy fails.
  HANDLE locked = CreateFileA((agent_ + "\\patches\\oracle\\jre.msi").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  EXPECT_EQ(JavaPreInstaller(), ERROR_SHARING_VIOLATION);
  CloseHandle(locked);
  EXPECT_EQ(twtest::ReadFile(StagingFolder() + "\\sub\\data.cab"), "cabinet");  // the walk went on
}

TEST_F(StagingTest, FailedDownloadIsMinusOneWithoutTheClosingLine) {
  g_runOptions.dependencyFileName = "missing.zip";
  twtest::LogCapture log(2);
  EXPECT_EQ(JavaPreInstaller(), -1);
  EXPECT_EQ(log.Text().find("Returning from JavaPreInstaller"), std::string::npos);
}
