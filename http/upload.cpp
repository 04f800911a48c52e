// Uploads (see upload.h): the POST exchange both share, the text body and the
// file sent in chunks. The exchange's restart differs from the request core's:
// only the request is replaced, the session and connection stay.
#include "http/upload.h"

#include <windows.h>
#include <winhttp.h>

#include <cstring>
#include <new>
#include <vector>

#include "agent/config/settings.h"
#include "agent/log/logger.h"
#include "agent/util/scopedhandle.h"
#include "http/httpinternal.h"
#include "http/winhttp_api.h"

namespace {

// The largest answer an upload reads into memory: what a 32-bit process can
// address at all.
constexpr uint64_t kLargestAnswer = 0xFFFFFFFFull;

// Reads an upload's response on an open request: headers, status (407 and any
// other status than 200 become the result) and, with `outData`, the answer.
int32_t ReadUploadResponse(const char* routine, RequestHandles& handles, const wchar_t* serverAddress,
                           OptText* outData) {
  if (const int32_t code = ReadResponseStatus(routine, handles)) return code;
  if (handles.statusCode != 200) {
    LogError("%s : Failed to post the data to the server %ls with http status code %d \n", routine, serverAddress,
             handles.statusCode);
    return handles.statusCode;
  }
  LogInfo("%s : Successfully posted the data to the server %ls \n", routine, serverAddress);
  if (!outData) return 0;

  // The answer is read into room for four times the announced length (plus a
  // little); a server sending more than that is cut off there.
  LogInfo("%s : Reading the response sent by the server %ls \n", routine, serverAddress);
  std::optional<uint32_t> contentLength;
  if (const int32_t code = QueryContentLength(handles.request.Get(), contentLength)) {
    LogError("%s :  WinHttpQueryHeaders failed with the error code while getting content length -> %d \n", routine,
             code);
    HttpGetLastError(code);
    return code;
  }
  // Counted in 64 bits: the room for a length near 4 GB does not fit 32. The
  // program is a 32-bit process, so more than 4 GB can never be held; the
  // buffer grows with what arrives, and a growth that fails ends the call too.
  const uint64_t capacity = 4 * (static_cast<uint64_t>(*contentLength) + 2) + 4 - 1;  // room for the terminator kept
  auto cannotHold = [&]() {
    LogError("%s : The answer of %u bytes announced by the server %ls cannot be held in memory \n", routine,
             *contentLength, serverAddress);
    return static_cast<int32_t>(ERROR_INVALID_DATA);
  };
  std::string answer;
  if (capacity > kLargestAnswer || capacity > answer.max_size()) return cannotHold();
  uint64_t total = 0;
  while (total < capacity) {
    const DWORD want = static_cast<DWORD>(capacity - total < kReadChunk ? capacity - total : kReadChunk);
    try {
      answer.resize(static_cast<size_t>(total + want));
    } catch (const std::bad_alloc&) {
      return cannotHold();
    }
    DWORD read = 0;
    if (!g_winHttp.ReadData(handles.request.Get(), answer.data() + total, want, &read)) {
      // A broken answer is not handed on as if it were whole.
      const int32_t code = LastCode();
      LogError("%s :  Error in WinHttpReadData --> %d \n", routine, code);
      HttpGetLastError(code);
      return code;
    }
    if (read == 0) break;
    LogDebug("%s : Received response from server %ls: \n %s \n", routine, serverAddress,
             std::string(answer, static_cast<size_t>(total), read).c_str());
    LogDebug("%s :  No Of Bytes -> %d \n", routine, static_cast<int>(read));
    total += read;
  }
  answer.resize(static_cast<size_t>(total));
  *outData = std::move(answer);
  return 0;
}

// A POST of the agent on its own handles: connection, request, the resend
// policy with one restart that replaces only the request, and the response
// read by ReadUploadResponse. What differs between the uploads is given here
// and in the SendBody step.
class PostExchange {
 public:
  struct Settings {
    const char* routine;  // name at the front of the log lines
    bool useProxy;
    bool https;
    const wchar_t* serverAddress;
    const wchar_t* proxyUser;
    const wchar_t* proxyPassword;
    const wchar_t* objectPath;
    OptText* outData;
    bool keepAlive = false;             // "Connection: Keep-Alive" rather than "close"
    bool timed = false;                 // the connect time-out from the settings
    bool anyAcceptType = false;         // "*/*" rather than WinHTTP's default accept types
    bool explainOptionFailure = false;  // a failed option is explained by HttpGetLastError
  };

