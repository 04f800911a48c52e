// Bandwidth-limited transfers: a download is fetched as a row of byte-range
// blocks of "DataTransferRate_KBps" x 500 bytes with a pause after each block
// (into a per-thread temporary file, or into the registry-backed partial file
// of a resumable download), and an upload is written in chunks.
#include "http/bitrate.h"

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "agent/log/logger.h"
#include "agent/registry/registry.h"
#include "http/upload.h"
#include "agent/util/fileutil.h"
#include "http/download.h"
#include "http/httpinternal.h"
#include "http/requestcore.h"
#include "http/resume.h"
#include "http/winhttp_api.h"

namespace {

// Pacing: a block faster than this is topped up to one block per
// kPacedBlockMs; a slower one is followed by kSlowBlockPauseMs.
constexpr uint64_t kFastBlockMs = 450;
constexpr uint64_t kPacedBlockMs = 600;
constexpr DWORD kSlowBlockPauseMs = 100;
unsigned long long U64(uint64_t v) { return static_cast<unsigned long long>(v); }

// Content-Length as a number: 0 with the value, or the error code of the query
// (a missing header is one). A buffer too small (122) is accepted, with the
// length left at 0.
int32_t ReadContentLength(HINTERNET request, DWORD& length) {
  bool known = false;
  return QueryContentLength(request, length, known, true);
}

// "Content-Range: bytes <first>-<last>/<size>" of a 206 answer. `size` is
// absent when the server wrote "*". false when the header is missing or
// unreadable.
struct ContentRange {
  uint64_t first = 0;
  std::optional<uint64_t> size;
};

bool ReadNumber(const wchar_t*& p, uint64_t& out) {
  if (*p < L'0' || *p > L'9') return false;
  out = 0;
  for (; *p >= L'0' && *p <= L'9'; ++p) {
    if (out > (UINT64_MAX - 9) / 10) return false;
    out = out * 10 + static_cast<uint64_t>(*p - L'0');
  }
  return true;
}

bool ReadContentRange(HINTERNET request, ContentRange& range) {
  DWORD size = 0;
  g_winHttp.QueryHeaders(request, WINHTTP_QUERY_CONTENT_RANGE, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                         &size, WINHTTP_NO_HEADER_INDEX);
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return false;
  std::vector<wchar_t> value(size / sizeof(wchar_t) + 1, L'\0');
  if (!g_winHttp.QueryHeaders(request, WINHTTP_QUERY_CONTENT_RANGE, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                              WINHTTP_NO_HEADER_INDEX))
    return false;
  const wchar_t* p = std::wcsstr(value.data(), L"bytes");
  if (!p) return false;
  p += 5;
  while (*p == L' ' || *p == L'=') ++p;
  uint64_t last = 0;
  if (!ReadNumber(p, range.first) || *p++ != L'-' || !ReadNumber(p, last) || *p++ != L'/') return false;
  uint64_t total = 0;
  if (ReadNumber(p, total)) range.size = total;
  return true;
}

// The end value of the Range header of the block starting at `first`: the
// block's last byte, or the Content-Length itself for the block that reaches
// the end of the file (the servers cut the range to the last byte).
uint64_t BlockRangeEnd(uint64_t first, uint64_t blockSize, uint64_t contentLength) {
  return first + blockSize >= contentLength ? contentLength : first + blockSize - 1;
}

// Milliseconds of a monotonic clock with sub-millisecond resolution (the tick
// count advances in steps of up to 16 ms, too coarse to pace by): blocks are
// timed with it, so that a change of the wall clock never stretches a pause.
uint64_t MonotonicMs() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f{};
    return ::QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? f.QuadPart : 0;
  }();
  if (frequency == 0) return ::GetTickCount64();
  LARGE_INTEGER now{};
  ::QueryPerformanceCounter(&now);
  const uint64_t ticks = static_cast<uint64_t>(now.QuadPart);
  const uint64_t f = static_cast<uint64_t>(frequency);
  return ticks / f * 1000 + ticks % f * 1000 / f;
}

// The pause after a block that took `elapsedMs` (monotonic), never outside
// 0..600 ms.
DWORD PauseAfterBlock(uint64_t elapsedMs) {
  if (elapsedMs >= kFastBlockMs) return kSlowBlockPauseMs;
  const uint64_t pause = kPacedBlockMs - elapsedMs;
  return static_cast<DWORD>(pause > kPacedBlockMs ? kPacedBlockMs : pause);
}

