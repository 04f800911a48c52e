// Tables, views and rows of the table-data store (see tabledata.h): the
// process-wide table list, creation and release, and the row changes that
// notify listeners.
#include <cstdlib>
#include <cstring>

#include "agent/log/logger.h"
#include "tabledata/store/notification.h"
#include "tabledata/store/rowvalue.h"
#include "tabledata/store/sequence.h"
#include "tabledata/store/storeinternal.h"
#include "tabledata/strutil.h"
#include "tabledata/values/valuetypes.h"

namespace {

// Rows removed while a row walk is open on this thread, with the column count
// their values were made for; freed when the outermost walk ends. The list
// doubles as it fills, so a walk whose listeners remove a million rows
// allocates for them a few dozen times, not a million.
struct RemovedRow {
  RowObject* row;
  int32_t columnCount;
};
thread_local int32_t t_walkDepth = 0;
thread_local RemovedRow* t_removed = nullptr;
thread_local size_t t_removedCount = 0;
thread_local size_t t_removedCapacity = 0;

// Room for one more removed row; false when the list cannot grow.
bool RoomForRemovedRow() {
  if (t_removedCount < t_removedCapacity) return true;
  const size_t capacity = t_removedCapacity ? 2 * t_removedCapacity : 64;
  RemovedRow* grown = static_cast<RemovedRow*>(realloc(t_removed, capacity * sizeof(RemovedRow)));
  if (!grown) return false;
  t_removed = grown;
  t_removedCapacity = capacity;
  return true;
}

Vector& TableList() {
  static Vector tables{nullptr, 0, nullptr, nullptr};
  return tables;
}

Vector* ColumnsOf(const TableData* table) { return ColumnList(table->kind, table->tableDefn, table->viewDefn); }

// Appends a new record to the table list; false (nothing kept) when that fails.
bool AddTable(const char* name, uint8_t kind, TableDefn* tableDefn, CustomViewDefn* viewDefn) {
  TableData* table = static_cast<TableData*>(calloc(1, sizeof(TableData)));
  if (!table || DuplicateString(&table->name, name) != 1) {
    free(table);
    return false;
  }
  table->kind = kind;
  table->tableDefn = tableDefn;
  table->viewDefn = viewDefn;
  Vector* columns = ColumnsOf(table);
  table->columnCount = columns ? columns->count : 0;
  if (!AddElementData(&TableList(), table)) {
    free(table->name);
    free(table);
    return false;
  }
  return true;
}

// A value in its type's own form: integers of codes 1 to 4 given in 1 or 2
// bytes are widened to the 4 bytes that every reader takes. False when the
// wider buffer cannot be had (the value is then left as it was).
bool WidenValue(void** value, int32_t* length, uint8_t type) {
  if (!*value || type < ORV_SQL_TINYINT || type > ORV_SQL_UNSIGNED_SMALLINT || (*length != 1 && *length != 2))
    return true;
  const bool isSigned = type == ORV_SQL_TINYINT || type == ORV_SQL_SMALLINT;
  const unsigned char* bytes = static_cast<const unsigned char*>(*value);
  int32_t wide = 0;
  if (*length == 1) {
    wide = isSigned ? static_cast<int8_t>(bytes[0]) : bytes[0];
  } else {
    uint16_t half = 0;
    memcpy(&half, bytes, 2);
    wide = isSigned ? static_cast<int16_t>(half) : half;
  }
  char* widened = nullptr;
  if (DuplicateBytes(&widened, &wide, 4) != 1) return false;
  free(*value);
  *value = widened;
  *length = 4;
  return true;
}

// A generated ID in the column's integer form; -1 is never stored.
bool StoreGeneratedID(RowObject* row, int32_t i, const char* tableName, const ColumnDefn* column) {
  const int32_t id = GenerateID(tableName, column);
  if (id == -1) return true;
  const int64_t wide = id;
  const int32_t length = column->type == ORV_SQL_BIGINT || column->type == ORV_SQL_UNSIGNED_LONG_INT ? 8 : 4;
  char* value = nullptr;
  if (DuplicateBytes(&value, length == 8 ? static_cast<const void*>(&wide) : &id, length) != 1) return false;
  row->values[i] = value;
  row->lengths[i] = length;
  return true;
}

// Fills the absent values of a table row from generators, then defaults, and
// puts every value in its type's own form. False when memory runs out.
bool CompleteRow(RowObject* row, const TableData* table, const char* tableName) {
  int32_t i = 0;
  for (VectorNode* n = ElementAt(ColumnsOf(table), 0); n && i < table->columnCount; n = n->next, ++i) {
    const uint8_t type = ColumnTypeOf(table->kind, n);
    if (table->kind == TABLE_KIND_TABLE) {
      // Views get no generated or default values: their columns are only
      // references to the base tables' columns.
      const ColumnDefn* column = static_cast<const ColumnDefn*>(n->element);
      if (!row->values[i] && column->generatorName && !StoreGeneratedID(row, i, tableName, column)) return false;
      if (!row->values[i] && column->defaultValue) {
        char* value = nullptr;
        if (DuplicateBytes(&value, column->defaultValue, column->defaultLength) != 1) return false;
        row->values[i] = value;
        row->lengths[i] = column->defaultLength;
      }
    }
    if (!WidenValue(&row->values[i], &row->lengths[i], type)) return false;
  }
  return true;
}

bool IsPrimaryKey(const TableDefn* defn, const char* columnName) {
  const ConstraintDefn* keys = defn ? defn->constraints : nullptr;
  for (int32_t k = 0; keys && k < keys->primaryKeyCount; ++k)
    if (CompareStringsNoCase(keys->primaryKeys[k], columnName) == 0) return true;
  return false;
}

// Takes a row out of its table's list, wherever it stands.
void Unlink(TableData* table, RowObject* row) {
  if (row->prev)
    row->prev->next = row->next;
  else
    table->firstRow = row->next;
  if (row->next)
    row->next->prev = row->prev;
  else
    table->lastRow = row->prev;
  row->next = nullptr;
  row->prev = nullptr;
  row->table = nullptr;
  --table->rowCount;
}

// Unlinks a row that is not stored and frees it, after telling the listeners.
// Within a row walk a row is freed when the walk ends, unless the walk itself
// removes it with no walk around its own (the walk never comes back to a row
// it has visited, and nobody else holds it): a callback, or a caller that
// opened a walk of its own, may still hold the row. False when the row is not
// in this table, or when its removal must be recorded and cannot be.
bool RemoveRow(TableData* table, RowObject* row) {
  if (row->table != table) return false;
  const bool held = t_walkDepth > 1 || (t_walkDepth == 1 && IsSendingNotification());
  if (held && !RoomForRemovedRow()) return false;
  // Recorded before the listeners run: one of them may remove rows too.
  if (held) t_removed[t_removedCount++] = {row, table->columnCount};
  Unlink(table, row);
  SendNotification(row, table->name);
  if (!held) FreeRowObject(row, table->columnCount);
  return true;
}

// Whether length bytes can be a value of a column of type: integers of codes
// 1 to 4 in 1, 2 or 4 bytes (widened afterwards), the other types of a fixed
// width in exactly that, texts and byte strings in any length.
bool FitsColumnType(uint8_t type, int32_t length) {
  if (type >= ORV_SQL_TINYINT && type <= ORV_SQL_UNSIGNED_SMALLINT) return length == 1 || length == 2 || length == 4;
  const int32_t width = FixedValueWidth(type);
  return width == 0 || length == width;
}

}  // namespace