  PostExchange(const Settings& settings, SendOnce sendBody) : s_(settings), sendBody_(std::move(sendBody)) {}

  // Session, connection and request. 0, or the code of the failed step
  // (logged; the handles opened so far are closed).
  int32_t Open(const wchar_t* proxyServer, const wchar_t* proxyBypass, int32_t port, bool proxyNameAtInfo) {
    const ConnectionTarget target{s_.routine,       s_.useProxy, s_.https,        proxyServer,         proxyBypass,
                                  s_.serverAddress, port,        proxyNameAtInfo, CloseReport::kError};
    if (const int32_t code = OpenConnection(target, handles_, requestFlags_)) return code;
    return OpenRequestOrClose();
  }

  // Sends, reads the response and closes the handles; the call's result.
  int32_t ExchangeAndClose() {
    const int32_t result = Exchange();
    handles_.Close(CloseReport::kError, s_.routine);
    return result;
  }

 private:
  // A fresh POST request on the open connection. 0, or the code of a failed
  // open (connection and session are then closed).
  int32_t OpenRequestOrClose() {
    LPCWSTR anyType[] = {L"*/*", nullptr};
    HINTERNET request =
        g_winHttp.OpenRequest(handles_.connection.Get(), L"POST", s_.objectPath, nullptr, WINHTTP_NO_REFERER,
                              s_.anyAcceptType ? anyType : WINHTTP_DEFAULT_ACCEPT_TYPES, requestFlags_);
    if (request) {
      handles_.request.Reset(request);
      return 0;
    }
    const int32_t code = LastCode();
    LogError("%s :  Error in WinHttpOpenRequest --> %d \n", s_.routine, code);
    HttpGetLastError(code);
    handles_.Close(CloseReport::kError, s_.routine);
    return code;
  }

  // Headers and options of a fresh request; 0 or the code of a failed option.
  int32_t Prepare() {
    AddConnectionHeader(s_.routine, handles_.request.Get(), s_.keepAlive);
    const RequestOptions options{s_.routine,  s_.timed,     s_.https,       s_.useProxy,
                                 s_.proxyUser, s_.proxyPassword, s_.explainOptionFailure};
    return SetRequestOptions(options, handles_.request.Get());
  }

  // Sends until a response arrives (or five attempts are used); then reads
  // the status and, when wanted, the answer.
  int32_t Exchange() {
    bool restartUsed = false;
    for (;;) {
      if (const int32_t code = Prepare()) return code;
      bool restart = false;
      int32_t result = 0;
      if (!SendWithResends(s_.routine, handles_.request.Get(), s_.serverAddress, sendBody_, restartUsed, restart,
                           result))
        return result;
      if (!restart) break;
      // The refused request is replaced; session and connection stay.
      handles_.CloseRequest(CloseReport::kError, s_.routine);
      if (const int32_t code = OpenRequestOrClose()) return code;
    }
    return ReadUploadResponse(s_.routine, handles_, s_.serverAddress, s_.outData);
  }

