// Plain downloads: the answer of one GET is written to a temporary file named
// after the calling thread, checked against Content-Length, decompressed when
// it came gzip-encoded, and only then handed on (read into memory or moved over
// the destination), so that a failed download never touches the destination.
#include "http/download.h"

#include <windows.h>
#include <winhttp.h>
#include <zlib.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include "agent/log/logger.h"
#include "agent/registry/registry.h"
#include "agent/util/errortext.h"
#include "agent/util/fileutil.h"
#include "agent/util/textconv.h"
#include "agent/util/timeutil.h"
#include "http/httpinternal.h"
#include "http/requestcore.h"
#include "http/resume.h"
#include "http/winhttp_api.h"

namespace {

// The size of the write buffer in front of the temporary file (as large as the
// largest read): enough for full-speed transfers, small enough to keep the
// memory of a download flat whatever the file size.
constexpr size_t kWriteBufferSize = 1u << 20;
constexpr size_t kInflateChunk = 256u * 1024u;

// Narrow texts filled by "A" interfaces (the TEMP folder) are in the system code page.
std::wstring AnsiToWide(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

// The temporary file of one download with a write buffer in front of it.
// Write errors surface at the write that fills the buffer or at Flush.
class TempFile {
 public:
  // 0 or the Windows error of the creation.
  int32_t Create(const std::wstring& path) {
    file_.Reset(::CreateFileW(FileApiPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_.Valid()) return LastCode();
    buffer_.reserve(kWriteBufferSize);
    return 0;
  }
  int32_t Write(const char* data, size_t size) {
    if (buffer_.size() + size > kWriteBufferSize) {
      if (int32_t rc = Flush()) return rc;
      if (size >= kWriteBufferSize) return WriteAll(file_.Get(), data, size) ? 0 : LastCode();
    }
    buffer_.insert(buffer_.end(), data, data + size);
    return 0;
  }
  int32_t Flush() {
    if (buffer_.empty()) return 0;
    const bool ok = WriteAll(file_.Get(), buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok ? 0 : LastCode();
  }
  // Drops everything written so far (the file starts again at byte 0).
  int32_t Restart() {
    buffer_.clear();
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(file_.Get(), zero, nullptr, FILE_BEGIN) || !::SetEndOfFile(file_.Get())) return LastCode();
    return 0;
  }
  bool Size(uint64_t& out) const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file_.Get(), &size)) return false;
    out = static_cast<uint64_t>(size.QuadPart);
    return true;
  }
  void Close() {
    if (file_.Valid()) {
      ::FlushFileBuffers(file_.Get());
      file_.Close();
    }
  }

 private:
  FileHandle file_;
  std::vector<char> buffer_;
};

// Whether the answer is gzip-encoded, from its Content-Encoding header.
bool AnswerIsGzip(HINTERNET request) {
  DWORD size = 0;
  BOOL ok = g_winHttp.QueryHeaders(request, WINHTTP_QUERY_CUSTOM, L"Content-Encoding", WINHTTP_NO_OUTPUT_BUFFER,
                                   &size, WINHTTP_NO_HEADER_INDEX);
  std::vector<wchar_t> value;
  if (!ok && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    value.assign(size / sizeof(wchar_t) + 1, L'\0');
    ok = g_winHttp.QueryHeaders(request, WINHTTP_QUERY_CUSTOM, L"Content-Encoding", value.data(), &size,
                                WINHTTP_NO_HEADER_INDEX);
  }
  if (!ok) {
    const int32_t code = LastCode();
    if (code == ERROR_WINHTTP_HEADER_NOT_FOUND) {
      LogError("InternetGetRequestEx : Response Header doesn't contain content-Encoding. \n");
    } else {
      LogError("InternetGetRequestEx :  Error in WinHttpQueryHeaders --> %d \n", code);
      HttpGetLastError(code);
    }
    return false;
  }
  if (value.empty()) value.assign(1, L'\0');
  LogDebug("InternetGetRequestEx :  Response Header Informations : %ls \n", value.data());
  if (std::wcsstr(value.data(), L"gzip")) {
    LogInfo("InternetGetRequestEx : Response Header contains content-Encoding as gzip \n");
    return true;
  }
  LogInfo("InternetGetRequestEx : Response Header doesn't contain content-Encoding as gzip \n");
  return false;
}

