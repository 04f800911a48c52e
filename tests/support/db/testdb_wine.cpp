// Real databases for the Windows test programs under Wine (see testdb.h): the
// servers are those of the ctest fixture "test_databases", whose state folder
// TW_TEST_DATABASES names as a Linux path. Its files give the connection texts
// for the drivers of this program's processor; a database of a server is
// created and dropped over ODBC itself, a SQLite file is made by the driver in
// the folder's "sqlite" and deleted through Wine's Z: drive.
#include <windows.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "tests/support/db/testdb.h"
#include "tests/support/scratch.h"
#include "tests/support/win_servers.h"

namespace twtest::db {
namespace {

// The fixture's state folder (a Linux path), or "" with the reason in *why.
std::string StateFolder(std::string* why) {
  const char* state = getenv("TW_TEST_DATABASES");
  if (!state || !*state) {
    *why =
        "TW_TEST_DATABASES is not set: run the program through ctest (its fixture test_databases starts the servers) "
        "or under tests/support/db/with-test-databases";
    return "";
  }
  const std::string status = ReadFile(UnixToWinePath(std::string(state) + "/start.status"));
  if (status.rfind('0', 0) != 0) {
    const std::string reason = ReadFile(UnixToWinePath(std::string(state) + "/start.err"));
    *why = std::string("the test databases in ") + state + " (TW_TEST_DATABASES) are not running: " +
           (reason.empty() ? "ctest starts them in the test test_databases_start" : reason);
    return "";
  }
  return state;
}

// One ODBC connection, freed with its handles at the end of the scope.
class OdbcSession {
 public:
  OdbcSession() {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
  }
  ~OdbcSession() {
    if (connected_) SQLDisconnect(dbc_);
    if (dbc_ != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    if (env_ != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  OdbcSession(const OdbcSession&) = delete;
  OdbcSession& operator=(const OdbcSession&) = delete;

  bool Connect(const std::string& text, std::string* why) {
    const SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, Text(text), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    connected_ = SQL_SUCCEEDED(rc);
    if (!connected_) *why = "cannot connect with " + text + ": " + Diagnostics(SQL_HANDLE_DBC, dbc_);
    return connected_;
  }
  bool Execute(const std::string& sql, std::string* why) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt))) {
      *why = sql + ": no statement handle";
      return false;
    }
    const bool done = SQL_SUCCEEDED(SQLExecDirect(stmt, Text(sql), SQL_NTS));
    if (!done) *why = sql + ": " + Diagnostics(SQL_HANDLE_STMT, stmt);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return done;
  }

 private:
  static SQLCHAR* Text(const std::string& text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())); }
  static std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    SQLCHAR state[6] = {}, message[1024] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length)))
      return "no diagnostics";
    return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(message);
  }

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
};

class SqliteDatabase final : public TestDatabase {
 public:
  SqliteDatabase(std::string path, std::string connection)
      : path_(std::move(path)), connection_(std::move(connection)) {}
  ~SqliteDatabase() override {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) DeleteFileA(UnixToWinePath(path_ + suffix).c_str());
  }
  std::string ConnectionString() const override { return connection_; }
  const char* DatabaseType() const override { return "SQLITE"; }

 private:
  std::string path_;  // Linux path, as the host driver opens it
  std::string connection_;
};

class ServerDatabase final : public TestDatabase {
 public:
  ServerDatabase(std::string server, std::string name) : server_(std::move(server)), name_(std::move(name)) {}
  ~ServerDatabase() override {
    OdbcSession session;
    std::string why;
    if (!session.Connect(server_ + "Database=postgres;", &why) ||
        !session.Execute("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)", &why))
      fprintf(stderr, "cannot drop the test database %s: %s\n", name_.c_str(), why.c_str());
  }
  std::string ConnectionString() const override { return server_ + "Database=" + name_ + ";"; }
  const char* DatabaseType() const override { return "PGSQL"; }

 private:
  std::string server_;  // connection text without Database=
  std::string name_;
};

}  // namespace

std::unique_ptr<TestDatabase> NewSqliteDatabase(std::string* why) {
  const std::string state = StateFolder(why);
  if (state.empty()) return nullptr;
  const std::string driver = ReadFile(UnixToWinePath(state + "/sqlite.conn"));
  if (driver.empty()) {
    *why = "the test databases in " + state + " have no SQLite connection text";
    return nullptr;
  }
  // The driver creates the file on the first connection.
  const std::string path = state + "/sqlite/" + UniqueDatabaseName("twtest") + ".db";
  return std::make_unique<SqliteDatabase>(path, driver + "Database=" + path + ";");
}

std::unique_ptr<TestDatabase> NewPostgresDatabase(std::string* why) {
  const std::string state = StateFolder(why);
  if (state.empty()) return nullptr;
  const std::string server = ReadFile(UnixToWinePath(state + "/pgsql/start.out"));
  if (server.empty()) {
    *why = "the test databases in " + state + " (TW_TEST_DATABASES) have no pgsql server";
    return nullptr;
  }
  const std::string name = UniqueDatabaseName("twtest");
  OdbcSession session;
  if (!session.Connect(server + "Database=postgres;", why) || !session.Execute("CREATE DATABASE " + name, why)) {
    *why = "cannot create the database " + name + ": " + *why;
    return nullptr;
  }
  return std::make_unique<ServerDatabase>(server, name);
}

}  // namespace twtest::db
