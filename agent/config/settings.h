// The agent's process-wide configuration, loaded once from the registry and
// afterwards read by every layer; the one later writer is request routing,
// which records the last server address that answered (gv_lastAccessName and
// its distribution-server twin). Absent texts are empty optionals; empty texts
// are "".
#pragma once
#include <cstdint>
#include <optional>
#include <string>

using OptText = std::optional<std::string>;

extern int32_t gv_IsWow64;
extern std::string gv_tempPath;

extern OptText gv_serverName;
extern OptText gv_serverFlatName;
extern OptText gv_serverIPAddress;
extern OptText gv_serverSecIPAddress;
extern OptText gv_lastAccessName;
extern OptText gv_serverProtocol;
extern int32_t gv_serverPort;

extern OptText gv_dsEnabled;
extern OptText gv_dsName;
extern OptText gv_dsFlatName;
extern OptText gv_dsLastAccessName;
extern OptText gv_dsIPAddress;
extern OptText gv_dsSecIPAddress;
extern OptText gv_dsProtocol;
extern int32_t gv_dsPort;

extern OptText gv_proxyEnabled;
extern OptText gv_proxyServerName;
extern OptText gv_proxyUserName;
extern OptText gv_proxyPassword;
extern OptText gv_proxyByPass;

extern OptText gv_agentVersion;
extern OptText gv_agentServiceName;
extern OptText gv_mspName;
extern OptText gv_customerName;
extern OptText gv_customerId;
extern OptText gv_twProductCode;
extern OptText gv_agentInstallDir;
extern OptText gv_remoteOfficeName;
extern OptText gv_remoteOfficeId;

extern int32_t gv_httpRequestTimeout;
extern int32_t gv_httpConnectionTimeout;
extern int32_t gv_dataTransferRateKBps;
extern OptText gv_installSource;
extern OptText gv_installMode;
extern int32_t gv_enableDSRoute;
extern int32_t gv_checksumEnabled;

extern OptText gv_clientDataPath;
extern OptText gv_resourceId;
extern OptText gv_localComputerName;
extern OptText gv_clientNamespace;
extern OptText gv_ipAddress;
extern OptText gv_macAddress;
extern OptText gv_subnetMask;
extern OptText gv_domainController;

// Puts every setting back to its value before loading (tests load repeatedly).
void ResetAgentSettings();
