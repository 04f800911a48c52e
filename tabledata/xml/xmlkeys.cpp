// Key values of XML table data: the foreign and primary keys an element
// inherits from the elements around it, and reference texts resolved to IDs
// that stay the same for the same text throughout one document.
#include <cstdint>

#include "agent/log/logger.h"
#include "tabledata/store/sequence.h"
#include "tabledata/strutil.h"
#include "tabledata/values/scan.h"
#include "tabledata/xml/tablexml.h"
#include "tabledata/xml/xmlinternal.h"

namespace {

// The tables whose foreign-key lists are being filled on the current path: a
// self-referencing key (Employee.MANAGER_ID -> Employee.ID) would otherwise
// fill the same list again without end.
using FillPath = std::vector<const char*>;

const ForeignKeyDefn* ForeignKeyOf(const VectorNode* node) { return static_cast<const ForeignKeyDefn*>(node->element); }

const Vector* ForeignKeys(const TableDefn* table) {
  const Vector* keys = table->constraints ? table->constraints->foreignKeys : nullptr;
  return keys && keys->count > 0 ? keys : nullptr;
}

std::vector<KeyEntry> ForeignKeyList(const TableDefn* table) {
  std::vector<KeyEntry> list;
  const Vector* keys = ForeignKeys(table);
  for (const VectorNode* n = keys ? keys->head : nullptr; n; n = n->next) {
    const ForeignKeyDefn* fk = ForeignKeyOf(n);
    LogTrace("Column Name : %s\n", fk->localColumn);
    LogTrace("Ref Column  : %s\n", fk->referenceColumn);
    LogTrace("Tablename : %s\n", fk->referenceTable);
    list.push_back({fk->referenceTable, fk->referenceColumn, fk->localColumn, std::nullopt});
  }
  return list;
}

// Only elements are descended into: an entity reference's children belong to
// the entity's declaration, whose sibling links lead into the DTD.
const xmlNode* SecondChild(const xmlNode* node) {
  return node->type == XML_ELEMENT_NODE && node->children ? node->children->next : nullptr;
}

void FillForeignKeys(xmlDocPtr document, const xmlNode* element, std::vector<KeyEntry>& list, FillPath& path);

// The value that the foreign-key entry of tableName for column inherits when
// filled for element; none when that table's list is already being filled.
std::optional<std::string> InheritThrough(xmlDocPtr document, const xmlNode* element, const char* tableName,
                                          const char* column, FillPath& path) {
  for (const char* busy : path)
    if (CompareStringsNoCase(busy, tableName) == 0) return std::nullopt;
  const TableDefn* table = GetTableDefn(tableName);
  if (!table) return std::nullopt;
  std::vector<KeyEntry> list = ForeignKeyList(table);
  path.push_back(table->name);
  FillForeignKeys(document, element, list, path);
  path.pop_back();
  for (KeyEntry& entry : list)
    if (CompareStringsNoCase(entry.localColumn, column) == 0) return std::move(entry.value);
  return std::nullopt;
}

// The first element named like table on the chain of second children below
// element, if any.
const xmlNode* FirstBelowNamed(const xmlNode* element, const char* table) {
  for (const xmlNode* n = SecondChild(element); n; n = SecondChild(n))
    if (n->type == XML_ELEMENT_NODE && NameEquals(n->name, table)) return n;
  return nullptr;
}

// Each entry takes the referenced column's attribute of the nearest enclosing
// element that has one; an enclosing element of the referenced table without
// it passes on that table's own inherited key. Entries left without a value
// look below the element the same way.
void FillForeignKeys(xmlDocPtr document, const xmlNode* element, std::vector<KeyEntry>& list, FillPath& path) {
  if (list.empty()) return;
  // What an entry inherits through its table's own list does not depend on
  // which element of that table asks, so it is worked out once.
  std::vector<bool> asked(list.size(), false);
  auto inheritThrough = [&](size_t i) {
    if (!asked[i]) {
      asked[i] = true;
      list[i].value = InheritThrough(document, element, list[i].referenceTable, list[i].referenceColumn, path);
    }
  };
  for (const xmlNode* a = element->parent; a && a->type == XML_ELEMENT_NODE; a = a->parent) {
    for (size_t i = 0; i < list.size(); ++i) {
      if (list[i].value) continue;
      list[i].value = LastAttributeText(document, a, list[i].referenceColumn);
      if (!list[i].value && NameEquals(a->name, list[i].referenceTable)) inheritThrough(i);
    }
  }
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].value) continue;
    const xmlNode* below = FirstBelowNamed(element, list[i].referenceTable);
    if (!below) continue;
    list[i].value = LastAttributeText(document, below, list[i].referenceColumn);
    if (!list[i].value) inheritThrough(i);
  }
}

