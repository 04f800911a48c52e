// SELECT from a query description: columns with aliases and aggregates, joins
// and tables with aliases, the criterion, group by with having, sort and
// paging, each clause in the form of the dialect.
#include <cstdlib>
#include <string>

#include "agent/log/logger.h"
#include "tabledata/sql/sqlform.h"
#include "tabledata/values/scan.h"

namespace {

const char* const kAggregateNames[] = {nullptr, "DISTINCT", "COUNT", "MIN", "MAX", "SUM", "AVG"};

// The aggregate's name; null for none or an unknown code.
const char* AggregateName(uint8_t aggregate) {
  return aggregate < sizeof kAggregateNames / sizeof kAggregateNames[0] ? kAggregateNames[aggregate] : nullptr;
}

// The clause that follows starts after a blank.
void Separate(std::string& text) {
  if (!text.empty() && text.back() != ' ' && text.back() != '\n') text += ' ';
}

// A selected column; none (logged) for an unknown aggregate code.
std::optional<std::string> SelectedColumn(const SqlSelectColumn& c) {
  std::string text;
  if (c.aggregate != SQL_AGGREGATE_NONE) {
    const char* name = AggregateName(c.aggregate);
    if (!name) {
      LogError("Invalid Aggregate Function\n");
      return std::nullopt;
    }
    text = FormatText(" %s(", name) + (c.column.columnName ? SqlColumnText(c.column) : "*") + ")";
  } else {
    text = SqlColumnText(c.column);
  }
  if (c.columnAlias) text += FormatText(" as %s ", c.columnAlias);
  return text;
}

// "table aliasWord alias" of a table, with the blanks the clause asks for.
std::string AliasText(const SqlDialectForm& form, const char* alias) {
  return FormatText("%s%s ", form.aliasWord, alias);
}

// The joins: the starting table, then each joined table with its column pairs.
// None (logged) for a join type other than inner or left, or joins without
// a starting table.
std::optional<std::string> JoinsText(const SqlDialectForm& form, const std::vector<SqlJoin>& joins) {
  const SqlJoin& first = joins.front();
  if (first.pairs.empty() || !first.pairs.front().left.tableName) {
    LogError("Invalid Join Columns\n");
    return std::nullopt;
  }
  const SqlColumnRef& start = first.pairs.front().left;
  std::string text = FormatText(" %s ", start.tableName);
  if (start.tableAlias) text += AliasText(form, start.tableAlias);
  for (const SqlJoin& join : joins) {
    if (join.type != SQL_JOIN_INNER && join.type != SQL_JOIN_LEFT) {
      LogError("Invalid Join Type\n");
      return std::nullopt;
    }
    if (join.pairs.empty() || !join.table.name) {
      LogError("Invalid Join Columns\n");
      return std::nullopt;
    }
    text += join.type == SQL_JOIN_INNER ? " inner join " : " left join ";
    text += FormatText(" %s ", join.table.name);
    if (join.table.alias) text += AliasText(form, join.table.alias);
    text += " on ";
    for (size_t i = 0; i < join.pairs.size(); ++i)
      text += (i ? " and " : "") + SqlColumnText(join.pairs[i].left) + " = " + SqlColumnText(join.pairs[i].right);
    text += " ";
  }
  return text;
}

// "group by" with its columns and, with a having condition, "having"
// aggregate(column) op value; none (logged) when a part cannot be written.
std::optional<std::string> GroupByText(const SqlDialectForm& form, const SqlQuery& query) {
  std::string text = "group by ";
  for (size_t i = 0; i < query.groupBy.size(); ++i) {
    const SqlSelectColumn& c = query.groupBy[i];
    text += (i ? ", " : "") + (c.columnAlias ? std::string(c.columnAlias) : SqlColumnText(c.column));
  }
  const SqlHaving* having = query.having;
  if (!having) return text;
  const char* aggregate = AggregateName(having->aggregate);
  const char* op = having->op <= SQL_OP_NE ? SqlOperatorText(having->op) : nullptr;
  if ((!aggregate && having->aggregate != SQL_AGGREGATE_NONE) || !op) {
    LogError("Invalid Criteria Node\n");
    return std::nullopt;
  }
  const std::optional<std::string> value = SqlLiteral(form, having->value.type, having->value.bytes, having->value.length);
  if (!value) {
    LogUnsupportedDatatype();
    return std::nullopt;
  }
  const std::string column = having->column.columnName ? SqlColumnText(having->column) : "*";
  Separate(text);
  text += "having ";
  text += aggregate ? FormatText(" %s(%s) ", aggregate, column.c_str()) : FormatText(" %s ", column.c_str());
  return text + FormatText(" %s ", op) + FormatText(" %s ", value->c_str());
}

// The statement, or none (logged).
std::optional<std::string> SelectText(const SqlDialectForm& form, const SqlQuery& query) {
  std::string text = "select ";
  if (form.paging == SqlPaging::kFirstSkip && query.rowCount) {
    text += FormatText("first %u ", query.rowCount);
    if (query.offset) text += FormatText("skip %u ", query.offset);
  }
  if (query.columns.empty()) {
    text += "* ";
  } else {
    for (size_t i = 0; i < query.columns.size(); ++i) {
      const std::optional<std::string> column = SelectedColumn(query.columns[i]);
      if (!column) return std::nullopt;
      text += (i ? "," : "") + *column;
    }
    text += " \n";
  }
  text += "from ";
  bool unnamed = false;
  for (const SqlTableRef& table : query.tables) unnamed = unnamed || !table.name;
  if ((query.joins.empty() && query.tables.empty()) || unnamed) {
    LogError("\nNo Tables To Be Selected\n");
    return std::nullopt;
  }
  if (!query.joins.empty()) {
    const std::optional<std::string> joins = JoinsText(form, query.joins);
    if (!joins) return std::nullopt;
    text += *joins;
    if (!query.tables.empty()) text += ",";
  }
  for (size_t i = 0; i < query.tables.size(); ++i) {
    const SqlTableRef& table = query.tables[i];
    text += FormatText("%s%s", i ? ", " : "", table.name);
    if (table.alias) text += FormatText(" %s%s ", form.aliasWord, table.alias);
  }
  if (query.criterion) {
    char* criterion = form.genCriteria(query.criterion);
    if (!criterion) return std::nullopt;
    Separate(text);
    text += std::string("where ") + criterion;
    free(criterion);
  }
  if (!query.groupBy.empty()) {
    const std::optional<std::string> groupBy = GroupByText(form, query);
    if (!groupBy) return std::nullopt;
    Separate(text);
    text += *groupBy;
  }
  if (!query.sort.empty()) {
    Separate(text);
    text += "order by ";
    for (size_t i = 0; i < query.sort.size(); ++i)
      text += FormatText("%s%s%s", i ? "," : "", SqlColumnText(query.sort[i].column).c_str(),
                         query.sort[i].ascending ? " asc " : " desc ");
  }
  if (query.rowCount && form.paging != SqlPaging::kFirstSkip) {
    Separate(text);
    if (form.paging == SqlPaging::kLimitOffsetComma) {
      text += "limit";
      if (query.offset) text += FormatText(" %u ,", query.offset);
      text += FormatText(" %u", query.rowCount);
    } else {
      text += FormatText("limit %u", query.rowCount);
      if (query.offset) text += FormatText(" offset %u", query.offset);
    }
  }
  return text;
}

}  // namespace

char* GenSelect(const SqlDialectForm& form, const SqlQuery* query) {
  if (!query) return nullptr;
  const std::optional<std::string> text = SelectText(form, *query);
  if (!text) return nullptr;
  LogTrace("\nSelect Query constructed is\n%s\n", text->c_str());
  char* copy = NewText(*text);
  if (!copy) LogError("@@@ Query String Copy falied @@@\n");
  return copy;
}
