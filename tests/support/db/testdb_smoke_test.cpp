// The test databases start, and their connection texts reach them through a
// bare unixODBC connection: a row written by one side is read by the other.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include "tests/support/db/testdb.h"

namespace twtest::db {
namespace {

SQLCHAR* Text(const std::string& text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())); }
const char* Text(const SQLCHAR* text) { return reinterpret_cast<const char*>(text); }

// Through ODBC: runs `insert`, then gives the first column of every row of the
// query `select` as text; a failure is described in *why.
std::vector<std::string> OdbcInsertSelect(const std::string& connection, const std::string& insert,
                                          const std::string& select, std::string* why) {
  std::vector<std::string> values;
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  SQLCHAR state[6] = {}, message[512] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLDriverConnect(dbc, nullptr, Text(connection), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    SQLGetDiagRec(SQL_HANDLE_DBC, dbc, 1, state, &native, message, sizeof message, &length);
    *why = std::string("connect: ") + Text(state) + " " + Text(message);
  } else {
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    rc = SQLExecDirect(stmt, Text(insert), SQL_NTS);
    if (SQL_SUCCEEDED(rc)) {
      SQLFreeStmt(stmt, SQL_CLOSE);
      rc = SQLExecDirect(stmt, Text(select), SQL_NTS);
    }
    char cell[256];
    SQLLEN size = 0;
    while (SQL_SUCCEEDED(rc) && SQL_SUCCEEDED(SQLFetch(stmt))) {
      if (SQL_SUCCEEDED(SQLGetData(stmt, 1, SQL_C_CHAR, cell, sizeof cell, &size)))
        values.push_back(size == SQL_NULL_DATA ? "NULL" : cell);
    }
    if (!SQL_SUCCEEDED(rc)) {
      SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, state, &native, message, sizeof message, &length);
      *why = std::string("execute: ") + Text(state) + " " + Text(message);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return values;
}

struct Kind {
  const char* type;
  std::unique_ptr<TestDatabase> (*make)(std::string* why);
};
void PrintTo(const Kind& kind, std::ostream* out) { *out << kind.type; }

class TestDbSmokeTest : public testing::TestWithParam<Kind> {};

TEST_P(TestDbSmokeTest, RowsCrossBetweenClientAndOdbc) {
  std::string why, output;
  std::unique_ptr<TestDatabase> db = GetParam().make(&why);
  ASSERT_NE(db, nullptr) << why;
  EXPECT_STREQ(db->DatabaseType(), GetParam().type);
  ASSERT_TRUE(RunSql(*db,
                     "CREATE TABLE t (a INTEGER, b VARCHAR(20)); INSERT INTO t VALUES (1, 'O''Brien');"
                     "SELECT a, b FROM t;",
                     &output, &why))
      << why;
  EXPECT_EQ(output, "1|O'Brien\n");
  EXPECT_EQ(
      OdbcInsertSelect(db->ConnectionString(), "INSERT INTO t VALUES (2, 'z')", "SELECT b FROM t ORDER BY a", &why),
      (std::vector<std::string>{"O'Brien", "z"}))
      << db->ConnectionString() << ": " << why;
  ASSERT_TRUE(RunSql(*db, "SELECT a, b FROM t WHERE a = 2;", &output, &why)) << why;
  EXPECT_EQ(output, "2|z\n");
  // A second database of the same kind is empty; SQL errors come back as the reason.
  std::unique_ptr<TestDatabase> other = GetParam().make(&why);
  ASSERT_NE(other, nullptr) << why;
  EXPECT_NE(other->ConnectionString(), db->ConnectionString());
  EXPECT_FALSE(RunSql(*other, "SELECT a FROM t;", &output, &why));
  EXPECT_NE(why, "");
}

INSTANTIATE_TEST_SUITE_P(Databases, TestDbSmokeTest,
                         testing::Values(Kind{"SQLITE", NewSqliteDatabase}, Kind{"PGSQL", NewPostgresDatabase},
                                         Kind{"MYSQL", NewMariaDbDatabase}),
                         [](const testing::TestParamInfo<Kind>& info) { return std::string(info.param.type); });

}  // namespace
}  // namespace twtest::db
