// A second process for the sequence tests: starts the support library on the
// root folder it is given, waits for the agreed moment (milliseconds since
// 1970), so that the processes run side by side, and prints that many IDs of
// the Orders key, one a line. Exit code 0, or 1 when the start fails or an ID
// cannot be had.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "agent/log/objectlock.h"
#include "tabledata/db/cquill.h"
#include "tabledata/store/sequence.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: seq_child <root> <count> <start ms>\n");
    return 2;
  }
  InitMutex();
  if (!InitCQuill(argv[1])) return 1;
  std::this_thread::sleep_until(std::chrono::system_clock::time_point(std::chrono::milliseconds(atoll(argv[3]))));
  const ColumnDefn* key = GetColumnDefnEntry("Orders", "ORDER_ID");
  int result = 0;
  for (int i = atoi(argv[2]); i > 0 && result == 0; --i) {
    const int32_t id = GenerateID("Orders", key);
    if (id < 0) result = 1;
    printf("%d\n", id);
  }
  DeInitCQuill();
  return result;
}
