// The table-data store: a process-wide list of named in-memory tables and
// custom views whose rows follow the column layout of the data dictionary,
// selected with a criteria text into result sets that are walked with a cursor.
#pragma once
#include <cstdint>

#include "tabledata/dict/dictionary.h"
#include "tabledata/vector.h"

// Row states (a bit set).
enum RowState : uint8_t {
  ROW_STORED = 1,    // in the database as it is
  ROW_NEW = 2,
  ROW_MODIFIED = 4,
  ROW_DELETED = 8,   // a stored row waiting to be deleted in the database
};

// Kinds of TableData and ResultData.
enum TableKind : uint8_t { TABLE_KIND_TABLE = 1, TABLE_KIND_VIEW = 2 };

struct TableData;

// One row. values[i] is a malloc'd buffer of lengths[i] bytes plus a zero byte
// (null for an SQL null), in the table's column order. The first four fields
// are the row as callers read it; the last two belong to the table's list,
// which they let unlink a row wherever it stands.
struct RowObject {
  void** values;
  int32_t* lengths;
  uint8_t state;  // RowState bits
  RowObject* next;
  RowObject* prev = nullptr;    // the row before it in its table; null for the first
  TableData* table = nullptr;   // the table whose list holds the row; null while in none
};

// One column of a custom view: its name and the base-table column it shows.
struct ViewColumnDefn {
  char* name;
  int32_t number;
  uint8_t flag;
  ColumnDefn* column;  // owned by the data dictionary
};

// A custom view over base tables; the first table is the view's main table.
struct CustomViewDefn {
  uint8_t tableCount;
  char** tableNames;
  Vector* columns;  // of ViewColumnDefn
};

// One table (kind 1, described by tableDefn) or custom view (kind 2, by
// viewDefn). Rows stay in the order of addition; lastRow makes appending
// constant time. A record freed by FreeTableData stays in the list with no
// name and no rows, and lookups pass over it.
struct TableData {
  char* name;
  uint8_t kind;
  TableDefn* tableDefn;
  CustomViewDefn* viewDefn;
  int32_t columnCount;
  int32_t rowCount;
  RowObject* firstRow;
  RowObject* lastRow;
};

struct ResultNode {
  RowObject* row;
  ResultNode* next;
};

// The answer of a selection: references to rows of one table, in table
// order, and a cursor (null = before the first row; while the result is being
// filled, the last node). The rows stay the table's.
struct ResultData {
  ResultNode* firstNode;
  uint8_t kind;
  TableDefn* tableDefn;
  CustomViewDefn* viewDefn;
  int32_t rowCount;
  int32_t columnCount;
  ResultNode* cursor;
};

// Tables and views.
bool CreateTable(const char* tableName);
// Takes the definition: it is the view's from then on, also when this fails.
bool CreateCustomViewData(const char* viewName, CustomViewDefn* viewDefn);
// A view definition holding copies of the table names and the column vector
// itself (ViewColumnDefn entries, now the definition's); null when out of
// memory (the vector then stays the caller's).
CustomViewDefn* CreateCustomViewDefn(uint8_t tableCount, const char* const* tableNames, Vector* columns);
// A view column with a copy of the name; null when out of memory.
ViewColumnDefn* CreateViewColumnDefn(const char* name, int32_t number, uint8_t flag, ColumnDefn* column);
void FreeCustomViewDefn(CustomViewDefn* viewDefn);
TableData* GetTableDataByName(const char* name);
// The process-wide table list (of TableData), in creation order.
Vector* GetTableList();
// Comparator of two table-list nodes by name, case-sensitive.
int8_t SortTableByName(VectorNode* newNode, VectorNode* existingNode);
// Frees the name, the rows and a view's definition; the record stays listed, empty.
void FreeTableData(TableData* table);
// For a view its first base table's name, else name itself.
const char* GetTableNameOfView(const char* name);

