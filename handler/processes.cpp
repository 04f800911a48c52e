// Running-process checks: the toolhelp process list (ending "jqs.exe", finding
// browsers) and the WMI walk over Win32_Process that finds command lines naming
// the installed Java's home folder.
#include "handler/processes.h"

#include <objbase.h>
#include <oleauto.h>
#include <tlhelp32.h>
#include <wbemidl.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "agent/log/logger.h"
#include "agent/util/scopedhandle.h"
#include "agent/util/textconv.h"
#include "handler/javadiscovery.h"

int32_t javaInUse = 0;

namespace {

// Checked in this order. Internet Explorer's image is "iexplore.exe"; the
// longer name is kept for whatever else the agent has known by it.
constexpr const char* kBrowsers[] = {"iexplorer.exe", "iexplore.exe", "chrome.exe", "firefox.exe"};

// Image names agree when their first 15 characters do.
constexpr size_t kNameCompareLength = 15;

// The WMI connection, kept for the life of the process: never released, not
// even at exit, when the COM runtime may already be on its way down.
ComPtr<IWbemServices>& WmiServices() {
  static auto* services = new ComPtr<IWbemServices>();
  return *services;
}
// The thread on which this module initialised COM (0: none yet). COM stays
// initialised there; tearing it down would orphan the kept connection.
DWORD g_comThread = 0;

// Walks the process snapshot, calling visit(entry) until it returns false.
template <typename Visit>
bool ForEachProcess(Visit visit) {
  KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry))
    if (!visit(entry)) break;
  return true;
}

// A text property of a WMI object in full, or the empty text.
std::wstring TextProperty(IWbemClassObject* object, const wchar_t* name) {
  std::wstring text;
  VARIANT value;
  VariantInit(&value);
  if (SUCCEEDED(object->Get(name, 0, &value, nullptr, nullptr)) && V_VT(&value) == VT_BSTR && V_BSTR(&value))
    text.assign(V_BSTR(&value), SysStringLen(V_BSTR(&value)));
  VariantClear(&value);
  return text;
}

unsigned Hex(HRESULT hr) { return static_cast<unsigned>(hr); }

}  // namespace

bool KillProcesses(const char* name) {
  LogDebug("@@@@@@@@@  Inside KillProcesses Method @@@@@@@@@@@\n");
  LogInfo("Process name to kill : %s\n", name ? name : "(null)");
  bool found = false;
  if (name) {
    const DWORD self = GetCurrentProcessId();
    ForEachProcess([&](const PROCESSENTRY32& entry) {
      // The program never ends itself, whatever it is called.
      if (entry.th32ProcessID == self || _stricmp(entry.szExeFile, name) != 0) return true;
      found = true;
      BOOL killed = FALSE;
      DWORD error = 0;
      KernelHandle process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID));
      if (process) {
        DWORD exitCode = 0;
        GetExitCodeProcess(process.Get(), &exitCode);
        killed = TerminateProcess(process.Get(), exitCode);
        error = GetLastError();
      } else {
        error = GetLastError();
      }
      if (killed)
        LogInfo("%s was Killed......\n", name);
      else
        LogError("%s not killed......due to error %d\n", name, static_cast<int>(error));
      Sleep(100);
      return true;
    });
  }
  LogDebug("@@@@@@@@@  End of KillProcesses Method @@@@@@@@@@@\n");
  return found;
}

uint32_t findProcessByName(const char* name) {
  if (!name) return 0;
  const DWORD self = GetCurrentProcessId();
  uint32_t match = 0;
  ForEachProcess([&](const PROCESSENTRY32& entry) {
    if (entry.th32ProcessID != self && _strnicmp(entry.szExeFile, name, kNameCompareLength) == 0) {
      match = entry.th32ProcessID;
      return false;
    }
    return true;
  });
  return match;
}

int32_t isBrowserRunning() {
  LogInfo("checking for browsers...\n");
  for (const char* browser : kBrowsers) {
    if (findProcessByName(browser) != 0) {
      LogInfo("Browser is being used\n");
      javaInUse = 1;
      return 1;
    }
  }
  return javaInUse;
}

