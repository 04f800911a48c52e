// Row selection of the table-data store (see tabledata.h): criteria
// selections into result sets, the result cursor, column access by name and
// index, and the stable sort of a result on one column.
#include <algorithm>
#include <cstdlib>

#include "agent/log/logger.h"
#include "agent/log/objectlock.h"
#include "tabledata/criteria/criteria.h"
#include "tabledata/store/rowvalue.h"
#include "tabledata/store/storeinternal.h"
#include "tabledata/strutil.h"
#include "tabledata/values/datetime.h"

namespace {

Vector* ResultColumns(const ResultData* result) {
  return ColumnList(result->kind, result->tableDefn, result->viewDefn);
}

// Year, month, day, hour, minute and second of a type-18 value; a part that
// the value lacks counts as zeros.
void DateTimeFields(const OrvDateTimeValue& v, int32_t out[6]) {
  const bool date = v.parts & kOrvDatePart;
  const bool time = v.parts & kOrvTimePart;
  out[0] = date ? ValueAs<int16_t>(v.year) : 0;
  out[1] = date ? v.month : 0;
  out[2] = date ? v.day : 0;
  out[3] = time ? v.hour : 0;
  out[4] = time ? v.minute : 0;
  out[5] = time ? v.second : 0;
}

template <typename T>
int Order(T a, T b) {
  return a < b ? -1 : b < a ? 1 : 0;
}

// The order of two rows on one column: absent first; integers of codes 1 to 6
// as 32-bit numbers (signed or unsigned as their type), other numbers by
// value, dates and times by the calendar, anything else byte by byte.
int RowOrder(const RowObject* a, const RowObject* b, int32_t index, uint8_t type) {
  int32_t la = 0;
  int32_t lb = 0;
  const void* va = ReadableValue(a, index, type, &la);
  const void* vb = ReadableValue(b, index, type, &lb);
  if (!va || !vb) return (va ? 1 : 0) - (vb ? 1 : 0);
  switch (type) {
    case ORV_SQL_TINYINT:
    case ORV_SQL_SMALLINT:
    case ORV_SQL_INT:
      return Order(ValueAs<int32_t>(va), ValueAs<int32_t>(vb));
    case ORV_SQL_UNSIGNED_TINYINT:
    case ORV_SQL_UNSIGNED_SMALLINT:
    case ORV_SQL_UNSIGNED_INT:
      return Order(ValueAs<uint32_t>(va), ValueAs<uint32_t>(vb));
    case ORV_SQL_BIGINT:
      return Order(ValueAs<int64_t>(va), ValueAs<int64_t>(vb));
    case ORV_SQL_UNSIGNED_LONG_INT:
      return Order(ValueAs<uint64_t>(va), ValueAs<uint64_t>(vb));
    case ORV_SQL_FLOAT:
    case ORV_SQL_REAL:
      return Order(ValueAs<float>(va), ValueAs<float>(vb));
    case ORV_SQL_DOUBLE:
      return Order(ValueAs<double>(va), ValueAs<double>(vb));
    case ORV_SQL_BOOLEAN:
      return Order(ValueAs<uint8_t>(va), ValueAs<uint8_t>(vb));
    case ORV_SQL_DATE: {
      const OrvDate x = ValueAs<OrvDate>(va);
      const OrvDate y = ValueAs<OrvDate>(vb);
      if (x.year != y.year) return Order(x.year, y.year);
      return x.month != y.month ? Order(x.month, y.month) : Order(x.day, y.day);
    }
    case ORV_SQL_TIME:
      return ValueBytesOrder(va, 3, vb, 3);  // hour, minute, second
    case ORV_SQL_DATETIME: {
      int32_t x[6];
      int32_t y[6];
      DateTimeFields(ValueAs<OrvDateTimeValue>(va), x);
      DateTimeFields(ValueAs<OrvDateTimeValue>(vb), y);
      for (int k = 0; k < 6; ++k)
        if (x[k] != y[k]) return Order(x[k], y[k]);
      return 0;
    }
    default:
      return ValueBytesOrder(va, ComparedLength(va, la, type), vb, ComparedLength(vb, lb, type));
  }
}

}  // namespace

