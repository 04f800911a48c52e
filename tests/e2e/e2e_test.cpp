// Whole runs of twprereqhandler.exe on a prepared managed computer: the program
// is started as the agent starts it, its full exit code is read with
// GetExitCodeProcess, and the test looks at what the agent and a person can
// see afterwards: the log, the registry records, the detection key, the staged
// installer files, the installed updates and the requests the server received.
// The dependency archive is served by the scripted server at /store/<name>.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "agent/util/scopedhandle.h"
#include "tests/e2e/managed_computer.h"
#include "tests/support/sleeper_process.h"
#include "tests/support/scratch.h"
#include "tests/support/win_http_server.h"
#include "tests/support/win_system.h"

using twe2e::ManagedComputer;
using twe2e::Patch;
using twe2e::RunResult;
using twtest::RegView;
using twtest::SleeperProcess;

namespace {

enum class Mode { kOrdinary, kSoftwareDeployment };

const char* Name(Mode mode) { return mode == Mode::kOrdinary ? "ordinary mode" : "software deployment"; }

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Compares staged files with the expected ones by name and content (without
// printing the contents of large files).
testing::AssertionResult SameFiles(const std::map<std::string, std::string>& expected,
                                   const std::map<std::string, std::string>& actual) {
  std::string differences;
  for (const auto& [name, content] : expected) {
    auto it = actual.find(name);
    if (it == actual.end())
      differences += " missing " + name + ";";
    else if (it->second != content)
      differences += " different " + name + ";";
  }
  for (const auto& entry : actual)
    if (!expected.count(entry.first)) differences += " unexpected " + entry.first + ";";
  if (expected.empty()) differences += " nothing expected;";
  if (differences.empty()) return testing::AssertionSuccess();
  return testing::AssertionFailure() << differences;
}

// Removes a folder tree when the test is over (after the processes in it ended).
struct FolderCleanup {
  std::string path;
  ~FolderCleanup() {
    if (!path.empty()) twtest::RemoveTree(path);
  }
};

class ProgramRun : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Ok()) << server_.Error();
    archive_ = twtest::ReadFile(twe2e::DataFile("java-deps.zip"));
    ASSERT_FALSE(archive_.empty()) << "no dependency archive at " << twe2e::DataFile("java-deps.zip");
    pc_ = std::make_unique<ManagedComputer>(server_.Port(), Rate(), InstallDir());
    ASSERT_EQ(pc_->Problem(), "");
  }
  void TearDown() override { pc_.reset(); }

  virtual std::string Rate() const { return "1024"; }
  virtual std::string InstallDir() const { return ManagedComputer::kAgentDir; }

  // The management server offers the patch's dependency archive.
  void Serve(const Patch& patch) {
    twtest::Response r = twtest::Response::Ok(archive_);
    r.honourRange = true;
    r.acceptRanges = true;
    server_.Serve("/store/" + patch.dependencyFileName, r);
  }

  // The stand-in installer placed as the patch's installer in the patches
  // folder; the command line software deployment gives as -p.
  std::string PlaceInstaller(const Patch& patch, const std::string& arguments = "/s INSTALL_SILENT=1 REBOOT=0") {
    installer_ = pc_->AgentDir() + "patches\\" + patch.patchName;
    EXPECT_TRUE(CopyFileA((twe2e::ExeFolder() + "\\tw_e2e_installer.exe").c_str(), installer_.c_str(), FALSE));
    return installer_ + " " + arguments;
  }
  // What the installer recorded ("" when it did not run).
  std::string InstallerRecord() const { return installer_.empty() ? "" : twtest::ReadFile(installer_ + ".ran"); }

  // The arguments of a run of `patch` in `mode` (software deployment: -p is
  // the installer command line and -s is given).
  std::vector<std::string> Arguments(const Patch& patch, Mode mode) {
    if (mode == Mode::kOrdinary) return patch.Arguments();
    Patch deployed = patch;
    deployed.patchName = PlaceInstaller(patch);
    deployed.dependencyFileName.clear();
    return deployed.Arguments() + std::vector<std::string>{"-s", "1"};
  }

  // The arguments of a run that stages `patch`'s dependency archive in
  // `mode`; software deployment runs the stand-in installer and reads the
  // archive at the root of the current drive (PlaceRootArchive).
  std::vector<std::string> StagingArguments(const Patch& patch, Mode mode) {
    if (mode == Mode::kOrdinary) return patch.Arguments();
    Patch deployed = patch;
    deployed.patchName = PlaceInstaller(patch);
    return deployed.Arguments() + std::vector<std::string>{"-s", "1"};
  }
  // The archive where software deployment reads it, until the test ends.
  void PlaceRootArchive(const Patch& patch) {
    rootArchive_.path = "C:\\" + patch.dependencyFileName;
    ASSERT_TRUE(twtest::WriteFile(rootArchive_.path, archive_));
  }

  RunResult Run(const std::vector<std::string>& arguments, const std::string& folder = "") {
    RunResult r = pc_->Run(arguments, folder);
    EXPECT_TRUE(r.started) << r.commandLine;
    return r;
  }

  // The extraction command the program logs for an ordinary run of `patch`:
  // the tool's path quoted, since install folders often hold blanks.
  std::string ExtractCommand(const Patch& patch) const {
    return "\"" + pc_->AgentDir() + "bin\\7za.exe\" x -y \"" + pc_->AgentDir() + "\\patches\\" +
           patch.dependencyFileName + "\" oracle";
  }

  // A fresh log and installer record before the next run in the same test.
  void Forget() {
    DeleteFileA(pc_->LogPath().c_str());
    if (!installer_.empty()) DeleteFileA((installer_ + ".ran").c_str());
  }

  std::string Log() const { return pc_->Log(); }

  twtest::ScriptedServer server_;
  std::string archive_;
  std::unique_ptr<ManagedComputer> pc_;
  std::string installer_;
  FolderCleanup rootArchive_;
};

// ---- the decision table, row by row ----

TEST_F(ProgramRun, ClearingDetectionDeletesTheKeyAndEndsWith0) {
  const Patch p = twe2e::Java8Update202x64();
  pc_->InstallJava(p);
  Serve(p);
  ASSERT_TRUE(pc_->Registry().CreateKey(RegView::k32, ManagedComputer::DetectionKey(p.productName)));

  const RunResult r = Run(p.Arguments() + std::vector<std::string>{"-c", "1"});

  EXPECT_EQ(r.exitCode, 0) << Log();
  EXPECT_FALSE(pc_->DetectionKeyExists(p.productName));
  EXPECT_TRUE(pc_->LogHas("[INFO]", "Java detection need to be cleared"));
  EXPECT_FALSE(pc_->LogHas("[INFO]", "checking for any java process running\n"));
  EXPECT_EQ(server_.RequestCount(), 0u);
  EXPECT_FALSE(twtest::FileExists(twe2e::NativeStagingFolder()));
  // The install paths are recorded before the decision.
  EXPECT_EQ(pc_->RecordedValue("JREPath"), p.jreHome);
  EXPECT_TRUE(pc_->LogEndsWithEnd()) << Log();
}

