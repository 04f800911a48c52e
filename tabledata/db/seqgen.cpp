// The sequence generator's database side (see seqgen.h): the batch
// reservation that the sequence cache of the store calls through its hook,
// and the first reservations made when the support library starts.
#include "tabledata/db/seqgen.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "agent/log/format.h"
#include "agent/log/logger.h"
#include "tabledata/db/db.h"
#include "tabledata/store/sequence.h"
#include "tabledata/values/valuetypes.h"

namespace {

// Rounds of read and conditional raise before giving up: each round that
// changes nothing means another process took a batch meanwhile.
constexpr int kReserveRounds = 50;
constexpr char kBatchEndColumn[] = "CURRENTBATCHEND";

// A sequence name goes into the statements between quotes: one that could end
// the quoted text is refused.
bool IsQuotableName(const char* name) { return name && *name && !strpbrk(name, "'\\"); }

// CURRENTBATCHEND of the row at the cursor: an integer cell, or a number's text.
bool ReadBatchEnd(const ResultSet* resultSet, int64_t* value) {
  int32_t length = 0;
  const void* cell = GetResultSetColumnValue(kBatchEndColumn, &length, resultSet);
  if (!cell) return false;
  const uint8_t type = GetResultSetColumnType(kBatchEndColumn, resultSet);
  if (type >= ORV_SQL_TINYINT && type <= ORV_SQL_UNSIGNED_LONG_INT && (length == 4 || length == 8)) {
    if (length == 4) {
      int32_t narrow = 0;
      memcpy(&narrow, cell, 4);
      *value = narrow;
    } else {
      memcpy(value, cell, 8);
    }
    return true;
  }
  const char* text = static_cast<const char*>(cell);
  char* end = nullptr;
  const long long parsed = strtoll(text, &end, 10);
  if (end == text || *end != '\0') return false;
  *value = parsed;
  return true;
}

// The store's hook: reserves the next batch of sequence in SeqGenState through
// the table's connection and gives its last ID.
bool ReserveBatchInDatabase(const char* tableName, const char* sequence, int32_t* batchEnd) {
  LogTrace("Inside UpdateSeqGen \n");
  if (!IsQuotableName(sequence)) {
    LogError("Invalid sequence name %s\n", sequence ? sequence : "");
    return false;
  }
  TableConnection tableConnection{};
  if (!AcquireTableConnection(tableName, &tableConnection)) return false;
  DBConnection* connection = tableConnection.connection;
  const std::string select = FormatText("select * from SeqGenState where SEQNAME = '%s';", sequence);
  LogTrace("Query %s\n", select.c_str());
  bool reserved = false;
  bool insertFailed = false;
  int round = 0;
  for (; round < kReserveRounds && !reserved; ++round) {
    ResultSet* resultSet = ExecuteQuery(connection, select.c_str());
    if (!resultSet) {
      LogError("Table doesn't Exists for UpdateSeqGen\n");
      break;
    }
    const bool hasRow = GotoNextResultSetRow(resultSet) != nullptr;
    int64_t end = 0;
    const bool readable = hasRow && ReadBatchEnd(resultSet, &end);
    FreeResultSet(resultSet);
    if (hasRow) {
      // The batch's IDs and the one after its last must fit 32 bits.
      if (!readable || end < 0 || end > INT32_MAX - kSequenceBatchSize - 1) {
        LogError("Invalid CURRENTBATCHEND for %s\n", sequence);
        break;
      }
      const int32_t current = static_cast<int32_t>(end);
      const std::string update =
          FormatText("update SeqGenState set CURRENTBATCHEND = %d where SEQNAME = '%s' and CURRENTBATCHEND = %d;",
                     current + kSequenceBatchSize, sequence, current);
      LogTrace("Update Query %s\n", update.c_str());
      int64_t changed = 0;
      if (!ExecuteUpdateRowCount(connection, update.c_str(), &changed)) {
        LogError("ExecuteUpdate Failed for update\n");
        break;
      }
      // No row changed: another process raised the end after it was read.
      if (changed > 0) {
        *batchEnd = current + kSequenceBatchSize;
        reserved = true;
      }
      continue;
    }
    // A second insert is not tried: a failed one that left no row failed for
    // another reason than a process that inserted first.
    if (insertFailed) {
      LogError("ExecuteUpdate Failed for insert\n");
      break;
    }
    const std::string insert = FormatText("insert into SeqGenState values ('%s',%d);", sequence, kSequenceBatchSize);
    LogTrace("Insert Query %s\n", insert.c_str());
    if (ExecuteUpdate(connection, insert.c_str())) {
      *batchEnd = kSequenceBatchSize;
      reserved = true;
    } else {
      insertFailed = true;
    }
  }
  if (!reserved && round == kReserveRounds)
    LogError("Cannot reserve a batch of %s: other processes kept reserving first\n", sequence);
  ReleaseTableConnection(&tableConnection);
  return reserved;
}

}  // namespace

bool UpdateSeqGen(const char* tableName, const char* sequenceName) {
  SetSequenceBatchReserver(ReserveBatchInDatabase);
  return ReserveSequenceBatch(tableName, sequenceName);
}

bool SequenceGenerator() {
  LogTrace("Inside SequenceGenerator\n");
  SetSequenceBatchReserver(ReserveBatchInDatabase);
  bool ok = true;
  for (VectorNode* t = ElementAt(GetDataDictionary(), 0); t; t = t->next) {
    const TableDefn* table = static_cast<const TableDefn*>(t->element);
    if (!table->columns || table->columns->count == 0) return false;
    for (VectorNode* c = ElementAt(table->columns, 0); c; c = c->next) {
      const ColumnDefn* column = static_cast<const ColumnDefn*>(c->element);
      if (column->generatorName && !ReserveSequenceBatch(table->name, column->generatorName)) ok = false;
    }
  }
  return ok;
}
