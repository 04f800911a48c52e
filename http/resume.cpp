// The resumable downloader (see resume.h): the job steps of
// DownloadResumeHandler around the stored state of resumestate.h and the
// partial file of partialfile.h, and ResumeGetRequestEx with its single ranged
// request and the recovery from a stalled or broken connection.
#include "http/resume.h"

#include <windows.h>
#include <winhttp.h>

#include <new>
#include <optional>

#include "agent/log/format.h"
#include "agent/log/logger.h"
#include "agent/util/errortext.h"
#include "agent/util/fileutil.h"
#include "agent/util/textconv.h"
#include "http/downloadfiles.h"
#include "http/failurelog.h"
#include "http/httpinternal.h"
#include "http/partialfile.h"
#include "http/requestcore.h"

int32_t GetFilelastmodifiedTime(HINTERNET request, std::wstring& out) {
  LogDebug("@@@@@@@@@@@ Inside GetFilelastmodifiedTime Method   @@@@@@@@@@@@@\n");
  int32_t code = QueryHeaderText(request, WINHTTP_QUERY_LAST_MODIFIED, WINHTTP_HEADER_NAME_BY_INDEX, out);
  if (code == 0 && out.empty()) code = ERROR_WINHTTP_HEADER_NOT_FOUND;  // an empty header is as good as none
  if (code != 0) {
    out.clear();
    LogError("GetFilelastmodifiedTime: Could n't query HEADER for last modified time\n");
    return code;
  }
  LogDebug("GetFilelastmodifiedTime : File last modified time: %ls\n", out.c_str());
  return 0;
}

// ---------------------------------------------------------------------------
// DownloadResumeHandler

namespace {

// Whether the bytes staged when an attempt ended with `result` were validly
// received, so that the final save keeps them for the next attempt: after a
// clean end, a stall or broken connection, and the block loop's own ends (two
// empty blocks, an answer for another range, a second whole-file answer),
// all of which come after the last accepted bytes. Any other failure keeps
// the state of the last periodic save.
bool StagedBytesAreValid(int32_t result) {
  switch (result) {
    case 0:
    case ERROR_WINHTTP_TIMEOUT:
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case ERROR_HANDLE_EOF:
    case 206:
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
      return true;
    default:
      return false;
  }
}

}  // namespace

DownloadResumeHandler::DownloadResumeHandler(const DownloadCall& call) : call_(call) {
  if (call_.objectPath) objectPathW_ = call_.objectPath;
  objectPath_ = Utf8(call_.objectPath);
  if (call_.destination) destination_ = call_.destination;
  accessLogStart_ = AccessLogStartText();
}

int32_t DownloadResumeHandler::PreDownloadHandling() {
  RequestHandles handles;
  const int32_t rc = OpenDownloadRequest(call_, handles, call_.keepAlive, false);
  if (rc != 0) {
    LogError("PreDownloadHandling: ERROR in GetInternetRequestHandle - %d\n", rc);
    return rc;
  }
  if (const int32_t code =
          FirstAnswerStatus(handles.statusCode, "PreDownloadHandling :File not modified since the time: %ls\n",
                            "PreDownloadHandling : Failed with the http status code, %d \n"))
    return code;
  std::wstring modified;
  GetFilelastmodifiedTime(handles.request.Get(), modified);
  state_.SetLastModified(Utf8(modified.c_str()));
  rangeValidator_ = RangeValidator(handles.request.Get());

  std::optional<uint32_t> length;
  if (const int32_t code = ReadDownloadLength("PreDownloadHandling", handles.request.Get(), true, length))
    return PostDownloadHandling(handles, code);
  contentLength_ = length.value_or(0);
  contentLengthKnown_ = length.has_value();
  // The body of this request is never read.
  return 0;
}

int32_t DownloadResumeHandler::Initialize(const wchar_t* destination, const char* lastModified,
                                          const wchar_t* objectPath) {
  if (destination) destination_ = destination;
  if (objectPath) {
    objectPathW_ = objectPath;
    objectPath_ = Utf8(objectPath);
  }
  if (const int32_t rc = state_.Initialize(objectPathW_, lastModified ? lastModified : "", contentLength_)) return rc;
  bufferSize_ = state_.SaveLimit();
  bytesReceived_ = state_.StoredSize();
  // The stored bytes were received under the stored Last-Modified (read
  // through the "A" registry interface): the ranges that continue them ask
  // for that version.
  if (bytesReceived_ > 0) SystemCodePageToWide(state_.StoredLastModified().c_str(), rangeValidator_);
  return 0;
}