// IDs ride in the map's value pointers.
void* IDValue(int32_t id) { return reinterpret_cast<void*>(static_cast<intptr_t>(id)); }
int32_t IDOf(const StringMapEntry* entry) { return static_cast<int32_t>(reinterpret_cast<intptr_t>(entry->value)); }

bool MapID(StringMap* idMap, const std::string& text, int32_t id) {
  return PutStringMap(idMap, text.c_str(), IDValue(id));
}

struct ChainStep {
  const char* table;
  const char* column;
};

bool SameColumn(const ChainStep& a, const ChainStep& b) {
  return CompareStringsNoCase(a.table, b.table) == 0 && CompareStringsNoCase(a.column, b.column) == 0;
}

// The ID generated for column of table (their definitions, when the
// dictionary has them); while there is none, the one of the column that its
// foreign key refers to, and so on. chain gets the referenced columns walked;
// a cyclic chain (A.x -> B.y -> A.x) ends where a column repeats.
int32_t GenerateAlongChain(const char* tableName, const char* column, const TableDefn* table,
                           const ColumnDefn* columnDefn, std::vector<ChainStep>* chain) {
  const ChainStep start{tableName, column};
  int32_t id = GenerateID(tableName, columnDefn);
  while (id == -1 && table) {
    const ForeignKeyDefn* fk = ForeignKeys(table) ? GetForeignKeyByLocalColumn(table, column) : nullptr;
    const TableDefn* next = fk && fk->referenceTable ? GetTableDefn(fk->referenceTable) : nullptr;
    const ColumnDefn* referenced = next ? GetColumnDefnEntry(next->name, fk->referenceColumn) : nullptr;
    if (!referenced) break;
    const ChainStep step{fk->referenceTable, fk->referenceColumn};
    if (SameColumn(step, start)) break;
    for (const ChainStep& earlier : *chain)
      if (SameColumn(step, earlier)) return -1;
    chain->push_back(step);
    id = GenerateID(step.table, referenced);
    table = next;
    column = step.column;
  }
  return id;
}

}  // namespace

bool NameEquals(const xmlChar* name, const char* other) {
  return name && other && CompareStringsNoCase(reinterpret_cast<const char*>(name), other) == 0;
}

std::vector<KeyEntry> InheritedForeignKeys(xmlDocPtr document, const xmlNode* element, const TableDefn* table) {
  std::vector<KeyEntry> list = ForeignKeyList(table);
  FillPath path{table->name};
  FillForeignKeys(document, element, list, path);
  return list;
}

std::vector<KeyEntry> InheritedPrimaryKeys(xmlDocPtr document, const xmlNode* element, const TableDefn* table) {
  std::vector<KeyEntry> list;
  const ConstraintDefn* keys = table->constraints;
  const Vector* foreignKeys = ForeignKeys(table);
  for (int32_t k = 0; keys && k < keys->primaryKeyCount; ++k) {
    const char* column = keys->primaryKeys[k];
    LogTrace("Primary key : %s\n\n", column);
    bool isForeign = false;
    if (foreignKeys) {
      LogTrace("Foreign key Constraints\n");
      LogTrace("********************************\n");
      for (const VectorNode* n = foreignKeys->head; n && !isForeign; n = n->next) {
        LogTrace("Column Name : %s\n", ForeignKeyOf(n)->localColumn);
        isForeign = CompareStringsNoCase(ForeignKeyOf(n)->localColumn, column) == 0;
      }
    }
    if (!isForeign) list.push_back({nullptr, nullptr, column, std::nullopt});
  }
  if (list.empty()) return list;
  for (const xmlNode* a = element->parent; a && a->type == XML_ELEMENT_NODE; a = a->parent)
    for (KeyEntry& entry : list)
      if (!entry.value) entry.value = LastAttributeText(document, a, entry.localColumn);
  return list;
}

