// Providers, connections and the pool: the registry of database providers,
// opening and closing connections, the pool that hands connections to threads
// (renewing old ones), execution and transactions through a connection's
// provider, and the connection a table's loads and saves use.
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "agent/log/logger.h"
#include "agent/log/objectlock.h"
#include "tabledata/db/db.h"
#include "tabledata/db/dbinternal.h"
#include "tabledata/strutil.h"

namespace {

// A connection older than this many seconds is replaced before it is handed out.
constexpr int64_t kConnectionLifetime = 27901;

// The registry: two slots, filled from the built-in providers.
constexpr int32_t kProviderSlots = 2;
const DBProvider* const kBuiltInProviders[] = {&kOdbcProvider};
std::mutex g_providerMutex;
const DBProvider* g_providers[kProviderSlots] = {};
bool g_providersInitialised = false;

// The pool: one entry per connection parameters record. A plain mutex rather
// than the object lock: threads wait here on every GetConnection, and the
// object lock's waits grow longer over the life of the process.
struct PoolEntry {
  std::string connectionName;
  std::vector<DBConnection*> connections;
};
std::mutex g_poolMutex;
std::vector<PoolEntry> g_pool;

std::atomic<int64_t (*)()> g_clock{nullptr};
std::atomic<int32_t> g_nextThreadNumber{2};

const DBProvider* ProviderAt(int32_t index) {
  std::lock_guard<std::mutex> lock(g_providerMutex);
  return index >= 0 && index < kProviderSlots ? g_providers[index] : nullptr;
}

// The slot holding the provider of that name (any case), or -1.
int32_t ProviderSlot(const char* name) {
  if (!name) return -1;
  std::lock_guard<std::mutex> lock(g_providerMutex);
  for (int32_t i = 0; i < kProviderSlots; ++i)
    if (g_providers[i] && CompareStringsNoCase(g_providers[i]->name, name) == 0) return i;
  return -1;
}

// The entry of that name (any case), or without a name the only entry; the
// caller holds g_poolMutex.
PoolEntry* FindPoolEntry(const char* connectionName) {
  if (!connectionName) return g_pool.size() == 1 ? &g_pool[0] : nullptr;
  for (PoolEntry& entry : g_pool)
    if (CompareStringsNoCase(entry.connectionName.c_str(), connectionName) == 0) return &entry;
  return nullptr;
}

// The owner a thread has in an entry: its number, or 1 in a one-connection
// entry, whose connection every thread shares.
int32_t OwnerIn(const PoolEntry& entry) { return entry.connections.size() == 1 ? 1 : CurrentThreadNumber(); }

// Opens count connections for every parameters record as new pool entries.
bool FillPool(int32_t count, bool numbered) {
  for (int32_t i = 0; i < GetConnParamsCount(); ++i) {
    const ConnParams* params = GetConnParamsAt(i);
    if (!params) continue;
    PoolEntry entry;
    entry.connectionName = params->connectionName ? params->connectionName : "";
    for (int32_t n = 0; n < count; ++n) {
      DBConnection* connection = OpenDBConnection(params);
      if (!connection) {
        LogError("Cannot establish connection.\n");
        for (DBConnection* opened : entry.connections) CloseDBConnection(opened);
        return false;
      }
      entry.connections.push_back(connection);
      if (numbered)
        LogDebug(" %d : %s : Connection Established\n", n, entry.connectionName.c_str());
      else
        LogDebug(" %s : Connection Established\n", entry.connectionName.c_str());
    }
    std::lock_guard<std::mutex> lock(g_poolMutex);
    g_pool.push_back(std::move(entry));
  }
  return true;
}

// Replaces the provider handle of an old connection by a new one through the
// same parameters; the record itself stays, so that a thread that shares it
// keeps a valid pointer. The old handle is closed once no execution runs on it.
bool RenewConnection(DBConnection* connection, const std::string& connectionName) {
  const ConnParams* params = GetConnParamsByConnectionName(connectionName.c_str());
  if (!params) {
    LogError("Cannot return connection handle. Error in fetching connection parameters.\n");
    return false;
  }
  DBConnection* fresh = OpenDBConnection(params);
  if (!fresh) {
    LogError("Cannot return connection handle. Error in opening connection while re-establishing connection hanlde.\n");
    return false;
  }
  LockObject(connection);
  void* oldHandle = connection->providerHandle;
  const int32_t oldIndex = connection->providerIndex;
  connection->providerHandle = fresh->providerHandle;
  connection->providerIndex = fresh->providerIndex;
  connection->openedAt = fresh->openedAt;
  connection->inTransaction = 0;
  UnlockObject(connection);
  fresh->providerHandle = oldHandle;
  fresh->providerIndex = oldIndex;
  CloseDBConnection(fresh);
  LogDebug(" %s : Connection Established\n", connectionName.c_str());
  return true;
}

// Runs an operation of the connection's provider under the connection's lock.
template <typename Result, typename Call>
Result WithProvider(DBConnection* connection, Result failed, Call call) {
  LockObject(connection);
  const DBProvider* provider = ProviderAt(connection->providerIndex);
  Result result = provider ? call(*provider, connection->providerHandle) : failed;
  UnlockObject(connection);
  return result;
}

const char* OrNull(const char* text) { return text ? text : "(null)"; }

constexpr char kNoUpdateText[] = " No Query To be Updated \n";
constexpr char kNoQueryText[] = " No Query To be Executed \n";

// Whether a statement can go to a connection's provider; logs why not.
bool CanExecute(const DBConnection* connection, const char* sql, const char* operation, const char* noText) {
  if (!connection) {
    LogError("ConnectionHandle NULL in %s for Query %s \n", operation, OrNull(sql));
    return false;
  }
  if (!sql) {
    LogError("%s", noText);
    return false;
  }
  return true;
}

// Commits or rolls back through the provider; only a connection in a
// transaction has one to end, and it stays marked when ending fails.
bool EndTransaction(DBConnection* connection, bool (*DBProvider::*end)(void* handle)) {
  if (!connection || !connection->inTransaction) return false;
  const bool ended = WithProvider(connection, false, [end](const DBProvider& p, void* handle) { return (p.*end)(handle); });
  if (ended) connection->inTransaction = 0;
  return ended;
}

}  // namespace

