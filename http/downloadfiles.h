// The file calls of the downloads. Every path goes through one long-path rule
// (FileApiPath), so a destination, a TEMP folder or a download repository
// deeper than MAX_PATH works on every route.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "agent/util/fileutil.h"
#include "agent/util/scopedhandle.h"


// CreateFileW of `path` with normal attributes (invalid on failure, the
// thread's last error set).
KernelHandle OpenFileAt(const std::wstring& path, DWORD access, DWORD share, DWORD disposition);
bool DeleteFileAt(const std::wstring& path);
// Moves `from` over `to`, replacing it in one step.
bool MoveFileOver(const std::wstring& from, const std::wstring& to);
bool CopyFileOver(const std::wstring& from, const std::wstring& to);
// Size of a file; false when it cannot be opened.
bool FileSizeAt(const std::wstring& path, uint64_t& size);
// Reads a whole file as text (line ends as a text-mode read gives them);
// false when it cannot be opened.
bool ReadTextFile(const std::wstring& path, std::string& out);

// Writes all `size` bytes; false with the thread's last error set (a write
// that takes nothing counts as ERROR_WRITE_FAULT).
bool WriteAll(HANDLE file, const char* data, size_t size);

// The calling thread's id as text, for per-thread temporary file names.
std::wstring ThreadIdText();
// The per-thread file beside `destination` in which a download is put
// together before it replaces the destination: "<destination><thread id>.tmp".
std::wstring StagingPathBeside(const std::wstring& destination);

// The temporary file of one download with a write buffer in front of it.
// Write errors surface at the write that fills the buffer or at Flush.
class TempFile {
 public:
  // 0 or the Windows error of the creation (an old file is truncated).
  int32_t Create(const std::wstring& path);
  int32_t Write(const char* data, size_t size);
  int32_t Flush();
  // Drops everything written so far (the file starts again at byte 0).
  int32_t Restart();
  bool Size(uint64_t& out) const;
  // Flushes the system's buffers and closes (what is still buffered here is
  // dropped: Flush first to keep it).
  void Close();

 private:
  KernelHandle file_;
  std::vector<char> buffer_;
};
