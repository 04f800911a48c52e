// The request core: opens, decorates and sends one WinHTTP request with the
// bounded resend policy and reads the response status; also the TLS pinning on
// older Windows and the sentences logged for WinHTTP error codes.
#include "http/requestcore.h"

#include <cwchar>
#include <vector>

#include "agent/config/settings.h"
#include "agent/log/logger.h"
#include "agent/os/osinfo.h"
#include "agent/util/errortext.h"
#include "http/httpinternal.h"
#include "http/winhttp_api.h"

namespace {

constexpr DWORD kSecureProtocolsTls10To12 = 0xA80;
constexpr const char* kRoutine = "GetInternetRequestHandle";

void CloseOne(HINTERNET& h) {
  if (IsOpen(h)) g_winHttp.CloseHandle(h);
  h = kNoHandle;
}

}  // namespace

bool IsHttpsProtocol(const char* protocol) {
  if (!protocol) return false;
  const char* https = "https";
  for (size_t i = 0;; ++i) {
    char c = protocol[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != https[i]) return false;
    if (c == '\0') return true;
  }
}

bool QueryRawHeaders(HINTERNET request, std::wstring& headers) {
  DWORD size = 0;
  BOOL ok = g_winHttp.QueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                                   WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
  if (!ok && ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
  // Generous room: four times the size asked for.
  DWORD bytes = size * 4 + 8;
  std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
  if (!g_winHttp.QueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(),
                              &bytes, WINHTTP_NO_HEADER_INDEX))
    return false;
  headers.assign(buffer.data());
  return true;
}

void CloseRequestHandles(RequestHandles& handles) {
  CloseOne(handles.request);
  CloseOne(handles.connection);
  CloseOne(handles.session);
}

int32_t SetSecureProtocols(HINTERNET session) {
  if (isWin7orWin8()) {
    LogInfo("SetSecureProtocols : Configuring security protocols \n");
    DWORD protocols = kSecureProtocolsTls10To12;
    if (g_winHttp.SetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
      LogInfo("SetSecureProtocols :  Security protocols configured successfully \n");
    } else {
      const int32_t code = LastCode();
      LogError("SetSecureProtocols :  Error in WinHttpSetOption for security protocols --> %d \n", code);
      HttpGetLastError(code);
    }
  }
  return 1;
}

