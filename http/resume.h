// Resumable file downloads: the body lands in a partial file under the agent's
// download repository, is saved in periodic chunks and its progress is kept
// under the agent's "FileMetaData" registry key (resumestate.h), so that a
// later attempt asks the server only for the bytes still missing.
#pragma once
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <string>
#include <vector>

#include "agent/config/settings.h"
#include "http/accesslog.h"
#include "http/downloadsteps.h"
#include "http/requesthandles.h"
#include "http/resumestate.h"

// Same arguments as InternetGetRequestEx without acceptGzip (gzip is never
// asked for). Results: 0 (file copied to `destination`, or GET_DATA content in
// `outData`), 90001, 707 (the attempt ended short of Content-Length, or the
// partial file does not match it: the partial state is kept for the next
// attempt), 6, an HTTP status, 407, or a WinHTTP / Windows error code.
int32_t ResumeGetRequestEx(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                           const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                           const wchar_t* proxyPassword, const wchar_t* objectPath, const wchar_t* destination,
                           OptText* outData, int32_t requestType, bool keepAlive);
// ResumeGetRequestEx for a call already gathered (its acceptGzip is ignored).
int32_t ResumableDownload(const DownloadCall& call);

// Reads the answer's Last-Modified header into `out` ("" when it is missing).
// 0 or the error code of the header query.
int32_t GetFilelastmodifiedTime(HINTERNET request, std::wstring& out);

// One resumable download job, made per call on the caller's stack. A
// downloader runs the job steps in this order (ResumeGetRequestEx with one
// ranged request, ResumeGetRequestByBitrate with a block loop):
//
//   DownloadResumeHandler job(call);
//   int32_t rc = job.PreDownloadHandling();          // plain GET: Last-Modified, Content-Length
//   if (rc != 0) return job.PostDownloadDone() ? rc : job.PostDownloadHandling(handles, rc);
//   rc = job.Initialize(call.destination, job.LastModified().c_str(), call.objectPath);
//   if (rc != 0) return job.PostDownloadHandling(handles, rc);
//   if (job.IsComplete()) return job.PostDownloadHandling(handles, 0);   // nothing missing
//   while (...) {                                     // one or more ranged requests
//     rc = job.SendRangeRequest(handles, RangeHeader(job.BytesReceived(), last), keepAlive);
//     if (rc == 0) rc = job.AcceptRangedAnswer(handles, job.BytesReceived(), "Routine");
//     ...  WinHttpQueryDataAvailable(handles.request, &available) ...
//     rc = job.ReadAvailableIntoBuffer(handles.request, available, "Routine", done);
//   }
//   return job.FinishTransfer(handles, rc, "Routine", keepStatistics);   // final save, 707 rule, access log
//
// "Routine" is the name that prefixes the step's log lines
// ("ResumeGetRequestEx", "ResumeGetRequestByBitrate").
class DownloadResumeHandler {
 public:
  explicit DownloadResumeHandler(const DownloadCall& call);
  DownloadResumeHandler(const DownloadResumeHandler&) = delete;
  DownloadResumeHandler& operator=(const DownloadResumeHandler&) = delete;

  // The first, plain GET (body never read): keeps Last-Modified,
  // Content-Length and the validator of its version (RangeValidator). 0,
  // 90001 (304), the HTTP status, or an error code. When the Content-Length
  // header cannot be read it has already run PostDownloadHandling (see
  // PostDownloadDone); for any other non-zero result the caller runs
  // PostDownloadHandling with it.
  int32_t PreDownloadHandling();
  // Reads the "FileMetaData" state of the object path (StoredDownload) and
  // sets BytesReceived() to the bytes already stored; the ranges that
  // continue a reused partial file name its stored Last-Modified in If-Range.
  // 0, or 13 after an internal fault.
  int32_t Initialize(const wchar_t* destination, const char* lastModified, const wchar_t* objectPath);

