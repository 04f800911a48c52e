// The request core: opens, decorates and sends one WinHTTP request with the
// bounded resend policy and reads the response status.
#include "http/requestcore.h"

#include "agent/config/settings.h"
#include "agent/log/logger.h"
#include "http/httpinternal.h"
#include "http/winhttp_api.h"

namespace {

constexpr const char* kRoutine = "GetInternetRequestHandle";

}  // namespace

int32_t GetInternetRequestHandle(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                                 const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                                 const wchar_t* proxyPassword, const wchar_t* objectPath, const wchar_t* /*destination*/,
                                 const void* /*unused*/, int32_t requestType, bool keepAlive, RequestHandles& handles,
                                 bool acceptGzip) {
  LogDebug("@@@@@@@@ Inside GetInternetRequestHandle Method @@@@@@@@ \n");
  const bool https = IsHttpsProtocol(protocol);
  const bool getData = requestType == GET_DATA;
  // A header the request had to go out without: the call reports it even when
  // a response came. Failed receives that a resend or restart recovered are
  // only logged: the response that arrived decides.
  int32_t headerError = 0;
  bool restartUsed = false;

  // One pass opens a fresh session, connection and request; a second pass
  // happens only for the one-time restart.
  for (;;) {
    DWORD requestFlags = kRequestFlagRefresh;
    const ConnectionTarget target{kRoutine,      useProxy, https, proxyServer,         proxyBypass,
                                  serverAddress, port,     false, CloseReport::kQuiet};
    if (const int32_t code = OpenConnection(target, handles, requestFlags)) return code;

    LPCWSTR acceptTypes[] = {L"*/*", nullptr};
    HINTERNET request =
        g_winHttp.OpenRequest(handles.connection.Get(), handles.requestKind == RequestKind::kHead ? L"HEAD" : L"GET",
                              objectPath, nullptr, WINHTTP_NO_REFERER, acceptTypes, requestFlags);
    if (!request) {
      const int32_t code = LastCode();
      LogError("GetInternetRequestHandle :  Error in WinHttpOpenRequest --> %d \n", code);
      HttpGetLastError(code);
      handles.Close();
      return code;
    }
    handles.request.Reset(request);

    headerError = AddConnectionHeader(kRoutine, request, keepAlive);
    // A ranged request without a range line has nothing to add.
    if (handles.requestKind == RequestKind::kRangedGet && handles.extraHeader) {
      if (!g_winHttp.AddRequestHeaders(request, handles.extraHeader, static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD)) {
        const int32_t code = LastCode();
        LogError("InternetGetRequestByBitrate :  Error in WinHttpAddRequestHeaders --> %d \n", code);
        headerError = code;
      }
    }
    const RequestOptions options{kRoutine, getData, https, useProxy, proxyUser, proxyPassword, true};
    if (const int32_t code = SetRequestOptions(options, request)) return code;

    auto send = [&](HINTERNET r, int32_t& code) {
      if (getData) {
        DWORD timeout = static_cast<DWORD>(gv_httpRequestTimeout);
        if (!g_winHttp.SetOption(r, WINHTTP_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout)) {
          code = LastCode();
          LogError("GetInternetRequestHandle :  Error in WinHttpSetOption before send request --> %d \n", code);
          HttpGetLastError(code);
          return SendOutcome::kAbort;
        }
      }
      LogInfo("GetInternetRequestHandle : IsAcceptEncodingGzip-Enabled -> %d\n", acceptGzip ? 1 : 0);
      BOOL sent;
      if (acceptGzip) {
        sent = g_winHttp.SendRequest(r, L"Accept-Encoding: gzip", 21, WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
        LogDebug("WinHttpSendRequest with \"Accept-Encoding: gzip\" Header\n");
      } else {
        sent = g_winHttp.SendRequest(r, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
      }
      if (sent) return SendOutcome::kSent;
      code = LastCode();
      return SendOutcome::kSendFailed;
    };
    bool restart = false;
    int32_t result = 0;
    if (!SendWithResends(kRoutine, request, serverAddress, send, restartUsed, restart, result))
      return result;
    if (!restart) break;
    // The restart starts over from a new session; the abandoned handles are
    // closed first.
    handles.Close();
  }

  // Without a response (five failed receives) the header read fails and ends the call.
  if (const int32_t code = ReadResponseStatus(kRoutine, handles)) return code;
  LogDebug("@@@@@@@@ End of GetInternetRequestHandle Method @@@@@@@@ \n");
  return headerError;
}
