// Log throughput: lines per second through LogInfo into a real file, with one
// and with two writing threads, against a plain fprintf+fflush loop in the same
// run. Both sides write the same bytes per line to a file opened for appending:
// the plain side also reads the local clock and formats the timestamp for every
// line, and prints the thread id taken once per thread. So the ratio is what
// the logger's level check, lock, formatting and thread id cost on top of the
// write that any line needs. Each benchmark runs five times, the runs of all
// four shuffled among each other, so that a load that comes and goes on a
// shared machine falls on both sides alike; after the usual table it prints the
// median lines per second of each side, their ratio ours / plain for each
// thread count, and the load average. Flags given override these defaults.
#include <benchmark/benchmark.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <utility>

#include "agent/log/logger.h"
#include "agent/log/objectlock.h"
#include "bench/bench_support.h"

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

// The same bytes as a log line (prefix with the local time and thread id, tag,
// message), written with one fprintf and flushed.
void BM_PlainFprintf(benchmark::State& state) {
  if (state.thread_index() == 0) EmptyBothFiles();
  const int tid = static_cast<int>(gettid());
  int i = 0;
  for (auto _ : state) {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm t;
    localtime_r(&tv.tv_sec, &t);
    fprintf(g_plain, "[ %d-%02d-%02d %02d:%02d:%02d:%03d ] [ %d ] [INFO] bench line %d\n", t.tm_year + 1900,
            t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(tv.tv_usec / 1000), tid, i++);
    fflush(g_plain);
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_PlainFprintf)->UseRealTime()->Threads(1)->Threads(2);
BENCHMARK(BM_LogInfo)->UseRealTime()->Threads(1)->Threads(2);

// The lines per second of a run, under its benchmark and thread count.
bool LinesPerSecond(const benchmark::BenchmarkReporter::Run& run, std::pair<std::string, int>* key, double* rate) {
  auto it = run.counters.find("items_per_second");
  if (it == run.counters.end()) return false;
  *key = {run.run_name.function_name, static_cast<int>(run.threads)};
  *rate = it->second.value;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bench::Start("log_bench", argc, argv, 5);
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

  bench::MedianReporter<std::pair<std::string, int>> reporter(LinesPerSecond);
  benchmark::RunSpecifiedBenchmarks(&reporter);

  CloseLogFile();
  FreeLogSettings();
  CloseMutex();
  fclose(g_plain);
  std::filesystem::remove_all(g_dir, ec);

  for (int threads : {1, 2}) {
    const double ours = reporter.Median({"BM_LogInfo", threads});
    const double plain = reporter.Median({"BM_PlainFprintf", threads});
    if (ours > 0 && plain > 0)
      printf("log lines/s (median), %d thread%s: LogInfo %.0f, plain fprintf+fflush %.0f, ratio ours/plain %.3f\n",
             threads, threads == 1 ? "" : "s", ours, plain, ours / plain);
  }
  double load[3];
  if (getloadavg(load, 3) == 3) printf("load average: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
  benchmark::Shutdown();
  return 0;
}
