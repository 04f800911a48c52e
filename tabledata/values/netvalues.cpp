// Network-management value conversions (see netvalues.h).
#include "tabledata/values/netvalues.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "agent/log/format.h"
#include "agent/log/logger.h"
#include "tabledata/strutil.h"
#include "tabledata/values/scan.h"

namespace {

void Trace(const char* name) { LogTrace("\n\t@@@@@ Inside %s() @@@@@ \n", name); }

// The values from..to-1 in decimal, each after a "." (leading) or between dots.
std::string JoinDecimal(const uint32_t* values, int32_t from, int32_t to, bool leadingDot) {
  std::string text;
  for (int32_t i = from; i < to; ++i) {
    if (leadingDot || i > from) text += '.';
    text += std::to_string(values[i]);
  }
  return text;
}

bool CopyOut(const std::string& text, char* out, size_t outSize) {
  if (!out || outSize == 0) return false;
  if (text.size() >= outSize) {
    out[0] = '\0';
    return false;
  }
  memcpy(out, text.c_str(), text.size() + 1);
  return true;
}

}  // namespace

char GetHexValue(char c) {
  LogTrace("\n\t@@@@@ Inside GetHexValue() @@@@@\t\n");
  if (c >= '0' && c <= '9') return static_cast<char>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<char>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<char>(c - 'a' + 10);
  return c;
}

char ConvertToDecimalFromHexa(char c) {
  Trace("ConvertToDecimalFromHexa");
  const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
  return hex ? GetHexValue(c) : 0;
}

void ConvertToHexValue(char* text, int32_t length) {
  Trace("ConvertToHexValue");
  if (!text || length < 2) return;
  for (int32_t i = 0; i < length / 2; ++i) {
    const unsigned high = static_cast<unsigned char>(GetHexValue(text[2 * i]));
    const unsigned low = static_cast<unsigned char>(GetHexValue(text[2 * i + 1]));
    text[i] = static_cast<char>(static_cast<unsigned char>((high << 4) + low));
  }
}

void ConvertToStringFromHex(char* out, const void* bytes, int32_t length) {
  Trace("ConvertToStringFromHex");
  if (!out || !bytes) return;
  const unsigned char* b = static_cast<const unsigned char*>(bytes);
  for (int32_t i = 0; i < length; ++i) {
    out[2 * i] = static_cast<char>(b[i] >> 4);
    out[2 * i + 1] = static_cast<char>(b[i] & 0x0F);
  }
}

char* ToString(const void* value, int32_t length, uint8_t kind) {
  Trace("ToString");
  if (kind == 1) return NewText(value ? "TRUE" : "FALSE");
  if (kind != 0 || !value || length != static_cast<int32_t>(sizeof(int32_t))) return nullptr;
  int32_t number = 0;
  memcpy(&number, value, sizeof number);
  return ConvertToStringFromInteger(number);
}

char* ConvertToStringFromInteger(int32_t value) {
  Trace("ConvertToStringFromInteger");
  char* text = NewText(std::to_string(value));
  if (text) LogTrace("The string is %s\n", text);
  return text;
}

char* ConvertToStringFromUnsignedInteger(uint32_t value, int32_t* length) {
  Trace("ConvertToStringFromUnsignedInteger");
  char* text = NewText(std::to_string(value));
  if (text && length) *length = StringLength(text);
  return text;
}

char* ConvertToStringFromOID(const uint32_t* subIds, int32_t* length) {
  Trace("ConvertToStringFromOID");
  if (!subIds || !length || *length < 0) return nullptr;
  char* text = NewText(JoinDecimal(subIds, 0, *length / 4, true));
  if (text) *length = StringLength(text);
  return text;
}

bool ConvertToStringFromOid(const uint32_t* values, int32_t count, char* out, size_t outSize) {
  Trace("ConvertToStringFromOid");
  if (!values || count <= 0) {
    CopyOut("", out, outSize);
    return false;
  }
  return CopyOut(JoinDecimal(values, 0, count, true), out, outSize);
}

bool ConvertToIpAddressFromOid(char* out, size_t outSize, const uint32_t* values, int32_t from, int32_t to) {
  Trace("ConvertToIpAddressFromOid");
  if (!values || from < 0 || to <= from) {
    CopyOut("", out, outSize);
    return false;
  }
  return CopyOut(JoinDecimal(values, from, to, false), out, outSize);
}

