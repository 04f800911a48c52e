// The support library's start and stop (see cquill.h).
#include "tabledata/db/cquill.h"

#include <cstdlib>

#include "agent/log/logger.h"
#include "agent/log/objectlock.h"
#include "tabledata/db/db.h"
#include "tabledata/db/seqgen.h"
#include "tabledata/db/tableio.h"
#include "tabledata/store/sequence.h"
#include "tabledata/strutil.h"

namespace {

// Whether InitCQuill opened the log (and DeInitCQuill is to close it): a log
// that was open before belongs to whoever opened it. The same for the object
// lock's mutex.
bool g_ownsLog = false;
bool g_ownsMutex = false;

// The dialect number of a database type (0 MYSQL, 1 PGSQL, 2 FIREBIRD, 3 SQLITE), -1 for another.
int32_t DialectIndex(const char* databaseType) {
  static const char* const kTypes[] = {"MYSQL", "PGSQL", "FIREBIRD", "SQLITE"};
  for (int32_t i = 0; i < 4; ++i)
    if (databaseType && CompareStringsNoCase(databaseType, kTypes[i]) == 0) return i;
  return -1;
}

// Creates every table of the dictionary in its connection's database, in
// dictionary order; false at the first one that fails.
bool CreateDictionaryTables() {
  for (VectorNode* n = ElementAt(GetDataDictionary(), 0); n; n = n->next) {
    const TableDefn* table = static_cast<const TableDefn*>(n->element);
    char* query = GenerateCreateQuery(table);
    TableConnection tableConnection{};
    bool created = query && AcquireTableConnection(table->name, &tableConnection);
    if (created) {
      created = ExecuteUpdate(tableConnection.connection, query);
      ReleaseTableConnection(&tableConnection);
    }
    free(query);
    if (!created) return false;
  }
  return true;
}

}  // namespace

bool InitCQuill(const char* root) {
  // The vectors, the criteria parser, the sequences and the connections lock
  // with the object lock, which is a no-op until its mutex exists.
  bool createdMutex = false;
  InitMutex(&createdMutex);
  g_ownsMutex = g_ownsMutex || createdMutex;
  LogTrace("@@ Inside InitCQuill @@\n");
  SetCQuillRoot(root);
  if (!root) LogDebug("Default Path Used");

  const bool logWasOpen = gv_logFilePtr.load() != nullptr;
  if (!InitLogSettings() || !OpenLogFile()) return false;
  g_ownsLog = g_ownsLog || !logWasOpen;

  // The memory pool of the support library is the C heap: nothing to set up.

  if (!InitDBProvider()) LogError("InitDBProvider failed. Already initialized.\n");
  // The store's tables refer to the definitions about to be dropped.
  UnLoadAllTable();
  FreeDataDictionary();
  // The four SQL dialects are a constant table (GetSqlDialect): nothing to register.
  if (!InitSequenceCache()) {
    LogError("Memory allocation Failed\n");
    return false;
  }

  if (!LoadAllDataDictFiles()) {
    LogError("LoadAllDataDictFiles failed.\n");
    return false;
  }
  if (!LoadDataSourceMapEntryFromFile("dsn_table_map.txt")) {
    LogError("LoadDataSourceMapEntryFromFile failed.\n");
    return false;
  }
  if (!LoadConnParamsEntryFromFile("connparams.txt")) {
    LogError("LoadConnParamsEntryFromFile failed.\n");
    return false;
  }
  if (GetConnParamsCount() == 0) {
    LogError("No entires in data source vector. InitCQuill failed.\n");
    return false;
  }
  // Tables find their connections through the data-source map, whether the
  // first entry names a data source or gives a whole connection text.
  SetDSNMapValid(1, DialectIndex(GetConnParamsAt(0)->databaseType));

  if (!EstablishDBConnections()) {
    LogError("EstablishDBConnections failed.\n");
    return false;
  }
  // On a later start the tables exist already and their creation fails: the
  // default data was saved by the first start.
  const bool tablesCreated = CreateDictionaryTables();
  if (!SequenceGenerator()) {
    LogError("SequenceGenerator failed.\n");
    return false;
  }
  if (!LoadAllTables())
    LogError(
        "Error in loading tables from loadtablelist.txt.  Please check if there are any entries in your "
        "loadtablelist.txt or load the required tables manually.\n");
  if (tablesCreated && !SaveDefaultData()) LogError("Cannot save default data.\n");

  LogDebug(
      "\nWelcome to CQuill.  You have successfully initialised the appropriate parameters, loaded the mentioned "
      "files/tables and established connection with the DB.\n");
  return true;
}

void DeInitCQuill() {
  LogTrace("Inside DeInitCQuill.\n");
  UnLoadAllTable();
  FreeSequenceCache();
  CloseAllConnections();
  FreeAllConnParamsEntries();
  FreeAllDataSourceMapEntries();
  FreeDataDictionary();
  // The SQL dialects are a constant table and the memory pool is the C heap;
  // the providers go with them, so that a later InitCQuill starts afresh.
  FreeDBProviders();
  if (g_ownsLog) {
    CloseLogFile();
    FreeLogSettings();
    g_ownsLog = false;
  }
  if (g_ownsMutex) CloseMutex();
  g_ownsMutex = false;
}
