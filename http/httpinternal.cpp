// The helpers and request steps shared by the transfer routines (see
// httpinternal.h): one copy of each, with the calling routine's name in the
// log lines.
#include "http/httpinternal.h"

#include <cwchar>

#include "agent/config/settings.h"
#include "agent/log/logger.h"
#include "agent/util/textconv.h"
#include "http/winhttp_api.h"

std::string Utf8(const wchar_t* text) {
  std::string out;
  if (text) ChangeWideToUtf8Str(text, out);
  return out;
}

std::wstring ThreadIdText() { return std::to_wstring(::GetCurrentThreadId()); }

std::wstring FileApiPath(const std::wstring& path) {
  if (path.size() < MAX_PATH - 12 || path.rfind(L"\\\\?\\", 0) == 0) return path;
  if (path.size() > 2 && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
  if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  return path;
}

void FileHandle::Close() {
  if (h_ != INVALID_HANDLE_VALUE) {
    const DWORD saved = ::GetLastError();
    ::CloseHandle(h_);
    ::SetLastError(saved);
    h_ = INVALID_HANDLE_VALUE;
  }
}

bool WriteAll(HANDLE file, const char* data, size_t size) {
  while (size > 0) {
    const DWORD part = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(file, data, part, &written, nullptr)) return false;
    if (written == 0) {
      ::SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

void CloseLogged(const char* routine, HINTERNET& h, const char* name) {
  if (IsOpen(h) && !g_winHttp.CloseHandle(h)) {
    const int32_t code = LastCode();
    LogError("%s :  Error in WinHttpCloseHandle %s --> %d \n", routine, name, code);
    HttpGetLastError(code);
  }
  h = kNoHandle;
}

int32_t QueryContentLength(HINTERNET request, DWORD& length, bool& known, bool absentIsError) {
  length = 0;
  known = false;
  DWORD size = sizeof length;
  if (g_winHttp.QueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &length, &size, WINHTTP_NO_HEADER_INDEX)) {
    known = true;
    return 0;
  }
  const int32_t code = LastCode();
  length = 0;
  if (code == ERROR_INSUFFICIENT_BUFFER || (code == ERROR_WINHTTP_HEADER_NOT_FOUND && !absentIsError)) return 0;
  return code;
}

bool QueryContentRange(HINTERNET request, uint64_t& first, std::optional<uint64_t>& total) {
  wchar_t value[128] = {};
  DWORD size = sizeof value - sizeof(wchar_t);
  if (!g_winHttp.QueryHeaders(request, WINHTTP_QUERY_CONTENT_RANGE, WINHTTP_HEADER_NAME_BY_INDEX, value, &size,
                              WINHTTP_NO_HEADER_INDEX))
    return false;
  const wchar_t* p = std::wcsstr(value, L"bytes");
  if (!p) return false;
  p += 5;
  while (*p == L' ' || *p == L'=') ++p;
  if (*p < L'0' || *p > L'9') return false;
  first = 0;
  for (; *p >= L'0' && *p <= L'9'; ++p) first = first * 10 + static_cast<uint64_t>(*p - L'0');
  const wchar_t* slash = std::wcschr(p, L'/');
  if (slash && slash[1] >= L'0' && slash[1] <= L'9') {
    uint64_t n = 0;
    for (p = slash + 1; *p >= L'0' && *p <= L'9'; ++p) n = n * 10 + static_cast<uint64_t>(*p - L'0');
    total = n;
  }
  return true;
}

namespace {

// A failed WinHttpQueryDataAvailable: logged and explained; its code.
int32_t QueryAvailableFailed(const char* routine) {
  const int32_t code = LastCode();
  LogError("%s : Error occured in WinHttpQueryDataAvailable --> %d \n", routine, code);
  HttpGetLastError(code);
  return code;
}

}  // namespace

bool QueryAvailableOrRecover(const char* routine, RequestHandles& handles, DWORD& available,
                             const std::function<bool(int32_t code)>& recoverable,
                             const std::function<int32_t()>& recover, int32_t& result) {
  if (g_winHttp.QueryDataAvailable(handles.request, &available)) return true;
  const int32_t code = QueryAvailableFailed(routine);
  if (!recoverable(code)) {
    result = code;
    return false;
  }
  if (const int32_t rc = recover()) {
    result = rc;
    return false;
  }
  if (g_winHttp.QueryDataAvailable(handles.request, &available)) return true;
  result = QueryAvailableFailed(routine);
  return false;
}

int32_t OpenDownloadRequest(const DownloadCall& c, RequestHandles& handles, bool keepAlive, bool acceptGzip) {
  return GetInternetRequestHandle(c.useProxy, c.protocol, c.serverAddress, c.port, c.proxyServer, c.proxyBypass,
                                  c.proxyUser, c.proxyPassword, c.objectPath, c.destination, nullptr, c.requestType,
                                  keepAlive, handles, acceptGzip);
}

int32_t AddConnectionHeader(const char* routine, HINTERNET request, bool keepAlive) {
  const wchar_t* connectionHeader = keepAlive ? L"Connection: Keep-Alive" : L"Connection: close";
  if (g_winHttp.AddRequestHeaders(request, connectionHeader, static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD))
    return 0;
  const int32_t code = LastCode();
  LogError("%s :  Error in WinHttpAddRequestHeaders --> %d \n", routine, code);
  HttpGetLastError(code);
  return code;
}

int32_t SetRequestOptions(const RequestOptions& o, HINTERNET request) {
  auto failed = [&o]() {
    const int32_t code = LastCode();
    LogError("%s :  Error in WinHttpSetOption --> %d \n", o.routine, code);
    if (o.explainFailure) HttpGetLastError(code);
    return code;
  };
  if (o.connectTimeout) {
    DWORD timeout = static_cast<DWORD>(gv_httpConnectionTimeout);
    if (!g_winHttp.SetOption(request, WINHTTP_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout)) return failed();
  }
  if (o.https) {
    // Certificates of the agent's servers are often self-issued: accept
    // them up front rather than fail the first send.
    DWORD securityFlags = 0;
    DWORD size = sizeof securityFlags;
    if (!g_winHttp.QueryOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &securityFlags, &size)) return failed();
    securityFlags |= kIgnoreCertificateErrors;
    if (!g_winHttp.SetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &securityFlags, sizeof securityFlags))
      return failed();
    LogDebug("%s :  The request is updated with the internet option security flags. \n", o.routine);
  }
  // Credentials of one character (or none) are treated as not configured.
  if (o.useProxy && o.proxyUser && std::wcslen(o.proxyUser) > 1) {
    if (!g_winHttp.SetOption(request, WINHTTP_OPTION_PROXY_USERNAME, const_cast<wchar_t*>(o.proxyUser),
                             static_cast<DWORD>(std::wcslen(o.proxyUser))))
      return failed();
    if (o.proxyPassword && std::wcslen(o.proxyPassword) > 1 &&
        !g_winHttp.SetOption(request, WINHTTP_OPTION_PROXY_PASSWORD, const_cast<wchar_t*>(o.proxyPassword),
                             static_cast<DWORD>(std::wcslen(o.proxyPassword))))
      return failed();
  }
  return 0;
}

