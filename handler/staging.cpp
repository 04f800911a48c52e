// Installer staging and launch (see staging.h).
#include "handler/staging.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "agent/config/settings.h"
#include "agent/log/logger.h"
#include "agent/util/fileutil.h"
#include "agent/util/scopedhandle.h"
#include "agent/util/wow64.h"
#include "handler/execute.h"
#include "handler/options.h"
#include "handler/uninstall.h"
#include "http/routing.h"

namespace {

constexpr int32_t kInstallerMinutes = 45;

std::string WindowsFolder() {
  UINT n = GetWindowsDirectoryA(nullptr, 0);
  std::string folder(n, '\0');
  n = GetWindowsDirectoryA(folder.data(), n);
  folder.resize(n);
  return folder;
}

std::string CurrentFolder() {
  DWORD n = GetCurrentDirectoryA(0, nullptr);
  std::string folder(n, '\0');
  n = GetCurrentDirectoryA(n, folder.data());
  folder.resize(n);
  return folder;
}

// The agent's archive tool.
std::string ArchiveTool(const std::string& installDir) { return installDir + "bin\\7za.exe"; }

// The extraction command. The tool's path is quoted: unquoted, an install
// folder with blanks ("C:\\Program Files (x86)\\...") would make CreateProcess
// try "C:\\Program.exe" first.
std::string ExtractionCommand(const std::string& tool, const std::string& archive) {
  return "\"" + tool + "\" x -y \"" + archive + "\" oracle";
}

// The folder that the archive tool, run in `folder`, extracts into, named as
// the copy reads it (with redirection off). A 32-bit tool starts with
// redirection on whatever this process's state, so on 64-bit Windows its
// relative writes in System32 (the usual current folder of software
// deployment) land in SysWOW64; a 64-bit tool writes where the path says.
std::string ExtractionFolder(const std::string& tool, const std::string& folder) {
  DWORD type = 0;
  if (GetBinaryTypeA(tool.c_str(), &type) && type == SCS_32BIT_BINARY) return PathSeenBy32BitPrograms(folder);
  return folder;
}

// Removes the oracle folder an earlier patch left where the archive is
// extracted, so that only this patch's files are staged. 0, or the error that
// kept it in place.
int32_t RemoveEarlierExtraction(const std::string& extracted) {
  if (!PathExists(extracted.c_str())) return 0;
  int shell = 0;
  const int32_t failure = ShellDeleteFolder(extracted.c_str(), &shell);
  return ShellDeleted(shell, extracted.c_str()) ? 0 : (failure != 0 ? failure : shell);
}

// True when something is left at the path: a file, or a folder with any entry
// (or one whose entries cannot be listed).
bool HoldsAnything(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  WIN32_FIND_DATAA entry;
  FindHandle find(FindFirstFileA((path + "\\*").c_str(), &entry));
  if (!find) return GetLastError() != ERROR_FILE_NOT_FOUND;
  do {
    if (strcmp(entry.cFileName, ".") != 0 && strcmp(entry.cFileName, "..") != 0) return true;
  } while (FindNextFileA(find.Get(), &entry));
  return false;
}

// A dependency file name becomes part of a local path, of the server path and
// of the archive tool's quoted command line: only a plain file name may go
// there, with no folder, drive, quote, wildcard (the tool reads * and ?) or
// control character, and not "." or "..".
bool IsPlainFileName(const std::string& name) {
  if (name == "." || name == "..") return false;
  for (const char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || strchr("\\/:\"*?<>|", c)) return false;
  }
  return true;
}

