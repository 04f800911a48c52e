// Installer staging in ordinary mode, in process: the dependency archive is
// fetched from a scripted server, extracted by the real archive tool, and its
// oracle folder copied into the system profile's LocalLow folder. A staged
// file that cannot be deleted keeps the new files out and is the result, not 0.
#include <gtest/gtest.h>
#include <windows.h>

#include "agent/config/settings.h"
#include "agent/util/scopedhandle.h"
#include "handler/options.h"
#include "handler/staging.h"
#include "tests/support/scratch.h"
#include "tests/support/win_http_server.h"
#include "tests/support/win_system.h"

namespace {

using twtest::ExeFolder;

constexpr const char* kStagingBelowSystem = "\\config\\systemprofile\\AppData\\LocalLow\\oracle";

// The staging folder in the native System32, which the program writes with
// redirection off, as this test program reaches it.
std::string StagingFolder() { return twtest::NativeSystemFolder() + kStagingBelowSystem; }

// The archive and its unpacked tree, made by the build (see tests/e2e).
std::string DataFile(const std::string& name) { return ExeFolder() + "\\e2e-data\\" + name; }

class StagingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAgentSettings();
    g_runOptions = RunOptions{};
    agent_ = twtest::MakeScratchDir("agent");
    gv_agentInstallDir = agent_ + "\\";
    ASSERT_TRUE(CreateDirectoryA((agent_ + "\\bin").c_str(), nullptr));
    ASSERT_TRUE(CopyFileA(DataFile("7za.exe").c_str(), (agent_ + "\\bin\\7za.exe").c_str(), FALSE));
    const std::string archive = twtest::ReadFile(DataFile("java-deps.zip"));
    ASSERT_FALSE(archive.empty());

    ASSERT_TRUE(server_.Ok()) << server_.Error();
    server_.Serve("/store/deps.zip", twtest::Response::Ok(archive));
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

  // A file of the archive's oracle folder: what it holds, and where it is staged.
  static std::string Packed(const std::string& name) { return twtest::ReadFile(DataFile("tree\\oracle\\" + name)); }
  static std::string Staged(const std::string& name) { return twtest::ReadFile(StagingFolder() + "\\" + name); }

  std::string agent_;
  twtest::ScriptedServer server_;
};

}  // namespace

TEST_F(StagingTest, ArchiveIsFetchedAndTheOracleFolderStaged) {
  twtest::WriteFile(StagingFolder() + "\\stale.txt", "old");
  // An earlier patch's extracted files are not staged again.
  twtest::WriteFile(agent_ + "\\patches\\oracle\\earlier.msi", "earlier patch");
  EXPECT_EQ(JavaPreInstaller(), 0);
  EXPECT_EQ(twtest::ReadFile(agent_ + "\\patches\\deps.zip"), twtest::ReadFile(DataFile("java-deps.zip")));
  for (const char* name : {"readme.txt", "Java\\installer.cfg", "Java\\jre1.8.0_202\\Data1.cab"}) {
    ASSERT_FALSE(Packed(name).empty()) << name;
    EXPECT_EQ(Staged(name), Packed(name)) << name;
  }
  EXPECT_FALSE(twtest::FileExists(StagingFolder() + "\\stale.txt"));  // emptied before the copy
  EXPECT_FALSE(twtest::FileExists(StagingFolder() + "\\earlier.msi"));
  // Nothing in SysWOW64's system profile, where a 32-bit process with
  // redirection on would have written.
  EXPECT_FALSE(twtest::FileExists(twtest::WindowsFolder() + "\\SysWOW64" + kStagingBelowSystem));
}

TEST_F(StagingTest, StagedFileThatCannotBeDeletedIsTheResultAndNothingIsCopied) {
  // Another process holds one staged file without sharing: it survives both
  // deletes, so the new files are not mixed in beside it.
  ASSERT_TRUE(twtest::WriteFile(StagingFolder() + "\\readme.txt", "held"));
  KernelHandle locked(CreateFileA((StagingFolder() + "\\readme.txt").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(locked.IsValid());
  EXPECT_EQ(JavaPreInstaller(), ERROR_SHARING_VIOLATION);
  locked.Close();
  EXPECT_EQ(Staged("readme.txt"), "held");
  EXPECT_FALSE(twtest::FileExists(StagingFolder() + "\\Java"));
}

TEST_F(StagingTest, FailedDownloadIsMinusOneWithoutTheClosingLine) {
  g_runOptions.dependencyFileName = "missing.zip";
  twtest::LogCapture log(2);
  EXPECT_EQ(JavaPreInstaller(), -1);
  EXPECT_EQ(log.Text().find("Returning from JavaPreInstaller"), std::string::npos);
}
