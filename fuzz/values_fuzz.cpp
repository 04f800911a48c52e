// Fuzzes the date-time and value parsers: every text reader of the value
// conversions on the same input, with a few properties that must hold.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tabledata/dict/dictionary.h"
#include "tabledata/values/datetime.h"
#include "tabledata/values/netvalues.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const std::string raw(reinterpret_cast<const char*>(data), size);
  const char* text = raw.c_str();  // up to the first zero byte
  const int32_t length = static_cast<int32_t>(size);

  free(ParseDateTime(text));
  OrvDateTime* dt = ConvertStringToOrvDateTime(text);
  if (dt && size >= 5) {
    uint32_t amount = 0;
    memcpy(&amount, data, 4);
    if (data[4] & 1)
      AddToOrvDateTime(dt, amount, data[4] >> 1);
    else
      SubtractFromOrvDateTime(dt, amount, data[4] >> 1);
    const OrvDateTimeValue flat = PackOrvDateTime(dt);
    OrvDateTime* back = UnpackOrvDateTime(&flat, sizeof flat);
    if (!back || IsLaterOrvDateTime(dt, back) || IsLaterOrvDateTime(back, dt)) __builtin_trap();
    FreeOrvDateTime(back);
  }
  free(OrvDateTimeToString(dt));
  FreeOrvDateTime(dt);
  FreeOrvDateTime(ConvertStringToOrvGenDateTime(text));
  uint8_t code = 0;
  void* any = ConvertStringToOrvDateOrTime(text, &code);
  if (code == 18)
    FreeOrvDateTime(static_cast<OrvDateTime*>(any));
  else
    free(any);

  int32_t octetLength = 0;
  uint8_t* octets = ConvertToDateTimeFromString(text, &octetLength);
  if (octets) {
    free(ConvertToStringFromDateTime(octets, &octetLength));
    free(octets);
  }
  if (size == 8 || size == 11) {
    int32_t n = length;
    free(ConvertToStringFromDateTime(data, &n));
  }

  for (int type = 0; type <= 24; ++type) {
    int32_t n = length;
    free(ConvertTextToColumnValue(raw.data(), &n, static_cast<uint8_t>(type)));
  }

  // A valid address reads back as four parts.
  const bool isIp = IsValidIPAddress(raw.data(), length);
  for (bool asIp : {false, true}) {
    uint32_t* oid = nullptr;
    const int32_t parts = ConvertToOidOrIpFromString(&oid, text, asIp);
    if (asIp && isIp && strlen(text) == size && parts != 4) __builtin_trap();
    if (parts > 0) {
      char out[64];
      ConvertToStringFromOid(oid, parts, out, sizeof out);
    }
    free(oid);
  }
  IsValidOid(raw.data(), length);
  Counter64 counter{0, 0};
  ConvertToCounter64(&counter, data, length);
  std::string hex = raw;
  ConvertToHexValue(hex.data(), length);
  return 0;
}