TEST_F(ProgramRun, ClearingDetectionIsIgnoredInSoftwareDeployment) {
  const Patch p = twe2e::Java8Update202x64();
  pc_->InstallJava(p);
  ASSERT_TRUE(pc_->Registry().CreateKey(RegView::k32, ManagedComputer::DetectionKey(p.productName)));

  const RunResult r = Run(Arguments(p, Mode::kSoftwareDeployment) + std::vector<std::string>{"-c", "1"});

  EXPECT_EQ(r.exitCode, 0) << Log();
  EXPECT_TRUE(pc_->DetectionKeyExists(p.productName));  // neither deleted nor touched
  EXPECT_NE(InstallerRecord(), "");
  EXPECT_TRUE(pc_->LogHas("[INFO]", "Returning from JavaPreInstaller with errorcode : 0\n")) << Log();
}

TEST_F(ProgramRun, RunningBrowserMeansJavaInUseAndEndsWith20001InBothModes) {
  const Patch p = twe2e::Java7Update80x64();
  pc_->InstallJava(p);
  Serve(p);
  const std::string browserFolder = "C:\\Program Files\\Browser\\Application";
  FolderCleanup cleanup{"C:\\Program Files\\Browser"};
  SleeperProcess chrome(browserFolder, "chrome.exe", "--no-startup-window");
  ASSERT_TRUE(chrome.Started());

  for (Mode mode : {Mode::kOrdinary, Mode::kSoftwareDeployment}) {
    SCOPED_TRACE(Name(mode));
    Forget();
    const RunResult r = Run(Arguments(p, mode));

    EXPECT_EQ(r.exitCode, 20001) << Log();
    EXPECT_TRUE(pc_->LogHas("[INFO]", "szJavaHome : " + p.jreHome + "\n")) << Log();
    EXPECT_TRUE(pc_->LogHas("[INFO]", "Browser is being used\n"));
    EXPECT_TRUE(pc_->LogHas("[ERROR]", "Java prechecker failed\n"));
    EXPECT_FALSE(pc_->DetectionKeyExists(p.productName));
    EXPECT_EQ(InstallerRecord(), "");
    EXPECT_TRUE(pc_->LogEndsWithEnd()) << Log();
  }
  EXPECT_EQ(server_.RequestCount(), 0u);
  EXPECT_FALSE(chrome.WaitForExit(0));  // browsers are looked for, never ended
}

TEST_F(ProgramRun, Java8UpdateSkipsTheInUseCheck) {
  const Patch p = twe2e::Java8Update202x64();
  pc_->InstallJava(p);
  FolderCleanup cleanup{"C:\\Program Files\\Browser"};
  SleeperProcess chrome("C:\\Program Files\\Browser\\Application", "chrome.exe");
  ASSERT_TRUE(chrome.Started());
  Patch withoutArchive = p;  // nothing to stage: the run ends in the staging step with 0
  withoutArchive.dependencyFileName.clear();

  const RunResult r = Run(withoutArchive.Arguments());

  EXPECT_EQ(r.exitCode, 0) << Log();
  EXPECT_TRUE(pc_->LogHas("[INFO]", "Java 8 installation \n")) << Log();
  EXPECT_FALSE(pc_->LogHas("[INFO]", "checking for browsers...\n"));
  EXPECT_TRUE(pc_->LogHas("[ERROR]", "Dependency file is empty.\n"));
  EXPECT_TRUE(pc_->LogHas("[INFO]", "Returning from JavaPreInstaller with errorcode : 0\n"));
  EXPECT_TRUE(pc_->DetectionKeyExists(p.productName));
}

