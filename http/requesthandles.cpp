// Closing the handles of a request record (see requesthandles.h), with the
// report of a failed close that the calling transfer asks for.
#include "http/requesthandles.h"

#include "agent/log/logger.h"
#include "http/winhttp_errors.h"

namespace {

void CloseOne(WinHttpHandle& handle, const char* name, CloseReport report, const char* routine) {
  if (handle.Close()) return;
  const int32_t code = static_cast<int32_t>(::GetLastError());
  if (report == CloseReport::kDebug) {
    LogDebug("Error in WinHttpCloseHandle %s --> %d \n", name, code);
  } else if (report == CloseReport::kError) {
    LogError("%s :  Error in WinHttpCloseHandle %s --> %d \n", routine ? routine : "", name, code);
    HttpGetLastError(code);
  }
}

}  // namespace

void RequestHandles::Close(CloseReport report, const char* routine) {
  CloseOne(request, "hRequest", report, routine);
  CloseOne(connection, "hConnect", report, routine);
  CloseOne(session, "hSession", report, routine);
}

void RequestHandles::CloseRequest(CloseReport report, const char* routine) {
  CloseOne(request, "hRequest", report, routine);
}
