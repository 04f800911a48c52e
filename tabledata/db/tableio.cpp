// Loading and saving whole tables (see tableio.h): the list files, the loads
// by query into tables and views, unloading, the row-by-row save under the
// save lock, and default rows from XML data files.
#include "tabledata/db/tableio.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "agent/log/format.h"
#include "agent/log/logger.h"
#include "agent/log/objectlock.h"
#include "tabledata/strutil.h"
#include "tabledata/xml/tablexml.h"

namespace {

// Taken for the whole of a SaveTable run.
const char g_saveLock = 0;
// Whether this thread holds the save lock: a listener called by a save that
// saves again would wait for ever for the lock its own thread holds.
thread_local bool t_saving = false;

// One SaveTable's walk over its rows.
struct SaveWalk {
  const char* tableName;
  const TableConnection* connection;
  bool allSaved;
};

constexpr char kLoadListName[] = "loadtablelist.txt";
constexpr char kSaveListName[] = "savetableslist.txt";
constexpr char kDefaultDataListName[] = "defaultdata.txt";
constexpr char kNearDataFolder[] = "..\\data\\";
constexpr int kXmlParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

// "<root>/data/<name>" under the support library's root, or none without one.
std::optional<std::string> RootDataPath(const std::string& name) {
  const std::optional<std::string> root = GetCQuillRoot();
  if (!root) return std::nullopt;
  return *root + "/data/" + name;
}

// Opens a list file: "..\\data\\<name>" first when tryNear (*near tells whether
// that was it), else "<root>/data/<name>". Null when neither opens.
FILE* OpenListFile(const char* name, bool tryNear, bool* near) {
  if (near) *near = false;
  if (tryNear) {
    if (FILE* file = fopen((std::string(kNearDataFolder) + name).c_str(), "r")) {
      if (near) *near = true;
      return file;
    }
  }
  const std::optional<std::string> path = RootDataPath(name);
  if (!path) return nullptr;
  LogDebug("Opening %s\n", path->c_str());
  return fopen(path->c_str(), "r");
}

// The next line without its line end, of any length; false at the end of the file.
bool ReadLine(FILE* file, std::string* line) {
  line->clear();
  int c = 0;
  while ((c = getc(file)) != EOF && c != '\n') line->push_back(static_cast<char>(c));
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return c != EOF || !line->empty();
}

// The white-space-separated words of the rest of a file.
std::vector<std::string> ReadWords(FILE* file) {
  std::vector<std::string> words;
  std::string word;
  for (int c = getc(file);; c = getc(file)) {
    if (c == EOF || isspace(c)) {
      if (!word.empty()) words.push_back(word);
      word.clear();
      if (c == EOF) break;
    } else {
      word.push_back(static_cast<char>(c));
    }
  }
  return words;
}

// Loads every table a load list names; the result of each load is not looked at.
void LoadListedTables(FILE* list) {
  std::string line;
  while (ReadLine(list, &line)) {
    if (line.empty()) continue;
    const size_t blank = line.find(' ');
    if (blank == std::string::npos) {
      LoadTable(line.c_str());
      continue;
    }
    const std::string name = line.substr(0, blank);
    const std::string rest = line.substr(blank + 1);
    if (rest.find("select") != std::string::npos || rest.find("SELECT") != std::string::npos) {
      LogTrace("LOADTABLE_QUERY : %s\n", rest.c_str());
      LoadTableByQuery(name.c_str(), rest.c_str());
    } else {
      LogTrace("LOADTABLE : %s\n", name.c_str());
      LoadTable(name.c_str());
    }
  }
}

// Runs a query on the connection of tableName and hands the connection back.
// Null when no connection can be had or the query fails; *dialect gets the
// table's dialect.
ResultSet* QueryForTable(const char* tableName, const char* query, const SqlDialect** dialect) {
  TableConnection tableConnection{};
  if (!AcquireTableConnection(tableName, &tableConnection)) return nullptr;
  ResultSet* resultSet = ExecuteQuery(tableConnection.connection, query);
  *dialect = tableConnection.dialect;
  ReleaseTableConnection(&tableConnection);
  return resultSet;
}

// Adds every row of the result set to the store's table targetName, each
// converted by the dialect into a row of the definition of sourceName.
bool AddResultRows(const char* targetName, const char* sourceName, ResultSet* resultSet, const SqlDialect* dialect) {
  const TableData* target = GetTableDataByName(targetName);
  if (!target || !dialect || !dialect->convertRow) return false;
  ResetResultSetCursor(resultSet);
  while (GotoNextResultSetRow(resultSet)) {
    RowObject* row = dialect->convertRow(sourceName, resultSet);
    if (!row) return false;
    if (!AddNewRow(targetName, row)) {
      FreeRowObject(row, target->columnCount);
      return false;
    }
  }
  return true;
}

// A view column for each column of the definition; false when out of memory.
bool AddViewColumns(CustomViewDefn* viewDefn, const TableDefn* base) {
  for (VectorNode* n = ElementAt(base->columns, 0); n; n = n->next) {
    ColumnDefn* column = static_cast<ColumnDefn*>(n->element);
    LogTrace("%s\t", column->name);
    ViewColumnDefn* viewColumn = CreateViewColumnDefn(column->name, 0, 0, column);
    if (!viewColumn) return false;
    if (!AddElementData(viewDefn->columns, viewColumn)) {
      free(viewColumn->name);
      free(viewColumn);
      return false;
    }
  }
  return true;
}

// Adds the names of the dictionary tables that elements below parent carry,
// at any depth, each once (without regard to case), in order of first
// appearance. The parser bounds a document's depth, and so the recursion.
void CollectDocumentTables(xmlNodePtr parent, std::vector<std::string>* names) {
  for (xmlNodePtr element = xmlFirstElementChild(parent); element; element = xmlNextElementSibling(element)) {
    const char* name = reinterpret_cast<const char*>(element->name);
    bool listed = false;
    for (const std::string& n : *names) listed = listed || CompareStringsNoCase(n.c_str(), name) == 0;
    if (!listed && GetTableDefn(name)) names->push_back(name);
    CollectDocumentTables(element, names);
  }
}

}  // namespace

