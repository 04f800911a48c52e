// Shared by the SQL tests: a dictionary of small tables with every kind of
// column the generators treat apart, rows of typed values, and queries over
// them. Rows are built with the store's test helpers.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "tabledata/sql/sqlgen.h"
#include "tabledata/values/datetime.h"
#include "tabledata/values/valuetypes.h"
#include "tests/tabledata/store/store_fixture.h"

namespace sqltest {

using storetest::Bytes;
using storetest::Cell;
using storetest::Text;

// Person: key, texts, dates, boolean, 64-bit and binary columns with defaults,
// NOT NULL and UNIQUE. Orders: a text and integer key and a foreign key.
// Loose has no key, Keys only key columns and a foreign key that does not
// cascade, Odd a column of no known type.
inline const char kDictionary[] = R"(<data-dictionary>
  <table name="Person"><columns>
    <column name="ID"><data-type>INTEGER</data-type><nullable>false</nullable></column>
    <column name="NAME"><data-type>ORV_SQL_CHAR</data-type><max-size>40</max-size><nullable>false</nullable>
      <default-value>nobody</default-value><unique>true</unique></column>
    <column name="NOTE"><data-type>TEXT</data-type></column>
    <column name="BORN"><data-type>DATE</data-type></column>
    <column name="SEEN"><data-type>DATETIME</data-type></column>
    <column name="OK"><data-type>BOOLEAN</data-type><default-value>true</default-value></column>
    <column name="BIG"><data-type>BIGINT</data-type><default-value>-7</default-value></column>
    <column name="DATA"><data-type>BLOB</data-type></column>
  </columns><primary-key><primary-key-column>ID</primary-key-column></primary-key></table>
  <table name="Orders"><columns>
    <column name="CODE"><data-type>ORV_SQL_CHAR</data-type><max-size>10</max-size></column>
    <column name="PID"><data-type>INTEGER</data-type></column>
    <column name="AMOUNT"><data-type>ORV_SQL_DOUBLE</data-type></column>
  </columns><primary-key><primary-key-column>CODE</primary-key-column><primary-key-column>pid</primary-key-column>
  </primary-key><foreign-keys><foreign-key name="fk1" reference-table-name="Person" isbidirectional="false">
    <fk-columns><fk-column><fk-local-column>PID</fk-local-column><fk-reference-column>ID</fk-reference-column>
    </fk-column></fk-columns><fk-constraints>ON-DELETE-CASCADE</fk-constraints></foreign-key></foreign-keys></table>
  <table name="Loose"><columns><column name="X"><data-type>INTEGER</data-type></column></columns></table>
  <table name="Keys"><columns><column name="K"><data-type>INTEGER</data-type></column></columns>
    <primary-key><primary-key-column>K</primary-key-column></primary-key><foreign-keys>
    <foreign-key name="fk2" reference-table-name="Person" isbidirectional="false"><fk-columns><fk-column>
    <fk-local-column>K</fk-local-column><fk-reference-column>ID</fk-reference-column></fk-column></fk-columns>
    </foreign-key></foreign-keys></table>
  <table name="Odd"><columns><column name="K"><data-type>INTEGER</data-type></column>
    <column name="W"><data-type>WHATEVER</data-type></column></columns>
    <primary-key><primary-key-column>K</primary-key-column></primary-key></table>
</data-dictionary>)";

enum PersonColumn { kId, kName, kNote, kBorn, kSeen, kOk, kBig, kData, kPersonColumns };

inline Cell Date(int16_t year, uint8_t month, uint8_t day) { return Bytes(OrvDate{year, month, day}); }
inline Cell DateTime(int16_t year, uint8_t month, uint8_t day, uint8_t hour, uint8_t minute, uint8_t second) {
  OrvDateTime* dateTime = CreateOrvDateTime(year, month, day, hour, minute, second);
  const OrvDateTimeValue value = PackOrvDateTime(dateTime);
  FreeOrvDateTime(dateTime);
  return Bytes(value);
}
inline Cell Raw(const char* bytes, size_t length) { return std::string(bytes, length); }

// A row that frees itself.
struct Row {
  explicit Row(const std::vector<Cell>& cells)
      : count(static_cast<int32_t>(cells.size())), row(storetest::MakeRow(cells)) {}
  ~Row() { FreeRowObject(row, count); }
  Row(const Row&) = delete;
  Row& operator=(const Row&) = delete;
  int32_t count;
  RowObject* row;
};

// A Person with a name and the other columns filled, the note absent.
inline std::vector<Cell> Person(int32_t id, const char* name) {
  std::vector<Cell> cells(kPersonColumns);
  cells[kId] = Bytes(id);
  cells[kName] = Text(name);
  cells[kBorn] = Date(2024, 3, 5);
  cells[kSeen] = DateTime(2024, 3, 5, 7, 8, 9);
  cells[kOk] = Bytes<uint8_t>(1);
  cells[kBig] = Bytes<int64_t>(5000000000LL);
  cells[kData] = Text("a\\'b");
  return cells;
}

