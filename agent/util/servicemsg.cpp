// Notification of the agent's Windows service (see servicemsg.h).
#include "agent/util/servicemsg.h"

#include <windows.h>

#include <string>

#include "agent/config/settings.h"
#include "agent/log/logger.h"
#include "agent/util/scopedhandle.h"
#include "agent/util/textconv.h"

int SendServiceMsg(uint32_t control, const wchar_t* serviceName) {
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    LogError("SendServiceMsg : Failed to open Service Control Manager\n");
    return 0;
  }
  ServiceHandle service(serviceName ? OpenServiceW(manager.Get(), serviceName, SERVICE_USER_DEFINED_CONTROL)
                                    : nullptr);
  if (!service) {
    LogError("SendServiceMsg : Failed to open the Service\n");
    return 0;
  }
  LogInfo("SendServiceMsg : Service %ls Opened successfully\n", serviceName);
  SERVICE_STATUS status{};
  if (!ControlService(service.Get(), control, &status)) {
    LogError("SendServiceMsg : Notification failed %d \n", static_cast<int>(GetLastError()));
    return 0;
  }
  LogInfo("SendServiceMsg : Notification is succeeded\n");
  return 1;
}

int NotifyAgentService(uint32_t control) {
  std::wstring name;
  const char* agentService = gv_agentServiceName ? gv_agentServiceName->c_str() : nullptr;
  if (!ChangeToWideStr(agentService, name)) return SendServiceMsg(control, nullptr);
  return SendServiceMsg(control, name.c_str());
}
