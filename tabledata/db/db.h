// The table-data store's databases: connection parameters and the
// table-to-connection map read from text files, the database providers (ODBC
// built in), the pool of open connections shared by threads, execution of SQL
// text, transactions, and the SQL text of a table in its connection's dialect.
#pragma once
#include <cstdint>

#include "tabledata/db/resultset.h"
#include "tabledata/sql/sqlgen.h"

// One entry of "connparams.txt". Texts are owned by the record.
struct ConnParams {
  char* name;
  int32_t number;
  char* dsn;
  char* user;
  char* password;  // null for the word "NULL"
  int32_t reserved;  // always 0
  char* connectionName;  // the name the connection is pooled and mapped to tables under
  uint8_t useConnectionString;  // 1 when the tenth word is "YES" (any case)
  char* connectionString;  // the rest of the line; null unless useConnectionString
  char* provider;  // "ODBC"; also the ODBC driver name
  char* databaseType;  // "MYSQL", "PGSQL", "FIREBIRD" or "SQLITE"
};

// One pair of "dsn_table_map.txt". Texts are owned by the entry.
struct DataSourceMapEntry {
  char* tableName;
  char* connectionName;
};

// An open connection. owner is the process-local number of the thread using it
// (CurrentThreadNumber), -1 when free, 1 for the one connection of a pool entry
// that all threads share.
struct DBConnection {
  void* providerHandle;  // the provider's own record (ODBC: connection handle and connectionName)
  int32_t providerIndex;  // slot of the provider registry
  int32_t owner;
  uint8_t inTransaction;
  int64_t openedAt;  // seconds since 1970, by the database clock
};

// A database provider: its operations, in this order.
struct DBProvider {
  const char* name;
  void* (*open)(const ConnParams* params);
  // rowCount (may be null) gets the number of rows the statement changed.
  bool (*executeUpdate)(void* handle, const char* sql, int64_t* rowCount);
  ResultSet* (*executeQuery)(void* handle, const char* sql);
  void (*close)(void* handle);
  bool (*beginTransaction)(void* handle);
  bool (*commitTransaction)(void* handle);
  bool (*rollbackTransaction)(void* handle);
  bool (*executeUpdateBlob)(void* handle, const char* sql, const void* data, int32_t length);
  ResultSet* (*executeQueryBlob)(void* handle, const char* sql, const void* data, int32_t length);
};

// Providers. InitDBProvider fills the registry's slots from the built-in
// providers (ODBC); false, changing nothing, when it was already done.
// LoadDBProvider makes sure the provider named by the first connection
// parameters record is in a slot; false when there is no record, no built-in
// provider of that name or no free slot. FreeDBProviders empties the registry.
bool InitDBProvider();
bool LoadDBProvider();
void FreeDBProviders();

// Connection parameters. The file is opened as named, else as
// "<root>/data/connparams.txt" under the support library's root.
bool LoadConnParamsEntryFromFile(const char* fileName);
// Lookups point into the list (valid until FreeAllConnParamsEntries).
const ConnParams* GetConnParamsByConnectionName(const char* connectionName);
int32_t GetConnParamsCount();
const ConnParams* GetConnParamsAt(int32_t index);
void FreeAllConnParamsEntries();

// The data-source map: table name -> connection name (table names compared
// without regard to case). An entry given to AddDataSourceMapEntry belongs to
// the map when it returns true.
DataSourceMapEntry* CreateDataSourceMapEntry(const char* tableName, const char* connectionName);
bool AddDataSourceMapEntry(DataSourceMapEntry* entry);
bool DeleteDataSourceMapEntry(const char* tableName);
// The file is opened as named, else as "<root>/data/dsn_table_map.txt".
bool LoadDataSourceMapEntryFromFile(const char* fileName);
DataSourceMapEntry* GetDataSourceMapEntry(const char* tableName);
void FreeAllDataSourceMapEntries();
// valid 1: each table's connection comes from the map; valid 0: the map is
// not used, the one pool entry serves every table, in dialect n (0 MYSQL,
// 1 PGSQL, 2 FIREBIRD, 3 SQLITE).
void SetDSNMapValid(int32_t valid, int32_t dialectIndex);
int32_t GetDSNMapValid();  // 1 when the map is in use
const SqlDialect* GetDefaultSqlDialect();  // the dialect chosen by SetDSNMapValid(0, n); null before
// The table's connection name from the map (points into it), or null with an
// ERROR line.
const char* GetConnectionNameForTable(const char* tableName);
// The dialect of the table's connection (or the default one when the map is
// not in use); null when there is none.
const SqlDialect* GetSqlDialectForTable(const char* tableName);

