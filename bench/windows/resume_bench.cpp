// Resume efficiency of the resumable download: a 64 MiB download is killed in
// the middle (the downloader process is terminated while the server holds the
// rest back), its heartbeat is aged past 90 minutes, and it is run again. The
// figure is the body bytes the server delivered in ranged (206) answers over
// both attempts, divided by the file size; the target is at most
// 1 + InterSaveByteLimit / file size (only what was received but not yet saved
// when the process died is fetched twice).
//
//   tests/support/wine-run build/<tree>/resume_bench.exe [size in MiB]
//
// Needs tw_resume_downloader.exe beside it. Prints one line per case; not a
// test (nothing is asserted beyond the byte-identical result).
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "agent/config/settings.h"
#include "agent/log/format.h"
#include "agent/registry/registry.h"
#include "agent/util/textconv.h"
#include "http/requestcore.h"
#include "http/resume.h"
#include "tests/support/scratch.h"
#include "tests/support/win_http_server.h"
#include "tests/support/win_registry.h"

namespace {

constexpr const char* kModified = "Mon, 02 Mar 2020 10:00:00 GMT";
const std::string kMeta = std::string(kAgentKeyPath) + "\\FileMetaData";

std::wstring Wide(const std::string& text) {
  std::wstring out;
  ChangeUtf8ToWideStr(text.c_str(), out);
  return out;
}

std::wstring BesideSelf(const wchar_t* name) {
  std::vector<wchar_t> self(32768, L'\0');
  const DWORD n = ::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
  std::wstring path(self.data(), n);
  return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

int64_t NowMillis() {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  const int64_t ticks = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return ticks / 10000 - 11644473600000LL;
}

twtest::Response Ranged(const std::string& body) {
  twtest::Response r = twtest::Response::Ok(body);
  r.honourRange = true;
  r.headers.push_back({"Last-Modified", kModified});
  return r;
}

// First byte asked for by a "bytes=a-b" header.
uint64_t RangeStart(const std::string& range) { return std::strtoull(range.c_str() + 6, nullptr, 10); }

struct CaseResult {
  bool ok = false;
  std::string why;
  uint64_t delivered = 0;  // body bytes of 206 answers, both attempts
  uint64_t saved = 0;      // stored when the first attempt died
  double resumeSeconds = 0;
};

CaseResult RunCase(const std::string& body, uint64_t killAt, DWORD saveLimit, const std::string& folder) {
  CaseResult out;
  twtest::RegistrySandbox reg;
  reg.DeleteTree(twtest::RegView::k32, kMeta);
  reg.Track(twtest::RegView::k32, kMeta);
  reg.SetDword(twtest::RegView::k32, kMeta, "InterSaveByteLimit", saveLimit);
  reg.SetString(twtest::RegView::k32, kMeta, "IntermediateRepositoryName", "DownloadRepository\\");
  const std::string install = twtest::Join(folder, "agent") + "\\";
  ::CreateDirectoryA(install.c_str(), nullptr);
  ::CreateDirectoryA((install + "logs").c_str(), nullptr);
  gv_agentInstallDir = install;
  const std::string dest = twtest::Join(folder, "dest.bin");

  twtest::ScriptedServer server;
  if (!server.Ok()) {
    out.why = "server: " + server.Error();
    return out;
  }
  twtest::Response stall = Ranged(body);
  stall.stallAfter = killAt;
  stall.stallMs = 25000;  // below the downloader's receive time-out
  server.ServeSequence("/big.bin", {Ranged(body), stall, Ranged(body)});

  // First attempt in a process of its own, killed while the server holds back.
  std::string folderArg = install.substr(0, install.size() - 1);
  std::wstring cmd = L"\"" + BesideSelf(L"tw_resume_downloader.exe") + L"\" " + std::to_wstring(server.Port()) +
                     L" /big.bin \"" + Wide(dest) + L"\" \"" + Wide(folderArg) + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    out.why = "cannot start tw_resume_downloader.exe";
    return out;
  }
  std::optional<std::string> id;
  DWORD stored = 0;
  int stable = 0;
  for (int i = 0; i < 400 && stable < 10; ++i) {
    ::Sleep(100);
    id = reg.GetString(twtest::RegView::k32, kMeta, "/big.bin");
    const std::optional<DWORD> size =
        id ? reg.GetDword(twtest::RegView::k32, kMeta + "\\" + *id, "PartialFileSize") : std::nullopt;
    if (size && *size > 0 && *size == stored) {
      ++stable;
    } else {
      stable = 0;
      stored = size.value_or(0);
    }
  }
  ::TerminateProcess(pi.hProcess, 1);
  ::WaitForSingleObject(pi.hProcess, 10000);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  if (!id || stable < 10) {
    out.why = "the first attempt did not settle";
    return out;
  }
  out.saved = stored;
  // The dead owner's heartbeat ages past 90 minutes.
  reg.SetString(twtest::RegView::k32, kMeta + "\\" + *id, "LastRetryTime", std::to_string(NowMillis() - 91LL * 60000));

  const std::wstring wdest = Wide(dest);
  const auto start = std::chrono::steady_clock::now();
  const int32_t rc = ResumeGetRequestEx(false, "http", L"127.0.0.1", server.Port(), nullptr, nullptr, nullptr,
                                        nullptr, L"/big.bin", wdest.c_str(), nullptr, DOWNLOAD_FILE, true);
  out.resumeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (rc != 0) {
    out.why = "the resumed attempt ended with " + std::to_string(rc);
    return out;
  }
  if (twtest::ReadFile(dest) != body) {
    out.why = "the result differs from the served file";
    return out;
  }
  // Ranged answers: the first attempt's was cut at killAt by the server; the
  // resumed one carried the rest from where it started.
  const std::vector<twtest::RecordedRequest> requests = server.RequestsFor("/big.bin");
  int ranged = 0;
  for (const twtest::RecordedRequest& r : requests) {
    const std::optional<std::string> range = r.Header("range");
    if (!range || r.answeredStatus != 206) continue;
    const uint64_t first = RangeStart(*range);
    out.delivered += ranged == 0 ? killAt - first : body.size() - first;
    ++ranged;
  }
  if (ranged != 2) {
    out.why = "expected two ranged answers, saw " + std::to_string(ranged);
    return out;
  }
  out.ok = true;
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 64;
  const std::string body = twtest::PatternBytes(static_cast<size_t>(mib * 1024 * 1024));
  const std::string folder = twtest::MakeScratchDir("resume-bench");
  // The table is printed at the end: the heartbeat writes print their own lines.
  std::string table = FormatText("resume efficiency: %llu MiB download killed mid-transfer, heartbeat aged past 90 "
                                 "minutes, resumed\n",
                                 static_cast<unsigned long long>(mib));
  table += FormatText("%-10s %-12s %-14s %-16s %-10s %-10s %s\n", "killed at", "save limit", "saved at kill",
                      "delivered (206)", "ratio", "target", "resume time");
  struct Case {
    double fraction;
    DWORD limit;
  };
  const Case cases[] = {{0.25, 1048576}, {0.5, 1048576}, {0.75, 1048576}, {0.5, 65536}};
  int failures = 0;
  for (const Case& c : cases) {
    // Off any save boundary, so that a part of a buffer is really lost.
    const uint64_t killAt = static_cast<uint64_t>(body.size() * c.fraction) + 12345;
    const std::string caseFolder = twtest::Join(folder, std::to_string(&c - cases));
    ::CreateDirectoryA(caseFolder.c_str(), nullptr);
    const CaseResult r = RunCase(body, killAt, c.limit, caseFolder);
    if (!r.ok) {
      table += FormatText("%-10.2f %-12lu failed: %s\n", c.fraction, static_cast<unsigned long>(c.limit),
                          r.why.c_str());
      ++failures;
      continue;
    }
    const double ratio = static_cast<double>(r.delivered) / static_cast<double>(body.size());
    const double target = 1.0 + static_cast<double>(c.limit) / static_cast<double>(body.size());
    table += FormatText("%-10.2f %-12lu %-14llu %-16llu %-10.5f %-10.5f %.2f s%s\n", c.fraction,
                static_cast<unsigned long>(c.limit), static_cast<unsigned long long>(r.saved),
                static_cast<unsigned long long>(r.delivered), ratio, target, r.resumeSeconds,
                ratio <= target ? "" : "  (above target)");
  }
  twtest::RemoveTree(folder);
  std::printf("\n\n%s", table.c_str());
  return failures;
}