TEST_F(ProgramRun, MissingPatchNameEndsWith13InBothModes) {
  const Patch p = twe2e::Java8Update202x64();
  pc_->InstallJava(p);
  Serve(p);
  Patch noPatch = p;
  noPatch.patchName.clear();

  // Ordinary mode without -p; software deployment without -p; and software
  // deployment as "-s -p <installer>", where -s takes -p as its value.
  const std::string installer = PlaceInstaller(p);
  const std::vector<std::vector<std::string>> runs = {
      noPatch.Arguments(),
      noPatch.Arguments() + std::vector<std::string>{"-s", "1"},
      std::vector<std::string>{"-s", "-p", installer, "-n", p.productName, "-v", p.productVersion},
  };
  for (const auto& arguments : runs) {
    Forget();
    const RunResult r = Run(arguments);
    SCOPED_TRACE(r.commandLine);

    EXPECT_EQ(r.exitCode, 13) << Log();
    EXPECT_TRUE(pc_->LogHas("[INFO]", "checking for any java process running\n"));
    EXPECT_FALSE(pc_->LogHas("[INFO]", "patchName :"));
    EXPECT_FALSE(pc_->DetectionKeyExists(p.productName));
    EXPECT_EQ(InstallerRecord(), "");
    EXPECT_TRUE(pc_->LogEndsWithEnd()) << Log();
  }
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(ProgramRun, QuickStarterPatchEndsItAndEndsWith0InBothModes) {
  const Patch p = twe2e::Java8Update202x64();
  pc_->InstallJava(p);
  const std::string folder = "C:\\Program Files\\Java\\jre1.8.0_201\\bin";
  FolderCleanup cleanup{"C:\\Program Files\\Java"};

  for (Mode mode : {Mode::kOrdinary, Mode::kSoftwareDeployment}) {
    SCOPED_TRACE(Name(mode));
    Forget();
    SleeperProcess jqs(folder, "jqs.exe", "-service -config \"C:\\Program Files\\Java\\jre1.8.0_201\\lib\\deploy\\jqs\\jqs.conf\"");
    ASSERT_TRUE(jqs.Started());
    std::vector<std::string> arguments = {"-p", "jqs.exe", "-n", p.productName, "-v", p.productVersion};
    if (mode == Mode::kSoftwareDeployment) arguments = arguments + std::vector<std::string>{"-s", "1"};

    const RunResult r = Run(arguments);

    EXPECT_EQ(r.exitCode, 0) << Log();
    EXPECT_TRUE(jqs.WaitForExit(5000));
    EXPECT_TRUE(pc_->LogHas("[INFO]", "jqs.exe was Killed......\n")) << Log();
    EXPECT_TRUE(pc_->LogHas("[INFO]", "Successfully removed the jqs.exe\n"));
    EXPECT_FALSE(pc_->DetectionKeyExists(p.productName));
    EXPECT_FALSE(pc_->LogHas("[INFO]", "Returning from JavaPreInstaller"));
    EXPECT_TRUE(pc_->LogEndsWithEnd()) << Log();
  }
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(ProgramRun, FailedDownloadEndsWithMinusOne) {
  const Patch p = twe2e::Java8Update202x64();
  pc_->InstallJava(p);  // the server has no such archive: 404

  const RunResult r = Run(p.Arguments());

  EXPECT_EQ(r.exitCode, -1) << Log();
  const std::string archive = pc_->AgentDir() + "\\patches\\" + p.dependencyFileName;
  EXPECT_TRUE(pc_->LogHas("[INFO]", "\t Error occured while downloading the Patch : " + archive + " \n")) << Log();
  EXPECT_FALSE(pc_->LogHas("[INFO]", "Returning from JavaPreInstaller"));
  EXPECT_TRUE(pc_->LogEndsWithEnd()) << Log();
  ASSERT_GE(server_.RequestCount(), 1u);
  EXPECT_EQ(server_.Requests()[0].path, "/store/" + p.dependencyFileName);
  EXPECT_EQ(server_.Requests()[0].answeredStatus, 404);
  EXPECT_TRUE(pc_->DetectionKeyExists(p.productName));  // marked before the staging
  EXPECT_FALSE(twtest::FileExists(twe2e::NativeStagingFolder()));
  EXPECT_FALSE(twtest::FileExists(pc_->AgentDir() + "patches\\" + p.dependencyFileName));
}

TEST_F(ProgramRun, MissingArchiveToolEndsWith2AfterEmptyingTheStagingFolder) {
  const Patch p = twe2e::Java8Update202x64();
  pc_->InstallJava(p);
  Serve(p);
  pc_->RemoveArchiveTool();
  const std::string stale = twe2e::NativeStagingFolder() + "\\Java\\jre1.8.0_191\\Data1.cab";
  ASSERT_TRUE(twtest::WriteFile(stale, "files of an earlier update"));

  const RunResult r = Run(p.Arguments());

  EXPECT_EQ(r.exitCode, 2) << Log();
  const std::string command = ExtractCommand(p);
  EXPECT_TRUE(pc_->LogHas("[INFO]", "extractCmd : " + command + "  \n")) << Log();
  EXPECT_TRUE(pc_->LogHas("[INFO]", "Return code : 2  : " + command + "\n"));
  EXPECT_TRUE(pc_->LogHas("[INFO]", "Returning from JavaPreInstaller with errorcode : 2\n"));
  EXPECT_FALSE(twtest::FileExists(stale));
  EXPECT_TRUE(twe2e::FilesBelow(twe2e::NativeStagingFolder()).empty());
  // The archive itself arrived.
  EXPECT_EQ(twtest::ReadFile(pc_->AgentDir() + "patches\\" + p.dependencyFileName), archive_);
}

TEST_F(ProgramRun, ImagedComputerEndsWith10047InBothModes) {
  const Patch p = twe2e::Java8Update202x64();
  pc_->InstallJava(p);
  Serve(p);
  pc_->SetAgentDword("ImagedComputer", 1);

  for (Mode mode : {Mode::kOrdinary, Mode::kSoftwareDeployment}) {
    SCOPED_TRACE(Name(mode));
    Forget();
    const RunResult r = Run(Arguments(p, mode));

    EXPECT_EQ(r.exitCode, 10047) << Log();
    EXPECT_TRUE(pc_->LogHas("[INFO]", "InitializeAgentParameters : Computer is detected as imaged One .. \n"));
    EXPECT_TRUE(pc_->LogHas("[ERROR]", "Tarnwick Agent info is not available in this machine.\n"));
    EXPECT_FALSE(pc_->LogHas("[INFO]", "checking for any java process running\n"));
    EXPECT_FALSE(pc_->DetectionKeyExists(p.productName));
    EXPECT_EQ(InstallerRecord(), "");
    EXPECT_EQ(pc_->RecordedValue("JREPath"), p.jreHome);  // recorded before the configuration is read
    EXPECT_TRUE(pc_->LogEndsWithEnd()) << Log();
  }
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(ProgramRun, MissingAgentInstallFolderEndsWith13WithoutALog) {
  const Patch p = twe2e::Java8Update202x64();
  pc_->InstallJava(p);
  Serve(p);
  pc_->DeleteAgentValue("TWAgentInstallDir");

  for (Mode mode : {Mode::kOrdinary, Mode::kSoftwareDeployment}) {
    SCOPED_TRACE(Name(mode));
    const RunResult r = Run(Arguments(p, mode));

    EXPECT_EQ(r.exitCode, 13);
    EXPECT_FALSE(pc_->LogExists());
    EXPECT_FALSE(pc_->RecordedValue("JREPath").has_value());
    EXPECT_FALSE(pc_->DetectionKeyExists(p.productName));
    EXPECT_EQ(InstallerRecord(), "");
  }
  EXPECT_EQ(server_.RequestCount(), 0u);
}

// ---- the main road: 64-bit Windows, ordinary mode ----

// Rate "1024": the default bandwidth-limited download; "0": one plain GET.
class MainRoad : public ProgramRun, public testing::WithParamInterface<const char*> {
 protected:
  std::string Rate() const override { return GetParam(); }
};

TEST_P(MainRoad, StagesTheInstallerFilesMarksDetectionAndRemovesOlderUpdates) {
  const Patch p = twe2e::Java8Update202x64();
  pc_->InstallJava(p);
  ASSERT_TRUE(pc_->InstallPackage(twe2e::kJava8_1910x64));
  ASSERT_TRUE(pc_->InstallPackage(twe2e::kJava8_2010x64));
  Serve(p);
  // An earlier update's file in the staging folder, which the program removes
  // with redirection off (the 32-bit build then reaches the native folder).
  ASSERT_TRUE(twtest::WriteFile(twe2e::NativeStagingFolder() + "\\Java\\jre1.8.0_191\\Data1.cab", "earlier"));

  const RunResult r = Run(p.Arguments());

  ASSERT_EQ(r.exitCode, 0) << Log();
  // The installer files, exactly the archive's oracle folder, in the native
  // System32's system profile; nothing in SysWOW64's.
  const auto expected = twe2e::FilesBelow(twe2e::DataFile("tree\\oracle"));
  ASSERT_EQ(expected.size(), 4u);
  EXPECT_TRUE(SameFiles(expected, twe2e::FilesBelow(twe2e::NativeStagingFolder())));
  EXPECT_FALSE(twtest::FileExists(twe2e::Wow64StagingFolder()));
  // The archive and its extracted folder stay in the patches folder; only the
  // oracle folder was extracted.
  const std::string patches = pc_->AgentDir() + "patches\\";
  EXPECT_TRUE(twtest::ReadFile(patches + p.dependencyFileName) == archive_);
  EXPECT_EQ(twe2e::FilesBelow(patches + "oracle").size(), expected.size());
  EXPECT_FALSE(twtest::FileExists(patches + "setup-notes.txt"));

  // Registry: the records for detection, in the agent's 32-bit view only.
  EXPECT_TRUE(pc_->DetectionKeyExists(p.productName));
  EXPECT_EQ(pc_->RecordedValue("JREPath"), p.jreHome);
  EXPECT_EQ(pc_->RecordedValue("JDKPath"), p.jdkHome);
  EXPECT_EQ(pc_->RecordedValue("FileName"), p.javaFileName);
  EXPECT_FALSE(pc_->Registry().ValueExists(RegView::k64, twe2e::kRecordKey, "JREPath"));
  // A 64-bit program finds them where the agent's 32-bit detection reads
  // them: in Wow6432Node of the native tree.
  const std::string reg = twe2e::NativeSystemFolder() + "\\reg.exe query HKLM\\SOFTWARE\\";
  EXPECT_EQ(twe2e::RunAndWait(reg + "Wow6432Node\\Orvanta /v JREPath"), 0u);
  EXPECT_EQ(twe2e::RunAndWait(reg + "Wow6432Node\\Orvanta\\Tarnwick\\TWAgent\\AppDetection\\" + p.productName), 0u);
  EXPECT_EQ(twe2e::RunAndWait(reg + "Orvanta /v JREPath /reg:64"), 1u);
  EXPECT_EQ(pc_->ServerInfoValue("TWLastAccessName"), "127.0.0.1");

  // The older update of the same major version is gone, the newest stays.
  EXPECT_FALSE(pc_->PackageInstalled(twe2e::kJava8_1910x64));
  EXPECT_TRUE(pc_->PackageInstalled(twe2e::kJava8_2010x64));

  // On the wire.
  const auto requests = server_.Requests();
  ASSERT_FALSE(requests.empty());
  for (const auto& q : requests) EXPECT_EQ(q.path, "/store/" + p.dependencyFileName);
  if (Rate() == "0") {
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_FALSE(requests[0].Header("range").has_value());
  } else {
    // HEAD for the length, then blocks of 1024 x 500 bytes.
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].method, "HEAD");
    EXPECT_EQ(requests[1].Header("range"), "bytes=0-511999");
    EXPECT_EQ(requests[2].Header("range"), "bytes=512000-" + std::to_string(archive_.size()));
  }

  // The log tells the same story.
  const std::string command = ExtractCommand(p);
  for (const std::string& line : {
           "patchName :" + p.patchName + "\n",
           "JREInstallDir : " + p.jreHome + "\n",
           std::string("JRE Install Path added to the registry.\n"),
           std::string("Uninstalling obsolete updates.\n"),
           std::string("Keys to delete :") + twe2e::kJava8_1910x64.productCode + "\n",
           std::string("Java 8 installation \n"),
           "dependencyFileName : " + p.dependencyFileName + " \n",
           "extractCmd : " + command + "  \n",
           "Return code : 0  : " + command + "\n",
           "sourceFile Directory : " + pc_->AgentDir() + "\\patches\\oracle\n",
           std::string("Disabled FS Redirection \n"),
           std::string("Reverted FS Redirection \n"),
           std::string("Proceeding installation after copying...\n"),
           std::string("Returning from JavaPreInstaller with errorcode : 0\n"),
       })
    EXPECT_TRUE(pc_->LogHas("[INFO]", line)) << line << Log();
  EXPECT_NE(Log().find("and gv_IsWow64 : 1 \n"), std::string::npos);
  EXPECT_FALSE(pc_->LogHas("[ERROR]", "Returning without performing the Java Pre Install task\n"));
  // The staging folder is gone before the copy: no run reports it otherwise.
  EXPECT_TRUE(pc_->LogHas("[INFO]", "Sucessfully removed the directory : " + twe2e::StagingFolder() + "\n")) << Log();
  EXPECT_FALSE(pc_->LogHas("[ERROR]", "Failed to remove the directory")) << Log();
  EXPECT_TRUE(pc_->LogEndsWithEnd()) << Log();
}

INSTANTIATE_TEST_SUITE_P(TransferRate, MainRoad, testing::Values("1024", "0"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param) == "0" ? std::string("Unlimited")
                                                                 : std::string("Limited") + info.param;
                         });

