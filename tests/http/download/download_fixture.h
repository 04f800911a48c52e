// Common ground of the download tests: a scripted server, scratch folders for
// destinations (also one deeper than MAX_PATH), TEMP and the agent install
// folder, the agent's registry keys that downloads read and write (put back
// afterwards), and the captured log.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "agent/config/settings.h"
#include "agent/registry/registry.h"
#include "agent/util/textconv.h"
#include "http/downloader.h"
#include "http/requestcore.h"
#include "http/winhttp_api.h"
#include "agent/util/scopedhandle.h"
#include "tests/support/scratch.h"
#include "tests/support/win_http_server.h"
#include "tests/support/win_registry.h"
#include "tests/support/win_system.h"

namespace twtest {

class DownloadFixture : public ::testing::Test {
 protected:
  const std::string kSettings = std::string(kAgentKeyPath) + "\\Settings";
  const std::string kTracking = std::string(kAgentKeyPath) + "\\VTTracking";
  const std::string kGzipDetails = kTracking + "\\GzipDecompressionDetails";

  void SetUp() override {
    ResetAgentSettings();
    dir_ = MakeScratchDir("download");
    dest_ = Join(dir_, "dest");
    temp_ = Join(dir_, "temp");
    install_ = Join(dir_, "agent") + "\\";
    ::CreateDirectoryA(dest_.c_str(), nullptr);
    ::CreateDirectoryA(temp_.c_str(), nullptr);
    ::CreateDirectoryA(install_.c_str(), nullptr);
    ::CreateDirectoryA((install_ + "logs").c_str(), nullptr);
    gv_tempPath = temp_;
    gv_agentInstallDir = install_;
    // The download reads and writes these keys of the agent; they start empty
    // and are removed again afterwards.
    reg_.DeleteTree(RegView::k32, kSettings);
    reg_.DeleteTree(RegView::k32, kTracking);
    reg_.Track(RegView::k32, kSettings);
    reg_.Track(RegView::k32, kTracking);
    ResetWinHttpApi();
  }

  void TearDown() override {
    ResetWinHttpApi();
    ResetAgentSettings();
    if (!deepRoot_.empty()) RemoveLongTree(kLongPrefix + deepRoot_);
    RemoveTree(dir_);
  }

  // A folder deeper than MAX_PATH in the scratch folder, made through the
  // extended-length form (which the scratch clean-up cannot remove, so it
  // goes in TearDown).
  std::wstring DeepFolder() {
    std::wstring folder = twtest::Widen(dir_);
    for (int i = 0; i < 8; ++i) {
      folder += L"\\" + std::wstring(40, static_cast<wchar_t>(L'a' + i));
      if (i == 0) deepRoot_ = folder;
      EXPECT_TRUE(::CreateDirectoryW((kLongPrefix + folder).c_str(), nullptr) ||
                  ::GetLastError() == ERROR_ALREADY_EXISTS);
    }
    return folder;
  }
  // The content of a file whose path may be beyond MAX_PATH ("" when missing).
  static std::string ReadLongFile(const std::wstring& path) {
    KernelHandle f(::CreateFileW((kLongPrefix + path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 0, nullptr));
    std::string content;
    char chunk[65536];
    DWORD n = 0;
    while (f.IsValid() && ::ReadFile(f.Get(), chunk, sizeof chunk, &n, nullptr) && n > 0) content.append(chunk, n);
    return content;
  }
  // The names of the files (not folders) in a folder whose path may be beyond MAX_PATH.
  static std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    FindHandle find(::FindFirstFileW((kLongPrefix + folder + L"\\*").c_str(), &fd));
    if (!find.IsValid()) return names;
    do {
      if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(fd.cFileName);
    } while (::FindNextFileW(find.Get(), &fd));
    return names;
  }

  std::string Dest(const std::string& name) const { return Join(dest_, name); }

  int32_t DownloadFrom(const char* protocol, int32_t port, const wchar_t* path, const std::string& dest,
                       bool gzip = false) {
    const std::wstring wdest = twtest::Widen(dest);
    return InternetGetRequestEx(false, protocol, ScriptedServer::Host().c_str(), port, nullptr, nullptr, nullptr,
                                nullptr, path, wdest.c_str(), nullptr, DOWNLOAD_FILE, true, gzip);
  }
  int32_t Download(const wchar_t* path, const std::string& dest, bool gzip = false) {
    return DownloadFrom("http", server_.Port(), path, dest, gzip);
  }
  int32_t GetDataFrom(const char* protocol, int32_t port, const wchar_t* path, OptText& out, bool gzip = false) {
    return InternetGetRequestEx(false, protocol, ScriptedServer::Host().c_str(), port, nullptr, nullptr, nullptr,
                                nullptr, path, nullptr, &out, GET_DATA, true, gzip);
  }
  int32_t GetData(const wchar_t* path, OptText& out, bool gzip = false) {
    return GetDataFrom("http", server_.Port(), path, out, gzip);
  }

  // Temporary or scratch files of a download left in a folder (the
  // destination folder by default).
  std::vector<std::string> Leftovers(const std::string& folder = {}) const {
    std::vector<std::string> found;
    WIN32_FIND_DATAA fd;
    HANDLE h = ::FindFirstFileA(((folder.empty() ? dest_ : folder) + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return found;
    do {
      const std::string name = fd.cFileName;
      auto endsWith = [&](const std::string& end) {
        return name.size() >= end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
      };
      if (endsWith(".tmp") || endsWith(".inflate")) found.push_back(name);
    } while (::FindNextFileA(h, &fd));
    ::FindClose(h);
    return found;
  }

  // True when a line with this tag ("[INFO]", "[ERROR]", ...) carries exactly this message.
  bool HasLine(const std::string& tag, const std::string& message) const {
    for (const std::string& line : SplitLines(log_.Text()))
      if (TagOf(line) == tag && MessageOf(line) == message) return true;
    return false;
  }

  static constexpr const wchar_t* kLongPrefix = L"\\\\?\\";

  LogCapture log_{4, "download"};
  RegistrySandbox reg_;
  ScriptedServer server_;
  std::string dir_, dest_, temp_, install_;

 private:
  // Deletes a tree given in the extended-length form.
  static void RemoveLongTree(const std::wstring& path) {
    WIN32_FIND_DATAW fd;
    FindHandle find(::FindFirstFileW((path + L"\\*").c_str(), &fd));
    if (find.IsValid()) {
      do {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          RemoveLongTree(path + L"\\" + name);
        else
          ::DeleteFileW((path + L"\\" + name).c_str());
      } while (::FindNextFileW(find.Get(), &fd));
    }
    find.Close();
    ::RemoveDirectoryW(path.c_str());
  }

  std::wstring deepRoot_;  // the top of the folder DeepFolder made
};

}  // namespace twtest