// Block size in bytes from the configured rate; a rate of 0 (or less) puts no
// limit on the block: the whole rest of the file is one block.
uint64_t BlockSizeFromRate(uint64_t contentLength) {
  if (gv_dataTransferRateKBps <= 0) return contentLength > 0 ? contentLength : 1;
  return static_cast<uint64_t>(gv_dataTransferRateKBps) * 500u;
}

// What differs between the two downloaders in the shared block loop.
struct LoopStyle {
  const char* name;  // routine name at the front of the log lines
  bool resumable;    // ResumeGetRequestByBitrate's recovery codes and log levels
};

// Where the blocks come from and where their bytes go.
class BlockTarget {
 public:
  virtual ~BlockTarget() = default;
  // Bytes stored so far: the next block starts there.
  virtual uint64_t Stored() const = 0;
  virtual uint64_t Length() const = 0;
  // Sends the ranged GET on fresh handles; the request core's result.
  virtual int32_t Send(RequestHandles& handles, const wchar_t* rangeHeader) = 0;
  // Decides on a 200 or 206 answer to the range starting at `first`: 0 when
  // its body continues the stored bytes (a 200 first drops what is stored),
  // otherwise the code that ends the download (logged).
  virtual int32_t Accept(RequestHandles& handles, uint64_t first) = 0;
  // Reads at most `want` bytes of the body and stores them. 0 or the code
  // that ends the download (logged); `read` is what was stored.
  virtual int32_t Read(HINTERNET request, DWORD want, DWORD& read) = 0;
};

bool IsRecoverableQueryFailure(const LoopStyle& style, int32_t code) {
  if (code == ERROR_WINHTTP_TIMEOUT) return true;
  return style.resumable && (code == ERROR_WINHTTP_CONNECTION_ERROR || code == ERROR_WINHTTP_CANNOT_CONNECT);
}

void CloseBlockHandles(const LoopStyle& style, RequestHandles& handles) {
  if (!style.resumable) {
    CloseRequestHandles(handles);
    return;
  }
  struct Step {
    HINTERNET* handle;
    const char* message;
  };
  const Step steps[] = {{&handles.request, "Error in WinHttpCloseHandle hRequest --> %d \n"},
                        {&handles.connection, "Error in WinHttpCloseHandle hConnect --> %d \n"},
                        {&handles.session, "Error in WinHttpCloseHandle hSession --> %d \n"}};
  for (const Step& step : steps) {
    if (IsOpen(*step.handle) && !g_winHttp.CloseHandle(*step.handle)) LogDebug(step.message, LastCode());
    *step.handle = kNoHandle;
  }
}

