// Fuzzes the data-dictionary loader from memory: any document must load or be
// refused without a crash or leak, and whatever loaded must be walkable and
// free cleanly. An input whose first byte is odd is the document itself;
// otherwise its byte pairs build a document from the dictionary's own element
// names and texts, so that the table builder is reached from an empty corpus.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "fuzz/xml_builder.h"
#include "tabledata/dict/dictionary.h"

namespace {

const char* const kElements[] = {
    "data-dictionary", "description", "table", "columns", "column", "data-type", "nullable", "max-size",
    "default-value", "unique", "uniquevalue-generation", "generator-name", "allowed-values", "value", "from",
    "to", "primary-key", "primary-key-column", "foreign-keys", "foreign-key", "fk-columns", "fk-column",
    "fk-local-column", "fk-reference-column", "fk-constraints", "other",
};
const char* const kTexts[] = {
    "t", "INTEGER", "ORV_SQL_CHAR", "CHAR", "300", "255", "true", "TRUE", "yes", "ON-DELETE-CASCADE",
    "2024-03-05 07:08:09", "-5", "BOOLEAN", "TIMESTAMP", "x<![CDATA[y]]>", "&amp;",
};

// Pairs (action and element, attributes or text) -> a document.
std::string Build(const uint8_t* data, size_t size) {
  std::string xml = "<data-dictionary>";
  AppendElements(
      xml, data, size, 2, kElements, [data](size_t i) { return Pick(kTexts, data[i + 1]); },
      [data](size_t i, std::string& out) {
        const uint8_t flags = data[i + 1];
        if (flags & 1) out += " name=\"t\"";
        if (flags & 2) out += " reference-table-name=\"r\"";
        if (flags & 4) out += " isbidirectional=\"true\"";
        if (flags & 8) out += " owner=\"x\"";
      });
  return xml + "</data-dictionary>";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 1 << 20) return 0;
  if (data[0] & 1) {
    LoadDataDictFromXMLBuffer(reinterpret_cast<const char*>(data + 1), static_cast<int32_t>(size - 1));
  } else {
    const std::string xml = Build(data + 1, size - 1);
    LoadDataDictFromXMLBuffer(xml.data(), static_cast<int32_t>(xml.size()));
  }
  // Walk every definition the lookups can reach.
  for (const char* name : {"t", "r"}) {
    if (const TableDefn* table = GetTableDefn(name)) {
      for (VectorNode* n = ElementAt(table->columns, 0); n; n = n->next) {
        const ColumnDefn* column = static_cast<const ColumnDefn*>(n->element);
        uint8_t found = 0;
        GetDefaultValue(name, column->name, &found);
        if (!found || !GetColumnDefnEntry(name, column->name)) __builtin_trap();
        GetForeignKeyByLocalColumn(table, column->name);
      }
      PrintTableDefn(table);
    }
  }
  FreeTableDefn("t");
  FreeDataDictionary();
  return 0;
}