Vector* ColumnList(uint8_t kind, const TableDefn* tableDefn, const CustomViewDefn* viewDefn) {
  if (kind == TABLE_KIND_TABLE) return tableDefn ? tableDefn->columns : nullptr;
  if (kind == TABLE_KIND_VIEW) return viewDefn ? viewDefn->columns : nullptr;
  return nullptr;
}

const char* ColumnNameOf(uint8_t kind, const VectorNode* column) {
  if (kind == TABLE_KIND_VIEW) return static_cast<const ViewColumnDefn*>(column->element)->name;
  return static_cast<const ColumnDefn*>(column->element)->name;
}

uint8_t ColumnTypeOf(uint8_t kind, const VectorNode* column) {
  if (kind == TABLE_KIND_VIEW) {
    const ColumnDefn* base = static_cast<const ViewColumnDefn*>(column->element)->column;
    return base ? base->type : 0;
  }
  return static_cast<const ColumnDefn*>(column->element)->type;
}

int32_t FindColumnIndex(uint8_t kind, Vector* columns, const char* name) {
  if (!name) return -1;
  int32_t i = 0;
  for (VectorNode* n = columns ? ElementAt(columns, 0) : nullptr; n; n = n->next, ++i)
    if (CompareStringsNoCase(ColumnNameOf(kind, n), name) == 0) return i;
  return -1;
}