// The block-and-pause loop shared by both downloaders: asks for the blocks
// from the stored count on until the whole Content-Length is stored, the
// download fails, or the server stops delivering. Only the body of an answer
// that continues the stored bytes is read, and never beyond Content-Length.
// The handles are closed on return.
int32_t RunBlockLoop(const LoopStyle& style, BlockTarget& target, RequestHandles& handles) {
  const char* name = style.name;
  const uint64_t blockSize = BlockSizeFromRate(target.Length());
  bool previousTimedOut = false;  // the last block ended by a recoverable query failure
  int emptyBlocks = 0;            // blocks in a row that delivered nothing
  bool restarted = false;         // a whole-file answer already restarted the file
  int32_t result = 0;

  while (target.Stored() < target.Length()) {
    const uint64_t started = MonotonicMs();
    const uint64_t first = target.Stored();
    const std::wstring range = L"Range: bytes=" + std::to_wstring(first) + L"-" +
                               std::to_wstring(BlockRangeEnd(first, blockSize, target.Length()));
    LogDebug("%s: Content-Range Header message: %ls\n", name, range.c_str());
    const int32_t rc = target.Send(handles, range.c_str());
    if (style.resumable)
      LogError("%s: GetInternetRequestHandle function return code: %u  %d\n", name, static_cast<unsigned>(rc),
               handles.statusCode);
    else
      LogDebug("%s: GetInternetRequestHandle function return code: %u\n", name, static_cast<unsigned>(rc));
    if (rc != 0) {
      result = rc;
      break;
    }
    const int32_t status = handles.statusCode;
    if (status != 200 && status != 206) {
      LogError("%s : Failed with the http status code %d \n", name, status);
      result = status;
      break;
    }
    // A whole-file answer to a later range starts the file afresh, once: a
    // server that never honours ranges and breaks off must not keep the
    // download starting over.
    if (status == 200 && first != 0 && restarted) {
      LogError("%s : The server sent the whole file again instead of the bytes from %llu; the download ends \n", name,
               U64(first));
      result = ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
      break;
    }
    if (const int32_t code = target.Accept(handles, first)) {
      result = code;
      break;
    }
    if (status == 200 && first != 0) restarted = true;

    uint64_t blockBytes = 0;
    int32_t queryFailure = 0;
    bool repeat = false;
    bool stop = false;
    for (;;) {
      DWORD available = 0;
      if (!g_winHttp.QueryDataAvailable(handles.request, &available)) {
        const int32_t code = LastCode();
        LogError("%s : Error occured in WinHttpQueryDataAvailable --> %d \n", name, code);
        HttpGetLastError(code);
        if (IsRecoverableQueryFailure(style, code)) {
          CloseBlockHandles(style, handles);
          if (previousTimedOut) {
            result = code;
            stop = true;
          } else {
            previousTimedOut = true;
            repeat = true;
          }
        } else {
          queryFailure = code;
        }
        break;
      }
      previousTimedOut = false;
      if (!style.resumable)
        LogDebug("%s: Bytes Available to read now: %lu\n", name, static_cast<unsigned long>(available));
      if (available == 0) break;
      // Bytes beyond the Content-Length are never stored.
      const uint64_t room = target.Length() - target.Stored();
      DWORD want = available < kReadChunk ? available : kReadChunk;
      if (want > room) want = static_cast<DWORD>(room);
      if (want == 0) break;
      DWORD read = 0;
      if (const int32_t code = target.Read(handles.request, want, read)) {
        result = code;
        stop = true;
        break;
      }
      if (read == 0) break;
      blockBytes += read;
    }

    if (style.resumable)
      LogInfo("%s: Bytes Read: %d\n", name, static_cast<int>(blockBytes));
    else
      LogDebug("%s: Bytes Read: %d\n", name, static_cast<int>(blockBytes));
    if (stop) break;
    if (repeat) {
      LogInfo("%s : second attempt of the previous request\n", name);
      continue;
    }
    CloseBlockHandles(style, handles);
    const uint64_t elapsed = MonotonicMs() - started;

    // A server that answers a range with nothing must not keep the download
    // asking for ever.
    if (blockBytes == 0) {
      if (++emptyBlocks >= 2) {
        LogError("%s : No data received twice in a row for the bytes from %llu; the download ends \n", name,
                 U64(first));
        result = queryFailure != 0 ? queryFailure : ERROR_HANDLE_EOF;
        break;
      }
    } else {
      emptyBlocks = 0;
    }
    g_winHttp.Sleep(PauseAfterBlock(elapsed));
  }
  CloseBlockHandles(style, handles);
  return result;
}

// The temporary file of InternetGetRequestByBitrate as the loop's target.
class TempFileTarget : public BlockTarget {
 public:
  TempFileTarget(const DownloadCall& call, uint64_t contentLength) : call_(call), length_(contentLength) {}
  ~TempFileTarget() override { Close(); }

