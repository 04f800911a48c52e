// Result sets of queries: building them, walking them with the cursor, reading
// cells by column name, and their DEBUG rendering.
#include "tabledata/db/resultset.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "agent/log/logger.h"
#include "tabledata/store/rowvalue.h"
#include "tabledata/strutil.h"
#include "tabledata/values/datetime.h"

namespace {

// The position of the first column of that name (any case), or -1.
int32_t ColumnIndex(const char* columnName, const ResultSet* resultSet) {
  if (!columnName || !resultSet) return -1;
  for (int32_t i = 0; i < resultSet->columnCount; ++i)
    if (resultSet->columns[i].name && CompareStringsNoCase(resultSet->columns[i].name, columnName) == 0) return i;
  return -1;
}

// A cell as PrintResultSet shows it, with its "\t"; "NULL\t" when absent.
std::string CellText(const ResultSetColumn& column, const ResultSetCell& cell) {
  const uint8_t type = column.type;
  const void* value = cell.value;
  if (!value) return "NULL\t";
  if (type >= ORV_SQL_TINYINT && type <= ORV_SQL_DOUBLE) {
    if (type == ORV_SQL_DOUBLE && cell.length >= 8) return FormatText("%-f\t", ValueAs<double>(value));
    if ((type == ORV_SQL_FLOAT || type == ORV_SQL_REAL) && cell.length >= 4)
      return FormatText("%-f\t", static_cast<double>(ValueAs<float>(value)));
    if (cell.length >= 8) {
      return column.isUnsigned ? FormatText("%-llu\t", static_cast<unsigned long long>(ValueAs<uint64_t>(value)))
                               : FormatText("%-lld\t", static_cast<long long>(ValueAs<int64_t>(value)));
    }
    if (cell.length >= 4)
      return column.isUnsigned ? FormatText("%-u\t", ValueAs<uint32_t>(value)) : FormatText("%-d\t", ValueAs<int32_t>(value));
    return "NULL\t";
  }
  if (type >= ORV_SQL_DATE && type <= ORV_SQL_DATETIME) {
    if (cell.length < static_cast<int32_t>(sizeof(OrvDateTimeValue))) return "NULL\t";
    return FormatText("%-s\t", DateTimeValueText(value, ORV_SQL_DATETIME).value_or("NULL").c_str());
  }
  if (type == ORV_SQL_BOOLEAN) return FormatText("%-d\t", ValueAs<uint8_t>(value));
  const char* text = static_cast<const char*>(value);
  return FormatText("%-.*s\t", static_cast<int>(strnlen(text, static_cast<size_t>(cell.length))), text);
}

}  // namespace

ResultSet* CreateResultSet(int32_t columnCount) {
  if (columnCount < 0) return nullptr;
  ResultSet* resultSet = static_cast<ResultSet*>(calloc(1, sizeof(ResultSet)));
  if (!resultSet) return nullptr;
  resultSet->columnCount = columnCount;
  if (columnCount > 0) {
    resultSet->columns = static_cast<ResultSetColumn*>(calloc(static_cast<size_t>(columnCount), sizeof(ResultSetColumn)));
    if (!resultSet->columns) {
      free(resultSet);
      return nullptr;
    }
  }
  return resultSet;
}

bool SetResultSetColumn(ResultSet* resultSet, int32_t index, const char* name, uint8_t type, uint8_t isUnsigned) {
  if (!resultSet || index < 0 || index >= resultSet->columnCount) return false;
  ResultSetColumn& column = resultSet->columns[index];
  char* copy = nullptr;
  if (DuplicateString(&copy, name ? name : "") != 1) return false;
  free(column.name);
  column.name = copy;
  column.type = type;
  column.isUnsigned = isUnsigned;
  return true;
}

ResultSetRow* AddResultSetRow(ResultSet* resultSet) {
  if (!resultSet) return nullptr;
  // The row and its cells in one block.
  const size_t cells = static_cast<size_t>(resultSet->columnCount);
  ResultSetRow* row = static_cast<ResultSetRow*>(calloc(1, sizeof(ResultSetRow) + cells * sizeof(ResultSetCell)));
  if (!row) return nullptr;
  row->cells = reinterpret_cast<ResultSetCell*>(row + 1);
  if (resultSet->lastRow)
    resultSet->lastRow->next = row;
  else
    resultSet->firstRow = row;
  resultSet->lastRow = row;
  ++resultSet->rowCount;
  return row;
}

ResultSetRow* GotoNextResultSetRow(ResultSet* resultSet) {
  if (!resultSet) return nullptr;
  resultSet->cursor = resultSet->cursor ? resultSet->cursor->next : resultSet->firstRow;
  return resultSet->cursor;
}

void ResetResultSetCursor(ResultSet* resultSet) {
  if (resultSet) resultSet->cursor = nullptr;
}

const void* GetResultSetColumnValue(const char* columnName, int32_t* outLength, const ResultSet* resultSet) {
  const int32_t index = ColumnIndex(columnName, resultSet);
  if (index < 0 || !resultSet->cursor) return nullptr;
  const ResultSetCell& cell = resultSet->cursor->cells[index];
  if (outLength) *outLength = cell.length;
  return cell.value;
}

uint8_t GetResultSetColumnType(const char* columnName, const ResultSet* resultSet) {
  const int32_t index = ColumnIndex(columnName, resultSet);
  return index < 0 ? 0 : resultSet->columns[index].type;
}

void FreeResultSet(ResultSet* resultSet) {
  if (!resultSet) return;
  for (ResultSetRow* row = resultSet->firstRow; row;) {
    ResultSetRow* next = row->next;
    for (int32_t i = 0; i < resultSet->columnCount; ++i) free(row->cells[i].value);
    free(row);
    row = next;
  }
  for (int32_t i = 0; i < resultSet->columnCount; ++i) free(resultSet->columns[i].name);
  free(resultSet->columns);
  free(resultSet);
}

// Piece by piece at DEBUG, as the store's renderings are written.
void PrintResultSet(const ResultSet* resultSet) {
  if (!resultSet) return;
  for (int32_t i = 0; i < resultSet->columnCount; ++i)
    LogDebug("%-s\t", resultSet->columns[i].name ? resultSet->columns[i].name : "");
  LogDebug("\n");
  for (const ResultSetRow* row = resultSet->firstRow; row; row = row->next) {
    for (int32_t i = 0; i < resultSet->columnCount; ++i)
      LogDebug("%s", CellText(resultSet->columns[i], row->cells[i]).c_str());
    LogDebug("\n");
  }
}
