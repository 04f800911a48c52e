// Whole tables between the database and the table-data store: loading the
// tables a list file names (whole or by a query of their own), one table or a
// view by query, unloading, saving the changed rows of tables through the SQL
// dialect of their connection, and default rows taken from XML files.
//
// List files, found as "<root>/data/<name>" under the support library's root
// (GetCQuillRoot); the load list and the default-data list are looked for as
// "..\\data\\<name>" first:
//   "loadtablelist.txt"  a line per table: its name alone (loaded whole), or
//                        its name, one blank and a query holding "select" or
//                        "SELECT" that loads it
//   "savetableslist.txt" a line per table to save: its name, then anything
//   "defaultdata.txt"    names of XML data files, separated by white space,
//                        looked for in the folder the list was found in
#pragma once
#include <cstdint>

#include "tabledata/db/db.h"

// Loading. Every load chooses its connection and dialect by table
// (AcquireTableConnection) and hands the connection back as soon as the query
// has run; loaded rows are stored rows (state 1). Rows added before a failure
// stay in their table.
bool LoadAllTables();  // "loadtablelist.txt"; false when the list cannot be opened
bool LoadTablesFromListFile(const char* path);
// The whole table ("select * from <name>"); the database table must have as
// many columns as its definition. The table must not be loaded yet.
bool LoadTable(const char* tableName);
// The rows a query selects. When the query fails the table is still created,
// empty, and the result is false.
bool LoadTableByQuery(const char* tableName, const char* query);
// A view named viewName over the columns of one base table, holding the rows
// the query selects.
bool LoadViewByQuery(const char* viewName, const char* baseTableName, const char* query);

// Unloading removes tables from the store with their rows; 1.
int32_t UnLoadAllTable();
bool UnLoadTable(const char* tableName);
// UnLoadAllTable, then LoadAllTables.
bool ReloadTableData();

// Saving. A row is saved by its state: stored and modified (5) by an update,
// stored and deleted (1 and 8) by a delete, new (2, 6) by an insert; a saved
// row becomes stored (1), a deleted one leaves the table. A row that cannot be
// saved (no statement for it, or the database refuses it) keeps its state for
// the next save and the other rows are still saved.
//
// One row of tableName through an acquired connection; true when it is saved
// or needs nothing (states 0 and 1). A deleted row that was saved is removed
// from its table and freed.
bool SaveRowUnit(const char* tableName, RowObject* row, const TableConnection* tableConnection);
// The changed rows of one table, under the process-wide save lock, so that two
// saves never interleave. False when the table or its connection is missing,
// when a row could not be saved, or when it is called from inside a save on
// the same thread (a listener's): that would wait for ever for its own lock.
bool SaveTable(const char* tableName);
bool SaveAllTables();       // every table of the store, in order; true
bool SaveTablesFromList();  // "savetableslist.txt"; true, also without the list
// Each data file of "defaultdata.txt" through SaveDataInXML; false when one
// of them fails. True without the list.
bool SaveDefaultData();
// Loads the rows of an XML data file into the store and saves every table
// they went into, in the order the tables first appear in the document.
bool SaveDataInXML(const char* path);
