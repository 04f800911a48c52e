// Routing of every request to the agent's servers (see routing.h): which server,
// which path for this product edition, which transfer routine, and the walk
// through the server's addresses that remembers the one that answered.
#include "http/routing.h"

#include <windows.h>

#include <cctype>
#include <cstring>
#include <string>

#include "agent/config/registrypaths.h"
#include "agent/config/settings.h"
#include "agent/log/logger.h"
#include "agent/registry/registry.h"
#include "agent/util/errortext.h"
#include "agent/util/textconv.h"
#include "http/downloader.h"
#include "http/httpinternal.h"
#include "http/requestcore.h"
#include "http/upload.h"

namespace {

constexpr int32_t kNotResolved = 12007;  // ERROR_WINHTTP_NAME_NOT_RESOLVED
constexpr int32_t kCannotConnect = 12029;
constexpr int32_t kTimeout = 12002;
constexpr int32_t kInvalidUrl = 12005;
constexpr int32_t kBadRequest = 400;

// Results after which the next address of the server is worth a try.
bool IsFailoverCode(int32_t result) {
  return result == kNotResolved || result == kCannotConnect || result == kTimeout || result == kInvalidUrl ||
         result == kBadRequest;
}

bool IsSuccessCode(int32_t result) { return result == 0 || result == kNotModified; }

bool IsYes(const OptText& text) { return text && _stricmp(text->c_str(), "yes") == 0; }

bool EqualsNoCase(const OptText& text, const char* word) { return text && _stricmp(text->c_str(), word) == 0; }

// Case-insensitive (ASCII letters) search; the path may be in any code page.
bool ContainsNoCase(const std::string& text, const char* part) {
  const size_t n = std::strlen(part);
  if (n > text.size()) return false;
  for (size_t i = 0; i + n <= text.size(); ++i) {
    size_t j = 0;
    while (j < n && std::tolower(static_cast<unsigned char>(text[i + j])) ==
                        std::tolower(static_cast<unsigned char>(part[j])))
      ++j;
    if (j == n) return true;
  }
  return false;
}

// Wide copy of a setting for the WinHTTP calls; false when it is absent. The
// settings come from the narrow registry interface, in the system code page.
bool SettingToWide(const OptText& setting, std::wstring& out) {
  out.clear();
  return setting && SystemCodePageToWide(setting->c_str(), out);
}

const wchar_t* OrNull(bool present, const std::wstring& text) { return present ? text.c_str() : nullptr; }

// Everything one attempt needs except the address.
struct Route {
  bool useProxy = false;
  const char* protocol = nullptr;
  int32_t port = 0;
  const wchar_t* proxyServer = nullptr;
  const wchar_t* proxyBypass = nullptr;
  const wchar_t* proxyUser = nullptr;
  const wchar_t* proxyPassword = nullptr;
  const wchar_t* path = nullptr;
  const wchar_t* destination = nullptr;
  const char* data = nullptr;
  OptText* outData = nullptr;
  int32_t requestType = 0;
  bool keepAlive = false;
  int32_t sendOption = 0;
  int32_t transferMode = 0;

