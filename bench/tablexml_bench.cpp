// Loading table data from XML against a reference measured in the same run:
// documents of 10^5 and 10^6 rows of three columns without generators (an
// integer key, an integer, a text), loaded with LoadTableDataFromXmlBuffer;
// the reference is libxml2 parsing the same text (and freeing the tree, as the
// load does) plus SQLite in memory inserting the same rows in one transaction
// with a prepared statement. The same rows are loaded once more from a
// document whose keys are reference texts (ID="Row:ID:i"), which go through
// the load's ID map: one entry per row, so the map must grow with the rows
// (target: within 1.3 of the plain load at both sizes). Times are the
// thread's CPU time. Each benchmark runs 15 times on 10^5 rows and five times
// on 10^6, the runs shuffled among each other so that a passing load on a
// shared machine falls on every side alike; after the usual table it prints
// the median times, the ratio load / reference, the ratio of the load with
// reference keys to the plain load, the scaling time(10^6)/time(10^5) of the
// load and of the bare parse, and the load average.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <malloc.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <utility>

#include "agent/log/objectlock.h"
#include "bench/bench_support.h"
#include "tabledata/dict/dictionary.h"
#include "tabledata/store/tabledata.h"
#include "tabledata/xml/tablexml.h"

namespace {

using bench::Check;
using bench::CpuSeconds;

const char kDictionary[] = R"(<data-dictionary>
  <table name="Row"><columns>
    <column name="ID"><data-type>INTEGER</data-type></column>
    <column name="K"><data-type>INTEGER</data-type></column>
    <column name="NAME"><data-type>TEXT</data-type></column>
  </columns><primary-key><primary-key-column>ID</primary-key-column></primary-key></table>
</data-dictionary>)";

// Untimed, after each run: the heap's free chunks merged and returned, so
// that no run pays for the clean-up of the one before, whichever it was.
void SettleHeap() { malloc_trim(0); }

// An indented document of rows: ID i, K i mod 1000, NAME name-(i mod 100);
// with references the ID is written as the reference text Row:ID:i, which
// stands for the same number (the column has no generator).
const std::string& Document(int rows, bool references = false) {
  static std::map<std::pair<int, bool>, std::string> documents;
  std::string& xml = documents[{rows, references}];
  if (xml.empty()) {
    xml = "<Rows>\n";
    char line[96];
    for (int i = 0; i < rows; ++i) {
      const int n = snprintf(line, sizeof line, "  <Row ID=\"%s%d\" K=\"%d\" NAME=\"name-%d\"/>\n",
                             references ? "Row:ID:" : "", i, i % 1000, i % 100);
      xml.append(line, static_cast<size_t>(n));
    }
    xml += "</Rows>\n";
  }
  return xml;
}

void Load(benchmark::State& state, bool references) {
  const int rows = static_cast<int>(state.range(0));
  const std::string& xml = Document(rows, references);
  for (auto _ : state) {
    const double start = CpuSeconds();
    Check(LoadTableDataFromXmlBuffer(xml.data(), static_cast<int32_t>(xml.size())), "the load");
    state.SetIterationTime(CpuSeconds() - start);
    Check(GetTableDataByName("Row")->rowCount == rows, "the row count");
    DeleteAllTableRowObjects("Row");
    SettleHeap();
  }
}

void BM_Load(benchmark::State& state) { Load(state, false); }
void BM_LoadReferences(benchmark::State& state) { Load(state, true); }

void BM_Parse(benchmark::State& state) {
  const std::string& xml = Document(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const double start = CpuSeconds();
    xmlDocPtr document = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XML_PARSE_NONET);
    Check(document != nullptr, "xmlReadMemory");
    xmlFreeDoc(document);
    state.SetIterationTime(CpuSeconds() - start);
    SettleHeap();
  }
}

void BM_SqliteInsert(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  for (auto _ : state) {
    sqlite3* db = bench::SqliteOpen();
    const double start = CpuSeconds();
    bench::SqliteFill(db, rows);
    state.SetIterationTime(CpuSeconds() - start);
    sqlite3_close(db);
    SettleHeap();
  }
}

// The short runs are repeated more often, so that their medians do not carry
// the noise of a shared machine into the scaling figures.
void Register(const char* name, void (*function)(benchmark::State&)) {
  for (const int rows : {100000, 1000000})
    benchmark::RegisterBenchmark(name, function)
        ->Arg(rows)
        ->Repetitions(rows == 100000 ? 15 : 5)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  bench::Start("tablexml_bench", argc, argv, 0);

  // The object lock as in the program: vectors lock their own address.
  InitMutex();
  Check(LoadDataDictFromXMLBuffer(kDictionary, static_cast<int32_t>(strlen(kDictionary))), "the dictionary");
  Check(CreateTable("Row"), "CreateTable");

  Register("BM_Load", BM_Load);
  Register("BM_LoadReferences", BM_LoadReferences);
  Register("BM_Parse", BM_Parse);
  Register("BM_SqliteInsert", BM_SqliteInsert);
  bench::MedianReporter<std::string> reporter(bench::SecondsByName);
  benchmark::RunSpecifiedBenchmarks(&reporter);

  printf("\nMedians of 15 runs of 10^5 rows and 5 of 10^6 (libxml2 %s, SQLite %s in memory):\n", xmlParserVersion,
         sqlite3_libversion());
  double load[2], parse[2];
  const char* const sizes[] = {"100000", "1000000"};
  for (int s = 0; s < 2; ++s) {
    load[s] = reporter.Median(std::string("BM_Load/") + sizes[s]);
    parse[s] = reporter.Median(std::string("BM_Parse/") + sizes[s]);
    const double sqlite = reporter.Median(std::string("BM_SqliteInsert/") + sizes[s]);
    printf("%s rows: load %9.2f ms  reference %9.2f ms (parse %.2f + SQLite %.2f)  load/reference %.3f"
           " (target <= 1.5)\n",
           s == 0 ? "10^5" : "10^6", load[s] * 1e3, (parse[s] + sqlite) * 1e3, parse[s] * 1e3, sqlite * 1e3,
           parse[s] + sqlite > 0 ? load[s] / (parse[s] + sqlite) : 0.0);
  }
  for (int s = 0; s < 2; ++s) {
    const double references = reporter.Median(std::string("BM_LoadReferences/") + sizes[s]);
    printf("%s rows: load with reference keys %9.2f ms  plain load %9.2f ms  references/plain %.3f (target <= 1.3)\n",
           s == 0 ? "10^5" : "10^6", references * 1e3, load[s] * 1e3, load[s] > 0 ? references / load[s] : 0.0);
  }
  const double loadScaling = load[0] > 0 ? load[1] / load[0] : 0.0;
  const double parseScaling = parse[0] > 0 ? parse[1] / parse[0] : 0.0;
  printf("scaling time(10^6)/time(10^5): load %.2f  parse %.2f  ratio load/parse %.3f (target <= 1.2)\n", loadScaling,
         parseScaling, parseScaling > 0 ? loadScaling / parseScaling : 0.0);
  double average[3];
  if (getloadavg(average, 3) == 3) printf("load average: %.2f %.2f %.2f\n", average[0], average[1], average[2]);

  FreeTableData(GetTableDataByName("Row"));
  FreeDataDictionary();
  CloseMutex();
  benchmark::Shutdown();
  return 0;
}
