// Type codes of the table-data store: every column, value and criteria literal
// carries one of these bytes. The data dictionary maps its type names to them
// and the SQL layer reads them back.
#pragma once
#include <cstdint>

enum OrvSqlType : uint8_t {
  ORV_SQL_NOT_SUPPORTED_TYPE = 0,
  ORV_SQL_TINYINT = 1,
  ORV_SQL_UNSIGNED_TINYINT = 2,
  ORV_SQL_SMALLINT = 3,
  ORV_SQL_UNSIGNED_SMALLINT = 4,
  ORV_SQL_INT = 5,
  ORV_SQL_UNSIGNED_INT = 6,
  ORV_SQL_BIGINT = 7,
  ORV_SQL_UNSIGNED_LONG_INT = 8,
  ORV_SQL_FLOAT = 9,
  ORV_SQL_DOUBLE = 10,
  ORV_SQL_REAL = 11,
  ORV_SQL_DECIMAL = 12,
  ORV_SQL_NUMERIC = 13,
  ORV_SQL_CHAR = 14,
  ORV_SQL_NCHAR = 15,
  ORV_SQL_DATE = 16,
  ORV_SQL_TIME = 17,
  ORV_SQL_DATETIME = 18,
  ORV_SQL_BOOLEAN = 19,
  ORV_SQL_BLOB = 20,
  ORV_SQL_CLOB = 21,
  ORV_SQL_TEXT = 22,
};