ResultData* CollectMatchingRows(const TableData* table, const char* criteria) {
  LockObject(GetCriteriaLock());
  CriteriaNode* criterion = ParseCriteria(criteria);
  Vector* columns = table->kind == TABLE_KIND_TABLE && table->tableDefn ? table->tableDefn->columns : nullptr;
  ResultData* result = nullptr;
  if (criterion && columns && columns->count > 0) {
    BindCriteria(columns, criterion);
    result = CreateResultData(0, table->columnCount, table);
    for (RowObject* row = table->firstRow; row && result; row = row->next) {
      if (EvaluateCriteria(row, criterion) && !AddRowToResultData(row, result)) {
        LogError("not able to Add row \n");
        FreeResultData(result);
        result = nullptr;
      }
    }
    if (result) result->cursor = nullptr;
  }
  FreeCriteria(criterion);
  UnlockObject(GetCriteriaLock());
  return result;
}

ResultData* SelectRows(const char* tableName, const char* criteria) {
  LogTrace("@@@ Inside SelectRows @@@\n");
  const TableData* table = GetTableDataByName(tableName);
  if (!table) return nullptr;
  if (criteria) return CollectMatchingRows(table, criteria);
  ResultData* result = CreateResultData(0, table->columnCount, table);
  for (RowObject* row = table->firstRow; row && result; row = row->next) {
    if (!AddRowToResultData(row, result)) {
      FreeResultData(result);
      return nullptr;
    }
  }
  if (result) result->cursor = nullptr;
  return result;
}

ResultData* SelectRowByRowIdx(const char* tableName, int32_t position) {
  LogTrace("@@@ Inside SelectRowByRowIdx @@@\n");
  const TableData* table = GetTableDataByName(tableName);
  if (!table || table->rowCount < position) return nullptr;
  ResultData* result = CreateResultData(0, table->columnCount, table);
  if (!result) return nullptr;
  RowObject* row = table->firstRow;
  for (int32_t i = 1; i < position && row; ++i) row = row->next;
  if (row && !AddRowToResultData(row, result)) {
    FreeResultData(result);
    return nullptr;
  }
  result->cursor = nullptr;
  return result;
}

ResultData* CreateResultData(int32_t rowCount, int32_t columnCount, const TableData* table) {
  LogTrace("@@@ Inside CreateResultData @@@\n");
  ResultData* result = static_cast<ResultData*>(calloc(1, sizeof(ResultData)));
  if (!result) return nullptr;
  result->rowCount = rowCount;
  result->columnCount = columnCount;
  if (table) {
    result->kind = table->kind;
    result->tableDefn = table->kind == TABLE_KIND_TABLE ? table->tableDefn : nullptr;
    result->viewDefn = table->kind == TABLE_KIND_VIEW ? table->viewDefn : nullptr;
  }
  return result;
}

bool AddRowToResultData(RowObject* row, ResultData* result) {
  LogTrace("@@@ Inside AddRowToResultData @@@\n");
  if (!result) return false;
  ResultNode* node = static_cast<ResultNode*>(malloc(sizeof(ResultNode)));
  if (!node) return false;
  node->row = row;
  node->next = nullptr;
  // While the result is being filled, the cursor is the append point.
  if (result->cursor)
    result->cursor->next = node;
  else
    result->firstNode = node;
  result->cursor = node;
  ++result->rowCount;
  return true;
}

RowObject* GotoNextRowObject(ResultData* result) {
  LogTrace("@@@ Inside GotoNextRowObject @@@\n");
  if (!result) return nullptr;
  // Past the last row the cursor is before the first one again.
  result->cursor = result->cursor ? result->cursor->next : result->firstNode;
  return result->cursor ? result->cursor->row : nullptr;
}

void ResetResultDataCursor(ResultData* result) {
  LogTrace("@@@ Inside ResetResultDataCursor @@@\n");
  if (result) result->cursor = nullptr;
}

void FreeResultData(ResultData* result) {
  LogTrace("@@@ Inside FreeResultData @@@\n");
  if (!result) return;
  ResultNode* node = result->firstNode;
  while (node) {
    ResultNode* next = node->next;
    free(node);
    node = next;
  }
  free(result);
}

