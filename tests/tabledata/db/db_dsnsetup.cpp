// A data-source setup library for the ODBC installer, for the tests of
// CreateDSNs: it accepts every request and appends what it received to the
// file named by TW_DSN_SETUP_RECORD, one line per call: the request, the
// driver and the attribute pairs with each ending zero byte shown as "|".
#include <odbcinst.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" BOOL INSTAPI ConfigDSN(HWND, WORD request, LPCSTR driver, LPCSTR attributes) {
  std::string pairs;
  // Pairs end with a zero byte each; one more zero byte ends the list.
  for (const char* pair = attributes; pair && *pair; pair += strlen(pair) + 1) pairs += std::string(pair) + "|";
  pairs += "|";
  const char* path = getenv("TW_DSN_SETUP_RECORD");
  if (FILE* record = path ? fopen(path, "a") : nullptr) {
    fprintf(record, "%u %s %s\n", static_cast<unsigned>(request), driver ? driver : "(null)", pairs.c_str());
    fclose(record);
  }
  return 1;
}