TEST_F(ProgramRun, FilesOfAnEarlierPatchAreNotStagedAgain) {
  const Patch p = twe2e::Java8Update202x64();
  pc_->InstallJava(p);
  Serve(p);
  const std::string stale = pc_->AgentDir() + "patches\\oracle\\Java\\jre1.8.0_191\\Data1.cab";
  ASSERT_TRUE(twtest::WriteFile(stale, "files of an earlier update"));

  const RunResult r = Run(p.Arguments());

  EXPECT_EQ(r.exitCode, 0) << Log();
  EXPECT_TRUE(SameFiles(twe2e::FilesBelow(twe2e::DataFile("tree\\oracle")),
                        twe2e::FilesBelow(twe2e::NativeStagingFolder())));
  EXPECT_FALSE(twtest::FileExists(stale));
}

// A file of an earlier patch that another program holds open without delete
// sharing (a running installer, a scanner) survives both deletes of the
// staging folder. The new files are then not copied in beside it: ordinary
// mode ends with the delete's error, software deployment runs the installer.
TEST_F(ProgramRun, StagingFolderThatCannotBeEmptiedGetsNoNewFiles) {
  const Patch p = twe2e::Java8Update202x64();
  pc_->InstallJava(p);
  Serve(p);
  PlaceRootArchive(p);
  const std::map<std::string, std::string> earlier = {{"Java\\jre1.8.0_191\\Data1.cab", "held by an installer"}};
  const std::string held = twe2e::NativeStagingFolder() + "\\" + earlier.begin()->first;

  for (Mode mode : {Mode::kOrdinary, Mode::kSoftwareDeployment}) {
    SCOPED_TRACE(Name(mode));
    Forget();
    ASSERT_TRUE(twtest::WriteFile(held, earlier.begin()->second));
    KernelHandle holder(CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.IsValid()) << GetLastError();

    const RunResult r = Run(StagingArguments(p, mode));
    holder.Close();

    EXPECT_EQ(r.exitCode, mode == Mode::kOrdinary ? ERROR_SHARING_VIOLATION : 0) << Log();
    EXPECT_TRUE(SameFiles(earlier, twe2e::FilesBelow(twe2e::NativeStagingFolder())));
    EXPECT_TRUE(pc_->LogHas("[ERROR]", "Installer files not copied: " + twe2e::StagingFolder() +
                                           " still holds files that could not be deleted (error 32)\n"))
        << Log();
    EXPECT_EQ(InstallerRecord() != "", mode == Mode::kSoftwareDeployment);
  }
}

