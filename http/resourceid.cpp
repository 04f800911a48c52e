// Resource ID lookup. The registry copy is authoritative; the server lookup that
// completes a missing ID arrives with the table-data store, so until then a
// missing value is reported and the configuration goes on without an ID.
#include "http/resourceid.h"

#include <windows.h>

#include "agent/log/logger.h"
#include "agent/registry/registry.h"

int32_t GetResourceID(OptText& out) {
  OptText value;
  int32_t rc = ReadRegSZ(HKEY_LOCAL_MACHINE, kSystemDetailsKeyPath, "TWAgentResourceID", value);
  if (rc == 0 && value) {
    out = std::move(value);
    return 0;
  }
  LogError(
      "GetResourceID : Unable to get the TW Agent Resource ID from Registry , So trying to get the same from server "
      ".\n");
  return rc != 0 ? rc : ERROR_FILE_NOT_FOUND;
}