bool CreateTable(const char* tableName) {
  LogTrace("@@@ Inside CreateTable @@@\n");
  TableDefn* defn = GetTableDefn(tableName);
  if (!defn || GetTableDataByName(tableName)) return false;
  return AddTable(tableName, TABLE_KIND_TABLE, defn, nullptr);
}

bool CreateCustomViewData(const char* viewName, CustomViewDefn* viewDefn) {
  LogTrace("@@@ Inside CreateCustomViewData @@@\n");
  if (!viewName || GetTableDataByName(viewName) || !AddTable(viewName, TABLE_KIND_VIEW, nullptr, viewDefn)) {
    FreeCustomViewDefn(viewDefn);
    return false;
  }
  return true;
}

CustomViewDefn* CreateCustomViewDefn(uint8_t tableCount, const char* const* tableNames, Vector* columns) {
  LogTrace("\t@@@@@ Inside CreateCustomViewDefn() @@@@@\n");
  CustomViewDefn* defn = static_cast<CustomViewDefn*>(calloc(1, sizeof(CustomViewDefn)));
  char** names = static_cast<char**>(calloc(tableCount + 1u, sizeof(char*)));
  bool ok = defn && names;
  for (uint8_t i = 0; ok && i < tableCount; ++i) ok = DuplicateString(&names[i], tableNames ? tableNames[i] : nullptr) == 1;
  if (!ok) {
    LogError("Could not allocate memory for CustomViewDefn\n");
    FreeStringArray(names, tableCount);
    free(defn);
    return nullptr;
  }
  defn->tableCount = tableCount;
  defn->tableNames = names;
  defn->columns = columns;
  return defn;
}

ViewColumnDefn* CreateViewColumnDefn(const char* name, int32_t number, uint8_t flag, ColumnDefn* column) {
  LogTrace("\t@@@@@ Inside CreateViewColumnDefn() @@@@@\n");
  ViewColumnDefn* viewColumn = static_cast<ViewColumnDefn*>(calloc(1, sizeof(ViewColumnDefn)));
  if (!viewColumn || DuplicateString(&viewColumn->name, name) != 1) {
    LogError("Could not allocate memory for ViewColumnDefn\n");
    free(viewColumn);
    return nullptr;
  }
  viewColumn->number = number;
  viewColumn->flag = flag;
  viewColumn->column = column;
  return viewColumn;
}

void FreeCustomViewDefn(CustomViewDefn* viewDefn) {
  LogTrace("\t@@@@@ Inside FreeCustomViewDefn() @@@@@\n");
  if (!viewDefn) return;
  if (Vector* columns = viewDefn->columns) {
    for (VectorNode* n = ElementAt(columns, 0); n; n = n->next) {
      ViewColumnDefn* column = static_cast<ViewColumnDefn*>(n->element);
      free(column->name);
      free(column);
    }
    FreeVector(columns);
    free(columns);
  }
  FreeStringArray(viewDefn->tableNames, viewDefn->tableCount);
  free(viewDefn);
}

Vector* GetTableList() { return &TableList(); }

