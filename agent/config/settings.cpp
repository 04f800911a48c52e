// Storage of the process-wide settings and their values before loading.
#include "agent/config/settings.h"

int32_t gv_IsWow64;
std::string gv_tempPath;
OptText gv_serverName, gv_serverFlatName, gv_serverIPAddress, gv_serverSecIPAddress, gv_lastAccessName,
    gv_serverProtocol;
int32_t gv_serverPort;
OptText gv_dsEnabled, gv_dsName, gv_dsFlatName, gv_dsLastAccessName, gv_dsIPAddress, gv_dsSecIPAddress,
    gv_dsProtocol;
int32_t gv_dsPort;
OptText gv_proxyEnabled, gv_proxyServerName, gv_proxyUserName, gv_proxyPassword, gv_proxyByPass;
OptText gv_agentVersion, gv_agentServiceName, gv_mspName, gv_customerName, gv_customerId, gv_twProductCode,
    gv_agentInstallDir, gv_remoteOfficeName, gv_remoteOfficeId;
int32_t gv_httpRequestTimeout, gv_httpConnectionTimeout, gv_dataTransferRateKBps;
OptText gv_installSource, gv_installMode;
int32_t gv_enableDSRoute, gv_checksumEnabled;
OptText gv_clientDataPath, gv_resourceId, gv_localComputerName, gv_clientNamespace, gv_ipAddress, gv_macAddress,
    gv_subnetMask, gv_domainController;

namespace {
struct InitialValues {
  InitialValues() { ResetAgentSettings(); }
} g_initialValues;
}  // namespace

void ResetAgentSettings() {
  gv_IsWow64 = 0;
  gv_tempPath.clear();
  for (OptText* t : {&gv_serverName, &gv_serverFlatName, &gv_serverIPAddress, &gv_serverSecIPAddress,
                     &gv_lastAccessName, &gv_serverProtocol, &gv_dsEnabled, &gv_dsName, &gv_dsFlatName,
                     &gv_dsLastAccessName, &gv_dsIPAddress, &gv_dsSecIPAddress, &gv_dsProtocol, &gv_proxyEnabled,
                     &gv_proxyServerName, &gv_proxyUserName, &gv_proxyPassword, &gv_proxyByPass, &gv_agentVersion,
                     &gv_agentServiceName, &gv_mspName, &gv_customerName, &gv_customerId, &gv_agentInstallDir,
                     &gv_remoteOfficeName, &gv_remoteOfficeId, &gv_installSource, &gv_installMode,
                     &gv_clientDataPath, &gv_resourceId, &gv_localComputerName, &gv_clientNamespace,
                     &gv_ipAddress, &gv_macAddress, &gv_subnetMask, &gv_domainController})
    t->reset();
  gv_twProductCode = "TWEE";
  gv_serverPort = 0;
  gv_dsPort = 0;
  gv_httpRequestTimeout = 60000;
  gv_httpConnectionTimeout = 30000;
  gv_dataTransferRateKBps = 0;
  gv_enableDSRoute = 0;
  gv_checksumEnabled = 1;
}
