// Inside the SQL generators: what sets one dialect's text apart from another's,
// and the generators shared by all dialects, each run with one dialect's form.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "tabledata/sql/sqlgen.h"

enum class SqlPaging : uint8_t {
  kLimitOffsetComma,  // "limit 20 , 10" after the statement
  kLimitOffset,       // "limit 10 offset 20" after the statement
  kFirstSkip,         // "select first 10 skip 20 " before the columns
};

struct SqlDialectForm {
  bool backslashEscapes;   // the server reads backslashes in quoted texts as escapes
  bool byteaLiterals;      // binary literals pass through an input that reads backslashes
  const char* trueText;    // boolean literals
  const char* falseText;
  const char* aliasWord;   // between a table and its alias: "as " or nothing
  SqlPaging paging;
  const char* columnTypes[23];  // CREATE type of each type code; null: none
  const char* booleanLineEnd;   // written after a boolean column's default clause
  bool indexLines;              // an INDEX line after each FOREIGN KEY line
  const char* createEnd;
  char* (*genCriteria)(const SqlCriterion* criterion);  // the dialect's criterion writer
};

extern const SqlDialectForm kMysqlForm;
extern const SqlDialectForm kPgsqlForm;
extern const SqlDialectForm kFirebirdForm;
extern const SqlDialectForm kSqliteForm;

// The literal of a value of a type code (null bytes: "NULL"), or none when it
// cannot be written safely.
std::optional<std::string> SqlLiteral(const SqlDialectForm& form, uint8_t type, const void* bytes, int32_t length);
// "<", ..., "AND", "OR", "LIKE", "BETWEEN" of an SqlOperator; null for another code.
const char* SqlOperatorText(uint8_t op);
// A column as "alias.name", "table.name" or "name".
std::string SqlColumnText(const SqlColumnRef& column);
// Logs "Unsupported Datatype Used in Query generation.\n".
void LogUnsupportedDatatype();

// The shared generators; each named generator logs its own entry line first.
char* GenSelect(const SqlDialectForm& form, const SqlQuery* query);
char* GenUpdate(const SqlDialectForm& form, const char* tableName, const RowObject* row);
char* GenInsert(const SqlDialectForm& form, const char* tableName, const RowObject* row);
char* GenDelete(const SqlDialectForm& form, const char* tableName, const RowObject* row);
char* GenCreate(const SqlDialectForm& form, const TableDefn* table);
char* GenCriteria(const SqlDialectForm& form, const SqlCriterion* criterion);
