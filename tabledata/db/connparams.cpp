// The configuration of the databases: connection parameters ("connparams.txt"),
// the table-to-connection map ("dsn_table_map.txt"), whether that map is in use
// and the dialect of each table's connection.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "agent/log/logger.h"
#include "tabledata/db/db.h"
#include "tabledata/db/dbinternal.h"
#include "tabledata/strutil.h"
#include "tabledata/values/scan.h"

namespace {

// Both lists, guarded by one mutex; the records are heap blocks so that the
// pointers handed out stay valid while the lists grow.
std::mutex g_configMutex;
std::vector<ConnParams*> g_connParams;
std::vector<DataSourceMapEntry*> g_dataSourceMap;
int32_t g_dsnMapValid = 0;
const SqlDialect* g_defaultDialect = nullptr;

// The content of the file as named, else of "<root>/data/<defaultName>"
// (logged "Opening %s\n"); none when neither opens.
std::optional<std::string> ReadConfigFile(const char* fileName, const char* defaultName) {
  if (std::optional<std::string> content = ReadWholeFile(fileName)) return content;
  const std::optional<std::string> root = GetCQuillRoot();
  if (!root) return std::nullopt;
  const std::string path = *root + "/data/" + defaultName;
  LogDebug("Opening %s\n", path.c_str());
  return ReadWholeFile(path.c_str());
}

void FreeConnParams(ConnParams* params) {
  if (!params) return;
  for (char* text : {params->name, params->dsn, params->user, params->password, params->connectionName,
                     params->connectionString, params->provider, params->databaseType})
    free(text);
  free(params);
}

void FreeMapEntry(DataSourceMapEntry* entry) {
  if (!entry) return;
  free(entry->tableName);
  free(entry->connectionName);
  free(entry);
}

// The record of one entry's words and line rest; null when out of memory.
ConnParams* NewConnParams(const std::vector<std::string>& words, int32_t number, const std::string& rest) {
  ConnParams* params = static_cast<ConnParams*>(calloc(1, sizeof(ConnParams)));
  if (!params) return nullptr;
  params->number = number;
  params->useConnectionString = CompareStringsNoCase(words[9].c_str(), "YES") == 0 ? 1 : 0;
  const bool copied = DuplicateString(&params->name, words[0].c_str()) == 1 &&
                      DuplicateString(&params->dsn, words[2].c_str()) == 1 &&
                      DuplicateString(&params->user, words[3].c_str()) == 1 &&
                      DuplicateString(&params->password, words[4] == "NULL" ? nullptr : words[4].c_str()) == 1 &&
                      DuplicateString(&params->connectionName, words[6].c_str()) == 1 &&
                      DuplicateString(&params->provider, words[7].c_str()) == 1 &&
                      DuplicateString(&params->databaseType, words[8].c_str()) == 1 &&
                      DuplicateString(&params->connectionString,
                                      params->useConnectionString ? rest.c_str() : nullptr) == 1;
  if (!copied) {
    FreeConnParams(params);
    return nullptr;
  }
  return params;
}

// Finds under the lock; the caller holds g_configMutex.
DataSourceMapEntry* FindMapEntry(const char* tableName) {
  if (!tableName) return nullptr;
  for (DataSourceMapEntry* entry : g_dataSourceMap)
    if (CompareStringsNoCase(entry->tableName, tableName) == 0) return entry;
  return nullptr;
}

ConnParams* FindConnParams(const char* connectionName) {
  if (!connectionName) return nullptr;
  for (ConnParams* params : g_connParams)
    if (CompareStringsNoCase(params->connectionName, connectionName) == 0) return params;
  return nullptr;
}

}  // namespace

// Words separated by white space, and the rest of a line.
bool ConfigReader::Word(std::string* word) {
  while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
  const size_t start = pos_;
  while (pos_ < text_.size() && !IsBlank(text_[pos_])) ++pos_;
  word->assign(text_, start, pos_ - start);
  return pos_ > start;
}

