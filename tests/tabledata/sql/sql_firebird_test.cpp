// The Firebird dialect's statements run in Firebird 3 itself (isql-fb on an
// embedded database file): tables created from the dictionary, hostile values
// inserted, found, updated and deleted by key, and read back unchanged; every
// SELECT form runs and gives the expected rows.
#include <cstdio>
#include <map>

#include "tabledata/values/valuetypes.h"
#include "tests/support/scratch.h"
#include "tests/tabledata/sql/sql_fixture.h"

namespace sqltest {
namespace {

// One row of isql's list output: column name (as Firebird writes it, in
// capitals) to value, "<null>" for NULL.
using Record = std::map<std::string, std::string>;

// isql's list output: one "NAME<blanks>value" line per column, the name in a
// field of 32 characters, rows separated by empty lines.
std::vector<Record> ParseList(const std::string& output) {
  std::vector<Record> records;
  bool inRecord = false;
  for (const std::string& line : twtest::SplitLines(output)) {
    if (line.empty()) {
      inRecord = false;
      continue;
    }
    if (!inRecord) records.emplace_back();
    inRecord = true;
    const size_t blank = line.find(' ');
    records.back()[line.substr(0, blank)] = line.size() > 32 ? line.substr(32) : "";
  }
  return records;
}

// A column of every type code, with defaults where the dialect writes them.
const char kKinds[] = R"(<data-dictionary><table name="Kinds"><columns>
  <column name="K"><data-type>INTEGER</data-type><nullable>false</nullable></column>
  <column name="T1"><data-type>ORV_SQL_TINYINT</data-type><default-value>-1</default-value></column>
  <column name="T2"><data-type>ORV_SQL_UNSIGNED_TINYINT</data-type></column>
  <column name="T3"><data-type>ORV_SQL_SMALLINT</data-type></column>
  <column name="T4"><data-type>ORV_SQL_UNSIGNED_SMALLINT</data-type></column>
  <column name="T5"><data-type>ORV_SQL_INT</data-type></column>
  <column name="T6"><data-type>ORV_SQL_UNSIGNED_INT</data-type></column>
  <column name="T7"><data-type>BIGINT</data-type></column>
  <column name="T8"><data-type>ORV_SQL_UNSIGNED_LONG_INT</data-type></column>
  <column name="T9"><data-type>FLOAT</data-type></column>
  <column name="T10"><data-type>ORV_SQL_DOUBLE</data-type></column>
  <column name="T11"><data-type>ORV_SQL_REAL</data-type></column>
  <column name="T12"><data-type>ORV_SQL_DECIMAL</data-type></column>
  <column name="T13"><data-type>ORV_SQL_NUMERIC</data-type></column>
  <column name="T14"><data-type>ORV_SQL_CHAR</data-type><max-size>20</max-size>
    <default-value>it's</default-value></column>
  <column name="T15"><data-type>NCHAR</data-type><max-size>20</max-size></column>
  <column name="T16"><data-type>DATE</data-type></column>
  <column name="T17"><data-type>TIME</data-type></column>
  <column name="T18"><data-type>DATETIME</data-type></column>
  <column name="T19"><data-type>BOOLEAN</data-type><default-value>false</default-value></column>
  <column name="T20"><data-type>BLOB</data-type><default-value>b'</default-value></column>
  <column name="T21"><data-type>CLOB</data-type></column>
  <column name="T22"><data-type>TEXT</data-type></column>
</columns><primary-key><primary-key-column>K</primary-key-column></primary-key></table></data-dictionary>)";

class FirebirdRunTest : public SqlTest {
 protected:
  void SetUp() override {
    SqlTest::SetUp();
    folder_ = twtest::MakeScratchDir("firebird");
    database_ = folder_ + "/test.fdb";
    std::string output;
    ASSERT_TRUE(Isql("CREATE DATABASE '" + database_ + "' USER 'SYSDBA';\n", false, &output)) << output;
    for (const char* table : {"Person", "Orders", "Loose", "Keys"})
      ASSERT_TRUE(Run(FirebirdGenCreateQuery(GetTableDefn(table))));
  }
  void TearDown() override {
    twtest::RemoveTree(folder_);
    SqlTest::TearDown();
  }