  int32_t Create(const std::wstring& path) {
    file_.Reset(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    return file_.Valid() ? 0 : LastCode();
  }
  void Close() {
    if (file_.Valid()) {
      ::FlushFileBuffers(file_.Get());
      file_.Close();
    }
  }

  uint64_t Stored() const override { return stored_; }
  uint64_t Length() const override { return length_; }

  int32_t Send(RequestHandles& handles, const wchar_t* rangeHeader) override {
    CloseRequestHandles(handles);
    handles = RequestHandles{};
    handles.requestKind = 1;
    handles.extraHeader = rangeHeader;
    const int32_t rc = OpenDownloadRequest(call_, handles, true, false);
    handles.extraHeader = nullptr;
    return rc;
  }

  int32_t Accept(RequestHandles& handles, uint64_t first) override {
    if (handles.statusCode == 206) {
      ContentRange answered;
      if (!ReadContentRange(handles.request, answered) || answered.first != first ||
          (answered.size && *answered.size != length_)) {
        LogError("InternetGetRequestByBitrate : The server's answer does not continue the file at byte %llu of %llu; "
                 "the download ends \n",
                 U64(first), U64(length_));
        return 206;
      }
      return 0;
    }
    // The whole body: it replaces what is stored, and its length (when the
    // file changed on the server since the HEAD request) is the one to reach.
    DWORD length = 0;
    if (ReadContentLength(handles.request, length) == 0 && length != length_) {
      LogInfo("InternetGetRequestByBitrate : Content Length of the request file: %lu Bytes\n",
              static_cast<unsigned long>(length));
      length_ = length;
    }
    if (stored_ != 0) {
      LogInfo("InternetGetRequestByBitrate : The server sent the whole file instead of the bytes from %llu; the file "
              "starts afresh \n",
              U64(first));
      LARGE_INTEGER zero{};
      if (!::SetFilePointerEx(file_.Get(), zero, nullptr, FILE_BEGIN) || !::SetEndOfFile(file_.Get())) {
        const int32_t code = LastCode();
        LogError("InternetGetRequestByBitrate :  Error in WriteFile --> %d \n", code);
        HttpGetLastError(code);
        return code;
      }
      stored_ = 0;
    }
    return 0;
  }

  int32_t Read(HINTERNET request, DWORD want, DWORD& read) override {
    if (buffer_.size() < static_cast<size_t>(want) + 1) buffer_.resize(static_cast<size_t>(want) + 1);
    read = 0;
    if (!g_winHttp.ReadData(request, buffer_.data(), want, &read)) {
      const int32_t code = LastCode();
      LogError("InternetGetRequestByBitrate :  Error in WinHttpReadData --> %d \n", code);
      HttpGetLastError(code);
      return code;
    }
    if (!WriteAll(file_.Get(), buffer_.data(), read)) {
      const int32_t code = LastCode();
      LogError("InternetGetRequestByBitrate :  Error in WriteFile --> %d \n", code);
      HttpGetLastError(code);
      return code;
    }
    stored_ += read;
    return 0;
  }

 private:
  const DownloadCall& call_;
  uint64_t length_;
  uint64_t stored_ = 0;
  FileHandle file_;
  std::vector<char> buffer_;
};

// The HEAD request: status and Content-Length of the file. 0 with the
// length, or the code that ends the download.
int32_t AskForLength(const DownloadCall& call, DWORD& contentLength) {
  RequestHandles head;
  head.requestKind = 2;
  int32_t result = OpenDownloadRequest(call, head, true, false);
  if (result == 0) {
    if (head.statusCode == 304) {
      LogInfo("InternetGetRequestByBitrate : File not modified since the time: %ls\n", L"");
      result = kNotModified;
    } else if (head.statusCode != 200) {
      LogError("InternetGetRequestByBitrate : Failed with the http status code: %d \n", head.statusCode);
      result = head.statusCode;
    } else if ((result = ReadContentLength(head.request, contentLength)) != 0) {
      LogError("InternetGetRequestByBitrate :  Error in Content Length Header -> %d \n", result);
      HttpGetLastError(result);
    } else {
      LogInfo("InternetGetRequestByBitrate : Content Length of the request file: %lu Bytes\n",
              static_cast<unsigned long>(contentLength));
    }
  }
  CloseRequestHandles(head);
  return result;
}

int32_t DownloadByBlocks(const DownloadCall& call) {
  LogDebug("@@@@@@@@ Inside InternetGetRequestByBitrate Method @@@@@@@@ \n");
  LogInfo("InternetGetRequestByBitrate : Tarnwick Server & Port -> %ls : %d \n", call.serverAddress, call.port);
  LogDebug("InternetGetRequestByBitrate : URL to Get -> %ls \n", call.objectPath);
  auto finish = [](int32_t result) {
    LogDebug("@@@@@@@@ End Of InternetGetRequestByBitrate Method @@@@@@@@ \n");
    return result;
  };

  DWORD contentLength = 0;
  if (const int32_t code = AskForLength(call, contentLength)) return finish(code);

  std::wstring tempPath;
  if (call.requestType == DOWNLOAD_FILE) {
    if (CreateFolder(call.destination) != 0)
      LogError("InternetGetRequestByBitrate : Failed to create the destination directory for the destination file %ls "
               "\n",
               call.destination);
    tempPath = std::wstring(call.destination) + ThreadIdText() + L".tmp";
  } else {
    tempPath = GetDataTempFilePath();
  }
  TempFileTarget file(call, contentLength);
  if (const int32_t code = file.Create(tempPath)) {
    LogError("InternetGetRequestByBitrate: Error occured while creating the file --> %d \n", code);
    HttpGetLastError(code);
    return finish(code);
  }

  LogDebug("InternetGetRequestByBitrate: Block of bytes to read: %llu\n", U64(BlockSizeFromRate(contentLength)));
  const LoopStyle style{"InternetGetRequestByBitrate", false};
  RequestHandles handles;
  int32_t result = RunBlockLoop(style, file, handles);
  file.Close();
  LogInfo("InternetGetRequestByBitrate: Total bytes read = %llu\n", U64(file.Stored()));

  if (result == 0) {
    if (call.requestType == GET_DATA) {
      if (LoadDatafromFile(*call.outData)) {
        LogDebug("Data in memory : %s\n", call.outData->value_or("").c_str());
      } else {
        LogError("InternetGetRequestByBitrate: could n't read the data from .tmp file \n");
        result = kDataNotReadable;
      }
    } else if (::MoveFileExW(tempPath.c_str(), call.destination, MOVEFILE_REPLACE_EXISTING)) {
      // The temporary file lies beside the destination, so it replaces the
      // destination in one step: the old file stays whole until then.
      LogInfo("InternetGetRequestByBitrate : Successfully downloaded the file %ls from the server %ls\n",
              call.objectPath, call.serverAddress);
    } else {
      result = LastCode();
      LogError("InternetGetRequestByBitrate : could n't copy from .tmp file, errorcode --> %d \n", result);
    }
  }
  ::DeleteFileW(tempPath.c_str());
  return finish(result);
}

// Checks shared by both downloaders; 0 when the call can go on.
int32_t CheckDownloadArguments(const char* name, const DownloadCall& call) {
  if (call.requestType != GET_DATA && call.requestType != DOWNLOAD_FILE) {
    LogError("%s : Unsupported request type %d \n", name, call.requestType);
    return ERROR_INVALID_DATA;
  }
  if (call.requestType == DOWNLOAD_FILE && (!call.destination || !*call.destination)) {
    LogError("%s : No destination file given for the download \n", name);
    return ERROR_INVALID_DATA;
  }
  if (call.requestType == GET_DATA && !call.outData) {
    LogError("%s : No place given for the downloaded data \n", name);
    return ERROR_INVALID_DATA;
  }
  if (!call.objectPath || !call.serverAddress) {
    LogError("%s : No server or path given for the download \n", name);
    return ERROR_INVALID_DATA;
  }
  return 0;
}

constexpr const char* kResumeName = "ResumeGetRequestByBitrate";

// The partial file of a resumable download job as the loop's target: the
// job's staging buffer and periodic saves take the bytes.
class ResumeTarget : public BlockTarget {
 public:
  explicit ResumeTarget(DownloadResumeHandler& job) : job_(job) {}
  uint64_t Stored() const override { return job_.BytesReceived(); }
  uint64_t Length() const override { return job_.ContentLength(); }
  int32_t Send(RequestHandles& handles, const wchar_t* rangeHeader) override {
    return job_.SendRangeRequest(handles, rangeHeader, true);
  }
  int32_t Accept(RequestHandles& handles, uint64_t first) override {
    return job_.AcceptRangedAnswer(handles, static_cast<uint32_t>(first), kResumeName);
  }
  int32_t Read(HINTERNET request, DWORD want, DWORD& read) override {
    const uint32_t before = job_.BytesReceived();
    bool done = false;
    const int32_t rc = job_.ReadAvailableIntoBuffer(request, want, kResumeName, done, true);
    read = job_.BytesReceived() - before;
    return rc;
  }