bool LoadAllTables() {
  LogTrace("\t@@@@@ Inside LoadAllTables() @@@@@\n");
  FILE* list = OpenListFile(kLoadListName, true, nullptr);
  if (!list) {
    LogError("Cannot open LoadTableList Entry File.\n");
    return false;
  }
  LoadListedTables(list);
  fclose(list);
  return true;
}

bool LoadTablesFromListFile(const char* path) {
  LogTrace("\t@@@@@ Inside LoadAllTables() @@@@@\n");
  FILE* list = path ? fopen(path, "r") : nullptr;
  if (!list) return false;
  LoadListedTables(list);
  fclose(list);
  return true;
}

bool LoadTable(const char* tableName) {
  LogTrace("\nLoading Table : %s\n", tableName ? tableName : "");
  if (!tableName) return false;
  const SqlDialect* dialect = nullptr;
  ResultSet* resultSet = QueryForTable(tableName, FormatText("select * from %s", tableName).c_str(), &dialect);
  if (!resultSet) {
    LogError("Error in executing select query for %s\n", tableName);
    return false;
  }
  bool ok = false;
  const TableDefn* defn = GetTableDefn(tableName);
  if (!defn) {
    LogError("Error in getting Table Definition for %s\n", tableName);
  } else if (!defn->columns || resultSet->columnCount != defn->columns->count) {
    LogError(
        "\nLoadTable Failed for %s table as there is mismatch between table definition in datadictionary and actual "
        "table in database\n",
        tableName);
  } else if (!CreateTable(tableName)) {
    LogError("CreateTable Failed \n");
  } else {
    ok = AddResultRows(tableName, tableName, resultSet, dialect);
  }
  FreeResultSet(resultSet);
  return ok;
}

