// Loading table data from XML documents (see tablexml.h): parsing, the walk
// over every element below the starting node, and the row that one element
// gives, column by column, from its attributes, defaults and inherited keys.
#include <libxml/parser.h>

#include <algorithm>
#include <cstdlib>

#include "agent/log/logger.h"
#include "tabledata/dict/xmlentities.h"
#include "tabledata/dict/xmlwalk.h"
#include "tabledata/store/tabledata.h"
#include "tabledata/strutil.h"
#include "tabledata/values/valuetypes.h"
#include "tabledata/xml/tablexml.h"
#include "tabledata/xml/xmlinternal.h"

namespace {

// No network, no messages of libxml2's own on stderr.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
// The ID map's buckets at the start of a load; the map grows with its keys.
constexpr int32_t kIDMapBuckets = 50;

// libxml2 is set up before the first load and its global state released once,
// when the process ends: releasing it after each load would pull it from under
// any other user of libxml2 in the process (the data-dictionary reader).
void KeepParserUntilExit() {
  static const struct ParserLifetime {
    ParserLifetime() { xmlInitParser(); }
    ~ParserLifetime() { xmlCleanupParser(); }
  } lifetime;
  (void)lifetime;
}

// One value while a row is built; a new value replaces the one held.
struct Cell {
  void* value = nullptr;
  int32_t length = 0;
  void Set(void* newValue, int32_t newLength) {
    free(value);
    value = newValue;
    length = newLength;
  }
};

// What a value text did for a column: gave its value (or, for a type without
// a text form, nothing); gave the Workflow_Statements end marker 0, after which
// the column is looked for as if it had no attribute; could not be resolved;
// ran out of memory.
enum class Take { kTaken, kGoOn, kUnresolved, kOutOfMemory };

Take Convert(uint8_t type, const char* text, Cell* cell) {
  void* value = nullptr;
  int32_t length = 0;
  if (!AllocateAndCopyColumnValue(&value, &length, type, text)) return Take::kOutOfMemory;
  if (value) cell->Set(value, length);
  return Take::kTaken;
}

// An ID in the column's integer width.
Take StoreID(int32_t id, uint8_t type, Cell* cell) {
  const int64_t wide = id;
  const bool isWide = type == ORV_SQL_BIGINT || type == ORV_SQL_UNSIGNED_LONG_INT;
  char* value = nullptr;
  if (DuplicateBytes(&value, isWide ? static_cast<const void*>(&wide) : &id, isWide ? 8 : 4) != 1)
    return Take::kOutOfMemory;
  cell->Set(value, isWide ? 8 : 4);
  return Take::kTaken;
}

// A value text for column of table. With two colons or more the text is a
// reference table:column:key: text columns keep what follows the second
// colon, date-time columns the whole text, and any other column gets the ID
// that the reference stands for.
Take ValueFromText(StringMap* idMap, const TableDefn* table, const ColumnDefn* column, const std::string& text,
                   Cell* cell) {
  if (std::count(text.begin(), text.end(), ':') < 2) return Convert(column->type, text.c_str(), cell);
  if (CompareStringsNoCase(table->name, "Workflow_Statements") == 0 &&
      CompareStringsNoCase(column->name, "NEXT_STATEMENT_ID") == 0 && ReferenceKey(text) == "0") {
    const Take stored = StoreID(0, ORV_SQL_INT, cell);
    return stored == Take::kTaken ? Take::kGoOn : stored;
  }
  switch (column->type) {
    case ORV_SQL_TEXT:
    case ORV_SQL_NCHAR:
    case ORV_SQL_CHAR:
    case ORV_SQL_BLOB:
      return Convert(column->type, text.c_str() + text.find(':', text.find(':') + 1) + 1, cell);
    case ORV_SQL_DATE:
    case ORV_SQL_TIME:
    case ORV_SQL_DATETIME:
      return Convert(column->type, text.c_str(), cell);
    default:
      break;
  }
  int32_t id = 0;
  switch (ResolveReference(idMap, text, table, column, &id)) {
    case Resolution::kResolved:
      return StoreID(id, column->type, cell);
    case Resolution::kUnresolved:
      return Take::kUnresolved;
    default:
      return Take::kOutOfMemory;
  }
}

const KeyEntry* FindEntry(const std::vector<KeyEntry>& list, const char* column) {
  for (const KeyEntry& entry : list)
    if (CompareStringsNoCase(entry.localColumn, column) == 0) return &entry;
  return nullptr;
}

// Everything needed for the columns of one element's row.
struct RowSource {
  xmlDocPtr document;
  const xmlNode* element;
  StringMap* idMap;
  const TableDefn* table;
  std::vector<KeyEntry> foreignKeys;
  std::vector<KeyEntry> primaryKeys;
};

// The value of one column: the first attribute named like it, else the
// column's default, and, when no attribute names it, the key value inherited
// from the surroundings. False when memory runs out.
bool ColumnValue(const RowSource& source, const ColumnDefn* column, Cell* cell) {
  bool taken = false;
  bool named = false;
  for (const xmlAttr* a = source.element->properties; a; a = a->next) {
    if (!NameEquals(a->name, column->name)) continue;
    const Take take = ValueFromText(source.idMap, source.table, column, AttributeText(source.document, a), cell);
    if (take == Take::kOutOfMemory) return false;
    if (take == Take::kGoOn) continue;
    named = true;
    taken = take == Take::kTaken;
    break;
  }
  if (!taken && column->defaultValue) {
    char* value = nullptr;
    if (DuplicateBytes(&value, column->defaultValue, column->defaultLength) != 1) return false;
    cell->Set(value, column->defaultLength);
  }
  if (named) return true;
  const KeyEntry* entry = FindEntry(source.foreignKeys, column->name);
  if (!entry) entry = FindEntry(source.primaryKeys, column->name);
  if (!entry) return true;
  if (!entry->value) {
    void* none = nullptr;
    int32_t length = 0;
    AllocateAndCopyColumnValue(&none, &length, column->type, nullptr);  // says that there is no value
    return true;
  }
  // An inherited text is read as the enclosing element's attribute was, so
  // that a reference gives the same ID here as in the row it came from.
  return ValueFromText(source.idMap, source.table, column, *entry->value, cell) != Take::kOutOfMemory;
}

// Adds the row of one element to the table named like it, creating the table
// on first use. An element without table definition is passed over when its
// name contains "List" (a grouping element) and is a failure otherwise.
bool AddElementRow(xmlDocPtr document, StringMap* idMap, const xmlNode* element) {
  const char* name = reinterpret_cast<const char*>(element->name);
  TableData* data = GetTableDataByName(name);
  if (!data) {
    CreateTable(name);
    data = GetTableDataByName(name);
  }
  const TableDefn* table = data && data->kind == TABLE_KIND_TABLE ? data->tableDefn : nullptr;
  if (!table) return FindSubString(name, "List");
  // A table without columns holds no rows.
  const int32_t count = data->columnCount;
  if (count <= 0) return true;

  const RowSource source{document, element, idMap, table, InheritedForeignKeys(document, element, table),
                         InheritedPrimaryKeys(document, element, table)};

  void** values = static_cast<void**>(calloc(static_cast<size_t>(count), sizeof(void*)));
  int32_t* lengths = static_cast<int32_t*>(calloc(static_cast<size_t>(count), sizeof(int32_t)));
  bool ok = values && lengths;
  int32_t i = 0;
  for (const VectorNode* n = table->columns->head; ok && n && i < count; n = n->next, ++i) {
    Cell cell;
    ok = ColumnValue(source, static_cast<const ColumnDefn*>(n->element), &cell);
    values[i] = cell.value;
    lengths[i] = cell.length;
  }
  RowObject* row = ok ? CreateNewRowObject(values, lengths) : nullptr;
  if (!row) {
    for (int32_t k = 0; values && k < count; ++k) free(values[k]);
    free(values);
    free(lengths);
    return false;
  }
  if (!AddNewRow(name, row)) {
    FreeRowObject(row, count);
    return false;
  }
  return true;
}

// Adds the row of every element below top, in document order (an element,
// its descendants, then its following siblings).
bool LoadElementsBelow(xmlDocPtr document, StringMap* idMap, xmlNodePtr top) {
  if (top->type != XML_ELEMENT_NODE && top->type != XML_DOCUMENT_NODE) return true;
  return VisitElementsBelow(top, [&](const xmlNode* element) {
    if (AddElementRow(document, idMap, element)) return true;
    LogError("Cannot create and add a new row while constructing tabledata from XML file.\n");
    return false;
  });
}

// The whole load of a parsed document (or none: the parse failed); the
// document is freed.
bool LoadDocument(xmlDocPtr document, const char* failure) {
  if (!document) {
    LogError("error: could not parse file file.xml\n");
    return false;
  }
  StringMap idMap{};
  bool ok = ExpandAttributeEntities(document) && InitGrowingStringMap(&idMap, kIDMapBuckets);
  if (xmlNodePtr root = xmlDocGetRootElement(document); ok && root) ok = LoadElementsBelow(document, &idMap, root);
  FreeStringMap(&idMap);
  xmlFreeDoc(document);
  if (!ok) LogError("%s", failure);
  return ok;
}

// An optional sign, then digits with at most one "." among them.
bool IsDecimalText(const char* text) {
  const char* p = text + (*text == '+' || *text == '-');
  bool digits = false;
  bool point = false;
  for (; *p; ++p) {
    if (*p >= '0' && *p <= '9') {
      digits = true;
    } else if (*p == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits;
}

}  // namespace

std::string AttributeText(xmlDocPtr document, const xmlAttr* attribute) {
  const xmlNode* first = attribute->children;
  if (!first) return {};
  // A plain value is one text node: read in place.
  if (first->type == XML_TEXT_NODE && !first->next)
    return first->content ? reinterpret_cast<const char*>(first->content) : "";
  xmlChar* text = xmlNodeListGetString(document, first, 1);
  std::string value = text ? reinterpret_cast<const char*>(text) : "";
  xmlFree(text);
  return value;
}

std::optional<std::string> LastAttributeText(xmlDocPtr document, const xmlNode* element, const char* name) {
  const xmlAttr* last = nullptr;
  for (const xmlAttr* a = element->properties; a; a = a->next)
    if (NameEquals(a->name, name)) last = a;
  if (!last) return std::nullopt;
  return AttributeText(document, last);
}

bool LoadTableDataFromXmlFile(const char* path) {
  KeepParserUntilExit();
  return LoadDocument(path ? xmlReadFile(path, nullptr, kParseOptions) : nullptr,
                      "Cannot construct table data from XML file.\n");
}

bool LoadTableDataFromXmlBuffer(const char* buffer, int32_t length) {
  KeepParserUntilExit();
  return LoadDocument(buffer && length >= 0 ? xmlReadMemory(buffer, length, nullptr, nullptr, kParseOptions) : nullptr,
                      "Cannot construct table data from XML buffer.\n");
}

StringMap* LoadTableDataFromXmlNode(xmlDocPtr document, xmlNodePtr node) {
  KeepParserUntilExit();
  StringMap* idMap = static_cast<StringMap*>(calloc(1, sizeof(StringMap)));
  if (!idMap || !ExpandAttributeEntities(document) || !InitGrowingStringMap(idMap, kIDMapBuckets) || !node ||
      !LoadElementsBelow(document, idMap, node)) {
    LogError("Cannot construct table data from buffer node.\n");
    FreeIDMap(idMap);
    return nullptr;
  }
  return idMap;
}

bool AllocateAndCopyColumnValue(void** value, int32_t* length, uint8_t type, const char* text) {
  if (!text) {
    LogTrace("value parameter in AllocateAndCopyColumnValue is NULL \n");
    return false;
  }
  switch (type) {
    case ORV_SQL_BOOLEAN: {
      const uint8_t flag = CompareStringsNoCase(text, "false") == 0 ? 0 : 1;
      if (DuplicateBytes(reinterpret_cast<char**>(value), &flag, 1) != 1) return false;
      *length = 1;
      return true;
    }
    case ORV_SQL_DECIMAL:
    case ORV_SQL_NUMERIC:
      if (!IsDecimalText(text)) return true;
      break;
    case ORV_SQL_NOT_SUPPORTED_TYPE:
      return true;
    default:
      if (type > ORV_SQL_TEXT) return true;
      break;
  }
  // Every other type as in the dictionary's defaults: integers that do not
  // fit their type, and any text that is no number, give 0.
  int32_t converted = StringLength(text);
  void* bytes = ConvertTextToColumnValue(text, &converted, type);
  if (!bytes) return type == ORV_SQL_DATE || type == ORV_SQL_TIME || type == ORV_SQL_DATETIME;
  *value = bytes;
  *length = converted;
  return true;
}
