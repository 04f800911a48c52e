// Reading the values of a row by their column type: a fixed-width value
// shorter than its type's width counts as absent, so no reader of the store
// (criteria, sort, renderings) ever reads past a value's buffer.
#pragma once
#include <cstdint>
#include <cstring>

#include "tabledata/store/tabledata.h"
#include "tabledata/values/valuetypes.h"

// The width of a value of a type code; 0 for the types whose values have any
// length (texts, decimals, blobs).
inline int32_t FixedValueWidth(uint8_t type) {
  switch (type) {
    case ORV_SQL_TINYINT:
    case ORV_SQL_UNSIGNED_TINYINT:
    case ORV_SQL_SMALLINT:
    case ORV_SQL_UNSIGNED_SMALLINT:
    case ORV_SQL_INT:
    case ORV_SQL_UNSIGNED_INT:
    case ORV_SQL_FLOAT:
    case ORV_SQL_REAL:
    case ORV_SQL_DATE:
      return 4;
    case ORV_SQL_BIGINT:
    case ORV_SQL_UNSIGNED_LONG_INT:
    case ORV_SQL_DOUBLE:
      return 8;
    case ORV_SQL_TIME:
      return 3;
    case ORV_SQL_DATETIME:
      return 11;
    case ORV_SQL_BOOLEAN:
      return 1;
    default:
      return 0;
  }
}

// The value of column `index` of a row when it is present and wide enough for
// its type, else null; *length gets its stored length.
inline const void* ReadableValue(const RowObject* row, int32_t index, uint8_t type, int32_t* length) {
  if (!row || !row->values || !row->lengths || index < 0) return nullptr;
  const void* value = row->values[index];
  *length = row->lengths[index];
  if (!value || *length < 0 || *length < FixedValueWidth(type)) return nullptr;
  return value;
}

// A fixed-width value read without alignment assumptions.
template <typename T>
T ValueAs(const void* value) {
  T out;
  memcpy(&out, value, sizeof out);
  return out;
}

// Byte-wise order of two values (bytes taken as unsigned; of two values where
// one begins the other, the shorter first): -1, 0 or 1.
inline int ValueBytesOrder(const void* a, size_t aLength, const void* b, size_t bLength) {
  const int c = memcmp(a, b, aLength < bLength ? aLength : bLength);
  if (c != 0) return c < 0 ? -1 : 1;
  return aLength == bLength ? 0 : aLength < bLength ? -1 : 1;
}

// The length of a value as compared: a text ends at its first zero byte.
inline size_t ComparedLength(const void* value, int32_t length, uint8_t type) {
  const size_t n = static_cast<size_t>(length);
  if (type == ORV_SQL_CHAR || type == ORV_SQL_NCHAR || type == ORV_SQL_TEXT)
    return strnlen(static_cast<const char*>(value), n);
  return n;
}