TableData* GetTableDataByName(const char* name) {
  LogTrace("@@@ Inside GetTableDataByName @@@\n");
  if (!name) return nullptr;
  for (VectorNode* n = ElementAt(&TableList(), 0); n; n = n->next) {
    TableData* table = static_cast<TableData*>(n->element);
    if (table->name && CompareStringsNoCase(table->name, name) == 0) return table;
  }
  return nullptr;
}

int8_t SortTableByName(VectorNode* newNode, VectorNode* existingNode) {
  LogTrace("@@@ Inside SortTableByName @@@\n");
  return CompareStrings(static_cast<const TableData*>(newNode->element)->name,
                        static_cast<const TableData*>(existingNode->element)->name);
}

void FreeTableData(TableData* table) {
  LogTrace("\t@@@@@ Inside FreeTableData() @@@@@\n");
  if (!table || !table->name) return;
  LogTrace("\t %s is being freed\n", table->name);
  RowObject* row = table->firstRow;
  while (row) {
    RowObject* next = row->next;
    FreeRowObject(row, table->columnCount);
    row = next;
  }
  if (table->kind == TABLE_KIND_VIEW) FreeCustomViewDefn(table->viewDefn);
  free(table->name);
  // The record stays in the list, empty, and lookups pass over it.
  table->name = nullptr;
  table->tableDefn = nullptr;
  table->viewDefn = nullptr;
  table->firstRow = nullptr;
  table->lastRow = nullptr;
  table->rowCount = 0;
  table->columnCount = 0;
}

const char* GetTableNameOfView(const char* name) {
  LogTrace("@@@ Inside GetTableNameOfView @@@\n");
  const TableData* table = GetTableDataByName(name);
  if (table && table->kind == TABLE_KIND_VIEW && table->viewDefn && table->viewDefn->tableCount > 0)
    return table->viewDefn->tableNames[0];
  return name;
}

RowObject* CreateNewRowObject(void** values, int32_t* lengths) {
  LogTrace("@@@ Inside CreateNewRowObject @@@\n");
  if (!values || !lengths) return nullptr;
  RowObject* row = static_cast<RowObject*>(malloc(sizeof(RowObject)));
  if (!row) return nullptr;
  row->values = values;
  row->lengths = lengths;
  row->state = ROW_NEW;
  row->next = nullptr;
  row->prev = nullptr;
  row->table = nullptr;
  return row;
}

void FreeRowObject(RowObject* row, int32_t columnCount) {
  LogTrace("@@@ Inside FreeRowObject @@@\n");
  if (!row) return;
  for (int32_t i = 0; row->values && i < columnCount; ++i) free(row->values[i]);
  free(row->values);
  free(row->lengths);
  free(row);
}

bool AddNewRow(const char* tableName, RowObject* row) {
  LogTrace("@@@ Inside AddNewRow @@@\n");
  TableData* table = GetTableDataByName(tableName);
  if (!table || !row) return false;
  Vector* columns = ColumnsOf(table);
  if (!columns || columns->count == 0 || !CompleteRow(row, table, tableName)) return false;
  row->next = nullptr;
  row->prev = table->lastRow;
  row->table = table;
  if (table->lastRow)
    table->lastRow->next = row;
  else
    table->firstRow = row;
  table->lastRow = row;
  ++table->rowCount;
  SendNotification(row, table->name);
  return true;
}