int32_t DownloadResumeHandler::SendRangeRequest(RequestHandles& handles, const std::wstring& range, bool keepAlive) {
  return ::SendRangeRequest(call_, handles, range, rangeValidator_, keepAlive);
}

void DownloadResumeHandler::RestartPartialFile() {
  buffered_ = 0;
  bytesReceived_ = 0;
  bytesSaved_ = 0;
  state_.Restart();
}

int32_t DownloadResumeHandler::AcceptRangedAnswer(RequestHandles& handles, uint32_t first, const char* routine) {
  if (handles.statusCode == 206) {
    std::optional<uint32_t> expected;
    if (contentLengthKnown_) expected = contentLength_;
    return RangedAnswerContinues(routine, handles.request.Get(), first, expected) ? 0 : 206;
  }
  if (handles.statusCode == 200) {
    // The whole body instead of a range: what is stored cannot be continued
    // with it, so the partial file starts again from this answer.
    std::optional<uint32_t> length;
    if (QueryContentLength(handles.request.Get(), length) == 0) {
      contentLength_ = *length;
      contentLengthKnown_ = true;
    }
    std::wstring modified;
    if (GetFilelastmodifiedTime(handles.request.Get(), modified) == 0) state_.SetLastModified(Utf8(modified.c_str()));
    rangeValidator_ = RangeValidator(handles.request.Get());
    if (first != 0 || bytesReceived_ != 0 || state_.StoredSize() != 0) {
      LogInfo("%s : The server sent the whole file instead of the range; the partial file starts afresh \n", routine);
      RestartPartialFile();
    }
    return 0;
  }
  return handles.statusCode;
}

int32_t DownloadResumeHandler::SaveStagedBytes(SaveKind kind) {
  const int32_t rc = ProcessDownloadedBuffer(buffer_.data(), static_cast<uint32_t>(buffered_), kind);
  buffered_ = 0;
  return rc;
}

int32_t DownloadResumeHandler::ReadAvailableIntoBuffer(HINTERNET request, DWORD available, const char* routine,
                                                       bool& done, bool logGrowth) {
  done = false;
  if (available > bufferSize_) {
    // A block larger than the buffer: what waits is saved and the buffer grows.
    if (buffered_ > 0) {
      if (const int32_t rc = SaveStagedBytes(SaveKind::kPeriodic)) {
        LogError("%s :  Error in WriteFile --> %d \n", routine, rc);
        return rc;
      }
    }
    bufferSize_ = available;
    if (logGrowth) LogInfo("Reallocating buffer to %d\n", static_cast<int>(available));
  } else if (buffered_ + available > bufferSize_) {
    if (const int32_t rc = SaveStagedBytes(SaveKind::kPeriodic)) {
      LogError("%s :  Error in WriteFile --> %d \n", routine, rc);
      return rc;
    }
  }
  if (buffer_.size() < buffered_ + available) {
    try {
      buffer_.resize(buffered_ + available);
    } catch (const std::bad_alloc&) {
      LogError("%s :  Error in WinHttpReadData --> %d \n", routine, static_cast<int>(ERROR_NOT_ENOUGH_MEMORY));
      return ERROR_NOT_ENOUGH_MEMORY;
    }
  }
  DWORD read = 0;
  if (const int32_t code = ReadBodyBytes(routine, request, buffer_.data() + buffered_, available, read)) return code;
  bytesReceived_ += read;
  buffered_ += read;
  if (bytesReceived_ == contentLength_) {
    LogInfo("%s : Bytes read reached the contenlength\n", routine);
    done = true;
  }
  if (read == 0) done = true;
  return 0;
}

int32_t DownloadResumeHandler::FinishTransfer(RequestHandles& handles, int32_t result, const char* routine,
                                              bool keepStatistics) {
  LogInfo("%s: Total bytes read = %u\n", routine, bytesReceived_);
  const bool fellShort = bytesReceived_ < contentLength_;
  // A clean end before Content-Length (the server closed early) is kept like
  // a completed attempt but never delivered.
  const bool cleanButShort = fellShort && result == 0;
  int32_t finalResult = cleanButShort ? kPartialDownload : result;

  if (fellShort && keepStatistics) {
    const uint32_t failures = state_.CountFailure();
    AppendToAgentErrorLog(FormatText("\tResume Download failed with error code : %d and total failed count value = %d\n",
                                     finalResult, static_cast<int>(failures)));
    IncrementVTTrackingCounter("ResumeDownloadDetails", "RESUME_DOWNLOAD_FAILURE_COUNT");
  }

  if (StagedBytesAreValid(result)) {
    // A complete attempt keeps "downloadInProgress" through its delivery.
    const int32_t rc = SaveStagedBytes(finalResult == 0 ? SaveKind::kFinalBeforeDelivery : SaveKind::kFinal);
    if (rc != 0 && finalResult == 0) finalResult = rc;
  }
  return PostDownloadHandling(handles, finalResult);
}

