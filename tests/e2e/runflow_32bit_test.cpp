// The run flow on 32-bit Windows, which both builds can only simulate here:
// the whole program runs in this process with the "64-bit Windows?" answer
// forced to no, on the same prepared managed computer as the program runs.
// In ordinary mode the detection key is created and nothing is staged; in
// software deployment the installer still runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/util/wow64.h"
#include "handler/options.h"
#include "handler/processes.h"
#include "handler/runflow.h"
#include "tests/e2e/managed_computer.h"
#include "tests/support/scratch.h"
#include "tests/support/win_http_server.h"

using twe2e::ManagedComputer;

namespace {

class RunFlowOn32BitWindows : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Ok()) << server_.Error();
    ASSERT_EQ(pc_.Problem(), "");
    twtest::Response archive = twtest::Response::Ok(twtest::ReadFile(twe2e::DataFile("java-deps.zip")));
    archive.honourRange = true;
    server_.Serve("/store/" + patch_.dependencyFileName, archive);
    pc_.InstallJava(patch_);
    OverrideRunningOn64BitWindows(false);
    g_runOptions = RunOptions{};
    javaInUse = 0;
  }
  void TearDown() override {
    OverrideRunningOn64BitWindows(std::nullopt);
    g_runOptions = RunOptions{};
  }

  int32_t RunHere(const std::vector<std::string>& arguments) {
    std::vector<const char*> argv = {"twprereqhandler.exe"};
    for (const std::string& a : arguments) argv.push_back(a.c_str());
    return RunPrerequisiteHandler(static_cast<int>(argv.size()), argv.data());
  }

  twtest::ScriptedServer server_;
  const twe2e::Patch patch_ = twe2e::Java8Update202x86();
  ManagedComputer pc_{server_.Port()};
};

TEST_F(RunFlowOn32BitWindows, OrdinaryModeMarksDetectionAndStagesNothing) {
  EXPECT_EQ(RunHere(patch_.Arguments()), 0) << pc_.Log();

  EXPECT_TRUE(pc_.DetectionKeyExists(patch_.productName));
  EXPECT_EQ(pc_.RecordedValue("JREPath"), patch_.jreHome);
  EXPECT_EQ(pc_.RecordedValue("JDKPath"), patch_.jdkHome);
  EXPECT_EQ(pc_.RecordedValue("FileName"), patch_.javaFileName);
  EXPECT_FALSE(twtest::FileExists(twe2e::NativeStagingFolder()));
  EXPECT_EQ(server_.RequestCount(), 0u);
  const std::string log = pc_.Log();
  EXPECT_NE(log.find("and gv_IsWow64 : 0 \n"), std::string::npos) << log;
  EXPECT_TRUE(pc_.LogHas("[INFO]", "Os Name : "));
  EXPECT_TRUE(pc_.LogHas("[ERROR]", "Returning without performing the Java Pre Install task\n"));
  EXPECT_FALSE(pc_.LogHas("[INFO]", "dependencyFileName : " + patch_.dependencyFileName + " \n"));
  EXPECT_TRUE(pc_.LogEndsWithEnd()) << log;
}

TEST_F(RunFlowOn32BitWindows, SoftwareDeploymentStillRunsTheInstaller) {
  const std::string installer = std::string(ManagedComputer::kAgentDir) + "patches\\" + patch_.patchName;
  ASSERT_TRUE(CopyFileA((twe2e::ExeFolder() + "\\tw_e2e_installer.exe").c_str(), installer.c_str(), FALSE));
  twe2e::Patch deployed = patch_;
  deployed.patchName = installer + " /s";
  deployed.dependencyFileName.clear();
  std::vector<std::string> arguments = deployed.Arguments();
  arguments.insert(arguments.end(), {"-s", "1"});

  EXPECT_EQ(RunHere(arguments), 0) << pc_.Log();

  EXPECT_NE(twtest::ReadFile(installer + ".ran"), "");
  EXPECT_FALSE(pc_.DetectionKeyExists(patch_.productName));
  EXPECT_TRUE(pc_.LogHas("[INFO]", "Cmd for installation : " + deployed.patchName + "  \n")) << pc_.Log();
  EXPECT_TRUE(pc_.LogHas("[INFO]", "Returning from JavaPreInstaller with errorcode : 0\n"));
}

}  // namespace
