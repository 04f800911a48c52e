// The data dictionary: type mapping and column rules, keys, defaults and
// allowed values, malformed tables among good ones, loading from files and
// from memory alike, lookups, the debug dump and release.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>

#include "agent/log/format.h"
#include "agent/log/logger.h"
#include "tabledata/dict/dictionary.h"
#include "tests/support/scratch.h"

namespace {

const char kDictionary[] = R"(<?xml version="1.0"?>
<data-dictionary>
  <description>Test dictionary</description>
  <!-- the agent's parameters -->
  <table name="Agentparams" system="true">
    <description>Agent parameters</description>
    <columns>
      <column name="PARAM_NAME"><data-type>ORV_SQL_CHAR</data-type><max-size>255</max-size>
        <nullable>false</nullable><unique>true</unique><description>name</description></column>
      <column name="param_Value"><data-type>ORV_SQL_CHAR</data-type><max-size>300</max-size></column>
      <column name="Short"><data-type>CHAR</data-type><max-size>255</max-size><nullable>TRUE</nullable></column>
      <column name="Long"><data-type>char</data-type><max-size>+300</max-size><nullable>yes</nullable></column>
      <column name="Count"><data-type>LONG</data-type><default-value>42</default-value></column>
      <column name="Total"><data-type>integer</data-type><max-size>12a</max-size><unique>TRUE</unique></column>
      <column name="Odd"><data-type>VARCHAR2</data-type></column>
      <column name="Untyped"/>
      <column name="Enabled"><data-type>BOOLEAN</data-type><default-value>True</default-value></column>
      <column name="Flag"><data-type>BOOLEAN</data-type><default-value>yes</default-value></column>
      <column name="Level"><data-type>ORV_SQL_TINYINT</data-type><default-value>-5</default-value>
        <allowed-values><value>-5</value><value>0</value><value>5</value></allowed-values></column>
      <column name="Port"><data-type>ORV_SQL_UNSIGNED_SMALLINT</data-type>
        <allowed-values><from>1</from><to>65535</to></allowed-values></column>
      <column name="Created"><data-type>TIMESTAMP</data-type><default-value>2024-03-05 07:08:09</default-value></column>
      <column name="ID"><data-type>ORV_SQL_INT</data-type>
        <uniquevalue-generation><generator-name>ParamSeq</generator-name></uniquevalue-generation></column>
    </columns>
    <primary-key><primary-key-column>ID</primary-key-column><primary-key-column>PARAM_NAME</primary-key-column></primary-key>
  </table>
  <table name="Child">
    <columns>
      <column name="ParentA"><data-type>INTEGER</data-type></column>
      <column name="ParentB"><data-type>INTEGER</data-type></column>
    </columns>
    <foreign-keys>
      <foreign-key name="fk1" reference-table-name="Parent" isbidirectional="true">
        <fk-columns>
          <fk-column><fk-local-column>ParentA</fk-local-column><fk-reference-column>A</fk-reference-column></fk-column>
          <fk-column><fk-local-column>ParentB</fk-local-column><fk-reference-column>B</fk-reference-column></fk-column>
        </fk-columns>
        <fk-constraints>ON-DELETE-CASCADE</fk-constraints>
      </foreign-key>
      <foreign-key name="fk2" reference-table-name="Other"/>
    </foreign-keys>
  </table>
  <table name="Plain"><columns><column name="X"><data-type>TEXT</data-type></column></columns></table>
</data-dictionary>
)";

bool Load(const std::string& xml) { return LoadDataDictFromXMLBuffer(xml.data(), static_cast<int32_t>(xml.size())); }

// The log as written, with Windows line ends read as "\n".
std::string LogText(const twtest::LogCapture& log) {
  std::string text = log.Text();
  std::erase(text, '\r');
  return text;
}

// A message written at a level (messages may span lines).
bool Logged(const twtest::LogCapture& log, const std::string& tag, const std::string& message) {
  return LogText(log).find("] " + tag + " " + message) != std::string::npos;
}

