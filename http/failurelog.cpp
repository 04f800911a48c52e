// The error-log line and the "VTTracking" failure counters of the downloads
// (see failurelog.h).
#include "http/failurelog.h"

#include <windows.h>

#include "agent/config/settings.h"
#include "agent/log/logger.h"
#include "agent/registry/registry.h"
#include "agent/util/timeutil.h"

void AppendToAgentErrorLog(const std::string& line) {
  if (!gv_agentInstallDir || gv_agentInstallDir->empty()) return;
  const std::string path = *gv_agentInstallDir + "logs\\twerror.log";
  AppendTextToFile(path.c_str(), "%s\n%s", LongDateTime().c_str(), line.c_str());
}

uint32_t IncrementVTTrackingCounter(const char* detailsKey, const char* valueName) {
  const std::string tracking = std::string(kAgentKeyPath) + "\\VTTracking";
  const std::string key = tracking + "\\" + detailsKey;
  DWORD count = 0;
  if (ReadDwordRegistryData(HKEY_LOCAL_MACHINE, key.c_str(), valueName, count) != 0) count = 0;
  ++count;
  writeValue(HKEY_LOCAL_MACHINE, key.c_str(), valueName, std::to_string(count).c_str(), REG_DWORD);
  writeValue(HKEY_LOCAL_MACHINE, tracking.c_str(), "LastVTDataModifiedTime", std::to_string(GetTimeInSeconds()).c_str(),
             REG_DWORD);
  return count;
}
