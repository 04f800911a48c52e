// ExecuteQuery against a bare ODBC loop, in the same run, on one SQLite file
// on /dev/shm through the SQLite ODBC driver: 10^5 rows of three columns (an
// integer key, an integer, a text). ExecuteQuery builds its whole result set
// (every cell fetched whole and kept in its column's form); the bare loop
// executes the same query and reads every cell as text with SQLGetData into
// one buffer, keeping nothing. Each benchmark runs five times, the runs
// shuffled among each other; after the table the program prints the median
// of each and the figure bare / ExecuteQuery (higher is better, 1 = as fast as
// the bare loop).
#include <benchmark/benchmark.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "agent/log/objectlock.h"
#include "bench/bench_support.h"
#include "tabledata/db/db.h"

namespace {

using bench::Check;

constexpr int kRows = 100000;
const char kQuery[] = "select id, k, name from t";

std::string g_connectionText;
DBConnection* g_connection = nullptr;

void BM_ExecuteQuery(benchmark::State& state) {
  for (auto _ : state) {
    ResultSet* resultSet = ExecuteQuery(g_connection, kQuery);
    Check(resultSet && resultSet->rowCount == kRows && resultSet->columnCount == 3, "ExecuteQuery");
    FreeResultSet(resultSet);
  }
}

// The reference: the same query through its own connection, every cell read
// as text into one buffer.
void BM_BareOdbc(benchmark::State& state) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  Check(SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr,
                                       reinterpret_cast<SQLCHAR*>(const_cast<char*>(g_connectionText.c_str())), SQL_NTS,
                                       nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)),
        "SQLDriverConnect");
  for (auto _ : state) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    Check(SQL_SUCCEEDED(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(kQuery)), SQL_NTS)),
          "SQLExecDirect");
    char cell[256];
    SQLLEN indicator = 0;
    size_t bytes = 0;
    int rows = 0;
    while (SQL_SUCCEEDED(SQLFetch(stmt))) {
      for (SQLUSMALLINT column = 1; column <= 3; ++column) {
        SQLGetData(stmt, column, SQL_C_CHAR, cell, sizeof cell, &indicator);
        bytes += indicator > 0 ? static_cast<size_t>(indicator) : 0;
      }
      ++rows;
    }
    benchmark::DoNotOptimize(bytes);
    Check(rows == kRows, "the bare loop");
    SQLCloseCursor(stmt);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  }
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
}

BENCHMARK(BM_ExecuteQuery)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareOdbc)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  bench::Start("db_bench", argc, argv, 5);
  InitMutex();
  // The database file, filled through SQLite itself.
  char path[] = "/dev/shm/tw-db-bench-XXXXXX";
  const int fd = mkstemp(path);
  Check(fd >= 0, "mkstemp");
  close(fd);
  sqlite3* db = nullptr;
  Check(sqlite3_open(path, &db) == SQLITE_OK, "sqlite3_open");
  Check(sqlite3_exec(db, "CREATE TABLE t(id INTEGER, k INTEGER, name TEXT)", nullptr, nullptr, nullptr) == SQLITE_OK,
        "CREATE TABLE");
  bench::SqliteFill(db, kRows);
  sqlite3_close(db);

  g_connectionText = std::string("Driver=") + TW_SQLITE_ODBC_DRIVER + ";Database=" + path + ";";
  const std::string params = std::string(path) + ".connparams";
  FILE* file = fopen(params.c_str(), "w");
  Check(file != nullptr, "the connparams file");
  fprintf(file, "bench 0 nodsn nouser NULL x bench ODBC SQLITE YES %s\n", g_connectionText.c_str());
  fclose(file);
  Check(InitDBProvider(), "InitDBProvider");
  Check(LoadConnParamsEntryFromFile(params.c_str()), "LoadConnParamsEntryFromFile");
  Check(EstablishDBConnections(), "EstablishDBConnections");
  g_connection = GetConnection("bench");
  Check(g_connection != nullptr, "GetConnection");

  bench::MedianReporter<std::string> reporter(bench::SecondsByName);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double ours = reporter.Median("BM_ExecuteQuery");
  const double bare = reporter.Median("BM_BareOdbc");
  printf("\nMedians of five runs, %d rows x 3 columns (SQLite ODBC driver, file on /dev/shm):\n", kRows);
  printf("ExecuteQuery %9.2f ms  bare SQLGetData loop %9.2f ms  bare/ExecuteQuery %.3f (target >= 0.5)\n",
         ours * 1e3, bare * 1e3, ours > 0 ? bare / ours : 0.0);
  double load[3];
  if (getloadavg(load, 3) == 3) printf("load average: %.2f %.2f %.2f\n", load[0], load[1], load[2]);

  ReleaseConnection("bench");
  CloseAllConnections();
  FreeAllConnParamsEntries();
  FreeDBProviders();
  unlink(params.c_str());
  unlink(path);
  CloseMutex();
  benchmark::Shutdown();
  return 0;
}
