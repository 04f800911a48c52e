// Loading and saving whole tables against bare ODBC loops on the same SQLite
// database (a file in /dev/shm, through the SQLite ODBC driver), measured in
// the same run:
//   save: SaveTable of 10^4 new rows of three columns (an integer key, an
//         integer, a text), against the same INSERT texts sent one by one
//         with SQLExecDirect in autocommit;
//   load: LoadTable of 10^5 such rows into the store, against a loop that
//         fetches every row and reads every cell as text with SQLGetData,
//         keeping each;
//   deletions: SaveTable of 2 * 10^5 stored rows of which every other one is
//         marked deleted, so that 10^5 saved deletions are removed from the
//         store's table each behind a kept row, against the same DELETE texts
//         sent one by one with SQLExecDirect in autocommit.
// Times are the thread's CPU time (the driver and SQLite run on it). Each
// benchmark runs 7 times (the deletions 3 times), the runs shuffled among
// each other; after the usual table the medians and the ratios reference /
// ours are printed (targets: save >= 0.8, load >= 0.5; the deletions show
// what the removals add to the statements).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "agent/log/logger.h"
#include "agent/log/objectlock.h"
#include "bench/bench_support.h"
#include "tabledata/db/cquill.h"
#include "tabledata/db/tableio.h"
#include "tests/support/db/testdb.h"
#include "tests/support/scratch.h"

namespace {

using bench::Check;
using bench::CpuSeconds;

constexpr int kSaveRows = 10000;
constexpr int kLoadRows = 100000;
// Rows of "s" in the deletion runs: every other one is deleted.
constexpr int kDeletionRows = 2 * kLoadRows;

// "t" is the reference table of bench_support.h (filled by SqliteFill) and
// the table loaded; "s" takes the saves.
const char kDictionary[] = R"(<data-dictionary>
  <table name="t"><columns>
    <column name="id"><data-type>INTEGER</data-type></column>
    <column name="k"><data-type>INTEGER</data-type></column>
    <column name="name"><data-type>ORV_SQL_CHAR</data-type><max-size>64</max-size></column>
  </columns><primary-key><primary-key-column>id</primary-key-column></primary-key></table>
  <table name="s"><columns>
    <column name="id"><data-type>INTEGER</data-type></column>
    <column name="k"><data-type>INTEGER</data-type></column>
    <column name="name"><data-type>ORV_SQL_CHAR</data-type><max-size>64</max-size></column>
  </columns><primary-key><primary-key-column>id</primary-key-column></primary-key></table>
</data-dictionary>)";

SQLCHAR* Text(const char* text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)); }

// The reference's own ODBC connection, in autocommit.
struct BareConnection {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT stmt = SQL_NULL_HSTMT;

  explicit BareConnection(const std::string& connection) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    Check(SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, Text(connection.c_str()), SQL_NTS, nullptr, 0, nullptr,
                                         SQL_DRIVER_NOPROMPT)),
          "SQLDriverConnect");
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
  }
  ~BareConnection() {
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
  bool Execute(const char* sql) {
    const SQLRETURN rc = SQLExecDirect(stmt, Text(sql), SQL_NTS);
    SQLFreeStmt(stmt, SQL_CLOSE);
    return SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA;
  }
};

BareConnection* g_bare = nullptr;
std::vector<char*> g_insertTexts;  // the INSERT of each row that the saves write
std::vector<char*> g_deleteTexts;  // the DELETE of each row that the deletion runs remove

// A new row of "s": i, i mod 1000, name-(i mod 100).
RowObject* SaveRow(int32_t i) {
  void** values = static_cast<void**>(calloc(3, sizeof(void*)));
  int32_t* lengths = static_cast<int32_t*>(calloc(3, sizeof(int32_t)));
  const int32_t k = i % 1000;
  const std::string name = "name-" + std::to_string(i % 100);
  const void* bytes[] = {&i, &k, name.c_str()};
  const int32_t sizes[] = {4, 4, static_cast<int32_t>(name.size())};
  for (int c = 0; c < 3; ++c) {
    values[c] = calloc(1, sizes[c] + 1);
    memcpy(values[c], bytes[c], sizes[c]);
    lengths[c] = sizes[c];
  }
  return CreateNewRowObject(values, lengths);
}