// Rows. Values given to AddNewRow and UpdateRowObject enter in their type's
// own form (integers of codes 1 to 4 given in 1 or 2 bytes are widened to 4).
// A new row (state 2) owning both malloc'd arrays; null when out of memory.
RowObject* CreateNewRowObject(void** values, int32_t* lengths);
void FreeRowObject(RowObject* row, int32_t columnCount);
// Fills absent values of a table row from generators and defaults, appends the
// row (which the table then owns) and notifies listeners. A listener may
// delete the row again: outside a row walk it is then gone when this returns.
bool AddNewRow(const char* tableName, RowObject* row);
// Replaces one value with a copy of bytes, or clears it (bytes null, length
// 0). Refused for a primary-key column, and for a length that no value of the
// column's type has: integers of codes 1 to 4 take 1, 2 or 4 bytes, the other
// fixed types exactly their width, texts and byte strings any length.
bool UpdateRowObject(const char* tableName, RowObject* row, const char* columnName, const void* bytes,
                     int32_t length);
// Marks a stored row deleted (state | 8), or removes and frees any other row
// (false when the row is not in that table).
bool DeleteRowObject(const char* tableName, RowObject* row);
bool DeleteRowObjectByCriteria(const char* tableName, const char* criteria);
bool DeleteAllTableRowObjects(const char* tableName);

// Row walks. Listeners run inside the store's operations and may delete rows
// there, also rows that the operation, or the caller around it, is about to
// visit. While a walk is open on a thread, a row that a listener removes on
// that thread, or that is removed inside a walk that a caller opened, is
// unlinked at once (its table field becomes null) but freed only when the
// outermost walk ends, so whoever holds it can still see that it is gone; a
// row that the outermost walk removes itself is freed at once, as outside a
// walk. Every operation below that walks rows is one; a caller that goes on
// using rows across calls that notify listeners opens one of its own (RowWalk).
void BeginRowWalk();
void EndRowWalk();
class RowWalk {
 public:
  RowWalk() { BeginRowWalk(); }
  ~RowWalk() { EndRowWalk(); }
  RowWalk(const RowWalk&) = delete;
  RowWalk& operator=(const RowWalk&) = delete;
};
// Calls visit for each row that the table holds when the call begins, in
// table order, passing over those no longer in the table when their turn
// comes, all within one row walk. False, with nothing visited, when the rows
// cannot be listed for want of memory.
bool ForEachTableRow(TableData* table, void (*visit)(RowObject* row, void* context), void* context);

// Selections. Results are the caller's (FreeResultData), to be freed before
// any of their rows is deleted.
ResultData* SelectRows(const char* tableName, const char* criteria);
ResultData* SelectRowByRowIdx(const char* tableName, int32_t position);
ResultData* CreateResultData(int32_t rowCount, int32_t columnCount, const TableData* table);
bool AddRowToResultData(RowObject* row, ResultData* result);
RowObject* GotoNextRowObject(ResultData* result);
void ResetResultDataCursor(ResultData* result);
void FreeResultData(ResultData* result);
// The value of a column of the row at the cursor; it points into the row.
const void* GetColumnValueByName(const char* columnName, int32_t* outLength, const ResultData* result);
const void* GetColumnValue(const char* tableName, const char* columnName, const char* criteria,
                           int32_t* outLength);
uint8_t GetColumnTypeByName(const char* columnName, const ResultData* result);
const char* GetColumnNameByIndex(int32_t index, const ResultData* result);
const char* GetTableNameFromResultData(const ResultData* result);
// Stable sort on one column; ascending == 1 ascending, else descending.
// Absent values come first (ascending); integers of the unsigned codes 2, 4
// and 6 are ordered as unsigned numbers.
bool SortResultSet(ResultData* result, const char* columnName, uint8_t ascending);

// Renderings: a header of column names, then one line per row, cells ended by
// "\t". Print* write at DEBUG; ToString* return a malloc'd text.
void PrintTableData(const char* tableName);
void PrintCustomViewData(const char* viewName);
void PrintResultData(const ResultData* result);
char* ToStringTableData(const char* tableName);
char* ToStringCustomViewData(const char* viewName);