bool LoadTableByQuery(const char* tableName, const char* query) {
  LogTrace("\t@@@@@ Inside LoadTableByQuery() @@@@@\n");
  if (!tableName || !query) return false;
  LogTrace("\nLoading Table : %s\n", tableName);
  LogTrace("\nSelect Query  : %s\n", query);
  const SqlDialect* dialect = nullptr;
  ResultSet* resultSet = QueryForTable(tableName, query, &dialect);
  if (!resultSet) {
    LogError("Error in executing select query \n");
    CreateTable(tableName);
    return false;
  }
  const bool ok = CreateTable(tableName) && AddResultRows(tableName, tableName, resultSet, dialect);
  FreeResultSet(resultSet);
  return ok;
}

bool LoadViewByQuery(const char* viewName, const char* baseTableName, const char* query) {
  LogTrace("@@@ Inside LoadViewByQuery @@@\n");
  if (!viewName || !baseTableName || !query) return false;
  LogTrace("\nLoading View Data : %s\n", viewName);
  const SqlDialect* dialect = nullptr;
  ResultSet* resultSet = QueryForTable(baseTableName, query, &dialect);
  if (!resultSet) {
    LogError("Error in executing select query \n");
    return false;
  }
  bool ok = false;
  const TableDefn* base = GetTableDefn(baseTableName);
  Vector* columns = base ? CreateVector() : nullptr;
  const char* const names[] = {baseTableName};
  CustomViewDefn* viewDefn = columns ? CreateCustomViewDefn(1, names, columns) : nullptr;
  if (!viewDefn) {
    free(columns);
  } else if (!AddViewColumns(viewDefn, base)) {
    FreeCustomViewDefn(viewDefn);
  } else if (CreateCustomViewData(viewName, viewDefn)) {
    ok = AddResultRows(viewName, baseTableName, resultSet, dialect);
  }
  FreeResultSet(resultSet);
  return ok;
}

int32_t UnLoadAllTable() {
  LogTrace("@@@ Inside UnLoadAllTable @@@\n");
  Vector* tables = GetTableList();
  while (VectorNode* first = ElementAt(tables, 0)) {
    TableData* table = static_cast<TableData*>(first->element);
    DeleteElement(tables, first);
    FreeTableData(table);
    free(table);
  }
  return 1;
}

bool UnLoadTable(const char* tableName) {
  LogTrace("\t@@@@@ UnLoadTable() @@@@@\n");
  TableData* table = GetTableDataByName(tableName);
  if (!table) return false;
  DeleteLCDVector(GetTableList(), table);
  FreeTableData(table);
  free(table);
  return true;
}

bool ReloadTableData() {
  LogTrace("\t@@@@@ Inside ReloadTableData() @@@@@\n");
  UnLoadAllTable();
  return LoadAllTables();
}

bool SaveRowUnit(const char* tableName, RowObject* row, const TableConnection* tableConnection) {
  LogTrace("@@@@  Inside SaveRowUnit @@@@\n");
  const uint8_t state = row->state;
  LogDebug("RowState %d\n", state);
  if (state == 0 || state == ROW_STORED) return true;
  const bool deleting = (state & ROW_STORED) && (state & ROW_DELETED);
  char* query = nullptr;
  if (state == (ROW_STORED | ROW_MODIFIED)) {
    query = GenerateUpdateQuery(tableName, row);
  } else if (deleting) {
    query = GenerateDeleteQuery(tableName, row);
  } else if (state == ROW_NEW || state == (ROW_NEW | ROW_MODIFIED)) {
    query = GenerateInsertQuery(tableName, row);
  } else if (state != (ROW_NEW | ROW_DELETED)) {
    LogError("Invalid State for keyStr.  Cannot Save.\n");
  }
  if (!query) {
    LogError("QueryPtr is NULL.\n");
    // A new row deleted again has nothing to save; every other row here could
    // not be saved.
    return state == (ROW_NEW | ROW_DELETED);
  }
  const bool executed = ExecuteUpdate(tableConnection->connection, query);
  if (!executed) {
    LogError("Error in executing update query \n");
    LogError("QUERY : %s\n", query);
  } else if (deleting) {
    row->state = ROW_DELETED;
    DeleteRowObject(tableName, row);
  } else {
    row->state = ROW_STORED;
  }
  free(query);
  return executed;
}

