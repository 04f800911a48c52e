// What the benchmark programs share: their start-up, a console reporter that
// keeps one figure of every run for the medians printed after the table, and
// the SQLite reference table that the store and the XML load are held against.
#pragma once
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace bench {

// The time this thread spends working, in the kernel included (page faults):
// on a shared machine the wall clock would mostly measure the waits for a core.
inline double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The program's name in the failure message of Check; Start sets it.
inline const char* g_program = "bench";

// Ends the program with "<program>: <what> failed" unless ok.
inline void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "%s: %s failed\n", g_program, what);
    exit(1);
  }
}

// Initializes the library with the runs of all benchmarks shuffled among each
// other, so that a passing load on a shared machine falls on every side alike,
// and with `repetitions` runs of each (0: as each benchmark sets its own).
// Flags given on the command line come after these and override them.
inline void Start(const char* program, int argc, char** argv, int repetitions) {
  g_program = program;
  std::string repeat = "--benchmark_repetitions=" + std::to_string(repetitions);
  std::vector<char*> args{argv[0]};
  if (repetitions > 0) args.push_back(repeat.data());
  args.push_back(const_cast<char*>("--benchmark_enable_random_interleaving=true"));
  args.insert(args.end(), argv + 1, argv + argc);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
}

// The console table as usual, and for the medians one figure of every run of
// each benchmark (the aggregate rows left out): `pick` gives a run's key and
// figure, or false for a run that has none.
template <typename Key>
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  using Pick = bool (*)(const Run& run, Key* key, double* figure);
  explicit MedianReporter(Pick pick)
      : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular), pick_(pick) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      Key key{};
      double figure = 0;
      if (run.run_type == Run::RT_Iteration && pick_(run, &key, &figure)) figures_[key].push_back(figure);
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // The median of the figures kept under key; 0 when there are none.
  double Median(const Key& key) {
    std::vector<double>& v = figures_[key];
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  }

 private:
  Pick pick_;
  std::map<Key, std::vector<double>> figures_;
};

// The time per iteration of a run in seconds, under the benchmark's name with
// its argument, if any ("BM_SqliteInsert/100000").
inline bool SecondsByName(const benchmark::BenchmarkReporter::Run& run, std::string* name, double* seconds) {
  *name = run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args);
  *seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
  return true;
}

// The reference table: SQLite in memory with t(id INTEGER, k INTEGER, name TEXT).
inline sqlite3* SqliteOpen() {
  sqlite3* db = nullptr;
  Check(sqlite3_open(":memory:", &db) == SQLITE_OK, "sqlite3_open");
  Check(sqlite3_exec(db, "CREATE TABLE t(id INTEGER, k INTEGER, name TEXT)", nullptr, nullptr, nullptr) == SQLITE_OK,
        "CREATE TABLE");
  return db;
}

// Inserts the rows (i, i mod 1000, "name-<i mod 100>") for i from 0 to rows - 1
// with one statement prepared once, all in one transaction.
inline void SqliteFill(sqlite3* db, int rows) {
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?1, ?2, ?3)", -1, &insert, nullptr) == SQLITE_OK, "prepare");
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  char name[32];
  for (int i = 0; i < rows; ++i) {
    const int n = snprintf(name, sizeof name, "name-%d", i % 100);
    sqlite3_bind_int(insert, 1, i);
    sqlite3_bind_int(insert, 2, i % 1000);
    sqlite3_bind_text(insert, 3, name, n, SQLITE_TRANSIENT);
    Check(sqlite3_step(insert) == SQLITE_DONE, "INSERT");
    sqlite3_reset(insert);
  }
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK, "COMMIT");
  sqlite3_finalize(insert);
}

}  // namespace bench
