// The plain download (see download.h): request, body into the temporary file,
// decompression or the uncompressed fallback, delivery and removal of the
// temporary file.
#include "http/download.h"

#include <windows.h>
#include <winhttp.h>
#include <zlib.h>

#include <vector>

#include "agent/log/logger.h"
#include "agent/util/errortext.h"
#include "http/downloadfiles.h"
#include "http/failurelog.h"
#include "http/httpinternal.h"
#include "http/requestcore.h"

namespace {

constexpr const char* kRoutine = "InternetGetRequestEx";
constexpr size_t kInflateChunk = 256u * 1024u;

// Whether the answer is gzip-encoded, from its Content-Encoding header.
bool AnswerIsGzip(HINTERNET request) {
  std::wstring value;
  if (const int32_t code = QueryHeaderText(request, WINHTTP_QUERY_CUSTOM, L"Content-Encoding", value)) {
    if (code == ERROR_WINHTTP_HEADER_NOT_FOUND) {
      LogError("InternetGetRequestEx : Response Header doesn't contain content-Encoding. \n");
    } else {
      LogError("InternetGetRequestEx :  Error in WinHttpQueryHeaders --> %d \n", code);
      HttpGetLastError(code);
    }
    return false;
  }
  LogDebug("InternetGetRequestEx :  Response Header Informations : %ls \n", value.c_str());
  if (value.find(L"gzip") != std::wstring::npos) {
    LogInfo("InternetGetRequestEx : Response Header contains content-Encoding as gzip \n");
    return true;
  }
  LogInfo("InternetGetRequestEx : Response Header doesn't contain content-Encoding as gzip \n");
  return false;
}

// After a receive time-out: asks again for what is still missing, of the
// version `validator` names, and checks that the answer can go on where the
// file stopped. A 200 answer carries the whole file (of a new version when
// the file changed), so the temporary file starts again from it (once per
// call when bytes were stored: `restarted`) and its validator is the one to
// continue. 0 when reading can go on on `handles`; otherwise the code that
// ends the download.
int32_t RecoverFromTimeout(const DownloadCall& call, RequestHandles& handles, TempFile& file, uint64_t& total,
                           std::optional<uint32_t>& contentLength, std::wstring& validator, bool& restarted) {
  LogInfo("Total Bytes read so far:%llu\n", static_cast<unsigned long long>(total));
  LogInfo("InternetGetRequestEx : second attempt to recover from previous error\n");
  const std::wstring range = RangeHeader(total, contentLength.value_or(0));
  LogDebug("InternetGetRequestEx : Content-Range Header message: %ls\n", range.c_str());
  if (const int32_t rc = SendRangeRequest(call, handles, range, validator, call.keepAlive)) return rc;

  if (handles.statusCode == 206)
    return RangedAnswerContinues(kRoutine, handles.request.Get(), total, contentLength) ? 0 : 206;
  if (handles.statusCode == 200) {
    if (const int32_t code = AllowWholeFileAnswer(kRoutine, handles.request.Get(), total, restarted,
                                                  kPartialDownload))
      return code;
    LogInfo("InternetGetRequestEx : The server sent the whole file again; the temporary file starts afresh \n");
    if (const int32_t code = ReadDownloadLength(kRoutine, handles.request.Get(), true, contentLength)) return code;
    validator = RangeValidator(handles.request.Get());
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
  // A length that is not announced counts as 0: any byte then makes the
  // download partial.
  std::optional<uint32_t> contentLength;
  if (const int32_t code = ReadDownloadLength(kRoutine, handles.request.Get(), true, contentLength)) return code;
  // A recovery asks for the rest of this answer's version only.
  std::wstring validator = RangeValidator(handles.request.Get());
  CreateDestinationFolder(kRoutine, call);

  TempFile file;
  if (const int32_t code = file.Create(tempPath)) {
    LogError("InternetGetRequestEx : Error occured while creating the file --> %d \n", code);
    HttpGetLastError(code);
    return code;
  }

  int32_t result = 0;
  uint64_t total = 0;
  bool restarted = false;  // a whole-file answer to a recovery restarted the file
  std::vector<char> buffer;
  // A receive time-out is recovered by asking again for the missing bytes.
  const std::function<bool(int32_t)> recoverable = [](int32_t code) { return code == ERROR_WINHTTP_TIMEOUT; };
  const std::function<int32_t()> recover = [&] {
    return RecoverFromTimeout(call, handles, file, total, contentLength, validator, restarted);
  };
  for (;;) {
    DWORD available = 0;
    if (!QueryAvailableOrRecover(kRoutine, handles, available, recoverable, recover, result)) break;
    if (available == 0) break;

    const DWORD want = available < kReadChunk ? available : kReadChunk;
    if (buffer.size() < want) buffer.resize(want);
    DWORD read = 0;
    if ((result = ReadBodyBytes(kRoutine, handles.request.Get(), buffer.data(), want, read)) != 0) break;
    total += read;
    if (const int32_t code = file.Write(buffer.data(), read)) {
      LogError("InternetGetRequestEx :  Error in WriteFile --> %d \n", code);
      result = code;
      break;
    }
    if (total == contentLength.value_or(0)) {
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
    if (size == contentLength.value_or(0)) {
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

}  // namespace

int32_t DownloadThroughTempFile(const DownloadCall& call, const std::function<int32_t()>& downloadUncompressed) {
  if (const int32_t code = CheckDownloadArguments(kRoutine, call)) return code;
  LogDownloadStart(kRoutine, call);

  const std::wstring tempPath = DownloadTempFilePath(call);
  RequestHandles handles;
  int32_t result = OpenDownloadRequest(call, handles, call.keepAlive, call.acceptGzip);

  bool compressed = false;
  if (call.acceptGzip && handles.request.IsValid()) compressed = AnswerIsGzip(handles.request.Get());

  if (result == 0)
    result = FirstAnswerStatus(handles.statusCode, "InternetGetRequestEx :File not modified since the time: %ls\n",
                               "InternetGetRequestEx : Failed with the http status code, %d \n");
  if (result == 0) result = ReceiveBody(call, handles, tempPath);
  handles.Close(CloseReport::kError, kRoutine);

  bool delivered = false;
  if (result == 0 && call.acceptGzip && compressed) {
    LogInfo("InternetGetRequestEx : Successfully downloaded the Gzip compressed file from the server %ls \n",
            call.serverAddress);
    LogDebug("InternetGetRequestEx : Need to decompress the file\n");
    if (DecompressGzipFile(tempPath.c_str(), tempPath.c_str())) {
      LogInfo("InternetGetRequestEx : File Decompressed successfully.\n");
    } else {
      LogError("InternetGetRequestEx : File Decompression failure. So need to download the original file.\n");
      result = downloadUncompressed();
      AppendToAgentErrorLog("\tGzip file Decompression failed for the file " + Utf8(call.destination) + "\n");
      IncrementVTTrackingCounter("GzipDecompressionDetails", "GZIP_DECOMPRESSION_FAILURE_COUNT");
      delivered = true;
    }
  }

  if (result == 0 && !delivered) {
    if (call.requestType == GET_DATA) {
      result = DeliverGetData(kRoutine, *call.outData);
    } else if (MoveFileOver(tempPath, call.destination)) {
      // The temporary file lies beside the destination, so it replaces the
      // destination in one step: the old file stays whole until then.
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

  DeleteFileAt(tempPath);
  return LogDownloadEnd(kRoutine, result);
}

int DecompressGzipFile(const wchar_t* source, const wchar_t* target) {
  if (!source || !target) return 0;
  KernelHandle in = OpenFileAt(source, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  if (!in.IsValid()) return 0;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(in.Get(), &size)) return 0;
  if (size.QuadPart == 0) return 1;

  // The decoded bytes go to a scratch file beside the target, which replaces
  // the target only when the whole stream was decoded.
  const std::wstring scratch = std::wstring(target) + L".inflate";
  KernelHandle out = OpenFileAt(scratch, GENERIC_WRITE, 0, CREATE_ALWAYS);
  if (!out.IsValid()) return 0;

  z_stream zs{};
  bool ok = inflateInit2(&zs, 31) == Z_OK;
  // A gzip stream is one member or several in a row (RFC 1952), each decoded
  // in turn; it is complete only when the input ends right after a member.
  bool complete = false;
  if (ok) {
    std::vector<unsigned char> input(kInflateChunk);
    std::vector<unsigned char> output(kInflateChunk);
    // The next piece of the file as input: false when it cannot be read;
    // `atEnd` when nothing is left.
    auto readInput = [&](bool& atEnd) {
      DWORD got = 0;
      if (!::ReadFile(in.Get(), input.data(), static_cast<DWORD>(input.size()), &got, nullptr)) return false;
      atEnd = got == 0;
      zs.next_in = input.data();
      zs.avail_in = got;
      return true;
    };
    // Input is read only when the last pass left output space: a full output
    // buffer may still hold decoded bytes of the input already taken.
    bool needInput = true;
    while (ok && !complete) {
      if (zs.avail_in == 0 && needInput) {
        bool atEnd = false;
        if (!readInput(atEnd) || atEnd) {
          ok = false;  // the stream ends inside a member
          break;
        }
      }
      zs.next_out = output.data();
      zs.avail_out = static_cast<uInt>(output.size());
      int rc = inflate(&zs, Z_SYNC_FLUSH);
      const size_t produced = output.size() - zs.avail_out;
      needInput = zs.avail_out != 0;
      if (produced > 0 && !WriteAll(out.Get(), reinterpret_cast<const char*>(output.data()), produced)) ok = false;
      if (rc == Z_STREAM_END) {
        // A member ended. Whatever input follows must be the next member:
        // bytes that are not one fail at its header.
        bool atEnd = false;
        if (zs.avail_in == 0 && !readInput(atEnd))
          ok = false;
        else if (atEnd)
          complete = true;
        else if (inflateReset(&zs) != Z_OK)
          ok = false;
      } else if (rc == Z_BUF_ERROR && zs.avail_in == 0) {
        needInput = true;  // all input taken: read on
      } else if (rc != Z_OK) {
        ok = false;
      }
    }
    if (inflateEnd(&zs) != Z_OK) ok = false;
  }
  out.Close();
  in.Close();
  if (ok && complete && MoveFileOver(scratch, target)) return 1;
  DeleteFileAt(scratch);
  return 0;
}
