// Run flow of the prerequisite handler (see runflow.h). Exit codes: 0, 13,
// 10047, 20001, -1, or the staging / installer result.
#include "handler/runflow.h"

#include <windows.h>

#include <string>

#include "agent/config/agentconfig.h"
#include "agent/config/settings.h"
#include "agent/log/agentlog.h"
#include "agent/log/logger.h"
#include "agent/os/osinfo.h"
#include "agent/registry/registry.h"
#include "handler/javadiscovery.h"
#include "handler/options.h"
#include "handler/processes.h"
#include "handler/staging.h"
#include "handler/uninstall.h"

namespace {

// Steps after the configuration is loaded; the exit code.
int32_t Prepare() {
  const RunOptions& o = g_runOptions;
  if (!o.calledFromSoftwareDeployment && o.javaLatestInstalledVersion && o.javaArchitecture) {
    LogInfo("Uninstalling obsolete updates.\n");
    uninstallObsoleteUpdates();
  }
  if (o.clearDetection != 0 && !o.calledFromSoftwareDeployment) {
    ClearDetectionKey();
    return 0;
  }
  LogInfo("checking for any java process running\n");
  if (isJava8Update()) {
    LogInfo("Java 8 installation \n");
  } else if (isJavaInUse()) {
    LogError("Java prechecker failed\n");
    return 20001;
  }
  if (!o.patchName) return 13;
  if (*o.patchName == "jqs.exe") return 0;
  CreateDetectionKey();
  const OptText osName = GetOSServicePackName();
  const char* name = osName ? osName->c_str() : nullptr;
  LogInfo("SP Name : %s and gv_IsWow64 : %d \n", name, gv_IsWow64);
  const bool excluded = osName && (osName->find("Windows XP x64 Edition") != std::string::npos ||
                                   osName->find("Windows Server 2003 x64 Edition") != std::string::npos);
  if (excluded || (!gv_IsWow64 && !o.calledFromSoftwareDeployment)) {
    LogInfo("Os Name : %s\n", name);
    LogError("Returning without performing the Java Pre Install task\n");
    return 0;
  }
  return JavaPreInstaller();
}

}  // namespace

int32_t RunPrerequisiteHandler(int argc, const char* const* argv) {
  int32_t exitCode = 13;
  if (LoadAgentInstallDir() == 0) {
    OpenAgentLog("twprereqhandler.log");
    parseCommandLine(argc, argv);
    LogDebug("version : 1.5\n");
    LogInfo("Checking the prerequisites to install jave update...\n");
    RecordJavaInstallPaths();
    if (KillProcesses("jqs.exe")) LogInfo("Successfully removed the jqs.exe\n");
    exitCode = InitializeAgentParameters();
    if (exitCode != 0)
      LogError("Tarnwick Agent info is not available in this machine.\n");
    else
      exitCode = Prepare();
  }
  LogInfo("End\n");
  CloseAgentLog();
  return exitCode;
}