int32_t DownloadResumeHandler::ProcessDownloadedBuffer(const char* buffer, uint32_t count, SaveKind kind) {
  if (count == 0) return 0;
  LogDebug("Inside ProcessDownloadedBuffer\n");
  // The bytes go right after what this job knows to be stored.
  const uint64_t stored = static_cast<uint64_t>(state_.StoredSize()) + bytesSaved_;
  if (const int32_t code = AppendToPartialFile(state_.PartialFilePath(), stored, buffer, count)) return code;
  bytesSaved_ += count;
  LogDebug("File updated with data.\n");
  return state_.RecordSave(state_.StoredSize() + bytesSaved_, kind);
}

int32_t DownloadResumeHandler::PostDownloadHandling(RequestHandles& handles, int32_t result) {
  LogInfo("Proceeding for PostDownloadHandling \n");
  postDone_ = true;
  handles.Close();
  std::vector<char>().swap(buffer_);
  buffered_ = 0;
  if (result == 0) {
    const int32_t rc = call_.requestType == DOWNLOAD_FILE ? SaveToDestFile() : DeliverData();
    if (rc != 0) {
      LogInfo("PostDownloadHandling : failed\n");
      result = rc;
    } else {
      LogInfo("PostDownloadHandling : Successfully downloaded the file %ls from the server %ls to the destination "
              "file %ls \n",
              objectPathW_.c_str(), call_.serverAddress ? call_.serverAddress : L"", destination_.c_str());
    }
  }
  PrintHTTPAccessLog(LogEntry(), result);
  return result;
}

bool DownloadResumeHandler::PartialFileComplete(const char* routine, bool& present) {
  const std::wstring& partial = state_.PartialFilePath();
  uint64_t size = 0;
  present = FileSizeAt(partial, size);
  if (!present && contentLengthKnown_ && contentLength_ == 0) {
    // An empty content never needed a byte written: its partial file is empty.
    RestartPartialFile();
    present = FileSizeAt(partial, size);
  }
  if (present && size == contentLength_) return true;
  LogError("%s : The partial file %ls holds %llu bytes, not the Content-Length of %u bytes; it is not copied \n",
           routine, partial.c_str(), static_cast<unsigned long long>(present ? size : 0), contentLength_);
  return false;
}

int32_t DownloadResumeHandler::SaveToDestFile() {
  const std::wstring& partial = state_.PartialFilePath();
  LogInfo("Inside SaveToDestFile from %ls to %ls\n", partial.c_str(), destination_.c_str());
  bool present = false;
  if (!PartialFileComplete("SaveToDestFile", present)) return kPartialDownload;
  CreateFolder(destination_.c_str());
  if (const int32_t code = CopyPartialFileOver(partial, destination_)) {
    LogError("InternetGetRequestEx : could n't copy from %ls file to %ls ,\n", partial.c_str(), destination_.c_str());
    LogErrorCode(code);
    return code;
  }
  state_.CleanFileAndRegistry();
  return 0;
}

int32_t DownloadResumeHandler::DeliverData() {
  bool present = false;
  if (!PartialFileComplete("PostDownloadHandling", present)) return kPartialDownload;
  // Read back as text, as the plain GET_DATA download does.
  std::string data;
  if (!ReadTextFile(state_.PartialFilePath(), data)) {
    LogError("PostDownloadHandling : could n't read the data from the partial file \n");
    return kDataNotReadable;
  }
  if (call_.outData) *call_.outData = std::move(data);
  LogDebug("Data in memory : %s\n", call_.outData ? call_.outData->value_or("").c_str() : "");
  state_.CleanFileAndRegistry();
  return 0;
}

