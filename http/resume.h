// Resumable file downloads: the body lands in a partial file under the agent's
// download repository, is saved in periodic chunks and its progress is kept
// under the agent's "FileMetaData" registry key, so that a later attempt asks
// the server only for the bytes still missing. A "downloadInProgress" flag
// with a heartbeat keeps two downloads of the same path apart.
#pragma once
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <string>
#include <vector>

#include "agent/config/settings.h"
#include "http/accesslog.h"
#include "http/download.h"
#include "http/requestcore.h"

// Same arguments as InternetGetRequestEx without acceptGzip (gzip is never
// asked for). Results: 0 (file copied to `destination`, or GET_DATA content in
// `outData`), 90001, 707 (the attempt ended short of Content-Length, or the
// partial file does not match it: the partial state is kept for the next
// attempt), 6, an HTTP status, 407, or a WinHTTP / Windows error code.
int32_t ResumeGetRequestEx(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                           const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                           const wchar_t* proxyPassword, const wchar_t* objectPath, const wchar_t* destination,
                           OptText* outData, int32_t requestType, bool keepAlive);

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
//     std::wstring range = DownloadResumeHandler::RangeHeader(job.BytesReceived(), last);
//     rc = job.SendRangeRequest(handles, range.c_str(), keepAlive);
//     if (rc == 0) rc = job.AcceptRangedAnswer(handles, job.BytesReceived(), "Who");
//     ...  WinHttpQueryDataAvailable(handles.request, &available) ...
//     rc = job.ReadAvailableIntoBuffer(handles.request, available, "Who", done);
//   }
//   return job.FinishTransfer(handles, rc, "Who", keepStatistics);   // final save, 707 rule, access log
//
// "Who" is the routine name that prefixes the step's log lines
// ("ResumeGetRequestEx", "ResumeGetRequestByBitrate").
//
// Ownership: every job that will write the shared partial file of a path
// claims "downloadInProgress" together with a fresh "LastRetryTime" in
// Initialize, before any byte is written, and releases it at its final save
// or when destroyed. A job that finds the flag with a heartbeat of at most 90
// minutes becomes a temporary download: it writes a private partial file,
// never writes the path's metadata, and removes only its own file.
class DownloadResumeHandler {
 public:
  explicit DownloadResumeHandler(const DownloadCall& call);
  // Frees the staging buffer and releases "downloadInProgress" if this job
  // still holds it; a temporary download also removes its private file.
  ~DownloadResumeHandler();
  DownloadResumeHandler(const DownloadResumeHandler&) = delete;
  DownloadResumeHandler& operator=(const DownloadResumeHandler&) = delete;

  // --- Job steps ---------------------------------------------------------

  // The first, plain GET (body never read): keeps Last-Modified and
  // Content-Length. 0, 90001 (304), the HTTP status, or an error code. When
  // the Content-Length header cannot be read it has already run
  // PostDownloadHandling (see PostDownloadDone); for any other non-zero result
  // the caller runs PostDownloadHandling with it.
  int32_t PreDownloadHandling();

  // Reads the "FileMetaData" state of the object path, decides whether the
  // stored partial file is reused, claims ownership or turns the job into a
  // temporary download, and counts the download. Sets BytesReceived() to the
  // bytes already stored. 0, or 13 after an internal fault.
  int32_t Initialize(const wchar_t* destination, const char* lastModified, const wchar_t* objectPath);
  // Part of Initialize: whether the stored partial file of the current unique
  // id is reusable, and who owns it.
  int32_t GetFileDataFromRegistry();
  // Forms the unique id when there is none, the partial file path, and creates
  // the repository folder.
  void FormUniqueFileName();