 private:
  DownloadResumeHandler& job_;
};

}  // namespace

int32_t InternetGetRequestByBitrate(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                                    const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                                    const wchar_t* proxyPassword, const wchar_t* objectPath,
                                    const wchar_t* destination, OptText* outData, int32_t requestType,
                                    bool keepAlive) {
  if (!Contains(objectPath, L".xml") && !Contains(objectPath, L".json")) {
    LogInfo("InternetGetDownloader : Tarnwick Server & Port -> %ls : %d \n", serverAddress, port);
    DWORD mode = 0;
    const std::string settingsKey = std::string(kAgentKeyPath) + "\\Settings";
    const bool read = ReadDwordRegistryData(HKEY_LOCAL_MACHINE, settingsKey.c_str(), "DownloadMode", mode) == 0;
    if (read && mode == 1)
      return ResumeGetRequestByBitrate(useProxy, protocol, serverAddress, port, proxyServer, proxyBypass, proxyUser,
                                       proxyPassword, objectPath, destination, outData, requestType, keepAlive);
    LogInfo("InternetGetDownloader : Download Mode %d\n", static_cast<int>(mode));
  }
  const DownloadCall call{useProxy,      protocol,   serverAddress, port,    proxyServer, proxyBypass, proxyUser,
                          proxyPassword, objectPath, destination,   outData, requestType, keepAlive};
  if (const int32_t code = CheckDownloadArguments("InternetGetRequestByBitrate", call)) return code;
  return DownloadByBlocks(call);
}

