// Text renderings of tables, views and results (see tabledata.h): a header of
// column names, then one line per row with one cell per column in the format
// of its type. The pieces go one by one to the log, or into one growing text.
#include <string>

#include "agent/log/format.h"
#include "agent/log/logger.h"
#include "tabledata/store/rowvalue.h"
#include "tabledata/store/storeinternal.h"
#include "tabledata/values/datetime.h"
#include "tabledata/values/scan.h"

namespace {

// Where the pieces of a rendering go: each to the log at DEBUG, or appended
// to one text.
struct Rendering {
  bool toLog;
  std::string text;
  void Put(const std::string& piece) {
    if (toLog)
      LogDebug("%s", piece.c_str());
    else
      text += piece;
  }
};

// The text of a date, time or date-time value; "NULL" when it has neither part.
std::string DateTimeCell(const void* value, uint8_t type) {
  const std::optional<std::string> text = DateTimeValueText(value, type);
  return FormatText("%s\t", text ? text->c_str() : "NULL");
}

// One cell; types without a cell format write nothing.
std::string Cell(const RowObject* row, int32_t index, uint8_t type) {
  int32_t length = 0;
  const void* value = ReadableValue(row, index, type, &length);
  switch (type) {
    case ORV_SQL_TINYINT:
    case ORV_SQL_UNSIGNED_TINYINT:
    case ORV_SQL_SMALLINT:
    case ORV_SQL_INT:
    case ORV_SQL_UNSIGNED_INT:
      if (value) return FormatText("%d\t", ValueAs<int32_t>(value));
      break;
    case ORV_SQL_BIGINT:
      if (value) return FormatText("%lld\t", static_cast<long long>(ValueAs<int64_t>(value)));
      break;
    case ORV_SQL_FLOAT:
      if (value) return FormatText("%f\t", static_cast<double>(ValueAs<float>(value)));
      break;
    case ORV_SQL_DOUBLE:
      if (value) return FormatText("%f\t", ValueAs<double>(value));
      break;
    case ORV_SQL_CHAR:
    case ORV_SQL_NCHAR:
    case ORV_SQL_TEXT:
      if (value)
        return FormatText("%.*s\t", static_cast<int>(ComparedLength(value, length, type)),
                          static_cast<const char*>(value));
      break;
    case ORV_SQL_DATE:
    case ORV_SQL_TIME:
    case ORV_SQL_DATETIME:
      if (value) return DateTimeCell(value, type);
      break;
    case ORV_SQL_BOOLEAN:
      if (value) return FormatText("%d\t", ValueAs<uint8_t>(value));
      break;
    default:
      return std::string();
  }
  return "NULL\t";
}

// Renders the rows of a table, view or result; false (nothing written) when
// it has no columns.
template <typename NextRow>
bool Render(Rendering& out, uint8_t kind, Vector* columns, NextRow nextRow) {
  if (!columns || columns->count == 0) return false;
  for (VectorNode* n = ElementAt(columns, 0); n; n = n->next) out.Put(FormatText("%s\t", ColumnNameOf(kind, n)));
  out.Put("\n");
  while (const RowObject* row = nextRow()) {
    int32_t i = 0;
    for (VectorNode* n = ElementAt(columns, 0); n; n = n->next, ++i) out.Put(Cell(row, i, ColumnTypeOf(kind, n)));
    out.Put("\n");
  }
  return true;
}

bool RenderTable(Rendering& out, const TableData* table) {
  const RowObject* row = table->firstRow;
  return Render(out, table->kind, ColumnList(table->kind, table->tableDefn, table->viewDefn), [&row] {
    const RowObject* current = row;
    if (row) row = row->next;
    return current;
  });
}

// A new text of a table's or view's rendering, also written at TRACE; null
// for an unknown name or a table without columns.
char* RenderToString(const TableData* table) {
  Rendering out{false, std::string()};
  if (!table || !RenderTable(out, table)) return nullptr;
  char* text = NewText(out.text);
  if (text) LogTrace("String Value of Relvar Data\n %s\n", text);
  return text;
}

}  // namespace

void PrintTableData(const char* tableName) {
  LogTrace("@@@ Inside PrintTableData @@@\n");
  const TableData* table = GetTableDataByName(tableName);
  if (!table) return;
  if (table->kind == TABLE_KIND_VIEW) return PrintCustomViewData(tableName);
  Rendering out{true, std::string()};
  RenderTable(out, table);
}

void PrintCustomViewData(const char* viewName) {
  LogTrace("@@@ Inside PrintCustomViewData @@@\n");
  const TableData* view = GetTableDataByName(viewName);
  if (!view || view->kind != TABLE_KIND_VIEW) return;
  Rendering out{true, std::string()};
  RenderTable(out, view);
}

void PrintResultData(const ResultData* result) {
  LogTrace("\t@@@@@ Inside PrintResultData() @@@@@\n");
  if (!result) return;
  Rendering out{true, std::string()};
  const ResultNode* node = result->firstNode;
  Render(out, result->kind, ColumnList(result->kind, result->tableDefn, result->viewDefn), [&node] {
    // Rows marked deleted are left out.
    while (node && node->row && (node->row->state & ROW_DELETED)) node = node->next;
    const RowObject* row = node ? node->row : nullptr;
    if (node) node = node->next;
    return row;
  });
}

char* ToStringTableData(const char* tableName) {
  LogTrace("@@@ Inside ToStringTableData @@@\n");
  const TableData* table = GetTableDataByName(tableName);
  if (table && table->kind == TABLE_KIND_VIEW) return ToStringCustomViewData(tableName);
  return RenderToString(table);
}

char* ToStringCustomViewData(const char* viewName) {
  LogTrace("@@@ Inside ToStringCustomViewData @@@\n");
  const TableData* view = GetTableDataByName(viewName);
  return view && view->kind == TABLE_KIND_VIEW ? RenderToString(view) : nullptr;
}