// Every DEBUG message, concatenated in order.
std::string DebugText(const twtest::LogCapture& log) {
  static const std::regex prefix(R"(\[ [0-9: -]+ \] \[ -?[0-9]+ \] \[(INFO|ERROR|DEBUG|TRACE)\] )");
  const std::string text = LogText(log);
  std::string out;
  std::sregex_iterator it(text.begin(), text.end(), prefix), end;
  for (; it != end; ++it) {
    if ((*it)[1] != "DEBUG") continue;
    const size_t from = static_cast<size_t>(it->position() + it->length());
    auto next = std::next(it);
    const size_t to = next == end ? text.size() : static_cast<size_t>(next->position());
    out += text.substr(from, to - from);
  }
  return out;
}

// Everything a definition holds, as one text (for comparing two loads).
std::string Describe(const TableDefn* t) {
  if (!t) return "<none>";
  std::string s = FormatText("%s|%s\n", t->name, t->description);
  for (VectorNode* n = ElementAt(t->columns, 0); n; n = n->next) {
    const ColumnDefn* c = static_cast<const ColumnDefn*>(n->element);
    s += FormatText("%s %d %d %d%d %s %s default:%d:", c->name, c->type, c->maxSize, c->nullable, c->unique,
                    c->generatorName, c->description, c->defaultLength);
    for (int32_t i = 0; i < c->defaultLength; ++i) s += FormatText("%02x", static_cast<const uint8_t*>(c->defaultValue)[i]);
    if (const AllowedValues* a = c->allowedValues) {
      s += FormatText(" allowed%d:%s..%s", a->isRange, a->from, a->to);
      for (int32_t i = 0; i < a->valueCount; ++i) s += FormatText(",%s", a->values[i]);
    }
    s += "\n";
  }
  if (const ConstraintDefn* k = t->constraints) {
    for (int32_t i = 0; i < k->primaryKeyCount; ++i) s += FormatText("pk %s\n", k->primaryKeys[i]);
    for (VectorNode* n = k->foreignKeys ? ElementAt(k->foreignKeys, 0) : nullptr; n; n = n->next) {
      const ForeignKeyDefn* f = static_cast<const ForeignKeyDefn*>(n->element);
      s += FormatText("fk %s->%s.%s %d%d\n", f->localColumn, f->referenceTable, f->referenceColumn,
                      f->onDeleteCascade, f->isBidirectional);
    }
  }
  return s;
}

std::string DescribeAll() {
  return Describe(GetTableDefn("Agentparams")) + Describe(GetTableDefn("Child")) + Describe(GetTableDefn("Plain"));
}

class DataDictionary : public ::testing::Test {
 protected:
  void TearDown() override { FreeDataDictionary(); }
};

}  // namespace

