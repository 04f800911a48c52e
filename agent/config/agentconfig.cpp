// Agent configuration loader (see agentconfig.h). Reads the agent key and its
// ServerInfo subkey in the agent's registry view once, applies the defaults,
// writes back the corrected values and logs the resulting summary.
#include "agent/config/agentconfig.h"

#include <windows.h>
#include <wincrypt.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "agent/config/machineid.h"
#include "agent/log/logger.h"
#include "agent/registry/registry.h"
#include "agent/util/scopedhandle.h"
#include "agent/util/textconv.h"
#include "agent/util/wow64.h"
#include "http/resourceid.h"

namespace {

bool EqualsNoCase(const OptText& text, const char* word) {
  return text && _stricmp(text->c_str(), word) == 0;
}

const char* TextOrNull(const OptText& t) { return t ? t->c_str() : nullptr; }

// Reads one text value; `out` is left as it was when the value is missing.
int32_t ReadText(const char* keyPath, const char* name, OptText& out) {
  OptText value;
  int32_t rc = ReadRegSZ(HKEY_LOCAL_MACHINE, keyPath, name, value);
  if (rc == 0 && value) out = std::move(value);
  return rc;
}

// The runtime's text-to-integer conversion: leading blanks, a sign, digits up
// to the first other character; no digits gives 0.
long TextToLong(const std::string& text) {
  errno = 0;
  long long v = strtoll(text.c_str(), nullptr, 10);
  if (v > LONG_MAX) return LONG_MAX;
  if (v < LONG_MIN) return LONG_MIN;
  return static_cast<long>(v);
}

int32_t TextToInt(const std::string& text) { return static_cast<int32_t>(TextToLong(text)); }

void ProtocolOrHttp(OptText& protocol) {
  if (!protocol || protocol->size() < 4) protocol = "http";
}

// A ported value: the plain port when the protocol is "http", else the secure
// one (which defaults to the plain port + 363).
int32_t ChoosePort(const OptText& protocol, int32_t plain, const OptText& secureText) {
  if (EqualsNoCase(protocol, "http")) return plain;
  return secureText ? TextToInt(*secureText) : plain + 363;
}

// What the log shows of a password: never the password, nor its stored
// Base64 form (anyone can decode it), only whether there is one.
const char* Masked(const OptText& password) { return password && !password->empty() ? "********" : ""; }

void ReadProxyDetails() {
  if (EnsureCryptoKeys())
    LogDebug("Cryptographic client Ok\r\n");
  else
    LogDebug("Cryptographic client error\r\n");
  gv_proxyUserName = "";
  ReadText(kAgentKeyPath, "ProxyUserName", gv_proxyUserName);
  OptText stored;
  ReadText(kAgentKeyPath, "ProxyPassword", stored);
  LogDebug("Password from registry: %s\n", Masked(stored));
  ReadText(kAgentKeyPath, "ProxyServerName", gv_proxyServerName);
  gv_proxyByPass = "<local>";
  ReadText(kAgentKeyPath, "ProxyByPass", gv_proxyByPass);
  LogDebug("Encrypted password is: %s\n", Masked(stored));
  std::string password;
  DecodeBase64(TextOrNull(stored), password);
  gv_proxyPassword = password;
  LogDebug("Decrypted password is: %s\n", Masked(gv_proxyPassword));
  LogInfo("*********************************************************** \n");
  LogInfo("Proxy Server Name -> %s \n", TextOrNull(gv_proxyServerName));
  LogInfo("Proxy UserName    -> %s \n", TextOrNull(gv_proxyUserName));
  LogInfo("Proxy ByPass List -> %s \n", TextOrNull(gv_proxyByPass));
  LogInfo("*********************************************************** \n");
}

void ReadTransferRate() {
  OptText text;
  int32_t rc = ReadText(kAgentKeyPath, "DataTransferRate_KBps", text);
  bool writeBack = true;
  gv_dataTransferRateKBps = 0;
  if (rc == 0 && text && !text->empty()) {
    unsigned long rate = static_cast<unsigned long>(TextToLong(*text));
    if (rate <= 3072) {
      gv_dataTransferRateKBps = static_cast<int32_t>(rate);
      writeBack = false;
    }
  }
  if (writeBack) {
    char zero[16];
    snprintf(zero, sizeof zero, "%u", 0u);
    writeValue(HKEY_LOCAL_MACHINE, kAgentKeyPath, "DataTransferRate_KBps", zero, REG_SZ);
  }
}

void ReadEnableDSRoute() {
  OptText text;
  int32_t rc = ReadText(kAgentKeyPath, "EnableDSRoute", text);
  gv_enableDSRoute = 0;
  if (rc == 0) {
    if (text && !text->empty()) gv_enableDSRoute = EqualsNoCase(text, "yes") ? 1 : 0;
  } else {
    rc = writeValue(HKEY_LOCAL_MACHINE, kAgentKeyPath, "EnableDSRoute", "no", REG_SZ);
  }
  if (rc != 0) LogError("InitializeAgentDetails : Error while fetching GetEnableDSRoute from registry! \n");
}

DWORD ReadDwordOr(const char* name, DWORD fallback) {
  DWORD value = fallback;
  if (ReadDwordRegistryData(HKEY_LOCAL_MACHINE, kAgentKeyPath, name, value) != 0) value = fallback;
  return value;
}

void BuildClientDataPath() {
  std::string customer = gv_customerId.value_or("");
  for (char& c : customer) {
    // ASCII letters only: lowering other bytes one by one would corrupt UTF-8.
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  std::string ns = gv_clientNamespace ? ToLowerUtf8(gv_clientNamespace->c_str()) : std::string();
  gv_clientDataPath = "client-data/" + customer + "/domains/" + ns;
}

void LogSummary() {
  const char* stars = "****************************************************************** \n";
  LogInfo("%s", stars);
  LogInfo("Tarnwick Server Name                -> %s \n", TextOrNull(gv_serverName));
  LogInfo("Tarnwick Server Flat Name           -> %s \n", TextOrNull(gv_serverFlatName));
  LogInfo("Tarnwick Server IPAddress           -> %s \n", TextOrNull(gv_serverIPAddress));
  LogInfo("Tarnwick Server Secondary IPAddress -> %s \n", TextOrNull(gv_serverSecIPAddress));
  LogInfo("Tarnwick Last Access Name           -> %s \n", TextOrNull(gv_lastAccessName));
  LogInfo("Tarnwick Server Port                -> %d \n", gv_serverPort);
  LogInfo("Tarnwick Server Protocol            -> %s \n", TextOrNull(gv_serverProtocol));
  LogInfo("Tarnwick Agent Version              -> %s \n", TextOrNull(gv_agentVersion));
  LogInfo("Tarnwick Agent InstallDir           -> %s \n", TextOrNull(gv_agentInstallDir));
  LogInfo("Tarnwick Client Namespace           -> %s \n", TextOrNull(gv_clientNamespace));
  LogInfo("Tarnwick Server Data Path           -> %s \n", TextOrNull(gv_clientDataPath));
  LogInfo("Tarnwick MSP Name\t           -> %s \n", TextOrNull(gv_mspName));
  LogInfo("Tarnwick Customer Name\t           -> %s \n", TextOrNull(gv_customerName));
  LogInfo("Tarnwick Customer Id\t\t   -> %s \n", TextOrNull(gv_customerId));
  LogInfo("Tarnwick Product Code               -> %s \n", TextOrNull(gv_twProductCode));
  LogInfo("Local Computer Name                       -> %s \n", TextOrNull(gv_localComputerName));
  LogInfo("Local Computer IP Address                 -> %s \n", TextOrNull(gv_ipAddress));
  LogInfo("Local Computer MAC Address                -> %s \n", TextOrNull(gv_macAddress));
  LogInfo("Local Computer Subnet Mask                -> %s \n", TextOrNull(gv_subnetMask));
  LogInfo("TW Distribution Server Enabled            -> %s \n", TextOrNull(gv_dsEnabled));
  LogInfo("The remote office name is                 -> %s \n", TextOrNull(gv_remoteOfficeName));
  LogInfo("Tarnwick Agent HTTP Request Timeout -> %d \n", gv_httpRequestTimeout);
  LogInfo("Local Computer Domain controller          -> %s \n", TextOrNull(gv_domainController));
  LogInfo("The Agent Machine Resource Id is given by -> %s \n", TextOrNull(gv_resourceId));
  LogInfo("Agent Checksum Enabled\t\t               -> %d \n", gv_checksumEnabled);
  LogInfo("Agent Data Transfer Rate in KBps\t\t   -> %d \n", gv_dataTransferRateKBps);
  LogInfo("Agent Installation Source\t\t\t\t   -> %s \n", TextOrNull(gv_installSource));
  LogInfo("Agent Installation Mode\t\t\t\t   -> %s (2-> silent, 5->Manual) \n", TextOrNull(gv_installMode));
  LogInfo("%s", stars);
}

void LogDistributionSummary() {
  LogInfo("TW Distribution Server  Name      \t\t\t-> %s \n", TextOrNull(gv_dsName));
  LogInfo("TW Distribution Server  IPAddress \t\t\t-> %s \n", TextOrNull(gv_dsIPAddress));
  LogInfo("TW Distribution Server  Sec IPAddress         \t\t-> %s \n", TextOrNull(gv_dsSecIPAddress));
  LogInfo("TW Distribution Server  Port      \t\t\t-> %d \n", gv_dsPort);
  LogInfo("TW Distribution Server  Last Access Name\t\t-> %s \n", TextOrNull(gv_dsLastAccessName));
  LogInfo("TW Distribution Server  Protocol  \t\t\t-> %s \n", TextOrNull(gv_dsProtocol));
  LogInfo("Remote Office ID                          -> %s \n", TextOrNull(gv_remoteOfficeId));
  LogInfo("****************************************************************** \n");
}

// Requests then go to the distribution server: it takes the main server's place.
void RouteThroughDistributionServer() {
  gv_serverName = gv_dsName;
  gv_serverFlatName = gv_dsName;
  gv_serverIPAddress = gv_dsIPAddress;
  gv_serverSecIPAddress = gv_dsSecIPAddress;
  gv_lastAccessName = gv_dsLastAccessName;
  gv_proxyEnabled = "NO";
}

}  // namespace

int32_t InitializeServerDetailsFromRegistry() {
  const char* key = kServerInfoKeyPath;
  if (ReadText(key, "TWServerName", gv_serverName) != 0) {
    LogError("InitializeServerDetailsFromRegistry : Error while fetching server name from registry! \n");
    return 13;
  }
  OptText installedTime;
  if (ReadText(key, "TWServerInstalledTime", installedTime) != 0)
    LogError("InitializeServerDetailsFromRegistry : Error while fetching server installed time from registry! \n");
  if (ReadText(key, "TWServerFlatName", gv_serverFlatName) != 0)
    LogError("InitializeServerDetailsFromRegistry : Error while fetching server name from registry! \n");
  if (ReadText(key, "TWServerIPAddress", gv_serverIPAddress) != 0)
    LogError("InitializeServerDetailsFromRegistry : Error while fetching server ipaddress from registry! \n");
  if (ReadText(key, "TWServerSecIPAddress", gv_serverSecIPAddress) != 0)
    LogError(
        "InitializeServerDetailsFromRegistry : Error while fetching server Secondary ipaddress from registry! \n");
  if (gv_serverSecIPAddress && gv_serverSecIPAddress->size() <= 2) gv_serverSecIPAddress.reset();
  if (ReadText(key, "TWLastAccessName", gv_lastAccessName) != 0)
    LogError("InitializeServerDetailsFromRegistry : Error while fetching server name from registry! \n");
  OptText port, securePort;
  if (ReadText(key, "TWServerPort", port) != 0) {
    LogError("InitializeServerDetailsFromRegistry : Error while fetching server port from registry! \n");
    return 13;
  }
  ReadText(key, "TWServerSecurePort", securePort);
  ReadText(key, "TWServerProtocol", gv_serverProtocol);
  ProtocolOrHttp(gv_serverProtocol);
  gv_serverPort = ChoosePort(gv_serverProtocol, TextToInt(*port), securePort);
  return 0;
}

int32_t InitializeDSServerDetailsFromRegistry() {
  const char* key = kServerInfoKeyPath;
  LogDebug("InitializeDSServerDetailsFromRegistry : Reading reporting server regsirty entries\n");
  if (ReadText(key, "DistributionServerName", gv_dsName) != 0) {
    LogError("InitializeDSServerDetailsFromRegistry : Error while fetching Reporting server name from registry! \n");
    return 13;
  }
  if (ReadText(key, "DistributionServerFlatName", gv_dsFlatName) != 0)
    LogError(
        "InitializeDSServerDetailsFromRegistry : Error while fetching Reporting server flat name from registry! \n");
  if (ReadText(key, "DistributionLastAccessName", gv_dsLastAccessName) != 0)
    LogError(
        "InitializeDSServerDetailsFromRegistry : Error while fetching Reporting server last access name from "
        "registry! \n");
  OptText port, securePort;
  if (ReadText(key, "DistributionServerPort", port) != 0) {
    LogError("InitializeDSServerDetailsFromRegistry : Error while fetching Reporting server port from registry! \n");
    return 13;
  }
  ReadText(key, "DistributionServerSecurePort", securePort);
  if (ReadText(key, "DistributionServerIPAddress", gv_dsIPAddress) != 0)
    LogError(
        "InitializeDSServerDetailsFromRegistry : Error while fetching Reporting server ipaddress from registry! \n");
  if (ReadText(key, "DistributionServerSecIPAddress", gv_dsSecIPAddress) != 0)
    LogError(
        "InitializeDSServerDetailsFromRegistry : Error while fetching Reporting secondary server ipaddress from "
        "registry! \n");
  if (gv_dsSecIPAddress && gv_dsSecIPAddress->size() <= 3) gv_dsSecIPAddress.reset();
  writeValue(HKEY_LOCAL_MACHINE, key, "DistributionServerProtocol", TextOrNull(gv_serverProtocol), REG_SZ);
  gv_dsProtocol.reset();
  ReadText(key, "DistributionServerProtocol", gv_dsProtocol);
  ProtocolOrHttp(gv_dsProtocol);
  gv_dsPort = ChoosePort(gv_dsProtocol, TextToInt(*port), securePort);
  return 0;
}

int32_t GetCustomerId(OptText& out) {
  OptText id;
  if (ReadText(kAgentKeyPath, "CustomerId", id) != 0 || !id || id->empty()) {
    LogError("GetCustomerId: error while retrieving customerid\n");
    return 13;
  }
  out = std::move(id);
  return 0;
}

int32_t InitializeAgentDetails() {
  const char* key = kAgentKeyPath;
  if (ReadText(key, "TWAgentVersion", gv_agentVersion) != 0) return 13;
  if (ReadText(key, "AgentServiceName", gv_agentServiceName) != 0) {
    LogError("InitializeAgentDetails : Error while fetching agent service name from registry! \n");
    return 13;
  }
  if (ReadText(key, "MSPName", gv_mspName) != 0) {
    LogError("InitializeAgentDetails : Error while fetching msp name from registry! \n");
    return 13;
  }
  if (ReadText(key, "CustomerName", gv_customerName) != 0) {
    LogError("InitializeAgentDetails : Error while fetching customer name from registry! \n");
    return 13;
  }
  if (GetCustomerId(gv_customerId) != 0) {
    LogError("InitializeAgentDetails : Error while fetching customer Id from registry! \n");
    return 13;
  }
  if (ReadText(key, "TWProductCode", gv_twProductCode) != 0) {
    LogError("InitializeAgentDetails : Error while fetching product Code from registry! \n");
    return 13;
  }
  if (ReadAgentInstallDir(gv_agentInstallDir) != 0) return 13;

  if (ReadText(key, "RemoteOfficeName", gv_remoteOfficeName) != 0)
    LogError("InitializeAgentDetails : Error while fetching branch office Name from registry! \n");
  if (ReadText(key, "RemoteOfficeID", gv_remoteOfficeId) != 0)
    LogError("InitializeAgentDetails : Error while fetching branch office ID from registry! \n");

  gv_httpRequestTimeout = static_cast<int32_t>(ReadDwordOr("HTTPRequestTimeout", 60000));
  gv_httpConnectionTimeout = static_cast<int32_t>(ReadDwordOr("HTTPConnectionTimeout", 30000));

  ReadTransferRate();

  if (ReadText(key, "InstallSource", gv_installSource) != 0)
    LogError("InitializeAgentDetails : Error while fetching Install source from registry! \n");
  ReadText(key, "InstallMode", gv_installMode);

  ReadEnableDSRoute();

  LogDebug("InitializeAgentDetails : Some configuration is crashed (if value is one) : %d \n",
           static_cast<int>(ReadDwordOr("BlockCrashedConfig", 0)));
  LogInfo("InitializeAgentDetails : BlockedShutdown value : %d \n", static_cast<int>(ReadDwordOr("ShutdownBlocked", 0)));

  BuildClientDataPath();

  OptText resourceId;
  if (GetResourceID(resourceId) == 0) gv_resourceId = std::move(resourceId);

  OptText checksum;
  if (ReadText(key, "EnableChecksum", checksum) != 0)
    gv_checksumEnabled = 1;
  else
    gv_checksumEnabled = EqualsNoCase(checksum, "yes") ? 1 : 0;
  return 0;
}

int32_t InitializeAgentParameters() {
  LogDebug("@@@@@@@ Inside InitializeAgentParameters Method @@@@@@@@ \n");
  // Every key of the load is opened once and read through until it ends.
  RegistryReadKeys keptKeys;
  gv_IsWow64 = IsRunningOn64BitWindows() ? 1 : 0;

  char temp[255] = {};
  DWORD n = GetEnvironmentVariableA("TEMP", temp, 254);
  gv_tempPath = (n > 0 && n < 254) ? std::string(temp, n) : std::string();

  if (InitializeServerDetailsFromRegistry() != 0) {
    LogError("InitializeAgentParameters : Error while fetching Server details from registry! \n");
    return 13;
  }
  if (ReadText(kAgentKeyPath, "EnableDistributionServer", gv_dsEnabled) != 0) {
    LogError("InitializeAgentParameters : Error while fetching Master Agent entry from registry! \n");
    return 13;
  }
  if (!EqualsNoCase(gv_dsEnabled, "yes")) {
    gv_dsProtocol = gv_serverProtocol;
    gv_dsPort = gv_serverPort;
  } else if (InitializeDSServerDetailsFromRegistry() != 0) {
    LogError("InitializeAgentParameters : Error while fetching DS Server details from registry! \n");
    return 13;
  }
  if (InitializeLocalMachineDetails() != 0) {
    LogError("InitializeAgentParameters : Error while the local machine details ! \n");
    return 13;
  }
  gv_proxyEnabled = "NO";
  ReadText(kAgentKeyPath, "ProxyEnabled", gv_proxyEnabled);
  if (EqualsNoCase(gv_proxyEnabled, "yes")) ReadProxyDetails();

  if (InitializeAgentDetails() != 0) {
    LogError("InitializeAgentParameters : Error while the Agent details ! \n");
    return 13;
  }
  LogSummary();
  if (EqualsNoCase(gv_dsEnabled, "yes")) {
    LogDistributionSummary();
    if (gv_enableDSRoute == 1) {
      RouteThroughDistributionServer();
      LogInfo("Enable Distribution Server Route                       -> %d \n", gv_enableDSRoute);
      LogInfo("****************************************************************** \n");
    }
  }
  if (ReadDwordOr("ImagedComputer", 0) == 1) {
    LogInfo("InitializeAgentParameters : Computer is detected as imaged One .. \n");
    return 10047;
  }
  LogDebug("InitializeAgentParameters : Computer is not an imaged one .. \n");
  LogDebug("@@@@@@@@ End Of InitializeAgentParameters Method @@@@@@@@ \n");
  return 0;
}

int32_t EnsureCryptoKeys() {
  CryptProvider prov;
  if (!CryptAcquireContextA(prov.Receive(), nullptr, MS_DEF_PROV_A, PROV_RSA_FULL, 0)) {
    if (GetLastError() != static_cast<DWORD>(NTE_BAD_KEYSET) ||
        !CryptAcquireContextA(prov.Receive(), nullptr, MS_DEF_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET))
      return 0;
  }
  for (ALG_ID spec : {static_cast<ALG_ID>(AT_SIGNATURE), static_cast<ALG_ID>(AT_KEYEXCHANGE)}) {
    CryptKey key;
    if (CryptGetUserKey(prov.Get(), spec, key.Receive())) continue;
    if (GetLastError() == static_cast<DWORD>(NTE_NO_KEY) && CryptGenKey(prov.Get(), spec, 0, key.Receive())) continue;
    return 0;
  }
  return 1;
}

bool DecodeBase64(const char* text, std::string& out) {
  out.clear();
  if (!text) return false;
  const char* b = text;
  const char* e = text + strlen(text);
  while (b < e && isspace(static_cast<unsigned char>(*b))) ++b;
  while (e > b && isspace(static_cast<unsigned char>(e[-1]))) --e;
  size_t len = static_cast<size_t>(e - b);
  if (len % 4 != 0) return false;
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  std::string decoded;
  decoded.reserve(len / 4 * 3);
  for (size_t i = 0; i < len; i += 4) {
    const char* g = b + i;
    int v0 = value(g[0]), v1 = value(g[1]);
    if (v0 < 0 || v1 < 0) return false;
    decoded += static_cast<char>((v0 << 2) | (v1 >> 4));
    if (g[2] == '=') {
      if (g[3] != '=') return false;
      break;
    }
    int v2 = value(g[2]);
    if (v2 < 0) return false;
    decoded += static_cast<char>(((v1 & 0xF) << 4) | (v2 >> 2));
    if (g[3] == '=') break;
    int v3 = value(g[3]);
    if (v3 < 0) return false;
    decoded += static_cast<char>(((v2 & 0x3) << 6) | v3);
  }
  size_t zero = decoded.find('\0');
  if (zero != std::string::npos) decoded.resize(zero);
  out = std::move(decoded);
  return true;
}