  // Runs a script with isql-fb (stopping at the first failing statement, then
  // committing); true when every statement succeeded. *output holds what isql
  // wrote, its messages included.
  bool Isql(const std::string& script, bool connect, std::string* output) {
    const std::string file = folder_ + "/script.sql";
    if (!twtest::WriteFile(file, "SET LIST ON;\n" + script + "\nCOMMIT;\n")) return false;
    std::string command = "isql-fb -q -b -m ";
    if (connect) command += "-user SYSDBA " + database_ + " ";
    command += "-i " + file + " 2>&1";
    output->clear();
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) output->append(chunk, n);
    return pclose(pipe) == 0;
  }
  // Runs a generated statement (and frees it); false when there is none or
  // Firebird refuses it.
  bool Run(char* sql) {
    std::string output;
    const bool ran = sql && Isql(std::string(sql) + ";", true, &output);
    EXPECT_TRUE(ran) << (sql ? sql : "<none>") << "\n" << output;
    free(sql);
    return ran;
  }
  // The rows a query gives (a generated one is freed).
  std::vector<Record> Query(const std::string& sql) {
    std::string output;
    EXPECT_TRUE(Isql(sql + ";", true, &output)) << sql << "\n" << output;
    return ParseList(output);
  }
  std::vector<Record> Select(char* sql) {
    const std::string text = sql ? sql : "<none>";
    free(sql);
    return Query(text);
  }
  // Column `column` of each row.
  static std::vector<std::string> Column(const std::vector<Record>& records, const std::string& column) {
    std::vector<std::string> values;
    for (const Record& record : records) values.push_back(record.count(column) ? record.at(column) : "<absent>");
    return values;
  }

  std::string folder_;
  std::string database_;
};

TEST_F(FirebirdRunTest, HostileValuesRoundTrip) {
  ASSERT_NO_FATAL_FAILURE(InsertHostilePersons(FirebirdGenInsertQuery, [this](char* sql) { return Run(sql); }));
  int32_t id = 0;
  for (const char* name : kHostileNames) {
    ++id;
    const Cell nameCell = Text(name);
    const SqlCriterion byName{SQL_OP_EQ, {"Person", nullptr, "NAME"}, Value(ORV_SQL_CHAR, nameCell), {}, nullptr,
                              nullptr};
    SqlQuery q;
    q.tables = {{"Person", nullptr}};
    q.criterion = &byName;
    q.columns = {{{"Person", nullptr, "ID"}, nullptr, 0},   {{"Person", nullptr, "NAME"}, nullptr, 0},
                 {{"Person", nullptr, "BORN"}, nullptr, 0}, {{"Person", nullptr, "SEEN"}, nullptr, 0},
                 {{"Person", nullptr, "OK"}, nullptr, 0},   {{"Person", nullptr, "BIG"}, nullptr, 0}};
    const std::vector<Record> found = Select(FirebirdGenSelectQuery(&q));
    EXPECT_EQ(found, (std::vector<Record>{{{"ID", std::to_string(id)},
                                           {"NAME", name},
                                           {"BORN", "2024-03-05"},
                                           {"SEEN", "2024-03-05 07:08:09.0000"},
                                           {"OK", "1"},
                                           {"BIG", "5000000000"}}}))
        << name;
    const std::string blobs =
        "SELECT CAST(NOTE AS VARCHAR(100)) AS NOTE, CAST(DATA AS VARCHAR(100)) AS DATA FROM Person WHERE ID = " +
        std::to_string(id);
    EXPECT_EQ(Query(blobs), (std::vector<Record>{{{"NOTE", "<null>"}, {"DATA", name}}})) << name;
    std::vector<Cell> changed = Person(id, name);
    changed[kNote] = Text(name);
    changed[kOk] = Bytes<uint8_t>(0);
    Row update(changed);
    ASSERT_TRUE(Run(FirebirdGenUpdateQuery("Person", update.row)));
    EXPECT_EQ(Column(Query(blobs), "NOTE"), std::vector<std::string>{name});
    EXPECT_EQ(Column(Select(FirebirdGenSelectQuery(&q)), "OK"), std::vector<std::string>{"0"});
  }
  // A delete by key removes that row only.
  Row first(Person(1, kHostileNames[0]));
  ASSERT_TRUE(Run(FirebirdGenDeleteQuery("Person", first.row)));
  SqlQuery all;
  all.tables = {{"Person", nullptr}};
  all.sort = {{{"Person", nullptr, "ID"}, true}};
  EXPECT_EQ(Column(Select(FirebirdGenSelectQuery(&all)), "ID"), (std::vector<std::string>{"2", "3", "4", "5"}));
}