// ---- the dependency file name ----

// The name given with -d becomes part of a local path, of the server path and
// of the archive tool's command line: anything but a plain file name is
// refused before any of them is built, in both modes.
TEST_F(ProgramRun, DependencyFileNameThatIsNoPlainFileNameEndsWith13InBothModes) {
  const Patch p = twe2e::Java8Update202x64();
  pc_->InstallJava(p);
  const std::vector<std::string> refused = {
      "..\\..\\x.zip", "a/x.zip", "C:x.zip", "x.zip\" -o\"C:\\somewhere",  // folders, drives, quotes
      "x*.zip", "x?.zip", "x<.zip", "x>.zip", "x|.zip",                   // wildcards and other reserved characters
      "x\x01.zip", "x\t.zip", ".", ".."};                               // control characters, dot names
  const std::string refusal =
      "Refusing the dependency file name given with -d: a plain file name is required (none of \\ / : \" * ? < > "
      "|, no control character, not . or ..)\n";

  for (Mode mode : {Mode::kOrdinary, Mode::kSoftwareDeployment}) {
    for (const std::string& name : refused) {
      SCOPED_TRACE(std::string(Name(mode)) + ": " + name);
      Forget();
      Patch hostile = p;
      hostile.dependencyFileName = name;

      const RunResult r = Run(StagingArguments(hostile, mode));

      EXPECT_EQ(r.exitCode, 13) << Log();
      EXPECT_TRUE(pc_->LogHas("[ERROR]", refusal)) << Log();
      EXPECT_EQ(InstallerRecord(), "");
      EXPECT_FALSE(twtest::FileExists(twe2e::NativeStagingFolder()));
    }
  }
  EXPECT_EQ(server_.RequestCount(), 0u);

  // An ordinary name still stages.
  Serve(p);
  PlaceRootArchive(p);
  for (Mode mode : {Mode::kOrdinary, Mode::kSoftwareDeployment}) {
    SCOPED_TRACE(Name(mode));
    Forget();
    const RunResult r = Run(StagingArguments(p, mode));
    EXPECT_EQ(r.exitCode, 0) << Log();
    EXPECT_EQ(twe2e::FilesBelow(twe2e::NativeStagingFolder()).size(), 4u) << Log();
  }
}

// ---- the agent under "Program Files (x86)", as it usually is ----

// The install folder has blanks, and is stored with and without its final
// backslash. A decoy "C:\Program.exe" is what an unquoted tool path would start.
class ProgramFilesInstall : public ProgramRun, public testing::WithParamInterface<const char*> {
 protected:
  std::string InstallDir() const override { return GetParam(); }
};

TEST_P(ProgramFilesInstall, StagesTheFilesWithoutStartingADecoy) {
  const std::string decoy = "C:\\Program.exe";
  struct DecoyCleanup {
    std::string path;
    ~DecoyCleanup() {
      DeleteFileA(path.c_str());
      DeleteFileA((path + ".ran").c_str());
    }
  } cleanup{decoy};
  ASSERT_TRUE(CopyFileA((twe2e::ExeFolder() + "\\tw_e2e_installer.exe").c_str(), decoy.c_str(), FALSE));
  const Patch p = twe2e::Java8Update202x64();
  pc_->InstallJava(p);
  Serve(p);

  const RunResult r = Run(p.Arguments());

  EXPECT_EQ(r.exitCode, 0) << Log();
  EXPECT_FALSE(twtest::FileExists(decoy + ".ran")) << twtest::ReadFile(decoy + ".ran");
  EXPECT_TRUE(SameFiles(twe2e::FilesBelow(twe2e::DataFile("tree\\oracle")),
                        twe2e::FilesBelow(twe2e::NativeStagingFolder())));
  // The log is in the install folder's logs folder, the tool in its bin folder.
  EXPECT_TRUE(pc_->LogHas("[INFO]", "extractCmd : " + ExtractCommand(p) + "  \n")) << Log();
  EXPECT_TRUE(pc_->LogEndsWithEnd()) << Log();
}

INSTANTIATE_TEST_SUITE_P(StoredFolder, ProgramFilesInstall,
                         testing::Values("C:\\Program Files (x86)\\TWAgent\\", "C:\\Program Files (x86)\\TWAgent"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param).back() == '\\' ? std::string("WithBackslash")
                                                                         : std::string("WithoutBackslash");
                         });

// ---- texts of the command line ----

// The command line arrives in the system code page; a product, version and
// file name with a letter outside ASCII reach the registry as that letter.
TEST_F(ProgramRun, CommandLineTextsOutsideAsciiKeepTheirLetters) {
  ASSERT_NE(GetACP(), static_cast<UINT>(CP_UTF8)) << "a UTF-8 system code page would prove nothing here";
  const wchar_t letter = L'\u00e9';
  char ansi[8] = {};
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, &letter, 1, ansi, sizeof ansi - 1, nullptr, nullptr), 1);
  const std::string utf8 = "\xC3\xA9";
  Patch p = twe2e::Java8Update202x64();
  p.dependencyFileName.clear();  // nothing to stage
  Patch onRegistry = p;          // the same texts as the registry shows them (UTF-8 here)
  p.productName += ansi;
  p.productVersion += ansi;
  p.javaFileName = std::string("jre-8u202-") + ansi + ".exe";
  onRegistry.productName += utf8;
  onRegistry.productVersion += utf8;
  onRegistry.javaFileName = "jre-8u202-" + utf8 + ".exe";
  pc_->InstallJava(onRegistry);

  const RunResult r = Run(p.Arguments());

  EXPECT_EQ(r.exitCode, 0) << Log();
  EXPECT_TRUE(pc_->DetectionKeyExists(onRegistry.productName)) << Log();
  EXPECT_EQ(pc_->RecordedValue("JREPath"), p.jreHome);
  EXPECT_EQ(pc_->RecordedValue("FileName"), onRegistry.javaFileName);
}