const void* GetColumnValueByName(const char* columnName, int32_t* outLength, const ResultData* result) {
  LogTrace("\t@@@@@ GetColumnValueByName() @@@@@\n");
  if (!result || !result->cursor) return nullptr;
  const int32_t i = FindColumnIndex(result->kind, ResultColumns(result), columnName);
  const RowObject* row = result->cursor->row;
  if (i < 0 || i >= result->columnCount || !row || !row->values || !row->lengths) return nullptr;
  if (outLength) *outLength = row->lengths[i];
  return row->values[i];
}

const void* GetColumnValue(const char* tableName, const char* columnName, const char* criteria,
                           int32_t* outLength) {
  LogTrace("@@@ Inside GetColumnValue @@@\n");
  ResultData* result = SelectRows(tableName, criteria);
  if (!result) {
    LogError("Error in executing SelectRows(%s,%s)\n", tableName, criteria);
    return nullptr;
  }
  if (!GotoNextRowObject(result)) {
    LogTrace("No such row available in the %s for %s", tableName, criteria);
    FreeResultData(result);
    return nullptr;
  }
  const void* value = GetColumnValueByName(columnName, outLength, result);
  FreeResultData(result);
  if (!value) LogError("columnValue is NULL for :%s\n", columnName);
  return value;
}

uint8_t GetColumnTypeByName(const char* columnName, const ResultData* result) {
  LogTrace("@@@ Inside GetColumnTypeByName @@@\n");
  if (!result || !columnName) return 0;
  for (VectorNode* n = ElementAt(ResultColumns(result), 0); n; n = n->next) {
    // A view column is found by its base-table column's name.
    const ColumnDefn* column = result->kind == TABLE_KIND_VIEW
                                   ? static_cast<const ViewColumnDefn*>(n->element)->column
                                   : static_cast<const ColumnDefn*>(n->element);
    if (column && CompareStringsNoCase(column->name, columnName) == 0) return column->type;
  }
  return 0;
}

const char* GetColumnNameByIndex(int32_t index, const ResultData* result) {
  LogTrace("@@@ Inside GetColumnNameByIndex @@@\n");
  if (!result) return nullptr;
  const VectorNode* n = ElementAt(ResultColumns(result), index);
  return n ? ColumnNameOf(result->kind, n) : nullptr;
}

const char* GetTableNameFromResultData(const ResultData* result) {
  LogTrace("@@@ Inside GetTableNameFromResultData @@@\n");
  if (!result) return nullptr;
  if (result->kind == TABLE_KIND_TABLE && result->tableDefn) return result->tableDefn->name;
  if (result->kind == TABLE_KIND_VIEW && result->viewDefn && result->viewDefn->tableCount > 0)
    return result->viewDefn->tableNames[0];
  return nullptr;
}

bool SortResultSet(ResultData* result, const char* columnName, uint8_t ascending) {
  LogTrace("@@@ Inside SortResultSet @@@\n");
  if (!result || !columnName) return false;
  const uint8_t kind = result->tableDefn ? TABLE_KIND_TABLE : TABLE_KIND_VIEW;
  Vector* columns = ColumnList(kind, result->tableDefn, result->viewDefn);
  if (!columns || columns->count == 0) return false;
  const int32_t index = FindColumnIndex(kind, columns, columnName);
  if (index < 0) return false;
  if (result->firstNode && !result->firstNode->next) {
    if (result->rowCount != 1) return false;
    LogDebug("Number of Rows is 1 for the Relvar to be Sorted \n");
    return true;
  }
  size_t count = 0;
  for (ResultNode* n = result->firstNode; n; n = n->next) ++count;
  if (count == 0) return true;
  ResultNode** nodes = static_cast<ResultNode**>(malloc(count * sizeof(ResultNode*)));
  if (!nodes) return false;
  size_t i = 0;
  for (ResultNode* n = result->firstNode; n; n = n->next) nodes[i++] = n;
  const uint8_t type = ColumnTypeOf(kind, ElementAt(columns, index));
  // Stable both ways: equal values keep their order.
  std::stable_sort(nodes, nodes + count, [&](const ResultNode* a, const ResultNode* b) {
    const int order = RowOrder(a->row, b->row, index, type);
    return ascending == 1 ? order < 0 : order > 0;
  });
  for (i = 0; i + 1 < count; ++i) nodes[i]->next = nodes[i + 1];
  nodes[count - 1]->next = nullptr;
  result->firstNode = nodes[0];
  free(nodes);
  return true;
}
