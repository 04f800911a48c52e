// Upload of a text body by POST (see upload.h). It keeps its own copy of the
// request core's steps because its restart differs: only the request is
// replaced, the session and connection stay.
#include "http/upload.h"

#include <windows.h>
#include <winhttp.h>

#include <cstring>
#include <cwchar>

#include "agent/config/settings.h"
#include "agent/log/logger.h"
#include "http/requestcore.h"
#include "http/winhttp_api.h"

namespace {

constexpr DWORD kRequestFlagRefresh = 0x100;
constexpr DWORD kRequestFlagSecure = 0x00800000;
constexpr DWORD kIgnoreCertificateErrors = 0x3300;
constexpr DWORD kResendPauseMs = 5000;
constexpr int kLastAttempt = 4;

int32_t LastCode() { return static_cast<int32_t>(::GetLastError()); }

bool IsOpen(HINTERNET h) { return h != nullptr && h != kNoHandle; }

HINTERNET OpenPost(HINTERNET connection, const wchar_t* objectPath, DWORD flags) {
  return g_winHttp.OpenRequest(connection, L"POST", objectPath, nullptr, WINHTTP_NO_REFERER,
                               WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
}

// Closes one handle of the upload, logging a failure under its name.
void CloseLogged(HINTERNET& h, const char* name) {
  if (IsOpen(h) && !g_winHttp.CloseHandle(h)) {
    const int32_t code = LastCode();
    LogError("InternetSendRequestEx :  Error in WinHttpCloseHandle %s --> %d \n", name, code);
    HttpGetLastError(code);
  }
  h = kNoHandle;
}

struct Upload {
  bool useProxy;
  bool https;
  const wchar_t* serverAddress;
  const wchar_t* proxyUser;
  const wchar_t* proxyPassword;
  const wchar_t* objectPath;
  const char* body;
  DWORD bodyLength;
  OptText* outData;
  int32_t requestType;
  bool keepAlive;
  DWORD requestFlags;
  RequestHandles handles;

  // Headers and options of a fresh request; 0 or the code of a failed option.
  int32_t Prepare() {
    const wchar_t* connectionHeader = keepAlive ? L"Connection: Keep-Alive" : L"Connection: close";
    if (!g_winHttp.AddRequestHeaders(handles.request, connectionHeader, static_cast<DWORD>(-1),
                                     WINHTTP_ADDREQ_FLAG_ADD)) {
      const int32_t code = LastCode();
      LogError("InternetSendRequestEx :  Error in WinHttpAddRequestHeaders --> %d \n", code);
      HttpGetLastError(code);
    }
    if (requestType == SEND_DATA_TIMED) {
      DWORD timeout = static_cast<DWORD>(gv_httpConnectionTimeout);
      if (!g_winHttp.SetOption(handles.request, WINHTTP_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout))
        return OptionFailed();
    }
    if (https) {
      DWORD securityFlags = 0;
      DWORD size = sizeof securityFlags;
      if (!g_winHttp.QueryOption(handles.request, WINHTTP_OPTION_SECURITY_FLAGS, &securityFlags, &size))
        return OptionFailed();
      securityFlags |= kIgnoreCertificateErrors;
      if (!g_winHttp.SetOption(handles.request, WINHTTP_OPTION_SECURITY_FLAGS, &securityFlags, sizeof securityFlags))
        return OptionFailed();
      LogDebug("InternetSendRequestEx :  The request is updated with the internet option security flags. \n");
    }
    if (useProxy && proxyUser && std::wcslen(proxyUser) > 1) {
      if (!g_winHttp.SetOption(handles.request, WINHTTP_OPTION_PROXY_USERNAME, const_cast<wchar_t*>(proxyUser),
                               static_cast<DWORD>(std::wcslen(proxyUser))))
        return OptionFailed();
      if (proxyPassword && std::wcslen(proxyPassword) > 1 &&
          !g_winHttp.SetOption(handles.request, WINHTTP_OPTION_PROXY_PASSWORD, const_cast<wchar_t*>(proxyPassword),
                               static_cast<DWORD>(std::wcslen(proxyPassword))))
        return OptionFailed();
    }
    return 0;
  }

  static int32_t OptionFailed() {
    const int32_t code = LastCode();
    LogError("InternetSendRequestEx :  Error in WinHttpSetOption --> %d \n", code);
    return code;
  }

  // Replaces the request after a refused send or answer. 0, or the code of a
  // failed open (connection and session are then closed).
  int32_t Restart() {
    CloseLogged(handles.request, "hRequest");
    handles.request = OpenPost(handles.connection, objectPath, requestFlags);
    if (!handles.request) {
      const int32_t code = LastCode();
      handles.request = kNoHandle;
      LogError("InternetSendRequestEx :  Error in WinHttpOpenRequest --> %d \n", code);
      HttpGetLastError(code);
      CloseLogged(handles.connection, "hConnect");
      CloseLogged(handles.session, "hSession");
      return code;
    }
    return 0;
  }

  // Sends until a response arrives (or five attempts are used); then reads
  // the status and, when wanted, the answer.
  int32_t Exchange() {
    bool restartUsed = false;
    for (;;) {
      if (int32_t code = Prepare()) return code;
      bool restart = false;
      bool received = false;
      for (int attempt = 0; attempt <= kLastAttempt && !received && !restart;) {
        if (requestType == SEND_DATA_TIMED) {
          DWORD timeout = static_cast<DWORD>(gv_httpRequestTimeout);
          if (!g_winHttp.SetOption(handles.request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout))
            LogError("InternetSendRequestEx :  Error in WinHttpSetOption before send request--> %d \n", LastCode());
        }
        if (requestType == SEND_FORM_DATA) {
          // Replaced rather than added, so that a resend on the same request
          // does not carry the content type twice.
          if (!g_winHttp.AddRequestHeaders(handles.request, L"Content-Type: multipart/form-data",
                                           static_cast<DWORD>(-1),
                                           WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
            LogError("InternetSendRequestEx :  Error in WinHttpAddRequestHeaders (second Header ) --> %d \n",
                     LastCode());
        }
        if (!g_winHttp.SendRequest(handles.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, const_cast<char*>(body),
                                   bodyLength, bodyLength, 0)) {
          const int32_t code = LastCode();
          if (code == ERROR_WINHTTP_LOGIN_FAILURE || code == ERROR_WINHTTP_OPERATION_CANCELLED) {
            LogInfo("InternetSendRequestEx : Going to close the request handle and going to resending the data to "
                    "the server %ls \n",
                    serverAddress);
            if (!restartUsed) {
              restartUsed = true;
              restart = true;
              continue;
            }
          }
          LogError("InternetSendRequestEx :  Error in WinHttpSendRequest -> %d \n", code);
          HttpGetLastError(code);
          return code;
        }
        if (g_winHttp.ReceiveResponse(handles.request, nullptr)) {
          received = true;
          continue;
        }
        const int32_t code = LastCode();
        ++attempt;
        if (code == ERROR_WINHTTP_RESEND_REQUEST) {
          LogInfo("InternetSendRequestEx : Resending the data to the server %ls \n", serverAddress);
          g_winHttp.Sleep(kResendPauseMs);
        } else if (code == ERROR_WINHTTP_LOGIN_FAILURE || code == ERROR_WINHTTP_INVALID_SERVER_RESPONSE) {
          LogInfo("InternetSendRequestEx : Going to close the request handle and going to resending the data to "
                  "the server %ls,as the error code received is %d \n",
                  serverAddress, code);
          if (!restartUsed) {
            restartUsed = true;
            restart = true;
          }
        } else {
          LogInfo("InternetSendRequestEx :  Error - WinHttpReceiveResponse --> %d \n", code);
          HttpGetLastError(code);
          return code;
        }
      }
      if (!restart) break;
      if (int32_t code = Restart()) return code;
    }
    return Response();
  }

  int32_t Response() { return ReadUploadResponse("InternetSendRequestEx", handles, serverAddress, outData); }
};

}  // namespace

int32_t ReadUploadResponse(const char* routine, RequestHandles& handles, const wchar_t* serverAddress,
                           OptText* outData) {
  std::wstring headers;
  if (!QueryRawHeaders(handles.request, headers)) {
    const int32_t code = LastCode();
    LogError("%s :  Error in WinHttpQueryHeaders --> %d \n", routine, code);
    HttpGetLastError(code);
    return code;
  }
  LogDebug("%s :  Header Informations : \n %ls \n", routine, headers.c_str());

  DWORD status = 0;
  DWORD statusSize = sizeof status;
  if (!g_winHttp.QueryHeaders(handles.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX)) {
    const int32_t code = LastCode();
    LogError("%s : WinHttpQueryHeaders failed with the error code while getting http status code %d \n", routine,
             code);
    return code;
  }
  handles.statusCode = static_cast<int32_t>(status);
  if (status == 407) {
    LogError("%s : Proxy Credentials are failed to authenticate %d \n", routine, 407);
    return 407;
  }
  if (status != 200) {
    LogError("%s : Failed to post the data to the server %ls with http status code %d \n", routine, serverAddress,
             static_cast<int>(status));
    return static_cast<int32_t>(status);
  }
  LogInfo("%s : Successfully posted the data to the server %ls \n", routine, serverAddress);
  if (!outData) return 0;

  // The answer is read into room for four times the announced length (plus a
  // little); a server sending more than that is cut off there.
  LogInfo("%s : Reading the response sent by the server %ls \n", routine, serverAddress);
  DWORD contentLength = 0;
  DWORD size = sizeof contentLength;
  if (!g_winHttp.QueryHeaders(handles.request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &contentLength, &size, WINHTTP_NO_HEADER_INDEX)) {
    const int32_t code = LastCode();
    LogError("%s :  WinHttpQueryHeaders failed with the error code while getting content length -> %d \n", routine,
             code);
    HttpGetLastError(code);
    return code;
  }
  const size_t capacity = 4 * (static_cast<size_t>(contentLength) + 2) + 4 - 1;  // room for the terminator kept
  std::string answer(capacity, '\0');
  size_t total = 0;
  while (total < capacity) {
    DWORD read = 0;
    if (!g_winHttp.ReadData(handles.request, answer.data() + total, static_cast<DWORD>(capacity - total), &read)) {
      // A broken answer is not handed on as if it were whole.
      const int32_t code = LastCode();
      LogError("%s :  Error in WinHttpReadData --> %d \n", routine, code);
      HttpGetLastError(code);
      return code;
    }
    if (read == 0) break;
    LogDebug("%s : Received response from server %ls: \n %s \n", routine, serverAddress,
             std::string(answer, total, read).c_str());
    LogDebug("%s :  No Of Bytes -> %d \n", routine, static_cast<int>(read));
    total += read;
  }
  answer.resize(total);
  *outData = std::move(answer);
  return 0;
}

int32_t InternetSendRequestEx(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                              const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                              const wchar_t* proxyPassword, const wchar_t* objectPath, const char* body,
                              OptText* outData, int32_t requestType, bool keepAlive, int32_t postSize) {
  LogDebug("@@@@@@@@ Inside InternetSendRequestEx Method @@@@@@@@ \n");
  LogInfo("InternetSendRequestEx : Tarnwick Server & Port -> %ls : %d \n", serverAddress, port);
  LogDebug("InternetSendRequestEx : URL to Post -> %ls \n", objectPath);
  LogDebug("InternetSendRequestEx : Data to Send -> \n %s \n", body);
  if (!body) {
    LogDebug("@@@@@@@@ End Of InternetSendRequestEx Method @@@@@@@@ \n");
    return 13;
  }

  // A caller-given length never reaches past the end of the text.
  const size_t textLength = std::strlen(body);
  size_t length = textLength;
  if (requestType == SEND_FORM_DATA && postSize > 0 && static_cast<size_t>(postSize) < textLength)
    length = static_cast<size_t>(postSize);
  LogDebug("InternetSendRequestEx : dwPostSize: %d \n", static_cast<int>(length));

  Upload up{useProxy,   IsHttpsProtocol(protocol), serverAddress, proxyUser, proxyPassword, objectPath, body,
            static_cast<DWORD>(length), outData, requestType, keepAlive, kRequestFlagRefresh, RequestHandles{}};

  if (useProxy) {
    LogInfo("InternetSendRequestEx : Proxy Server Name : %ls \n", proxyServer);
    up.handles.session = g_winHttp.Open(L"TarnwickAgent", WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxyServer, proxyBypass, 0);
  } else {
    up.handles.session = g_winHttp.Open(L"TarnwickAgent", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                        WINHTTP_NO_PROXY_BYPASS, 0);
  }
  if (!up.handles.session) {
    const int32_t code = LastCode();
    LogError("InternetSendRequestEx :  Error in WinHttpOpen --> %d \n", code);
    HttpGetLastError(code);
    return code;
  }
  if (up.https) {
    SetSecureProtocols(up.handles.session);
    up.requestFlags |= kRequestFlagSecure;
  }
  up.handles.connection = g_winHttp.Connect(up.handles.session, serverAddress, static_cast<INTERNET_PORT>(port), 0);
  if (!up.handles.connection) {
    const int32_t code = LastCode();
    up.handles.connection = kNoHandle;
    LogError("InternetSendRequestEx :  Error in WinHttpConnect --> %d \n", code);
    HttpGetLastError(code);
    CloseLogged(up.handles.session, "hSession");
    return code;
  }
  up.handles.request = OpenPost(up.handles.connection, objectPath, up.requestFlags);
  if (!up.handles.request) {
    const int32_t code = LastCode();
    up.handles.request = kNoHandle;
    LogError("InternetSendRequestEx :  Error in WinHttpOpenRequest --> %d \n", code);
    HttpGetLastError(code);
    CloseLogged(up.handles.connection, "hConnect");
    CloseLogged(up.handles.session, "hSession");
    return code;
  }

  const int32_t result = up.Exchange();

  CloseLogged(up.handles.request, "hRequest");
  CloseLogged(up.handles.connection, "hConnect");
  CloseLogged(up.handles.session, "hSession");
  LogDebug("@@@@@@@@ End Of InternetSendRequestEx Method @@@@@@@@ \n");
  return result;
}
