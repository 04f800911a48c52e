// Generated column values: IDs reserved in batches of 300 in the database
// table SeqGenState, so that they stay unique across processes and restarts,
// and handed out from the process-wide sequence cache.
#pragma once
#include <cstdint>

#include "tabledata/dict/dictionary.h"

// IDs reserved by one reservation.
constexpr int32_t kSequenceBatchSize = 300;

// The database side of a reservation, registered by the database layer (which
// sits above the store): reserves the next batch of sequence in the database
// through the connection of tableName and gives the batch's last ID. Without
// one, no batch can be reserved and every sequence stays empty.
using SequenceBatchReserver = bool (*)(const char* tableName, const char* sequence, int32_t* batchEnd);
void SetSequenceBatchReserver(SequenceBatchReserver reserver);

// The cache: a string map of 50 buckets from sequence names to
// {next, batchEnd}. Init on a cache that exists frees it first.
bool InitSequenceCache();
void FreeSequenceCache();

// Reserves the next batch of sequence (creating its cache entry when absent)
// and makes the entry hand out the batch's IDs from its first on. Runs under
// the entry's lock, so it never overlaps a GenerateID of the same sequence.
// False when the cache is not there, memory runs out or the reservation fails.
bool ReserveSequenceBatch(const char* tableName, const char* sequence);

// The next ID of the column's generator, reserving the next batch through the
// table's connection when the current one is used up. -1 when the cache holds
// no sequence of that name (the column has no sequence), or when reserving
// fails.
int32_t GenerateID(const char* tableName, const ColumnDefn* column);
// The same for the sequence "INSTANCE_ID", whose batches are reserved through
// the connection of the table SeqGenState.
int32_t GenerateInstanceID();
