// A recorder installed in the WinHTTP call table for the transfer tests: it
// passes calls on to the real WinHTTP, records what the code under test asked
// for (sessions, options, headers, sends, pauses, closes) and makes chosen
// sends, receives, header additions or body reads fail with codes no real
// server produces on demand.
#pragma once
#include <windows.h>
#include <winhttp.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "http/winhttp_api.h"

namespace twtest {

struct SeamRecord {
  // Failures to inject, in order; 0 lets that call through to WinHTTP.
  std::deque<DWORD> sendErrors;
  std::deque<DWORD> receiveErrors;
  // Sends report success without anything going on the wire.
  bool sendsSucceedSilently = false;
  // The next Connect or OpenRequest fails with this code (0: no failure).
  DWORD connectError = 0;
  DWORD openRequestError = 0;
  // Header additions to fail, in order, as sendErrors.
  std::deque<DWORD> addHeaderErrors;
  // A stall in every answer: once `stallAfter` body bytes of an answer were
  // read, the next WinHttpQueryDataAvailable on it fails with `stallCode`.
  // Only the first `stallingAnswers` answers stall (a bound for code that
  // would ask again for ever). Reads are cut to `readLimit` bytes (0: not
  // cut), so that the stall comes where it is asked for.
  std::optional<uint64_t> stallAfter;
  DWORD stallCode = ERROR_WINHTTP_TIMEOUT;
  int stallingAnswers = 0;
  DWORD readLimit = 0;

  struct Session {
    DWORD accessType;
    std::wstring proxy;  // L"" when none was given
  };
  struct Option {
    DWORD option;
    std::wstring text;  // proxy user name and password
    DWORD number;       // numeric options
  };
  struct Header {
    std::wstring text;
    DWORD flags;
  };
  std::vector<Session> sessions;
  int connects = 0;
  std::vector<std::wstring> verbs;  // one per OpenRequest
  std::vector<Option> options;
  std::vector<Header> addedHeaders;
  std::vector<std::wstring> sendHeaders;  // additional headers of each send
  std::vector<DWORD> sendLengths;         // optional data length of each send
  int receives = 0;
  std::vector<DWORD> sleeps;
  int closes = 0;
  int stalls = 0;             // stalls injected
  uint64_t answerBytes = 0;   // body bytes read of the latest answer
  bool answerStalled = false;

  bool HasOption(DWORD option) const {
    for (const Option& o : options)
      if (o.option == option) return true;
    return false;
  }
  const Option* FindOption(DWORD option) const {
    for (const Option& o : options)
      if (o.option == option) return &o;
    return nullptr;
  }
};

// Installs the recorder for its lifetime; the real table comes back after.
class WinHttpSeam {
 public:
  WinHttpSeam() {
    current() = &record;
    g_winHttp.Open = &OpenFake;
    g_winHttp.Connect = &ConnectFake;
    g_winHttp.OpenRequest = &OpenRequestFake;
    g_winHttp.AddRequestHeaders = &AddHeadersFake;
    g_winHttp.SetOption = &SetOptionFake;
    g_winHttp.SendRequest = &SendFake;
    g_winHttp.ReceiveResponse = &ReceiveFake;
    g_winHttp.QueryDataAvailable = &QueryDataAvailableFake;
    g_winHttp.ReadData = &ReadFake;
    g_winHttp.CloseHandle = &CloseFake;
    g_winHttp.Sleep = &SleepFake;
  }
  ~WinHttpSeam() {
    ResetWinHttpApi();
    current() = nullptr;
  }
  WinHttpSeam(const WinHttpSeam&) = delete;
  WinHttpSeam& operator=(const WinHttpSeam&) = delete;

  SeamRecord record;

 private:
  static SeamRecord*& current() {
    static SeamRecord* r = nullptr;
    return r;
  }
  static const WinHttpApi& real() { return RealWinHttpApi(); }
  // Takes the next entry of a failure list: true, with the thread's last
  // error set, when the call is to fail.
  static bool Fails(std::deque<DWORD>& errors) {
    if (errors.empty()) return false;
    const DWORD e = errors.front();
    errors.pop_front();
    if (e == 0) return false;
    SetLastError(e);
    return true;
  }