// Names that end a statement early unless quoted as the database reads them.
inline const char* const kHostileNames[] = {"O'Brien", "a\\'b", "x'); drop table Person; --", "''", "%_\\"};

// The insert statement of a Person per hostile name (IDs 1, 2, ...), with the
// name in DATA too, for a database to run.
template <typename Run>
void InsertHostilePersons(char* (*generateInsert)(const char*, const RowObject*), Run run) {
  int32_t id = 0;
  for (const char* name : kHostileNames) {
    std::vector<Cell> cells = Person(++id, name);
    cells[kData] = Text(name);
    Row row(cells);
    ASSERT_TRUE(run(generateInsert("Person", row.row))) << name;
  }
}

// The text a generator gave, freed; "<none>" for none.
inline std::string Take(char* text) {
  std::string out = text ? text : "<none>";
  free(text);
  return out;
}

inline SqlValue Value(uint8_t type, const Cell& cell) {
  return SqlValue{type, cell ? cell->data() : nullptr, cell ? static_cast<int32_t>(cell->size()) : 0};
}

// Ann, Olga and Bea (IDs 1 to 3) with one order each, and a select that uses
// every clause on them: a left join, criteria of each kind under and/or, group
// by with having, a sort and paging. With its Keys table (no rows) the select
// gives nothing; without it, Olga and Bea. Run a database's statements with
// Insert, then generate from `query`.
struct SelectForms {
  template <typename Run>
  static void Insert(char* (*generateInsert)(const char*, const RowObject*), Run run) {
    const char* names[] = {"Ann", "Olga", "Bea"};
    for (int32_t id = 1; id <= 3; ++id) {
      Row person(Person(id, names[id - 1]));
      ASSERT_TRUE(run(generateInsert("Person", person.row)));
      Row order({Text("c"), Bytes<int32_t>(id), Bytes(1.0)});
      ASSERT_TRUE(run(generateInsert("Orders", order.row)));
    }
  }
  SelectForms() {
    query.columns = {{{"Person", "p", "NAME"}, "n", 0},
                     {{}, "c", SQL_AGGREGATE_COUNT},
                     {{"Orders", "o", "AMOUNT"}, "s", SQL_AGGREGATE_SUM}};
    query.joins = {{{"Orders", "o"}, SQL_JOIN_LEFT, {{{"Person", "p", "ID"}, {"Orders", "o", "PID"}}}}};
    query.tables = {{"Keys", "k"}};
    query.criterion = &both;
    query.groupBy = {{{"Person", "p", "NAME"}, nullptr, 0}};
    query.having = &having;
    query.sort = {{{"Person", "p", "NAME"}, false}};
    query.rowCount = 5;
  }
  SelectForms(const SelectForms&) = delete;
  SelectForms& operator=(const SelectForms&) = delete;

  const Cell one = Bytes<int32_t>(1), pattern = Text("O%"), yes = Bytes<uint8_t>(1), low = Date(2024, 1, 1),
             high = Date(2024, 12, 31);
  const SqlCriterion idAbove{SQL_OP_GT, {"Person", "p", "ID"}, Value(ORV_SQL_INT, one), {}, nullptr, nullptr};
  const SqlCriterion nameLike{SQL_OP_LIKE, {"Person", "p", "NAME"}, Value(ORV_SQL_CHAR, pattern), {}, nullptr, nullptr};
  const SqlCriterion born{SQL_OP_BETWEEN, {"Person", "p", "BORN"}, Value(ORV_SQL_DATE, low), Value(ORV_SQL_DATE, high),
                          nullptr, nullptr};
  const SqlCriterion ok{SQL_OP_EQ, {"Person", "p", "OK"}, Value(ORV_SQL_BOOLEAN, yes), {}, nullptr, nullptr};
  const SqlCriterion either{SQL_OP_OR, {}, {}, {}, &nameLike, &born};
  const SqlCriterion all{SQL_OP_AND, {}, {}, {}, &idAbove, &either};
  const SqlCriterion both{SQL_OP_AND, {}, {}, {}, &all, &ok};
  const SqlHaving having{SQL_AGGREGATE_COUNT, {"Orders", "o", "PID"}, SQL_OP_GE, Value(ORV_SQL_INT, one)};
  SqlQuery query;
};

class SqlTest : public testing::Test {
 protected:
  void SetUp() override {
    log_ = std::make_unique<twtest::LogCapture>(4, "sql");
    ASSERT_TRUE(LoadDataDictFromXMLBuffer(kDictionary, static_cast<int32_t>(strlen(kDictionary))));
  }
  void TearDown() override {
    FreeDataDictionary();
    log_.reset();
  }
  // The log as written, Windows line ends read as "\n".
  std::string LogText() const {
    std::string text = log_->Text();
    std::erase(text, '\r');
    return text;
  }
  // Whether message was logged, at or after the position `since` of LogText().
  bool Logged(const std::string& message, size_t since = 0) const {
    return LogText().find(message, since) != std::string::npos;
  }

  std::unique_ptr<twtest::LogCapture> log_;
};

}  // namespace sqltest