  // A ranged GET of this job's file on fresh handles, with If-Range naming
  // the version of the bytes stored (SendRangeRequest).
  int32_t SendRangeRequest(RequestHandles& handles, const std::wstring& range, bool keepAlive);
  // Decides whether the answer to a range request starting at `first` may be
  // stored: a 206 that continues the stored bytes gives 0; a 200 (the whole
  // body, of a new version when the file changed) gives 0 after the partial
  // file was restarted from byte 0 when `first` was not 0 (then
  // BytesReceived() is 0), and its validator names the version from then on;
  // a 206 that does not continue them gives 206 (logged); any other status is
  // returned as it is (the caller logs it). An error page is thus never
  // written into the partial file.
  int32_t AcceptRangedAnswer(RequestHandles& handles, uint32_t first, const char* routine);
  // One pass of the body loop after WinHttpQueryDataAvailable reported
  // `available` (> 0) bytes: makes room in the staging buffer (a periodic save
  // when full; a larger block saves first and enlarges the buffer, logged as
  // "Reallocating buffer to %d" when `logGrowth`), reads the bytes and counts
  // them. 0 to go on, or the code of a failed save or read (logged with
  // `routine`). `done` is set when Content-Length is reached or a read gave 0
  // bytes.
  int32_t ReadAvailableIntoBuffer(HINTERNET request, DWORD available, const char* routine, bool& done,
                                  bool logGrowth = false);
  // End of an attempt after its transfer: logs "<routine>: Total bytes read",
  // keeps the failure statistics for a short attempt when `keepStatistics`,
  // saves the staged bytes when the result leaves them valid (0; a stall or
  // broken connection, 12002, 12029, 12030; the block loop's own ends, 38,
  // 206, 12152), turns a clean but short end into 707, and runs
  // PostDownloadHandling. Returns the final result.
  int32_t FinishTransfer(RequestHandles& handles, int32_t result, const char* routine, bool keepStatistics);

  // Appends `count` bytes to the partial file and records the save
  // (StoredDownload::RecordSave). 0, a Windows error code, or 13.
  int32_t ProcessDownloadedBuffer(const char* buffer, uint32_t count, SaveKind kind);
  // Closes the handles, frees the staging buffer, delivers the file on result
  // 0 (a failed delivery becomes the result) and writes the access-log line.
  // Returns the final result.
  int32_t PostDownloadHandling(RequestHandles& handles, int32_t result);
  // Copies the complete partial file over the destination (707 when its size
  // is not Content-Length) and then cleans up. 0 or the error code.
  int32_t SaveToDestFile();

  const std::string& LastModified() const { return state_.LastModified(); }
  uint32_t ContentLength() const { return contentLength_; }
  uint32_t BytesReceived() const { return bytesReceived_; }  // stored earlier + read by this attempt
  uint32_t StartOffset() const { return state_.StartOffset(); }
  bool IsComplete() const { return bytesReceived_ == contentLength_; }
  // True once PostDownloadHandling ran for this job.
  bool PostDownloadDone() const { return postDone_; }

 private:
  int32_t SaveStagedBytes(SaveKind kind);  // the staging buffer through ProcessDownloadedBuffer
  // Whether the partial file holds exactly Content-Length bytes (`present`:
  // it exists); logged under `routine` when it does not.
  bool PartialFileComplete(const char* routine, bool& present);
  void RestartPartialFile();               // drops everything stored: file emptied, counters 0
  int32_t DeliverData();                   // GET_DATA: partial file into outData
  AccessLogEntry LogEntry() const;

  DownloadCall call_;
  StoredDownload state_;
  std::wstring destination_;
  std::wstring objectPathW_;
  std::string objectPath_;
  std::string accessLogStart_;
  std::wstring rangeValidator_;  // If-Range of the ranges: the version of the bytes stored
  uint32_t bytesSaved_ = 0;  // written to the partial file by this attempt
  bool postDone_ = false;
  bool contentLengthKnown_ = false;
  uint32_t contentLength_ = 0;
  uint32_t bytesReceived_ = 0;
  std::vector<char> buffer_;  // staging buffer: the first `buffered_` bytes wait for a save
  size_t buffered_ = 0;
  size_t bufferSize_ = 0;     // save threshold: the save limit, or a larger block
};
