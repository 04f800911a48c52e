// The statements of one table: CREATE TABLE from its definition, and INSERT,
// UPDATE and DELETE of one row, keyed by the primary key.
#include <string>
#include <vector>

#include "agent/log/logger.h"
#include "tabledata/sql/sqlform.h"
#include "tabledata/strutil.h"
#include "tabledata/values/scan.h"
#include "tabledata/values/valuetypes.h"

namespace {

bool IsPrimaryKey(const TableDefn* table, const char* columnName) {
  const ConstraintDefn* constraints = table->constraints;
  if (!constraints) return false;
  for (int32_t i = 0; i < constraints->primaryKeyCount; ++i)
    if (CompareStringsNoCase(constraints->primaryKeys[i], columnName) == 0) return true;
  return false;
}

// The literal of each column of a row, in definition order, with its column
// and whether it belongs to the primary key.
struct ColumnLiteral {
  const char* name;
  bool isKey;
  std::string literal;
};

// The literals of a row of a defined table with columns; none for an unknown
// table, no row, or a value that cannot be written (logged). keyCheck names
// the statement when every primary-key value must be present.
std::optional<std::vector<ColumnLiteral>> RowLiterals(const SqlDialectForm& form, const TableDefn* table,
                                                      const RowObject* row, const char* keyCheck) {
  if (!table || !table->columns || table->columns->count == 0 || !row || !row->values || !row->lengths)
    return std::nullopt;
  std::vector<ColumnLiteral> out;
  int32_t i = 0;
  for (VectorNode* n = ElementAt(table->columns, 0); n; n = n->next, ++i) {
    const ColumnDefn* column = static_cast<const ColumnDefn*>(n->element);
    std::optional<std::string> literal = SqlLiteral(form, column->type, row->values[i], row->lengths[i]);
    if (!literal) {
      LogUnsupportedDatatype();
      return std::nullopt;
    }
    const bool isKey = IsPrimaryKey(table, column->name);
    if (isKey && keyCheck && !row->values[i]) {
      LogError("Primary Key %s is NULL - Cannot generate %s query.\n", column->name, keyCheck);
      return std::nullopt;
    }
    out.push_back({column->name, isKey, std::move(*literal)});
  }
  return out;
}

// "name=literal" of the key columns (isKey) or of the others.
std::vector<std::string> Assignments(const std::vector<ColumnLiteral>& literals, bool isKey) {
  std::vector<std::string> out;
  for (const ColumnLiteral& c : literals)
    if (c.isKey == isKey) out.push_back(std::string(c.name) + "=" + c.literal);
  return out;
}

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

// The CREATE type of a column; none for a type that the dialect cannot declare.
std::optional<std::string> ColumnType(const SqlDialectForm& form, const ColumnDefn* column) {
  const char* type = column->type < sizeof form.columnTypes / sizeof form.columnTypes[0]
                         ? form.columnTypes[column->type]
                         : nullptr;
  if (!type) return std::nullopt;
  if (column->type == ORV_SQL_CHAR || column->type == ORV_SQL_NCHAR) return FormatText("%s(%d)", type, column->maxSize);
  return std::string(type);
}

// "\tname type clause" of one column; none when it cannot be declared or its
// default cannot be written. Dates, times and long texts take no default.
std::optional<std::string> ColumnLine(const SqlDialectForm& form, const ColumnDefn* column) {
  const std::optional<std::string> type = ColumnType(form, column);
  if (!type) return std::nullopt;
  std::string line = FormatText("\t%s %s", column->name, type->c_str());
  switch (column->type) {
    case ORV_SQL_DATE:
    case ORV_SQL_TIME:
    case ORV_SQL_DATETIME:
    case ORV_SQL_TEXT:
      break;
    default:
      if (column->defaultValue) {
        const std::optional<std::string> value =
            SqlLiteral(form, column->type, column->defaultValue, column->defaultLength);
        if (!value) return std::nullopt;
        line += " DEFAULT " + *value;
      } else {
        line += "  ";  // a single blank in place of the default clause
      }
      if (column->type == ORV_SQL_BOOLEAN) line += form.booleanLineEnd;
  }
  if (!column->nullable) line += " NOT NULL";
  if (column->unique) line += " UNIQUE";
  return line;
}

// One FOREIGN KEY line per referenced table (its local and referenced columns
// gathered from every fk-column pair naming it, in dictionary order), each
// with an INDEX line where the dialect has them. Cascading deletes are
// declared only for foreign keys that ask for them.
std::string ForeignKeyLines(const SqlDialectForm& form, const TableDefn* table) {
  const Vector* foreignKeys = table->constraints ? table->constraints->foreignKeys : nullptr;
  if (!foreignKeys) return std::string();
  struct Reference {
    const char* table;
    std::vector<std::string> local;
    std::vector<std::string> referenced;
    bool cascade;
  };
  std::vector<Reference> references;
  for (const VectorNode* n = foreignKeys->head; n; n = n->next) {
    const ForeignKeyDefn* fk = static_cast<const ForeignKeyDefn*>(n->element);
    if (!fk->referenceTable || !fk->localColumn || !fk->referenceColumn) continue;
    Reference* reference = nullptr;
    for (Reference& r : references)
      if (CompareStringsNoCase(r.table, fk->referenceTable) == 0) reference = &r;
    if (!reference) reference = &references.emplace_back(Reference{fk->referenceTable, {}, {}, true});
    reference->local.push_back(fk->localColumn);
    reference->referenced.push_back(fk->referenceColumn);
    reference->cascade = reference->cascade && fk->onDeleteCascade;
  }
  std::string lines;
  int32_t number = 0;
  for (const Reference& r : references) {
    const std::string local = Joined(r.local, ",");
    lines += FormatText(",\n\tFOREIGN KEY(%s) REFERENCES %s (%s)%s", local.c_str(), r.table,
                        Joined(r.referenced, ",").c_str(), r.cascade ? " ON DELETE CASCADE" : "");
    if (form.indexLines) lines += FormatText(",\n\tINDEX %s_IDX%d (%s)", table->name, ++number, local.c_str());
  }
  return lines;
}

}  // namespace