// Content-Length as a number: 0 with the value (0 when the header is absent),
// or the error code of the query.
int32_t ReadContentLength(HINTERNET request, DWORD& length) {
  bool known = false;
  return QueryContentLength(request, length, known, false);
}

// After a receive time-out: asks again for what is still missing and checks
// that the answer can go on where the file stopped. A 200 answer carries the
// whole file, so the temporary file starts again from it. 0 when reading can
// go on on `handles`; otherwise the code that ends the download.
int32_t RecoverFromTimeout(const DownloadCall& call, RequestHandles& handles, TempFile& file, uint64_t& total,
                           DWORD& contentLength) {
  LogInfo("Total Bytes read so far:%llu\n", static_cast<unsigned long long>(total));
  LogInfo("InternetGetRequestEx : second attempt to recover from previous error\n");
  CloseRequestHandles(handles);

  wchar_t range[64];
  if (total == 0)
    std::swprintf(range, 64, L"Range: bytes=0-%lu", static_cast<unsigned long>(contentLength));
  else
    std::swprintf(range, 64, L"Range: bytes=%llu-%lu", static_cast<unsigned long long>(total),
                  static_cast<unsigned long>(contentLength));
  LogDebug("InternetGetRequestEx : Content-Range Header message: %ls\n", range);
  handles.requestKind = 1;
  handles.extraHeader = range;
  handles.statusCode = 0;
  const int32_t rc = OpenDownloadRequest(call, handles, call.keepAlive, false);
  handles.requestKind = 0;
  handles.extraHeader = nullptr;
  if (rc != 0) return rc;

  if (handles.statusCode == 206) {
    uint64_t first = 0;
    std::optional<uint64_t> size;
    if (QueryContentRange(handles.request, first, size) && first != total) {
      LogError("InternetGetRequestEx : The server answered the range request from byte %llu instead of byte %llu \n",
               static_cast<unsigned long long>(first), static_cast<unsigned long long>(total));
      return 206;
    }
    return 0;
  }
  if (handles.statusCode == 200) {
    LogInfo("InternetGetRequestEx : The server sent the whole file again; the temporary file starts afresh \n");
    DWORD length = 0;
    if (const int32_t code = ReadContentLength(handles.request, length)) {
      LogError("InternetGetRequestEx :  Error in Content Length Header -> %d \n", code);
      HttpGetLastError(code);
      return code;
    }
    contentLength = length;
    LogInfo("InternetGetRequestEx : Content Length of the request file: %lu Bytes\n",
            static_cast<unsigned long>(contentLength));
    if (const int32_t code = file.Restart()) {
      LogError("InternetGetRequestEx :  Error in WriteFile --> %d \n", code);
      return code;
    }
    total = 0;
    return 0;
  }
  // An error page or a refused range is never appended to the file.
  LogError("InternetGetRequestEx : Failed with the http status code, %d \n", handles.statusCode);
  return handles.statusCode;
}

