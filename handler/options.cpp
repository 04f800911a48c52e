// Command-line parsing (see options.h). Only an argument's second character
// selects the option, so "-p" and "-patch" are the same; every known option
// consumes the following argument.
#include "handler/options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "agent/log/logger.h"

RunOptions g_runOptions;

namespace {
// An optional sign followed only by decimal digits gives that number (the empty
// text gives 0); anything else, or a number outside 32 bits, gives -1.
int32_t ParseClearValue(const char* text) {
  const char* p = text;
  if (*p == '+' || *p == '-') ++p;
  if (!*p) return 0;
  for (const char* q = p; *q; ++q)
    if (*q < '0' || *q > '9') return -1;
  errno = 0;
  long long v = strtoll(text, nullptr, 10);
  if (errno == ERANGE || v > INT32_MAX || v < INT32_MIN) return -1;
  return static_cast<int32_t>(v);
}
}  // namespace

bool parseCommandLine(int argc, const char* const* argv) {
  RunOptions& o = g_runOptions;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!arg || arg[0] != '-') continue;
    const char letter = arg[1];
    if (letter == '\0' || !strchr("pnvfdxjcrs", letter)) continue;
    // The value; a value option in the last position has none and is ignored.
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (value) ++i;
    switch (letter) {
      case 'r':
        o.removeJavaInstallPath = true;
        LogInfo("remove java install path reg key\n");
        continue;
      case 's':
        o.calledFromSoftwareDeployment = true;
        LogInfo("called from software deployment");
        continue;
      default:
        break;
    }
    if (!value) continue;
    switch (letter) {
      case 'p':
        o.patchName = value;
        LogInfo("patchName :%s\n", value);
        break;
      case 'n':
        o.productName = value;
        LogInfo("productName : %s\n", value);
        break;
      case 'v':
        o.productVersion = value;
        LogInfo("productVersion : %s\n", value);
        break;
      case 'f':
        o.javaFileName = value;
        break;
      case 'd':
        o.dependencyFileName = value;
        LogInfo("dependencyFileName : %s\n", value);
        break;
      case 'x':
        o.javaArchitecture = value;
        LogInfo("javaArchitecture : %s\n", value);
        break;
      case 'j':
        o.javaLatestInstalledVersion = value;
        LogInfo("javaLatestInstalledVersion : %s\n", value);
        break;
      case 'c':
        o.clearDetection = ParseClearValue(value);
        LogInfo("Java detection need to be cleared");
        break;
      default:
        break;
    }
  }
  return true;
}

bool isJava8Update() {
  const RunOptions& o = g_runOptions;
  if (o.patchName && o.patchName->find("jre-8u") != std::string::npos) return true;
  return o.productName && o.productName->find("Java_1.8") != std::string::npos;
}