TEST_F(FirebirdRunTest, TextKeyDeletesOneRow) {
  Row person(Person(1, "Ann"));
  ASSERT_TRUE(Run(FirebirdGenInsertQuery("Person", person.row)));
  // CODE is varchar(10), which Firebird enforces.
  for (const char* code : {"' or ''='", "b"}) {
    Row order({Text(code), Bytes<int32_t>(1), Bytes(2.5)});
    ASSERT_TRUE(Run(FirebirdGenInsertQuery("Orders", order.row)));
  }
  Row hostile({Text("' or ''='"), Bytes<int32_t>(1), Bytes(9.0)});
  ASSERT_TRUE(Run(FirebirdGenUpdateQuery("Orders", hostile.row)));
  EXPECT_EQ(Column(Query("SELECT AMOUNT FROM Orders ORDER BY CODE"), "AMOUNT"),
            (std::vector<std::string>{"9.000000000000000", "2.500000000000000"}));  // "'" sorts before "b"
  ASSERT_TRUE(Run(FirebirdGenDeleteQuery("Orders", hostile.row)));
  SqlQuery all;
  all.tables = {{"Orders", nullptr}};
  const std::vector<Record> left = Select(FirebirdGenSelectQuery(&all));
  EXPECT_EQ(Column(left, "CODE"), std::vector<std::string>{"b"});
  EXPECT_EQ(Column(left, "AMOUNT"), std::vector<std::string>{"2.500000000000000"});
}

TEST_F(FirebirdRunTest, SelectForms) {
  ASSERT_NO_FATAL_FAILURE(SelectForms::Insert(FirebirdGenInsertQuery, [this](char* sql) { return Run(sql); }));
  SelectForms forms;
  SqlQuery& q = forms.query;
  EXPECT_TRUE(Select(FirebirdGenSelectQuery(&q)).empty());  // Keys has no rows
  q.tables.clear();
  const std::vector<Record> rows = Select(FirebirdGenSelectQuery(&q));
  EXPECT_EQ(Column(rows, "N"), (std::vector<std::string>{"Olga", "Bea"}));
  EXPECT_EQ(Column(rows, "C"), (std::vector<std::string>{"1", "1"}));
  q.offset = 1;
  EXPECT_EQ(Column(Select(FirebirdGenSelectQuery(&q)), "N"), std::vector<std::string>{"Bea"});
  // An inner join and DISTINCT, MIN, MAX and AVG.
  SqlQuery joined;
  joined.columns = {{{"Orders", "o", "CODE"}, "d", SQL_AGGREGATE_DISTINCT}};
  joined.joins = {{{"Orders", "o"}, SQL_JOIN_INNER, {{{"Person", "p", "ID"}, {"Orders", "o", "PID"}}}}};
  EXPECT_EQ(Column(Select(FirebirdGenSelectQuery(&joined)), "D"), std::vector<std::string>{"c"});
  SqlQuery aggregates;
  aggregates.tables = {{"Person", nullptr}};
  aggregates.columns = {{{"Person", nullptr, "ID"}, "lo", SQL_AGGREGATE_MIN},
                        {{"Person", nullptr, "ID"}, "hi", SQL_AGGREGATE_MAX},
                        {{"Person", nullptr, "BIG"}, "mean", SQL_AGGREGATE_AVG}};
  EXPECT_EQ(Select(FirebirdGenSelectQuery(&aggregates)),
            (std::vector<Record>{{{"LO", "1"}, {"HI", "3"}, {"MEAN", "5000000000"}}}));
}