// ---- software deployment ----

TEST_F(ProgramRun, SoftwareDeploymentRunsTheInstallerThenRemovesObsoleteUpdates) {
  const Patch p = twe2e::Java8Update202x64();
  pc_->InstallJava(p);
  ASSERT_TRUE(pc_->InstallPackage(twe2e::kJava8_1910x64));
  ASSERT_TRUE(pc_->InstallPackage(twe2e::kJava8_2010x64));
  const std::vector<std::string> arguments = Arguments(p, Mode::kSoftwareDeployment);
  const std::string command = arguments[1];

  const RunResult r = Run(arguments);

  EXPECT_EQ(r.exitCode, 0) << Log();  // the installer's 3010 counts as success
  const std::string record = InstallerRecord();
  EXPECT_NE(record.find("command=" + command + "\r\n"), std::string::npos) << record;
  EXPECT_NE(record.find("folder=C:\\TWAgent\r\n"), std::string::npos) << record;  // the program's own
  EXPECT_FALSE(pc_->PackageInstalled(twe2e::kJava8_1910x64));
  EXPECT_TRUE(pc_->PackageInstalled(twe2e::kJava8_2010x64));
  EXPECT_FALSE(pc_->DetectionKeyExists(p.productName));  // software deployment leaves it alone
  EXPECT_EQ(server_.RequestCount(), 0u);
  EXPECT_FALSE(twtest::FileExists(twe2e::NativeStagingFolder()));

  const std::string log = Log();
  EXPECT_TRUE(pc_->LogHas("[INFO]", "called from software deployment"));
  EXPECT_TRUE(pc_->LogHas("[INFO]", "Cmd for installation : " + command + "  \n")) << log;
  EXPECT_TRUE(pc_->LogHas("[INFO]", "execute : Exit code for the application : 3010 \n"));
  EXPECT_TRUE(pc_->LogHas("[INFO]", "Returning from JavaPreInstaller with errorcode : 0\n"));
  // Obsolete updates go only after the installer, not before it.
  const size_t installerAt = log.find("Cmd for installation : ");
  const size_t removalAt = log.find("Keys to delete :");
  ASSERT_NE(removalAt, std::string::npos) << log;
  EXPECT_LT(installerAt, removalAt);
  EXPECT_EQ(log.find("Uninstalling obsolete updates.\n"), log.rfind("Uninstalling obsolete updates.\n"));
  EXPECT_TRUE(pc_->LogEndsWithEnd()) << log;
}

TEST_F(ProgramRun, SoftwareDeploymentKeepsOlderUpdatesWhenTheInstallerFails) {
  const Patch p = twe2e::Java8Update202x64();
  pc_->InstallJava(p);
  ASSERT_TRUE(pc_->InstallPackage(twe2e::kJava8_1910x64));
  Patch deployed = p;
  deployed.patchName = PlaceInstaller(p, "/s /exit=1603");
  deployed.dependencyFileName.clear();

  const RunResult r = Run(deployed.Arguments() + std::vector<std::string>{"-s", "1"});

  EXPECT_EQ(r.exitCode, 1603) << Log();
  EXPECT_NE(InstallerRecord(), "");
  EXPECT_TRUE(pc_->PackageInstalled(twe2e::kJava8_1910x64));
  EXPECT_FALSE(pc_->LogHas("[INFO]", "Uninstalling obsolete updates.\n"));
  EXPECT_TRUE(pc_->LogHas("[INFO]", "Returning from JavaPreInstaller with errorcode : 1603\n"));
}

// In software deployment the archive is taken from the root of the current
// drive and extracted into, and staged from, the current folder.
TEST_F(ProgramRun, SoftwareDeploymentStagesTheArchiveFromTheDriveRoot) {
  const Patch p = twe2e::Java8Update202x64();
  pc_->InstallJava(p);
  const std::string rootArchive = "C:\\" + p.dependencyFileName;
  ASSERT_TRUE(twtest::WriteFile(rootArchive, archive_));
  const std::string work = pc_->AgentDir() + "deploy";
  ASSERT_TRUE(CreateDirectoryA(work.c_str(), nullptr));
  Patch deployed = p;
  deployed.patchName = PlaceInstaller(p);

  const RunResult r = Run(deployed.Arguments() + std::vector<std::string>{"-s", "1"}, work);
  DeleteFileA(rootArchive.c_str());

  EXPECT_EQ(r.exitCode, 0) << Log();
  EXPECT_TRUE(SameFiles(twe2e::FilesBelow(twe2e::DataFile("tree\\oracle")),
                        twe2e::FilesBelow(twe2e::NativeStagingFolder())));
  EXPECT_EQ(twe2e::FilesBelow(work + "\\oracle").size(), 4u);
  EXPECT_NE(InstallerRecord().find("folder=" + work), std::string::npos);
  EXPECT_TRUE(pc_->LogHas("[INFO]", "sourceFile Directory : " + work + "\\oracle\n")) << Log();
  EXPECT_EQ(server_.RequestCount(), 0u);
}

// Software deployment usually runs in System32. A 32-bit archive tool starts
// with redirection on, so on 64-bit Windows it extracts into SysWOW64, except
// in the subfolders WOW64 leaves alone (spool); a 64-bit one extracts where
// the path says. Whichever build the agent carries, the copy reads where the
// tool wrote.
struct SystemFolderRun {
  const char* name;
  const char* tool;    // kArchiveToolX64 or kArchiveToolIa32
  const char* folder;  // the current folder, below System32 ("" for System32 itself)
  bool intoSysWow64;   // where the tool's relative writes land
};

void PrintTo(const SystemFolderRun& run, std::ostream* out) { *out << run.name; }

class SoftwareDeploymentInSystem32 : public ProgramRun, public testing::WithParamInterface<SystemFolderRun> {};