std::string ReferenceKey(const std::string& reference) {
  const size_t second = reference.find(':', reference.find(':') + 1);
  if (second == std::string::npos) return {};
  const size_t third = reference.find(':', second + 1);
  return reference.substr(second + 1, third == std::string::npos ? std::string::npos : third - second - 1);
}

Resolution ResolveReference(StringMap* idMap, const std::string& reference, const TableDefn* table,
                            const ColumnDefn* column, int32_t* id) {
  const std::string key = ReferenceKey(reference);
  // The text under which this row's own column is known: table:column:key.
  const std::string own = key.empty() ? std::string() : std::string(table->name) + ":" + column->name + ":" + key;
  // One lookup finds the reference or makes its entry, which gets the ID
  // once it is known (entries keep their addresses while others are added).
  bool added = false;
  StringMapEntry* entry = FindOrAddStringMapEntry(idMap, reference.c_str(), &added);
  if (!entry) return Resolution::kOutOfMemory;
  if (!added) {
    *id = IDOf(entry);
    return own.empty() || own == reference || MapID(idMap, own, *id) ? Resolution::kResolved
                                                                    : Resolution::kOutOfMemory;
  }

  std::vector<ChainStep> chain;
  int32_t found = -1;
  if (column->generatorName) {
    found = GenerateID(table->name, column);
  } else {
    const size_t first = reference.find(':');
    const std::string refTable = reference.substr(0, first);
    const std::string refColumn = reference.substr(first + 1, reference.find(':', first + 1) - first - 1);
    if (refTable.empty() || refColumn.empty()) {
      LogError("Unable to get Column details for AutoID generation \n");
      RemoveStringMapKey(idMap, reference.c_str());
      return Resolution::kUnresolved;
    }
    // A reference to the row's own column (the usual key text) needs no lookup.
    const bool ownColumn = CompareStringsNoCase(refTable.c_str(), table->name) == 0 &&
                           CompareStringsNoCase(refColumn.c_str(), column->name) == 0;
    const TableDefn* refDefn = ownColumn ? table : GetTableDefn(refTable.c_str());
    const ColumnDefn* refColumnDefn =
        ownColumn ? column : refDefn ? GetColumnDefnEntry(refDefn->name, refColumn.c_str()) : nullptr;
    found = GenerateAlongChain(refTable.c_str(), refColumn.c_str(), refDefn, refColumnDefn, &chain);
  }
  bool mapped = true;
  if (found == -1) {
    // No generator anywhere: the key's own number, 0 when it is none.
    uint64_t bits = 0;
    found = ParseIntegerOfWidth(key.data(), key.size(), 32, true, &bits) ? static_cast<int32_t>(bits) : 0;
  } else {
    // Every column on the way to the generator stands for the same ID, unless
    // one of them is already known by another.
    for (const ChainStep& step : chain) {
      const std::string text = std::string(step.table) + ":" + step.column + ":" + key;
      if (GetMappedID(idMap, text.c_str(), &found)) break;
      mapped = mapped && MapID(idMap, text, found);
    }
  }
  if (!own.empty() && own != reference) mapped = mapped && MapID(idMap, own, found);
  entry->value = IDValue(found);
  *id = found;
  return mapped ? Resolution::kResolved : Resolution::kOutOfMemory;
}

bool GetMappedID(const StringMap* idMap, const char* reference, int32_t* id) {
  const StringMapEntry* entry = FindStringMapEntry(idMap, reference);
  if (!entry) return false;
  *id = IDOf(entry);
  return true;
}

void FreeIDMap(StringMap* idMap) {
  FreeStringMap(idMap);
  free(idMap);
}