// Extracts the archive's oracle folder with the tool, run in `workingFolder`,
// and copies it into the staging folder. The extraction's result; the staging
// goes on whatever it is. A failure to clear an earlier extraction
// (`earlierFailure`) or a failed copy after a good extraction is returned
// instead, so the agent never installs from a stale or half-staged folder.
// When files of an earlier patch survive both deletes of the staging folder
// (held open by a running installer or a scanner), nothing is copied in
// beside them and the delete's error is returned, whatever the extraction gave.
int32_t ExtractAndStage(const std::string& tool, const std::string& archive, const std::string& workingFolder,
                        int32_t earlierFailure = 0) {
  const std::string command = ExtractionCommand(tool, archive);
  LogInfo("extractCmd : %s  \n", command.c_str());
  std::string remark;
  int32_t result = runInstaller(workingFolder.c_str(), command.c_str(), remark, kInstallerMinutes, 0);
  LogInfo("Return code : %d  : %s\n", result, command.c_str());
  LogInfo("Installation files not found.hence Copying from wow64 folder.\n");
  LogInfo("execute returned : %d\n", result);

  const std::string windowsFolder = WindowsFolder();
  LogInfo("System Directory : %s\n", windowsFolder.c_str());
  const std::string source = ExtractionFolder(tool, workingFolder) + "\\oracle";
  LogInfo("sourceFile Directory : %s\n", source.c_str());
  const std::string staging = windowsFolder + "\\system32\\config\\systemprofile\\AppData\\LocalLow\\oracle";

  int32_t copyFailure = 0;
  int32_t walk = ERROR_NO_MORE_FILES;
  int32_t leftOver = 0;
  {
    // On 64-bit Windows the staging folder is the real System32's.
    FileSystemRedirectionOff redirection(FileSystemRedirectionOff::Mode::kLogged);
    TWDeleteFolder(staging.c_str());
    Sleep(2000);
    const int shell = ShellDelete(staging.c_str());
    const DWORD shellError = GetLastError();
    LogInfo("Error code : %d\n", shell);
    if (ShellDeleted(shell, staging.c_str()))
      LogInfo("Sucessfully removed the directory : %s\n", staging.c_str());
    else
      LogError("Failed to remove the directory : %s with error %d \n", staging.c_str(), shell);
    if (HoldsAnything(staging)) {
      // The shell does not always set the thread's error; its own code then
      // tells the failure, and a delete that reported success left the folder
      // not empty.
      leftOver = shellError != 0 ? static_cast<int32_t>(shellError) : (shell != 0 ? shell : ERROR_DIR_NOT_EMPTY);
      LogError("Installer files not copied: %s still holds files that could not be deleted (error %d)\n",
               staging.c_str(), static_cast<int>(leftOver));
    } else {
      walk = TWCopyFolder(source.c_str(), staging.c_str(), &copyFailure);
    }
  }
  LogInfo("Proceeding installation after copying...\n");
  if (leftOver != 0) {
    result = leftOver;
  } else if (result == 0) {
    if (earlierFailure != 0)
      result = earlierFailure;
    else if (copyFailure != 0)
      result = copyFailure;
    else if (walk != ERROR_NO_MORE_FILES)
      result = walk;  // nothing could be read from the extracted folder
  }
  return result;
}

}  // namespace

int32_t JavaPreInstaller() {
  const RunOptions& o = g_runOptions;
  const std::string installDir = gv_agentInstallDir.value_or("");
  if (o.dependencyFileName && !IsPlainFileName(*o.dependencyFileName)) {
    LogError(
        "Refusing the dependency file name given with -d: a plain file name is required (none of \\ / : \" * ? < > "
        "|, no control character, not . or ..)\n");
    return 13;
  }
  int32_t result = 0;
  if (!o.calledFromSoftwareDeployment) {
    if (!o.dependencyFileName) {
      LogError("Dependency file is empty.\n");
    } else {
      LogInfo("dependencyFileName : %s \n", o.dependencyFileName->c_str());
      const std::string patches = installDir + "\\patches";
      const std::string serverPath = "\\store\\" + *o.dependencyFileName;
      const std::string archive = patches + "\\" + *o.dependencyFileName;
      if (AgentDownloadFile(nullptr, nullptr, serverPath.c_str(), archive.c_str(), false) != 0) {
        LogInfo("\t Error occured while downloading the Patch : %s \n", archive.c_str());
        return -1;
      }
      const int32_t cleared = RemoveEarlierExtraction(patches + "\\oracle");
      result = ExtractAndStage(ArchiveTool(installDir), archive, patches, cleared);
    }
  } else {
    if (o.dependencyFileName) {
      LogInfo("dependencyFileName : %s \n", o.dependencyFileName->c_str());
      // The archive at the root of the current drive, extracted in the
      // current directory.
      result = ExtractAndStage(ArchiveTool(installDir), "\\" + *o.dependencyFileName, CurrentFolder());
    }
    const char* installer = o.patchName ? o.patchName->c_str() : nullptr;
    LogInfo("Cmd for installation : %s  \n", installer);
    std::string remark;
    result = runInstaller(nullptr, installer, remark, kInstallerMinutes, 0);
    if (result == 0) {
      LogInfo("Uninstalling obsolete updates.\n");
      result = uninstallObsoleteUpdates();
    }
  }
  LogInfo("Returning from JavaPreInstaller with errorcode : %d\n", result);
  return result;
}
