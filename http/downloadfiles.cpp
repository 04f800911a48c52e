// The file calls of the downloads (see downloadfiles.h), each through the
// long-path form of its path.
#include "http/downloadfiles.h"

#include <cstdio>

#include "http/httpinternal.h"

namespace {

// The size of the write buffer in front of a temporary file (as large as the
// largest read): enough for full-speed transfers, small enough to keep the
// memory of a download flat whatever the file size.
constexpr size_t kWriteBufferSize = 1u << 20;

// A C stream, closed when it goes.
struct StreamTraits {
  using Handle = FILE*;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static bool Close(Handle h) { return std::fclose(h) == 0; }
};

}  // namespace

KernelHandle OpenFileAt(const std::wstring& path, DWORD access, DWORD share, DWORD disposition) {
  return KernelHandle(
      ::CreateFileW(FileApiPath(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool DeleteFileAt(const std::wstring& path) { return ::DeleteFileW(FileApiPath(path).c_str()) != FALSE; }

bool MoveFileOver(const std::wstring& from, const std::wstring& to) {
  return ::MoveFileExW(FileApiPath(from).c_str(), FileApiPath(to).c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool CopyFileOver(const std::wstring& from, const std::wstring& to) {
  return ::CopyFileW(FileApiPath(from).c_str(), FileApiPath(to).c_str(), FALSE) != FALSE;
}

bool FileSizeAt(const std::wstring& path, uint64_t& size) {
  const KernelHandle file =
      OpenFileAt(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
  LARGE_INTEGER value{};
  if (!file.IsValid() || !::GetFileSizeEx(file.Get(), &value)) return false;
  size = static_cast<uint64_t>(value.QuadPart);
  return true;
}

bool ReadTextFile(const std::wstring& path, std::string& out) {
  const ScopedHandle<StreamTraits> file(_wfopen(FileApiPath(path).c_str(), L"rt"));
  if (!file.IsValid()) return false;
  std::string data;
  std::vector<char> chunk(64 * 1024);
  size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), file.Get())) > 0) data.append(chunk.data(), n);
  out = std::move(data);
  return true;
}

bool WriteAll(HANDLE file, const char* data, size_t size) {
  while (size > 0) {
    const DWORD part = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(file, data, part, &written, nullptr)) return false;
    if (written == 0) {
      ::SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

std::wstring ThreadIdText() { return std::to_wstring(::GetCurrentThreadId()); }

std::wstring StagingPathBeside(const std::wstring& destination) { return destination + ThreadIdText() + L".tmp"; }

int32_t TempFile::Create(const std::wstring& path) {
  file_ = OpenFileAt(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
  if (!file_.IsValid()) return LastCode();
  buffer_.reserve(kWriteBufferSize);
  return 0;
}

int32_t TempFile::Write(const char* data, size_t size) {
  if (buffer_.size() + size > kWriteBufferSize) {
    if (const int32_t rc = Flush()) return rc;
    if (size >= kWriteBufferSize) return WriteAll(file_.Get(), data, size) ? 0 : LastCode();
  }
  buffer_.insert(buffer_.end(), data, data + size);
  return 0;
}

int32_t TempFile::Flush() {
  if (buffer_.empty()) return 0;
  const bool ok = WriteAll(file_.Get(), buffer_.data(), buffer_.size());
  buffer_.clear();
  return ok ? 0 : LastCode();
}

int32_t TempFile::Restart() {
  buffer_.clear();
  LARGE_INTEGER zero{};
  if (!::SetFilePointerEx(file_.Get(), zero, nullptr, FILE_BEGIN) || !::SetEndOfFile(file_.Get())) return LastCode();
  return 0;
}

bool TempFile::Size(uint64_t& out) const {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file_.Get(), &size)) return false;
  out = static_cast<uint64_t>(size.QuadPart);
  return true;
}

void TempFile::Close() {
  if (file_.IsValid()) {
    ::FlushFileBuffers(file_.Get());
    file_.Close();
  }
  buffer_.clear();
}