HRESULT ConnectWMINamespace() {
  const DWORD thread = GetCurrentThreadId();
  if (g_comThread != thread) {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) {
      LogError("GetValuesUsingWMIQuery : Failed to initialize COM library. Error code = 0x%x \n", Hex(hr));
      return hr;
    }
    g_comThread = thread;
  }

  ComPtr<IWbemLocator> locator;
  HRESULT hr =
      CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator, locator.ReceiveVoid());
  if (FAILED(hr)) {
    LogError("GetValuesUsingWMIQuery : Failed to create IWbemLocator object. Err code = 0x%x \n", Hex(hr));
  } else {
    ComPtr<IWbemServices>& services = WmiServices();
    ScopedBstr nameSpace(SysAllocString(L"root\\cimv2"));
    hr = nameSpace ? locator->ConnectServer(nameSpace.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                            services.Receive())
                   : E_OUTOFMEMORY;
    if (FAILED(hr)) {
      services.Reset();
      LogError("GetValuesUsingWMIQuery :Could not connect. Error code = 0x%x \n", Hex(hr));
    } else {
      LogInfo("GetValuesUsingWMIQuery : Connected to ROOT\\CIMV2 WMI namespace \n");
      hr = CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                             RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
      if (FAILED(hr)) LogError("GetValuesUsingWMIQuery :Could not set proxy blanket. Error code = 0x%x \n", Hex(hr));
    }
  }
  LogInfo("WMI Connected\n");
  return hr;
}

HRESULT CheckForJavaRelatedProceses() {
  std::wstring home;
  // Read through the narrow ("A") registry reader: system code page.
  if (szJavaHome) SystemCodePageToWide(szJavaHome->c_str(), home);
  const ComPtr<IWbemServices>& services = WmiServices();
  if (!services) {
    LogError("CheckForJavaRelatedProceses : WMI Connection failed. So ignoring WMI checks\n");
    return 0;
  }

  ComPtr<IEnumWbemClassObject> processes;
  ScopedBstr language(SysAllocString(L"WQL"));
  ScopedBstr query(SysAllocString(L"SELECT * FROM WIN32_PROCESS"));
  HRESULT hr = (language && query)
                   ? services->ExecQuery(language.Get(), query.Get(),
                                         WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                         processes.Receive())
                   : E_OUTOFMEMORY;

  bool seen = false;
  if (FAILED(hr) || !processes) {
    LogError("CheckForJavaRelatedProceses : Query for the required wmi class is failed . Error code = 0x%x \n",
             Hex(hr));
  } else {
    for (;;) {
      ComPtr<IWbemClassObject> process;
      ULONG returned = 0;
      processes->Next(static_cast<LONG>(WBEM_INFINITE), 1, process.Receive(), &returned);
      if (returned == 0 || !process) break;
      // Command lines are compared in full, however long.
      const std::wstring commandLine = TextProperty(process.Get(), L"CommandLine");
      if (!commandLine.empty()) {
        seen = true;
        const std::wstring caption = TextProperty(process.Get(), L"Caption");
        LogInfo("GetValuesUsingWMIQuery : Command Line for the process : %d : %ls \n",
                static_cast<int>(commandLine.size()), commandLine.c_str());
        LogInfo("szJavaHomeW : %ls and Value : %ls\n", home.c_str(), commandLine.c_str());
        // An empty home would be found in every command line.
        if (!home.empty() && commandLine.find(home) != std::wstring::npos) {
          LogInfo("process %ls use java is %ls\n", commandLine.c_str(), caption.c_str());
          javaInUse = 1;
        }
      }
    }
  }
  LogDebug("GetValuesUsingWMIQuery : Going to clean the allocated resources .\n");
  processes.Reset();
  return seen ? 0 : hr;
}

int32_t isJavaInUse() {
  readJavaHome();
  if (isBrowserRunning() == 0 && szJavaHome && !szJavaHome->empty()) {
    ConnectWMINamespace();
    CheckForJavaRelatedProceses();
  }
  LogInfo("szJavaHome : %s\n", szJavaHome ? szJavaHome->c_str() : "(null)");
  return javaInUse;
}
