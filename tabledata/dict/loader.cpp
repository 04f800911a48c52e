// Loading the data dictionary (see dictionary.h and xmlparser.h): the index
// files, the XML reader that reads each table element into a small tag tree,
// and the builder that checks the tree and turns it into a TableDefn.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/log/logger.h"
#include "tabledata/dict/dictionary.h"
#include "tabledata/dict/dictstore.h"
#include "tabledata/dict/xmlentities.h"
#include "tabledata/dict/xmlparser.h"
#include "tabledata/strutil.h"
#include "tabledata/values/valuetypes.h"

namespace {

// No network, no messages of libxml2's own on stderr.
constexpr int kReaderOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
const char kIndexName[] = "datadictionary.txt";

// The only attributes read, in this order.
enum Attribute { kName, kSystem, kReferenceTable, kBidirectional, kAttributeCount };
const char* const kAttributeNames[kAttributeCount] = {"name", "system", "reference-table-name", "isbidirectional"};

// One element of a table: its name, known attributes, text and child elements.
struct Tag {
  std::string name;
  std::optional<std::string> attributes[kAttributeCount];
  std::string text;
  std::vector<std::unique_ptr<Tag>> children;

  const Tag* Child(const char* childName) const {
    for (const auto& c : children)
      if (c->name == childName) return c.get();
    return nullptr;
  }
  // A leaf holds text only; the end tag of a leaf must follow its text.
  bool IsLeaf() const { return children.empty(); }
};

// The tag at the reader's current start tag, with its attributes; null when
// their entity references would expand past the document's budget.
std::unique_ptr<Tag> StartTag(xmlTextReaderPtr reader, EntityExpansionBudget& budget) {
  if (const xmlNode* element = xmlTextReaderCurrentNode(reader))
    for (const xmlAttr* a = element->properties; a; a = a->next)
      if (!budget.Spend(element->doc, a->children)) return nullptr;
  auto tag = std::make_unique<Tag>();
  const xmlChar* name = xmlTextReaderConstName(reader);
  tag->name = name ? reinterpret_cast<const char*>(name) : "";
  int read = 0;
  for (int i = 0; i < kAttributeCount; ++i) {
    xmlChar* value = xmlTextReaderGetAttribute(reader, reinterpret_cast<const xmlChar*>(kAttributeNames[i]));
    if (!value) continue;
    tag->attributes[i] = reinterpret_cast<const char*>(value);
    xmlFree(value);
    ++read;
  }
  if (read < xmlTextReaderAttributeCount(reader)) LogError("\n Not all Attributes were read\n");
  return tag;
}

// Reads everything inside the element whose start tag was just read into
// root; false when the reader fails first.
bool ReadChildren(xmlTextReaderPtr reader, Tag* root, EntityExpansionBudget& budget) {
  if (xmlTextReaderIsEmptyElement(reader)) return true;
  std::vector<Tag*> open{root};
  while (xmlTextReaderRead(reader) == 1) {
    switch (xmlTextReaderNodeType(reader)) {
      case XML_READER_TYPE_ELEMENT: {
        std::unique_ptr<Tag> child = StartTag(reader, budget);
        if (!child) return false;
        Tag* raw = child.get();
        open.back()->children.push_back(std::move(child));
        if (!xmlTextReaderIsEmptyElement(reader)) open.push_back(raw);
        break;
      }
      case XML_READER_TYPE_TEXT:
      case XML_READER_TYPE_CDATA:
      case XML_READER_TYPE_WHITESPACE:
      case XML_READER_TYPE_SIGNIFICANT_WHITESPACE:
        if (const xmlChar* value = xmlTextReaderConstValue(reader))
          open.back()->text += reinterpret_cast<const char*>(value);
        break;
      case XML_READER_TYPE_END_ELEMENT:
        open.pop_back();
        if (open.empty()) return true;
        break;
      default:
        break;  // comments, processing instructions, entity references
    }
  }
  return false;
}

// A top-level description: 1 when its end tag follows its text, 0 when an
// element comes first, -1 when the reader fails.
int SkipDescription(xmlTextReaderPtr reader) {
  if (xmlTextReaderIsEmptyElement(reader)) return 1;
  while (xmlTextReaderRead(reader) == 1) {
    const int type = xmlTextReaderNodeType(reader);
    if (type == XML_READER_TYPE_END_ELEMENT) return 1;
    if (type == XML_READER_TYPE_ELEMENT) return 0;
  }
  return -1;
}

// ---- Building a TableDefn from a table's tag tree ----

struct TypeName {
  const char* name;
  uint8_t code;
};
const TypeName kTypeNames[] = {
    {"ORV_SQL_NOT_SUPPORTED_TYPE", ORV_SQL_NOT_SUPPORTED_TYPE},
    {"ORV_SQL_TINYINT", ORV_SQL_TINYINT},
    {"ORV_SQL_UNSIGNED_TINYINT", ORV_SQL_UNSIGNED_TINYINT},
    {"ORV_SQL_SMALLINT", ORV_SQL_SMALLINT},
    {"ORV_SQL_UNSIGNED_SMALLINT", ORV_SQL_UNSIGNED_SMALLINT},
    {"ORV_SQL_INT", ORV_SQL_INT},
    {"INTEGER", ORV_SQL_INT},
    {"LONG", ORV_SQL_INT},
    {"ORV_SQL_UNSIGNED_INT", ORV_SQL_UNSIGNED_INT},
    {"BIGINT", ORV_SQL_BIGINT},
    {"ORV_SQL_UNSIGNED_LONG_INT", ORV_SQL_UNSIGNED_LONG_INT},
    {"ORV_SQL_FLOAT", ORV_SQL_FLOAT},
    {"FLOAT", ORV_SQL_FLOAT},
    {"ORV_SQL_DOUBLE", ORV_SQL_DOUBLE},
    {"ORV_SQL_REAL", ORV_SQL_REAL},
    {"ORV_SQL_DECIMAL", ORV_SQL_DECIMAL},
    {"ORV_SQL_NUMERIC", ORV_SQL_NUMERIC},
    {"ORV_SQL_CHAR", ORV_SQL_CHAR},
    {"CHAR", ORV_SQL_NCHAR},
    {"NCHAR", ORV_SQL_NCHAR},
    {"ORV_SQL_DATE", ORV_SQL_DATE},
    {"DATE", ORV_SQL_DATE},
    {"ORV_SQL_TIME", ORV_SQL_TIME},
    {"TIME", ORV_SQL_TIME},
    {"ORV_SQL_DATETIME", ORV_SQL_DATETIME},
    {"DATETIME", ORV_SQL_DATETIME},
    {"TIMESTAMP", ORV_SQL_DATETIME},
    {"BOOLEAN", ORV_SQL_BOOLEAN},
    {"ORV_SQL_BLOB", ORV_SQL_BLOB},
    {"BLOB", ORV_SQL_BLOB},
    {"ORV_SQL_CLOB", ORV_SQL_CLOB},
    {"CLOB", ORV_SQL_CLOB},
    {"ORV_SQL_TEXT", ORV_SQL_TEXT},
    {"TEXT", ORV_SQL_TEXT},
};

uint8_t TypeCodeOf(const std::optional<std::string>& typeName) {
  if (!typeName || typeName->empty()) {
    LogError("Column data type not supported - Error while creating column definition.\n");
    return ORV_SQL_NOT_SUPPORTED_TYPE;
  }
  for (const TypeName& t : kTypeNames)
    if (CompareStringsNoCase(typeName->c_str(), t.name) == 0) return t.code;
  return ORV_SQL_NOT_SUPPORTED_TYPE;
}

// Replaces *slot by a copy of text; false when memory runs out.
bool SetText(char** slot, const std::string& text) {
  char* copy = nullptr;
  if (DuplicateString(&copy, text.c_str()) != 1) return false;
  free(*slot);
  *slot = copy;
  return true;
}

// Appends a copy of text to a growing array of texts.
bool AppendText(char*** array, int32_t* count, const std::string& text) {
  char** grown = static_cast<char**>(realloc(*array, sizeof(char*) * (static_cast<size_t>(*count) + 1)));
  if (!grown) return false;
  *array = grown;
  grown[*count] = nullptr;
  if (!SetText(&grown[*count], text)) return false;
  ++*count;
  return true;
}

// A new zeroed record appended to vector (created on first use); null when
// memory runs out (nothing is then left allocated).
template <typename T>
T* AppendRecord(Vector** vector) {
  if (!*vector && !(*vector = CreateVector())) return nullptr;
  T* record = static_cast<T*>(calloc(1, sizeof(T)));
  if (record && !AddElementData(*vector, record)) {
    free(record);
    record = nullptr;
  }
  return record;
}

// Each Build* fills a record already linked into the table, so that dropping
// the table with DestroyTableDefn frees whatever was built. False drops the
// table; the reason has been logged (allocation failures drop it silently).

bool BuildAllowedValues(const Tag& tag, ColumnDefn* column) {
  AllowedValues* allowed = static_cast<AllowedValues*>(calloc(1, sizeof(AllowedValues)));
  if (!allowed) {
    LogError("Cannot copy allowed values.\n");
    return false;
  }
  column->allowedValues = allowed;
  for (size_t i = 0; i < tag.children.size(); ++i) {
    const Tag& child = *tag.children[i];
    bool copied = true;
    if (child.name == "value") {
      if (!child.IsLeaf()) {
        LogError("\n No ending Value tag\n");
        return false;
      }
      copied = AppendText(&allowed->values, &allowed->valueCount, child.text);
    } else if (child.name == "from") {
      if (!child.IsLeaf()) {
        LogError("\nNo Ending FROM tag \n");
        return false;
      }
      const Tag* to = i + 1 < tag.children.size() ? tag.children[i + 1].get() : nullptr;
      if (!to || to->name != "to") {
        LogError("In the allowed values attribute, 'to' tag is missing.\n");
        return false;
      }
      if (!to->IsLeaf()) {
        LogError("\nNo ending TO tag \n");
        return false;
      }
      allowed->isRange = 1;
      copied = SetText(&allowed->from, child.text) && SetText(&allowed->to, to->text);
      ++i;
    }
    if (!copied) {
      LogError("Cannot copy allowed values.\n");
      return false;
    }
  }
  if (!allowed->isRange && allowed->valueCount == 0) {  // nothing allowed was named
    free(allowed);
    column->allowedValues = nullptr;
  }
  return true;
}

bool BuildColumn(const Tag& tag, TableDefn* table) {
  const std::optional<std::string>& name = tag.attributes[kName];
  if (!name) {
    LogError("\nCOLUMN name missing\n");
    return false;
  }
  ColumnDefn* column = AppendRecord<ColumnDefn>(&table->columns);
  if (!column || !SetText(&column->name, *name)) return false;
  column->nullable = 1;
  std::optional<std::string> typeName;
  std::optional<std::string> defaultText;
  for (const auto& c : tag.children) {
    const Tag& child = *c;
    bool ok = true;
    if (child.name == "data-type") {
      typeName = child.text;
    } else if (child.name == "nullable") {
      column->nullable = CompareStringsNoCase(child.text.c_str(), "true") == 0 ? 1 : 0;
    } else if (child.name == "max-size") {
      column->maxSize = ParseSignedDigits(child.text.c_str());
    } else if (child.name == "description") {
      ok = SetText(&column->description, child.text);
    } else if (child.name == "default-value") {
      defaultText = child.text;
    } else if (child.name == "unique") {
      column->unique = child.text == "true" ? 1 : 0;
    } else if (child.name == "uniquevalue-generation") {
      if (const Tag* generator = child.Child("generator-name")) ok = SetText(&column->generatorName, generator->text);
    } else if (child.name == "allowed-values" && !column->allowedValues) {
      ok = BuildAllowedValues(child, column);
    }
    if (!ok) return false;
  }
  column->type = TypeCodeOf(typeName);
  if ((column->type == ORV_SQL_CHAR || column->type == ORV_SQL_NCHAR) && column->maxSize >= 256)
    column->type = ORV_SQL_TEXT;
  if (defaultText) {
    int32_t length = StringLength(defaultText->c_str());
    column->defaultValue = ConvertTextToColumnValue(defaultText->c_str(), &length, column->type);
    column->defaultLength = column->defaultValue ? length : 0;
  }
  return true;
}

// The texts of a "primary-key" element's children, in order.
bool BuildPrimaryKey(const Tag& tag, ConstraintDefn* constraints) {
  for (const auto& c : tag.children) {
    if (c->name != "primary-key-column") continue;
    if (!c->IsLeaf()) {
      LogError("\nMissing primary-key-column end tag\n");
      return false;
    }
    if (!AppendText(&constraints->primaryKeys, &constraints->primaryKeyCount, c->text)) return false;
  }
  return true;
}

// One foreign-key record per fk-column pair of each "foreign-key".
bool BuildForeignKeys(const Tag& tag, ConstraintDefn* constraints) {
  for (const auto& fkTag : tag.children) {
    if (fkTag->name != "foreign-key") continue;
    const Tag* columns = fkTag->Child("fk-columns");
    if (!columns) {
      LogDebug("fk-columns tag not found \n");
      continue;
    }
    const Tag* cascade = fkTag->Child("fk-constraints");
    if (cascade && !cascade->IsLeaf()) {
      LogError("\nMissing endof FK-CONSTRAINTS tag\n");
      return false;
    }
    const std::optional<std::string>& referenceTable = fkTag->attributes[kReferenceTable];
    const std::optional<std::string>& bidirectional = fkTag->attributes[kBidirectional];
    for (const auto& pair : columns->children) {
      if (pair->name != "fk-column") {
        LogError("\nMissing end FK-COLUMNS\n");
        return false;
      }
      const Tag* local = pair->Child("fk-local-column");
      const Tag* reference = pair->Child("fk-reference-column");
      if (local && !local->IsLeaf()) {
        LogError("\n Missing endof FK-LOCAL-COLUMN tag\n");
        return false;
      }
      if (reference && !reference->IsLeaf()) {
        LogError("\nMissing endof FK-REFERENCE-COLUMN\n");
        return false;
      }
      if (!local || !reference) {
        LogError("\nFK-COLUMN pair incomplete\n");
        return false;
      }
      ForeignKeyDefn* fk = AppendRecord<ForeignKeyDefn>(&constraints->foreignKeys);
      if (!fk || !SetText(&fk->localColumn, local->text) || !SetText(&fk->referenceColumn, reference->text) ||
          (referenceTable && !SetText(&fk->referenceTable, *referenceTable)))
        return false;
      fk->onDeleteCascade = cascade && cascade->text == "ON-DELETE-CASCADE" ? 1 : 0;
      fk->isBidirectional = bidirectional && *bidirectional == "true" ? 1 : 0;
    }
  }
  return true;
}

bool BuildTable(const Tag& tag, TableDefn* table) {
  if (!SetText(&table->name, *tag.attributes[kName]) || !(table->columns = CreateVector())) return false;
  bool described = false;
  for (const auto& c : tag.children) {
    const Tag& child = *c;
    if (child.name == "description") {
      if (described || !child.IsLeaf()) {
        LogError("\nDescription tag ambiguity \n");
        return false;
      }
      described = true;
      if (!SetText(&table->description, child.text)) return false;
    } else if (child.name == "columns") {
      for (const auto& column : child.children)
        if (column->name == "column" && !BuildColumn(*column, table)) return false;
    } else if (child.name == "primary-key" || child.name == "foreign-keys") {
      if (!table->constraints &&
          !(table->constraints = static_cast<ConstraintDefn*>(calloc(1, sizeof(ConstraintDefn)))))
        return false;
      const bool ok = child.name == "primary-key" ? BuildPrimaryKey(child, table->constraints)
                                                   : BuildForeignKeys(child, table->constraints);
      if (!ok) return false;
    }
  }
  return true;
}

// Turns a completely read table into a definition and appends it to the
// dictionary; a malformed table is dropped with its message.
void AddTable(const Tag& tag) {
  if (!tag.attributes[kName]) {
    LogError("\nTABLE name missing\n");
    return;
  }
  TableDefn* table = static_cast<TableDefn*>(calloc(1, sizeof(TableDefn)));
  if (!table) return;
  if (!BuildTable(tag, table) || !AddTableDefn(table)) {
    DestroyTableDefn(table);
    return;
  }
  LogTrace("\t@@@@ Loaded Table definition Successfully @@@@\n");
}

// Loads every file named in an open index; pathOf gives each file's path.
template <typename PathOf>
void LoadIndexedFiles(FILE* index, PathOf pathOf) {
  std::string word;
  for (;;) {
    const int c = fgetc(index);
    if (c != EOF && !isspace(c)) {
      word += static_cast<char>(c);
      continue;
    }
    if (!word.empty()) {
      const std::string path = pathOf(word);
      LogDebug("Opening %s\n", path.c_str());
      LoadDataDictFromXMLFile(path.c_str());
      word.clear();
    }
    if (c == EOF) return;
  }
}

bool ParseWith(xmlTextReaderPtr reader, const char* source) {
  if (!reader) {
    LogError("Unable to open %s\n", source);
    return false;
  }
  const bool ok = XmlDataParser(reader, source);
  xmlFreeTextReader(reader);
  return ok;
}

}  // namespace

