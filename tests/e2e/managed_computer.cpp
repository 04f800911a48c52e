// The managed computer of the whole-program runs (see managed_computer.h).
#include "tests/e2e/managed_computer.h"

#include <filesystem>
#include <system_error>

#include "tests/support/scratch.h"

namespace fs = std::filesystem;
using twtest::RegView;

namespace twe2e {

namespace {

std::string Msiexec() { return WindowsFolder() + "\\system32\\msiexec.exe"; }


}  // namespace

std::vector<std::string> Patch::Arguments() const {
  std::vector<std::string> args;
  auto add = [&](const char* option, const std::string& value) {
    if (value.empty()) return;
    args.push_back(option);
    args.push_back(value);
  };
  add("-p", patchName);
  add("-n", productName);
  add("-v", productVersion);
  add("-f", javaFileName);
  add("-d", dependencyFileName);
  add("-x", architecture);
  add("-j", latestInstalled);
  return args;
}

Patch Java8Update202x64() {
  Patch p;
  p.patchName = "jre-8u202-windows-x64.exe";
  p.productName = "Java_8_Update_202_x64";
  p.productVersion = "1.8";
  p.javaFileName = "jre-8u202-windows-x64.exe";
  p.dependencyFileName = "jre-8u202-windows-x64.zip";
  p.architecture = "64";
  p.latestInstalled = "8.0.2010.9";
  p.jreHome = "C:\\Program Files\\Java\\jre1.8.0_201";
  p.jdkHome = "C:\\Program Files\\Java\\jdk1.8.0_201";
  p.view = RegView::k64;
  return p;
}

Patch Java8Update202x86() {
  Patch p;
  p.patchName = "jre-8u202-windows-i586.exe";
  p.productName = "Java_8_Update_202";
  p.productVersion = "1.8";
  p.javaFileName = "jre-8u202-windows-i586.exe";
  p.dependencyFileName = "jre-8u202-windows-i586.zip";
  p.architecture = "32";
  p.latestInstalled = "8.0.2010.9";
  p.jreHome = "C:\\Program Files (x86)\\Java\\jre1.8.0_201";
  p.jdkHome = "C:\\Program Files (x86)\\Java\\jdk1.8.0_201";
  p.view = RegView::k32;
  return p;
}

Patch Java7Update80x64() {
  Patch p;
  p.patchName = "jre-7u80-windows-x64.exe";
  p.productName = "Java_7_Update_80_x64";
  p.productVersion = "1.7";
  p.javaFileName = "jre-7u80-windows-x64.exe";
  p.dependencyFileName = "jre-7u80-windows-x64.zip";
  p.architecture = "64";
  p.latestInstalled = "7.0.800.15";
  p.jreHome = "C:\\Program Files\\Java\\jre7";
  p.jdkHome = "C:\\Program Files\\Java\\jdk1.7.0_80";
  p.view = RegView::k64;
  return p;
}

constexpr const char* kStagingBelowSystem = "\\config\\systemprofile\\AppData\\LocalLow\\oracle";

std::string StagingFolder() { return WindowsFolder() + "\\system32" + kStagingBelowSystem; }
std::string NativeStagingFolder() { return NativeSystemFolder() + kStagingBelowSystem; }
std::string Wow64StagingFolder() { return WindowsFolder() + "\\SysWOW64" + kStagingBelowSystem; }

std::string DataFile(const std::string& name) { return ExeFolder() + "\\e2e-data\\" + name; }

std::map<std::string, std::string> FilesBelow(const std::string& folder) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  const fs::path root(folder);
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    std::string relative = fs::relative(it->path(), root, ec).string();
    for (char& c : relative)
      if (c == '/') c = '\\';
    files[relative] = twtest::ReadFile(it->path().string());
  }
  return files;
}

std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

std::optional<DWORD> RunAndWait(const std::string& commandLine, DWORD timeoutMs, const char* folder) {
  std::vector<char> command(commandLine.begin(), commandLine.end());
  command.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, folder,
                      &startup, &process))
    return std::nullopt;
  std::optional<DWORD> result;
  DWORD code = 0;
  if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0 && GetExitCodeProcess(process.hProcess, &code))
    result = code;
  else
    TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return result;
}

ManagedComputer::ManagedComputer(uint16_t serverPort, const std::string& rateKBps, const std::string& installDir)
    : agentDir_(installDir.empty() || installDir.back() == '\\' ? installDir : installDir + "\\") {
  // A clean computer: no agent folder, no staged files, no records of an
  // earlier run, no stand-in updates left installed.
  twtest::RemoveTree(agentDir_);
  twtest::RemoveTree(NativeStagingFolder());
  twtest::RemoveTree(Wow64StagingFolder());
  for (RegView view : {RegView::k32, RegView::k64}) {
    reg_.DeleteTree(view, "Software\\Orvanta");
    reg_.Track(view, "Software\\Orvanta");
    reg_.DeleteTree(view, "Software\\JavaSoft");
    reg_.Track(view, "Software\\JavaSoft");
  }
  for (const JavaPackage& p : {kJava8_1910x64, kJava8_2010x64})
    if (PackageInstalled(p)) RunAndWait(Msiexec() + " /x" + p.productCode + " /qn");

  const std::string& agent = agentDir_;
  std::error_code ec;
  fs::create_directories(agent, ec);
  for (const char* sub : {"bin", "logs", "patches"}) CreateDirectoryA((agent + sub).c_str(), nullptr);
  if (!UseArchiveTool(kArchiveToolX64))
    problem_ = "cannot copy the archive tool \"" + DataFile(kArchiveToolX64) + "\": error " +
               std::to_string(GetLastError());

  const std::map<std::string, std::string> agentValues = {
      {"TWAgentInstallDir", installDir},
      {"EnableDistributionServer", "no"},
      {"TWAgentVersion", "9.1.0.412"},
      {"AgentServiceName", "TWAgentService"},
      {"MSPName", "Northwind Managed Services"},
      {"CustomerName", "Contoso Ltd"},
      {"CustomerId", "CUST-7731"},
      {"TWProductCode", "TWEE"},
      {"RemoteOfficeName", "Head Office"},
      {"RemoteOfficeID", "1"},
      {"InstallSource", "AgentInstaller"},
      {"InstallMode", "2"},
      {"DataTransferRate_KBps", rateKBps},
      {"EnableDSRoute", "no"},
      {"EnableChecksum", "yes"},
      {"ProxyEnabled", "NO"},
  };
  for (const auto& [name, value] : agentValues) reg_.SetString(RegView::k32, kAgentKey, name, value);
  const std::map<std::string, std::string> serverValues = {
      {"TWServerName", "127.0.0.1"},
      {"TWServerInstalledTime", "1546300800"},
      {"TWServerFlatName", "localhost"},
      {"TWServerIPAddress", "127.0.0.1"},
      {"TWServerPort", std::to_string(serverPort)},
      {"TWServerProtocol", "http"},
  };
  for (const auto& [name, value] : serverValues) reg_.SetString(RegView::k32, kServerInfoKey, name, value);
  reg_.SetString(RegView::k32, kSystemDetailsKey, "TWAgentResourceID", "301");
}