  // One request to `address` when it is a usable address (longer than 2
  // characters); `result` keeps its value otherwise, and also when the
  // transfer mode names no download routine. True when a request was made.
  bool Attempt(const OptText& address, int32_t& result) const {
    std::wstring server;
    if (!SettingToWide(address, server) || server.size() <= 2) return false;
    const wchar_t* host = server.c_str();
    switch (requestType) {
      case SEND_DATA_TIMED:
      case SEND_DATA:
      case SEND_FORM_DATA:
        result = InternetSendRequestEx(useProxy, protocol, host, port, proxyServer, proxyBypass, proxyUser,
                                       proxyPassword, path, data, outData, requestType, keepAlive, sendOption);
        return true;
      case SEND_DATA_BY_BITRATE:
        result = InternetSendRequestByBitRate(useProxy, protocol, host, port, proxyServer, proxyBypass, proxyUser,
                                              proxyPassword, path, data, outData, requestType, keepAlive,
                                              sendOption);
        return true;
      default:
        if (transferMode == 0) {
          result = InternetGetRequestEx(useProxy, protocol, host, port, proxyServer, proxyBypass, proxyUser,
                                        proxyPassword, path, destination, outData, requestType, keepAlive, true);
          return true;
        }
        if (transferMode == 1) {
          result = InternetGetRequestByBitrate(useProxy, protocol, host, port, proxyServer, proxyBypass, proxyUser,
                                               proxyPassword, path, destination, outData, requestType, keepAlive);
          return true;
        }
        return false;
    }
  }
};

// The request path for this product edition (backslashes already turned).
std::string RewritePathForProduct(const std::string& path, int32_t requestType, bool toMainServer) {
  const char* code = gv_twProductCode ? gv_twProductCode->c_str() : nullptr;
  if (EqualsNoCase(gv_twProductCode, "TWOD")) {
    if (toMainServer && (requestType == GET_DATA || requestType == DOWNLOAD_FILE)) {
      // Servlet requests already name what they want; plain file paths go
      // through the client data servlet.
      for (const char* servlet : {"/agentRequest?", "/agentSlot?", "/agenttrayicon?", "agentinfo?"}) {
        if (ContainsNoCase(path, servlet)) {
          LogInfo("AgentSendRequest - gv_twProductCode is [%s], requestType is GET_DATA / DOWNLOAD_FILE [%d] and is "
                  "servlet request \n",
                  code, requestType);
          return path;
        }
      }
      return "clientdatarequest?fileName=" + path;
    }
    LogInfo("AgentSendRequest - gv_twProductCode is [%s], toTWServer is set to [%d]. Request Type is NOT GET_DATA / "
            "DOWNLOAD_FILE and is [%d]\n",
            code, toMainServer ? 1 : 0, requestType);
    return path;
  }
  if (EqualsNoCase(gv_twProductCode, "TWHC")) {
    LogInfo("AgentSendRequest - gv_twProductCode is [%s], requestType is GET_DATA / DOWNLOAD_FILE [%d] \n", code,
            requestType);
    return "tw/" + path;
  }
  LogDebug("AgentSendRequest - Stand Alone / MSP build : gv_twProductCode is [%s] \n", code);
  return path;
}

}  // namespace

