// Notification of the agent's Windows service: a user-defined control code sent
// through the Service Control Manager (147 after a new resource ID is stored).
#pragma once
#include <cstdint>

// 1 when the service accepted the control code, else 0 (logged).
int SendServiceMsg(uint32_t control, const wchar_t* serviceName);
// SendServiceMsg to the service named by gv_agentServiceName.
int NotifyAgentService(uint32_t control);
