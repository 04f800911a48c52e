// Upload of a text body by POST (see upload.h), and the POST exchange it shares
// with the chunked upload. Its restart differs from the request core's: only
// the request is replaced, the session and connection stay.
#include "http/upload.h"

#include <windows.h>
#include <winhttp.h>

#include <cstring>
#include <cwchar>

#include "agent/config/settings.h"
#include "agent/log/logger.h"
#include "http/httpinternal.h"
#include "http/requestcore.h"
#include "http/winhttp_api.h"

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

// ---------------------------------------------------------------------------
// PostExchange: the steps both uploads share.

int32_t PostExchange::Open(const wchar_t* proxyServer, const wchar_t* proxyBypass, int32_t port,
                           bool proxyNameAtInfo) {
  const ConnectionTarget target{s_.routine,  s_.useProxy,      s_.https, proxyServer,
                                proxyBypass, s_.serverAddress, port,     proxyNameAtInfo};
  if (const int32_t code =
          OpenConnection(target, handles_, requestFlags_, [this](HINTERNET& h) { Close(h, "hSession"); }))
    return code;
  return OpenRequestOrClose();
}

// A fresh POST request on the open connection. 0, or the code of a failed
// open (connection and session are then closed).
int32_t PostExchange::OpenRequestOrClose() {
  LPCWSTR anyType[] = {L"*/*", nullptr};
  handles_.request = g_winHttp.OpenRequest(handles_.connection, L"POST", s_.objectPath, nullptr, WINHTTP_NO_REFERER,
                                           s_.anyAcceptType ? anyType : WINHTTP_DEFAULT_ACCEPT_TYPES, requestFlags_);
  if (handles_.request) return 0;
  const int32_t code = LastCode();
  handles_.request = kNoHandle;
  LogError("%s :  Error in WinHttpOpenRequest --> %d \n", s_.routine, code);
  HttpGetLastError(code);
  Close(handles_.connection, "hConnect");
  Close(handles_.session, "hSession");
  return code;
}

// Headers and options of a fresh request; 0 or the code of a failed option.
int32_t PostExchange::Prepare() {
  AddConnectionHeader(s_.routine, handles_.request, s_.keepAlive);
  const RequestOptions options{s_.routine,   s_.timed,         s_.https,
                               s_.useProxy,  s_.proxyUser,     s_.proxyPassword,
                               s_.explainOptionFailure};
  return SetRequestOptions(options, handles_.request);
}

// Replaces the request after a refused send or answer; session and
// connection stay.
int32_t PostExchange::Restart() {
  Close(handles_.request, "hRequest");
  return OpenRequestOrClose();
}

// Sends until a response arrives (or five attempts are used); then reads
// the status and, when wanted, the answer.
int32_t PostExchange::Exchange() {
  bool restartUsed = false;
  for (;;) {
    if (const int32_t code = Prepare()) return code;
    bool restart = false;
    int32_t lastReceiveError = 0;
    int32_t result = 0;
    if (!SendWithResends(s_.routine, handles_.request, s_.serverAddress, sendBody_, restartUsed, restart,
                         lastReceiveError, result))
      return result;
    if (!restart) break;
    if (const int32_t code = Restart()) return code;
  }
  return ReadUploadResponse(s_.routine, handles_, s_.serverAddress, s_.outData);
}

int32_t PostExchange::ExchangeAndClose() {
  const int32_t result = Exchange();
  Close(handles_.request, "hRequest");
  Close(handles_.connection, "hConnect");
  Close(handles_.session, "hSession");
  return result;
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
  const DWORD bodyLength = static_cast<DWORD>(length);

  auto sendBody = [=](HINTERNET request, int32_t& code) {
    if (requestType == SEND_DATA_TIMED) {
      DWORD timeout = static_cast<DWORD>(gv_httpRequestTimeout);
      if (!g_winHttp.SetOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout))
        LogError("InternetSendRequestEx :  Error in WinHttpSetOption before send request--> %d \n", LastCode());
    }
    if (requestType == SEND_FORM_DATA) {
      // Replaced rather than added, so that a resend on the same request
      // does not carry the content type twice.
      if (!g_winHttp.AddRequestHeaders(request, L"Content-Type: multipart/form-data", static_cast<DWORD>(-1),
                                       WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
        LogError("InternetSendRequestEx :  Error in WinHttpAddRequestHeaders (second Header ) --> %d \n", LastCode());
    }
    if (!g_winHttp.SendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, const_cast<char*>(body), bodyLength,
                               bodyLength, 0)) {
      code = LastCode();
      return SendOutcome::kSendFailed;
    }
    return SendOutcome::kSent;
  };
  PostExchange::Settings settings{"InternetSendRequestEx", useProxy, IsHttpsProtocol(protocol), serverAddress,
                                  proxyUser, proxyPassword, objectPath, outData};
  settings.keepAlive = keepAlive;
  settings.timed = requestType == SEND_DATA_TIMED;
  PostExchange up(settings, sendBody);
  if (const int32_t code = up.Open(proxyServer, proxyBypass, port, true)) return code;
  const int32_t result = up.ExchangeAndClose();
  LogDebug("@@@@@@@@ End Of InternetSendRequestEx Method @@@@@@@@ \n");
  return result;
}
