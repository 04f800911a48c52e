// GenerateID (see sequence.h) over the still empty sequence cache.
#include "tabledata/store/sequence.h"

#include "agent/log/logger.h"

int32_t GenerateID(const char* /*tableName*/, const ColumnDefn* column) {
  LogTrace("Inside GenerateID \n");
  const char* key = column ? column->generatorName : nullptr;
  LogTrace("AutoId Key %s\n", key);
  LogTrace("Cannot generate ID for key %s.\n", key);
  return -1;
}
