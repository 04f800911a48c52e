// The WinHTTP call table (see winhttp_api.h), filled with the real functions.
#include "http/winhttp_api.h"

const WinHttpApi& RealWinHttpApi() {
  static const WinHttpApi real = {
      &::WinHttpOpen,        &::WinHttpConnect,         &::WinHttpOpenRequest,
      &::WinHttpAddRequestHeaders, &::WinHttpSetOption, &::WinHttpQueryOption,
      &::WinHttpSendRequest, &::WinHttpWriteData,       &::WinHttpReceiveResponse,
      &::WinHttpQueryHeaders, &::WinHttpQueryDataAvailable, &::WinHttpReadData,
      &::WinHttpCloseHandle, &::Sleep,
  };
  return real;
}

WinHttpApi g_winHttp = RealWinHttpApi();

void ResetWinHttpApi() { g_winHttp = RealWinHttpApi(); }
