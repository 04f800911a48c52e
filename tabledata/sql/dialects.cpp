// The four dialects: how each one writes literals, aliases, paging and column
// types, its named generators, and the table of dialects looked up by name.
#include "agent/log/logger.h"
#include "tabledata/db/resultset.h"
#include "tabledata/sql/sqlform.h"
#include "tabledata/strutil.h"

// MySQL's text and blob hold 64 KB; the long forms hold what the other
// dialects' columns hold, so that no longer value is refused.
// Booleans are 1/0 wherever the column is an integer (MySQL tinyint, Firebird
// SMALLINT, SQLite's numeric boolean), 't'/'f' for a PostgreSQL boolean.
const SqlDialectForm kMysqlForm = {
    true, false, "1", "0", "as ", SqlPaging::kLimitOffsetComma,
    {nullptr, "int", "int", "int", "int", "int", "bigint", "bigint", "bigint unsigned", "real", "double", "real",
     "decimal(65,30)", "decimal(65,30)", "varchar", "varchar", "date", "time", "datetime", "tinyint", "longblob",
     "longblob", "longtext"},
    " ", true, "\n) ENGINE = InnoDB;\n\n", MysqlGenCriteriaString};

const SqlDialectForm kPgsqlForm = {
    false, true, "'t'", "'f'", "as ", SqlPaging::kLimitOffset,
    {nullptr, "int", "int", "int", "int", "int", "bigint", "bigint", "bigint", "real", "double precision", "real",
     "numeric", "numeric", "varchar", "varchar", "date", "time", "timestamp", "boolean", "bytea", "text", "text"},
    "", false, "\n);\n\n", PgsqlGenCriteriaString};

const SqlDialectForm kFirebirdForm = {
    false, false, "1", "0", "", SqlPaging::kFirstSkip,
    {nullptr, "int", "int", "int", "int", "int", "BIGINT", "BIGINT", "BIGINT", "real", "double precision", "real",
     "decimal(18,9)", "decimal(18,9)", "varchar", "varchar", "date", "time", "timestamp", "SMALLINT", "BLOB",
     "BLOB SUB_TYPE TEXT", "BLOB SUB_TYPE TEXT"},
    "", false, "\n);\n\n", FirebirdGenCriteriaString};

const SqlDialectForm kSqliteForm = {
    false, false, "1", "0", "as ", SqlPaging::kLimitOffset,
    {nullptr, "int", "int", "int", "int", "int", "bigint", "integer", "bigint", "real", "double precision", "real",
     "numeric", "numeric", "varchar", "varchar", "date", "time", "varchar(30)", "boolean", "blob", "text", "text"},
    "", false, "\n);\n\n", SqliteGenCriteriaString};

char* MysqlGenSelectQuery(const SqlQuery* query) {
  LogTrace("@@@@@@@@@@@ - INSIDE MysqlGenSelectQuery - @@@@@@@@@@@@@");
  return GenSelect(kMysqlForm, query);
}
char* MysqlGenUpdateQuery(const char* tableName, const RowObject* row) {
  LogTrace("@@@ Inside MysqlGenUpdateQuery @@@\n");
  return GenUpdate(kMysqlForm, tableName, row);
}
char* MysqlGenInsertQuery(const char* tableName, const RowObject* row) {
  LogTrace("@@@ Inside MysqlGenInsertQuery @@@\n");
  return GenInsert(kMysqlForm, tableName, row);
}
char* MysqlGenDelteQuery(const char* tableName, const RowObject* row) {
  LogTrace("@@@ Inside MysqlGenDelteQuery @@@\n");
  return GenDelete(kMysqlForm, tableName, row);
}
char* MysqlGenCreateQuery(const TableDefn* table) {
  LogTrace("@@@ Inside MysqlGenCreateQuery @@@\n");
  return GenCreate(kMysqlForm, table);
}
char* MysqlGenCriteriaString(const SqlCriterion* criterion) {
  LogTrace("@@@@@@@@@@@ - INSIDE MysqlGenCriteriaString - @@@@@@@@@@@@@");
  return GenCriteria(kMysqlForm, criterion);
}

char* PgsqlGenSelectQuery(const SqlQuery* query) {
  LogTrace("@@@@@@@@@@@ - INSIDE PgsqlGenSelectQuery - @@@@@@@@@@@@@");
  return GenSelect(kPgsqlForm, query);
}
char* PgsqlGenUpdateQuery(const char* tableName, const RowObject* row) {
  LogTrace("@@@ Inside PgsqlGenUpdateQuery @@@\n");
  return GenUpdate(kPgsqlForm, tableName, row);
}
char* PgsqlGenInsertQuery(const char* tableName, const RowObject* row) {
  LogTrace("@@@ Inside PgsqlGenInsertQuery @@@\n");
  return GenInsert(kPgsqlForm, tableName, row);
}
char* PgsqlGenDeleteQuery(const char* tableName, const RowObject* row) {
  LogTrace("@@@ Inside PgsqlGenDeleteQuery @@@\n");
  return GenDelete(kPgsqlForm, tableName, row);
}
char* PgsqlGenCreateQuery(const TableDefn* table) {
  LogTrace("@@@ Inside PgsqlGenCreateQuery @@@\n");
  return GenCreate(kPgsqlForm, table);
}
char* PgsqlGenCriteriaString(const SqlCriterion* criterion) {
  LogTrace("@@@@@@@@@@@ - INSIDE PgsqlGenCriteriaString - @@@@@@@@@@@@@");
  return GenCriteria(kPgsqlForm, criterion);
}

