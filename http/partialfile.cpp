// The partial-file I/O of the resumable downloads (see partialfile.h).
#include "http/partialfile.h"

#include <windows.h>

#include "agent/log/logger.h"
#include "agent/util/errortext.h"
#include "http/downloadfiles.h"
#include "http/httpinternal.h"

int32_t AppendToPartialFile(const std::wstring& path, uint64_t stored, const char* data, uint32_t count) {
  const KernelHandle file = OpenFileAt(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
  if (!file.IsValid()) {
    const int32_t code = LastCode();
    LogError("Invalid File Handle\n");
    LogErrorCode(code);
    return code;
  }
  LARGE_INTEGER size{};
  int32_t code = 0;
  if (!::GetFileSizeEx(file.Get(), &size)) {
    code = LastCode();
  } else if (static_cast<uint64_t>(size.QuadPart) < stored) {
    code = ERROR_INVALID_DATA;
  } else {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(stored);
    if (!::SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.Get()) ||
        !WriteAll(file.Get(), data, count))
      code = LastCode();
  }
  ::FlushFileBuffers(file.Get());
  if (code != 0) LogError("ProcessDownloadedBuffer :  Error in WriteFile --> %d \n", code);
  return code;
}

void EmptyPartialFile(const std::wstring& path) { OpenFileAt(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS); }

int32_t CopyPartialFileOver(const std::wstring& path, const std::wstring& destination) {
  const std::wstring staging = StagingPathBeside(destination);
  if (CopyFileOver(path, staging) && MoveFileOver(staging, destination)) return 0;
  const int32_t code = LastCode();
  DeleteFileAt(staging);
  return code;
}
