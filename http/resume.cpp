// Resumable downloads (see resume.h): the job steps of DownloadResumeHandler,
// the registry bookkeeping under "FileMetaData" that lets a later attempt ask
// only for the missing bytes, and ResumeGetRequestEx with its single ranged
// request and the recovery from a stalled or broken connection.
#include "http/resume.h"

#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <cwchar>
#include <new>
#include <optional>

#include "agent/log/format.h"
#include "agent/log/logger.h"
#include "agent/registry/registry.h"
#include "agent/util/errortext.h"
#include "agent/util/fileutil.h"
#include "agent/util/textconv.h"
#include "agent/util/timeutil.h"
#include "http/download.h"
#include "http/httpinternal.h"
#include "http/winhttp_api.h"

namespace {

constexpr int32_t kInternalFault = 13;
constexpr DWORD kDefaultSaveLimit = 1048576;
constexpr const char* kDefaultRepository = "DownloadRepository\\";
// A "downloadInProgress" flag whose heartbeat is at most this old belongs to
// a download that is still running.
constexpr int64_t kHeartbeatLimitMs = 90LL * 60 * 1000;
// Serialises the check-and-claim of a path's state between processes.
constexpr const wchar_t* kStateMutexName = L"Global\\TarnwickResumeDownloadState";
constexpr DWORD kStateMutexWaitMs = 30000;

std::wstring Wide(const std::string& text) {
  std::wstring out;
  ChangeUtf8ToWideStr(text.c_str(), out);
  return out;
}

// Current UTC time in milliseconds since 1970.
int64_t NowMillis() {
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  int64_t seconds = 0;
  SystemTimeToUnixSeconds(now, seconds);
  return seconds * 1000 + now.wMilliseconds;
}

// A decimal heartbeat text; 0 when it is not one.
int64_t ParseMillis(const std::string& text) {
  int64_t value = 0;
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value > (INT64_MAX - 9) / 10) return 0;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// A unique id names a file and a registry key: only digits are accepted.
bool IsValidUniqueId(const std::string& id) {
  if (id.empty() || id.size() > 64) return false;
  for (char c : id)
    if (c < '0' || c > '9') return false;
  return true;
}

// Size of a file; false when it cannot be opened.
bool FileSize(const std::wstring& path, uint64_t& size) {
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER value{};
  const bool ok = ::GetFileSizeEx(h, &value) != 0;
  ::CloseHandle(h);
  if (!ok) return false;
  size = static_cast<uint64_t>(value.QuadPart);
  return true;
}

LONG SetDword(RegistryKey& key, const char* name, DWORD value) {
  return ::RegSetValueExA(key.Handle(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// Content-Length as a number: 0 with the value, or the query's error code
// (`known` false when the header is absent).
int32_t ReadContentLength(HINTERNET request, uint32_t& length, bool& known) {
  DWORD value = 0;
  const int32_t code = QueryContentLength(request, value, known, false);
  length = value;
  return code;
}

// Holds the machine-wide lock on the resumable-download state while a job
// decides who owns a path. Without the lock (it could not be had in time)
// the job goes on: the ownership rule is advisory.
class StateLock {
 public:
  StateLock() {
    mutex_ = ::CreateMutexW(nullptr, FALSE, kStateMutexName);
    if (mutex_) {
      const DWORD wait = ::WaitForSingleObject(mutex_, kStateMutexWaitMs);
      held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    }
  }
  ~StateLock() {
    if (held_) ::ReleaseMutex(mutex_);
    if (mutex_) ::CloseHandle(mutex_);
  }
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;

 private:
  HANDLE mutex_ = nullptr;
  bool held_ = false;
};

}  // namespace

int32_t GetFilelastmodifiedTime(HINTERNET request, std::wstring& out) {
  LogDebug("@@@@@@@@@@@ Inside GetFilelastmodifiedTime Method   @@@@@@@@@@@@@\n");
  out.clear();
  DWORD size = 0;
  BOOL ok = g_winHttp.QueryHeaders(request, WINHTTP_QUERY_LAST_MODIFIED, WINHTTP_HEADER_NAME_BY_INDEX,
                                   WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
  int32_t code = ok ? 0 : LastCode();
  if (code == ERROR_INSUFFICIENT_BUFFER) {
    std::vector<wchar_t> value(size / sizeof(wchar_t) + 1, L'\0');
    if (g_winHttp.QueryHeaders(request, WINHTTP_QUERY_LAST_MODIFIED, WINHTTP_HEADER_NAME_BY_INDEX, value.data(),
                               &size, WINHTTP_NO_HEADER_INDEX)) {
      out.assign(value.data());
      code = 0;
    } else {
      code = LastCode();
    }
  } else if (code == 0) {
    code = ERROR_WINHTTP_HEADER_NOT_FOUND;  // an empty header is as good as none
  }
  if (code != 0) {
    LogError("GetFilelastmodifiedTime: Could n't query HEADER for last modified time\n");
    return code;
  }
  LogDebug("GetFilelastmodifiedTime : File last modified time: %ls\n", out.c_str());
  return 0;
}

// ---------------------------------------------------------------------------
// DownloadResumeHandler

DownloadResumeHandler::DownloadResumeHandler(const DownloadCall& call) : call_(call) {
  if (call_.objectPath) objectPathW_ = call_.objectPath;
  objectPath_ = Utf8(call_.objectPath);
  if (call_.destination) destination_ = call_.destination;
  accessLogStart_ = AccessLogStartText();
}

DownloadResumeHandler::~DownloadResumeHandler() {
  // A temporary download's file is known to nobody else: it never outlives the job.
  if (temporaryDownload_) DeletePartialFile();
  if (ownsFlag_) ReleaseOwnership();
}

std::string DownloadResumeHandler::MetaKey() const { return std::string(kAgentKeyPath) + "\\FileMetaData"; }

std::string DownloadResumeHandler::SubKey() const { return MetaKey() + "\\" + uniqueId_; }

int32_t DownloadResumeHandler::PreDownloadHandling() {
  RequestHandles handles;
  handles.requestKind = 0;
  const int32_t rc = OpenDownloadRequest(call_, handles, call_.keepAlive, false);
  if (rc != 0) {
    LogError("PreDownloadHandling: ERROR in GetInternetRequestHandle - %d\n", rc);
    CloseRequestHandles(handles);
    return rc;
  }
  if (handles.statusCode == 304) {
    LogInfo("PreDownloadHandling :File not modified since the time: %ls\n", L"");
    CloseRequestHandles(handles);
    return kNotModified;
  }
  if (handles.statusCode != 200) {
    LogError("PreDownloadHandling : Failed with the http status code, %d \n", handles.statusCode);
    CloseRequestHandles(handles);
    return handles.statusCode;
  }
  std::wstring modified;
  GetFilelastmodifiedTime(handles.request, modified);
  lastModified_ = Utf8(modified.c_str());

  const int32_t code = ReadContentLength(handles.request, contentLength_, contentLengthKnown_);
  if (code != 0) {
    LogError("PreDownloadHandling :  Error in Content Length Header -> %d \n", code);
    HttpGetLastError(code);
    return PostDownloadHandling(handles, code);
  }
  LogInfo("PreDownloadHandling : Content Length of the request file: %u Bytes\n", contentLength_);
  // The body of this request is never read.
  CloseRequestHandles(handles);
  return 0;
}

int32_t DownloadResumeHandler::Initialize(const wchar_t* destination, const char* lastModified,
                                          const wchar_t* objectPath) {
  LogInfo("Inside DownloadResumeHandler::Initialize\n");
  if (destination) destination_ = destination;
  lastModified_ = lastModified ? lastModified : "";
  if (objectPath) {
    objectPathW_ = objectPath;
    objectPath_ = Utf8(objectPath);
  }
  if (!gv_agentInstallDir || gv_agentInstallDir->empty() || objectPathW_.empty()) {
    LogError("Error caught in DownloadResumeHandler::Initialize\n");
    return kInternalFault;
  }

  StateLock lock;
  const std::string metaKey = MetaKey();
  RegistryKey meta;
  if (meta.Open(HKEY_LOCAL_MACHINE, metaKey.c_str(), KEY_READ | KEY_WRITE) != ERROR_SUCCESS) {
    LogDebug("failure in openeing reg key\n");
    if (meta.Create(HKEY_LOCAL_MACHINE, metaKey.c_str()) != ERROR_SUCCESS) {
      LogError("Error caught in DownloadResumeHandler::Initialize\n");
      return kInternalFault;
    }
    repositoryName_ = kDefaultRepository;
    meta.SetStringValue("IntermediateRepositoryName", kDefaultRepository);
    FormUniqueFileName();
    // The claim comes before the object-path value, so that whoever finds the
    // value also finds the flag.
    if (ClaimOwnership() != 0) {
      temporaryDownload_ = true;
    } else {
      const std::wstring id = Wide(uniqueId_);
      ::RegSetValueExW(meta.Handle(), objectPathW_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(id.c_str()),
                       static_cast<DWORD>((id.size() + 1) * sizeof(wchar_t)));
    }
    SetDword(meta, "InterSaveByteLimit", kDefaultSaveLimit);
    saveLimit_ = kDefaultSaveLimit;
    bufferSize_ = saveLimit_;
    LogError("Setting variable for DOWNLOAD_FOLDER and url  %ls & id - %s\n", objectPathW_.c_str(), uniqueId_.c_str());
    bytesReceived_ = storedSize_;
    return 0;
  }

  LogDebug("reading folder info\n");
  if (meta.QueryStringValue("IntermediateRepositoryName", repositoryName_) != ERROR_SUCCESS) {
    repositoryName_ = kDefaultRepository;
    meta.SetStringValue("IntermediateRepositoryName", kDefaultRepository);
  }
  DWORD limit = 0;
  if (meta.QueryDWORDValue("InterSaveByteLimit", limit) != ERROR_SUCCESS) {
    limit = kDefaultSaveLimit;
    SetDword(meta, "InterSaveByteLimit", kDefaultSaveLimit);
  }
  saveLimit_ = limit;
  bufferSize_ = saveLimit_;
  LogDebug("reading periodic limit  info\n");
  LogInfo("Download folder = %ls\tperiodic save limit = %d\n", Wide(repositoryName_).c_str(),
          static_cast<int>(saveLimit_));

  // The object path's value names the partial file of that path.
  std::string storedId;
  {
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (::RegQueryValueExW(meta.Handle(), objectPathW_.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
      std::vector<wchar_t> value(size / sizeof(wchar_t) + 1, L'\0');
      DWORD read = size;
      if (::RegQueryValueExW(meta.Handle(), objectPathW_.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(value.data()), &read) == ERROR_SUCCESS)
        storedId = Utf8(value.data());
    }
  }
  if (!IsValidUniqueId(storedId)) {
    uniqueId_.clear();
    FormUniqueFileName();
    if (ClaimOwnership() != 0) temporaryDownload_ = true;
  } else {
    uniqueId_ = storedId;
    FormUniqueFileName();
    LogInfo("Unique id for the file is %s\n", uniqueId_.c_str());
    GetFileDataFromRegistry();
  }
  if (!temporaryDownload_) {
    const std::wstring id = Wide(uniqueId_);
    ::RegSetValueExW(meta.Handle(), objectPathW_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(id.c_str()),
                     static_cast<DWORD>((id.size() + 1) * sizeof(wchar_t)));
  }

  LogInfo("ResumeGetRequestEx : To update download count\n");
  DWORD count = 0;
  if (meta.QueryDWORDValue("DownloadCount", count) != ERROR_SUCCESS) count = 0;
  SetDword(meta, "DownloadCount", count + 1);
  LogInfo("End of DownloadResumeHandler::Initialize\n");
  bytesReceived_ = storedSize_;
  return 0;
}

void DownloadResumeHandler::FormUniqueFileName() {
  if (uniqueId_.empty()) {
    uniqueId_ = FormatText("%d%d%d", static_cast<int>(GetTimeInSeconds()), static_cast<int>(::GetCurrentProcessId()),
                           static_cast<int>(::GetCurrentThreadId()));
    LogInfo("Formed Unique id for the file is %s\n", uniqueId_.c_str());
  }
  std::string folder = gv_agentInstallDir.value_or("") + repositoryName_;
  // The repository is a folder even when its name was stored without the separator.
  if (!repositoryName_.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
  partialFilePath_ = Wide(folder + uniqueId_);
  CreateFolder(partialFilePath_.c_str());
  LogInfo("Temporary file path is %ls\n", Wide(folder).c_str());
}

void DownloadResumeHandler::NewUniqueId() {
  const std::string previous = uniqueId_;
  uniqueId_.clear();
  FormUniqueFileName();
  // The same thread may have formed the previous id within the same second.
  if (uniqueId_ == previous) {
    uniqueId_ = FormatText("%d%d%d", static_cast<int>(GetTimeInSeconds()) + 1,
                           static_cast<int>(::GetCurrentProcessId()), static_cast<int>(::GetCurrentThreadId()));
    FormUniqueFileName();
  }
  startOffset_ = 0;
  storedSize_ = 0;
  bytesSaved_ = 0;
}

void DownloadResumeHandler::DeletePartialFile() {
  if (!partialFilePath_.empty()) ::DeleteFileW(partialFilePath_.c_str());
}

void DownloadResumeHandler::DiscardPartialFile() {
  LogInfo("Performing PreDownloadCleaningOfPartialFile\n");
  startOffset_ = 0;
  storedSize_ = 0;
  DeletePartialFile();
}

int32_t DownloadResumeHandler::ClaimOwnership() {
  RegistryKey sub;
  LONG rc = sub.Create(HKEY_LOCAL_MACHINE, SubKey().c_str());
  if (rc == ERROR_SUCCESS) rc = SetDword(sub, "downloadInProgress", 1);
  if (rc == ERROR_SUCCESS) {
    const std::string now = Utf8(CurrentTimeMillisText().c_str());
    rc = sub.SetStringValue("LastRetryTime", now.c_str());
  }
  if (rc != ERROR_SUCCESS) {
    LogError("GetFileDataFromRegistry : could not mark the download as in progress --> %d \n", static_cast<int>(rc));
    return rc;
  }
  ownsFlag_ = true;
  return 0;
}

void DownloadResumeHandler::ReleaseOwnership() {
  RegistryKey sub;
  if (sub.Open(HKEY_LOCAL_MACHINE, SubKey().c_str(), KEY_SET_VALUE) == ERROR_SUCCESS)
    ::RegDeleteValueA(sub.Handle(), "downloadInProgress");
  ownsFlag_ = false;
}

int32_t DownloadResumeHandler::GetFileDataFromRegistry() {
  LogInfo("Inside GetFileDataFromRegistry\n");
  RegistryKey sub;
  if (sub.Open(HKEY_LOCAL_MACHINE, SubKey().c_str(), KEY_READ | KEY_WRITE) != ERROR_SUCCESS) {
    LogError("GetFileDataFromRegistry; Registry subkey not found\n");
    DiscardPartialFile();
    if (ClaimOwnership() != 0) {
      temporaryDownload_ = true;
      NewUniqueId();
    }
    return 0;
  }

  // Whose file is it? Decided before anything stored is touched.
  std::string heartbeat;
  int64_t lastRetry = 0;
  if (sub.QueryStringValue("LastRetryTime", heartbeat) == ERROR_SUCCESS) lastRetry = ParseMillis(heartbeat);
  DWORD flag = 0;
  if (sub.QueryDWORDValue("downloadInProgress", flag) == ERROR_SUCCESS) {
    LogInfo("GetFileDataFromRegistry - dwonload in progress flag is set\n");
    const int64_t age = NowMillis() - lastRetry;
    if (age < 0 || age <= kHeartbeatLimitMs) {
      LogInfo("Another download in progress - hence procedding for temporary download\n");
      temporaryDownload_ = true;
      NewUniqueId();
      return 0;
    }
    // The owner stopped sending heartbeats long ago: its state is taken over
    // and reused below when it still matches the server's file.
    LogInfo("GetFileDataFromRegistry - download in progress flag was set before 90 mins so cleaning files and "
            "proceeding\n");
  }

  bool reuse = false;
  std::string stored;
  if (sub.QueryStringValue("LastModifiedTime", stored) == ERROR_SUCCESS && stored.size() < 255) {
    LogInfo("GetFileDataFromRegistry last modified time in registry   %s from server %s\n", stored.c_str(),
            lastModified_.c_str());
    // Without a Last-Modified from the server nothing proves the stored bytes
    // belong to the same content.
    if (!lastModified_.empty() && _stricmp(stored.c_str(), lastModified_.c_str()) == 0) {
      DWORD size = 0;
      if (sub.QueryDWORDValue("PartialFileSize", size) == ERROR_SUCCESS) {
        startOffset_ = size;
        storedSize_ = size;
        uint64_t fileSize = 0;
        if (!FileSize(partialFilePath_, fileSize)) fileSize = 0;
        LogInfo("GetFileDataFromRegistry partial downloaded filesize  in registry %d from file  %d\n",
                static_cast<int>(size), static_cast<int>(fileSize));
        reuse = fileSize == size && size <= contentLength_;
      }
    }
  }
  if (reuse) {
    lastRetryTime_ = lastRetry;
    DWORD retries = 0;
    if (sub.QueryDWORDValue("RetryCount", retries) == ERROR_SUCCESS) retryCount_ = static_cast<int32_t>(retries);
    LogInfo("GetFileDataFromRegistry last retry time %lld count %d\n", static_cast<long long>(lastRetryTime_),
            retryCount_);
  } else {
    DiscardPartialFile();
  }
  sub.Close();

  if (ClaimOwnership() != 0) {
    // Without the flag the shared file cannot be protected: work privately.
    temporaryDownload_ = true;
    NewUniqueId();
  }
  return 0;
}

std::wstring DownloadResumeHandler::RangeHeader(uint32_t first, uint32_t last) {
  wchar_t text[64];
  std::swprintf(text, 64, L"Range: bytes=%lu-%lu", static_cast<unsigned long>(first),
                static_cast<unsigned long>(last));
  return text;
}

int32_t DownloadResumeHandler::SendRangeRequest(RequestHandles& handles, const wchar_t* rangeHeader,
                                                bool keepAlive) {
  CloseRequestHandles(handles);
  handles.requestKind = 1;
  handles.extraHeader = rangeHeader;
  handles.statusCode = 0;
  const int32_t rc = OpenDownloadRequest(call_, handles, keepAlive, false);
  handles.extraHeader = nullptr;
  return rc;
}

void DownloadResumeHandler::RestartPartialFile() {
  buffered_ = 0;
  bytesReceived_ = 0;
  startOffset_ = 0;
  storedSize_ = 0;
  bytesSaved_ = 0;
  HANDLE h = ::CreateFileW(partialFilePath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
}

int32_t DownloadResumeHandler::AcceptRangedAnswer(RequestHandles& handles, uint32_t first, const char* who) {
  if (handles.statusCode == 206) {
    uint64_t start = 0;
    std::optional<uint64_t> total;
    if (QueryContentRange(handles.request, start, total) &&
        (start != first || (total && contentLengthKnown_ && *total != contentLength_))) {
      LogError("%s : The server answered the range request from byte %llu of %llu bytes instead of byte %u of %u "
               "bytes \n",
               who, static_cast<unsigned long long>(start), static_cast<unsigned long long>(total.value_or(0)),
               first, contentLength_);
      return 206;
    }
    return 0;
  }
  if (handles.statusCode == 200) {
    // The whole body instead of a range: what is stored cannot be continued
    // with it, so the partial file starts again from this answer.
    uint32_t length = 0;
    bool known = false;
    if (ReadContentLength(handles.request, length, known) == 0 && known) {
      contentLength_ = length;
      contentLengthKnown_ = true;
    }
    std::wstring modified;
    if (GetFilelastmodifiedTime(handles.request, modified) == 0) lastModified_ = Utf8(modified.c_str());
    if (first != 0 || bytesReceived_ != 0 || storedSize_ != 0) {
      LogInfo("%s : The server sent the whole file instead of the range; the partial file starts afresh \n", who);
      RestartPartialFile();
    }
    return 0;
  }
  return handles.statusCode;
}

int32_t DownloadResumeHandler::SaveStagedBytes(bool periodic) {
  const int32_t rc = ProcessDownloadedBuffer(buffer_.data(), static_cast<uint32_t>(buffered_), periodic);
  buffered_ = 0;
  return rc;
}

int32_t DownloadResumeHandler::ReadAvailableIntoBuffer(HINTERNET request, DWORD available, const char* who,
                                                       bool& done, bool logGrowth) {
  done = false;
  if (available > bufferSize_) {
    // A block larger than the buffer: what waits is saved and the buffer grows.
    if (buffered_ > 0) {
      if (const int32_t rc = SaveStagedBytes(true)) {
        LogError("%s :  Error in WriteFile --> %d \n", who, rc);
        return rc;
      }
    }
    bufferSize_ = available;
    if (logGrowth) LogInfo("Reallocating buffer to %d\n", static_cast<int>(available));
  } else if (buffered_ + available > bufferSize_) {
    if (const int32_t rc = SaveStagedBytes(true)) {
      LogError("%s :  Error in WriteFile --> %d \n", who, rc);
      return rc;
    }
  }
  if (buffer_.size() < buffered_ + available) {
    try {
      buffer_.resize(buffered_ + available);
    } catch (const std::bad_alloc&) {
      LogError("%s :  Error in WinHttpReadData --> %d \n", who, static_cast<int>(ERROR_NOT_ENOUGH_MEMORY));
      return ERROR_NOT_ENOUGH_MEMORY;
    }
  }
  DWORD read = 0;
  if (!g_winHttp.ReadData(request, buffer_.data() + buffered_, available, &read)) {
    const int32_t code = LastCode();
    LogError("%s :  Error in WinHttpReadData --> %d \n", who, code);
    HttpGetLastError(code);
    return code;
  }
  bytesReceived_ += read;
  buffered_ += read;
  if (bytesReceived_ == contentLength_) {
    LogInfo("%s : Bytes read reached the contenlength\n", who);
    done = true;
  }
  if (read == 0) done = true;
  return 0;
}

int32_t DownloadResumeHandler::FinishTransfer(RequestHandles& handles, int32_t result, const char* who,
                                              bool keepStatistics) {
  LogInfo("%s: Total bytes read = %u\n", who, bytesReceived_);
  const bool fellShort = bytesReceived_ < contentLength_;
  // A clean end before Content-Length (the server closed early) is kept like
  // a completed attempt but never delivered.
  const bool cleanButShort = fellShort && result == 0;
  int32_t finalResult = cleanButShort ? kPartialDownload : result;

  if (fellShort && keepStatistics) {
    const std::string metaKey = MetaKey();
    RegistryKey meta;
    DWORD failures = 0;
    if (meta.Create(HKEY_LOCAL_MACHINE, metaKey.c_str()) != ERROR_SUCCESS ||
        meta.QueryDWORDValue("DownloadFailureCount", failures) != ERROR_SUCCESS) {
      LogError("The DownloadFailureCount value could not be read.Resetting to 1\n");
      failures = 1;
    } else {
      ++failures;
    }
    if (meta.Handle()) SetDword(meta, "DownloadFailureCount", failures);
    LogInfo("DownloadFailureCount set to %d\n", static_cast<int>(failures));
    AppendToAgentErrorLog(FormatText("\tResume Download failed with error code : %d and total failed count value = %d\n",
                                     finalResult, static_cast<int>(failures)));
    IncrementVTTrackingCounter("ResumeDownloadDetails", "RESUME_DOWNLOAD_FAILURE_COUNT");
  }

  if (result == 0 || result == ERROR_WINHTTP_TIMEOUT || result == ERROR_WINHTTP_CANNOT_CONNECT ||
      result == ERROR_WINHTTP_CONNECTION_ERROR) {
    const int32_t rc = SaveStagedBytes(false);
    if (rc != 0 && finalResult == 0) finalResult = rc;
  }
  return PostDownloadHandling(handles, finalResult);
}

int32_t DownloadResumeHandler::ProcessDownloadedBuffer(const char* buffer, uint32_t count, bool periodic) {
  if (count == 0) return 0;
  LogDebug("Inside ProcessDownloadedBuffer\n");
  HANDLE file = ::CreateFileW(partialFilePath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const int32_t code = LastCode();
    LogError("Invalid File Handle\n");
    LogErrorCode(code);
    return code;
  }
  // The bytes go right after what this job knows to be stored; a file that
  // is shorter than that was changed behind the job's back and is not
  // continued.
  const uint64_t expected = static_cast<uint64_t>(storedSize_) + bytesSaved_;
  LARGE_INTEGER size{};
  int32_t code = 0;
  if (!::GetFileSizeEx(file, &size)) {
    code = LastCode();
  } else if (static_cast<uint64_t>(size.QuadPart) < expected) {
    code = ERROR_INVALID_DATA;
  } else {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(expected);
    DWORD written = 0;
    if (!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) || !::SetEndOfFile(file) ||
        !::WriteFile(file, buffer, count, &written, nullptr))
      code = LastCode();
    else if (written != count)
      code = ERROR_WRITE_FAULT;
  }
  ::FlushFileBuffers(file);
  ::CloseHandle(file);
  if (code != 0) {
    LogError("ProcessDownloadedBuffer :  Error in WriteFile --> %d \n", code);
    return code;
  }
  bytesSaved_ += count;
  LogDebug("File updated with data.\n");
  if (temporaryDownload_) return 0;

  RegistryKey sub;
  if (sub.Create(HKEY_LOCAL_MACHINE, SubKey().c_str()) != ERROR_SUCCESS) {
    LogError("Error caught in ProcessDownloadedBuffer\n");
    return kInternalFault;
  }
  const uint32_t stored = storedSize_ + bytesSaved_;
  SetDword(sub, "PartialFileSize", stored);
  LogDebug("updated registry entries  %d \n", static_cast<int>(stored));
  sub.SetStringValue("LastModifiedTime", lastModified_.c_str());
  const std::string now = Utf8(CurrentTimeMillisText().c_str());
  sub.SetStringValue("LastRetryTime", now.c_str());
  lastRetryTime_ = ParseMillis(now);
  if (!periodic) {
    LogInfo("updated registry entries size  %d and last modified time %s retry time %lld\n", static_cast<int>(stored),
            lastModified_.c_str(), static_cast<long long>(lastRetryTime_));
    ++retryCount_;
    SetDword(sub, "RetryCount", static_cast<DWORD>(retryCount_));
    ::RegDeleteValueA(sub.Handle(), "downloadInProgress");
    ownsFlag_ = false;
  }
  return 0;
}

int32_t DownloadResumeHandler::PostDownloadHandling(RequestHandles& handles, int32_t result) {
  LogInfo("Proceeding for PostDownloadHandling \n");
  postDone_ = true;
  CloseRequestHandles(handles);
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

int32_t DownloadResumeHandler::SaveToDestFile() {
  LogInfo("Inside SaveToDestFile from %ls to %ls\n", partialFilePath_.c_str(), destination_.c_str());
  startOffset_ = 0;
  uint64_t size = 0;
  bool present = FileSize(partialFilePath_, size);
  if (!present && contentLengthKnown_ && contentLength_ == 0) {
    // An empty content never needed a byte written: its partial file is empty.
    RestartPartialFile();
    present = FileSize(partialFilePath_, size);
  }
  if (!present || size != contentLength_) {
    LogError("SaveToDestFile : The partial file %ls holds %llu bytes, not the Content-Length of %u bytes; it is not "
             "copied \n",
             partialFilePath_.c_str(), static_cast<unsigned long long>(present ? size : 0), contentLength_);
    return kPartialDownload;
  }
  CreateFolder(destination_.c_str());
  // The copy goes beside the destination first and then replaces it in one
  // step: a failed copy leaves the old destination whole, and two downloads
  // delivering the same destination never write into each other's copy.
  const std::wstring staging = destination_ + ThreadIdText() + L".tmp";
  if (!::CopyFileW(partialFilePath_.c_str(), staging.c_str(), FALSE) ||
      !::MoveFileExW(staging.c_str(), destination_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    const int32_t code = LastCode();
    ::DeleteFileW(staging.c_str());
    LogError("InternetGetRequestEx : could n't copy from %ls file to %ls ,\n", partialFilePath_.c_str(),
             destination_.c_str());
    LogErrorCode(code);
    return code;
  }
  CleanFileAndRegistry();
  return 0;
}

int32_t DownloadResumeHandler::DeliverData() {
  uint64_t size = 0;
  const bool present = FileSize(partialFilePath_, size);
  if ((present && size != contentLength_) || (!present && contentLength_ != 0)) {
    LogError("PostDownloadHandling : The partial file %ls holds %llu bytes, not the Content-Length of %u bytes; it is not "
             "copied \n",
             partialFilePath_.c_str(), static_cast<unsigned long long>(present ? size : 0), contentLength_);
    return kPartialDownload;
  }
  std::string data;
  if (present) {
    // Read back as text, as the plain GET_DATA download does.
    FILE* f = _wfopen(partialFilePath_.c_str(), L"rt");
    if (!f) {
      LogError("PostDownloadHandling : could n't read the data from the partial file \n");
      return kDataNotReadable;
    }
    std::vector<char> chunk(64 * 1024);
    size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), f)) > 0) data.append(chunk.data(), n);
    std::fclose(f);
  }
  if (call_.outData) *call_.outData = std::move(data);
  LogDebug("Data in memory : %s\n", call_.outData ? call_.outData->value_or("").c_str() : "");
  CleanFileAndRegistry();
  return 0;
}

int32_t DownloadResumeHandler::CleanFileAndRegistry() {
  LogInfo("Inside CleanFileAndRegistry\n");
  StateLock lock;
  DeletePartialFile();
  if (!temporaryDownload_) {
    // The path's value goes only while it still names this job's file.
    RegistryKey meta;
    if (meta.Open(HKEY_LOCAL_MACHINE, MetaKey().c_str(), KEY_READ | KEY_WRITE) == ERROR_SUCCESS) {
      wchar_t value[80] = {};
      DWORD type = REG_NONE;
      DWORD size = sizeof value - sizeof(wchar_t);
      if (::RegQueryValueExW(meta.Handle(), objectPathW_.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value),
                             &size) == ERROR_SUCCESS &&
          Utf8(value) == uniqueId_)
        ::RegDeleteValueW(meta.Handle(), objectPathW_.c_str());
    }
  }
  if (!uniqueId_.empty()) {
    const std::string sub = SubKey();
    RegistryKey probe;
    if (probe.Open(HKEY_LOCAL_MACHINE, sub.c_str(), KEY_READ) == ERROR_SUCCESS) {
      probe.Close();
      DeleteRegistryTree(HKEY_LOCAL_MACHINE, sub.c_str());
    }
  }
  ownsFlag_ = false;
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

int32_t ResumeGetRequestEx(bool useProxy, const char* protocol, const wchar_t* serverAddress, int32_t port,
                           const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                           const wchar_t* proxyPassword, const wchar_t* objectPath, const wchar_t* destination,
                           OptText* outData, int32_t requestType, bool keepAlive) {
  static const char* const kWho = "ResumeGetRequestEx";
  if ((requestType == DOWNLOAD_FILE && (!destination || !*destination)) ||
      (requestType != DOWNLOAD_FILE && !outData) || !objectPath || !*objectPath) {
    LogError("ResumeGetRequestEx : No destination given for the download of %ls \n", objectPath ? objectPath : L"");
    return ERROR_INVALID_DATA;
  }
  const DownloadCall call{useProxy,      protocol,   serverAddress, port,    proxyServer, proxyBypass, proxyUser,
                          proxyPassword, objectPath, destination,   outData, requestType, keepAlive};

  DownloadResumeHandler job(call);
  RequestHandles handles;
  int32_t result = job.PreDownloadHandling();
  if (result != 0) {
    if (!job.PostDownloadDone()) result = job.PostDownloadHandling(handles, result);
    LogError("@@@@@@@@ End Of ResumeGetRequestEx Method @@@@@@@@ \n");
    return result;
  }

  result = job.Initialize(destination, job.LastModified().c_str(), objectPath);
  if (result != 0) {
    result = job.PostDownloadHandling(handles, result);
    LogDebug("@@@@@@@@ End Of ResumeGetRequestEx Method @@@@@@@@ \n");
    return result;
  }
  if (job.IsComplete()) {
    result = job.PostDownloadHandling(handles, 0);
    LogError("@@@@@@@@ End Of ResumeGetRequestEx Method @@@@@@@@ Full File already exist\n");
    return result;
  }

  std::wstring range = DownloadResumeHandler::RangeHeader(job.StartOffset(), job.ContentLength());
  LogError("ResumeGetRequestEx: Content-Range Header message: %ls\n", range.c_str());
  result = job.SendRangeRequest(handles, range.c_str(), true);
  LogDebug("ResumeGetRequestEx: GetInternetRequestHandle function return code: %u\n", static_cast<unsigned>(result));
  if (result == 0) {
    result = job.AcceptRangedAnswer(handles, job.StartOffset(), kWho);
    if (result != 0 && result != 206)
      LogError("ResumeGetRequestEx : Failed with the http status code, %d \n", handles.statusCode);
  }
  if (result != 0) {
    // No answer to store: the stored state stays as it was.
    CloseRequestHandles(handles);
    LogDebug("@@@@@@@@ End Of ResumeGetRequestEx Method @@@@@@@@ \n");
    return result;
  }

  const std::function<bool(int32_t)> recoverable = [](int32_t code) {
    return code == ERROR_WINHTTP_TIMEOUT || code == ERROR_WINHTTP_CONNECTION_ERROR ||
           code == ERROR_WINHTTP_CANNOT_CONNECT;
  };
  // Recovery: ask again for what is still missing.
  const std::function<int32_t()> recover = [&] {
    LogInfo("ResumeGetRequestEx : Total Bytes read so far:%u\n", job.BytesReceived());
    LogInfo("ResumeGetRequestEx : second attempt to recover from previous error\n");
    CloseRequestHandles(handles);
    handles.statusCode = 0;
    range = DownloadResumeHandler::RangeHeader(job.BytesReceived(), job.ContentLength());
    LogDebug("ResumeGetRequestEx: Content-Range Header message: %ls\n", range.c_str());
    int32_t rc = job.SendRangeRequest(handles, range.c_str(), keepAlive);
    if (rc == 0) {
      rc = job.AcceptRangedAnswer(handles, job.BytesReceived(), kWho);
      if (rc != 0 && rc != 206)
        LogError("ResumeGetRequestEx : Failed with the http status code, %d \n", handles.statusCode);
    }
    return rc;
  };
  for (;;) {
    DWORD available = 0;
    if (!QueryAvailableOrRecover(kWho, handles, available, recoverable, recover, result)) break;
    if (available == 0) break;
    bool done = false;
    if (const int32_t rc = job.ReadAvailableIntoBuffer(handles.request, available, kWho, done)) {
      result = rc;
      break;
    }
    if (done) break;
  }

  result = job.FinishTransfer(handles, result, kWho, true);
  LogDebug("@@@@@@@@ End Of ResumeGetRequestEx Method @@@@@@@@ \n");
  return result;
}
