// Every WinHTTP call of the transfer code goes through this one table, so that
// tests can make a given call fail with the error codes no real server can
// provoke (12032, 12015, 12017, ...) and can observe the resend pauses without
// waiting for them. Production code uses the real functions; nothing else is
// in the table.
#pragma once
#include <windows.h>
#include <winhttp.h>

struct WinHttpApi {
  decltype(&::WinHttpOpen) Open;
  decltype(&::WinHttpConnect) Connect;
  decltype(&::WinHttpOpenRequest) OpenRequest;
  decltype(&::WinHttpAddRequestHeaders) AddRequestHeaders;
  decltype(&::WinHttpSetOption) SetOption;
  decltype(&::WinHttpQueryOption) QueryOption;
  decltype(&::WinHttpSendRequest) SendRequest;
  decltype(&::WinHttpWriteData) WriteData;
  decltype(&::WinHttpReceiveResponse) ReceiveResponse;
  decltype(&::WinHttpQueryHeaders) QueryHeaders;
  decltype(&::WinHttpQueryDataAvailable) QueryDataAvailable;
  decltype(&::WinHttpReadData) ReadData;
  decltype(&::WinHttpCloseHandle) CloseHandle;
  // The pause between resends.
  decltype(&::Sleep) Sleep;
};

// The table in use. Tests replace single entries and restore the real table
// with ResetWinHttpApi().
extern WinHttpApi g_winHttp;
// The real functions.
const WinHttpApi& RealWinHttpApi();
void ResetWinHttpApi();