int32_t AgentSendRequest(const char* urlPath, const char* data, OptText* outData, int32_t requestType,
                         bool keepAlive, bool forceMainServer, int32_t sendOption, int32_t transferMode) {
  LogInfo("gotcha1 %s", urlPath);
  if (!urlPath) {
    LogError("AgentSendRequest : No URL path given \n");
    return ERROR_INVALID_DATA;
  }

  const bool toMainServer = forceMainServer || !IsYes(gv_dsEnabled);
  const OptText protocol = toMainServer ? gv_serverProtocol : gv_dsProtocol;

  std::string path(urlPath);
  for (char& c : path)
    if (c == '\\') c = '/';
  path = RewritePathForProduct(path, requestType, toMainServer);

  std::wstring widePath;
  std::string utf8Path;
  if (!SystemCodePageToWide(path.c_str(), widePath) || !ChangeWideToUtf8Str(widePath.c_str(), utf8Path)) {
    LogError("AgentSendRequest : The url %s could not be converted to UTF8 \n", path.c_str());
    LogLastError();
    return ERROR_INVALID_DATA;
  }
  LogInfo("AgentSendRequest : The url to get / send in UTF8 format is given by %s \n", utf8Path.c_str());
  if (ChangeToWideStr(utf8Path.c_str(), widePath) != 1) return ERROR_INVALID_DATA;

  // The destination of a download: the caller's file path (system code page)
  // or, for data kept in memory, whatever text the caller gave (UTF-8).
  std::wstring destination;
  bool haveDestination = false;
  if (transferMode != 2 && data) {
    if (requestType == GET_DATA)
      haveDestination = ChangeToWideStr(data, destination) == 1;
    else if (requestType == DOWNLOAD_FILE)
      haveDestination = SystemCodePageToWide(data, destination);
  }

  const OptText* candidates[5];
  if (toMainServer) {
    candidates[0] = &gv_lastAccessName;
    candidates[1] = &gv_serverIPAddress;
    candidates[2] = &gv_serverSecIPAddress;
    candidates[3] = &gv_serverName;
    candidates[4] = &gv_serverFlatName;
  } else {
    candidates[0] = &gv_dsLastAccessName;
    candidates[1] = &gv_dsIPAddress;
    candidates[2] = &gv_dsSecIPAddress;
    candidates[3] = &gv_dsName;
    candidates[4] = &gv_dsFlatName;
  }

  // A distribution server sits on the site's own network: it is always
  // reached directly.
  std::wstring proxyServer, proxyBypass, proxyUser, proxyPassword;
  Route route;
  if (IsYes(gv_proxyEnabled) && toMainServer) {
    route.useProxy = true;
    route.proxyServer = OrNull(SettingToWide(gv_proxyServerName, proxyServer), proxyServer);
    route.proxyBypass = OrNull(SettingToWide(gv_proxyByPass, proxyBypass), proxyBypass);
    route.proxyUser = OrNull(SettingToWide(gv_proxyUserName, proxyUser), proxyUser);
    route.proxyPassword = OrNull(SettingToWide(gv_proxyPassword, proxyPassword), proxyPassword);
  }
  route.protocol = protocol ? protocol->c_str() : nullptr;
  route.port = toMainServer ? gv_serverPort : gv_dsPort;
  route.path = widePath.c_str();
  route.destination = OrNull(haveDestination, destination);
  route.data = data;
  route.outData = outData;
  route.requestType = requestType;
  route.keepAlive = keepAlive;
  route.sendOption = sendOption;
  route.transferMode = transferMode;

  // The last access name first; then the addresses in their order. After the
  // IP address the secondary one is always tried; later a result other than a
  // failover code ends the walk.
  int32_t result = kNotResolved;
  const OptText* winner = nullptr;
  route.Attempt(*candidates[0], result);
  if (IsFailoverCode(result)) {
    if (route.Attempt(*candidates[1], result) && IsSuccessCode(result)) {
      winner = candidates[1];
    } else if (route.Attempt(*candidates[2], result) && IsSuccessCode(result)) {
      winner = candidates[2];
    } else if (IsFailoverCode(result)) {
      if (route.Attempt(*candidates[3], result) && IsSuccessCode(result))
        winner = candidates[3];
      else if (IsFailoverCode(result) && route.Attempt(*candidates[4], result) && IsSuccessCode(result))
        winner = candidates[4];
    }
  }

  OptText& lastAccessName = toMainServer ? gv_lastAccessName : gv_dsLastAccessName;
  if (winner) lastAccessName = std::string(**winner);

  if (IsSuccessCode(result) && lastAccessName) {
    writeValue(HKEY_LOCAL_MACHINE, kServerInfoKeyPath, toMainServer ? "TWLastAccessName" : "DistributionLastAccessName",
               lastAccessName->c_str(), REG_SZ);
    LogInfo("AgentSendRequest : Last Access Address is %s \n", lastAccessName->c_str());
  }
  return result;
}

int32_t AgentDownloadFile(const void* /*ignored1*/, const void* /*ignored2*/, const char* urlPath,
                          const char* destination, bool keepAlive) {
  const int32_t transferMode = gv_dataTransferRateKBps != 0 ? 1 : 0;
  return AgentSendRequest(urlPath, destination, nullptr, DOWNLOAD_FILE, keepAlive, false, 0, transferMode);
}

int32_t AgentGetData(const void* /*ignored1*/, const void* /*ignored2*/, const char* urlPath, OptText* outData,
                     bool keepAlive) {
  return AgentSendRequest(urlPath, nullptr, outData, GET_DATA, keepAlive, true, 0, 0);
}
