// A managed computer for whole-program runs: the agent installed in "C:\TWAgent"
// (bin\7za.exe, logs, patches), its registry key complete and pointing at a
// loopback server, Java recorded under the JavaSoft keys, stand-in Java updates
// installed from real MSI packages, and a way to start twprereqhandler.exe the
// way the agent does and read its full exit code, log and results.
//
// Everything a ManagedComputer puts on the computer is taken away again when it
// is destroyed (registry through the sandbox, folders, installed packages).
#pragma once
#include <windows.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/win_registry.h"
#include "tests/support/win_system.h"

namespace twe2e {

inline constexpr const char* kAgentKey = "Software\\Orvanta\\Tarnwick\\TWAgent";
inline constexpr const char* kServerInfoKey = "Software\\Orvanta\\Tarnwick\\TWAgent\\ServerInfo";
inline constexpr const char* kSystemDetailsKey = "Software\\Orvanta\\Tarnwick\\TWAgent\\SystemDetails";
// Where the program records the Java install paths (the agent's 32-bit view).
inline constexpr const char* kRecordKey = "SOFTWARE\\Orvanta";
inline constexpr const char* kJreKey = "SOFTWARE\\JavaSoft\\Java Runtime Environment\\";
inline constexpr const char* kJdkKey = "SOFTWARE\\JavaSoft\\Java Development Kit\\";
inline constexpr const char* kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// One Java patch as the agent describes it on the command line.
struct Patch {
  std::string patchName;           // -p
  std::string productName;         // -n
  std::string productVersion;      // -v
  std::string javaFileName;        // -f
  std::string dependencyFileName;  // -d
  std::string architecture;        // -x
  std::string latestInstalled;     // -j
  // JavaHome of the runtime and development kit of productVersion.
  std::string jreHome;
  std::string jdkHome;
  // The view the JavaSoft keys of this Java live in.
  twtest::RegView view = twtest::RegView::k64;

  // -p -n -v -f -d -x -j, each only when not empty.
  std::vector<std::string> Arguments() const;
};

// Java 8 Update 202, 64-bit (a Java 8 update: the in-use check is skipped).
Patch Java8Update202x64();
// Java 8 Update 202, 32-bit (i586 installer, JavaSoft keys in the 32-bit view).
Patch Java8Update202x86();
// Java 7 Update 80, 64-bit: not a Java 8 update, so the in-use check runs.
Patch Java7Update80x64();

// A stand-in Java update package built with wixl (tests/handler/windows).
struct JavaPackage {
  const char* file;  // <build>\handler-msi\<file>.msi
  const char* productCode;
  twtest::RegView view;  // where its uninstall entry lives
};
inline constexpr JavaPackage kJava8_1910x64{"java8-1910-x64", "{26A24AE4-039D-4CA4-87B4-2F64180191F0}",
                                            twtest::RegView::k64};
inline constexpr JavaPackage kJava8_2010x64{"java8-2010-x64", "{26A24AE4-039D-4CA4-87B4-2F64180201F0}",
                                            twtest::RegView::k64};

struct RunResult {
  bool started = false;      // false when the program could not be started or did not end in time
  int32_t exitCode = 0;      // the full 32-bit code, as GetExitCodeProcess gives it
  std::string commandLine;   // what was passed to CreateProcess
};

using twtest::ExeFolder;
using twtest::NativeSystemFolder;
using twtest::WindowsFolder;
// "<Windows>\\system32\\config\\systemprofile\\AppData\\LocalLow\\oracle", as
// the program names it (in its log).
std::string StagingFolder();
// The same, native, folder as this test program reaches it (through
// "sysnative" when the test program is 32-bit): where the files are looked at.
std::string NativeStagingFolder();
// SysWOW64's folder of that name, where a 32-bit program with redirection on
// would write; nothing may land there.
std::string Wow64StagingFolder();
// The agent's archive tool in its two builds, as "<build>\\e2e-data" holds them.
inline constexpr const char* kArchiveToolX64 = "7za.exe";
inline constexpr const char* kArchiveToolIa32 = "7za-ia32.exe";
// "<build>\\e2e-data\\<name>": the dependency archive and its unpacked tree.
std::string DataFile(const std::string& name);
// Files below a folder, relative paths with backslashes, and their content.
std::map<std::string, std::string> FilesBelow(const std::string& folder);
// One argument quoted for the C runtime's command-line parser.
std::string QuoteArgument(const std::string& argument);
// Runs a command line and waits up to `timeoutMs`: its exit code, or nothing.
std::optional<DWORD> RunAndWait(const std::string& commandLine, DWORD timeoutMs = 120000,
                                const char* folder = nullptr);

class ManagedComputer {
 public:
  // The agent's usual install folder, as TWAgentInstallDir holds it (with its backslash).
  static constexpr const char* kAgentDir = "C:\\TWAgent\\";

  // The agent folder with its tool, and a complete agent configuration whose
  // server is 127.0.0.1 at `serverPort`, transfer rate `rateKBps`, installed in
  // `installDir` (TWAgentInstallDir is that text as given, with or without its
  // final backslash).
  explicit ManagedComputer(uint16_t serverPort, const std::string& rateKBps = "1024",
                           const std::string& installDir = kAgentDir);
  ~ManagedComputer();
  ManagedComputer(const ManagedComputer&) = delete;
  ManagedComputer& operator=(const ManagedComputer&) = delete;

  // The install folder, always with its final backslash.
  const std::string& AgentDir() const { return agentDir_; }
  // Why the computer could not be prepared ("" when it is ready).
  const std::string& Problem() const { return problem_; }

  twtest::RegistrySandbox& Registry() { return reg_; }
  const twtest::RegistrySandbox& Registry() const { return reg_; }

  // Agent key values.
  void SetAgentValue(const std::string& name, const std::string& value);
  void SetAgentDword(const std::string& name, DWORD value);
  void DeleteAgentValue(const std::string& name);
  std::optional<std::string> ServerInfoValue(const std::string& name) const;

  // Records the patch's JRE and JDK under the JavaSoft keys.
  void InstallJava(const Patch& patch);
  // Installs stand-in Java updates with msiexec (removed again at the end).
  bool InstallPackage(const JavaPackage& package);
  bool PackageInstalled(const JavaPackage& package) const;
  // Takes the archive tool away.
  void RemoveArchiveTool();
  // Puts this build of the archive tool (kArchiveToolX64, the default, or
  // kArchiveToolIa32) in the agent's bin folder.
  bool UseArchiveTool(const char* build);

  // The detection key of a product, in the agent's view.
  static std::string DetectionKey(const std::string& productName);
  bool DetectionKeyExists(const std::string& productName) const;
  // A value under "SOFTWARE\\Orvanta" in the agent's (32-bit) view.
  std::optional<std::string> RecordedValue(const std::string& name) const;

  // Starts the program with these arguments (each quoted as needed), in
  // `folder` (empty: the agent folder), and waits for it.
  RunResult Run(const std::vector<std::string>& arguments, const std::string& folder = "") const;

  // The program's log, carriage returns dropped ("" when there is none).
  std::string LogPath() const;
  std::string Log() const;
  bool LogExists() const;
  // True when the log holds `message` written at this level ("[INFO]",
  // "[ERROR]", ...). A message that ends with "\n" must end its line there.
  bool LogHas(const std::string& tag, const std::string& message) const;
  // True when the log's last written line is "[INFO] End" followed only by the
  // close line.
  bool LogEndsWithEnd() const;

 private:
  twtest::RegistrySandbox reg_;
  std::string agentDir_;
  std::vector<JavaPackage> installed_;
  std::string problem_;
};

}  // namespace twe2e
