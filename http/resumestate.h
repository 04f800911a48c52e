// What the agent keeps between attempts of a resumable download, under its
// "FileMetaData" registry key: per object path the unique id of its partial
// file, and per id the stored size, the server's Last-Modified text, the
// heartbeat and the "downloadInProgress" flag that keeps two downloads of the
// same path from writing the same partial file.
//
// Ownership: every download that will write the shared partial file of a path
// claims "downloadInProgress" together with a fresh "LastRetryTime" in
// Initialize, before any byte is written, and releases it at its final save
// (a complete download only with its clean-up after the delivery) or when it
// goes. One that finds the flag with a heartbeat of at most 90
// minutes becomes a temporary download: it writes a private partial file,
// never writes the path's metadata, and removes only its own file.
#pragma once
#include <cstdint>
#include <string>

class RegistryKey;

// A save of a download's staged bytes: one of the periodic saves while the
// body arrives, or the final save of an attempt. The final save releases
// "downloadInProgress", except before a delivery (the attempt is complete):
// the download then keeps the flag until its clean-up is done, so that no
// other download claims the file while it is being copied.
enum class SaveKind { kPeriodic, kFinal, kFinalBeforeDelivery };

// Test seam: when set, called at the start of every CleanFileAndRegistry,
// before it looks at the stored state (a test plays another process there).
extern void (*g_beforeCleanFileAndRegistry)();

class StoredDownload {
 public:
  StoredDownload() = default;
  // Releases "downloadInProgress" if this download still holds it; a
  // temporary download also removes its private file.
  ~StoredDownload();
  StoredDownload(const StoredDownload&) = delete;
  StoredDownload& operator=(const StoredDownload&) = delete;

  // The work of DownloadResumeHandler::Initialize: reads the state of
  // `objectPath`, decides whether the stored partial file is reused (it must
  // match `lastModified` and fit in `contentLength`), claims ownership or
  // turns the download into a temporary one, and counts the download. 0, or
  // 13 after an internal fault.
  int32_t Initialize(const std::wstring& objectPath, const std::string& lastModified, uint32_t contentLength);
  // Part of Initialize: whether the stored partial file of the current unique
  // id is reusable, and who owns it.
  int32_t GetFileDataFromRegistry();
  // Forms the unique id when there is none, the partial file path, and creates
  // the repository folder.
  void FormUniqueFileName();

  // Records a save that brought the partial file to `stored` bytes (size,
  // Last-Modified, heartbeat); a final save also counts the retry and, as
  // SaveKind says, releases "downloadInProgress". Nothing for a temporary
  // download. 0, or 13.
  int32_t RecordSave(uint32_t stored, SaveKind kind);
  // Drops everything stored: the partial file is emptied, the stored size is 0.
  void Restart();
  // Deletes the partial file and its unique id's subkey; for the owner of the
  // path also the object-path value. A download that no longer owns its file
  // (another one claimed it since) deletes nothing. 0.
  int32_t CleanFileAndRegistry();
  // "DownloadFailureCount" + 1 (1 when it cannot be read), logged; the count
  // written.
  uint32_t CountFailure();

  void SetLastModified(const std::string& text) { lastModified_ = text; }
  const std::string& LastModified() const { return lastModified_; }  // the server's text
  // The "LastModifiedTime" the reused partial file was stored under (equal,
  // ignoring case, to the server's text); "" when nothing was reused.
  const std::string& StoredLastModified() const { return storedLastModified_; }
  uint32_t StartOffset() const { return startOffset_; }
  uint32_t StoredSize() const { return storedSize_; }  // bytes in the partial file at the start
  uint32_t SaveLimit() const { return saveLimit_; }
  bool IsTemporaryDownload() const { return temporaryDownload_; }
  const std::string& UniqueId() const { return uniqueId_; }
  const std::wstring& PartialFilePath() const { return partialFilePath_; }

 private:
  std::string MetaKey() const;  // agent key + "\FileMetaData"
  std::string SubKey() const;   // MetaKey() + "\" + unique id
  void NewUniqueId();           // clears the id and forms a fresh one (empty partial file)
  void DiscardPartialFile();    // "PreDownloadCleaningOfPartialFile"
  int32_t ClaimOwnership();     // "downloadInProgress" = 1 with a fresh heartbeat
  void ReleaseOwnership();
  // Whether "downloadInProgress" is still set with the heartbeat this
  // download wrote last: another download that claims the file writes its own.
  bool StillOwnsFlag() const;
  long WriteHeartbeat(RegistryKey& sub);  // "LastRetryTime" = now, remembered; 0 or the registry code

  std::wstring objectPath_;
  std::string lastModified_;
  std::string storedLastModified_;
  uint32_t contentLength_ = 0;
  std::string uniqueId_;
  std::wstring partialFilePath_;
  std::string repositoryName_;
  int32_t retryCount_ = 0;
  uint32_t startOffset_ = 0;
  uint32_t storedSize_ = 0;
  uint32_t saveLimit_ = 1048576;
  int64_t lastRetryTime_ = 0;
  std::string heartbeat_;  // the "LastRetryTime" text this download wrote last
  bool temporaryDownload_ = false;
  bool ownsFlag_ = false;
};