std::string ConfigReader::LineRest() {
  size_t end = text_.find('\n', pos_);
  if (end == std::string::npos) end = text_.size();
  size_t start = pos_;
  pos_ = end < text_.size() ? end + 1 : end;
  if (start < end && text_[start] == ' ') ++start;
  if (end > start && text_[end - 1] == '\r') --end;
  return text_.substr(start, end - start);
}

std::optional<std::string> ReadWholeFile(const char* path) {
  FILE* file = path ? fopen(path, "rb") : nullptr;
  if (!file) return std::nullopt;
  std::string content;
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, n);
  fclose(file);
  return content;
}

bool ConfigReader::IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

bool LoadConnParamsEntryFromFile(const char* fileName) {
  const std::optional<std::string> content = ReadConfigFile(fileName, "connparams.txt");
  if (!content) {
    LogError("Cannot open Connection Parameters File.\n");
    return false;
  }
  ConfigReader reader(*content);
  for (;;) {
    std::vector<std::string> words(10);
    bool complete = true;
    for (std::string& word : words) complete = complete && reader.Word(&word);
    uint64_t number = 0;
    if (!complete || !ParseIntegerOfWidth(words[1].data(), words[1].size(), 32, true, &number)) break;
    const std::string rest = reader.LineRest();
    ConnParams* params = NewConnParams(words, static_cast<int32_t>(static_cast<uint32_t>(number)), rest);
    if (!params) continue;  // an entry whose record cannot be built is left out
    std::lock_guard<std::mutex> lock(g_configMutex);
    g_connParams.push_back(params);
  }
  return true;
}

const ConnParams* GetConnParamsByConnectionName(const char* connectionName) {
  std::lock_guard<std::mutex> lock(g_configMutex);
  return FindConnParams(connectionName);
}

int32_t GetConnParamsCount() {
  std::lock_guard<std::mutex> lock(g_configMutex);
  return static_cast<int32_t>(g_connParams.size());
}

const ConnParams* GetConnParamsAt(int32_t index) {
  std::lock_guard<std::mutex> lock(g_configMutex);
  if (index < 0 || static_cast<size_t>(index) >= g_connParams.size()) return nullptr;
  return g_connParams[static_cast<size_t>(index)];
}

void FreeAllConnParamsEntries() {
  std::lock_guard<std::mutex> lock(g_configMutex);
  for (ConnParams* params : g_connParams) FreeConnParams(params);
  g_connParams.clear();
}

DataSourceMapEntry* CreateDataSourceMapEntry(const char* tableName, const char* connectionName) {
  LogTrace("@@@ Inside CreateDataSourceMapEntry @@@\n");
  if (!tableName || !connectionName) return nullptr;
  DataSourceMapEntry* entry = static_cast<DataSourceMapEntry*>(calloc(1, sizeof(DataSourceMapEntry)));
  if (!entry) return nullptr;
  if (DuplicateString(&entry->tableName, tableName) != 1 ||
      DuplicateString(&entry->connectionName, connectionName) != 1) {
    FreeMapEntry(entry);
    return nullptr;
  }
  return entry;
}

bool AddDataSourceMapEntry(DataSourceMapEntry* entry) {
  LogTrace("@@@ Inside AddDataSourceMapEntry @@@\n");
  if (!entry || !entry->tableName || !entry->connectionName) return false;
  std::lock_guard<std::mutex> lock(g_configMutex);
  g_dataSourceMap.push_back(entry);
  return true;
}

bool DeleteDataSourceMapEntry(const char* tableName) {
  LogTrace("@@@ Inside DeleteDataSourceMapEntry @@@\n");
  std::lock_guard<std::mutex> lock(g_configMutex);
  DataSourceMapEntry* entry = FindMapEntry(tableName);
  if (!entry) return false;
  std::erase(g_dataSourceMap, entry);
  FreeMapEntry(entry);
  return true;
}