TEST_F(DataDictionary, TypeMappingColumnRulesDefaultsAndKeys) {
  twtest::LogCapture log;
  ASSERT_TRUE(Load(kDictionary));
  // name type max-size nullable unique generator description default:length:bytes [allowed kind:range,list]
  EXPECT_EQ(DescribeAll(),
            "Agentparams|Agent parameters\n"
            "PARAM_NAME 14 255 01 (null) name default:0:\n"         // ORV_SQL_CHAR below 256 stays 14
            "param_Value 22 300 10 (null) (null) default:0:\n"     // ... and is TEXT from 256
            "Short 15 255 10 (null) (null) default:0:\n"           // CHAR; nullable TRUE
            "Long 22 300 00 (null) (null) default:0:\n"            // nullable yes is not nullable
            "Count 5 0 10 (null) (null) default:4:2a000000\n"      // LONG
            "Total 5 -1 10 (null) (null) default:0:\n"             // INTEGER; unique only for "true"
            "Odd 0 0 10 (null) (null) default:0:\n"                // unknown type name
            "Untyped 0 0 10 (null) (null) default:0:\n"            // no type at all
            "Enabled 19 0 10 (null) (null) default:1:01\n"         // boolean default True
            "Flag 19 0 10 (null) (null) default:0:\n"              // boolean default yes: none
            "Level 1 0 10 (null) (null) default:4:fbffffff allowed0:(null)..(null),-5,0,5\n"
            "Port 4 0 10 (null) (null) default:0: allowed1:1..65535\n"
            "Created 18 0 10 (null) (null) default:11:e807030507080900000003\n"
            "ID 5 0 10 ParamSeq (null) default:0:\n"
            "pk ID\npk PARAM_NAME\n"
            "Child|(null)\n"
            "ParentA 5 0 10 (null) (null) default:0:\n"
            "ParentB 5 0 10 (null) (null) default:0:\n"
            "fk ParentA->Parent.A 11\n"  // two pairs of one key, cascading, bidirectional
            "fk ParentB->Parent.B 11\n"
            "Plain|(null)\n"
            "X 22 0 10 (null) (null) default:0:\n");
  EXPECT_TRUE(Logged(log, "[ERROR]", "Column data type not supported - Error while creating column definition.\n"));
  EXPECT_TRUE(Logged(log, "[DEBUG]", "fk-columns tag not found \n"));
}

TEST_F(DataDictionary, ForeignKeyByLocalColumn) {
  twtest::LogCapture log;
  ASSERT_TRUE(Load(kDictionary));
  const TableDefn* child = GetTableDefn("CHILD");
  ASSERT_NE(child, nullptr);
  const ForeignKeyDefn* b = GetForeignKeyByLocalColumn(child, "parentb");  // without regard to case
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(b->referenceColumn, "B");
  EXPECT_EQ(GetForeignKeyByLocalColumn(child, "Nope"), nullptr);
  EXPECT_EQ(GetForeignKeyByLocalColumn(GetTableDefn("Agentparams"), "ID"), nullptr);
  EXPECT_TRUE(Logged(log, "[ERROR]", "No Foreignkey Entries in Definition \n"));
  EXPECT_EQ(GetForeignKeyByLocalColumn(GetTableDefn("Plain"), "X"), nullptr);
  EXPECT_TRUE(Logged(log, "[ERROR]", "No constraint Definition \n"));
}

