// Real databases for the database tests: a fresh SQLite file, or a fresh
// database in a PostgreSQL or MariaDB server that this test process starts on
// a private Unix socket (no TCP port, syncing off) and stops when it exits.
// Host only; the connection texts name the host's ODBC drivers by path, so
// they need no DSN and no odbc.ini.
#pragma once
#include <memory>
#include <string>

namespace twtest::db {

struct TestDatabase {
  // Drops the database (PostgreSQL, MariaDB) or deletes its file (SQLite).
  virtual ~TestDatabase();
  // A full ODBC connection text: Driver=<absolute path of the host driver>;
  // and the database, socket and user, usable by SQLDriverConnect as it is.
  virtual std::string ConnectionString() const = 0;
  // "SQLITE", "PGSQL" or "MYSQL".
  virtual const char* DatabaseType() const = 0;
};

// A fresh, empty database; null with the reason in *why when the server cannot
// be started (tests then fail, never skip). SQLite: a new file under /dev/shm.
// PostgreSQL 15 and MariaDB 10.11: one server per test process, started on
// first use, stopped at process exit; each call creates a new database in it.
std::unique_ptr<TestDatabase> NewSqliteDatabase(std::string* why);
std::unique_ptr<TestDatabase> NewPostgresDatabase(std::string* why);
std::unique_ptr<TestDatabase> NewMariaDbDatabase(std::string* why);

// Runs SQL text through a second, independent client (the sqlite3, psql or
// mariadb command-line tool) and gives its output rows as "a|b|c" lines, each
// ended by "\n"; for checking what reached the database without our code.
// Values are as each client prints them (NULL as "NULL"; PostgreSQL booleans
// as t/f); a value holding "|", a tab or a line end is not told apart. False
// with the client's error text in *why when a statement fails.
bool RunSql(const TestDatabase& db, const std::string& sql, std::string* output, std::string* why);

}  // namespace twtest::db