bool UpdateRowObject(const char* tableName, RowObject* row, const char* columnName, const void* bytes,
                     int32_t length) {
  LogTrace("@@@ Inside UpdateRowObject @@@\n");
  TableData* table = GetTableDataByName(tableName);
  if (!table) return false;
  if (!row) {
    LogError("\t@@@@@ rowPtr passed as parameter in NULL @@@@@ \n");
    return false;
  }
  if (table->kind == TABLE_KIND_TABLE && IsPrimaryKey(table->tableDefn, columnName)) {
    LogError("@@@ UpdateRowObject Failed as PrimaryKey is being updated @@@\n");
    return false;
  }
  Vector* columns = ColumnsOf(table);
  const int32_t i = FindColumnIndex(table->kind, columns, columnName);
  if (i < 0 || i >= table->columnCount) return false;
  const uint8_t type = ColumnTypeOf(table->kind, ElementAt(columns, i));
  // No bytes and no length clear the value; a value that no statement could
  // write for the column's type is refused, so that the row can still be saved.
  const bool clearing = !bytes && length == 0;
  if (!clearing && (!bytes || !FitsColumnType(type, length))) {
    LogError("@@@ UpdateRowObject Failed as %d bytes do not fit the type of %s @@@\n", length, columnName);
    return false;
  }
  void* value = nullptr;
  if (!clearing && DuplicateBytes(reinterpret_cast<char**>(&value), bytes, length) != 1) return false;
  if (!WidenValue(&value, &length, type)) {
    free(value);
    return false;
  }
  void* old = row->values[i];
  row->values[i] = value;
  row->lengths[i] = length;
  row->state |= ROW_MODIFIED;
  SendNotification(row, table->name);
  free(old);
  return true;
}

bool DeleteRowObject(const char* tableName, RowObject* row) {
  LogTrace("@@@ Inside DeleteRowObject @@@\n");
  if (!row) return false;
  if (row->state & ROW_STORED) {
    // It stays until the database layer has deleted it there.
    row->state |= ROW_DELETED;
    return true;
  }
  TableData* table = GetTableDataByName(tableName);
  return table && RemoveRow(table, row);
}

bool DeleteRowObjectByCriteria(const char* tableName, const char* criteria) {
  LogTrace("@@@ Inside DeleteRowObjectByCriteria @@@\n");
  const TableData* table = criteria ? GetTableDataByName(tableName) : nullptr;
  if (!table) return false;
  // The matching rows are collected and the criteria lock released before the
  // first delete, so that a listener may select with criteria of its own. A
  // listener may also delete collected rows before their turn: within the
  // walk they stay readable, and deleting them again finds them gone.
  RowWalk walk;
  ResultData* matching = CollectMatchingRows(table, criteria);
  if (!matching) return false;
  for (ResultNode* node = matching->firstNode; node; node = node->next) DeleteRowObject(tableName, node->row);
  FreeResultData(matching);
  return true;
}

bool DeleteAllTableRowObjects(const char* tableName) {
  LogTrace("@@@ Inside DeleteAllTableRowObjects @@@\n");
  if (!tableName) {
    LogError("\t tableName NULL \n");
    return false;
  }
  TableData* table = GetTableDataByName(tableName);
  if (!table) {
    LogError("\t GetTableDataByName returned NULL \n");
    return false;
  }
  Vector* columns = ColumnsOf(table);
  if (table->kind != TABLE_KIND_TABLE || !columns || columns->count == 0) return false;
  return ForEachTableRow(
      table, [](RowObject* row, void* owner) { DeleteRowObject(static_cast<TableData*>(owner)->name, row); }, table);
}

void BeginRowWalk() { ++t_walkDepth; }

void EndRowWalk() {
  if (t_walkDepth <= 0 || --t_walkDepth > 0) return;
  // Freeing calls no listener, so no row is removed while this runs.
  for (size_t i = 0; i < t_removedCount; ++i) FreeRowObject(t_removed[i].row, t_removed[i].columnCount);
  free(t_removed);
  t_removed = nullptr;
  t_removedCount = 0;
  t_removedCapacity = 0;
}

bool ForEachTableRow(TableData* table, void (*visit)(RowObject* row, void* context), void* context) {
  if (!table || !visit) return false;
  RowWalk walk;
  const int32_t count = table->rowCount;
  if (count <= 0) return true;
  RowObject** rows = static_cast<RowObject**>(malloc(static_cast<size_t>(count) * sizeof(RowObject*)));
  if (!rows) return false;
  int32_t listed = 0;
  for (RowObject* row = table->firstRow; row && listed < count; row = row->next) rows[listed++] = row;
  for (int32_t i = 0; i < listed; ++i)
    if (rows[i]->table == table) visit(rows[i], context);
  free(rows);
  return true;
}
