// The request steps and header reads shared by the transfer routines (see
// httpinternal.h): one copy of each, with the calling routine's name in the
// log lines.
#include "http/httpinternal.h"

#include <cwchar>
#include <vector>

#include "agent/config/settings.h"
#include "agent/log/logger.h"
#include "agent/os/osinfo.h"
#include "agent/util/textconv.h"
#include "http/winhttp_api.h"
#include "http/winhttp_errors.h"

namespace {

constexpr DWORD kSecureProtocolsTls10To12 = 0xA80;

// The raw header block (CRLF-separated, terminated); false with the thread's
// last error set when it cannot be read.
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

// A decimal number at `p` (moved past it); false when there is none or it
// does not fit 64 bits.
bool ReadNumber(const wchar_t*& p, uint64_t& out) {
  if (*p < L'0' || *p > L'9') return false;
  out = 0;
  for (; *p >= L'0' && *p <= L'9'; ++p) {
    if (out > (UINT64_MAX - 9) / 10) return false;
    out = out * 10 + static_cast<uint64_t>(*p - L'0');
  }
  return true;
}

}  // namespace

std::string Utf8(const wchar_t* text) {
  std::string out;
  if (text) ChangeWideToUtf8Str(text, out);
  return out;
}

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

int32_t OpenConnection(const ConnectionTarget& t, RequestHandles& handles, DWORD& requestFlags) {
  handles.Close();
  HINTERNET session;
  if (t.useProxy) {
    if (t.proxyNameAtInfo)
      LogInfo("%s : Proxy Server Name : %ls \n", t.routine, t.proxyServer);
    else
      LogDebug("%s : Proxy Server Name : %ls \n", t.routine, t.proxyServer);
    session = g_winHttp.Open(L"TarnwickAgent", WINHTTP_ACCESS_TYPE_NAMED_PROXY, t.proxyServer, t.proxyBypass, 0);
  } else {
    session = g_winHttp.Open(L"TarnwickAgent", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, 0);
  }
  if (!session) {
    const int32_t code = LastCode();
    LogError("%s :  Error in WinHttpOpen --> %d \n", t.routine, code);
    HttpGetLastError(code);
    return code;
  }
  handles.session.Reset(session);
  if (t.https) {
    SetSecureProtocols(session);
    requestFlags |= kRequestFlagSecure;
  }
  HINTERNET connection = g_winHttp.Connect(session, t.serverAddress, static_cast<INTERNET_PORT>(t.port), 0);
  if (!connection) {
    const int32_t code = LastCode();
    LogError("%s :  Error in WinHttpConnect --> %d \n", t.routine, code);
    HttpGetLastError(code);
    handles.Close(t.closeReport, t.routine);
    return code;
  }
  handles.connection.Reset(connection);
  return 0;
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
                     bool& restartUsed, bool& restart, int32_t& result) {
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

int32_t ReadResponseStatus(const char* routine, RequestHandles& handles) {
  std::wstring headers;
  if (!QueryRawHeaders(handles.request.Get(), headers)) {
    const int32_t code = LastCode();
    LogError("%s :  Error in WinHttpQueryHeaders --> %d \n", routine, code);
    HttpGetLastError(code);
    return code;
  }
  LogDebug("%s :  Header Informations : \n %ls \n", routine, headers.c_str());

  DWORD status = 0;
  DWORD statusSize = sizeof status;
  if (!g_winHttp.QueryHeaders(handles.request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
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
  return 0;
}

int32_t QueryHeaderText(HINTERNET request, DWORD query, const wchar_t* name, std::wstring& out) {
  out.clear();
  DWORD size = 0;
  if (g_winHttp.QueryHeaders(request, query, name, WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX))
    return 0;
  int32_t code = LastCode();
  if (code != ERROR_INSUFFICIENT_BUFFER) return code;
  std::vector<wchar_t> value(size / sizeof(wchar_t) + 1, L'\0');
  if (!g_winHttp.QueryHeaders(request, query, name, value.data(), &size, WINHTTP_NO_HEADER_INDEX)) return LastCode();
  out.assign(value.data());
  return 0;
}

int32_t QueryContentLength(HINTERNET request, std::optional<uint32_t>& length) {
  length.reset();
  DWORD value = 0;
  DWORD size = sizeof value;
  if (!g_winHttp.QueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &value, &size, WINHTTP_NO_HEADER_INDEX))
    return LastCode();
  length = value;
  return 0;
}

bool QueryContentRange(HINTERNET request, ContentRange& range) {
  std::wstring value;
  if (QueryHeaderText(request, WINHTTP_QUERY_CONTENT_RANGE, WINHTTP_HEADER_NAME_BY_INDEX, value) != 0) return false;
  const wchar_t* p = std::wcsstr(value.c_str(), L"bytes");
  if (!p) return false;
  p += 5;
  while (*p == L' ' || *p == L'=') ++p;
  if (!ReadNumber(p, range.first) || *p++ != L'-' || !ReadNumber(p, range.last) || *p++ != L'/') return false;
  uint64_t total = 0;
  range.total.reset();
  if (ReadNumber(p, total)) range.total = total;
  return true;
}
