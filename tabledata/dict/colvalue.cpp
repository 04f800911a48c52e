// Text to column value (see ConvertTextToColumnValue in dictionary.h): one
// form per type code, the same for dictionary defaults, criteria literals and
// database texts.
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tabledata/dict/dictionary.h"
#include "tabledata/strutil.h"
#include "tabledata/values/datetime.h"
#include "tabledata/values/scan.h"
#include "tabledata/values/valuetypes.h"

namespace {

// A buffer of length bytes plus a zero byte, as every value buffer of a row.
void* NewValue(const void* bytes, size_t length) {
  char* value = nullptr;
  DuplicateBytes(&value, bytes, static_cast<int32_t>(length));
  return value;
}

// The integer of an integer type widened to its stored width (4 bytes for
// codes 1 to 6, 8 for 7 and 8); 0 for a text that is not a number in the
// type's range.
void* IntegerValue(const char* text, size_t length, uint8_t type, int32_t* outLength) {
  static const int kBits[] = {0, 8, 8, 16, 16, 32, 32, 64, 64};
  const bool isSigned = type % 2 == 1;  // 1, 3, 5, 7
  uint64_t bits = 0;
  if (!ParseIntegerOfWidth(text, length, kBits[type], isSigned, &bits)) bits = 0;
  if (type >= ORV_SQL_BIGINT) {
    *outLength = 8;
    return NewValue(&bits, 8);
  }
  int32_t wide = 0;
  switch (type) {
    case ORV_SQL_TINYINT: wide = static_cast<int8_t>(bits); break;
    case ORV_SQL_UNSIGNED_TINYINT: wide = static_cast<uint8_t>(bits); break;
    case ORV_SQL_SMALLINT: wide = static_cast<int16_t>(bits); break;
    case ORV_SQL_UNSIGNED_SMALLINT: wide = static_cast<uint16_t>(bits); break;
    default: wide = static_cast<int32_t>(static_cast<uint32_t>(bits)); break;
  }
  *outLength = 4;
  return NewValue(&wide, 4);
}

// An optional sign, digits and an optional fraction; false for anything else
// or a number out of the type's range.
template <typename T>
bool ParseFixed(const char* text, size_t length, T* out) {
  const char* p = text;
  const char* end = text + length;
  const bool negative = p < end && *p == '-';
  if (p < end && (*p == '+' || *p == '-')) ++p;
  size_t digits = 0;
  bool point = false;
  for (const char* q = p; q < end; ++q) {
    if (*q >= '0' && *q <= '9') {
      ++digits;
    } else if (*q == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (digits == 0) return false;
  T value = 0;
  const std::from_chars_result r = std::from_chars(p, end, value, std::chars_format::fixed);
  if (r.ec != std::errc() || r.ptr != end) return false;
  *out = negative ? -value : value;
  return true;
}

template <typename T>
void* FloatValue(const char* text, size_t length, int32_t* outLength) {
  T value = 0;
  if (!ParseFixed(text, length, &value)) value = 0;
  *outLength = static_cast<int32_t>(sizeof(T));
  return NewValue(&value, sizeof(T));
}

void* DateTimeValue(const char* text, size_t length, uint8_t type, int32_t* outLength) {
  const std::string copy(text, strnlen(text, length));
  OrvDateTime* dt = ConvertStringToOrvDateTime(copy.c_str());
  if (!dt) return nullptr;
  void* value = nullptr;
  if (type == ORV_SQL_DATE) {
    *outLength = static_cast<int32_t>(sizeof(OrvDate));
    value = NewValue(dt->date, sizeof(OrvDate));
  } else if (type == ORV_SQL_TIME) {
    *outLength = static_cast<int32_t>(sizeof(OrvTime));
    value = NewValue(dt->time, sizeof(OrvTime));
  } else {
    const OrvDateTimeValue flat = PackOrvDateTime(dt);
    *outLength = static_cast<int32_t>(sizeof flat);
    value = NewValue(&flat, sizeof flat);
  }
  FreeOrvDateTime(dt);
  return value;
}

bool EqualsNoCase(const char* text, size_t length, const char* word) {
  const std::string copy(text, length);
  return copy.size() == strlen(word) && CompareStringsNoCase(copy.c_str(), word) == 0;
}

}  // namespace

void* ConvertTextToColumnValue(const char* text, int32_t* length, uint8_t type) {
  if (!text || !length || *length < 0) return nullptr;
  const size_t n = static_cast<size_t>(*length);
  int32_t outLength = *length;
  void* value = nullptr;
  switch (type) {
    case ORV_SQL_NOT_SUPPORTED_TYPE:
    case ORV_SQL_DECIMAL:
    case ORV_SQL_NUMERIC:
    case ORV_SQL_BLOB:
    case ORV_SQL_CLOB:
      value = NewValue(text, n);
      break;
    case ORV_SQL_TINYINT:
    case ORV_SQL_UNSIGNED_TINYINT:
    case ORV_SQL_SMALLINT:
    case ORV_SQL_UNSIGNED_SMALLINT:
    case ORV_SQL_INT:
    case ORV_SQL_UNSIGNED_INT:
    case ORV_SQL_BIGINT:
    case ORV_SQL_UNSIGNED_LONG_INT:
      value = IntegerValue(text, n, type, &outLength);
      break;
    case ORV_SQL_FLOAT:
    case ORV_SQL_REAL:
      value = FloatValue<float>(text, n, &outLength);
      break;
    case ORV_SQL_DOUBLE:
      value = FloatValue<double>(text, n, &outLength);
      break;
    case ORV_SQL_CHAR:
    case ORV_SQL_NCHAR:
    case ORV_SQL_TEXT:
      outLength = static_cast<int32_t>(strnlen(text, n));
      value = NewValue(text, static_cast<size_t>(outLength));
      break;
    case ORV_SQL_DATE:
    case ORV_SQL_TIME:
    case ORV_SQL_DATETIME:
      value = DateTimeValue(text, n, type, &outLength);
      break;
    case ORV_SQL_BOOLEAN: {
      const bool isTrue = EqualsNoCase(text, n, "TRUE");
      if (!isTrue && !EqualsNoCase(text, n, "FALSE")) return nullptr;
      const uint8_t flag = isTrue ? 1 : 0;
      outLength = 1;
      value = NewValue(&flag, 1);
      break;
    }
    default:
      return nullptr;
  }
  if (value) *length = outLength;
  return value;
}