bool XmlDataParser(xmlTextReaderPtr reader, const char* source) {
  LogTrace("\n Inside XmlDataParser\n");
  int result = 1;
  EntityExpansionBudget budget;
  while (reader && (result = xmlTextReaderRead(reader)) == 1) {
    if (xmlTextReaderNodeType(reader) != XML_READER_TYPE_ELEMENT) continue;  // text, comments, end tags
    std::unique_ptr<Tag> tag = StartTag(reader, budget);
    if (!tag) {
      result = -1;
      break;
    }
    const int depth = xmlTextReaderDepth(reader);
    if (depth == 0 && tag->name == "data-dictionary") continue;
    if (depth == 1 && tag->name == "description") {
      const int skipped = SkipDescription(reader);
      if (skipped == 0) {
        LogError("\nNo Description end tag\n");
        return false;
      }
      if (skipped < 0) {
        result = -1;
        break;
      }
      continue;
    }
    const bool isTable = depth == 1 && tag->name == "table";
    if (isTable) {
      const std::optional<std::string>& name = tag->attributes[kName];
      LogTrace("@@@@Parsing Table Info : %s @@@@\n", name ? name->c_str() : "(null)");
    } else {
      LogError("\nTABLE tag missing\n");
    }
    if (!ReadChildren(reader, tag.get(), budget)) {
      if (isTable) LogError("\nxmlTextReaderRead returned error \n");
      result = -1;
      break;
    }
    if (isTable) AddTable(*tag);
  }
  if (result < 0) {
    LogError("%s : failed to parse\n", source);
    return false;
  }
  return true;
}

