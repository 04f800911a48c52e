// The steps shared by the downloaders (see downloadsteps.h), with the calling
// routine's name in the log lines.
#include "http/downloadsteps.h"

#include "agent/config/settings.h"
#include "agent/log/logger.h"
#include "agent/util/fileutil.h"
#include "agent/util/textconv.h"
#include "http/downloadfiles.h"
#include "http/httpinternal.h"
#include "http/requestcore.h"
#include "http/winhttp_api.h"

int32_t CheckDownloadArguments(const char* routine, const DownloadCall& call) {
  if (call.requestType != GET_DATA && call.requestType != DOWNLOAD_FILE) {
    LogError("%s : Unsupported request type %d \n", routine, call.requestType);
    return ERROR_INVALID_DATA;
  }
  if (call.requestType == DOWNLOAD_FILE && (!call.destination || !*call.destination)) {
    LogError("%s : No destination file given for the download \n", routine);
    return ERROR_INVALID_DATA;
  }
  if (call.requestType == GET_DATA && !call.outData) {
    LogError("%s : No place given for the downloaded data \n", routine);
    return ERROR_INVALID_DATA;
  }
  if (!call.objectPath || !call.serverAddress) {
    LogError("%s : No server or path given for the download \n", routine);
    return ERROR_INVALID_DATA;
  }
  return 0;
}

void LogDownloadStart(const char* routine, const DownloadCall& call) {
  LogDebug("@@@@@@@@ Inside %s Method @@@@@@@@ \n", routine);
  LogInfo("%s : Tarnwick Server & Port -> %ls : %d \n", routine, call.serverAddress, call.port);
  LogDebug("%s : URL to Get -> %ls \n", routine, call.objectPath);
}

int32_t LogDownloadEnd(const char* routine, int32_t result) {
  LogDebug("@@@@@@@@ End Of %s Method @@@@@@@@ \n", routine);
  return result;
}

int32_t FirstAnswerStatus(int32_t status, const char* notModified, const char* failed) {
  if (status == 200) return 0;
  if (status == 304) {
    LogInfo(notModified, L"");
    return kNotModified;
  }
  LogError(failed, status);
  return status;
}

int32_t OpenDownloadRequest(const DownloadCall& c, RequestHandles& handles, bool keepAlive, bool acceptGzip) {
  return GetInternetRequestHandle(c.useProxy, c.protocol, c.serverAddress, c.port, c.proxyServer, c.proxyBypass,
                                  c.proxyUser, c.proxyPassword, c.objectPath, c.destination, nullptr, c.requestType,
                                  keepAlive, handles, acceptGzip);
}

std::wstring RangeHeader(uint64_t first, uint64_t last) {
  return L"Range: bytes=" + std::to_wstring(first) + L"-" + std::to_wstring(last);
}

std::wstring RangeValidator(HINTERNET answer) {
  std::wstring validator;
  if (QueryHeaderText(answer, WINHTTP_QUERY_ETAG, WINHTTP_HEADER_NAME_BY_INDEX, validator) == 0 &&
      !validator.empty() && validator.compare(0, 2, L"W/") != 0)
    return validator;
  if (QueryHeaderText(answer, WINHTTP_QUERY_LAST_MODIFIED, WINHTTP_HEADER_NAME_BY_INDEX, validator) == 0)
    return validator;
  return std::wstring();
}

int32_t SendRangeRequest(const DownloadCall& call, RequestHandles& handles, const std::wstring& range,
                         const std::wstring& validator, bool keepAlive) {
  handles.Close();
  // Both lines go in one header addition, CR LF between them.
  const std::wstring headers = validator.empty() ? range : range + L"\r\nIf-Range: " + validator;
  handles.requestKind = RequestKind::kRangedGet;
  handles.extraHeader = headers.c_str();
  handles.statusCode = 0;
  const int32_t rc = OpenDownloadRequest(call, handles, keepAlive, false);
  handles.extraHeader = nullptr;
  return rc;
}

bool RangedAnswerContinues(const char* routine, HINTERNET request, uint64_t first,
                           std::optional<uint32_t> expectedLength) {
  ContentRange answered;
  const bool continues = QueryContentRange(request, answered) && answered.first == first &&
                         (!answered.total || (expectedLength && *answered.total == *expectedLength));
  if (!continues)
    LogError("%s : The server's answer does not continue the file at byte %llu of %llu; the download ends \n",
             routine, static_cast<unsigned long long>(first),
             static_cast<unsigned long long>(expectedLength.value_or(0)));
  return continues;
}

