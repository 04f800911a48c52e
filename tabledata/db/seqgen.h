// The database side of the sequence generator: ID batches of 300 reserved in
// the table SeqGenState (SEQNAME, CURRENTBATCHEND), one row per sequence
// holding the last ID of its most recently reserved batch.
#pragma once

// Reserves a first batch of every sequence that a column of the data
// dictionary names, through each table's connection. False for a definition
// without columns or when a reservation fails (the others are still made).
bool SequenceGenerator();
// Reserves the next batch of sequenceName through the connection of
// tableName and makes the sequence cache hand it out: a sequence without row
// starts at 1 (row inserted with 300), otherwise at the stored end + 1 (row
// raised by 300). Two processes never get the same batch: the raise is
// conditional on the end read, and read again when another process was first.
bool UpdateSeqGen(const char* tableName, const char* sequenceName);