bool LoadDataDictFromXMLFile(const char* path) {
  LogTrace("\nInside LoadDataDictFromXMLFile() \n\n");
  if (!path) return false;
  return ParseWith(xmlReaderForFile(path, nullptr, kReaderOptions), path);
}

bool LoadDataDictFromXMLBuffer(const char* buffer, int32_t length) {
  LogTrace("\nInside LoadDataDictFromXMLBuffer() \n\n");
  if (!buffer || length < 0) return false;
  return ParseWith(xmlReaderForMemory(buffer, length, nullptr, nullptr, kReaderOptions), "XML buffer");
}

bool LoadAllDataDictFiles() {
  LogTrace("\t@@@@@ Inside LoadAllDataDictFiles() @@@@@\n");
  const std::string near = std::string("..\\data\\") + kIndexName;
  if (FILE* index = fopen(near.c_str(), "r")) {
    LoadIndexedFiles(index, [](const std::string& name) { return "..\\data\\" + name; });
    fclose(index);
    return true;
  }
  const std::optional<std::string> root = GetCQuillRoot();
  FILE* index = nullptr;
  if (root) {
    const std::string path = *root + "/data/" + kIndexName;
    LogDebug("Opening %s\n", path.c_str());
    index = fopen(path.c_str(), "r");
  }
  if (!index) {
    LogError("Cannot open DataDictionary File.\n");
    return false;
  }
  LoadIndexedFiles(index, [&root](const std::string& name) { return *root + "/data/" + name; });
  fclose(index);
  return true;
}

bool LoadDataDictFiles(const char* folder) {
  LogTrace("\t@@@@@ Inside LoadDataDictFiles() @@@@@\n");
  if (!folder) return false;
  const std::string base = std::string(folder) + "\\";
  FILE* index = fopen((base + kIndexName).c_str(), "r");
  if (!index) return false;
  LoadIndexedFiles(index, [&base](const std::string& name) { return base + name; });
  fclose(index);
  return true;
}
