// The record of one request: its three WinHTTP handles, owned, with what the
// request core is to send and the status it received. A handle is closed when
// the record lets it go (the request first, the session last), so no way out of
// a transfer leaves one open.
#pragma once
#include <windows.h>
#include <winhttp.h>

#include <cstdint>

#include "agent/util/scopedhandle.h"
#include "http/winhttp_api.h"

// The value of a handle that holds nothing: "-1", as a request record starts.
inline HINTERNET const kNoHandle = reinterpret_cast<HINTERNET>(static_cast<intptr_t>(-1));

// Session, connection and request handles, closed through the WinHTTP call
// table (so that tests see and can fail each close).
struct WinHttpHandleTraits {
  using Handle = HINTERNET;
  static Handle Invalid() { return kNoHandle; }
  static bool IsValid(Handle h) { return h != nullptr && h != kNoHandle; }
  static bool Close(Handle h) { return g_winHttp.CloseHandle(h) != FALSE; }
};
using WinHttpHandle = ScopedHandle<WinHttpHandleTraits>;

// What the request core sends.
enum class RequestKind : int32_t {
  kGet = 0,
  kRangedGet = 1,  // GET with the record's extraHeader (a byte range)
  kHead = 2,
};

// How a failed close is reported: not at all, at DEBUG as "Error in
// WinHttpCloseHandle hRequest --> <code> \n" (and hConnect, hSession), or at
// ERROR as "<routine> :  Error in WinHttpCloseHandle hRequest --> <code> \n"
// followed by the code's sentence.
enum class CloseReport { kQuiet, kDebug, kError };

// Members in the order they are opened, so that they are closed the other way
// round.
struct RequestHandles {
  WinHttpHandle session;
  WinHttpHandle connection;
  WinHttpHandle request;
  RequestKind requestKind = RequestKind::kGet;
  const wchar_t* extraHeader = nullptr;  // sent with kRangedGet
  int32_t statusCode = 0;                // HTTP status of the last response

  // Closes request, connection and session, in that order, where open.
  void Close(CloseReport report = CloseReport::kQuiet, const char* routine = nullptr);
  // Closes the request only (the session and connection stay for a new one).
  void CloseRequest(CloseReport report = CloseReport::kQuiet, const char* routine = nullptr);
};