TEST_P(SoftwareDeploymentInSystem32, StagesWhatTheArchiveToolExtracted) {
  const Patch p = twe2e::Java8Update202x64();
  pc_->InstallJava(p);
  ASSERT_TRUE(pc_->UseArchiveTool(GetParam().tool));
  const std::string rootArchive = "C:\\" + p.dependencyFileName;
  ASSERT_TRUE(twtest::WriteFile(rootArchive, archive_));
  const std::string below = GetParam().folder;
  const std::string native = twe2e::NativeSystemFolder() + below + "\\oracle";
  const std::string wow64 = twe2e::WindowsFolder() + "\\SysWOW64" + below + "\\oracle";
  FolderCleanup extracted[] = {{native}, {wow64}};
  Patch deployed = p;
  deployed.patchName = PlaceInstaller(p);

  const RunResult r =
      Run(deployed.Arguments() + std::vector<std::string>{"-s", "1"}, twe2e::WindowsFolder() + "\\system32" + below);
  DeleteFileA(rootArchive.c_str());

  EXPECT_EQ(r.exitCode, 0) << Log();
  EXPECT_EQ(twe2e::FilesBelow(GetParam().intoSysWow64 ? wow64 : native).size(), 4u);
  EXPECT_TRUE(SameFiles(twe2e::FilesBelow(twe2e::DataFile("tree\\oracle")),
                        twe2e::FilesBelow(twe2e::NativeStagingFolder())))
      << Log();
  EXPECT_NE(InstallerRecord(), "");
}

INSTANTIATE_TEST_SUITE_P(
    ArchiveTool, SoftwareDeploymentInSystem32,
    testing::Values(SystemFolderRun{"Ia32", twe2e::kArchiveToolIa32, "", true},
                    SystemFolderRun{"X64", twe2e::kArchiveToolX64, "", false},
                    SystemFolderRun{"Ia32InSpool", twe2e::kArchiveToolIa32, "\\spool", false}),
    [](const testing::TestParamInfo<SystemFolderRun>& info) { return std::string(info.param.name); });

// ---- the program file ----

// ---- the resource ID from the server ----

// The agent's service, played by a test service that records every control
// code it receives; the program announces a new resource ID to it.
class AgentService {
 public:
  explicit AgentService(const std::string& record) : record_(record) {
    manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager_) return;
    // Appended piece by piece: the 32-bit compiler takes `"..." + std::string&&`
    // for an overlapping copy (a -Wrestrict false positive).
    std::string command = "\"";
    command += twe2e::ExeFolder();
    command += "\\tw_test_service.exe\" \"";
    command += record;
    command += "\"";
    service_ = CreateServiceA(manager_, kName, kName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                              SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, command.c_str(), nullptr, nullptr, nullptr,
                              nullptr, nullptr);
    if (service_ && StartServiceA(service_, 0, nullptr))
      running_ = twtest::WaitUntil([&] { return State() == SERVICE_RUNNING; }, 30000);
  }
  ~AgentService() {
    SERVICE_STATUS status{};
    if (service_ && ControlService(service_, SERVICE_CONTROL_STOP, &status))
      twtest::WaitUntil([&] { return State() == SERVICE_STOPPED; }, 30000);
    if (service_) {
      DeleteService(service_);
      CloseServiceHandle(service_);
    }
    if (manager_) CloseServiceHandle(manager_);
  }
  bool Running() const { return running_; }
  // The control codes received so far, one a line.
  std::string Received() const { return twtest::ReadFile(record_); }

  static constexpr const char* kName = "TWAgentService";  // the agent key's AgentServiceName

 private:
  DWORD State() const {
    SERVICE_STATUS status{};
    return QueryServiceStatus(service_, &status) ? status.dwCurrentState : 0;
  }
  std::string record_;
  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
  bool running_ = false;
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The text a summary line of the log shows after "-> " ("" when absent).
std::string SummaryValue(const std::string& log, const std::string& label) {
  const size_t at = log.find(label);
  if (at == std::string::npos) return "";
  const size_t start = log.find("-> ", at) + 3;
  return log.substr(start, log.find(" \n", start) - start);
}

class ResourceIdLookup : public ProgramRun {
 protected:
  void SetUp() override {
    ProgramRun::SetUp();
    pc_->Registry().DeleteValue(RegView::k32, twe2e::kSystemDetailsKey, "TWAgentResourceID");
    pc_->InstallJava(patch_);
    patch_.dependencyFileName.clear();  // nothing to stage: the run ends after the lookup with 0
  }
  std::optional<std::string> StoredId() const {
    return pc_->Registry().GetString(RegView::k32, twe2e::kSystemDetailsKey, "TWAgentResourceID");
  }
  std::vector<std::string> ResourceRequests() const {
    std::vector<std::string> paths;
    for (const auto& q : server_.Requests())
      if (q.path.find("/resources/") != std::string::npos) paths.push_back(q.path);
    return paths;
  }

  Patch patch_ = twe2e::Java8Update202x64();
};

