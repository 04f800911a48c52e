// The stored state of resumable downloads (see resumestate.h): the registry
// bookkeeping under "FileMetaData", the ownership flag with its heartbeat, and
// the clean-up once a download was delivered.
#include "http/resumestate.h"

#include <windows.h>

#include <vector>

#include "agent/config/settings.h"
#include "agent/log/format.h"
#include "agent/log/logger.h"
#include "agent/registry/registry.h"
#include "agent/util/fileutil.h"
#include "agent/util/scopedhandle.h"
#include "agent/util/textconv.h"
#include "agent/util/timeutil.h"
#include "http/downloadfiles.h"
#include "http/httpinternal.h"
#include "http/partialfile.h"

namespace {

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

LONG SetDword(RegistryKey& key, const char* name, DWORD value) {
  return ::RegSetValueExA(key.Handle(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// The unique id stored as the object path's value ("" when there is none).
std::string ReadPathValue(RegistryKey& meta, const std::wstring& objectPath) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (::RegQueryValueExW(meta.Handle(), objectPath.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return {};
  std::vector<wchar_t> value(size / sizeof(wchar_t) + 1, L'\0');
  DWORD read = size;
  if (::RegQueryValueExW(meta.Handle(), objectPath.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value.data()),
                         &read) != ERROR_SUCCESS)
    return {};
  return Utf8(value.data());
}

void WritePathValue(RegistryKey& meta, const std::wstring& objectPath, const std::string& uniqueId) {
  const std::wstring id = Wide(uniqueId);
  ::RegSetValueExW(meta.Handle(), objectPath.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(id.c_str()),
                   static_cast<DWORD>((id.size() + 1) * sizeof(wchar_t)));
}

// Ownership of a mutex won by a wait: released (not closed) when it goes.
struct HeldMutexTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static bool Close(Handle h) { return ::ReleaseMutex(h) != FALSE; }
};

// Holds the machine-wide lock on the resumable-download state while a
// download decides who owns a path. Without the lock (it could not be had in
// time) the download goes on: the ownership rule is advisory.
class StateLock {
 public:
  StateLock() : mutex_(::CreateMutexW(nullptr, FALSE, kStateMutexName)) {
    if (!mutex_.IsValid()) return;
    const DWORD wait = ::WaitForSingleObject(mutex_.Get(), kStateMutexWaitMs);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) held_.Reset(mutex_.Get());
  }

 private:
  KernelHandle mutex_;
  ScopedHandle<HeldMutexTraits> held_;  // after mutex_: released before the mutex is closed
};

}  // namespace

void (*g_beforeCleanFileAndRegistry)() = nullptr;

StoredDownload::~StoredDownload() {
  // A temporary download's file is known to nobody else: it never outlives the download.
  if (temporaryDownload_ && !partialFilePath_.empty()) DeleteFileAt(partialFilePath_);
  if (ownsFlag_) ReleaseOwnership();
}

std::string StoredDownload::MetaKey() const { return std::string(kAgentKeyPath) + "\\FileMetaData"; }

std::string StoredDownload::SubKey() const { return MetaKey() + "\\" + uniqueId_; }

int32_t StoredDownload::Initialize(const std::wstring& objectPath, const std::string& lastModified,
                                   uint32_t contentLength) {
  LogInfo("Inside DownloadResumeHandler::Initialize\n");
  lastModified_ = lastModified;
  contentLength_ = contentLength;
  if (!objectPath.empty()) objectPath_ = objectPath;
  if (!gv_agentInstallDir || gv_agentInstallDir->empty() || objectPath_.empty()) {
    LogError("Error caught in DownloadResumeHandler::Initialize\n");
    return ERROR_INVALID_DATA;
  }

  StateLock lock;
  const std::string metaKey = MetaKey();
  RegistryKey meta;
  if (meta.Open(HKEY_LOCAL_MACHINE, metaKey.c_str(), KEY_READ | KEY_WRITE) != ERROR_SUCCESS) {
    LogDebug("failure in openeing reg key\n");
    if (meta.Create(HKEY_LOCAL_MACHINE, metaKey.c_str()) != ERROR_SUCCESS) {
      LogError("Error caught in DownloadResumeHandler::Initialize\n");
      return ERROR_INVALID_DATA;
    }
    repositoryName_ = kDefaultRepository;
    meta.SetStringValue("IntermediateRepositoryName", kDefaultRepository);
    FormUniqueFileName();
    // The claim comes before the object-path value, so that whoever finds the
    // value also finds the flag.
    if (ClaimOwnership() != 0)
      temporaryDownload_ = true;
    else
      WritePathValue(meta, objectPath_, uniqueId_);
    SetDword(meta, "InterSaveByteLimit", kDefaultSaveLimit);
    saveLimit_ = kDefaultSaveLimit;
    LogError("Setting variable for DOWNLOAD_FOLDER and url  %ls & id - %s\n", objectPath_.c_str(), uniqueId_.c_str());
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
  LogDebug("reading periodic limit  info\n");
  LogInfo("Download folder = %ls\tperiodic save limit = %d\n", Wide(repositoryName_).c_str(),
          static_cast<int>(saveLimit_));

  // The object path's value names the partial file of that path.
  const std::string storedId = ReadPathValue(meta, objectPath_);
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
  if (!temporaryDownload_) WritePathValue(meta, objectPath_, uniqueId_);

  LogInfo("ResumeGetRequestEx : To update download count\n");
  DWORD count = 0;
  if (meta.QueryDWORDValue("DownloadCount", count) != ERROR_SUCCESS) count = 0;
  SetDword(meta, "DownloadCount", count + 1);
  LogInfo("End of DownloadResumeHandler::Initialize\n");
  return 0;
}

void StoredDownload::FormUniqueFileName() {
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

void StoredDownload::NewUniqueId() {
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
  storedLastModified_.clear();
}

void StoredDownload::DiscardPartialFile() {
  LogInfo("Performing PreDownloadCleaningOfPartialFile\n");
  startOffset_ = 0;
  storedSize_ = 0;
  storedLastModified_.clear();
  DeleteFileAt(partialFilePath_);
}

void StoredDownload::Restart() {
  startOffset_ = 0;
  storedSize_ = 0;
  storedLastModified_.clear();
  EmptyPartialFile(partialFilePath_);
}

int32_t StoredDownload::ClaimOwnership() {
  RegistryKey sub;
  LONG rc = sub.Create(HKEY_LOCAL_MACHINE, SubKey().c_str());
  if (rc == ERROR_SUCCESS) rc = SetDword(sub, "downloadInProgress", 1);
  if (rc == ERROR_SUCCESS) rc = WriteHeartbeat(sub);
  if (rc != ERROR_SUCCESS) {
    LogError("GetFileDataFromRegistry : could not mark the download as in progress --> %d \n", static_cast<int>(rc));
    return rc;
  }
  ownsFlag_ = true;
  return 0;
}

LONG StoredDownload::WriteHeartbeat(RegistryKey& sub) {
  const std::string now = Utf8(CurrentTimeMillisText().c_str());
  const LONG rc = sub.SetStringValue("LastRetryTime", now.c_str());
  if (rc == ERROR_SUCCESS) {
    heartbeat_ = now;
    lastRetryTime_ = ParseMillis(now);
  }
  return rc;
}

bool StoredDownload::StillOwnsFlag() const {
  RegistryKey sub;
  DWORD flag = 0;
  std::string heartbeat;
  return sub.Open(HKEY_LOCAL_MACHINE, SubKey().c_str(), KEY_READ) == ERROR_SUCCESS &&
         sub.QueryDWORDValue("downloadInProgress", flag) == ERROR_SUCCESS &&
         sub.QueryStringValue("LastRetryTime", heartbeat) == ERROR_SUCCESS && heartbeat == heartbeat_;
}

void StoredDownload::ReleaseOwnership() {
  RegistryKey sub;
  if (sub.Open(HKEY_LOCAL_MACHINE, SubKey().c_str(), KEY_SET_VALUE) == ERROR_SUCCESS)
    ::RegDeleteValueA(sub.Handle(), "downloadInProgress");
  ownsFlag_ = false;
}

int32_t StoredDownload::GetFileDataFromRegistry() {
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
        if (!FileSizeAt(partialFilePath_, fileSize)) fileSize = 0;
        LogInfo("GetFileDataFromRegistry partial downloaded filesize  in registry %d from file  %d\n",
                static_cast<int>(size), static_cast<int>(fileSize));
        reuse = fileSize == size && size <= contentLength_;
      }
    }
  }
  if (reuse) {
    storedLastModified_ = stored;
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

int32_t StoredDownload::RecordSave(uint32_t stored, SaveKind kind) {
  if (temporaryDownload_) return 0;
  RegistryKey sub;
  if (sub.Create(HKEY_LOCAL_MACHINE, SubKey().c_str()) != ERROR_SUCCESS) {
    LogError("Error caught in ProcessDownloadedBuffer\n");
    return ERROR_INVALID_DATA;
  }
  SetDword(sub, "PartialFileSize", stored);
  LogDebug("updated registry entries  %d \n", static_cast<int>(stored));
  sub.SetStringValue("LastModifiedTime", lastModified_.c_str());
  WriteHeartbeat(sub);
  if (kind != SaveKind::kPeriodic) {
    LogInfo("updated registry entries size  %d and last modified time %s retry time %lld\n", static_cast<int>(stored),
            lastModified_.c_str(), static_cast<long long>(lastRetryTime_));
    ++retryCount_;
    SetDword(sub, "RetryCount", static_cast<DWORD>(retryCount_));
  }
  if (kind == SaveKind::kFinal) {
    ::RegDeleteValueA(sub.Handle(), "downloadInProgress");
    ownsFlag_ = false;
  }
  return 0;
}

int32_t StoredDownload::CleanFileAndRegistry() {
  if (g_beforeCleanFileAndRegistry) g_beforeCleanFileAndRegistry();
  LogInfo("Inside CleanFileAndRegistry\n");
  StateLock lock;
  // The shared file and its state go only while this download still owns
  // them: one that claimed them since is working on them.
  if (!temporaryDownload_ && !StillOwnsFlag()) {
    LogError("CleanFileAndRegistry : the download %s was claimed by another download; its file and state are left "
             "to it \n",
             uniqueId_.c_str());
    ownsFlag_ = false;
    return 0;
  }
  if (!partialFilePath_.empty()) DeleteFileAt(partialFilePath_);
  if (!temporaryDownload_) {
    // The path's value goes only while it still names this download's file.
    RegistryKey meta;
    if (meta.Open(HKEY_LOCAL_MACHINE, MetaKey().c_str(), KEY_READ | KEY_WRITE) == ERROR_SUCCESS &&
        ReadPathValue(meta, objectPath_) == uniqueId_)
      ::RegDeleteValueW(meta.Handle(), objectPath_.c_str());
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

uint32_t StoredDownload::CountFailure() {
  RegistryKey meta;
  DWORD failures = 0;
  if (meta.Create(HKEY_LOCAL_MACHINE, MetaKey().c_str()) != ERROR_SUCCESS ||
      meta.QueryDWORDValue("DownloadFailureCount", failures) != ERROR_SUCCESS) {
    LogError("The DownloadFailureCount value could not be read.Resetting to 1\n");
    failures = 1;
  } else {
    ++failures;
  }
  if (meta.Handle()) SetDword(meta, "DownloadFailureCount", failures);
  LogInfo("DownloadFailureCount set to %d\n", static_cast<int>(failures));
  return failures;
}
