// Inside the XML table-data loader: reading attributes off parsed elements,
// the key values that an element inherits from its surroundings, and the
// reference texts (table:column:key) resolved to IDs through the load's ID map.
#pragma once
#include <libxml/tree.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tabledata/dict/dictionary.h"
#include "tabledata/stringmap.h"

// Element names and attribute names compare without regard to case.
bool NameEquals(const xmlChar* name, const char* other);
// An attribute's text with entities replaced; empty for an empty value.
std::string AttributeText(xmlDocPtr document, const xmlAttr* attribute);
// The text of the last attribute of element named like name, if any.
std::optional<std::string> LastAttributeText(xmlDocPtr document, const xmlNode* element, const char* name);

// An inherited-key entry: the local column that takes the value of the
// referenced column of the referenced table (primary-key entries name only
// the local column), and the value text once found.
struct KeyEntry {
  const char* referenceTable;
  const char* referenceColumn;
  const char* localColumn;
  std::optional<std::string> value;
};

// One entry per foreign key of table, filled from the enclosing elements of
// element and then from its chain of second children.
std::vector<KeyEntry> InheritedForeignKeys(xmlDocPtr document, const xmlNode* element, const TableDefn* table);
// One entry per primary-key column that is no foreign key's local column,
// filled from the enclosing elements' attributes of the same name.
std::vector<KeyEntry> InheritedPrimaryKeys(xmlDocPtr document, const xmlNode* element, const TableDefn* table);

// The key of a reference text: what follows its second colon, up to a third.
std::string ReferenceKey(const std::string& reference);

enum class Resolution { kResolved, kUnresolved, kOutOfMemory };
// The ID of reference for column of table: the one the map already holds, a
// generated one, or the key's own number; the map learns every text that
// stands for it. kUnresolved (with its ERROR line) when the reference names no
// table or column to generate from.
Resolution ResolveReference(StringMap* idMap, const std::string& reference, const TableDefn* table,
                            const ColumnDefn* column, int32_t* id);
