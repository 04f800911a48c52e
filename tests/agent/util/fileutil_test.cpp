// File and folder utilities against Wine's file system: tree copy and delete,
// single-file copy, folder creation for a file path, existence tests, and paths
// beyond the classic 260-character limit.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "agent/util/errortext.h"
#include "agent/util/fileutil.h"
#include "tests/support/max_path_limit.h"
#include "agent/util/textutil.h"
#include "tests/support/logcheck.h"
#include "tests/support/scratch.h"
#include "tests/support/win_system.h"

using twtest::HasLine;
using twtest::LogCapture;

namespace {

bool IsDir(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class FileUtilTest : public testing::Test {
 protected:
  void SetUp() override { root_ = twtest::MakeScratchDir("fileutil"); }
  void TearDown() override { twtest::RemoveTree(root_); }
  std::string At(const std::string& relative) const { return root_ + "\\" + relative; }
  std::string root_;
};

// ---- copy ----

TEST_F(FileUtilTest, CopyFolderCopiesFilesButNotEmptyFolders) {
  ASSERT_TRUE(twtest::WriteFile(At("src\\a.txt"), "A"));
  ASSERT_TRUE(twtest::WriteFile(At("src\\sub\\b.txt"), "BB"));
  ASSERT_TRUE(twtest::WriteFile(At("src\\sub\\deeper\\c.txt"), "CCC"));
  ASSERT_TRUE(CreateDirectoryA(At("src\\emptydir").c_str(), nullptr));
  const std::string noMoreFiles = GetErrorMessageText(18);  // before the capture: it logs too
  LogCapture log(4);
  EXPECT_EQ(TWCopyFolder(At("src").c_str(), At("dst").c_str()), ERROR_NO_MORE_FILES);
  EXPECT_EQ(twtest::ReadFile(At("dst\\a.txt")), "A");
  EXPECT_EQ(twtest::ReadFile(At("dst\\sub\\b.txt")), "BB");
  EXPECT_EQ(twtest::ReadFile(At("dst\\sub\\deeper\\c.txt")), "CCC");
  EXPECT_FALSE(Exists(At("dst\\emptydir")));
  // The normal end of the walk is logged as an error line with its text.
  EXPECT_TRUE(HasLine(log, "[ERROR]", "Error Code : 18 , Error Message : " + noMoreFiles + " \n"));
  EXPECT_TRUE(HasLine(log, "[INFO]", "TWCopyFolder : szFormattedPath\t:\t" + At("src") + "\\*.*\n"));
  EXPECT_TRUE(HasLine(log, "[INFO]", "TWCopyFolder : Recursive going to create\n"));
  EXPECT_TRUE(HasLine(log, "[INFO]", "Destionation Folder    :" + At("dst") + "\n"));
}

TEST_F(FileUtilTest, CopyFolderOfATreeWithoutFilesCreatesNothing) {
  ASSERT_TRUE(CreateDirectoryA(At("src").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(At("src\\e1").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(At("src\\e1\\e2").c_str(), nullptr));
  EXPECT_EQ(TWCopyFolder(At("src").c_str(), At("dst").c_str()), ERROR_NO_MORE_FILES);
  EXPECT_FALSE(Exists(At("dst")));
}

TEST_F(FileUtilTest, CopyFolderOfMissingSourceReportsTheSearchError) {
  LogCapture log(4);
  int32_t result = TWCopyFolder(At("nosuch").c_str(), At("dst").c_str());
  EXPECT_TRUE(result == ERROR_PATH_NOT_FOUND || result == ERROR_FILE_NOT_FOUND) << result;
  EXPECT_TRUE(HasLine(log, "[INFO]",
                      "TWCopyFolder : IN " + At("nosuch") + "\\*.*, Unable to find the files and folders.\n"));
  EXPECT_FALSE(Exists(At("dst")));
}

TEST_F(FileUtilTest, CopyFolderGoesOnPastAFileThatCannotBeCopied) {
  ASSERT_TRUE(twtest::WriteFile(At("src\\a.txt"), "A"));
  ASSERT_TRUE(twtest::WriteFile(At("src\\b.txt"), "B"));
  ASSERT_TRUE(twtest::WriteFile(At("src\\c.txt"), "C"));
  ASSERT_TRUE(twtest::WriteFile(At("dst\\b.txt"), "held"));
  HANDLE held = CreateFileA(At("dst\\b.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  LogCapture log(4);
  EXPECT_EQ(TWCopyFolder(At("src").c_str(), At("dst").c_str()), ERROR_NO_MORE_FILES);
  CloseHandle(held);
  EXPECT_EQ(twtest::ReadFile(At("dst\\a.txt")), "A");
  EXPECT_EQ(twtest::ReadFile(At("dst\\b.txt")), "held");
  EXPECT_EQ(twtest::ReadFile(At("dst\\c.txt")), "C");
  EXPECT_NE(log.Text().find("[ERROR] Error Code : 32 , Error Message : "), std::string::npos);
}

// A subfolder that cannot be walked (its name has no form in the system code
// page, so the narrow search cannot name it) is a failure of the whole copy:
// the file below it never arrives.
TEST_F(FileUtilTest, CopyFolderPassesUpASubfolderThatCannotBeWalked) {
  ASSERT_TRUE(twtest::WriteFile(At("src\\a.txt"), "A"));
  const std::wstring sub = twtest::Widen(At("src")) + L"\\\u4e2d";
  ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
  HANDLE file = CreateFileW((sub + L"\\b.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  int32_t firstFailure = 0;
  EXPECT_EQ(TWCopyFolder(At("src").c_str(), At("dst").c_str(), &firstFailure), ERROR_NO_MORE_FILES);
  EXPECT_EQ(twtest::ReadFile(At("dst\\a.txt")), "A");
  EXPECT_NE(firstFailure, 0);
}

TEST_F(FileUtilTest, CopyFileReplacesAndCreatesMissingFolders) {
  ASSERT_TRUE(twtest::WriteFile(At("new.txt"), "new content"));
  ASSERT_TRUE(twtest::WriteFile(At("old\\target.txt"), "old"));
  EXPECT_EQ(TWCopyFile(At("old\\target.txt").c_str(), At("new.txt").c_str()), 0);
  EXPECT_EQ(twtest::ReadFile(At("old\\target.txt")), "new content");

  const std::string notFound = GetErrorMessageText(2);  // before the capture: it logs too
  LogCapture log(4);
  EXPECT_EQ(TWCopyFile(At("x\\y\\z\\copy.txt").c_str(), At("new.txt").c_str()), 0);
  EXPECT_EQ(twtest::ReadFile(At("x\\y\\z\\copy.txt")), "new content");
  EXPECT_TRUE(HasLine(log, "[INFO]", "SourceFileName\t\t\t:" + At("new.txt") + "\n"));
  EXPECT_TRUE(HasLine(log, "[INFO]", "DesinationFileName\t\t:" + At("x\\y\\z\\copy.txt") + "\n"));
  EXPECT_TRUE(HasLine(log, "[DEBUG]", "@@@@@@@@ Inside Method TWCopyFile @@@@@@@@ \n"));

  // A missing source: the copy's error, logged twice, after the folder was made.
  EXPECT_EQ(TWCopyFile(At("m\\copy.txt").c_str(), At("missing.txt").c_str()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(twtest::CountMessage(log, "Error Code : 2 , Error Message : " + notFound + " \n"), 2);
  EXPECT_TRUE(IsDir(At("m")));
}

TEST_F(FileUtilTest, CopyFileStopsWhenTheFolderCannotBeCreated) {
  ASSERT_TRUE(twtest::WriteFile(At("src.txt"), "s"));
  ASSERT_TRUE(twtest::WriteFile(At("blocker"), "a file where a folder should be"));
  LogCapture log(4);
  EXPECT_NE(TWCopyFile(At("blocker\\sub\\dst.txt").c_str(), At("src.txt").c_str()), 0);
  EXPECT_TRUE(HasLine(log, "[INFO]", "TWCopyFile : Problem while Creating destination directory..!\n"));
  EXPECT_EQ(twtest::ReadFile(At("blocker")), "a file where a folder should be");
}

// ---- folder creation ----

TEST_F(FileUtilTest, CreateFolderForAFilePath) {
  LogCapture log(4);
  EXPECT_EQ(CreateFolder(At("dir\\sub\\file.exe").c_str()), 0);
  EXPECT_TRUE(IsDir(At("dir\\sub")));
  EXPECT_FALSE(Exists(At("dir\\sub\\file.exe")));
  EXPECT_TRUE(HasLine(log, "[INFO]", "CreateFolder : The Directory to create is " + At("dir\\sub\\") + " \n"));
  EXPECT_TRUE(HasLine(log, "[DEBUG]", "CreateFolder function returns Error code 0 \n"));
  // Already there: still 0.
  EXPECT_EQ(CreateFolder(At("dir\\sub\\other.exe").c_str()), 0);
  // A path ending in a backslash is the folder itself.
  EXPECT_EQ(CreateFolder(At("dir2\\sub\\").c_str()), 0);
  EXPECT_TRUE(IsDir(At("dir2\\sub")));
}

TEST_F(FileUtilTest, CreateFolderCutsAtTheLastBackslash) {
  // The file is named like an earlier folder: the folder to make is the one
  // that holds the file, not the path up to the first "config".
  EXPECT_EQ(CreateFolder(At("config\\x\\config").c_str()), 0);
  EXPECT_TRUE(IsDir(At("config\\x")));
  EXPECT_FALSE(Exists(At("config\\x\\config")));
}

TEST_F(FileUtilTest, CreateFolderOfADriveRootCreatesNothing) {
  LogCapture log(4);
  EXPECT_EQ(CreateFolder("C:\\tw-no-such-file.exe"), 0);
  EXPECT_FALSE(Exists("C:\\tw-no-such-file.exe"));
  EXPECT_TRUE(HasLine(log, "[INFO]", "CreateFolder : The Drive letter Given.hence it cannot be created \n"));
  EXPECT_EQ(CreateFolder(L"C:"), 0);
  EXPECT_EQ(CreateFolder(L"C:\\"), 0);
  EXPECT_EQ(twtest::CountMessage(log, "CreateFolder : The Drive letter Given.hence it cannot be created \n"), 3);
  EXPECT_FALSE(HasLine(log, "[INFO]", "CreateFolder : The Directory to create is C: \n"));
}

TEST_F(FileUtilTest, CreateFolderWideForm) {
  const std::string invalidData = GetErrorMessageText(13);  // before the capture: it logs too
  LogCapture log(4);
  std::wstring path = twtest::Widen(At("w\\")) + L"Stra\u00DFe\\\u65E5\u672C\\file.txt";
  EXPECT_EQ(CreateFolder(path.c_str()), 0);
  std::wstring folder = twtest::Widen(At("w\\")) + L"Stra\u00DFe\\\u65E5\u672C";
  DWORD a = GetFileAttributesW(folder.c_str());
  EXPECT_TRUE(a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(HasLine(log, "[DEBUG]",
                      "CreateFolder : CreateFolder function called with " + At("w\\") +
                          "Stra\xC3\x9F" "e\\\xE6\x97\xA5\xE6\x9C\xAC\\file.txt\n"))
      << log.Text();

  EXPECT_EQ(CreateFolder(static_cast<const wchar_t*>(nullptr)), 13);
  EXPECT_EQ(CreateFolder(L""), 13);
  EXPECT_TRUE(HasLine(log, "[ERROR]", "CreateFolder : The directory to create is NULL . \n"));
  EXPECT_TRUE(HasLine(log, "[ERROR]", "Error Code : 13 , Error Message : " + invalidData + " \n"));
}

// ---- delete ----

TEST_F(FileUtilTest, DeleteFolderRemovesTheWholeTree) {
  ASSERT_TRUE(twtest::WriteFile(At("victim\\a.txt"), "A"));
  ASSERT_TRUE(twtest::WriteFile(At("victim\\sub\\b.txt"), "B"));
  ASSERT_TRUE(twtest::WriteFile(At("victim\\sub\\deep\\c.txt"), "C"));
  ASSERT_TRUE(CreateDirectoryA(At("victim\\empty").c_str(), nullptr));
  LogCapture log(4);
  int32_t result = TWDeleteFolder(At("victim").c_str());
  EXPECT_FALSE(Exists(At("victim")));
  EXPECT_TRUE(IsDir(root_));
  EXPECT_TRUE(HasLine(log, "[INFO]", "Delete file option is performed on     :" + At("victim\\a.txt") + "\n"));
  EXPECT_TRUE(HasLine(log, "[INFO]", "TWDeleteFolder : Going to start deletion of " + At("victim\\sub") + " folder \n"));
  EXPECT_TRUE(HasLine(log, "[INFO]", "Successfully deleted .. " + At("victim") + " \n"));
  EXPECT_TRUE(HasLine(log, "[INFO]", "@@@@@@@@ End Of TWDeleteFolder Method @@@@@@@@ \n"));
  // The shell's result says the folder went: no failure is logged, and the
  // result is the walk's normal end.
  EXPECT_TRUE(HasLine(log, "[INFO]", "Error code : 0\n"));
  EXPECT_EQ(log.Text().find("Unable to Delete"), std::string::npos) << log.Text();
  EXPECT_EQ(result, ERROR_NO_MORE_FILES);
}

TEST_F(FileUtilTest, DeleteFolderGoesOnPastAFileInUse) {
  ASSERT_TRUE(twtest::WriteFile(At("victim\\a.txt"), "A"));
  ASSERT_TRUE(twtest::WriteFile(At("victim\\busy.txt"), "B"));
  ASSERT_TRUE(twtest::WriteFile(At("victim\\z.txt"), "Z"));
  HANDLE held = CreateFileA(At("victim\\busy.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  LogCapture log(4);
  TWDeleteFolder(At("victim").c_str());
  CloseHandle(held);
  EXPECT_FALSE(Exists(At("victim\\a.txt")));
  EXPECT_FALSE(Exists(At("victim\\z.txt")));
  EXPECT_TRUE(Exists(At("victim\\busy.txt")));
  EXPECT_NE(log.Text().find("[ERROR] Error Code : 32 , Error Message : "), std::string::npos);
}

TEST_F(FileUtilTest, DeleteFolderOfAMissingFolderGivesTheSearchError) {
  LogCapture log(4);
  int32_t result = TWDeleteFolder(At("nosuch").c_str());
  EXPECT_TRUE(result == ERROR_PATH_NOT_FOUND || result == ERROR_FILE_NOT_FOUND) << result;
  EXPECT_TRUE(HasLine(log, "[INFO]", "TWDeleteFolder : Unable to find the files/folder.\n"));
  // The shell delete is still tried.
  EXPECT_TRUE(HasLine(log, "[INFO]", "TWDeleteFolder : Going to start deletion of " + At("nosuch") + " folder \n"));
  EXPECT_TRUE(HasLine(log, "[ERROR]", "Failed to delete ... " + At("nosuch") + " \n"));
  EXPECT_EQ(TWDeleteFolder(""), 13);
  EXPECT_EQ(TWDeleteFolder(nullptr), 13);
}

TEST_F(FileUtilTest, ShellDeleteFolder) {
  ASSERT_TRUE(twtest::WriteFile(At("s\\f.txt"), "x"));
  LogCapture log(4);
  EXPECT_EQ(ShellDeleteFolder(At("s").c_str()), 0);
  EXPECT_FALSE(Exists(At("s")));
  EXPECT_NE(ShellDeleteFolder(At("s").c_str()), 0);
  EXPECT_TRUE(HasLine(log, "[INFO]", "TWDeleteFolder : SHFileOperationA Failure " + At("s") + " folder \n"));
  EXPECT_TRUE(HasLine(log, "[ERROR]", "Failed to delete ... " + At("s") + " \n"));
}

// ---- existence ----

TEST_F(FileUtilTest, IsFileExist) {
  ASSERT_TRUE(twtest::WriteFile(At("full.txt"), "data"));
  ASSERT_TRUE(twtest::WriteFile(At("empty.txt"), ""));
  LogCapture log(4);
  EXPECT_EQ(IsFileExist(At("full.txt").c_str()), 1);
  EXPECT_TRUE(HasLine(log, "[DEBUG]", "IsFileExist : The File " + At("full.txt") + " size is given by : 4\n"));
  EXPECT_EQ(IsFileExist(At("empty.txt").c_str()), 0);
  EXPECT_TRUE(HasLine(log, "[DEBUG]",
                      "IsFileExist : The required file (" + At("empty.txt") +
                          ") size is 0 bytes. Hence returning file not found.\n"));
  EXPECT_EQ(IsFileExist(At("missing.txt").c_str()), 0);
  EXPECT_TRUE(HasLine(log, "[DEBUG]", "IsFileExist : The File Name " + At("missing.txt") + " is not found 2\n"));

  // A stale "not found" from an earlier call does not hide an existing file.
  SetLastError(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(IsFileExist(At("full.txt").c_str()), 1);

  // In use by another handle that allows no sharing.
  HANDLE held = CreateFileA(At("full.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(IsFileExist(At("full.txt").c_str()), 0);
  EXPECT_TRUE(HasLine(log, "[DEBUG]", "IsFileExist : The File Name " + At("full.txt") + " is not found 32\n"));
  CloseHandle(held);
}

uint64_t FreeBytes(const std::string& folder) {
  ULARGE_INTEGER free{};
  GetDiskFreeSpaceExA(folder.c_str(), &free, nullptr, nullptr);
  return free.QuadPart;
}

// The low 32 bits of a 4 GiB size are 0. Run only where the file can be sparse:
// the free space must not drop by the file's size (Wine reports the logical
// size as the compressed size, so that cannot tell). With less than 8 GiB free
// the file is not even tried.
TEST_F(FileUtilTest, IsFileExistOfExactlyFourGiB) {
  constexpr uint64_t kFour = 4ULL << 30;
  const uint64_t before = FreeBytes(root_);
  if (before < 2 * kFour) GTEST_SKIP() << "not enough free space to try a sparse file";
  const std::string path = At("four.bin");
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD bytes = 0;
  DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &bytes, nullptr);
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(kFour);
  bool sized = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  CloseHandle(file);
  const uint64_t after = FreeBytes(root_);
  if (!sized || after + (1ULL << 30) < before) {
    DeleteFileA(path.c_str());
    GTEST_SKIP() << "sparse files not available here";
  }
  int64_t size = 0;
  ASSERT_EQ(GetFileSize64(path.c_str(), size), 1);
  EXPECT_EQ(size, static_cast<int64_t>(kFour));
  EXPECT_EQ(IsFileExist(path.c_str()), 0);
  DeleteFileA(path.c_str());
}

TEST_F(FileUtilTest, CheckFileExists) {
  ASSERT_TRUE(twtest::WriteFile(At("setup-8u201.exe"), "x"));
  LogCapture log(4);
  EXPECT_EQ(CheckFileExists(twtest::Widen(At("setup-*.exe")).c_str()), 0);
  EXPECT_EQ(CheckFileExists(twtest::Widen(At("setup-8u201.exe")).c_str()), 0);
  EXPECT_TRUE(HasLine(log, "[DEBUG]", "FileName to search -> " + At("setup-*.exe") + " \n"));
  EXPECT_EQ(CheckFileExists(twtest::Widen(At("jre-*.msi")).c_str()), 2);
  EXPECT_TRUE(HasLine(log, "[ERROR]", "CheckFileExists -> Invalid File Handle. 2 \n")) << log.Text();
  EXPECT_EQ(CheckFileExists(nullptr), 13);
  EXPECT_EQ(twtest::CountMessage(log, "@@@@@@@@ End Of CheckFileExists Method @@@@@@@@ \n"), 3);
}

// ---- long paths ----

TEST_F(FileUtilTest, PathsBeyondTheClassicLimitFailCleanly) {
  std::string longFolder = root_;
  while (longFolder.size() < 300) longFolder += "\\" + std::string(40, 'd');
  const std::string longFile = longFolder + "\\file.txt";
  EXPECT_NE(TWCopyFolder(longFolder.c_str(), At("dst").c_str()), 0);
  EXPECT_FALSE(Exists(At("dst")));
  EXPECT_EQ(CheckFileExists(twtest::Widen(longFolder + "\\none*.txt").c_str()), 2);
  EXPECT_EQ(IsFileExist(longFile.c_str()), 0);
  TWDeleteFolder(longFolder.c_str());
  EXPECT_TRUE(IsDir(root_));
}

// Folders of MAX_PATH characters or more are made one at a time in their
// long-path form, under Windows' rule for such paths (which Wine lacks), in
// both forms and below folders that exist already.
TEST_F(FileUtilTest, CreateFolderMakesFoldersBeyondTheClassicLimit) {
  std::string longFolder = root_;
  while (longFolder.size() < 300) longFolder += "\\" + std::string(40, 'd');
  const std::wstring wideFolder = twtest::Widen(longFolder) + L"\\w\u00E9";
  twtest::MaxPathLimit limit;
  ASSERT_TRUE(limit.Limits("CreateDirectoryW"));
  EXPECT_EQ(CreateFolder((longFolder + "\\file.txt").c_str()), 0);
  EXPECT_EQ(CreateFolder((wideFolder + L"\\file.txt").c_str()), 0);
  EXPECT_EQ(CreateFolder((wideFolder + L"\\file.txt").c_str()), 0);  // already there
  const DWORD a = GetFileAttributesW((L"\\\\?\\" + wideFolder).c_str());
  EXPECT_TRUE(a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)) << a;
  RemoveDirectoryW((L"\\\\?\\" + wideFolder).c_str());
  TWDeleteFolder(At(std::string(40, 'd')).c_str());
}

}  // namespace