// Untimed before each save: an empty database table and kSaveRows new rows
// in the store's table.
void PrepareSave() {
  Check(g_bare->Execute("delete from s"), "delete from s");
  UnLoadTable("s");
  Check(CreateTable("s"), "CreateTable s");
  for (int32_t i = 0; i < kSaveRows; ++i) Check(AddNewRow("s", SaveRow(i)), "AddNewRow");
}

// Untimed before each deletion run: "s" in the database holds kDeletionRows
// rows (the reference rows of "t" twice, the second time with keys above
// theirs), the store's table holds them as stored rows, and every other one
// of those is marked deleted.
void PrepareDeletions() {
  Check(g_bare->Execute("delete from s") &&
            g_bare->Execute("insert into s select id, k, name from t union all select id + 100000, k, name from t"),
        "filling s");
  UnLoadTable("s");
  Check(LoadTable("s"), "LoadTable s");
  Check(GetTableDataByName("s")->rowCount == kDeletionRows, "the rows of s");
  int i = 0;
  for (RowObject* row = GetTableDataByName("s")->firstRow; row; row = row->next, ++i)
    if (i % 2 == 1) Check(DeleteRowObject("s", row), "DeleteRowObject");
}

void BM_SaveDeletions(benchmark::State& state) {
  for (auto _ : state) {
    PrepareDeletions();
    const double start = CpuSeconds();
    Check(SaveTable("s"), "SaveTable");
    state.SetIterationTime(CpuSeconds() - start);
    Check(GetTableDataByName("s")->rowCount == kDeletionRows / 2, "the rows left in s");
    malloc_trim(0);
  }
}

void BM_BareDeletes(benchmark::State& state) {
  for (auto _ : state) {
    Check(g_bare->Execute("delete from s") &&
              g_bare->Execute("insert into s select id, k, name from t union all select id + 100000, k, name from t"),
          "filling s");
    const double start = CpuSeconds();
    for (char* text : g_deleteTexts) Check(g_bare->Execute(text), "SQLExecDirect delete");
    state.SetIterationTime(CpuSeconds() - start);
  }
}

void BM_SaveTable(benchmark::State& state) {
  for (auto _ : state) {
    PrepareSave();
    const double start = CpuSeconds();
    Check(SaveTable("s"), "SaveTable");
    state.SetIterationTime(CpuSeconds() - start);
    malloc_trim(0);
  }
}

void BM_BareInserts(benchmark::State& state) {
  for (auto _ : state) {
    Check(g_bare->Execute("delete from s"), "delete from s");
    const double start = CpuSeconds();
    for (char* insert : g_insertTexts) Check(g_bare->Execute(insert), "SQLExecDirect insert");
    state.SetIterationTime(CpuSeconds() - start);
  }
}

void BM_LoadTable(benchmark::State& state) {
  for (auto _ : state) {
    const double start = CpuSeconds();
    Check(LoadTable("t"), "LoadTable");
    state.SetIterationTime(CpuSeconds() - start);
    Check(GetTableDataByName("t")->rowCount == kLoadRows, "the loaded row count");
    UnLoadTable("t");
    malloc_trim(0);
  }
}

void BM_BareFetch(benchmark::State& state) {
  for (auto _ : state) {
    const double start = CpuSeconds();
    std::vector<std::string> cells;
    SQLHSTMT stmt = g_bare->stmt;
    Check(SQL_SUCCEEDED(SQLExecDirect(stmt, Text("select * from t"), SQL_NTS)), "select * from t");
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt, &columns);
    char cell[256];
    SQLLEN size = 0;
    while (SQL_SUCCEEDED(SQLFetch(stmt)))
      for (SQLUSMALLINT c = 1; c <= columns; ++c)
        if (SQL_SUCCEEDED(SQLGetData(stmt, c, SQL_C_CHAR, cell, sizeof cell, &size)))
          cells.emplace_back(size == SQL_NULL_DATA ? "" : cell);
    SQLFreeStmt(stmt, SQL_CLOSE);
    state.SetIterationTime(CpuSeconds() - start);
    Check(cells.size() == static_cast<size_t>(kLoadRows) * 3, "the fetched cell count");
    cells = {};
    malloc_trim(0);
  }
}