ManagedComputer::~ManagedComputer() {
  for (const JavaPackage& p : installed_)
    if (PackageInstalled(p)) RunAndWait(Msiexec() + " /x" + p.productCode + " /qn");
  twtest::RemoveTree(NativeStagingFolder());
  twtest::RemoveTree(Wow64StagingFolder());
  twtest::RemoveTree(agentDir_);
}

void ManagedComputer::SetAgentValue(const std::string& name, const std::string& value) {
  reg_.SetString(RegView::k32, kAgentKey, name, value);
}

void ManagedComputer::SetAgentDword(const std::string& name, DWORD value) {
  reg_.SetDword(RegView::k32, kAgentKey, name, value);
}

void ManagedComputer::DeleteAgentValue(const std::string& name) { reg_.DeleteValue(RegView::k32, kAgentKey, name); }

std::optional<std::string> ManagedComputer::ServerInfoValue(const std::string& name) const {
  return reg_.GetString(RegView::k32, kServerInfoKey, name);
}

void ManagedComputer::InstallJava(const Patch& patch) {
  reg_.SetString(patch.view, kJreKey + patch.productVersion, "JavaHome", patch.jreHome);
  reg_.SetString(patch.view, kJdkKey + patch.productVersion, "JavaHome", patch.jdkHome);
  reg_.SetString(patch.view, std::string(kJreKey), "CurrentVersion", patch.productVersion);
}

bool ManagedComputer::InstallPackage(const JavaPackage& package) {
  const std::string msi = ExeFolder() + "\\handler-msi\\" + package.file + ".msi";
  installed_.push_back(package);
  return RunAndWait(Msiexec() + " /i \"" + msi + "\" /qn") == 0u && PackageInstalled(package);
}

bool ManagedComputer::PackageInstalled(const JavaPackage& package) const {
  return reg_.KeyExists(package.view, kUninstallKey + std::string(package.productCode));
}

void ManagedComputer::RemoveArchiveTool() { DeleteFileA((agentDir_ + "bin\\7za.exe").c_str()); }

bool ManagedComputer::UseArchiveTool(const char* build) {
  return CopyFileA(DataFile(build).c_str(), (agentDir_ + "bin\\7za.exe").c_str(), FALSE) != FALSE;
}

std::string ManagedComputer::DetectionKey(const std::string& productName) {
  return std::string(kAgentKey) + "\\AppDetection\\" + productName;
}

bool ManagedComputer::DetectionKeyExists(const std::string& productName) const {
  return reg_.KeyExists(RegView::k32, DetectionKey(productName));
}

std::optional<std::string> ManagedComputer::RecordedValue(const std::string& name) const {
  return reg_.GetString(RegView::k32, kRecordKey, name);
}

RunResult ManagedComputer::Run(const std::vector<std::string>& arguments, const std::string& folder) const {
  RunResult result;
  result.commandLine = QuoteArgument(ExeFolder() + "\\twprereqhandler.exe");
  for (const std::string& a : arguments) {
    result.commandLine += ' ';
    result.commandLine += QuoteArgument(a);
  }
  const std::string where = folder.empty() ? agentDir_ : folder;
  std::optional<DWORD> code = RunAndWait(result.commandLine, 240000, where.c_str());
  result.started = code.has_value();
  result.exitCode = static_cast<int32_t>(code.value_or(0));
  return result;
}

std::string ManagedComputer::LogPath() const { return agentDir_ + "logs/twprereqhandler.log"; }

std::string ManagedComputer::Log() const {
  std::string text;
  for (char c : twtest::ReadFile(LogPath()))
    if (c != '\r') text += c;
  return text;
}

bool ManagedComputer::LogExists() const { return twtest::FileExists(LogPath()); }

bool ManagedComputer::LogHas(const std::string& tag, const std::string& message) const {
  return Log().find(tag + " " + message) != std::string::npos;
}

bool ManagedComputer::LogEndsWithEnd() const {
  const std::string text = Log();
  const size_t close = text.rfind("Log close time: ");
  if (close == std::string::npos) return false;
  const std::string end = "[INFO] End\n";
  return close >= end.size() && text.compare(close - end.size(), end.size(), end) == 0 &&
         text.find('\n', close) == text.size() - 1;
}

}  // namespace twe2e