  Settings s_;
  SendOnce sendBody_;
  DWORD requestFlags_ = kRequestFlagRefresh;
  RequestHandles handles_;
};

// One attempt of the chunked upload: the request with the size header, then
// the file in chunks.
SendOutcome SendFileInChunks(HINTERNET request, const char* filePath, uint32_t fileSize, DWORD chunkSize,
                             int32_t& code) {
  KernelHandle file(::CreateFileA(filePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    code = LastCode();
    LogError("InternetSendRequestByBitRate : Error occured while opening the file %s --> %d \n", filePath, code);
    return SendOutcome::kAbort;
  }
  const std::string header = "Content-type: multipart/form-data; filesize=\"" + std::to_string(fileSize) + "\"";
  LogInfo("InternetSendRequestByBitRate: Header buffer: %s", header.c_str());
  // Replaced rather than added, so that a resend on the same request does
  // not carry the header twice.
  const std::wstring wideHeader(header.begin(), header.end());
  if (!g_winHttp.AddRequestHeaders(request, wideHeader.c_str(), static_cast<DWORD>(-1),
                                   WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
    LogError("InternetSendRequestByBitRate :  Error in WinHttpAddRequestHeaders (second Header ) --> %d \n",
             LastCode());
  if (!g_winHttp.SendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, fileSize, 0)) {
    code = LastCode();
    return SendOutcome::kSendFailed;
  }
  // A body cut short (a failed read or write, or a file that shrank) is
  // never passed off as the whole file: the attempt ends with its code.
  std::vector<char> chunk(chunkSize < fileSize ? chunkSize : fileSize);
  uint32_t sent = 0;
  while (sent < fileSize) {
    const DWORD want = fileSize - sent < chunkSize ? fileSize - sent : chunkSize;
    DWORD got = 0;
    const bool readOk = ::ReadFile(file.Get(), chunk.data(), want, &got, nullptr) != FALSE;
    if (!readOk || got != want) {
      code = readOk ? ERROR_HANDLE_EOF : LastCode();
      LogError("InternetSendRequestByBitRate : Error in reading the file %s --> %d \n", filePath, code);
      return SendOutcome::kAbort;
    }
    DWORD written = 0;
    if (!g_winHttp.WriteData(request, chunk.data(), got, &written) || written != got) {
      code = LastCode();
      if (code == 0) code = ERROR_WRITE_FAULT;
      LogError("InternetSendRequestByBitRate :  Error in WinHttpWriteData --> %d \n", code);
      HttpGetLastError(code);
      return SendOutcome::kAbort;
    }
    sent += written;
  }
  return SendOutcome::kSent;
}

}  // namespace

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
    return ERROR_INVALID_DATA;
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

int32_t InternetSendRequestByBitRate(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                                     const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                                     const wchar_t* proxyPassword, const wchar_t* objectPath, const char* filePath,
                                     OptText* outData, int32_t /*ignored1*/, bool /*ignored2*/, int32_t chunkSize) {
  LogDebug("***************** Inside InternetSendRequestByBitRate Method ***************** \n");
  LogInfo("InternetSendRequestByBitRate : Tarnwick Server & Port -> %ls : %d \n", serverAddress, port);
  LogDebug("InternetSendRequestByBitRate : URL to Post -> %ls \n", objectPath);
  auto finish = [](int32_t result) {
    LogDebug("***************** End Of InternetSendRequestByBitRate Method ***************** \n");
    return result;
  };
  if (!filePath) return finish(ERROR_INVALID_DATA);

  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  uint64_t size = 0;
  if (::GetFileAttributesExA(filePath, GetFileExInfoStandard, &attributes) &&
      !(attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    size = (static_cast<uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
  if (size == 0) {
    LogError("InternetSendRequestByBitRate: File Size is zero: %d\n", 0);
    return finish(ERROR_INVALID_DATA);
  }
  // The request announces its length in 32 bits.
  if (size > 0xFFFFFFFFull) {
    LogError("InternetSendRequestByBitRate: File Size is too large to send: %llu\n",
             static_cast<unsigned long long>(size));
    return finish(ERROR_INVALID_DATA);
  }
  if (chunkSize <= 0) {
    LogError("InternetSendRequestByBitRate: Invalid chunk size: %d\n", chunkSize);
    return finish(ERROR_INVALID_DATA);
  }

  const uint32_t fileSize = static_cast<uint32_t>(size);
  const DWORD chunk = static_cast<DWORD>(chunkSize);
  auto sendFile = [=](HINTERNET request, int32_t& code) {
    return SendFileInChunks(request, filePath, fileSize, chunk, code);
  };
  PostExchange::Settings settings{"InternetSendRequestByBitRate", useProxy, IsHttpsProtocol(protocol),
                                  serverAddress, proxyUser, proxyPassword, objectPath, outData};
  // Always kept alive, and a failed option is explained.
  settings.keepAlive = true;
  settings.anyAcceptType = true;
  settings.explainOptionFailure = true;
  PostExchange up(settings, sendFile);
  if (const int32_t code = up.Open(proxyServer, proxyBypass, port, false)) return finish(code);
  return finish(up.ExchangeAndClose());
}
