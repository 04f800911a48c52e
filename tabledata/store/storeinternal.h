// Inside the table-data store: the column list of a table or result (the
// definition's ColumnDefn entries for a table, ViewColumnDefn entries for a
// view) and the selection shared by SelectRows and DeleteRowObjectByCriteria.
#pragma once
#include <cstdint>

#include "tabledata/store/tabledata.h"

// The column list of a kind-1 or kind-2 record, or null.
Vector* ColumnList(uint8_t kind, const TableDefn* tableDefn, const CustomViewDefn* viewDefn);
// The name shown for a column of such a list, and the type of its values
// (for a view, the base-table column's type).
const char* ColumnNameOf(uint8_t kind, const VectorNode* column);
uint8_t ColumnTypeOf(uint8_t kind, const VectorNode* column);
// The 0-based position of a column named `name` (without regard to case), or -1.
int32_t FindColumnIndex(uint8_t kind, Vector* columns, const char* name);

// The rows of a table that satisfy a criteria text, in table order, into a new
// result: parsed, bound and evaluated under the criteria lock. Null for a text
// that does not parse, a view or a table without columns, or when out of memory.
ResultData* CollectMatchingRows(const TableData* table, const char* criteria);
