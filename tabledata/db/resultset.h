// The rows a database query answers, held in memory: column descriptions,
// rows of cells in column order and a cursor, and the conversion of the row at
// the cursor into a row of the table-data store.
#pragma once
#include <cstdint>

struct RowObject;

// A column of a query's result: its name and the store's type code (0 for a
// type the store has no code for; such cells keep the database's text).
struct ResultSetColumn {
  char* name;
  uint8_t type;
  uint8_t isUnsigned;  // an integer column of the database without sign
};

// One cell: value is a malloc'd buffer of length bytes plus a zero byte, or
// null for an SQL NULL. Its form follows the column's type code:
//   3, 5   a 4-byte integer (8 bytes when the database held a value that does
//          not fit 32 bits, so that nothing is cut)
//   7      an 8-byte integer
//   9, 10  a 4-byte float, an 8-byte double
//   16-18  an 11-byte OrvDateTimeValue holding the parts the text had
//   19     one byte, 1 or 0
//   20     the bytes as the database holds them
//   others the text as the database gives it (13, 14, 15, 0)
struct ResultSetCell {
  int32_t length;
  void* value;
};

// A row: columnCount cells (in the same allocation as the row).
struct ResultSetRow {
  ResultSetRow* next;
  ResultSetCell* cells;
};

// The answer of a query; the caller's, FreeResultSet releases it.
struct ResultSet {
  int32_t columnCount;
  int32_t rowCount;
  ResultSetColumn* columns;
  ResultSetRow* firstRow;
  ResultSetRow* lastRow;
  ResultSetRow* cursor;  // null: before the first row
};

// Building (for the providers). A result set of columnCount columns without
// names and rows; null when out of memory.
ResultSet* CreateResultSet(int32_t columnCount);
// Names column `index` (a copy) and gives it its type; false when out of memory
// or index is out of range.
bool SetResultSetColumn(ResultSet* resultSet, int32_t index, const char* name, uint8_t type, uint8_t isUnsigned);
// Appends a row of absent cells; null when out of memory.
ResultSetRow* AddResultSetRow(ResultSet* resultSet);

// The cursor: from before the first row to the first, else to the next; null
// after the last row, after which the next call starts again at the first.
ResultSetRow* GotoNextResultSetRow(ResultSet* resultSet);
void ResetResultSetCursor(ResultSet* resultSet);
// The cell value of the first column of that name (any case) in the row at the
// cursor, or null (also for an SQL NULL); *outLength gets the cell's length.
// The value points into the result set.
const void* GetResultSetColumnValue(const char* columnName, int32_t* outLength, const ResultSet* resultSet);
// The type code of the first column of that name (any case), or 0.
uint8_t GetResultSetColumnType(const char* columnName, const ResultSet* resultSet);
void FreeResultSet(ResultSet* resultSet);
// DEBUG: the column names, then each row, cells ended by "\t".
void PrintResultSet(const ResultSet* resultSet);

// The row at the cursor as a new row of the table's definition (state 1:
// stored), each column taken from the result column of its name (any case)
// and converted to the definition's type; a column the result lacks, or whose
// value cannot be read as its type, is absent. Null when there is no row at
// the cursor, the table has no definition, or memory runs out. The four are
// one conversion: the drivers' forms differ, not the dialects'.
RowObject* MysqlConvResultsetToRowobject(const char* tableName, const ResultSet* resultSet);
RowObject* PgsqlConvResultsetToRowobject(const char* tableName, const ResultSet* resultSet);
RowObject* FirebirdConvResultsetToRowobject(const char* tableName, const ResultSet* resultSet);
RowObject* SqliteConvResultsetToRowobject(const char* tableName, const ResultSet* resultSet);