// The body of a 200 answer into the temporary file, checked against the
// announced length; the file is flushed and closed whatever happened.
int32_t ReceiveBody(const DownloadCall& call, RequestHandles& handles, const std::wstring& tempPath) {
  DWORD contentLength = 0;
  if (const int32_t code = ReadContentLength(handles.request, contentLength)) {
    LogError("InternetGetRequestEx :  Error in Content Length Header -> %d \n", code);
    HttpGetLastError(code);
    return code;
  }
  LogInfo("InternetGetRequestEx : Content Length of the request file: %lu Bytes\n",
          static_cast<unsigned long>(contentLength));

  if (call.requestType == DOWNLOAD_FILE && CreateFolder(call.destination) != 0)
    LogError("InternetGetRequestEx : Failed to create the destination directory for the destination file %ls \n",
             call.destination);

  TempFile file;
  if (const int32_t code = file.Create(tempPath)) {
    LogError("InternetGetRequestEx : Error occured while creating the file --> %d \n", code);
    HttpGetLastError(code);
    return code;
  }

  int32_t result = 0;
  uint64_t total = 0;
  std::vector<char> buffer;
  // A receive time-out is recovered by asking again for the missing bytes.
  const std::function<bool(int32_t)> recoverable = [](int32_t code) { return code == ERROR_WINHTTP_TIMEOUT; };
  const std::function<int32_t()> recover = [&] {
    return RecoverFromTimeout(call, handles, file, total, contentLength);
  };
  for (;;) {
    DWORD available = 0;
    if (!QueryAvailableOrRecover("InternetGetRequestEx", handles, available, recoverable, recover, result)) break;
    if (available == 0) break;

    const DWORD want = available < kReadChunk ? available : kReadChunk;
    if (buffer.size() < want) buffer.resize(want);
    DWORD read = 0;
    if (!g_winHttp.ReadData(handles.request, buffer.data(), want, &read)) {
      const int32_t code = LastCode();
      LogError("InternetGetRequestEx :  Error in WinHttpReadData --> %d \n", code);
      HttpGetLastError(code);
      result = code;
      break;
    }
    total += read;
    if (const int32_t code = file.Write(buffer.data(), read)) {
      LogError("InternetGetRequestEx :  Error in WriteFile --> %d \n", code);
      result = code;
      break;
    }
    if (total == contentLength) {
      LogInfo("Bytes read reached the contenlength\n");
      break;
    }
    if (read == 0) break;
  }

  if (result == 0) {
    if (const int32_t code = file.Flush()) {
      LogError("InternetGetRequestEx :  Error in WriteFile --> %d \n", code);
      result = code;
    }
  }
  LogInfo("InternetGetRequestEx : Total bytes read = %llu\n", static_cast<unsigned long long>(total));
  if (result == 0) {
    uint64_t size = 0;
    if (!file.Size(size)) size = 0;
    if (size == contentLength) {
      LogInfo("InternetGetRequestEx : GetFileSize returns :  %llu\n", static_cast<unsigned long long>(size));
      LogInfo("InternetGetRequestEx : File completely downloaded..!\n");
    } else {
      result = kPartialDownload;
      LogInfo("InternetGetRequestEx : Error in downloading..!\n");
      LogInfo("InternetGetRequestEx : Only partial file downloaded. GetFileSize returns :  %llu\n",
              static_cast<unsigned long long>(size));
    }
  }
  file.Close();
  return result;
}