int32_t AllowWholeFileAnswer(const char* routine, HINTERNET answer, uint64_t first, bool& restarted,
                             int32_t shortBodyCode) {
  std::optional<uint32_t> length;
  if (QueryContentLength(answer, length) == 0 && *length == 0) {
    LogError("%s : The server sent an empty file instead of the bytes from %llu; the download ends \n", routine,
             static_cast<unsigned long long>(first));
    return shortBodyCode;
  }
  if (first == 0) return 0;
  if (restarted) {
    LogError("%s : The server sent the whole file again instead of the bytes from %llu; the download ends \n", routine,
             static_cast<unsigned long long>(first));
    return ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
  }
  restarted = true;
  return 0;
}

int32_t ReadDownloadLength(const char* routine, HINTERNET request, bool unknownAccepted,
                           std::optional<uint32_t>& length) {
  const int32_t code = QueryContentLength(request, length);
  if (code != 0 && !(unknownAccepted && IsUnknownLength(code))) {
    LogError("%s :  Error in Content Length Header -> %d \n", routine, code);
    HttpGetLastError(code);
    return code;
  }
  LogInfo("%s : Content Length of the request file: %u Bytes\n", routine, length.value_or(0));
  return 0;
}

int32_t QueryAvailableFailed(const char* routine) {
  const int32_t code = LastCode();
  LogError("%s : Error occured in WinHttpQueryDataAvailable --> %d \n", routine, code);
  HttpGetLastError(code);
  return code;
}

bool QueryAvailableOrRecover(const char* routine, RequestHandles& handles, DWORD& available,
                             const std::function<bool(int32_t code)>& recoverable,
                             const std::function<int32_t()>& recover, int32_t& result) {
  if (g_winHttp.QueryDataAvailable(handles.request.Get(), &available)) return true;
  const int32_t code = QueryAvailableFailed(routine);
  if (!recoverable(code)) {
    result = code;
    return false;
  }
  if (const int32_t rc = recover()) {
    result = rc;
    return false;
  }
  if (g_winHttp.QueryDataAvailable(handles.request.Get(), &available)) return true;
  result = QueryAvailableFailed(routine);
  return false;
}

int32_t ReadBodyBytes(const char* routine, HINTERNET request, char* buffer, DWORD want, DWORD& read) {
  read = 0;
  if (g_winHttp.ReadData(request, buffer, want, &read)) return 0;
  const int32_t code = LastCode();
  LogError("%s :  Error in WinHttpReadData --> %d \n", routine, code);
  HttpGetLastError(code);
  return code;
}

std::wstring DownloadTempFilePath(const DownloadCall& call) {
  return call.requestType == DOWNLOAD_FILE ? StagingPathBeside(call.destination) : GetDataTempFilePath();
}

void CreateDestinationFolder(const char* routine, const DownloadCall& call) {
  if (call.requestType == DOWNLOAD_FILE && CreateFolder(call.destination) != 0)
    LogError("%s : Failed to create the destination directory for the destination file %ls \n", routine,
             call.destination);
}

std::wstring GetDataTempFilePath() {
  std::wstring folder;
  // TEMP as the configuration read it ("A" interface: the system code page).
  SystemCodePageToWide(gv_tempPath.c_str(), folder);
  if (folder.empty()) {
    // The configuration keeps TEMP only when it is short; read it here otherwise.
    const DWORD n = ::GetEnvironmentVariableW(L"TEMP", nullptr, 0);
    if (n > 1) {
      std::wstring value(n, L'\0');
      const DWORD got = ::GetEnvironmentVariableW(L"TEMP", value.data(), n);
      if (got > 0 && got < n) folder.assign(value.c_str(), got);
    }
  }
  if (folder.empty()) {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD got = ::GetTempPathW(MAX_PATH + 1, temp);
    if (got > 0 && got <= MAX_PATH) folder.assign(temp, got);
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  }
  return folder + L"\\tw" + ThreadIdText() + L".tmp";
}

int LoadDatafromFile(OptText& out) {
  const std::wstring path = GetDataTempFilePath();
  LogDebug("LoadDatafromFile: tmpDataFilePath, %s\n", Utf8(path.c_str()).c_str());
  std::string data;
  if (!ReadTextFile(path, data)) return 0;
  out = std::move(data);
  return 1;
}

int32_t DeliverGetData(const char* routine, OptText& outData) {
  if (!LoadDatafromFile(outData)) {
    LogError("%s: could n't read the data from .tmp file \n", routine);
    return kDataNotReadable;
  }
  LogDebug("Data in memory : %s\n", outData.value_or("").c_str());
  return 0;
}
