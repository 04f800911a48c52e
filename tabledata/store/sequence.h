// Generated column values: the next ID of a column's sequence, handed out
// from the process-wide sequence cache.
#pragma once
#include <cstdint>

#include "tabledata/dict/dictionary.h"

// The next ID of the column's generator, or -1 when the cache holds no
// sequence of that name. The cache is filled by the database layer, which
// reserves the batches; until then it is empty and every call answers -1.
int32_t GenerateID(const char* tableName, const ColumnDefn* column);