int32_t ConvertToOidOrIpFromString(uint32_t** out, const char* text, bool isIp) {
  Trace("ConvertToOidOrIpFromString");
  if (!out) return -1;
  *out = nullptr;
  const int32_t dots = text ? CountSubstring(text, ".") : 0;
  if (dots <= 0) {
    if (isIp)
      LogError("Incorrect format of IpAddress\n");
    else
      LogError("Incorrect format of OID\n");
    return -1;
  }
  const int32_t expected = isIp ? dots + 1 : dots;
  const char* p = (!isIp && *text == '.') ? text + 1 : text;
  uint32_t* values = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * (static_cast<size_t>(dots) + 1)));
  if (!values) return -1;
  int32_t count = 0;
  for (;;) {
    const char* end = strchr(p, '.');
    const size_t n = end ? static_cast<size_t>(end - p) : strlen(p);
    uint64_t value = 0;
    if (!ParseIntegerOfWidth(p, n, 32, false, &value)) {
      free(values);
      return -1;
    }
    values[count++] = static_cast<uint32_t>(value);
    if (!end) break;
    p = end + 1;
  }
  if (count != expected) {
    free(values);
    return 0;
  }
  *out = values;
  return count;
}

bool IsValidIPAddress(const char* text, int32_t length) {
  Trace("IsValidIPAddress");
  LogTrace("len is %d\n", length);
  if (!text || length <= 0 || text[0] == '.') return false;
  int32_t parts = 0;
  int32_t start = 0;
  for (int32_t i = 0; i <= length; ++i) {
    if (i < length && text[i] != '.') continue;
    const int32_t n = i - start;
    if (n == 0 || ++parts > 4) return false;  // ".." or a trailing "." or a fifth part
    int32_t value = 0;
    for (int32_t k = start; k < i; ++k) {
      if (text[k] < '0' || text[k] > '9') return false;
      value = value * 10 + (text[k] - '0');
      if (value > 255) return false;
    }
    start = i + 1;
  }
  return parts == 4;
}

bool IsValidOid(const char* text, int32_t length) {
  Trace("IsValidOid");
  return text && length > 0 && text[0] == '.' && GetOidLength(text, length) > 1;
}

int32_t GetOidLength(const char* text, int32_t length) {
  Trace("GetOidLength");
  int32_t dots = 0;
  for (int32_t i = 0; text && i < length; ++i) dots += text[i] == '.';
  return dots;
}

int32_t CompareOid(const uint32_t* a, int32_t countA, const uint32_t* b, int32_t countB) {
  LogTrace("\n\t@@@@@ Inside CompareOid() @@@@@ \n");
  if (countA < 0 || !a) countA = 0;
  if (countB < 0 || !b) countB = 0;
  for (int32_t i = 0; i < countA && i < countB; ++i)
    if (a[i] != b[i]) return a[i] > b[i] ? 1 : -1;
  if (countA == countB) return 0;
  return countA > countB ? 1 : -1;
}

void CopyOid(uint32_t* dst, const uint32_t* src, int32_t count) {
  Trace("CopyOid");
  if (dst && src && count > 0) memcpy(dst, src, sizeof(uint32_t) * static_cast<size_t>(count));
}

void SetNOid(uint32_t* dst, const uint32_t* src, int32_t offset, int32_t count) {
  Trace("SetNOid");
  if (dst && offset >= 0) CopyOid(dst + offset, src, count);
}

uint32_t GetNextSubId(uint32_t value, const uint32_t* oid, int32_t count) {
  Trace("GetNextSubId");
  for (int32_t i = 0; oid && i < count; ++i)
    if (oid[i] > value) return oid[i];
  return 0;
}

void CopyStringToOid(int32_t* dst, const char* text, int32_t length) {
  Trace("CopyStringToOid");
  for (int32_t i = 0; dst && text && i < length; ++i) dst[i] = static_cast<signed char>(text[i]);
}

void CopyStringToOID(uint32_t* dst, const char* text, int32_t length) {
  Trace("CopyStringToOID");
  for (int32_t i = 0; dst && text && i < length; ++i) dst[i] = static_cast<unsigned char>(text[i]);
}

void ConvertToCharArray(char* out, const uint32_t* values, int32_t start, int32_t length) {
  Trace("ConvertToCharArray");
  if (!out) return;
  int32_t i = 0;
  for (; values && start >= 0 && i < length; ++i)
    out[i] = static_cast<char>(static_cast<unsigned char>(values[static_cast<size_t>(start) + static_cast<size_t>(i)] % 255));
  out[i] = '\0';
}

int32_t ReallocateAndSetString(char** slot, const void* bytes, int32_t length) {
  Trace("ReallocateAndSetString");
  char* copy = nullptr;
  if (!slot || DuplicateBytes(&copy, bytes, length) != 1) return 99;
  free(*slot);
  *slot = copy;
  return 1;
}

int32_t ReallocateAndSetOID(uint32_t** slot, int32_t* countSlot, const uint32_t* source, int32_t count) {
  Trace("ReallocateAndSetOID");
  if (!slot || !countSlot || count < 0 || (!source && count > 0)) return 99;
  uint32_t* copy = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * (static_cast<size_t>(count) + 1)));
  if (!copy) {
    LogError("Unable to allocate memory");
    return 99;
  }
  CopyOid(copy, source, count);
  free(*slot);
  *slot = copy;
  *countSlot = count;
  return 1;
}

