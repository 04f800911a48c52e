// The process-wide data dictionary (see dictionary.h): a vector of TableDefn
// in load order, its lookups, its debug dump and its release.
#include "tabledata/dict/dictionary.h"

#include <cstdlib>

#include "agent/log/logger.h"
#include "tabledata/dict/dictstore.h"
#include "tabledata/strutil.h"

namespace {

Vector& Dictionary() {
  static Vector dictionary{nullptr, 0, nullptr, nullptr};
  return dictionary;
}

TableDefn* FindTable(const char* tableName) {
  for (VectorNode* n = ElementAt(&Dictionary(), 0); n; n = n->next) {
    TableDefn* table = static_cast<TableDefn*>(n->element);
    if (CompareStringsNoCase(table->name, tableName) == 0) return table;
  }
  return nullptr;
}

// The column of a table, logging the two lookup errors; null when absent.
ColumnDefn* FindColumn(const char* tableName, const char* columnName) {
  if (!tableName || !columnName) {
    LogError("Cannot fetch default value;\n");
    return nullptr;
  }
  TableDefn* table = GetTableDefn(tableName);
  if (!table) {
    LogError("No definition found for table %s\n", tableName);
    return nullptr;
  }
  for (VectorNode* n = table->columns ? ElementAt(table->columns, 0) : nullptr; n; n = n->next) {
    ColumnDefn* column = static_cast<ColumnDefn*>(n->element);
    if (CompareStrings(column->name, columnName) == 0) return column;
  }
  return nullptr;
}

void FreeAllowedValues(AllowedValues* allowed) {
  if (!allowed) return;
  for (int32_t i = 0; i < allowed->valueCount; ++i) free(allowed->values[i]);
  free(allowed->values);
  free(allowed->from);
  free(allowed->to);
  free(allowed);
}

void FreeColumnDefn(ColumnDefn* column) {
  free(column->name);
  free(column->defaultValue);
  free(column->generatorName);
  free(column->description);
  FreeAllowedValues(column->allowedValues);
  free(column);
}

void FreeConstraintDefn(ConstraintDefn* constraints) {
  if (!constraints) return;
  for (int32_t i = 0; i < constraints->primaryKeyCount; ++i) free(constraints->primaryKeys[i]);
  free(constraints->primaryKeys);
  if (Vector* fks = constraints->foreignKeys) {
    for (VectorNode* n = ElementAt(fks, 0); n; n = n->next) {
      ForeignKeyDefn* fk = static_cast<ForeignKeyDefn*>(n->element);
      free(fk->localColumn);
      free(fk->referenceColumn);
      free(fk->referenceTable);
      free(fk);
    }
    FreeVector(fks);
    free(fks);
  }
  free(constraints);
}

}  // namespace

bool AddTableDefn(TableDefn* table) { return AddElementData(&Dictionary(), table); }

void DestroyTableDefn(TableDefn* table) {
  if (!table) return;
  if (Vector* columns = table->columns) {
    for (VectorNode* n = ElementAt(columns, 0); n; n = n->next) FreeColumnDefn(static_cast<ColumnDefn*>(n->element));
    FreeVector(columns);
    free(columns);
  }
  FreeConstraintDefn(table->constraints);
  free(table->name);
  free(table->description);
  free(table);
}

Vector* GetDataDictionary() { return &Dictionary(); }

TableDefn* GetTableDefn(const char* tableName) {
  if (!tableName) {
    LogError("Table Name is NULL.\n");
    return nullptr;
  }
  return FindTable(tableName);
}

ColumnDefn* GetColumnDefnEntry(const char* tableName, const char* columnName) {
  LogTrace("@@@@ Inside GetColumnDefnEntry @@@@\n");
  return FindColumn(tableName, columnName);
}

uint8_t GetColumnTypeByDefn(const char* tableName, const char* columnName) {
  const ColumnDefn* column = GetColumnDefnEntry(tableName, columnName);
  return column ? column->type : 0;
}

const void* GetDefaultValue(const char* tableName, const char* columnName, uint8_t* found) {
  LogTrace("@@@@ Inside GetDefaultValue @@@@\n");
  const ColumnDefn* column = FindColumn(tableName, columnName);
  if (found) *found = column ? 1 : 0;
  return column ? column->defaultValue : nullptr;
}

ForeignKeyDefn* GetForeignKeyByLocalColumn(const TableDefn* table, const char* localColumn) {
  if (!table || !table->constraints) {
    LogError("No constraint Definition \n");
    return nullptr;
  }
  if (!table->constraints->foreignKeys || table->constraints->foreignKeys->count == 0) {
    LogError("No Foreignkey Entries in Definition \n");
    return nullptr;
  }
  if (!localColumn) return nullptr;
  for (VectorNode* n = ElementAt(table->constraints->foreignKeys, 0); n; n = n->next) {
    ForeignKeyDefn* fk = static_cast<ForeignKeyDefn*>(n->element);
    if (CompareStringsNoCase(fk->localColumn, localColumn) == 0) return fk;
  }
  return nullptr;
}

void PrintTableDefn(const TableDefn* table) {
  if (!table || !table->columns || table->columns->count == 0) return;
  LogDebug("Table Name : %s\n", table->name);
  LogDebug("Description: %s\n", table->description);
  LogDebug("---------------------------------------\n\n");
  for (VectorNode* n = ElementAt(table->columns, 0); n; n = n->next) {
    const ColumnDefn* column = static_cast<const ColumnDefn*>(n->element);
    LogDebug("Column Name : %s\n", column->name);
    LogDebug("Column Type : %d\n", column->type);
    LogDebug("Unique Flag : %s\n", column->unique ? "TRUE" : "FALSE");
    LogDebug("Description : %s\n", column->description);
    LogDebug("---------------------------------------\n\n");
  }
  const ConstraintDefn* constraints = table->constraints;
  if (!constraints) return;
  for (int32_t i = 0; i < constraints->primaryKeyCount; ++i) LogDebug("Primary key : %s\n\n", constraints->primaryKeys[i]);
  if (!constraints->foreignKeys || constraints->foreignKeys->count == 0) return;
  LogDebug("Foreign key Constraints\n");
  LogDebug("********************************\n");
  for (VectorNode* n = ElementAt(constraints->foreignKeys, 0); n; n = n->next) {
    const ForeignKeyDefn* fk = static_cast<const ForeignKeyDefn*>(n->element);
    LogDebug("Column Name : %s\n", fk->localColumn);
    LogDebug("Ref Column  : %s\n", fk->referenceColumn);
    LogDebug("Tablename : %s\n", fk->referenceTable);
  }
  LogDebug("********************************\n");
}

void PrintDataDictionary() {
  for (VectorNode* n = ElementAt(&Dictionary(), 0); n; n = n->next) PrintTableDefn(static_cast<TableDefn*>(n->element));
}

void FreeDataDictionary() {
  Vector& dictionary = Dictionary();
  for (VectorNode* n = ElementAt(&dictionary, 0); n; n = n->next) DestroyTableDefn(static_cast<TableDefn*>(n->element));
  FreeVector(&dictionary);
}

void FreeTableDefn(const char* tableName) {
  TableDefn* table = tableName ? FindTable(tableName) : nullptr;
  if (!table) return;
  DeleteLCDVector(&Dictionary(), table);
  DestroyTableDefn(table);
}