bool SendWithResends(const char* routine, HINTERNET request, const wchar_t* serverAddress, const SendOnce& send,
                     bool& restartUsed, bool& restart, int32_t& lastReceiveError, int32_t& result) {
  restart = false;
  bool received = false;
  for (int attempt = 0; attempt <= kLastAttempt && !received && !restart;) {
    int32_t code = 0;
    const SendOutcome outcome = send(request, code);
    if (outcome == SendOutcome::kAbort) {
      result = code;
      return false;
    }
    if (outcome == SendOutcome::kSendFailed) {
      if (code == ERROR_WINHTTP_LOGIN_FAILURE || code == ERROR_WINHTTP_OPERATION_CANCELLED) {
        LogInfo("%s : Going to close the request handle and going to resending the data to the server %ls \n",
                routine, serverAddress);
        if (!restartUsed) {
          restartUsed = true;
          restart = true;
          continue;
        }
      }
      LogError("%s :  Error in WinHttpSendRequest -> %d \n", routine, code);
      HttpGetLastError(code);
      result = code;
      return false;
    }

    if (g_winHttp.ReceiveResponse(request, nullptr)) {
      received = true;
      continue;
    }
    code = LastCode();
    lastReceiveError = code;
    if (code == ERROR_WINHTTP_RESEND_REQUEST) {
      LogInfo("%s : Resending the data to the server %ls \n", routine, serverAddress);
      g_winHttp.Sleep(kResendPauseMs);
      ++attempt;
    } else if (code == ERROR_WINHTTP_LOGIN_FAILURE || code == ERROR_WINHTTP_INVALID_SERVER_RESPONSE) {
      LogInfo("%s : Going to close the request handle and going to resending the data to the server %ls,as the "
              "error code received is %d \n",
              routine, serverAddress, code);
      if (!restartUsed) {
        restartUsed = true;
        restart = true;
      } else {
        ++attempt;
      }
    } else {
      LogInfo("%s :  Error - WinHttpReceiveResponse --> %d \n", routine, code);
      HttpGetLastError(code);
      result = code;
      return false;
    }
  }
  return true;
}

int32_t OpenConnection(const ConnectionTarget& t, RequestHandles& handles, DWORD& requestFlags,
                       const std::function<void(HINTERNET&)>& closeSession) {
  if (t.useProxy) {
    if (t.proxyNameAtInfo)
      LogInfo("%s : Proxy Server Name : %ls \n", t.routine, t.proxyServer);
    else
      LogDebug("%s : Proxy Server Name : %ls \n", t.routine, t.proxyServer);
    handles.session = g_winHttp.Open(L"TarnwickAgent", WINHTTP_ACCESS_TYPE_NAMED_PROXY, t.proxyServer, t.proxyBypass, 0);
  } else {
    handles.session = g_winHttp.Open(L"TarnwickAgent", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0);
  }
  if (!handles.session) {
    const int32_t code = LastCode();
    handles.session = kNoHandle;
    LogError("%s :  Error in WinHttpOpen --> %d \n", t.routine, code);
    HttpGetLastError(code);
    return code;
  }
  if (t.https) {
    SetSecureProtocols(handles.session);
    requestFlags |= kRequestFlagSecure;
  }
  handles.connection = g_winHttp.Connect(handles.session, t.serverAddress, static_cast<INTERNET_PORT>(t.port), 0);
  if (!handles.connection) {
    const int32_t code = LastCode();
    handles.connection = kNoHandle;
    LogError("%s :  Error in WinHttpConnect --> %d \n", t.routine, code);
    HttpGetLastError(code);
    closeSession(handles.session);
    return code;
  }
  return 0;
}