char* GenInsert(const SqlDialectForm& form, const char* tableName, const RowObject* row) {
  const TableDefn* table = GetTableDefn(tableName);
  const std::optional<std::vector<ColumnLiteral>> literals = RowLiterals(form, table, row, nullptr);
  if (!literals) return nullptr;
  std::string text = FormatText("insert into  %s values(", table->name);
  for (size_t i = 0; i < literals->size(); ++i) text += (i ? "," : "") + (*literals)[i].literal;
  text += ")";
  LogTrace("Insert query is @@@%s\n", text.c_str());
  char* query = NewText(text);
  if (!query) LogError("MEMORY_ALLOCATION_FAILURE - Cannot generate insert query.\n");
  return query;
}

char* GenUpdate(const SqlDialectForm& form, const char* tableName, const RowObject* row) {
  const TableDefn* table = GetTableDefn(tableName);
  const std::optional<std::vector<ColumnLiteral>> literals = RowLiterals(form, table, row, "update");
  if (!literals) return nullptr;
  const std::vector<std::string> keys = Assignments(*literals, true);
  const std::vector<std::string> others = Assignments(*literals, false);
  for (size_t k = 0; k < keys.size(); ++k) LogTrace("@@@ Update Query has Primary Key in Set clause @@@\n");
  if (keys.empty()) {
    LogError("No Primary Key in table %s - Cannot generate update query.\n", table->name);
    return nullptr;
  }
  if (others.empty()) {
    LogError("No Columns to Update in table %s - Cannot generate update query.\n", table->name);
    return nullptr;
  }
  const std::string text =
      FormatText("update %s set %s where %s", table->name, Joined(others, ",").c_str(), Joined(keys, " and ").c_str());
  LogTrace("Update query is @@@ %s\n", text.c_str());
  return NewText(text);
}

char* GenDelete(const SqlDialectForm& form, const char* tableName, const RowObject* row) {
  const TableDefn* table = GetTableDefn(tableName);
  const std::optional<std::vector<ColumnLiteral>> literals = RowLiterals(form, table, row, "delete");
  if (!literals) return nullptr;
  const std::vector<std::string> keys = Assignments(*literals, true);
  if (keys.empty()) {
    LogError("No Primary Key in table %s - Cannot generate delete query.\n", table->name);
    return nullptr;
  }
  const std::string text = FormatText("delete from %s  where %s", table->name, Joined(keys, " and ").c_str());
  LogTrace("Delete query is @@@%s\n", text.c_str());
  return NewText(text);
}

char* GenCreate(const SqlDialectForm& form, const TableDefn* table) {
  if (!table || !table->columns || table->columns->count == 0) return nullptr;
  PrintTableDefn(table);
  std::vector<std::string> lines;
  for (VectorNode* n = ElementAt(table->columns, 0); n; n = n->next) {
    const std::optional<std::string> line = ColumnLine(form, static_cast<const ColumnDefn*>(n->element));
    if (!line) {
      LogUnsupportedDatatype();
      return nullptr;
    }
    lines.push_back(*line);
  }
  std::string text = FormatText("CREATE TABLE %s(\n", table->name) + Joined(lines, ",\n");
  const ConstraintDefn* constraints = table->constraints;
  if (constraints && constraints->primaryKeyCount > 0) {
    std::vector<std::string> keys(constraints->primaryKeys, constraints->primaryKeys + constraints->primaryKeyCount);
    text += ",\n\tPRIMARY KEY(" + Joined(keys, ", ") + ")";
  }
  text += ForeignKeyLines(form, table) + form.createEnd;
  LogTrace("Create query is\n%s\n", text.c_str());
  return NewText(text);
}