TEST_F(DataDictionary, MalformedTableBetweenTwoGoodOnesIsLeftOut) {
  const std::string good = R"(<table name="First"><columns><column name="A"><data-type>INTEGER</data-type></column></columns></table>)";
  const std::string last = R"(<table name="Last"><columns><column name="A"><data-type>TEXT</data-type></column></columns></table>)";
  struct Case {
    const char* table;
    const char* message;
  } cases[] = {
      {R"(<table><columns/></table>)", "\nTABLE name missing\n"},
      {R"(<table name="Bad"><columns><column><data-type>INTEGER</data-type></column></columns></table>)",
       "\nCOLUMN name missing\n"},
      {R"(<table name="Bad"><description>a</description><description>b</description></table>)",
       "\nDescription tag ambiguity \n"},
      {R"(<table name="Bad"><description>a<b/></description></table>)", "\nDescription tag ambiguity \n"},
      {R"(<table name="Bad"><columns><column name="A"><allowed-values><from>1</from></allowed-values></column></columns></table>)",
       "In the allowed values attribute, 'to' tag is missing.\n"},
      {R"(<table name="Bad"><columns><column name="A"><allowed-values><value><x/></value></allowed-values></column></columns></table>)",
       "\n No ending Value tag\n"},
      {R"(<table name="Bad"><columns><column name="A"><allowed-values><from><x/></from><to>1</to></allowed-values></column></columns></table>)",
       "\nNo Ending FROM tag \n"},
      {R"(<table name="Bad"><columns><column name="A"><allowed-values><from>1</from><to><x/></to></allowed-values></column></columns></table>)",
       "\nNo ending TO tag \n"},
      {R"(<table name="Bad"><primary-key><primary-key-column>A<x/></primary-key-column></primary-key></table>)",
       "\nMissing primary-key-column end tag\n"},
      {R"(<table name="Bad"><foreign-keys><foreign-key><fk-columns><fk-column><fk-local-column>A</fk-local-column></fk-column></fk-columns></foreign-key></foreign-keys></table>)",
       "\nFK-COLUMN pair incomplete\n"},
      {R"(<table name="Bad"><foreign-keys><foreign-key><fk-columns><fk-column><fk-local-column><x/></fk-local-column><fk-reference-column>B</fk-reference-column></fk-column></fk-columns></foreign-key></foreign-keys></table>)",
       "\n Missing endof FK-LOCAL-COLUMN tag\n"},
      {R"(<table name="Bad"><foreign-keys><foreign-key><fk-columns><fk-column><fk-local-column>A</fk-local-column><fk-reference-column><x/></fk-reference-column></fk-column></fk-columns></foreign-key></foreign-keys></table>)",
       "\nMissing endof FK-REFERENCE-COLUMN\n"},
      {R"(<table name="Bad"><foreign-keys><foreign-key><fk-columns><other/></fk-columns></foreign-key></foreign-keys></table>)",
       "\nMissing end FK-COLUMNS\n"},
      {R"(<table name="Bad"><foreign-keys><foreign-key><fk-columns/><fk-constraints><x/></fk-constraints></foreign-key></foreign-keys></table>)",
       "\nMissing endof FK-CONSTRAINTS tag\n"},
      {R"(<tabel name="Bad"/>)", "\nTABLE tag missing\n"},
  };
  for (const Case& c : cases) {
    twtest::LogCapture log;
    EXPECT_TRUE(Load("<data-dictionary>" + good + c.table + last + "</data-dictionary>")) << c.table;
    EXPECT_TRUE(Logged(log, "[ERROR]", c.message)) << c.table;
    EXPECT_NE(GetTableDefn("First"), nullptr) << c.table;
    EXPECT_EQ(GetTableDefn("Bad"), nullptr) << c.table;
    EXPECT_NE(GetTableDefn("Last"), nullptr) << c.table;
    FreeDataDictionary();
  }
}

TEST_F(DataDictionary, ReaderFaultsKeepWhatWasReadBefore) {
  {
    twtest::LogCapture log;
    EXPECT_FALSE(Load(R"(<data-dictionary><table name="A"><columns/></table><table name="B"><columns>)"));
    EXPECT_NE(GetTableDefn("A"), nullptr);
    EXPECT_EQ(GetTableDefn("B"), nullptr);
    EXPECT_TRUE(Logged(log, "[ERROR]", "\nxmlTextReaderRead returned error \n"));
    EXPECT_TRUE(Logged(log, "[ERROR]", "XML buffer : failed to parse\n"));
    FreeDataDictionary();
  }
  {
    twtest::LogCapture log;  // an unclosed top-level description stops reading
    EXPECT_FALSE(Load(R"(<data-dictionary><description>x<y/></description><table name="A"/></data-dictionary>)"));
    EXPECT_EQ(GetTableDefn("A"), nullptr);
    EXPECT_TRUE(Logged(log, "[ERROR]", "\nNo Description end tag\n"));
  }
  {
    twtest::LogCapture log;  // unknown attributes are reported, the table still loads
    EXPECT_TRUE(Load(R"(<data-dictionary><table name="A" owner="me"><columns/></table></data-dictionary>)"));
    EXPECT_NE(GetTableDefn("A"), nullptr);
    EXPECT_TRUE(Logged(log, "[ERROR]", "\n Not all Attributes were read\n"));
  }
  twtest::LogCapture log;
  EXPECT_FALSE(LoadDataDictFromXMLFile("/no/such/dict.xml"));
  EXPECT_TRUE(Logged(log, "[ERROR]", "Unable to open /no/such/dict.xml\n"));
  EXPECT_FALSE(LoadDataDictFromXMLFile(nullptr));
}