  static HINTERNET WINAPI OpenFake(LPCWSTR agent, DWORD access, LPCWSTR proxy, LPCWSTR bypass, DWORD flags) {
    current()->sessions.push_back({access, proxy ? proxy : L""});
    return real().Open(agent, access, proxy, bypass, flags);
  }
  static HINTERNET WINAPI ConnectFake(HINTERNET s, LPCWSTR server, INTERNET_PORT port, DWORD reserved) {
    ++current()->connects;
    if (DWORD e = current()->connectError) {
      current()->connectError = 0;
      SetLastError(e);
      return nullptr;
    }
    return real().Connect(s, server, port, reserved);
  }
  static HINTERNET WINAPI OpenRequestFake(HINTERNET c, LPCWSTR verb, LPCWSTR path, LPCWSTR version, LPCWSTR referrer,
                                          LPCWSTR* types, DWORD flags) {
    current()->verbs.push_back(verb ? verb : L"");
    if (DWORD e = current()->openRequestError) {
      current()->openRequestError = 0;
      SetLastError(e);
      return nullptr;
    }
    return real().OpenRequest(c, verb, path, version, referrer, types, flags);
  }
  static BOOL WINAPI AddHeadersFake(HINTERNET r, LPCWSTR headers, DWORD length, DWORD flags) {
    SeamRecord& rec = *current();
    std::wstring text = length == static_cast<DWORD>(-1) ? std::wstring(headers) : std::wstring(headers, length);
    rec.addedHeaders.push_back({text, flags});
    if (Fails(rec.addHeaderErrors)) return FALSE;
    return real().AddRequestHeaders(r, headers, length, flags);
  }
  static BOOL WINAPI SetOptionFake(HINTERNET h, DWORD option, LPVOID buffer, DWORD length) {
    SeamRecord::Option o{option, L"", 0};
    if (option == WINHTTP_OPTION_PROXY_USERNAME || option == WINHTTP_OPTION_PROXY_PASSWORD)
      o.text.assign(static_cast<const wchar_t*>(buffer), length);
    else if (length == sizeof(DWORD))
      o.number = *static_cast<const DWORD*>(buffer);
    current()->options.push_back(o);
    return real().SetOption(h, option, buffer, length);
  }
  static BOOL WINAPI SendFake(HINTERNET r, LPCWSTR headers, DWORD headersLength, LPVOID data, DWORD dataLength,
                              DWORD total, DWORD_PTR context) {
    SeamRecord& rec = *current();
    std::wstring text;
    if (headers) text = headersLength == static_cast<DWORD>(-1) ? std::wstring(headers) : std::wstring(headers, headersLength);
    rec.sendHeaders.push_back(text);
    rec.sendLengths.push_back(dataLength);
    if (Fails(rec.sendErrors)) return FALSE;
    if (rec.sendsSucceedSilently) return TRUE;
    return real().SendRequest(r, headers, headersLength, data, dataLength, total, context);
  }
  static BOOL WINAPI ReceiveFake(HINTERNET r, LPVOID reserved) {
    SeamRecord& rec = *current();
    ++rec.receives;
    if (Fails(rec.receiveErrors)) return FALSE;
    rec.answerBytes = 0;
    rec.answerStalled = false;
    return real().ReceiveResponse(r, reserved);
  }
  static BOOL WINAPI QueryDataAvailableFake(HINTERNET r, LPDWORD available) {
    SeamRecord& rec = *current();
    if (rec.stallAfter && !rec.answerStalled && rec.answerBytes >= *rec.stallAfter &&
        rec.stalls < rec.stallingAnswers) {
      ++rec.stalls;
      rec.answerStalled = true;
      SetLastError(rec.stallCode);
      return FALSE;
    }
    return real().QueryDataAvailable(r, available);
  }
  static BOOL WINAPI ReadFake(HINTERNET r, LPVOID buffer, DWORD size, LPDWORD read) {
    SeamRecord& rec = *current();
    if (rec.readLimit != 0 && size > rec.readLimit) size = rec.readLimit;
    const BOOL ok = real().ReadData(r, buffer, size, read);
    if (ok) rec.answerBytes += *read;
    return ok;
  }
  static BOOL WINAPI CloseFake(HINTERNET h) {
    ++current()->closes;
    return real().CloseHandle(h);
  }
  static void WINAPI SleepFake(DWORD ms) { current()->sleeps.push_back(ms); }
};

}  // namespace twtest