char* FirebirdGenSelectQuery(const SqlQuery* query) {
  LogTrace("@@@@@@@@@@@ - INSIDE FirebirdGenSelectQuery - @@@@@@@@@@@@@");
  return GenSelect(kFirebirdForm, query);
}
char* FirebirdGenUpdateQuery(const char* tableName, const RowObject* row) {
  LogTrace("@@@ Inside FirebirdGenUpdateQuery @@@\n");
  return GenUpdate(kFirebirdForm, tableName, row);
}
char* FirebirdGenInsertQuery(const char* tableName, const RowObject* row) {
  LogTrace("@@@ Inside FirebirdGenInsertQuery @@@\n");
  return GenInsert(kFirebirdForm, tableName, row);
}
char* FirebirdGenDeleteQuery(const char* tableName, const RowObject* row) {
  LogTrace("@@@ Inside FirebirdGenDeleteQuery @@@\n");
  return GenDelete(kFirebirdForm, tableName, row);
}
char* FirebirdGenCreateQuery(const TableDefn* table) {
  LogTrace("@@@ Inside FirebirdGenCreateQuery @@@\n");
  return GenCreate(kFirebirdForm, table);
}
char* FirebirdGenCriteriaString(const SqlCriterion* criterion) {
  LogTrace("@@@@@@@@@@@ - INSIDE FirebirdGenCriteriaString - @@@@@@@@@@@@@");
  return GenCriteria(kFirebirdForm, criterion);
}

char* SqliteGenSelectQuery(const SqlQuery* query) {
  LogTrace("@@@@@@@@@@@ - INSIDE SqliteGenSelectQuery - @@@@@@@@@@@@@");
  return GenSelect(kSqliteForm, query);
}
char* SqliteGenUpdateQuery(const char* tableName, const RowObject* row) {
  LogTrace("@@@ Inside SqliteGenUpdateQuery @@@\n");
  return GenUpdate(kSqliteForm, tableName, row);
}
char* SqliteGenInsertQuery(const char* tableName, const RowObject* row) {
  LogTrace("@@@ Inside SqliteGenInsertQuery @@@\n");
  return GenInsert(kSqliteForm, tableName, row);
}
char* SqliteGenDeleteQuery(const char* tableName, const RowObject* row) {
  LogTrace("@@@ Inside SqliteGenDeleteQuery @@@\n");
  return GenDelete(kSqliteForm, tableName, row);
}
char* SqliteGenCreateQuery(const TableDefn* table) {
  LogTrace("@@@ Inside SqliteGenCreateQuery @@@\n");
  return GenCreate(kSqliteForm, table);
}
char* SqliteGenCriteriaString(const SqlCriterion* criterion) {
  LogTrace("@@@@@@@@@@@ - INSIDE SqliteGenCriteriaString - @@@@@@@@@@@@@");
  return GenCriteria(kSqliteForm, criterion);
}

namespace {

const SqlDialect kDialects[] = {
    {"MYSQL", MysqlGenSelectQuery, MysqlGenUpdateQuery, MysqlGenInsertQuery, MysqlGenDelteQuery,
     MysqlGenCreateQuery, MysqlConvResultsetToRowobject},
    {"PGSQL", PgsqlGenSelectQuery, PgsqlGenUpdateQuery, PgsqlGenInsertQuery, PgsqlGenDeleteQuery,
     PgsqlGenCreateQuery, PgsqlConvResultsetToRowobject},
    {"FIREBIRD", FirebirdGenSelectQuery, FirebirdGenUpdateQuery, FirebirdGenInsertQuery, FirebirdGenDeleteQuery,
     FirebirdGenCreateQuery, FirebirdConvResultsetToRowobject},
    {"SQLITE", SqliteGenSelectQuery, SqliteGenUpdateQuery, SqliteGenInsertQuery, SqliteGenDeleteQuery,
     SqliteGenCreateQuery, SqliteConvResultsetToRowobject},
};

}  // namespace

const SqlDialect* GetSqlDialect(const char* name) {
  if (!name) return nullptr;
  for (const SqlDialect& dialect : kDialects)
    if (CompareStringsNoCase(dialect.name, name) == 0) return &dialect;
  return nullptr;
}
