// The row at a result set's cursor as a row of the store: each column of the
// table's definition takes the result column of its name and is converted from
// the form the driver gave to the form of the column's type.
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "agent/log/format.h"
#include "tabledata/db/resultset.h"
#include "tabledata/dict/dictionary.h"
#include "tabledata/store/rowvalue.h"
#include "tabledata/store/tabledata.h"
#include "tabledata/strutil.h"
#include "tabledata/values/datetime.h"

namespace {

bool IsIntegerType(uint8_t type) { return type >= ORV_SQL_TINYINT && type <= ORV_SQL_UNSIGNED_LONG_INT; }
bool IsFloatType(uint8_t type) { return type == ORV_SQL_FLOAT || type == ORV_SQL_REAL || type == ORV_SQL_DOUBLE; }
bool IsDateTimeType(uint8_t type) { return type >= ORV_SQL_DATE && type <= ORV_SQL_DATETIME; }

// A new value buffer (length bytes and a zero byte).
void* NewValue(const void* bytes, int32_t length) {
  char* value = nullptr;
  DuplicateBytes(&value, bytes, length);
  return value;
}

// An integer cell: 4 bytes, or 8 when the database's value did not fit.
std::optional<std::string> IntegerText(const ResultSetColumn& column, const ResultSetCell& cell) {
  if (cell.length >= 8) {
    return column.isUnsigned ? FormatText("%llu", static_cast<unsigned long long>(ValueAs<uint64_t>(cell.value)))
                             : FormatText("%lld", static_cast<long long>(ValueAs<int64_t>(cell.value)));
  }
  if (cell.length >= 4)
    return column.isUnsigned ? FormatText("%u", ValueAs<uint32_t>(cell.value)) : FormatText("%d", ValueAs<int32_t>(cell.value));
  return std::nullopt;
}

// The value of a float or double cell.
std::optional<double> FloatOf(const ResultSetColumn& column, const ResultSetCell& cell) {
  if (column.type == ORV_SQL_DOUBLE && cell.length >= 8) return ValueAs<double>(cell.value);
  if (column.type != ORV_SQL_DOUBLE && cell.length >= 4) return static_cast<double>(ValueAs<float>(cell.value));
  return std::nullopt;
}

// The cell written as text: numbers in decimal, date-times as "Y-M-D h:m:s"
// (the parts present), booleans as 1 or 0, anything else as its bytes.
std::optional<std::string> CellText(const ResultSetColumn& column, const ResultSetCell& cell) {
  if (IsIntegerType(column.type)) return IntegerText(column, cell);
  if (IsFloatType(column.type)) {
    const std::optional<double> number = FloatOf(column, cell);
    if (!number) return std::nullopt;
    return FormatText("%f", *number);
  }
  if (IsDateTimeType(column.type)) {
    if (cell.length < static_cast<int32_t>(sizeof(OrvDateTimeValue))) return std::nullopt;
    return DateTimeValueText(cell.value, ORV_SQL_DATETIME);
  }
  if (column.type == ORV_SQL_BOOLEAN) return std::string(ValueAs<uint8_t>(cell.value) ? "1" : "0");
  return std::string(static_cast<const char*>(cell.value), static_cast<size_t>(cell.length));
}

// 1/0/t/f/true/false in any case; none for anything else.
std::optional<uint8_t> BooleanOf(const std::string& text) {
  for (const char* word : {"1", "t", "true"})
    if (CompareStringsNoCase(text.c_str(), word) == 0) return 1;
  for (const char* word : {"0", "f", "false"})
    if (CompareStringsNoCase(text.c_str(), word) == 0) return 0;
  return std::nullopt;
}

// A date-time cell (its 11-byte form) in the form of a date, time or date-time
// column; null when the cell lacks the part the column needs.
void* DateTimeValue(const ResultSetCell& cell, uint8_t type, int32_t* length) {
  if (cell.length < static_cast<int32_t>(sizeof(OrvDateTimeValue))) return nullptr;
  OrvDateTime* dateTime = UnpackOrvDateTime(cell.value, static_cast<int32_t>(sizeof(OrvDateTimeValue)));
  if (!dateTime) return nullptr;
  void* value = nullptr;
  if (type == ORV_SQL_DATE && dateTime->date) {
    *length = static_cast<int32_t>(sizeof(OrvDate));
    value = NewValue(dateTime->date, *length);
  } else if (type == ORV_SQL_TIME && dateTime->time) {
    *length = static_cast<int32_t>(sizeof(OrvTime));
    value = NewValue(dateTime->time, *length);
  } else if (type == ORV_SQL_DATETIME) {
    *length = static_cast<int32_t>(sizeof(OrvDateTimeValue));
    value = NewValue(cell.value, *length);
  }
  FreeOrvDateTime(dateTime);
  return value;
}

// A number cell as a float or double column's value.
void* FloatValue(double number, uint8_t type, int32_t* length) {
  if (type == ORV_SQL_DOUBLE) {
    *length = 8;
    return NewValue(&number, 8);
  }
  const float narrow = static_cast<float>(number);
  *length = 4;
  return NewValue(&narrow, 4);
}

// One cell as the value of a column of type `type`; null when it is absent or
// cannot be read as that type.
void* ConvertCell(const ResultSetColumn& column, const ResultSetCell& cell, uint8_t type, int32_t* length) {
  if (!cell.value) return nullptr;
  // Cells whose form is the column's own form are copied.
  const bool sameForm = column.type == type && !IsDateTimeType(type) && !column.isUnsigned &&
                        (FixedValueWidth(type) == 0 || cell.length == FixedValueWidth(type));
  if (sameForm) {
    *length = cell.length;
    return NewValue(cell.value, cell.length);
  }
  if (IsDateTimeType(type) && IsDateTimeType(column.type)) return DateTimeValue(cell, type, length);
  if (IsFloatType(type) && IsFloatType(column.type)) {
    const std::optional<double> number = FloatOf(column, cell);
    return number ? FloatValue(*number, type, length) : nullptr;
  }
  const std::optional<std::string> text = CellText(column, cell);
  if (!text) return nullptr;
  if (IsFloatType(type)) {
    // Numbers as the drivers write them, exponents included ("1e-07").
    double number = 0;
    const char* end = text->data() + text->size();
    const std::from_chars_result read = std::from_chars(text->data(), end, number, std::chars_format::general);
    return read.ec == std::errc() && read.ptr == end ? FloatValue(number, type, length) : nullptr;
  }
  if (type == ORV_SQL_BOOLEAN) {
    const std::optional<uint8_t> flag = BooleanOf(*text);
    if (!flag) return nullptr;
    *length = 1;
    return NewValue(&*flag, 1);
  }
  *length = static_cast<int32_t>(text->size());
  return ConvertTextToColumnValue(text->c_str(), length, type);
}

// The position of the result column of that name (any case), or -1.
int32_t ResultColumnIndex(const ResultSet* resultSet, const char* name) {
  for (int32_t i = 0; i < resultSet->columnCount; ++i)
    if (resultSet->columns[i].name && CompareStringsNoCase(resultSet->columns[i].name, name) == 0) return i;
  return -1;
}

RowObject* ConvertResultSetRow(const char* tableName, const ResultSet* resultSet) {
  if (!resultSet || !resultSet->cursor) return nullptr;
  const TableDefn* table = GetTableDefn(tableName);
  if (!table || !table->columns || table->columns->count <= 0) return nullptr;
  const int32_t count = table->columns->count;
  void** values = static_cast<void**>(calloc(static_cast<size_t>(count), sizeof(void*)));
  int32_t* lengths = static_cast<int32_t*>(calloc(static_cast<size_t>(count), sizeof(int32_t)));
  if (!values || !lengths) {
    free(values);
    free(lengths);
    return nullptr;
  }
  int32_t i = 0;
  for (VectorNode* node = table->columns->head; node && i < count; node = node->next, ++i) {
    const ColumnDefn* column = static_cast<const ColumnDefn*>(node->element);
    const int32_t index = ResultColumnIndex(resultSet, column->name);
    if (index < 0) continue;
    values[i] = ConvertCell(resultSet->columns[index], resultSet->cursor->cells[index], column->type, &lengths[i]);
    if (!values[i]) lengths[i] = 0;
  }
  RowObject* row = CreateNewRowObject(values, lengths);
  if (!row) {
    for (int32_t j = 0; j < count; ++j) free(values[j]);
    free(values);
    free(lengths);
    return nullptr;
  }
  row->state = ROW_STORED;
  return row;
}

}  // namespace

RowObject* MysqlConvResultsetToRowobject(const char* tableName, const ResultSet* resultSet) {
  return ConvertResultSetRow(tableName, resultSet);
}
RowObject* PgsqlConvResultsetToRowobject(const char* tableName, const ResultSet* resultSet) {
  return ConvertResultSetRow(tableName, resultSet);
}
RowObject* FirebirdConvResultsetToRowobject(const char* tableName, const ResultSet* resultSet) {
  return ConvertResultSetRow(tableName, resultSet);
}
RowObject* SqliteConvResultsetToRowobject(const char* tableName, const ResultSet* resultSet) {
  return ConvertResultSetRow(tableName, resultSet);
}
