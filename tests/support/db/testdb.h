// Real databases for the database tests: a fresh SQLite file, or a fresh
// database in a PostgreSQL or MariaDB server on a private Unix socket (no TCP
// port, syncing off). Under ctest the servers are the run's own, started once
// by the fixture "test_databases" and named by TW_TEST_DATABASES (its state
// folder); a program run by hand without it starts a server of its own, on
// first use, stopped when it exits (host only). The connection texts name the
// host's ODBC drivers by path, so they need no DSN and no odbc.ini; under Wine
// the Windows ODBC hands them to the host's unixODBC as they stand.
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

// A fresh, empty database; null with the reason in *why when there is no
// server to hold it (tests then fail, never skip). Each call creates a new
// database (SQLite: a new file) under a name no other process uses.
std::unique_ptr<TestDatabase> NewSqliteDatabase(std::string* why);
std::unique_ptr<TestDatabase> NewPostgresDatabase(std::string* why);

// A database name of the given prefix that no other test process uses, for a
// test that creates a database of its own beside its TestDatabase.
std::string UniqueDatabaseName(const std::string& prefix);

#ifndef _WIN32
// MariaDB: host only (the Windows builds have no MariaDB driver for both
// processors).
std::unique_ptr<TestDatabase> NewMariaDbDatabase(std::string* why);

// Runs SQL text through a second, independent client (the sqlite3, psql or
// mariadb command-line tool) and gives its output rows as "a|b|c" lines, each
// ended by "\n"; for checking what reached the database without our code.
// Values are as each client prints them (NULL as "NULL"; PostgreSQL booleans
// as t/f); a value holding "|", a tab or a line end is not told apart. False
// with the client's error text in *why when a statement fails.
bool RunSql(const TestDatabase& db, const std::string& sql, std::string* output, std::string* why);
#endif

}  // namespace twtest::db