// One download after the downloader was chosen: request, body into the
// temporary file, decompression or the uncompressed fallback, delivery and
// removal of the temporary file.
int32_t DownloadThroughTempFile(const DownloadCall& call) {
  LogDebug("@@@@@@@@ Inside InternetGetRequestEx Method @@@@@@@@ \n");
  LogInfo("InternetGetRequestEx : Tarnwick Server & Port -> %ls : %d \n", call.serverAddress, call.port);
  LogDebug("InternetGetRequestEx : URL to Get -> %ls \n", call.objectPath);

  const std::wstring tempPath = call.requestType == DOWNLOAD_FILE
                                    ? std::wstring(call.destination) + ThreadIdText() + L".tmp"
                                    : GetDataTempFilePath();

  RequestHandles handles;
  int32_t result = OpenDownloadRequest(call, handles, call.keepAlive, call.acceptGzip);

  bool compressed = false;
  if (call.acceptGzip && IsOpen(handles.request)) compressed = AnswerIsGzip(handles.request);

  if (result == 0) {
    if (handles.statusCode == 304) {
      LogInfo("InternetGetRequestEx :File not modified since the time: %ls\n", L"");
      result = kNotModified;
    } else if (handles.statusCode != 200) {
      LogError("InternetGetRequestEx : Failed with the http status code, %d \n", handles.statusCode);
      result = handles.statusCode;
    } else {
      result = ReceiveBody(call, handles, tempPath);
    }
  }

  CloseLogged("InternetGetRequestEx", handles.request, "hRequest");
  CloseLogged("InternetGetRequestEx", handles.connection, "hConnect");
  CloseLogged("InternetGetRequestEx", handles.session, "hSession");

  bool delivered = false;
  if (result == 0 && call.acceptGzip && compressed) {
    LogInfo("InternetGetRequestEx : Successfully downloaded the Gzip compressed file from the server %ls \n",
            call.serverAddress);
    LogDebug("InternetGetRequestEx : Need to decompress the file\n");
    if (DecompressGzipFile(tempPath.c_str(), tempPath.c_str())) {
      LogInfo("InternetGetRequestEx : File Decompressed successfully.\n");
    } else {
      LogError("InternetGetRequestEx : File Decompression failure. So need to download the original file.\n");
      result = InternetGetRequestEx(call.useProxy, call.protocol, call.serverAddress, call.port, call.proxyServer,
                                    call.proxyBypass, call.proxyUser, call.proxyPassword, call.objectPath,
                                    call.destination, call.outData, call.requestType, call.keepAlive, false);
      AppendToAgentErrorLog("\tGzip file Decompression failed for the file " + Utf8(call.destination) + "\n");
      IncrementVTTrackingCounter("GzipDecompressionDetails", "GZIP_DECOMPRESSION_FAILURE_COUNT");
      delivered = true;
    }
  }

  if (result == 0 && !delivered) {
    if (call.requestType == GET_DATA) {
      if (LoadDatafromFile(*call.outData)) {
        LogDebug("Data in memory : %s\n", call.outData->value_or("").c_str());
      } else {
        LogError("InternetGetRequestEx: could n't read the data from .tmp file \n");
        result = kDataNotReadable;
      }
    } else {
      // The temporary file lies beside the destination, so it replaces the
      // destination in one step: the old file stays whole until then.
      if (::MoveFileExW(FileApiPath(tempPath).c_str(), FileApiPath(call.destination).c_str(),
                        MOVEFILE_REPLACE_EXISTING)) {
        LogInfo("InternetGetRequestEx : Successfully downloaded the file %ls from the server %ls to the destination "
                "file %ls \n",
                call.objectPath, call.serverAddress, call.destination);
      } else {
        const int32_t code = LastCode();
        LogError("InternetGetRequestEx : could n't copy from %ls file to %ls ,\n", tempPath.c_str(), call.destination);
        LogErrorCode(code);
        result = code;
      }
    }
  }

  ::DeleteFileW(FileApiPath(tempPath).c_str());
  LogDebug("@@@@@@@@ End Of InternetGetRequestEx Method @@@@@@@@ \n");
  return result;
}

}  // namespace

int32_t InternetGetRequestEx(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                             const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                             const wchar_t* proxyPassword, const wchar_t* objectPath, const wchar_t* destination,
                             OptText* outData, int32_t requestType, bool keepAlive, bool acceptGzip) {
  if (!Contains(objectPath, L".xml") && !Contains(objectPath, L".json")) {
    LogInfo("InternetGetDownloader : Tarnwick Server & Port -> %ls : %d \n", serverAddress, port);
    DWORD mode = 0;
    const std::string settingsKey = std::string(kAgentKeyPath) + "\\Settings";
    const bool read = ReadDwordRegistryData(HKEY_LOCAL_MACHINE, settingsKey.c_str(), "DownloadMode", mode) == 0;
    if (read && mode == 1 && requestType == DOWNLOAD_FILE) {
      // The resumable downloader keeps a partial file between attempts.
      return ResumeGetRequestEx(useProxy, protocol, serverAddress, port, proxyServer, proxyBypass, proxyUser,
                                proxyPassword, objectPath, destination, outData, requestType, keepAlive);
    }
    LogInfo("InternetGetDownloader : Download Mode %d\n", static_cast<int>(mode));
  }

  if (requestType != GET_DATA && requestType != DOWNLOAD_FILE) {
    LogError("InternetGetRequestEx : Unsupported request type %d \n", requestType);
    return ERROR_INVALID_DATA;
  }
  if (requestType == DOWNLOAD_FILE && (!destination || !*destination)) {
    LogError("InternetGetRequestEx : No destination file given for the download \n");
    return ERROR_INVALID_DATA;
  }
  if (requestType == GET_DATA && !outData) {
    LogError("InternetGetRequestEx : No place given for the downloaded data \n");
    return ERROR_INVALID_DATA;
  }
  const DownloadCall call{useProxy,   protocol,      serverAddress, port,    proxyServer, proxyBypass, proxyUser,
                          proxyPassword, objectPath, destination, outData, requestType, keepAlive,   acceptGzip};
  return DownloadThroughTempFile(call);
}

