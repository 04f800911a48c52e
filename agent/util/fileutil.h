// File and folder operations shared by the installer staging and the transfer
// code: tree delete and copy, single-file copy with its folder created on the
// way, creation of the folder that is to hold a file, and existence tests.
// Narrow paths are in the system code page (ANSI interfaces); results are
// Windows error codes, 13 for a missing path.
#pragma once
#include <cstdint>
#include <string>

// The form of a path that the wide file calls accept at any length: absolute
// paths that reach MAX_PATH (less the room of a file name in a folder) get the
// extended-length prefix; others stay as they are. The one long-path rule of
// every file call of the program.
std::wstring FileApiPath(const std::wstring& path);

// Empties the folder and deletes it. The code of the last step; callers ignore it.
int32_t TWDeleteFolder(const char* folder);
// The bare shell delete of one path (silent, no confirmation, no error UI, no
// undo): the shell's own result, the thread's error as the shell left it.
int ShellDelete(const char* path);
// Shell delete of a folder with its log lines. 0, or the Windows error of a
// failed delete; `shellResult`, when given, receives the shell's own result.
int32_t ShellDeleteFolder(const char* folder, int* shellResult = nullptr);
// True when a file or folder exists at the path.
bool PathExists(const char* path);
// A shell delete has succeeded when the shell says so or the path is gone
// afterwards (an earlier step may have removed it already).
bool ShellDeleted(int shellResult, const char* path);
// Copies the files of a tree; folders come into being only through the files
// copied into them. 18 (no more files) after a complete walk. A failed file
// copy or subfolder walk does not stop the walk; `firstFailure` (when given,
// preset to 0 by the caller) receives the error of the first one anywhere in
// the tree, so a half-copied tree is never taken for a whole one.
int32_t TWCopyFolder(const char* source, const char* destination, int32_t* firstFailure = nullptr);
// Copies one file over any existing destination, creating the destination's
// folder first. Note the argument order: destination, then source.
int32_t TWCopyFile(const char* destination, const char* source);
// Creates (with all missing parents) the folder that is to hold the file the
// path names: the part up to the last backslash, or the whole path when that
// part is empty. A drive root counts as existing. 0 when the folder exists.
// A folder of MAX_PATH characters or more, which the shell cannot take, is
// made one folder at a time through its long-path form.
int32_t CreateFolder(const char* path);
// UTF-16 form; also 13 when the path is missing, empty or not convertible.
int32_t CreateFolder(const wchar_t* path);
// 1 when the file can be opened exclusively and the low 32 bits of its size are
// not 0; else 0 (missing, empty, or in use by another handle).
int IsFileExist(const char* path);
// 0 when something matches the path or pattern, 2 when nothing does, 13 for a
// missing path.
int32_t CheckFileExists(const wchar_t* path);

// 1 and the file's size, or 0 for a missing path or a file that cannot be opened.
int GetFileSize64(const char* path, int64_t& out);

// Appends the text and a line feed to the file, creating its folder and the
// file first when it is missing or empty. Returns the creation's Windows code
// (0 when nothing had to be created), or the open's error when the file cannot
// be opened for appending.
int32_t AppendLineToFile(const char* path, const char* text);