// The pool. EstablishDBConnections opens one connection per connection
// parameters record, CreateConnectionPool count of them (5 for 0).
bool EstablishDBConnections();
bool CreateConnectionPool(int32_t count);
// The connection of the calling thread in the named pool entry (without a
// name: the only entry), taking a free one when the thread has none; a
// connection opened 27901 seconds ago or earlier is replaced first. Null when
// there is none to give.
DBConnection* GetConnection(const char* connectionName);
// Frees the calling thread's connection of the named (or first) entry.
bool ReleaseConnection(const char* connectionName);
// Closes every pooled connection and empties the pool.
void CloseAllConnections();
// A new connection through the provider that the parameters name, not pooled.
DBConnection* OpenDBConnection(const ConnParams* params);
// Closes a connection through its provider and frees the record.
void CloseDBConnection(DBConnection* connection);
// This thread's number for pool ownership (2, 3, ... in order of first use).
int32_t CurrentThreadNumber();

// The connection and dialect that a load or save of a table uses: with the
// map in use, the table's connection and the dialect of its parameters;
// otherwise the only pool entry's connection and the default dialect.
struct TableConnection {
  DBConnection* connection;
  char* connectionName;  // owned copy, null when the map is not in use
  const SqlDialect* dialect;
};
// False (with the reason logged) when no connection or dialect can be had;
// out is then empty.
bool AcquireTableConnection(const char* tableName, TableConnection* out);
// ReleaseConnection with the same name, and frees the copy.
void ReleaseTableConnection(TableConnection* tableConnection);

// Execution through the connection's provider. Queries answer a result set
// for the caller (FreeResultSet), null on failure; a query that gives no rows
// answers an empty result set.
bool ExecuteUpdate(DBConnection* connection, const char* sql);
// ExecuteUpdate that also gives the number of rows the statement changed.
bool ExecuteUpdateRowCount(DBConnection* connection, const char* sql, int64_t* rowCount);
ResultSet* ExecuteQuery(DBConnection* connection, const char* sql);
bool ExecuteUpdateBlob(DBConnection* connection, const char* sql, const void* data, int32_t length);
ResultSet* ExecuteQueryBlob(DBConnection* connection, const char* sql, const void* data, int32_t length);
bool BeginTransaction(DBConnection* connection);
bool CommitTransaction(DBConnection* connection);
bool RollbackTransaction(DBConnection* connection);

// "create database <name>" on the pool's connection.
bool CreateDB(const char* databaseName);
// Registers the ODBC data sources listed in a file (driver, name,
// description, server, user, password, database per entry; "NULL" for none)
// through the ODBC installer; false when the file does not open or an entry
// fails.
bool CreateDSNs(const char* fileName);

// The clock of connection ages: seconds since 1970; null restores the real one.
void SetDBClock(int64_t (*now)());
int64_t DBClockNow();

// SQL text of a table in the dialect of its connection, logged at TRACE; null
// when the table has no dialect or the generator gives none. The caller frees
// the text. A select takes the dialect of its first table.
char* GenerateSelectQuery(const SqlQuery* query);
char* GenerateUpdateQuery(const char* tableName, const RowObject* row);
char* GenerateInsertQuery(const char* tableName, const RowObject* row);
char* GenerateDeleteQuery(const char* tableName, const RowObject* row);
char* GenerateCreateQuery(const TableDefn* table);
