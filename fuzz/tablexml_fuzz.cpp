// Fuzzes the XML table-data loader from memory over a small data dictionary
// (keys that inherit, refer in a cycle and to their own table, the
// Workflow_Statements end marker, a column of every kind of value): any
// document must load or be refused without a crash or leak. An input whose
// first byte is odd is the document itself; otherwise its byte triples build
// one from the dictionary's own names and typical value texts, so that rows,
// references and inherited keys are reached from an empty corpus.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/xml_builder.h"
#include "tabledata/dict/dictionary.h"
#include "tabledata/store/tabledata.h"
#include "tabledata/xml/tablexml.h"
#include "tests/tabledata/xml/tablexml_dictionary.h"

namespace {

const char* const kTables[] = {"Agentparams", "Orders", "Lines", "Employee", "A", "B", "Workflow_Statements", "Types"};
const char* const kElements[] = {"Agentparams", "AgentparamsList", "Orders", "Lines", "Employee", "A", "B",
                                 "Workflow_Statements", "Types", "TypesList", "Bogus", "orders"};
const char* const kAttributes[] = {"PARAM_NAME", "param_Value", "ORDER_ID", "order_id", "TOTAL", "LINE_ID", "ID",
                                   "MANAGER_ID", "X", "Y", "NEXT_STATEMENT_ID", "NEXT", "T0", "TINY", "U16", "U64",
                                   "F", "D", "REAL", "DEC", "NUM", "BLOB", "CLOB", "OK", "DAY", "AT", "SEEN", "NAME",
                                   "TEXT", "other"};
const char* const kValues[] = {"17", "-5", "Orders:ORDER_ID:17", "Lines:ORDER_ID:17", "A:X:3", "B:Y:", "::1",
                               "W:N:0", "Workflow_Statements:NEXT_STATEMENT_ID:0", "a:b:c:d", "FALSE", "true",
                               "2024-03-05 07:08:09", "07:08", "12.5", "", "&amp;&#x3A;", "&v;", "99999999999",
                               "-2147483648", "Employee:ID:1:2"};
const char* const kTexts[] = {"\n  ", "text", "<!-- c -->", "&e;", "<![CDATA[<Orders/>]]>"};

// Triples (action and element, attribute, attribute) -> a document.
std::string Build(const uint8_t* data, size_t size, bool withEntities) {
  std::string xml = withEntities ? "<!DOCTYPE r [<!ENTITY e \"<Orders ORDER_ID='1'/>\"><!ENTITY v \"x:y:7\">]>" : "";
  xml += "<r>";
  AppendElements(
      xml, data, size, 3, kElements, [data](size_t i) { return Pick(kTexts, data[i + 1]); },
      [data](size_t i, std::string& out) {
        // Each further byte an attribute, unless its top bit says none; a name
        // already given (exactly) is left out, as XML forbids it twice.
        std::vector<const char*> given;
        for (size_t k = 1; k <= 2; ++k) {
          const uint8_t pick = data[i + k];
          if (pick & 0x80) continue;
          const char* name = Pick(kAttributes, pick);
          bool twice = false;
          for (const char* g : given) twice = twice || strcmp(g, name) == 0;
          if (twice) continue;
          given.push_back(name);
          const uint8_t value = static_cast<uint8_t>(pick / (sizeof kAttributes / sizeof kAttributes[0]) + i);
          out += std::string(" ") + name + "=\"" + Pick(kValues, value) + "\"";
        }
      });
  return xml + "</r>";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool loaded =
      LoadDataDictFromXMLBuffer(kTableXmlDictionary, static_cast<int32_t>(strlen(kTableXmlDictionary)));
  if (!loaded) __builtin_trap();
  if (size == 0 || size > 1 << 20) return 0;
  if (data[0] & 1) {
    LoadTableDataFromXmlBuffer(reinterpret_cast<const char*>(data + 1), static_cast<int32_t>(size - 1));
  } else {
    const std::string xml = Build(data + 1, size - 1, data[0] & 2);
    LoadTableDataFromXmlBuffer(xml.data(), static_cast<int32_t>(xml.size()));
  }
  // Every row must be walkable and free cleanly; the tables stay for the next input.
  for (const char* table : kTables) {
    PrintTableData(table);
    DeleteAllTableRowObjects(table);
  }
  return 0;
}