  // "Range: bytes=<first>-<last>".
  static std::wstring RangeHeader(uint32_t first, uint32_t last);
  // Sends a GET with `rangeHeader` on fresh handles (closes what `handles`
  // still holds first). The result of GetInternetRequestHandle; the status is
  // in handles.statusCode.
  int32_t SendRangeRequest(RequestHandles& handles, const wchar_t* rangeHeader, bool keepAlive);
  // Decides whether the answer to a range request starting at `first` may be
  // stored: a 206 for that range gives 0; a 200 (the whole body) gives 0 after
  // the partial file was restarted from byte 0 when `first` was not 0 (then
  // BytesReceived() is 0); a 206 for another range gives 206 (logged); any
  // other status is returned as it is (the caller logs it). An error page is
  // thus never written into the partial file.
  int32_t AcceptRangedAnswer(RequestHandles& handles, uint32_t first, const char* who);
  // One pass of the body loop after WinHttpQueryDataAvailable reported
  // `available` (> 0) bytes: makes room in the staging buffer (a periodic save
  // when full; a larger block saves first and enlarges the buffer, logged as
  // "Reallocating buffer to %d" when `logGrowth`), reads the bytes and counts
  // them. 0 to go on, or the code of a failed save or read (logged with
  // `who`). `done` is set when Content-Length is reached or a read gave 0 bytes.
  int32_t ReadAvailableIntoBuffer(HINTERNET request, DWORD available, const char* who, bool& done,
                                  bool logGrowth = false);
  // Saves the bytes waiting in the staging buffer (ProcessDownloadedBuffer)
  // and empties it. 0 or the save's code.
  int32_t SaveStagedBytes(bool periodic);
  // End of an attempt after its transfer: logs "<who>: Total bytes read",
  // keeps the failure statistics for a short attempt when `keepStatistics`,
  // saves the staged bytes for results 0, 12002, 12029 and 12030, turns a
  // clean but short end into 707, and runs PostDownloadHandling. Returns the
  // final result.
  int32_t FinishTransfer(RequestHandles& handles, int32_t result, const char* who, bool keepStatistics);

  // Appends `count` bytes to the partial file and, unless the job is a
  // temporary download, records the new size, Last-Modified and heartbeat;
  // the final save (`periodic` false) also counts the retry and releases
  // "downloadInProgress". 0, a Windows error code, or 13.
  int32_t ProcessDownloadedBuffer(const char* buffer, uint32_t count, bool periodic);
  // Closes the handles, frees the staging buffer, delivers the file on result
  // 0 (a failed delivery becomes the result) and writes the access-log line.
  // Returns the final result.
  int32_t PostDownloadHandling(RequestHandles& handles, int32_t result);
  // Copies the complete partial file over the destination (707 when its size
  // is not Content-Length) and then cleans up. 0 or the error code.
  int32_t SaveToDestFile();
  // Deletes the partial file and its unique id's subkey; for the owner of the
  // path also the object-path value. 0, or 13.
  int32_t CleanFileAndRegistry();

  // --- State -------------------------------------------------------------

  const std::string& LastModified() const { return lastModified_; }  // server text (narrow)
  uint32_t ContentLength() const { return contentLength_; }
  uint32_t BytesReceived() const { return bytesReceived_; }  // stored earlier + read by this attempt
  uint32_t StartOffset() const { return startOffset_; }
  uint32_t StoredSize() const { return storedSize_; }
  uint32_t SaveLimit() const { return saveLimit_; }
  bool IsTemporaryDownload() const { return temporaryDownload_; }
  bool IsComplete() const { return bytesReceived_ == contentLength_; }
  const std::string& UniqueId() const { return uniqueId_; }
  const std::wstring& PartialFilePath() const { return partialFilePath_; }
  // True once PostDownloadHandling ran for this job.
  bool PostDownloadDone() const { return postDone_; }
  const DownloadCall& Call() const { return call_; }

 private:
  std::string MetaKey() const;     // agent key + "\FileMetaData"
  std::string SubKey() const;      // MetaKey() + "\" + unique id
  void NewUniqueId();              // clears the id and forms a fresh one (empty partial file)
  void DiscardPartialFile();       // "PreDownloadCleaningOfPartialFile"
  int32_t ClaimOwnership();        // "downloadInProgress" = 1 with a fresh heartbeat
  void ReleaseOwnership();
  void RestartPartialFile();       // drops everything stored: file emptied, counters 0
  int32_t DeliverData();           // GET_DATA: partial file into outData
  void DeletePartialFile();
  AccessLogEntry LogEntry() const;

  DownloadCall call_;
  std::string lastModified_;
  std::wstring destination_;
  std::wstring objectPathW_;
  std::string objectPath_;
  std::string uniqueId_;
  std::wstring partialFilePath_;
  std::string repositoryName_;
  std::string accessLogStart_;
  int32_t retryCount_ = 0;
  uint32_t startOffset_ = 0;
  uint32_t storedSize_ = 0;
  uint32_t bytesSaved_ = 0;
  uint32_t saveLimit_ = 1048576;
  int64_t lastRetryTime_ = 0;
  bool temporaryDownload_ = false;
  bool ownsFlag_ = false;
  bool postDone_ = false;
  bool contentLengthKnown_ = false;
  uint32_t contentLength_ = 0;
  uint32_t bytesReceived_ = 0;
  std::vector<char> buffer_;  // staging buffer: the first `buffered_` bytes wait for a save
  size_t buffered_ = 0;
  size_t bufferSize_ = 0;     // save threshold: saveLimit, or a larger block
};