bool SaveTable(const char* tableName) {
  LogTrace("@@@ Inside SaveTable @@@\n");
  TableData* table = GetTableDataByName(tableName);
  if (!table) return false;
  if (t_saving) {
    LogError("SaveTable refused for %s: a save is already running on this thread\n", tableName);
    return false;
  }
  LockObject(&g_saveLock);
  t_saving = true;
  TableConnection tableConnection{};
  bool saved = AcquireTableConnection(tableName, &tableConnection);
  if (saved) {
    // The rows of the table as the save begins; a deleted row that its save
    // removes, and any row that a listener deletes meanwhile, is freed when
    // the walk ends, and one deleted before its turn is not saved.
    SaveWalk walk{table->name, &tableConnection, true};
    saved = ForEachTableRow(
                table,
                [](RowObject* row, void* context) {
                  SaveWalk* save = static_cast<SaveWalk*>(context);
                  if (!SaveRowUnit(save->tableName, row, save->connection)) save->allSaved = false;
                },
                &walk) &&
            walk.allSaved;
    ReleaseTableConnection(&tableConnection);
  }
  t_saving = false;
  UnlockObject(&g_saveLock);
  return saved;
}

bool SaveAllTables() {
  LogTrace("@@@ Inside SaveAllTables @@@\n");
  for (VectorNode* n = ElementAt(GetTableList(), 0); n; n = n->next) {
    const TableData* table = static_cast<const TableData*>(n->element);
    if (table->name) SaveTable(table->name);
  }
  return true;
}

bool SaveTablesFromList() {
  LogTrace("\t@@@@@ Inside SaveTablesFromList @@@@@\n");
  FILE* list = OpenListFile(kSaveListName, false, nullptr);
  if (!list) {
    LogError("No tables to be saved.\n");
    return true;
  }
  std::string line;
  while (ReadLine(list, &line)) {
    const size_t end = line.find_first_of(" \t");
    const std::string name = line.substr(0, end);
    if (!name.empty()) SaveTable(name.c_str());
  }
  fclose(list);
  return true;
}

bool SaveDefaultData() {
  LogTrace("\t@@@@@ Inside SaveDefaultData @@@@@\n");
  bool near = false;
  FILE* list = OpenListFile(kDefaultDataListName, true, &near);
  if (!list) {
    LogError("No default data to be prepopulated.\n");
    return true;
  }
  const std::vector<std::string> files = ReadWords(list);
  fclose(list);
  bool ok = true;
  for (const std::string& file : files) {
    const std::optional<std::string> path = near ? std::string(kNearDataFolder) + file : RootDataPath(file);
    if (!path || !SaveDataInXML(path->c_str())) ok = false;
  }
  return ok;
}

bool SaveDataInXML(const char* path) {
  LogTrace("@@@@@ Inside SaveDataInXML @@@@@\n");
  // One parse serves both the load and the walk over the document's tables.
  xmlDocPtr document = path ? xmlReadFile(path, nullptr, kXmlParseOptions) : nullptr;
  xmlNodePtr root = document ? xmlDocGetRootElement(document) : nullptr;
  StringMap* idMap = root ? LoadTableDataFromXmlNode(document, root) : nullptr;
  if (!idMap) {
    LogError("Cannot create DO from %s.\n", path ? path : "");
    if (document) xmlFreeDoc(document);
    return false;
  }
  FreeIDMap(idMap);
  std::vector<std::string> tables;
  CollectDocumentTables(root, &tables);
  bool ok = true;
  for (const std::string& name : tables)
    if (!SaveTable(name.c_str())) ok = false;
  xmlFreeDoc(document);
  return ok;
}