void Register(const char* name, void (*function)(benchmark::State&), int repetitions = 7) {
  benchmark::RegisterBenchmark(name, function)
      ->Repetitions(repetitions)
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  bench::Start("tableio_bench", argc, argv, 0);
  InitMutex();

  std::string why;
  std::unique_ptr<twtest::db::TestDatabase> db = twtest::db::NewSqliteDatabase(&why);
  if (!db) fprintf(stderr, "tableio_bench: %s\n", why.c_str());
  Check(db != nullptr, "a SQLite database in /dev/shm");
  const std::string root = twtest::MakeScratchDir("tableio-bench");
  Check(twtest::WriteFile(root + "/data/datadictionary.txt", "dictionary.xml\n") &&
            twtest::WriteFile(root + "/data/dictionary.xml", kDictionary) &&
            twtest::WriteFile(root + "/data/connparams.txt",
                              "main 0 nodsn nouser NULL x conn1 ODBC SQLITE YES " + db->ConnectionString() + "\n") &&
            twtest::WriteFile(root + "/data/dsn_table_map.txt", "t conn1\ns conn1\n"),
        "the configuration files");
  Check(InitCQuill(root.c_str()), "InitCQuill");
  // The log is not wanted in the figures.
  CloseLogFile();

  // The loaded rows, written by SQLite itself.
  sqlite3* file = nullptr;
  const std::string connection = db->ConnectionString();
  const size_t at = connection.find("Database=");
  const std::string path = connection.substr(at + 9, connection.find(';', at) - at - 9);
  Check(sqlite3_open(path.c_str(), &file) == SQLITE_OK, "sqlite3_open");
  bench::SqliteFill(file, kLoadRows);
  sqlite3_close(file);

  g_bare = new BareConnection(connection);
  PrepareSave();
  for (const RowObject* row = GetTableDataByName("s")->firstRow; row; row = row->next)
    g_insertTexts.push_back(GenerateInsertQuery("s", row));

  PrepareDeletions();
  for (const RowObject* row = GetTableDataByName("s")->firstRow; row; row = row->next)
    if (row->state & ROW_DELETED) g_deleteTexts.push_back(GenerateDeleteQuery("s", row));

  Register("BM_SaveTable", BM_SaveTable);
  Register("BM_BareInserts", BM_BareInserts);
  Register("BM_LoadTable", BM_LoadTable);
  Register("BM_BareFetch", BM_BareFetch);
  Register("BM_SaveDeletions", BM_SaveDeletions, 3);
  Register("BM_BareDeletes", BM_BareDeletes, 3);
  bench::MedianReporter<std::string> reporter(bench::SecondsByName);
  benchmark::RunSpecifiedBenchmarks(&reporter);

  const double save = reporter.Median("BM_SaveTable");
  const double inserts = reporter.Median("BM_BareInserts");
  const double load = reporter.Median("BM_LoadTable");
  const double fetch = reporter.Median("BM_BareFetch");
  printf("\nMedians of 7 runs (SQLite %s through its ODBC driver, database in /dev/shm):\n", sqlite3_libversion());
  printf("save 10^4 new rows: SaveTable %8.2f ms  bare SQLExecDirect %8.2f ms  bare/SaveTable %.3f (target >= 0.8)\n",
         save * 1e3, inserts * 1e3, save > 0 ? inserts / save : 0.0);
  printf("load 10^5 rows:     LoadTable %8.2f ms  bare SQLGetData    %8.2f ms  bare/LoadTable %.3f (target >= 0.5)\n",
         load * 1e3, fetch * 1e3, load > 0 ? fetch / load : 0.0);
  const double deletions = reporter.Median("BM_SaveDeletions");
  const double deletes = reporter.Median("BM_BareDeletes");
  printf("save 10^5 deletions of 2*10^5 rows: SaveTable %8.2f ms  bare SQLExecDirect %8.2f ms  bare/SaveTable %.3f\n",
         deletions * 1e3, deletes * 1e3, deletions > 0 ? deletes / deletions : 0.0);
  printf("(medians of 3 runs for the deletions)\n");
  double average[3];
  if (getloadavg(average, 3) == 3) printf("load average: %.2f %.2f %.2f\n", average[0], average[1], average[2]);

  for (char* insert : g_insertTexts) free(insert);
  for (char* text : g_deleteTexts) free(text);
  delete g_bare;
  DeInitCQuill();
  twtest::RemoveTree(root);
  CloseMutex();
  benchmark::Shutdown();
  return 0;
}
