// File and folder operations (see fileutil.h). Each step is logged; a failed
// file never stops a tree walk.
#include "agent/util/fileutil.h"

#include <windows.h>
#include <shlobj.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "agent/log/logger.h"
#include "agent/util/errortext.h"
#include "agent/util/scopedhandle.h"
#include "agent/util/textconv.h"
#include "agent/util/textutil.h"

namespace {
constexpr const char* kStars = "**************************************************** \n";

bool IsDotEntry(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

bool IsFolder(const WIN32_FIND_DATAA& entry) { return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

void DeleteOneFile(const std::string& path) {
  LogInfo("@@@@@@@@ Inside TWDeleteFile Method @@@@@@@@ \n");
  LogInfo("%s", kStars);
  LogInfo("Delete file option is performed on     :%s\n", path.c_str());
  LogInfo(" **************************************************** \n");
  int32_t code = DeleteFileA(path.c_str()) ? 0 : static_cast<int32_t>(GetLastError());
  LogErrorCode(code);
  LogInfo("@@@@@@@@ End Of TWDeleteFile Method @@@@@@@@ \n");
}

std::wstring WideForLog(const char* text) {
  std::wstring wide;
  ChangeToWideStr(text, wide);
  return wide;
}
}  // namespace

int ShellDelete(const char* path) {
  // The shell takes a list of paths ended by an empty one: path, zero, zero.
  std::string from = path ? path : "";
  from.push_back('\0');
  SHFILEOPSTRUCTA op{};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  return SHFileOperationA(&op);
}

bool PathExists(const char* path) { return path && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool ShellDeleted(int shellResult, const char* path) { return shellResult == 0 || !PathExists(path); }

int32_t ShellDeleteFolder(const char* folder, int* shellResult) {
  if (!folder || !*folder) return ERROR_INVALID_DATA;
  LogInfo("TWDeleteFolder : Going to start deletion of %s folder \n", folder);
  int shell = ShellDelete(folder);
  DWORD err = GetLastError();
  if (shellResult) *shellResult = shell;
  if (shell == 0) {
    LogInfo("Successfully deleted .. %s \n", folder);
    // Callers read the thread's error after the delete: keep the shell's, not the log's.
    SetLastError(err);
    return 0;
  }
  LogInfo("TWDeleteFolder : SHFileOperationA Failure %s folder \n", folder);
  // The shell does not always set the thread's error; its own code then tells the failure.
  if (err == 0) err = static_cast<DWORD>(shell);
  LogError("Failed to delete ... %s \n", folder);
  LogErrorCode(static_cast<int32_t>(err));
  SetLastError(err);
  return static_cast<int32_t>(err);
}

int32_t TWDeleteFolder(const char* folder) {
  // An empty name would make the search pattern "\*.*", the root of the drive.
  if (!folder || !*folder) return ERROR_INVALID_DATA;
  LogInfo("@@@@@@@@ Inside TWDeleteFolder Method @@@@@@@@ \n");
  LogInfo("%s", kStars);
  LogInfo("Source Folder          :%s\n", folder);
  LogInfo("%s", kStars);
  const std::string base = folder;
  const std::string pattern = base + "\\*.*";
  LogInfo("TWDeleteFolder : Path to delete : %s\n", pattern.c_str());

  int32_t result = 0;
  WIN32_FIND_DATAA entry;
  FindHandle find(FindFirstFileA(pattern.c_str(), &entry));
  if (!find) {
    result = static_cast<int32_t>(GetLastError());
    LogErrorCode(result);
    LogInfo("TWDeleteFolder : Unable to find the files/folder.\n");
  } else {
    do {
      const std::string path = base + "\\" + entry.cFileName;
      if (IsFolder(entry)) {
        if (!IsDotEntry(entry.cFileName)) ShellDeleteFolder(path.c_str());
      } else {
        DeleteOneFile(path);
      }
    } while (FindNextFileA(find.Get(), &entry));
    result = static_cast<int32_t>(GetLastError());
    if (result != ERROR_NO_MORE_FILES) {
      LogErrorCode(result);
      LogInfo("TWDeleteFolder : Couldn't find next file :%d\n", static_cast<int>(result));
    }
  }

  const std::wstring wideFolder = WideForLog(folder);
  for (int round = 0; round < 2; ++round) {
    LogInfo("TWDeleteFolder : Cleaning up\n");
    find.Close();
    int shell = 0;
    const int32_t failure = ShellDeleteFolder(folder, &shell);
    LogInfo("Error code : %d\n", shell);
    if (ShellDeleted(shell, folder)) break;
    LogInfo("TWDeleteFolder : Unable to Delete %ls directory\n", wideFolder.c_str());
    result = failure;
    LogErrorCode(result);
    if (result == ERROR_ACCESS_DENIED) {
      DWORD attributes = GetFileAttributesA(folder);
      if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) break;
      LogInfo("TWDeleteFolder : ATTRIBUTES for %ls \t:\t%d\n", wideFolder.c_str(), static_cast<int>(attributes));
      DWORD err = GetLastError();
      LogErrorCode(static_cast<int32_t>(err));
      LogInfo("TWDeleteFolder : UNable to GET ATTRIBUTES ERRORCODE\t:\t%d\n", static_cast<int>(err));
      if (SetFileAttributesA(folder, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)))
        result = ShellDeleteFolder(folder);
      err = GetLastError();
      LogErrorCode(static_cast<int32_t>(err));
      LogInfo("TWDeleteFolder : UNable to set this ATTRIBUTE ERRORCODE\t:\t%d\n", static_cast<int>(err));
      continue;
    }
    if (result == ERROR_FILE_NOT_FOUND)
      result = 0;
    else
      LogInfo("TWDeleteFolder : Unable to delete directory :%ls :%d\n", wideFolder.c_str(), static_cast<int>(result));
    break;
  }
  LogInfo("TWDeleteFolder : Freeing up the memeory\n");
  LogInfo("@@@@@@@@ End Of TWDeleteFolder Method @@@@@@@@ \n");
  return result;
}

int32_t TWCopyFolder(const char* source, const char* destination, int32_t* firstFailure) {
  if (!source || !destination) return ERROR_INVALID_DATA;
  LogDebug("*********************************************************\n");
  LogInfo("      @@@@@@@@ Inside TWCopyFolder Method @@@@@@@@         \n");
  LogInfo("*************************************************************\n");
  LogInfo("Source Folder          :%s\n", source);
  LogInfo("Destionation Folder    :%s\n", destination);
  LogInfo("%s", kStars);
  const std::string from = source;
  const std::string to = destination;
  const std::string pattern = from + "\\*.*";
  LogInfo("TWCopyFolder : szFormattedPath\t:\t%s\n", pattern.c_str());

  int32_t result = 0;
  WIN32_FIND_DATAA entry;
  FindHandle find(FindFirstFileA(pattern.c_str(), &entry));
  if (!find) {
    result = static_cast<int32_t>(GetLastError());
    LogErrorCode(result);
    LogInfo("TWCopyFolder : IN %s, Unable to find the files and folders.\n", pattern.c_str());
  } else {
    do {
      const std::string sourcePath = from + "\\" + entry.cFileName;
      const std::string destinationPath = to + "\\" + entry.cFileName;
      if (IsFolder(entry)) {
        if (!IsDotEntry(entry.cFileName)) {
          LogInfo("TWCopyFolder : Recursive going to create\n");
          const int32_t walked = TWCopyFolder(sourcePath.c_str(), destinationPath.c_str(), firstFailure);
          if (walked != ERROR_NO_MORE_FILES && firstFailure && *firstFailure == 0) *firstFailure = walked;
        }
      } else {
        const int32_t copied = TWCopyFile(destinationPath.c_str(), sourcePath.c_str());
        if (copied != 0 && firstFailure && *firstFailure == 0) *firstFailure = copied;
      }
    } while (FindNextFileA(find.Get(), &entry));
    result = static_cast<int32_t>(GetLastError());
    LogErrorCode(result);
    if (result != ERROR_NO_MORE_FILES) LogInfo("TWCopyFolder : Couldn't find next file :%d\n", static_cast<int>(result));
  }
  find.Close();
  LogInfo("************** End Of TWCopyFolder Method ********************* \n");
  return result;
}

int32_t TWCopyFile(const char* destination, const char* source) {
  if (!destination || !source) return ERROR_INVALID_DATA;
  LogInfo("@@@@@@@@ Inside Method TWCopyFile @@@@@@@@ \n");
  LogInfo("%s", kStars);
  LogInfo("SourceFileName\t\t\t:%s\n", source);
  LogInfo("DesinationFileName\t\t:%s\n", destination);
  int32_t result = CreateFolder(destination);
  if (result != 0) {
    LogInfo("TWCopyFile : Problem while Creating destination directory..!\n");
    return result;
  }
  if (!CopyFileA(source, destination, FALSE)) {
    result = static_cast<int32_t>(GetLastError());
    LogErrorCode(result);
  }
  LogErrorCode(result);
  LogDebug("@@@@@@@@ Inside Method TWCopyFile @@@@@@@@ \n");
  return result;
}

std::wstring FileApiPath(const std::wstring& path) {
  if (path.size() < MAX_PATH - 12 || path.rfind(L"\\\\?\\", 0) == 0) return path;
  if (path.size() > 2 && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
  if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  return path;
}

namespace {

// Makes a folder and its missing parents one at a time, each through its
// long-path form: the shell refuses folders of MAX_PATH characters or more
// (some versions cut them short instead and report success). The root (a
// drive's, or a share's "\\\\server\\share") is taken as there. 0 when the
// folder exists at the end, else the error of the folder that could not be made.
int32_t CreateLongFolder(std::wstring folder) {
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  size_t next = 0;
  if (folder.rfind(L"\\\\", 0) == 0) {
    next = folder.find(L'\\', 2);
    next = next == std::wstring::npos ? folder.size() : folder.find(L'\\', next + 1);
  } else if (folder.size() > 2 && folder[1] == L':') {
    next = 2;
  }
  while (next != std::wstring::npos && next < folder.size()) {
    next = folder.find(L'\\', next + 1);
    const std::wstring part = folder.substr(0, next);
    if (!CreateDirectoryW(FileApiPath(part).c_str(), nullptr)) {
      const DWORD error = GetLastError();
      if (error != ERROR_ALREADY_EXISTS) return static_cast<int32_t>(error);
    }
  }
  return 0;
}

}  // namespace

int32_t CreateFolder(const char* path) {
  LogDebug("CreateFolder : CreateFolder function called with %s\n", path);
  if (!path || !*path) {
    LogError("CreateFolder : The directory to create is NULL . \n");
    return ERROR_INVALID_DATA;
  }
  const std::string whole = path;
  // The folder part ends at the last backslash, so a file named like one of
  // its folders cannot cut the path short.
  const size_t nameLength = GetLastFileName(path).value_or("").size();
  const std::string folder = whole.substr(0, whole.size() - nameLength);
  int32_t code = 0;
  if (!folder.empty() && folder.size() <= 3) {
    LogInfo("CreateFolder : The Drive letter Given.hence it cannot be created \n");
  } else {
    const std::string& target = folder.empty() ? whole : folder;
    LogInfo("CreateFolder : The Directory to create is %s \n", target.c_str());
    std::wstring wide;
    if (target.size() < MAX_PATH)
      code = SHCreateDirectoryExA(nullptr, target.c_str(), nullptr);
    else
      code = SystemCodePageToWide(target.c_str(), wide) ? CreateLongFolder(wide) : ERROR_INVALID_DATA;
    if (code == ERROR_ALREADY_EXISTS) code = 0;
  }
  LogDebug("CreateFolder function returns Error code %d \n", static_cast<int>(code));
  return code;
}

int32_t CreateFolder(const wchar_t* path) {
  LogDebug("CreateFolder : CreateFolder function called with %ls\n", path);
  std::string utf8;
  int32_t code = 0;
  if (!path || !ChangeWideToUtf8Str(path, utf8) || utf8.empty()) {
    LogError("CreateFolder : The directory to create is NULL . \n");
    code = ERROR_INVALID_DATA;
  } else {
    const std::wstring whole = path;
    (void)GetLastFileName(utf8.c_str());
    const size_t slash = whole.rfind(L'\\');
    const std::wstring folder =
        whole.size() <= 3 ? whole : (slash == std::wstring::npos ? std::wstring() : whole.substr(0, slash + 1));
    if (!folder.empty() && folder.size() <= 3) {
      LogInfo("CreateFolder : The Drive letter Given.hence it cannot be created \n");
      code = ERROR_ALREADY_EXISTS;
    } else {
      const std::wstring& target = folder.empty() ? whole : folder;
      std::string targetUtf8;
      ChangeWideToUtf8Str(target.c_str(), targetUtf8);
      LogInfo("CreateFolder : The Directory to create is %s \n", targetUtf8.c_str());
      code = target.size() >= MAX_PATH ? CreateLongFolder(target)
                                       : SHCreateDirectoryExW(nullptr, target.c_str(), nullptr);
    }
  }
  if (code == ERROR_ALREADY_EXISTS) code = 0;
  LogDebug("CreateFolder function returns Error code %d \n", static_cast<int>(code));
  if (code != 0) LogErrorCode(code);
  return code;
}

int IsFileExist(const char* path) {
  if (!path) return 0;
  // A stale error from an earlier call must not make an opened file look missing.
  SetLastError(0);
  KernelHandle file(CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD err = GetLastError();
  if (!file || err == ERROR_FILE_NOT_FOUND) {
    LogDebug("IsFileExist : The File Name %s is not found %d\n", path, static_cast<int>(err));
    return 0;
  }
  DWORD size = GetFileSize(file.Get(), nullptr);
  LogDebug("IsFileExist : The File %s size is given by : %d\n", path, static_cast<int>(size));
  file.Close();
  if (size != 0) return 1;
  LogDebug("IsFileExist : The required file (%s) size is 0 bytes. Hence returning file not found.\n", path);
  return 0;
}

int32_t CheckFileExists(const wchar_t* path) {
  LogDebug("@@@@@@@@ Inside CheckFileExists Method @@@@@@@@ \n");
  if (!path) return ERROR_INVALID_DATA;
  LogDebug("FileName to search -> %ls \n", path);
  WIN32_FIND_DATAW entry;
  FindHandle find(FindFirstFileW(path, &entry));
  if (!find) {
    LogError("CheckFileExists -> Invalid File Handle. %d \n", static_cast<int>(GetLastError()));
    LogDebug("@@@@@@@@ End Of CheckFileExists Method @@@@@@@@ \n");
    return ERROR_FILE_NOT_FOUND;
  }
  find.Close();
  LogDebug("@@@@@@@@ End Of CheckFileExists Method @@@@@@@@ \n");
  return 0;
}

int GetFileSize64(const char* path, int64_t& out) {
  if (!path) return 0;
  KernelHandle file(
      CreateFileA(path, FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size;
  if (!file || !GetFileSizeEx(file.Get(), &size)) return 0;
  out = size.QuadPart;
  return 1;
}

int32_t AppendLineToFile(const char* path, const char* text) {
  if (!path || !text) return ERROR_INVALID_DATA;
  int32_t result = 0;
  if (!IsFileExist(path)) {
    result = CreateFolder(path);
    if (result == 0) {
      KernelHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file) {
        result = static_cast<int32_t>(GetLastError());
        // An existing empty file: nothing had to be created.
        if (result == ERROR_FILE_EXISTS) result = 0;
      }
    }
    LogErrorCode(result);
  }
  SetLastError(0);
  FILE* stream = fopen(path, "a+");
  if (!stream) {
    if (result == 0) {
      DWORD err = GetLastError();
      result = err ? static_cast<int32_t>(err) : ERROR_OPEN_FAILED;
    }
    return result;
  }
  fputs(text, stream);
  fputc('\n', stream);
  if (fclose(stream) != 0 && result == 0) result = ERROR_WRITE_FAULT;
  return result;
}