std::wstring GetDataTempFilePath() {
  std::wstring folder = AnsiToWide(gv_tempPath);
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
  FILE* f = _wfopen(FileApiPath(path).c_str(), L"rt");
  if (!f) return 0;
  std::string data;
  std::vector<char> chunk(64 * 1024);
  size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), f)) > 0) data.append(chunk.data(), n);
  std::fclose(f);
  out = std::move(data);
  return 1;
}

int DecompressGzipFile(const wchar_t* source, const wchar_t* target) {
  if (!source || !target) return 0;
  FileHandle in(::CreateFileW(FileApiPath(source).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!in.Valid()) return 0;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(in.Get(), &size)) return 0;
  if (size.QuadPart == 0) return 1;

  // The decoded bytes go to a scratch file beside the target, which replaces
  // the target only when the whole stream was decoded.
  const std::wstring scratch = std::wstring(target) + L".inflate";
  FileHandle out(::CreateFileW(FileApiPath(scratch).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out.Valid()) return 0;

  z_stream zs{};
  bool ok = inflateInit2(&zs, 31) == Z_OK;
  bool streamEnd = false;
  if (ok) {
    std::vector<unsigned char> input(kInflateChunk);
    std::vector<unsigned char> output(kInflateChunk);
    // Input is read only when the last pass left output space: a full output
    // buffer may still hold decoded bytes of the input already taken.
    bool needInput = true;
    while (ok && !streamEnd) {
      if (zs.avail_in == 0 && needInput) {
        DWORD got = 0;
        if (!::ReadFile(in.Get(), input.data(), static_cast<DWORD>(input.size()), &got, nullptr) || got == 0) {
          ok = false;  // the stream ends before its end mark
          break;
        }
        zs.next_in = input.data();
        zs.avail_in = got;
      }
      zs.next_out = output.data();
      zs.avail_out = static_cast<uInt>(output.size());
      int rc = inflate(&zs, Z_SYNC_FLUSH);
      const size_t produced = output.size() - zs.avail_out;
      needInput = zs.avail_out != 0;
      if (produced > 0 && !WriteAll(out.Get(), reinterpret_cast<const char*>(output.data()), produced)) ok = false;
      if (rc == Z_STREAM_END)
        streamEnd = true;
      else if (rc == Z_BUF_ERROR && zs.avail_in == 0)
        needInput = true;  // all input taken: read on
      else if (rc != Z_OK)
        ok = false;
    }
    if (inflateEnd(&zs) != Z_OK) ok = false;
  }
  out.Close();
  in.Close();
  if (ok && streamEnd &&
      ::MoveFileExW(FileApiPath(scratch).c_str(), FileApiPath(target).c_str(), MOVEFILE_REPLACE_EXISTING))
    return 1;
  ::DeleteFileW(FileApiPath(scratch).c_str());
  return 0;
}

void AppendToAgentErrorLog(const std::string& line) {
  if (!gv_agentInstallDir || gv_agentInstallDir->empty()) return;
  const std::string path = *gv_agentInstallDir + "logs\\twerror.log";
  AppendTextToFile(path.c_str(), "%s\n%s", LongDateTime().c_str(), line.c_str());
}

uint32_t IncrementVTTrackingCounter(const char* detailsKey, const char* valueName) {
  const std::string tracking = std::string(kAgentKeyPath) + "\\VTTracking";
  const std::string key = tracking + "\\" + detailsKey;
  DWORD count = 0;
  if (ReadDwordRegistryData(HKEY_LOCAL_MACHINE, key.c_str(), valueName, count) != 0) count = 0;
  ++count;
  writeValue(HKEY_LOCAL_MACHINE, key.c_str(), valueName, std::to_string(count).c_str(), REG_DWORD);
  writeValue(HKEY_LOCAL_MACHINE, tracking.c_str(), "LastVTDataModifiedTime", std::to_string(GetTimeInSeconds()).c_str(),
             REG_DWORD);
  return count;
}
