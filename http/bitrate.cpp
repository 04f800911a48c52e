// Bandwidth-limited downloads (see bitrate.h): the answer is fetched as a row
// of byte-range blocks of "DataTransferRate_KBps" x 500 bytes with a pause
// after each block, into a per-thread temporary file or into the
// registry-backed partial file of a resumable download.
#include "http/bitrate.h"

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "agent/config/settings.h"
#include "agent/log/logger.h"
#include "http/downloadfiles.h"
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
constexpr const char* kRoutine = "InternetGetRequestByBitrate";
constexpr const char* kResumeRoutine = "ResumeGetRequestByBitrate";

unsigned long long U64(uint64_t v) { return static_cast<unsigned long long>(v); }

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
  const char* routine;      // name at the front of the log lines
  bool resumable;           // ResumeGetRequestByBitrate's recovery codes and log levels
  CloseReport closeReport;  // how a failed close of the block's handles is reported
};

// Where the blocks come from and where their bytes go.
class BlockTarget {
 public:
  virtual ~BlockTarget() = default;
  // Bytes stored so far: the next block starts there.
  virtual uint64_t Stored() const = 0;
  virtual uint64_t Length() const = 0;
  // Sends the ranged GET on fresh handles, naming the version of the bytes
  // stored in If-Range; the request core's result.
  virtual int32_t Send(RequestHandles& handles, const std::wstring& range) = 0;
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

// The block-and-pause loop shared by both downloaders: asks for the blocks
// from the stored count on until the whole Content-Length is stored, the
// download fails, or the server stops delivering. Only the body of an answer
// that continues the stored bytes is read, and never beyond Content-Length.
// The handles are closed on return.
int32_t RunBlockLoop(const LoopStyle& style, BlockTarget& target, RequestHandles& handles) {
  const char* routine = style.routine;
  const uint64_t blockSize = BlockSizeFromRate(target.Length());
  bool previousTimedOut = false;  // the last block ended by a recoverable query failure
  int emptyBlocks = 0;            // blocks in a row that delivered nothing
  bool restarted = false;         // a whole-file answer already restarted the file
  int32_t result = 0;

  while (target.Stored() < target.Length()) {
    const uint64_t started = MonotonicMs();
    const uint64_t first = target.Stored();
    const std::wstring range = RangeHeader(first, BlockRangeEnd(first, blockSize, target.Length()));
    LogDebug("%s: Content-Range Header message: %ls\n", routine, range.c_str());
    const int32_t rc = target.Send(handles, range);
    if (style.resumable)
      LogError("%s: GetInternetRequestHandle function return code: %u  %d\n", routine, static_cast<unsigned>(rc),
               handles.statusCode);
    else
      LogDebug("%s: GetInternetRequestHandle function return code: %u\n", routine, static_cast<unsigned>(rc));
    if (rc != 0) {
      result = rc;
      break;
    }
    const int32_t status = handles.statusCode;
    if (status != 200 && status != 206) {
      LogError("%s : Failed with the http status code %d \n", routine, status);
      result = status;
      break;
    }
    // A whole-file answer to a later range starts the file afresh, once; an
    // empty one ends the download as a body that stopped short does.
    if (status == 200) {
      if (const int32_t code = AllowWholeFileAnswer(routine, handles.request.Get(), first, restarted,
                                                    ERROR_HANDLE_EOF)) {
        result = code;
        break;
      }
    }
    if (const int32_t code = target.Accept(handles, first)) {
      result = code;
      break;
    }

    uint64_t blockBytes = 0;
    int32_t queryFailure = 0;
    bool repeat = false;
    bool stop = false;
    for (;;) {
      DWORD available = 0;
      if (!g_winHttp.QueryDataAvailable(handles.request.Get(), &available)) {
        const int32_t code = QueryAvailableFailed(routine);
        if (IsRecoverableQueryFailure(style, code)) {
          handles.Close(style.closeReport);
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
        LogDebug("%s: Bytes Available to read now: %lu\n", routine, static_cast<unsigned long>(available));
      if (available == 0) break;
      // Bytes beyond the Content-Length are never stored.
      const uint64_t room = target.Length() - target.Stored();
      DWORD want = available < kReadChunk ? available : kReadChunk;
      if (want > room) want = static_cast<DWORD>(room);
      if (want == 0) break;
      DWORD read = 0;
      if (const int32_t code = target.Read(handles.request.Get(), want, read)) {
        result = code;
        stop = true;
        break;
      }
      if (read == 0) break;
      blockBytes += read;
    }

    if (style.resumable)
      LogInfo("%s: Bytes Read: %d\n", routine, static_cast<int>(blockBytes));
    else
      LogDebug("%s: Bytes Read: %d\n", routine, static_cast<int>(blockBytes));
    if (stop) break;
    if (repeat) {
      LogInfo("%s : second attempt of the previous request\n", routine);
      continue;
    }
    handles.Close(style.closeReport);
    const uint64_t elapsed = MonotonicMs() - started;

    // A server that answers a range with nothing must not keep the download
    // asking for ever.
    if (blockBytes == 0) {
      if (++emptyBlocks >= 2) {
        LogError("%s : No data received twice in a row for the bytes from %llu; the download ends \n", routine,
                 U64(first));
        result = queryFailure != 0 ? queryFailure : ERROR_HANDLE_EOF;
        break;
      }
    } else {
      emptyBlocks = 0;
    }
    g_winHttp.Sleep(PauseAfterBlock(elapsed));
  }
  handles.Close(style.closeReport);
  return result;
}

// The temporary file of InternetGetRequestByBitrate as the loop's target.
class TempFileTarget : public BlockTarget {
 public:
  TempFileTarget(const DownloadCall& call, uint64_t contentLength, std::wstring validator)
      : call_(call), length_(contentLength), validator_(std::move(validator)) {}

  int32_t Create(const std::wstring& path) { return file_.Create(path); }
  // Closes the file, first writing what is still buffered when the download
  // is to be kept. 0 or the code of the failed write (logged).
  int32_t Close(bool keep) {
    int32_t code = keep ? file_.Flush() : 0;
    if (code != 0) WriteFailed(code);
    file_.Close();
    return code;
  }

  uint64_t Stored() const override { return stored_; }
  uint64_t Length() const override { return length_; }

  int32_t Send(RequestHandles& handles, const std::wstring& range) override {
    return SendRangeRequest(call_, handles, range, validator_, true);
  }

  int32_t Accept(RequestHandles& handles, uint64_t first) override {
    if (handles.statusCode == 206)
      return RangedAnswerContinues(kRoutine, handles.request.Get(), first, static_cast<uint32_t>(length_)) ? 0 : 206;
    // The whole body: it replaces what is stored, and its length and
    // validator (when the file changed on the server since the HEAD request)
    // are the ones the next blocks continue.
    validator_ = RangeValidator(handles.request.Get());
    std::optional<uint32_t> length;
    if (QueryContentLength(handles.request.Get(), length) == 0 && *length != length_) {
      LogInfo("InternetGetRequestByBitrate : Content Length of the request file: %u Bytes\n", *length);
      length_ = *length;
    }
    if (stored_ != 0) {
      LogInfo("InternetGetRequestByBitrate : The server sent the whole file instead of the bytes from %llu; the file "
              "starts afresh \n",
              U64(first));
      if (const int32_t code = file_.Restart()) return WriteFailed(code);
      stored_ = 0;
    }
    return 0;
  }

  int32_t Read(HINTERNET request, DWORD want, DWORD& read) override {
    if (buffer_.size() < want) buffer_.resize(want);
    if (const int32_t code = ReadBodyBytes(kRoutine, request, buffer_.data(), want, read)) return code;
    if (const int32_t code = file_.Write(buffer_.data(), read)) return WriteFailed(code);
    stored_ += read;
    return 0;
  }

 private:
  static int32_t WriteFailed(int32_t code) {
    LogError("InternetGetRequestByBitrate :  Error in WriteFile --> %d \n", code);
    HttpGetLastError(code);
    return code;
  }

  const DownloadCall& call_;
  uint64_t length_;
  std::wstring validator_;  // If-Range of the blocks: the version the stored bytes are of
  uint64_t stored_ = 0;
  TempFile file_;
  std::vector<char> buffer_;
};

// The HEAD request: status, Content-Length and range validator of the file.
// 0 with the length, or the code that ends the download; a length that is
// missing or cannot be read ends it too, as no file is made without a known
// length.
int32_t AskForLength(const DownloadCall& call, uint32_t& contentLength, std::wstring& validator) {
  RequestHandles head;
  head.requestKind = RequestKind::kHead;
  int32_t result = OpenDownloadRequest(call, head, true, false);
  if (result != 0) return result;
  result = FirstAnswerStatus(head.statusCode, "InternetGetRequestByBitrate : File not modified since the time: %ls\n",
                             "InternetGetRequestByBitrate : Failed with the http status code: %d \n");
  if (result != 0) return result;
  std::optional<uint32_t> length;
  if ((result = ReadDownloadLength(kRoutine, head.request.Get(), false, length)) != 0) return result;
  contentLength = *length;
  validator = RangeValidator(head.request.Get());
  return 0;
}

// The partial file of a resumable download job as the loop's target: the
// job's staging buffer and periodic saves take the bytes.
class ResumeTarget : public BlockTarget {
 public:
  explicit ResumeTarget(DownloadResumeHandler& job) : job_(job) {}
  uint64_t Stored() const override { return job_.BytesReceived(); }
  uint64_t Length() const override { return job_.ContentLength(); }
  int32_t Send(RequestHandles& handles, const std::wstring& range) override {
    return job_.SendRangeRequest(handles, range, true);
  }
  int32_t Accept(RequestHandles& handles, uint64_t first) override {
    return job_.AcceptRangedAnswer(handles, static_cast<uint32_t>(first), kResumeRoutine);
  }
  int32_t Read(HINTERNET request, DWORD want, DWORD& read) override {
    const uint32_t before = job_.BytesReceived();
    bool done = false;
    const int32_t rc = job_.ReadAvailableIntoBuffer(request, want, kResumeRoutine, done, true);
    read = job_.BytesReceived() - before;
    return rc;
  }

 private:
  DownloadResumeHandler& job_;
};

}  // namespace

int32_t DownloadInBlocks(const DownloadCall& call) {
  if (const int32_t code = CheckDownloadArguments(kRoutine, call)) return code;
  LogDownloadStart(kRoutine, call);
  auto finish = [](int32_t result) { return LogDownloadEnd(kRoutine, result); };

  uint32_t contentLength = 0;
  std::wstring validator;
  if (const int32_t code = AskForLength(call, contentLength, validator)) return finish(code);

  CreateDestinationFolder(kRoutine, call);
  const std::wstring tempPath = DownloadTempFilePath(call);
  TempFileTarget file(call, contentLength, std::move(validator));
  if (const int32_t code = file.Create(tempPath)) {
    LogError("InternetGetRequestByBitrate: Error occured while creating the file --> %d \n", code);
    HttpGetLastError(code);
    return finish(code);
  }

  LogDebug("InternetGetRequestByBitrate: Block of bytes to read: %llu\n", U64(BlockSizeFromRate(contentLength)));
  const LoopStyle style{kRoutine, false, CloseReport::kQuiet};
  RequestHandles handles;
  int32_t result = RunBlockLoop(style, file, handles);
  if (const int32_t code = file.Close(result == 0)) result = code;
  LogInfo("InternetGetRequestByBitrate: Total bytes read = %llu\n", U64(file.Stored()));

  if (result == 0) {
    if (call.requestType == GET_DATA) {
      result = DeliverGetData(kRoutine, *call.outData);
    } else if (MoveFileOver(tempPath, call.destination)) {
      // The temporary file lies beside the destination, so it replaces the
      // destination in one step: the old file stays whole until then.
      LogInfo("InternetGetRequestByBitrate : Successfully downloaded the file %ls from the server %ls\n",
              call.objectPath, call.serverAddress);
    } else {
      result = LastCode();
      LogError("InternetGetRequestByBitrate : could n't copy from .tmp file, errorcode --> %d \n", result);
    }
  }
  DeleteFileAt(tempPath);
  return finish(result);
}

int32_t ResumableDownloadInBlocks(const DownloadCall& call) {
  if (const int32_t code = CheckDownloadArguments(kResumeRoutine, call)) return code;
  LogDownloadStart(kResumeRoutine, call);
  auto finish = [](int32_t result) { return LogDownloadEnd(kResumeRoutine, result); };

  DownloadResumeHandler job(call);
  RequestHandles handles;

  int32_t result = job.PreDownloadHandling();
  if (result != 0) {
    if (!job.PostDownloadDone()) result = job.PostDownloadHandling(handles, result);
    return finish(result);
  }
  result = job.Initialize(call.destination, job.LastModified().c_str(), call.objectPath);
  if (result != 0) return finish(job.PostDownloadHandling(handles, result));

  LogDebug("ResumeGetRequestByBitrate: Block of bytes to read: %llu\n", U64(BlockSizeFromRate(job.ContentLength())));
  ResumeTarget target(job);
  const LoopStyle style{kResumeRoutine, true, CloseReport::kDebug};
  result = RunBlockLoop(style, target, handles);
  return finish(job.FinishTransfer(handles, result, kResumeRoutine, false));
}

int32_t ResumeGetRequestByBitrate(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                                  const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                                  const wchar_t* proxyPassword, const wchar_t* objectPath,
                                  const wchar_t* destination, OptText* outData, int32_t requestType,
                                  bool keepAlive) {
  return ResumableDownloadInBlocks(DownloadCall{useProxy, protocol, serverAddress, port, proxyServer, proxyBypass,
                                                proxyUser, proxyPassword, objectPath, destination, outData,
                                                requestType, keepAlive});
}
