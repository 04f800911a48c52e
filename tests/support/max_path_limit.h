// Windows without long-path support refuses a path of MAX_PATH characters or
// more unless it carries the extended-length prefix "\\?\"; Wine accepts any
// length. While a MaxPathLimit lives, the file calls this program imports from
// kernel32 (CreateFileW, MoveFileExW, CopyFileW, DeleteFileW, CreateDirectoryW) refuse such a
// path with ERROR_PATH_NOT_FOUND, as Windows does, so that a test sees every
// call that misses the long-path form.
#pragma once
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <vector>

namespace twtest {

class MaxPathLimit {
 public:
  MaxPathLimit() {
    realCreateFile = reinterpret_cast<CreateFileFn>(Patch("CreateFileW", reinterpret_cast<void*>(&LimitedCreateFile)));
    realMoveFile = reinterpret_cast<MoveFileFn>(Patch("MoveFileExW", reinterpret_cast<void*>(&LimitedMoveFile)));
    realCopyFile = reinterpret_cast<CopyFileFn>(Patch("CopyFileW", reinterpret_cast<void*>(&LimitedCopyFile)));
    realDeleteFile =
        reinterpret_cast<DeleteFileFn>(Patch("DeleteFileW", reinterpret_cast<void*>(&LimitedDeleteFile)));
    realCreateDirectory = reinterpret_cast<CreateDirectoryFn>(
        Patch("CreateDirectoryW", reinterpret_cast<void*>(&LimitedCreateDirectory)));
  }
  ~MaxPathLimit() {
    for (const Patched& p : patched_) Write(p.slot, p.original);
  }
  MaxPathLimit(const MaxPathLimit&) = delete;
  MaxPathLimit& operator=(const MaxPathLimit&) = delete;

  // True when all five calls are limited.
  bool Installed() const { return patched_.size() == 5; }
  // True when this call is limited (a program imports only the calls it makes).
  bool Limits(const char* call) const {
    for (const Patched& p : patched_)
      if (std::strcmp(p.name, call) == 0) return true;
    return false;
  }

 private:
  using CreateFileFn = decltype(&::CreateFileW);
  using MoveFileFn = decltype(&::MoveFileExW);
  using CopyFileFn = decltype(&::CopyFileW);
  using DeleteFileFn = decltype(&::DeleteFileW);
  using CreateDirectoryFn = decltype(&::CreateDirectoryW);
  struct Patched {
    const char* name;
    void** slot;
    void* original;
  };

  // The functions imported before, which the limited ones call on.
  static inline CreateFileFn realCreateFile = nullptr;
  static inline MoveFileFn realMoveFile = nullptr;
  static inline CopyFileFn realCopyFile = nullptr;
  static inline DeleteFileFn realDeleteFile = nullptr;
  static inline CreateDirectoryFn realCreateDirectory = nullptr;

  static bool Refused(LPCWSTR path) {
    if (!path || std::wcslen(path) < MAX_PATH || std::wcsncmp(path, L"\\\\?\\", 4) == 0) return false;
    ::SetLastError(ERROR_PATH_NOT_FOUND);
    return true;
  }
  static HANDLE WINAPI LimitedCreateFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE model) {
    if (Refused(path)) return INVALID_HANDLE_VALUE;
    return realCreateFile(path, access, share, security, disposition, flags, model);
  }
  static BOOL WINAPI LimitedMoveFile(LPCWSTR from, LPCWSTR to, DWORD flags) {
    if (Refused(from) || Refused(to)) return FALSE;
    return realMoveFile(from, to, flags);
  }
  static BOOL WINAPI LimitedCopyFile(LPCWSTR from, LPCWSTR to, BOOL failIfExists) {
    if (Refused(from) || Refused(to)) return FALSE;
    return realCopyFile(from, to, failIfExists);
  }
  static BOOL WINAPI LimitedDeleteFile(LPCWSTR path) {
    if (Refused(path)) return FALSE;
    return realDeleteFile(path);
  }
  static BOOL WINAPI LimitedCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
    // A folder's own limit is MAX_PATH less the room of a file name in it.
    if (path && std::wcslen(path) >= MAX_PATH - 12 && std::wcsncmp(path, L"\\\\?\\", 4) != 0) {
      ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return FALSE;
    }
    return realCreateDirectory(path, security);
  }

  // Points this program's import of kernel32's `name` at `replacement`; the
  // function imported before, or null when there is no such import.
  void* Patch(const char* name, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    const auto* dll = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
    for (; dll->Name; ++dll) {
      if (_stricmp(reinterpret_cast<const char*>(base + dll->Name), "kernel32.dll") != 0) continue;
      const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(
          base + (dll->OriginalFirstThunk ? dll->OriginalFirstThunk : dll->FirstThunk));
      auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
      for (; names->u1.AddressOfData; ++names, ++slots) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
        const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
        if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
        void** slot = reinterpret_cast<void**>(&slots->u1.Function);
        void* original = *slot;
        Write(slot, replacement);
        patched_.push_back({name, slot, original});
        return original;
      }
    }
    return nullptr;
  }
  static void Write(void** slot, void* value) {
    DWORD protection = 0;
    ::VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &protection);
    *slot = value;
    ::VirtualProtect(slot, sizeof(void*), protection, &protection);
  }

  std::vector<Patched> patched_;
};

}  // namespace twtest