int32_t GetInternetRequestHandle(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                                 const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                                 const wchar_t* proxyPassword, const wchar_t* objectPath, const wchar_t* /*destination*/,
                                 const void* /*unused*/, int32_t requestType, bool keepAlive, RequestHandles& handles,
                                 bool acceptGzip) {
  LogDebug("@@@@@@@@ Inside GetInternetRequestHandle Method @@@@@@@@ \n");
  const bool https = IsHttpsProtocol(protocol);
  const bool getData = requestType == GET_DATA;
  int32_t lastError = 0;
  bool restartUsed = false;

  // One pass opens a fresh session, connection and request; a second pass
  // happens only for the one-time restart.
  for (;;) {
    DWORD requestFlags = kRequestFlagRefresh;
    const ConnectionTarget target{kRoutine, useProxy, https, proxyServer, proxyBypass, serverAddress, port, false};
    if (const int32_t code = OpenConnection(target, handles, requestFlags, CloseOne)) return code;

    LPCWSTR acceptTypes[] = {L"*/*", nullptr};
    handles.request = g_winHttp.OpenRequest(handles.connection, handles.requestKind == 2 ? L"HEAD" : L"GET",
                                            objectPath, nullptr, WINHTTP_NO_REFERER, acceptTypes, requestFlags);
    if (!handles.request) {
      const int32_t code = LastCode();
      handles.request = kNoHandle;
      LogError("GetInternetRequestHandle :  Error in WinHttpOpenRequest --> %d \n", code);
      HttpGetLastError(code);
      CloseOne(handles.connection);
      CloseOne(handles.session);
      return code;
    }

    if (const int32_t code = AddConnectionHeader(kRoutine, handles.request, keepAlive)) lastError = code;
    // A ranged request without a range line has nothing to add.
    if (handles.requestKind == 1 && handles.extraHeader) {
      if (!g_winHttp.AddRequestHeaders(handles.request, handles.extraHeader, static_cast<DWORD>(-1),
                                       WINHTTP_ADDREQ_FLAG_ADD)) {
        const int32_t code = LastCode();
        LogError("InternetGetRequestByBitrate :  Error in WinHttpAddRequestHeaders --> %d \n", code);
        lastError = code;
      }
    }
    const RequestOptions options{kRoutine, getData, https, useProxy, proxyUser, proxyPassword, true};
    if (const int32_t code = SetRequestOptions(options, handles.request)) return code;

    auto send = [&](HINTERNET request, int32_t& code) {
      if (getData) {
        DWORD timeout = static_cast<DWORD>(gv_httpRequestTimeout);
        if (!g_winHttp.SetOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout)) {
          code = LastCode();
          LogError("GetInternetRequestHandle :  Error in WinHttpSetOption before send request --> %d \n", code);
          HttpGetLastError(code);
          return SendOutcome::kAbort;
        }
      }
      LogInfo("GetInternetRequestHandle : IsAcceptEncodingGzip-Enabled -> %d\n", acceptGzip ? 1 : 0);
      BOOL sent;
      if (acceptGzip) {
        sent = g_winHttp.SendRequest(request, L"Accept-Encoding: gzip", 21, WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
        LogDebug("WinHttpSendRequest with \"Accept-Encoding: gzip\" Header\n");
      } else {
        sent = g_winHttp.SendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
      }
      if (sent) return SendOutcome::kSent;
      code = LastCode();
      return SendOutcome::kSendFailed;
    };
    bool restart = false;
    int32_t result = 0;
    if (!SendWithResends(kRoutine, handles.request, serverAddress, send, restartUsed, restart, lastError, result))
      return result;
    if (!restart) break;
    // The restart starts over from a new session; the abandoned handles are
    // closed first so that nothing leaks.
    CloseRequestHandles(handles);
  }

  // Without a response (five failed receives) this read fails and ends the call.
  std::wstring headers;
  if (!QueryRawHeaders(handles.request, headers)) {
    const int32_t code = LastCode();
    LogError("GetInternetRequestHandle :  Error in WinHttpQueryHeaders --> %d \n", code);
    HttpGetLastError(code);
    return code;
  }
  LogDebug("GetInternetRequestHandle :  Header Informations : \n %ls \n", headers.c_str());

  DWORD status = 0;
  DWORD statusSize = sizeof status;
  if (!g_winHttp.QueryHeaders(handles.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX)) {
    const int32_t code = LastCode();
    LogError("GetInternetRequestHandle : WinHttpQueryHeaders failed with the error code while getting http status "
             "code %d \n",
             code);
    return code;
  }
  handles.statusCode = static_cast<int32_t>(status);
  if (status == 407) {
    LogError("GetInternetRequestHandle : Proxy Credentials are failed to authenticate %d \n", 407);
    return 407;
  }
  LogDebug("@@@@@@@@ End of GetInternetRequestHandle Method @@@@@@@@ \n");
  return lastError;
}