int32_t ResumeGetRequestByBitrate(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                                  const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                                  const wchar_t* proxyPassword, const wchar_t* objectPath,
                                  const wchar_t* destination, OptText* outData, int32_t requestType,
                                  bool keepAlive) {
  const DownloadCall call{useProxy,      protocol,   serverAddress, port,    proxyServer, proxyBypass, proxyUser,
                          proxyPassword, objectPath, destination,   outData, requestType, keepAlive};
  if (const int32_t code = CheckDownloadArguments(kResumeName, call)) return code;

  LogDebug("@@@@@@@@ Inside ResumeGetRequestByBitrate Method @@@@@@@@ \n");
  LogInfo("ResumeGetRequestByBitrate : Tarnwick Server & Port -> %ls : %d \n", serverAddress, port);
  LogDebug("ResumeGetRequestByBitrate : URL to Get -> %ls \n", objectPath);
  auto finish = [](int32_t result) {
    LogDebug("@@@@@@@@ End Of ResumeGetRequestByBitrate Method @@@@@@@@ \n");
    return result;
  };

  DownloadResumeHandler job(call);
  RequestHandles handles;

  int32_t result = job.PreDownloadHandling();
  if (result != 0) {
    if (!job.PostDownloadDone()) result = job.PostDownloadHandling(handles, result);
    return finish(result);
  }
  result = job.Initialize(destination, job.LastModified().c_str(), objectPath);
  if (result != 0) return finish(job.PostDownloadHandling(handles, result));

  LogDebug("ResumeGetRequestByBitrate: Block of bytes to read: %llu\n", U64(BlockSizeFromRate(job.ContentLength())));
  ResumeTarget target(job);
  const LoopStyle style{kResumeName, true};
  result = RunBlockLoop(style, target, handles);
  return finish(job.FinishTransfer(handles, result, kResumeName, false));
}

// ---------------------------------------------------------------------------
// Upload in chunks.

namespace {

// One attempt: the request with the size header, then the file in chunks.
SendOutcome SendFileInChunks(HINTERNET request, const char* filePath, uint32_t fileSize, DWORD chunkSize,
                             int32_t& code) {
  FileHandle file(::CreateFileA(filePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
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
  if (!filePath) return finish(kInvalidArgument);

  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  uint64_t size = 0;
  if (::GetFileAttributesExA(filePath, GetFileExInfoStandard, &attributes) &&
      !(attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    size = (static_cast<uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
  if (size == 0) {
    LogError("InternetSendRequestByBitRate: File Size is zero: %d\n", 0);
    return finish(kInvalidArgument);
  }
  // The request announces its length in 32 bits.
  if (size > 0xFFFFFFFFull) {
    LogError("InternetSendRequestByBitRate: File Size is too large to send: %llu\n", U64(size));
    return finish(kInvalidArgument);
  }
  if (chunkSize <= 0) {
    LogError("InternetSendRequestByBitRate: Invalid chunk size: %d\n", chunkSize);
    return finish(kInvalidArgument);
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