bool InitDBProvider() {
  std::lock_guard<std::mutex> lock(g_providerMutex);
  if (g_providersInitialised) return false;
  int32_t slot = 0;
  for (const DBProvider* provider : kBuiltInProviders)
    if (slot < kProviderSlots) g_providers[slot++] = provider;
  g_providersInitialised = true;
  return true;
}

bool LoadDBProvider() {
  const ConnParams* params = GetConnParamsAt(0);
  if (!params || !params->provider) return false;
  if (ProviderSlot(params->provider) >= 0) return true;
  std::lock_guard<std::mutex> lock(g_providerMutex);
  for (const DBProvider* provider : kBuiltInProviders) {
    if (CompareStringsNoCase(provider->name, params->provider) != 0) continue;
    for (const DBProvider*& slot : g_providers) {
      if (slot) continue;
      slot = provider;
      g_providersInitialised = true;
      return true;
    }
    return false;
  }
  return false;
}

void FreeDBProviders() {
  std::lock_guard<std::mutex> lock(g_providerMutex);
  for (const DBProvider*& slot : g_providers) slot = nullptr;
  g_providersInitialised = false;
}

void SetDBClock(int64_t (*now)()) { g_clock.store(now); }

int64_t DBClockNow() {
  int64_t (*now)() = g_clock.load();
  return now ? now() : static_cast<int64_t>(time(nullptr));
}

int32_t CurrentThreadNumber() {
  thread_local const int32_t number = g_nextThreadNumber.fetch_add(1);
  return number;
}

DBConnection* OpenDBConnection(const ConnParams* params) {
  LogTrace("## Inside OpenDBConnection ##\n");
  if (!params) return nullptr;
  const int32_t slot = ProviderSlot(params->provider);
  const DBProvider* provider = ProviderAt(slot);
  if (!provider) return nullptr;
  DBConnection* connection = static_cast<DBConnection*>(calloc(1, sizeof(DBConnection)));
  if (!connection) return nullptr;
  connection->providerHandle = provider->open(params);
  if (!connection->providerHandle) {
    free(connection);
    return nullptr;
  }
  connection->providerIndex = slot;
  connection->owner = -1;
  connection->inTransaction = 0;
  connection->openedAt = DBClockNow();
  return connection;
}

void CloseDBConnection(DBConnection* connection) {
  if (!connection) return;
  const DBProvider* provider = ProviderAt(connection->providerIndex);
  if (provider && connection->providerHandle) provider->close(connection->providerHandle);
  free(connection);
}

bool EstablishDBConnections() { return FillPool(1, false); }

bool CreateConnectionPool(int32_t count) {
  if (GetConnParamsCount() == 0) {
    LogError("There is no entry in data source vector\n");
    return false;
  }
  return FillPool(count > 0 ? count : 5, true);
}

DBConnection* GetConnection(const char* connectionName) {
  std::lock_guard<std::mutex> lock(g_poolMutex);
  if (g_pool.empty()) return nullptr;
  const int64_t now = DBClockNow();
  PoolEntry* entry = FindPoolEntry(connectionName);
  if (!entry) return nullptr;
  const int32_t me = OwnerIn(*entry);
  DBConnection* chosen = nullptr;
  for (DBConnection* connection : entry->connections)
    if (connection->owner == me) {
      chosen = connection;
      break;
    }
  const int32_t previousOwner = chosen ? me : -1;
  if (!chosen) {
    for (DBConnection* connection : entry->connections)
      if (connection->owner == -1) {
        chosen = connection;
        break;
      }
  }
  if (!chosen) return nullptr;
  chosen->owner = me;
  if (now - chosen->openedAt < kConnectionLifetime) return chosen;
  if (!RenewConnection(chosen, entry->connectionName)) {
    chosen->owner = previousOwner;
    return nullptr;
  }
  return chosen;
}