void HttpGetLastError(int32_t code) {
  const char* text = nullptr;
  switch (code) {
    case 12001: text = "HttpGetLastError: No more handles could be generated at this time (Obsolete; no longer used.)\n"; break;
    case 12002: text = "HttpGetLastError: The request has timed out.\n"; break;
    case 12003: text = "HttpGetLastError: An extended error was returned from the server.\n"; break;
    case 12004: text = "HttpGetLastError: An internal error has occurred.\n"; break;
    case 12005: text = "HttpGetLastError: The URL is invalid.\n"; break;
    case 12006: text = "HttpGetLastError: The URL scheme could not be recognized, or is not supported.(other than 'http:' or 'https:'.)\n"; break;
    case 12007: text = "HttpGetLastError: The server name could not be resolved.\n"; break;
    case 12008: text = "HttpGetLastError: The requested protocol could not be located.\n"; break;
    case 12009: text = "HttpGetLastError: A request to InternetQueryOption or WinHttpSetOption specified an invalid option value.\n"; break;
    case 12010: text = "HttpGetLastError: The length of an option supplied to InternetQueryOption or WinHttpSetOption is incorrect for the type of option specified.\n"; break;
    case 12011: text = "HttpGetLastError: The request option can not be set, only queried.\n "; break;
    case 12012: text = "HttpGetLastError: The WinHTTP function support is being shutdown or unloaded.\n"; break;
    case 12013: text = "HttpGetLastError: The request to connect and login to an FTP server could not be completed because the supplied user name is incorrect.\n"; break;
    case 12014: text = "HttpGetLastError: The request to connect and login to an FTP server could not be completed because the supplied password is incorrect.\n"; break;
    case 12015: text = "HttpGetLastError: The login attempt failed . A new request handle must be created before retrying the function that originally produced this error. \n"; break;
    case 12016: text = "HttpGetLastError: The requested operation is invalid.\n"; break;
    case 12017: text = "HttpGetLastError: The operation was canceled, usually because the handle on which the request was operating was closed before the operation completed.\n"; break;
    case 12018: text = "HttpGetLastError: The type of handle supplied is incorrect for this operation.\n"; break;
    case 12019: text = "HttpGetLastError: The requested operation can not be carried out because the handle supplied is not in the correct state.\n"; break;
    case 12020: text = "HttpGetLastError: The request can not be made via a proxy.\n"; break;
    case 12021: text = "HttpGetLastError: A required registry value could not be located.\n"; break;
    case 12022: text = "HttpGetLastError: A required registry value was located but is an incorrect type or has an invalid value.\n"; break;
    case 12023: text = "HttpGetLastError: Direct network access cannot be made at this time. \n"; break;
    case 12024: text = "HttpGetLastError: An asynchronous request could not be made because a zero context value was supplied.\n"; break;
    case 12025: text = "HttpGetLastError: An asynchronous request could not be made because a callback function has not been set.\n"; break;
    case 12026: text = "HttpGetLastError: The required operation could not be completed because one or more requests are pending.\n"; break;
    case 12027: text = "HttpGetLastError: The format of the request is invalid.\n"; break;
    case 12028: text = "HttpGetLastError: The requested item could not be located.\n"; break;
    case 12029: text = "HttpGetLastError: The attempt to connect to the server failed.\n"; break;
    case 12030: text = "HttpGetLastError: The connection with the server has been terminated or an incompatible SSL protocol was encountered .\n"; break;
    case 12031: text = "HttpGetLastError: The connection with the server has been reset.\n"; break;
    case 12032: text = "HttpGetLastError: The WinHTTP function failed. The desired function can be retried on the same request handle \n"; break;
    case 12033: text = "HttpGetLastError: The request to the proxy was invalid. \n"; break;
    case 12034: text = "HttpGetLastError: Need UI\n"; break;
    case 12035: text = "HttpGetLastError: Sec Cert Date Invalid\n"; break;
    case 12036: text = "HttpGetLastError: The request failed because the handle already exists.\n"; break;
    case 12037: text = "HttpGetLastError: SSL certificate date that was received from the server is bad. The certificate is expired. \n"; break;
    case 12038: text = "HttpGetLastError: SSL certificate common name (host name field) is incorrect. For example, the host name entered was www.server.com but the certificate was issued to www.different.com. \n"; break;
    case 12039: text = "HttpGetLastError: The application is moving from a non-SSL to an SSL connection because of a redirect. \n"; break;
    case 12040: text = "HttpGetLastError: The application is moving from an SSL to an non-SSL connection because of a redirect. \n"; break;
    case 12041: text = "HttpGetLastError: Indicates that the content is not entirely secure. Some of the content being viewed may have come from unsecured servers. \n"; break;
    case 12042: text = "HttpGetLastError: The application is posting and attempting to change multiple lines of text on a server that is not secure. \n"; break;
    case 12043: text = "HttpGetLastError: The application is posting data to a server that is not secure. \n"; break;
    case 12044: text = "HttpGetLastError: Client Auth Cert Needed\n"; break;
    case 12045: text = "HttpGetLastError: Indicates that a certificate chain was processed, but terminated in a root certificate that is not trusted by the trust provider (equivalent to CERT_E_UNTRUSTEDROOT). \n"; break;
    case 12046: text = "HttpGetLastError: Client Auth Not Setup\n"; break;
    case 12057: text = "HttpGetLastError: Indicates that revocation cannot be checked because the revocation server was offline (equivalent to CRYPT_E_REVOCATION_OFFLINE). \n"; break;
    case 12100: text = "HttpGetLastError: requested operation cannot be performed before calling the Open method \n"; break;
    case 12101: text = "HttpGetLastError: requested operation cannot be performed before calling the Send method \n"; break;
    case 12102: text = "HttpGetLastError: Requested operation cannot be performed after calling the Send method. \n"; break;
    case 12103: text = "HttpGetLastError: Option cannot be requested after the Open method has been called \n"; break;
    case 12150: text = "HttpGetLastError: The requested header could not be located. \n"; break;
    case 12151: text = "HttpGetLastError: The server did not return any headers. \n"; break;
    case 12152: text = "HttpGetLastError: The server response could not be parsed. \n"; break;
    case 12153: text = "HttpGetLastError: The supplied header is invalid. \n"; break;
    case 12154: text = "HttpGetLastError: The request made to HttpQueryInfo is invalid. \n"; break;
    case 12155: text = "HttpGetLastError: The header could not be added because it already exists. \n"; break;
    case 12156: text = "HttpGetLastError: The redirection failed because either the scheme changed (for example, HTTP to FTP) or all attempts made to redirect failed (default is five attempts). \n"; break;
    case 12157: text = "HttpGetLastError: Indicates that an error occurred having to do with a secure channel.The application experienced an internal error loading the SSL libraries\n"; break;
    case 12158: text = "HttpGetLastError: The function was unable to cache the file\n"; break;
    case 12159: text = "HttpGetLastError: TCP/IP not installed\n"; break;
    case 12166: text = "HttpGetLastError: An error occurred executing the script code in the Proxy Auto-Configuration (PAC) file\n"; break;
    case 12167: text = "HttpGetLastError: The PAC file cannot be downloaded. For example, the server referenced by the PAC URL may not have been reachable, or the server returned a 404 NOT FOUND response \n"; break;
    case 12169: text = "HttpGetLastError: Indicates that a certificate is invalid (equivalent to errors such as CERT_E_ROLE, CERT_E_PATHLENCONST, CERT_E_CRITICAL, CERT_E_PURPOSE, CERT_E_ISSUERCHAINING, CERT_E_MALFORMED and CERT_E_CHAINING)."; break;
    case 12170: text = "HttpGetLastError: Indicates that a certificate has been revoked (equivalent to CRYPT_E_REVOKED).\n"; break;
    case 12172: text = "HttpGetLastError: Obsolete; no longer used.  \n"; break;
    case 12175: text = "HttpGetLastError: One or more errors were found in the Secure Sockets Layer (SSL) certificate sent by the server .\n"; break;
    case 12178: text = "HttpGetLastError: Proxy for the specified URL cannot be located\n"; break;
    case 12179: text = "HttpGetLastError: Indicates that a certificate is not valid for the requested usage (equivalent to CERT_E_WRONG_USAGE).\n"; break;
    case 12180: text = "HttpGetLastError: unable to discover the URL of the Proxy Auto-Configuration (PAC) file \n"; break;
    case 12181: text = "HttpGetLastError: A larger number of headers were present in a response than WinHTTP could receive \n"; break;
    case 12182: text = "HttpGetLastError: The size of headers received exceeds the limit for the request handle \n"; break;
    case 12183: text = "HttpGetLastError: An overflow condition is encountered in the course of parsing chunked encoding  \n"; break;
    case 12184: text = "HttpGetLastError: The WinHTTP function failed. The desired function can be retried on the same request handle \n"; break;
    default: break;
  }
  if (text)
    LogError("%s", text);
  else
    LogErrorCode(code);
}
