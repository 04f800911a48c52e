// Log throughput: lines per second through LogInfo into a real file, with one
// and with two writing threads, against a plain fprintf+fflush loop writing
// lines of the same shape to the same kind of file in the same run. Prints the
// ratio ours / plain for each thread count after the usual table.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "agent/log/logger.h"
#include "agent/log/objectlock.h"

namespace {

std::string g_dir;
std::string g_plainPath;
FILE* g_plain = nullptr;

// Both files start empty for each benchmark so that neither runs on a larger file.
void EmptyBothFiles() {
  if (std::optional<std::string> path = GetLogFilePath()) truncate(path->c_str(), 0);
  truncate(g_plainPath.c_str(), 0);
}

void BM_LogInfo(benchmark::State& state) {
  if (state.thread_index() == 0) EmptyBothFiles();
  int i = 0;
  for (auto _ : state) LogInfo("bench line %d\n", i++);
  state.SetItemsProcessed(state.iterations());
}

// The same bytes as a log line (prefix with a timestamp and thread id, tag,
// message), written with one fprintf and flushed.
void BM_PlainFprintf(benchmark::State& state) {
  if (state.thread_index() == 0) EmptyBothFiles();
  const int tid = static_cast<int>(gettid());
  int i = 0;
  for (auto _ : state) {
    fprintf(g_plain, "[ %s ] [ %d ] [INFO] bench line %d\n", "2024-01-01 12:00:00:000", tid, i++);
    fflush(g_plain);
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_PlainFprintf)->UseRealTime()->Threads(1)->Threads(2);
BENCHMARK(BM_LogInfo)->UseRealTime()->Threads(1)->Threads(2);

// Keeps lines per second of each (benchmark, threads) for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto it = run.counters.find("items_per_second");
      if (it != run.counters.end() && run.run_type == Run::RT_Iteration)
        rates[{run.run_name.function_name, static_cast<int>(run.threads)}] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::pair<std::string, int>, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::error_code ec;
  g_dir = (std::filesystem::temp_directory_path(ec) / ("tw-log-bench-" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(g_dir, ec);
  g_plainPath = g_dir + "/plain.log";

  InitMutex();
  InitLogSettings();
  SetLogSettings("bench.log", g_dir.c_str(), 1);
  g_plain = fopen(g_plainPath.c_str(), "a");
  if (!OpenLogFile() || !g_plain) {
    fprintf(stderr, "cannot open the benchmark files in %s\n", g_dir.c_str());
    return 1;
  }

  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  CloseLogFile();
  FreeLogSettings();
  CloseMutex();
  fclose(g_plain);
  std::filesystem::remove_all(g_dir, ec);

  for (int threads : {1, 2}) {
    const double ours = reporter.rates[{"BM_LogInfo", threads}];
    const double plain = reporter.rates[{"BM_PlainFprintf", threads}];
    if (ours > 0 && plain > 0)
      printf("log lines/s, %d thread%s: LogInfo %.0f, plain fprintf+fflush %.0f, ratio ours/plain %.3f\n", threads,
             threads == 1 ? "" : "s", ours, plain, ours / plain);
  }
  benchmark::Shutdown();
  return 0;
}
