// Version comparison (see version.h). A component's value is what the standard
// decimal conversion reads from it: blanks, a sign, leading digits; 0 without digits.
#include "handler/version.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "agent/log/logger.h"

namespace {
int32_t ComponentValue(const std::string& part) {
  long long v = strtoll(part.c_str(), nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int32_t>(v);
}
}  // namespace

std::optional<std::string> nextVersionPart(const std::string& text, size_t& cursor) {
  if (cursor >= text.size()) {
    cursor = text.size();
    return std::nullopt;
  }
  size_t dot = text.find('.', cursor);
  std::string part;
  if (dot != std::string::npos) {
    part = text.substr(cursor, dot - cursor);
    cursor = dot + 1;
  } else {
    part = text.substr(cursor);
    cursor = text.size();
  }
  return part;
}

bool CheckForVersionEqual(const char* installedVersion, const char* versionToCheck) {
  LogDebug("\t @@@@@@@@ Inside CheckForVersionEqual Method @@@@@@@@ \n");
  if (!installedVersion || !versionToCheck) return false;
  LogInfo("CheckForVersionEqual : Installed File Version : %s \n", installedVersion);
  LogInfo("CheckForVersionEqual : File Version to Check  : %s \n", versionToCheck);
  const std::string a = installedVersion, b = versionToCheck;
  size_t ca = 0, cb = 0;
  std::optional<std::string> pa = nextVersionPart(a, ca), pb = nextVersionPart(b, cb);
  if (!pa || !pb) return false;
  bool result = false;
  for (;;) {
    if (ComponentValue(*pa) != ComponentValue(*pb)) {
      LogInfo("CheckForVersionEqual : The currentVersion is lesser than minVersion \n");
      result = false;
      break;
    }
    result = true;
    pa = nextVersionPart(a, ca);
    pb = nextVersionPart(b, cb);
    if (!pa || !pb) break;
  }
  if (result) LogInfo("CheckForVersionEqual : The currentVersion and minVersion are equal \n");
  LogDebug("\t @@@@@@@@ End Of CheckForVersionEqual Method @@@@@@@@ \n");
  return result;
}

bool CheckForVersionLesserAndEquals(const char* currentVersion, const char* maxVersion) {
  LogDebug("\t @@@@@@ Inside CheckForVersionLesserAndEquals Method @@@@@@@@ \n");
  if (!currentVersion || !maxVersion) return false;
  LogInfo("CheckForVersionLesserAndEquals : Comparing CurrentVersion value : %s and MaxVersion value : %s \n",
          currentVersion, maxVersion);
  const std::string a = currentVersion, b = maxVersion;
  size_t ca = 0, cb = 0;
  std::optional<std::string> pa = nextVersionPart(a, ca), pb = nextVersionPart(b, cb);
  bool result = false;
  if (!pa) {
    if (!pb) return false;
  } else {
    while (pb) {
      const int32_t va = ComponentValue(*pa), vb = ComponentValue(*pb);
      LogDebug("CheckForVersionGreaterAndEquals : Checking version 1 : %d and Version 2 : %d\n", va, vb);
      if (va < vb) {
        LogDebug("CheckForVersionLesserAndEquals : The currentVersion lesser than the maxVersion \n");
        result = true;
        break;
      }
      if (va > vb) {
        LogDebug("CheckForVersionLesserAndEquals : The currentVersion greater than the maxVersion \n");
        result = false;
        break;
      }
      LogDebug("CheckForVersionLesserAndEquals : The currentVersion and maxVersion are equal \n");
      result = true;
      pa = nextVersionPart(a, ca);
      pb = nextVersionPart(b, cb);
      if (!pa) break;
    }
  }
  LogDebug("\t @@@@@@ End Of CheckForVersionLesserAndEquals Method @@@@@@@@ \n");
  return result;
}