bool ReleaseConnection(const char* connectionName) {
  std::lock_guard<std::mutex> lock(g_poolMutex);
  PoolEntry* entry = connectionName ? FindPoolEntry(connectionName) : (g_pool.empty() ? nullptr : &g_pool[0]);
  if (!entry) return false;
  const int32_t me = OwnerIn(*entry);
  for (DBConnection* connection : entry->connections) {
    if (connection->owner != me) continue;
    connection->owner = -1;
    return true;
  }
  return false;
}

void CloseAllConnections() {
  std::lock_guard<std::mutex> lock(g_poolMutex);
  for (PoolEntry& entry : g_pool)
    for (DBConnection* connection : entry.connections) CloseDBConnection(connection);
  g_pool.clear();
}

bool AcquireTableConnection(const char* tableName, TableConnection* out) {
  if (!out) return false;
  *out = TableConnection{nullptr, nullptr, nullptr};
  if (GetDSNMapValid() != 1) {
    DBConnection* connection = GetConnection(nullptr);
    if (!connection) return false;
    const SqlDialect* dialect = GetDefaultSqlDialect();
    if (!dialect) {
      ReleaseConnection(nullptr);
      return false;
    }
    *out = TableConnection{connection, nullptr, dialect};
    return true;
  }
  const std::optional<std::string> connectionName = CopyConnectionNameForTable(tableName);
  if (!connectionName) return false;
  char* name = nullptr;
  if (DuplicateString(&name, connectionName->c_str()) != 1) return false;
  DBConnection* connection = GetConnection(name);
  if (!connection) {
    free(name);
    return false;
  }
  const SqlDialect* dialect = GetSqlDialectOfConnection(name);
  if (!dialect) {
    ReleaseConnection(name);
    free(name);
    return false;
  }
  *out = TableConnection{connection, name, dialect};
  return true;
}

void ReleaseTableConnection(TableConnection* tableConnection) {
  if (!tableConnection || !tableConnection->connection) return;
  ReleaseConnection(tableConnection->connectionName);
  free(tableConnection->connectionName);
  *tableConnection = TableConnection{nullptr, nullptr, nullptr};
}

bool ExecuteUpdate(DBConnection* connection, const char* sql) {
  return ExecuteUpdateRowCount(connection, sql, nullptr);
}

bool ExecuteUpdateRowCount(DBConnection* connection, const char* sql, int64_t* rowCount) {
  if (!CanExecute(connection, sql, "ExecuteUpdate", kNoUpdateText)) return false;
  return WithProvider(connection, false, [sql, rowCount](const DBProvider& p, void* handle) {
    return p.executeUpdate(handle, sql, rowCount);
  });
}

ResultSet* ExecuteQuery(DBConnection* connection, const char* sql) {
  if (!CanExecute(connection, sql, "ExecuteQuery", kNoQueryText)) return nullptr;
  return WithProvider(connection, static_cast<ResultSet*>(nullptr),
                      [sql](const DBProvider& p, void* handle) { return p.executeQuery(handle, sql); });
}

bool ExecuteUpdateBlob(DBConnection* connection, const char* sql, const void* data, int32_t length) {
  if (!CanExecute(connection, sql, "ExecuteUpdateBlob", kNoUpdateText)) return false;
  return WithProvider(connection, false, [=](const DBProvider& p, void* handle) {
    return p.executeUpdateBlob(handle, sql, data, length);
  });
}

ResultSet* ExecuteQueryBlob(DBConnection* connection, const char* sql, const void* data, int32_t length) {
  if (!CanExecute(connection, sql, "ExecuteQueryBlob", kNoQueryText)) return nullptr;
  return WithProvider(connection, static_cast<ResultSet*>(nullptr), [=](const DBProvider& p, void* handle) {
    return p.executeQueryBlob(handle, sql, data, length);
  });
}

bool BeginTransaction(DBConnection* connection) {
  if (!connection) return false;
  const bool begun =
      WithProvider(connection, false, [](const DBProvider& p, void* handle) { return p.beginTransaction(handle); });
  if (begun) connection->inTransaction = 1;
  return begun;
}

bool CommitTransaction(DBConnection* connection) { return EndTransaction(connection, &DBProvider::commitTransaction); }

bool RollbackTransaction(DBConnection* connection) {
  return EndTransaction(connection, &DBProvider::rollbackTransaction);
}

bool CreateDB(const char* databaseName) {
  LogTrace("@@ Inside CreateDB @@\n");
  DBConnection* connection = GetConnection(nullptr);
  if (!connection) {
    LogError("Cannot create DB.  Connection not established.\n");
    return false;
  }
  // The name becomes part of the statement: only a plain identifier is taken.
  bool plain = databaseName && *databaseName;
  for (const char* c = databaseName; plain && *c; ++c)
    plain = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') || *c == '_';
  const bool created = plain && ExecuteUpdate(connection, FormatText("create database %s", databaseName).c_str());
  if (!created) LogError("Cannot create database %s.\n", OrNull(databaseName));
  ReleaseConnection(nullptr);
  return created;
}
