// The SQLite dialect's statements run in SQLite itself: tables created from
// the dictionary, hostile values inserted, found, updated and deleted by key,
// and read back unchanged; every SELECT form prepares.
#include <sqlite3.h>

#include "tests/tabledata/sql/sql_fixture.h"

#include "tabledata/values/valuetypes.h"

namespace sqltest {
namespace {

class SqliteRunTest : public SqlTest {
 protected:
  void SetUp() override {
    SqlTest::SetUp();
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    for (const char* table : {"Person", "Orders", "Loose", "Keys"}) ASSERT_TRUE(Run(SqliteGenCreateQuery(GetTableDefn(table))));
  }
  void TearDown() override {
    sqlite3_close(db_);
    SqlTest::TearDown();
  }
  // Runs a generated statement (and frees it); false when there is none or
  // SQLite refuses it.
  bool Run(char* sql) {
    const bool ran = sql && sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    EXPECT_TRUE(ran) << (sql ? sql : "<none>") << ": " << sqlite3_errmsg(db_);
    free(sql);
    return ran;
  }
  // Column `column` of every row that a generated SELECT gives, as bytes.
  std::vector<std::string> Select(char* sql, int column) {
    std::vector<std::string> values;
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sql ? sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) : SQLITE_ERROR, SQLITE_OK)
        << (sql ? sql : "<none>") << ": " << sqlite3_errmsg(db_);
    while (statement && sqlite3_step(statement) == SQLITE_ROW) {
      const char* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
      values.emplace_back(bytes ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(statement, column)));
    }
    sqlite3_finalize(statement);
    free(sql);
    return values;
  }
  // The rows of Person whose NAME equals name, column by column index.
  std::vector<std::string> PersonWhere(const Cell& name, int column) {
    const SqlCriterion byName{SQL_OP_EQ, {"Person", nullptr, "NAME"}, Value(ORV_SQL_CHAR, name), {}, nullptr, nullptr};
    SqlQuery q;
    q.tables = {{"Person", nullptr}};
    q.criterion = &byName;
    return Select(SqliteGenSelectQuery(&q), column);
  }

  sqlite3* db_ = nullptr;
};

TEST_F(SqliteRunTest, HostileValuesRoundTrip) {
  ASSERT_NO_FATAL_FAILURE(InsertHostilePersons(SqliteGenInsertQuery, [this](char* sql) { return Run(sql); }));
  int32_t id = 0;
  for (const char* name : kHostileNames) {
    ++id;
    const std::pair<int, std::string> stored[] = {{kName, name},       {kData, name},
                                                  {kBorn, "2024-03-05"}, {kSeen, "2024-03-05 07:08:09"},
                                                  {kBig, "5000000000"},  {kOk, "1"}};
    for (const auto& [column, value] : stored) EXPECT_EQ(PersonWhere(Text(name), column), std::vector{value});
    std::vector<Cell> changed = Person(id, name);
    changed[kNote] = Text(name);
    changed[kOk] = Bytes<uint8_t>(0);
    Row update(changed);
    ASSERT_TRUE(Run(SqliteGenUpdateQuery("Person", update.row)));
    EXPECT_EQ(PersonWhere(Text(name), kNote), std::vector<std::string>{name});
    EXPECT_EQ(PersonWhere(Text(name), kOk), std::vector<std::string>{"0"});
  }
  // A delete by key removes that row only.
  Row first(Person(1, kHostileNames[0]));
  ASSERT_TRUE(Run(SqliteGenDeleteQuery("Person", first.row)));
  SqlQuery all;
  all.tables = {{"Person", nullptr}};
  EXPECT_EQ(Select(SqliteGenSelectQuery(&all), kId), (std::vector<std::string>{"2", "3", "4", "5"}));
}

TEST_F(SqliteRunTest, TextKeyDeletesOneRow) {
  for (const char* code : {"a' or '1'='1", "b"}) {
    Row order({Text(code), Bytes<int32_t>(1), Bytes(2.5)});
    ASSERT_TRUE(Run(SqliteGenInsertQuery("Orders", order.row)));
  }
  Row hostile({Text("a' or '1'='1"), Bytes<int32_t>(1), Bytes(9.0)});
  ASSERT_TRUE(Run(SqliteGenUpdateQuery("Orders", hostile.row)));
  ASSERT_TRUE(Run(SqliteGenDeleteQuery("Orders", hostile.row)));
  SqlQuery all;
  all.tables = {{"Orders", nullptr}};
  EXPECT_EQ(Select(SqliteGenSelectQuery(&all), 0), std::vector<std::string>{"b"});
  EXPECT_EQ(Select(SqliteGenSelectQuery(&all), 2), std::vector<std::string>{"2.5"});
}

TEST_F(SqliteRunTest, SelectFormsPrepare) {
  ASSERT_NO_FATAL_FAILURE(SelectForms::Insert(SqliteGenInsertQuery, [this](char* sql) { return Run(sql); }));
  SelectForms forms;
  SqlQuery& q = forms.query;
  EXPECT_TRUE(Select(SqliteGenSelectQuery(&q), 0).empty());  // Keys has no rows
  q.tables.clear();
  EXPECT_EQ(Select(SqliteGenSelectQuery(&q), 0), (std::vector<std::string>{"Olga", "Bea"}));
  q.offset = 1;
  EXPECT_EQ(Select(SqliteGenSelectQuery(&q), 0), std::vector<std::string>{"Bea"});
}

}  // namespace
}  // namespace sqltest
