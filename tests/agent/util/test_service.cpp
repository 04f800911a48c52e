// A tiny Windows service for the service-notification tests: it runs until told
// to stop and appends every user-defined control code it receives, one decimal
// number per line, to the file named as its first command-line argument.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {
std::string g_recordFile;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_stopEvent = nullptr;

void ReportState(DWORD state) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  SetServiceStatus(g_statusHandle, &status);
}

void Record(DWORD control) {
  FILE* f = fopen(g_recordFile.c_str(), "ab");
  if (!f) return;
  fprintf(f, "%lu\n", static_cast<unsigned long>(control));
  fclose(f);
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID) {
  if (control >= 128 && control <= 255) {
    Record(control);
    return NO_ERROR;
  }
  switch (control) {
    case SERVICE_CONTROL_STOP:
      ReportState(SERVICE_STOP_PENDING);
      SetEvent(g_stopEvent);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  g_statusHandle = RegisterServiceCtrlHandlerExW(L"", Handler, nullptr);
  if (!g_statusHandle) return;
  g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ReportState(SERVICE_RUNNING);
  WaitForSingleObject(g_stopEvent, INFINITE);
  ReportState(SERVICE_STOPPED);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  g_recordFile = argv[1];
  wchar_t name[] = L"";
  SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
