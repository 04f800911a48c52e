// Notification of the agent's Windows service (see servicemsg.h).
#include "agent/util/servicemsg.h"

#include <windows.h>

#include <string>

#include "agent/config/settings.h"
#include "agent/log/logger.h"
#include "agent/util/textconv.h"

namespace {
// Closes a Service Control Manager or service handle when it goes out of scope.
class ServiceHandle {
 public:
  explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
  ~ServiceHandle() {
    if (handle_) CloseServiceHandle(handle_);
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  SC_HANDLE get() const { return handle_; }

 private:
  SC_HANDLE handle_;
};
}  // namespace

int SendServiceMsg(uint32_t control, const wchar_t* serviceName) {
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager.get()) {
    LogError("SendServiceMsg : Failed to open Service Control Manager\n");
    return 0;
  }
  ServiceHandle service(serviceName ? OpenServiceW(manager.get(), serviceName, SERVICE_USER_DEFINED_CONTROL)
                                    : nullptr);
  if (!service.get()) {
    LogError("SendServiceMsg : Failed to open the Service\n");
    return 0;
  }
  LogInfo("SendServiceMsg : Service %ls Opened successfully\n", serviceName);
  SERVICE_STATUS status{};
  if (!ControlService(service.get(), control, &status)) {
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