TEST_F(ResourceIdLookup, MissingIdIsFetchedStoredShownAndAnnounced) {
  const std::string record = pc_->AgentDir() + "service-controls.txt";
  AgentService service(record);
  ASSERT_TRUE(service.Running());
  char host[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD hostLength = sizeof host;
  ASSERT_TRUE(GetComputerNameA(host, &hostLength));
  // Two IDs: the first row of the selection counts.
  server_.SetDefault(twtest::Response::Ok(
      "<AgentResource><AgentparamsList>"
      "<Agentparams PARAM_NAME=\"RESOURCE_ID\" param_Value=\"4711\"/>"
      "<Agentparams PARAM_NAME=\"OTHER\" param_Value=\"1\"/>"
      "<Agentparams PARAM_NAME=\"RESOURCE_ID\" param_Value=\"9999\"/>"
      "</AgentparamsList></AgentResource>"));

  // Without "LocalDomainName" the data path is asked for as it is; with one,
  // its namespace segment is the domain; all of it in lower case.
  for (const char* domain : {"", "Corp.Example"}) {
    SCOPED_TRACE(domain);
    Forget();
    server_.Reset();
    pc_->Registry().DeleteValue(RegView::k32, twe2e::kSystemDetailsKey, "TWAgentResourceID");
    if (*domain) pc_->Registry().SetString(RegView::k32, twe2e::kSystemDetailsKey, "LocalDomainName", domain);
    DeleteFileA(record.c_str());

    const RunResult r = Run(patch_.Arguments());

    EXPECT_EQ(r.exitCode, 0) << Log();
    const std::string dataPath = SummaryValue(Log(), "Tarnwick Server Data Path");
    ASSERT_EQ(dataPath.rfind("client-data/cust-7731/domains/", 0), 0u) << Log();
    const std::string expectedDataPath = *domain ? "client-data/cust-7731/domains/" + Lower(domain) : Lower(dataPath);
    EXPECT_EQ(ResourceRequests(),
              std::vector<std::string>{"/" + expectedDataPath + "/resources/" + Lower(host) + ".xml"});
    EXPECT_EQ(StoredId(), "4711");
    EXPECT_EQ(SummaryValue(Log(), "The Agent Machine Resource Id is given by"), "4711");
    EXPECT_TRUE(twtest::WaitUntil([&] { return service.Received() == "147\n"; }, 10000)) << service.Received();
  }

  // The next run finds the ID in the registry and asks for nothing.
  Forget();
  server_.Reset();
  const RunResult again = Run(patch_.Arguments());
  EXPECT_EQ(again.exitCode, 0) << Log();
  EXPECT_TRUE(ResourceRequests().empty());
  EXPECT_EQ(SummaryValue(Log(), "The Agent Machine Resource Id is given by"), "4711");
}

TEST_F(ResourceIdLookup, DocumentWithoutTheTableLeavesTheComputerWithoutAnId) {
  server_.SetDefault(twtest::Response::Ok("<AgentResource><OtherList/></AgentResource>"));

  const RunResult r = Run(patch_.Arguments());

  EXPECT_EQ(r.exitCode, 0) << Log();
  EXPECT_EQ(ResourceRequests().size(), 1u);
  EXPECT_TRUE(pc_->LogHas(
      "[ERROR]", "GetResourceIDFromServer :No rows found corresponding to the resource id in the resource id xml .\n"))
      << Log();
  EXPECT_FALSE(StoredId().has_value());
  EXPECT_TRUE(pc_->LogEndsWithEnd()) << Log();
}

TEST(ProgramImage, ManifestDeclaresNoSupportedOperatingSystems) {
  const std::string exe = twe2e::ExeFolder() + "\\twprereqhandler.exe";
  HMODULE image = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(image, nullptr) << GetLastError();
  HRSRC resource = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_NE(resource, nullptr) << GetLastError();
  HGLOBAL loaded = LoadResource(image, resource);
  ASSERT_NE(loaded, nullptr);
  const std::string manifest(static_cast<const char*>(LockResource(loaded)), SizeofResource(image, resource));
  FreeLibrary(image);

  EXPECT_NE(manifest.find("<assembly"), std::string::npos) << manifest;
  EXPECT_NE(manifest.find("asInvoker"), std::string::npos) << manifest;
  // Without supportedOS entries Windows reports its version as older programs
  // see it, which the operating-system naming relies on.
  EXPECT_EQ(manifest.find("supportedOS"), std::string::npos) << manifest;
  EXPECT_EQ(manifest.find("compatibility"), std::string::npos) << manifest;
}

// The DLL names in the import table of a PE file (lower case); empty when the
// file is not a readable PE image.
std::vector<std::string> ImportedDlls(const std::string& image) {
  std::vector<std::string> names;
  auto at = [&](size_t offset, size_t size) { return offset <= image.size() && size <= image.size() - offset; };
  if (!at(0, sizeof(IMAGE_DOS_HEADER))) return names;
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, image.data(), sizeof dos);
  const size_t ntAt = static_cast<size_t>(dos.e_lfanew);
  if (dos.e_magic != IMAGE_DOS_SIGNATURE || !at(ntAt, sizeof(IMAGE_NT_HEADERS64))) return names;
  // PE32+ (the 64-bit build) or PE32 (the 32-bit build): the same up to the
  // optional header, whose data directories sit at different offsets.
  IMAGE_NT_HEADERS64 nt64;
  IMAGE_NT_HEADERS32 nt32;
  std::memcpy(&nt64, image.data() + ntAt, sizeof nt64);
  std::memcpy(&nt32, image.data() + ntAt, sizeof nt32);
  if (nt64.Signature != IMAGE_NT_SIGNATURE) return names;
  DWORD importRva = 0;
  if (nt64.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
    importRva = nt64.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  else if (nt32.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
    importRva = nt32.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  else
    return names;
  const size_t sectionsAt =
      ntAt + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + nt64.FileHeader.SizeOfOptionalHeader;
  std::vector<IMAGE_SECTION_HEADER> sections(nt64.FileHeader.NumberOfSections);
  if (!at(sectionsAt, sections.size() * sizeof(IMAGE_SECTION_HEADER))) return names;
  std::memcpy(sections.data(), image.data() + sectionsAt, sections.size() * sizeof(IMAGE_SECTION_HEADER));
  auto fileOffset = [&](DWORD rva) -> size_t {
    for (const auto& s : sections)
      if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData)
        return rva - s.VirtualAddress + s.PointerToRawData;
    return image.size();
  };
  for (size_t entry = fileOffset(importRva); at(entry, sizeof(IMAGE_IMPORT_DESCRIPTOR));
       entry += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    IMAGE_IMPORT_DESCRIPTOR d;
    std::memcpy(&d, image.data() + entry, sizeof d);
    if (d.Name == 0) break;
    const size_t nameAt = fileOffset(d.Name);
    if (!at(nameAt, 1)) break;
    std::string name(image.c_str() + nameAt);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    names.push_back(name);
  }
  return names;
}

// The agent starts the program on any Windows computer: it must need nothing
// but the system's own libraries (the runtime and zlib are linked in).
TEST(ProgramImage, ImportsOnlyWindowsSystemLibraries) {
  const std::string image = twtest::ReadFile(twe2e::ExeFolder() + "\\twprereqhandler.exe");
  const std::vector<std::string> dlls = ImportedDlls(image);
  ASSERT_FALSE(dlls.empty());
  const std::set<std::string> system = {
      "advapi32.dll", "bcrypt.dll",   "comctl32.dll", "crypt32.dll",  "gdi32.dll",    "iphlpapi.dll",
      "kernel32.dll", "msvcrt.dll",   "netapi32.dll", "ntdll.dll",    "odbc32.dll",   "odbccp32.dll",
      "ole32.dll",    "oleaut32.dll", "psapi.dll",    "rpcrt4.dll",   "secur32.dll",  "shell32.dll",
      "shlwapi.dll",  "user32.dll",   "userenv.dll",  "version.dll",  "winhttp.dll",  "ws2_32.dll"};
  for (const std::string& dll : dlls) EXPECT_TRUE(system.count(dll)) << dll << " is not part of Windows";
}

// WinHTTP, COM and the shell bring the window system with them, whose start
// costs more than a whole run that ends early: they are loaded on first use
// (the end-to-end runs above exercise each of them), never at start.
TEST(ProgramImage, LoadsTransferComAndShellOnFirstUse) {
  const std::string image = twtest::ReadFile(twe2e::ExeFolder() + "\\twprereqhandler.exe");
  const std::vector<std::string> dlls = ImportedDlls(image);
  ASSERT_FALSE(dlls.empty());
  for (const char* late : {"winhttp.dll", "ole32.dll", "oleaut32.dll", "shell32.dll", "user32.dll", "gdi32.dll"})
    EXPECT_EQ(std::count(dlls.begin(), dlls.end(), late), 0) << late << " is loaded at start";
}

}  // namespace