AccessLogEntry DownloadResumeHandler::LogEntry() const {
  AccessLogEntry entry;
  entry.startText = accessLogStart_;
  entry.objectPath = objectPath_;
  entry.objectPathW = objectPathW_;
  entry.serverAddress = call_.serverAddress ? call_.serverAddress : L"";
  entry.port = call_.port;
  entry.requestType = call_.requestType;
  entry.contentLength = contentLength_;
  entry.bytesReceived = bytesReceived_;
  return entry;
}

// ---------------------------------------------------------------------------
// ResumeGetRequestEx

int32_t ResumableDownload(const DownloadCall& call) {
  static const char* const kRoutine = "ResumeGetRequestEx";
  if (const int32_t code = CheckDownloadArguments(kRoutine, call)) return code;

  DownloadResumeHandler job(call);
  RequestHandles handles;
  int32_t result = job.PreDownloadHandling();
  if (result != 0) {
    if (!job.PostDownloadDone()) result = job.PostDownloadHandling(handles, result);
    LogError("@@@@@@@@ End Of ResumeGetRequestEx Method @@@@@@@@ \n");
    return result;
  }

  result = job.Initialize(call.destination, job.LastModified().c_str(), call.objectPath);
  if (result != 0) {
    return LogDownloadEnd(kRoutine, job.PostDownloadHandling(handles, result));
  }
  if (job.IsComplete()) {
    result = job.PostDownloadHandling(handles, 0);
    LogError("@@@@@@@@ End Of ResumeGetRequestEx Method @@@@@@@@ Full File already exist\n");
    return result;
  }

  // Whether the answer to the range from `first` may be stored; a whole-file
  // answer may start the partial file afresh once.
  bool restarted = false;
  auto accept = [&](int32_t rc, uint32_t first) {
    if (rc != 0) return rc;
    if (handles.statusCode == 200) {
      if (const int32_t code =
              AllowWholeFileAnswer(kRoutine, handles.request.Get(), first, restarted, kPartialDownload))
        return code;
    }
    rc = job.AcceptRangedAnswer(handles, first, kRoutine);
    if (rc != 0 && rc != 206)
      LogError("ResumeGetRequestEx : Failed with the http status code, %d \n", handles.statusCode);
    return rc;
  };
  const std::wstring range = RangeHeader(job.StartOffset(), job.ContentLength());
  LogError("ResumeGetRequestEx: Content-Range Header message: %ls\n", range.c_str());
  result = job.SendRangeRequest(handles, range, true);
  LogDebug("ResumeGetRequestEx: GetInternetRequestHandle function return code: %u\n", static_cast<unsigned>(result));
  result = accept(result, job.StartOffset());
  if (result != 0) {
    // No answer to store: the stored state stays as it was.
    handles.Close();
    return LogDownloadEnd(kRoutine, result);
  }

  const std::function<bool(int32_t)> recoverable = [](int32_t code) {
    return code == ERROR_WINHTTP_TIMEOUT || code == ERROR_WINHTTP_CONNECTION_ERROR ||
           code == ERROR_WINHTTP_CANNOT_CONNECT;
  };
  // Recovery: ask again for what is still missing.
  const std::function<int32_t()> recover = [&] {
    LogInfo("ResumeGetRequestEx : Total Bytes read so far:%u\n", job.BytesReceived());
    LogInfo("ResumeGetRequestEx : second attempt to recover from previous error\n");
    const uint32_t first = job.BytesReceived();
    const std::wstring again = RangeHeader(first, job.ContentLength());
    LogDebug("ResumeGetRequestEx: Content-Range Header message: %ls\n", again.c_str());
    return accept(job.SendRangeRequest(handles, again, call.keepAlive), first);
  };
  for (;;) {
    DWORD available = 0;
    if (!QueryAvailableOrRecover(kRoutine, handles, available, recoverable, recover, result)) break;
    if (available == 0) break;
    bool done = false;
    if (const int32_t rc = job.ReadAvailableIntoBuffer(handles.request.Get(), available, kRoutine, done)) {
      result = rc;
      break;
    }
    if (done) break;
  }

  return LogDownloadEnd(kRoutine, job.FinishTransfer(handles, result, kRoutine, true));
}

int32_t ResumeGetRequestEx(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                           const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                           const wchar_t* proxyPassword, const wchar_t* objectPath, const wchar_t* destination,
                           OptText* outData, int32_t requestType, bool keepAlive) {
  return ResumableDownload(DownloadCall{useProxy, protocol, serverAddress, port, proxyServer, proxyBypass, proxyUser,
                                        proxyPassword, objectPath, destination, outData, requestType, keepAlive});
}