// Every column type's CREATE line, default and literal are Firebird's: a row
// inserted, and a row of defaults updated to the same values, read back as
// they went in.
TEST_F(FirebirdRunTest, EveryColumnTypeRoundTrips) {
  ASSERT_TRUE(LoadDataDictFromXMLBuffer(kKinds, static_cast<int32_t>(strlen(kKinds))));
  ASSERT_TRUE(Run(FirebirdGenCreateQuery(GetTableDefn("Kinds"))));
  // The value of T1 to T22 and the text Firebird gives back for it.
  const std::pair<Cell, const char*> values[] = {{Bytes<int32_t>(-5), "-5"},
                                                 {Bytes<uint32_t>(200), "200"},
                                                 {Bytes<int32_t>(-300), "-300"},
                                                 {Bytes<uint32_t>(60000), "60000"},
                                                 {Bytes(std::numeric_limits<int32_t>::min()), "-2147483648"},
                                                 {Bytes<uint32_t>(2147483647), "2147483647"},
                                                 {Bytes(std::numeric_limits<int64_t>::min()), "-9223372036854775808"},
                                                 {Bytes<uint64_t>(9223372036854775807ULL), "9223372036854775807"},
                                                 {Bytes(1.5f), "1.5"},
                                                 {Bytes(-2.25), "-2.250000000000000"},
                                                 {Bytes(3.5f), "3.5"},
                                                 {Text("12345.678901234"), "12345.678901234"},
                                                 {Text("-0.5"), "-0.500000000"},
                                                 {Text("c'har"), "c'har"},
                                                 {Text("n\\'char"), "n\\'char"},
                                                 {Date(2024, 2, 29), "2024-02-29"},
                                                 {Bytes(OrvTime{23, 59, 58}), "23:59:58.0000"},
                                                 {DateTime(1999, 12, 31, 23, 59, 59), "1999-12-31 23:59:59.0000"},
                                                 {Bytes<uint8_t>(1), "1"},
                                                 {Text("b'lob"), "b'lob"},
                                                 {Text("c\\'lob"), "c\\'lob"},
                                                 {Text("t'ext"), "t'ext"}};
  // The row with key `key`, and the record Firebird should give for it.
  const auto kinds = [&values](int32_t key) {
    std::vector<Cell> cells{Bytes(key)};
    Record record{{"K", std::to_string(key)}};
    for (const auto& [cell, text] : values) {
      record["T" + std::to_string(cells.size())] = text;
      cells.push_back(cell);
    }
    return std::pair{cells, record};
  };
  const std::string select =
      "SELECT K, T1, T2, T3, T4, T5, T6, T7, T8, T9, T10, T11, T12, T13, T14, T15, T16, T17, T18, T19, "
      "CAST(T20 AS VARCHAR(20)) AS T20, CAST(T21 AS VARCHAR(20)) AS T21, CAST(T22 AS VARCHAR(20)) AS T22 "
      "FROM Kinds WHERE K = ";
  const auto [firstCells, first] = kinds(1);
  Row inserted(firstCells);
  ASSERT_TRUE(Run(FirebirdGenInsertQuery("Kinds", inserted.row)));
  EXPECT_EQ(Query(select + "1"), std::vector<Record>{first});
  Query("INSERT INTO Kinds (K) VALUES (2)");
  const Record defaults = Query(select + "2").at(0);
  const std::pair<const char*, const char*> defaulted[] = {{"T1", "-1"}, {"T14", "it's"}, {"T19", "0"}, {"T20", "b'"}};
  for (const auto& [column, text] : defaulted) EXPECT_EQ(defaults.at(column), text) << column;
  const auto [secondCells, second] = kinds(2);
  Row updated(secondCells);
  ASSERT_TRUE(Run(FirebirdGenUpdateQuery("Kinds", updated.row)));
  EXPECT_EQ(Query(select + "2"), std::vector<Record>{second});
}

}  // namespace
}  // namespace sqltest