// A dictionary's entity references expand within the same budget as table
// data; an external entity is never read.
TEST_F(DataDictionary, HostileEntitiesAreRefused) {
  std::string refs;
  for (int i = 0; i < 3000; ++i) refs += "&e;";
  twtest::LogCapture log;
  EXPECT_FALSE(Load("<!DOCTYPE d [<!ENTITY e \"" + std::string(20000, 'A') + "\">]><data-dictionary><table name=\"" +
                    refs + "\"><columns/></table></data-dictionary>"));
  EXPECT_TRUE(Logged(log, "[ERROR]", "XML document refused: its entity references expand to more than 1048576 bytes\n"));
  EXPECT_TRUE(Logged(log, "[ERROR]", "XML buffer : failed to parse\n"));
  FreeDataDictionary();

  // Within the budget an entity still gives its text; an external one is
  // never read (the parser refuses it in an attribute value).
  ASSERT_TRUE(Load("<!DOCTYPE d [<!ENTITY y \"Pl\">]><data-dictionary><table name=\"&y;ain\"><columns/></table>"
                   "</data-dictionary>"));
  EXPECT_NE(GetTableDefn("Plain"), nullptr);
  FreeDataDictionary();
  const std::string folder = twtest::MakeScratchDir("dict-external");
  const std::string secret = twtest::Join(folder, "secret.txt");
  ASSERT_TRUE(twtest::WriteFile(secret, "SECRET"));
  EXPECT_FALSE(Load("<!DOCTYPE d [<!ENTITY x SYSTEM \"" + secret +
                    "\">]><data-dictionary><table name=\"Plain&x;\"><columns/></table></data-dictionary>"));
  EXPECT_EQ(GetTableDefn("PlainSECRET"), nullptr);
  twtest::RemoveTree(folder);
}

TEST_F(DataDictionary, SameDictionaryFromFileAndFromMemory) {
  ASSERT_TRUE(Load(kDictionary));
  const std::string fromMemory = DescribeAll();
  FreeDataDictionary();
  EXPECT_EQ(GetTableDefn("Agentparams"), nullptr);

  const std::string root = twtest::MakeScratchDir("dictroot");
  ASSERT_TRUE(twtest::WriteFile(root + "/data/datadictionary.txt", "  dict.xml\n\n"));
  ASSERT_TRUE(twtest::WriteFile(root + "/data/dict.xml", kDictionary));
  twtest::LogCapture log(3);
  SetCQuillRoot(root.c_str());
  EXPECT_TRUE(LoadAllDataDictFiles());
  SetCQuillRoot(nullptr);
  EXPECT_TRUE(Logged(log, "[DEBUG]", "Opening " + root + "/data/datadictionary.txt\n"));
  EXPECT_TRUE(Logged(log, "[DEBUG]", "Opening " + root + "/data/dict.xml\n"));
  EXPECT_EQ(DescribeAll(), fromMemory);
  twtest::RemoveTree(root);
}

TEST_F(DataDictionary, IndexInAFolderAndFirstOfTwoDefinitionsWins) {
  const std::string folder = twtest::MakeScratchDir("dictfolder");
  // The folder and file names are joined with a backslash, as on Windows.
  const std::string base = folder + "\\";
  ASSERT_TRUE(twtest::WriteFile(base + "datadictionary.txt", "one.xml\ttwo.xml"));
  ASSERT_TRUE(twtest::WriteFile(base + "one.xml",
                                R"(<data-dictionary><table name="Dup"><description>first</description></table></data-dictionary>)"));
  ASSERT_TRUE(twtest::WriteFile(base + "two.xml",
                                R"(<data-dictionary><table name="DUP"><description>second</description></table></data-dictionary>)"));
  EXPECT_TRUE(LoadDataDictFiles(folder.c_str()));
  ASSERT_NE(GetTableDefn("dup"), nullptr);
  EXPECT_STREQ(GetTableDefn("dup")->description, "first");
  FreeTableDefn("dup");
  EXPECT_STREQ(GetTableDefn("dup")->description, "second");
  for (const char* name : {"datadictionary.txt", "one.xml", "two.xml"}) std::remove((base + name).c_str());
  twtest::RemoveTree(folder);
  EXPECT_FALSE(LoadDataDictFiles(folder.c_str()));

  twtest::LogCapture log;
  EXPECT_FALSE(LoadAllDataDictFiles());  // no index near the program and no root folder
  EXPECT_TRUE(Logged(log, "[ERROR]", "Cannot open DataDictionary File.\n"));
}

