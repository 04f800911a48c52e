// The steps the downloaders share, one copy each: the checks of a call, the
// requests they send (the first one, and ranges from a given byte), whether a
// ranged answer continues what is stored, the Content-Length of a download,
// reading the body, and the GET_DATA temporary file read back into memory.
#pragma once
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "agent/config/settings.h"
#include "http/requesthandles.h"

// Everything one download call was given, in the order of the arguments of
// InternetGetRequestEx.
struct DownloadCall {
  bool useProxy = false;
  const char* protocol = nullptr;
  const wchar_t* serverAddress = nullptr;
  int32_t port = 0;
  const wchar_t* proxyServer = nullptr;
  const wchar_t* proxyBypass = nullptr;
  const wchar_t* proxyUser = nullptr;
  const wchar_t* proxyPassword = nullptr;
  const wchar_t* objectPath = nullptr;
  const wchar_t* destination = nullptr;  // DOWNLOAD_FILE target; may be null for GET_DATA
  OptText* outData = nullptr;            // GET_DATA target; may be null for DOWNLOAD_FILE
  int32_t requestType = 0;
  bool keepAlive = false;
  bool acceptGzip = false;  // only the plain download asks for gzip
};

// A request type the downloads serve, the place for its answer, a server and a
// path. 0, or 13 (logged under `routine`).
int32_t CheckDownloadArguments(const char* routine, const DownloadCall& call);

// The opening lines of a downloader: its "Inside" banner, server and port,
// and the URL; and its closing banner, which hands `result` back.
void LogDownloadStart(const char* routine, const DownloadCall& call);
int32_t LogDownloadEnd(const char* routine, int32_t result);

// The status of a download's first answer: 0 for 200; 90001 for 304 and the
// status itself for any other, logged with the route's own texts
// (`notModified` takes the modification time, which is not kept, `failed`
// the status).
int32_t FirstAnswerStatus(int32_t status, const char* notModified, const char* failed);

// Sends the GET of a download call (or what handles.requestKind asks for)
// through the request core.
int32_t OpenDownloadRequest(const DownloadCall& call, RequestHandles& handles, bool keepAlive, bool acceptGzip);

// "Range: bytes=<first>-<last>", the one form of every range a download asks for.
std::wstring RangeHeader(uint64_t first, uint64_t last);
// The validator that the ranged requests of a download name in If-Range, from
// the answer whose bytes they continue: its ETag, or its Last-Modified when it
// has no ETag or only a weak one (which cannot validate a range). "" when the
// answer has neither; the ranges then go without If-Range.
std::wstring RangeValidator(HINTERNET answer);
// A ranged GET with `range` on fresh handles (what `handles` held is closed
// first), never asking for gzip. With a `validator` it carries "If-Range:
// <validator>", so that a file re-published on the server since the bytes
// stored were received is answered whole (200) instead of with a range of the
// new version. The request core's result; the answer's status is in
// handles.statusCode.
int32_t SendRangeRequest(const DownloadCall& call, RequestHandles& handles, const std::wstring& range,
                         const std::wstring& validator, bool keepAlive);

// Whether a 206 answer to a range asked from byte `first` continues the bytes
// stored: its Content-Range is readable, starts at `first`, and names as the
// total the first answer's Content-Length (`expectedLength`) or no total ("*").
// When it does not, that is logged under `routine`.
bool RangedAnswerContinues(const char* routine, HINTERNET request, uint64_t first,
                           std::optional<uint32_t> expectedLength);

// Whether a whole-file (200) answer to a range asked from byte `first` may
// start the download afresh. Such an answer says that the file changed on the
// server (If-Range no longer matched) or that the server ignores ranges. It
// may always when `first` is 0, otherwise once per call (`restarted`
// remembers it). A second one ends the call with 12152, logged under
// `routine`: a server that ignores ranges and breaks off at about the same
// point every time would otherwise keep the download busy for ever. An answer
// that announces no bytes (Content-Length 0) is no file that ranges were asked
// of: it ends the call with `shortBodyCode`, the route's code for a body that
// fell short (logged).
int32_t AllowWholeFileAnswer(const char* routine, HINTERNET answer, uint64_t first, bool& restarted,
                             int32_t shortBodyCode);

// The Content-Length of a download's answer, logged under `routine` ("Content
// Length of the request file"). A missing or unreadable header leaves `length`
// unset and is accepted when `unknownAccepted`; otherwise it fails like any
// other query failure: logged and its code returned.
int32_t ReadDownloadLength(const char* routine, HINTERNET request, bool unknownAccepted,
                           std::optional<uint32_t>& length);

// A failed WinHttpQueryDataAvailable, logged and explained under `routine`;
// its code.
int32_t QueryAvailableFailed(const char* routine);
// How many body bytes wait on handles.request, with one recovery: a failure
// that is `recoverable` runs `recover` (which sends a fresh request on
// `handles`, 0 when reading can go on) and asks again. false with `result`
// set when reading ends with that code (a failed query is logged).
bool QueryAvailableOrRecover(const char* routine, RequestHandles& handles, DWORD& available,
                             const std::function<bool(int32_t code)>& recoverable,
                             const std::function<int32_t()>& recover, int32_t& result);
// WinHttpReadData of at most `want` bytes; 0, or the code of a failed read
// (logged and explained under `routine`).
int32_t ReadBodyBytes(const char* routine, HINTERNET request, char* buffer, DWORD want, DWORD& read);

// The temporary file of a download: beside the destination for DOWNLOAD_FILE
// ("<destination><thread id>.tmp"), the GET_DATA file otherwise.
std::wstring DownloadTempFilePath(const DownloadCall& call);
// Creates the folder of a DOWNLOAD_FILE destination; a failure is logged under
// `routine` and the download goes on.
void CreateDestinationFolder(const char* routine, const DownloadCall& call);

// The GET_DATA temporary file of the calling thread: "<TEMP>\tw<thread id>.tmp".
std::wstring GetDataTempFilePath();
// Reads the calling thread's GET_DATA temporary file as text (line ends as a
// text-mode read gives them) into `out`. 1 on success, 0 when the file cannot
// be opened (`out` untouched).
int LoadDatafromFile(OptText& out);
// Hands a finished GET_DATA download to `outData`: 0, or 6 when the file
// could not be read back (logged under `routine`).
int32_t DeliverGetData(const char* routine, OptText& outData);
