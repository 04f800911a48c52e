// SQL text for the database dialects that the table-data store writes to and
// reads from: CREATE TABLE from a table definition, single-row INSERT, UPDATE
// and DELETE keyed by the primary key, and SELECT from a query description.
#pragma once
#include <cstdint>
#include <vector>

#include "tabledata/dict/dictionary.h"
#include "tabledata/store/tabledata.h"

struct ResultSet;  // a query's rows (tabledata/db/resultset.h)

// Aggregate functions of a selected column or a having condition.
enum SqlAggregate : uint8_t {
  SQL_AGGREGATE_NONE = 0,
  SQL_AGGREGATE_DISTINCT = 1,
  SQL_AGGREGATE_COUNT = 2,
  SQL_AGGREGATE_MIN = 3,
  SQL_AGGREGATE_MAX = 4,
  SQL_AGGREGATE_SUM = 5,
  SQL_AGGREGATE_AVG = 6,
};

// Operators of a criterion: comparisons of a leaf, and/or of an inner node.
enum SqlOperator : uint8_t {
  SQL_OP_LT = 1,
  SQL_OP_GT = 2,
  SQL_OP_LE = 3,
  SQL_OP_GE = 4,
  SQL_OP_EQ = 5,
  SQL_OP_NE = 6,
  SQL_OP_AND = 7,
  SQL_OP_OR = 8,
  SQL_OP_LIKE = 9,
  SQL_OP_BETWEEN = 10,
};

enum SqlJoinType : uint8_t { SQL_JOIN_INNER = 0, SQL_JOIN_LEFT = 1 };

// The texts of a query description are the caller's; none is copied or freed.

// A column as written in a statement: prefixed with the table alias, else
// the table name, else bare.
struct SqlColumnRef {
  const char* tableName;
  const char* tableAlias;
  const char* columnName;
};

// A value in the form a row holds it (type code of the store, bytes, length);
// null bytes are SQL NULL.
struct SqlValue {
  uint8_t type;
  const void* bytes;
  int32_t length;
};

// A selected (or grouped-by) column. With an aggregate and no column name it
// is aggregate(*).
struct SqlSelectColumn {
  SqlColumnRef column;
  const char* columnAlias;
  uint8_t aggregate;  // SqlAggregate
};

struct SqlTableRef {
  const char* name;
  const char* alias;
};

// A join of a table on pairs of equal columns. The first join's first pair
// names, by its left column, the table that the joins start from.
struct SqlJoinPair {
  SqlColumnRef left;
  SqlColumnRef right;
};
struct SqlJoin {
  SqlTableRef table;
  uint8_t type;  // SqlJoinType
  std::vector<SqlJoinPair> pairs;
};

// A criterion tree: a leaf compares column with value (BETWEEN value AND
// upper); an and/or node joins left and right.
struct SqlCriterion {
  uint8_t op;  // SqlOperator
  SqlColumnRef column;
  SqlValue value;
  SqlValue upper;
  const SqlCriterion* left;
  const SqlCriterion* right;
};

// aggregate(column) op value, after GROUP BY.
struct SqlHaving {
  uint8_t aggregate;  // SqlAggregate
  SqlColumnRef column;
  uint8_t op;  // a comparison SqlOperator
  SqlValue value;
};

struct SqlSortColumn {
  SqlColumnRef column;
  bool ascending;
};

// What a SELECT asks for. No columns selects "*"; a row count of 0 means no
// paging (the offset counts only with a row count).
struct SqlQuery {
  std::vector<SqlSelectColumn> columns;
  std::vector<SqlTableRef> tables;
  std::vector<SqlJoin> joins;
  const SqlCriterion* criterion = nullptr;
  std::vector<SqlSelectColumn> groupBy;
  const SqlHaving* having = nullptr;
  std::vector<SqlSortColumn> sort;
  uint32_t rowCount = 0;
  uint32_t offset = 0;
};

// Every generator returns a new text for the caller to free(), or null (with
// an ERROR line where the reason is not plain). Values are written as safe
// literals: texts, dates and binary values quoted with quotes (and for MySQL
// backslashes) doubled; a value that cannot be written safely (a type without
// a literal, a fixed-width value shorter than its type, a non-numeric
// number, a binary value holding a zero byte) gives none with ERROR
// "Unsupported Datatype Used in Query generation.\n". The row generators take
// the table's definition from the data dictionary by name; UPDATE and DELETE
// need the table's primary-key columns and their values.
char* MysqlGenSelectQuery(const SqlQuery* query);
char* MysqlGenUpdateQuery(const char* tableName, const RowObject* row);
char* MysqlGenInsertQuery(const char* tableName, const RowObject* row);
char* MysqlGenDelteQuery(const char* tableName, const RowObject* row);
char* MysqlGenCreateQuery(const TableDefn* table);
char* MysqlGenCriteriaString(const SqlCriterion* criterion);

char* PgsqlGenSelectQuery(const SqlQuery* query);
char* PgsqlGenUpdateQuery(const char* tableName, const RowObject* row);
char* PgsqlGenInsertQuery(const char* tableName, const RowObject* row);
char* PgsqlGenDeleteQuery(const char* tableName, const RowObject* row);
char* PgsqlGenCreateQuery(const TableDefn* table);
char* PgsqlGenCriteriaString(const SqlCriterion* criterion);

char* FirebirdGenSelectQuery(const SqlQuery* query);
char* FirebirdGenUpdateQuery(const char* tableName, const RowObject* row);
char* FirebirdGenInsertQuery(const char* tableName, const RowObject* row);
char* FirebirdGenDeleteQuery(const char* tableName, const RowObject* row);
char* FirebirdGenCreateQuery(const TableDefn* table);
char* FirebirdGenCriteriaString(const SqlCriterion* criterion);

char* SqliteGenSelectQuery(const SqlQuery* query);
char* SqliteGenUpdateQuery(const char* tableName, const RowObject* row);
char* SqliteGenInsertQuery(const char* tableName, const RowObject* row);
char* SqliteGenDeleteQuery(const char* tableName, const RowObject* row);
char* SqliteGenCreateQuery(const TableDefn* table);
char* SqliteGenCriteriaString(const SqlCriterion* criterion);

// One dialect's operations, in the order the connections use them.
struct SqlDialect {
  const char* name;
  char* (*genSelect)(const SqlQuery* query);
  char* (*genUpdate)(const char* tableName, const RowObject* row);
  char* (*genInsert)(const char* tableName, const RowObject* row);
  char* (*genDelete)(const char* tableName, const RowObject* row);
  char* (*genCreate)(const TableDefn* table);
  // The row at the result set's cursor as a new stored row of the table.
  RowObject* (*convertRow)(const char* tableName, const ResultSet* resultSet);
};

// The dialect named "MYSQL", "PGSQL", "FIREBIRD" or "SQLITE", in any case;
// null for another name.
const SqlDialect* GetSqlDialect(const char* name);