bool LoadDataSourceMapEntryFromFile(const char* fileName) {
  LogTrace("@@@ Inside LoadDataSourceMapEntryFromFile @@@\n");
  const std::optional<std::string> content = ReadConfigFile(fileName, "dsn_table_map.txt");
  if (!content) {
    LogError("Cannot open DataSourceMap Entry File.\n");
    return false;
  }
  ConfigReader reader(*content);
  std::string table;
  std::string connection;
  while (reader.Word(&table) && reader.Word(&connection)) {
    DataSourceMapEntry* entry = CreateDataSourceMapEntry(table.c_str(), connection.c_str());
    if (entry && !AddDataSourceMapEntry(entry)) FreeMapEntry(entry);
  }
  return true;
}

DataSourceMapEntry* GetDataSourceMapEntry(const char* tableName) {
  LogTrace("@@@ Inside GetDataSourceMapEntry @@@\n");
  std::lock_guard<std::mutex> lock(g_configMutex);
  return FindMapEntry(tableName);
}

void FreeAllDataSourceMapEntries() {
  LogTrace("@@@ Inside FreeAllDataSourceMapEntries @@@\n");
  std::lock_guard<std::mutex> lock(g_configMutex);
  for (DataSourceMapEntry* entry : g_dataSourceMap) FreeMapEntry(entry);
  g_dataSourceMap.clear();
}

void SetDSNMapValid(int32_t valid, int32_t dialectIndex) {
  LogTrace("@@@ Inside SetDSNMapValid @@@\n");
  static const char* const kDialectNames[] = {"MYSQL", "PGSQL", "FIREBIRD", "SQLITE"};
  if (valid != 0 && valid != 1) {
    LogError("\nInvalid Status\n");
    return;
  }
  std::lock_guard<std::mutex> lock(g_configMutex);
  g_dsnMapValid = valid;
  if (valid == 0)
    g_defaultDialect = dialectIndex >= 0 && dialectIndex < 4 ? GetSqlDialect(kDialectNames[dialectIndex]) : nullptr;
}

int32_t GetDSNMapValid() {
  std::lock_guard<std::mutex> lock(g_configMutex);
  return g_dsnMapValid;
}

const SqlDialect* GetDefaultSqlDialect() {
  std::lock_guard<std::mutex> lock(g_configMutex);
  return g_defaultDialect;
}

namespace {

// The map entry of a table, or null with an ERROR line; the caller holds
// g_configMutex.
const DataSourceMapEntry* MapEntryOrError(const char* tableName) {
  const DataSourceMapEntry* entry = FindMapEntry(tableName);
  if (!entry) LogError("No DataSourceMap Entry for Table name %s \n", tableName ? tableName : "(null)");
  return entry;
}

}  // namespace

const char* GetConnectionNameForTable(const char* tableName) {
  std::lock_guard<std::mutex> lock(g_configMutex);
  const DataSourceMapEntry* entry = MapEntryOrError(tableName);
  return entry ? entry->connectionName : nullptr;
}

std::optional<std::string> CopyConnectionNameForTable(const char* tableName) {
  std::lock_guard<std::mutex> lock(g_configMutex);
  const DataSourceMapEntry* entry = MapEntryOrError(tableName);
  return entry ? std::optional<std::string>(entry->connectionName) : std::nullopt;
}

const SqlDialect* GetSqlDialectOfConnection(const char* connectionName) {
  std::lock_guard<std::mutex> lock(g_configMutex);
  const ConnParams* params = FindConnParams(connectionName);
  if (!params) {
    LogError("dbConnPtr is NULL for Connection Name %s \n", connectionName ? connectionName : "(null)");
    return nullptr;
  }
  return GetSqlDialect(params->databaseType);
}

const SqlDialect* GetSqlDialectForTable(const char* tableName) {
  if (GetDSNMapValid() != 1) return GetDefaultSqlDialect();
  const std::optional<std::string> connectionName = CopyConnectionNameForTable(tableName);
  return connectionName ? GetSqlDialectOfConnection(connectionName->c_str()) : nullptr;
}