TEST_F(DataDictionary, LookupsAndTheirErrors) {
  ASSERT_TRUE(Load(kDictionary));
  twtest::LogCapture log;
  EXPECT_EQ(GetColumnTypeByDefn("AGENTPARAMS", "param_Value"), 22);
  EXPECT_EQ(GetColumnTypeByDefn("Agentparams", "PARAM_VALUE"), 0);  // column names are case-sensitive
  EXPECT_EQ(GetColumnDefnEntry("Agentparams", "param_value"), nullptr);
  EXPECT_EQ(GetColumnDefnEntry("Nope", "X"), nullptr);
  EXPECT_TRUE(Logged(log, "[ERROR]", "No definition found for table Nope\n"));
  EXPECT_EQ(GetColumnDefnEntry("Agentparams", nullptr), nullptr);
  EXPECT_TRUE(Logged(log, "[ERROR]", "Cannot fetch default value;\n"));
  EXPECT_EQ(GetTableDefn(nullptr), nullptr);
  EXPECT_TRUE(Logged(log, "[ERROR]", "Table Name is NULL.\n"));
  uint8_t found = 9;
  EXPECT_NE(GetDefaultValue("Agentparams", "Count", &found), nullptr);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(GetDefaultValue("Agentparams", "Flag", &found), nullptr);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(GetDefaultValue("Agentparams", "count", &found), nullptr);
  EXPECT_EQ(found, 0);

  FreeTableDefn("child");
  EXPECT_EQ(GetTableDefn("Child"), nullptr);
  EXPECT_NE(GetTableDefn("Plain"), nullptr);
  FreeDataDictionary();
  EXPECT_EQ(GetTableDefn("Plain"), nullptr);
}

TEST_F(DataDictionary, DebugDumpLayout) {
  ASSERT_TRUE(Load(R"(<data-dictionary>
    <table name="T"><description>D</description><columns>
      <column name="A"><data-type>INTEGER</data-type><unique>true</unique><description>first</description></column>
      <column name="B"><data-type>TEXT</data-type></column></columns>
      <primary-key><primary-key-column>A</primary-key-column></primary-key>
      <foreign-keys><foreign-key reference-table-name="R"><fk-columns>
        <fk-column><fk-local-column>B</fk-local-column><fk-reference-column>RB</fk-reference-column></fk-column>
      </fk-columns></foreign-key></foreign-keys></table>
    <table name="Empty"/></data-dictionary>)"));
  twtest::LogCapture log(3);
  PrintDataDictionary();
  const std::string dashes = "---------------------------------------\n\n";
  const std::string stars = "********************************\n";
  EXPECT_EQ(DebugText(log), "Table Name : T\nDescription: D\n" + dashes +
                                "Column Name : A\nColumn Type : 5\nUnique Flag : TRUE\nDescription : first\n" + dashes +
                                "Column Name : B\nColumn Type : 22\nUnique Flag : FALSE\nDescription : (null)\n" +
                                dashes + "Primary key : A\n\n" + "Foreign key Constraints\n" + stars +
                                "Column Name : B\nRef Column  : RB\nTablename : R\n" + stars);
}