char* ConvertToStringFromDateTime(const uint8_t* octets, int32_t* length) {
  Trace("ConvertToStringFromDateTime");
  if (!octets || !length || (*length != 8 && *length != 11)) return nullptr;
  const int year = octets[0] * 256 + octets[1];
  std::string text = FormatText("%d-%d-%d,%d:%d:%d.%d", year, octets[2], octets[3], octets[4], octets[5], octets[6],
                                octets[7]);
  if (*length == 11) text += FormatText(",%c%d:%d", octets[8], octets[9], octets[10]);
  char* result = NewText(text);
  if (!result) return nullptr;
  LogTrace("The retVal is %s\n", result);
  *length = StringLength(result);
  return result;
}

uint8_t* ConvertToDateTimeFromString(const char* text, int32_t* length) {
  Trace("ConvertToDateTimeFromString");
  if (!text || !length) return nullptr;
  int v[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  char direction = 0;
  const int fields = ScanText(text, "%d-%d-%d,%d:%d:%d.%d,%c%d:%d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6],
                              &direction, &v[7], &v[8]);
  if (fields != 7 && fields != 10) return nullptr;
  const int32_t n = fields == 7 ? 8 : 11;
  uint8_t* octets = static_cast<uint8_t*>(malloc(static_cast<size_t>(n)));
  if (!octets) return nullptr;
  const unsigned year = static_cast<unsigned>(v[0]);
  octets[0] = static_cast<uint8_t>(year >> 8);
  octets[1] = static_cast<uint8_t>(year);
  for (int i = 1; i < 7; ++i) octets[i + 1] = static_cast<uint8_t>(v[i]);
  if (n == 11) {
    octets[8] = static_cast<uint8_t>(direction);
    octets[9] = static_cast<uint8_t>(v[7]);
    octets[10] = static_cast<uint8_t>(v[8]);
  }
  for (int32_t i = 0; i < n; ++i) LogTrace("%.02x\n", octets[i]);
  *length = n;
  return octets;
}

Counter64 ConvertToCounter64FromULongLong(uint64_t value) {
  Trace("ConvertToCounter64FromULongLong");
  return Counter64{static_cast<uint32_t>(value >> 32), static_cast<uint32_t>(value)};
}

uint64_t ConvertToULongLongFromCounter64(Counter64 value) {
  Trace("ConvertToULongLongFromCounter64");
  return (static_cast<uint64_t>(value.high) << 32) | value.low;
}

bool ConvertToCounter64(Counter64* out, const uint8_t* bytes, int32_t length) {
  Trace("ConvertToCounter64");
  if (!out || length < 0 || length > 9 || (!bytes && length > 0)) return false;
  if (length == 9) {
    ++bytes;
    --length;
  }
  uint64_t value = 0;
  for (int32_t i = 0; i < length; ++i) value = (value << 8) | bytes[i];
  *out = ConvertToCounter64FromULongLong(value);
  return true;
}

char* Counter64ToString(Counter64 value) {
  Trace("Counter64ToString");
  char* text = NewText(std::to_string(ConvertToULongLongFromCounter64(value)));
  if (text) LogDebug("The String is : %s\n", text);
  return text;
}

void EncryptDecryptKey(uint8_t* bytes, int32_t length, int32_t key) {
  LogTrace("\t\t@@@@@ Inside EncryptDecryptKey() @@@@@\n");
  const int64_t shifted = static_cast<int64_t>(key) + 9;
  const uint8_t k = (key >= 247 && key <= 2147483638) ? static_cast<uint8_t>(shifted % 255)
                                                       : static_cast<uint8_t>(shifted & 0xFF);
  for (int32_t i = 0; bytes && i < length; ++i) bytes[i] ^= k;
}

void PrintStream(const void* bytes, int32_t length, const char* format) {
  Trace("PrintStream");
  if (!bytes || !format) return;
  const unsigned char* b = static_cast<const unsigned char*>(bytes);
  for (int32_t i = 0; i < length; ++i) LogDebug(format, b[i]);
  LogDebug("\n");
}

void PrintOid(const uint32_t* oid, int32_t count) {
  Trace("PrintOid");
  for (int32_t i = 0; oid && i < count; ++i) LogDebug("%lu\t", static_cast<unsigned long>(oid[i]));
  LogDebug("\n");
}

bool IsDirectory(const char* path) {
  Trace("IsDirectory");
  if (!path || !*path) return false;
  std::error_code ec;
  const std::u8string utf8(reinterpret_cast<const char8_t*>(path));
  return std::filesystem::is_directory(std::filesystem::path(utf8), ec);
}
