// Shared by the tests of table loading and saving, the sequences and the
// support library's start: a real database of each kind, a root folder whose
// "data" holds the dictionary and the connection files that InitCQuill reads,
// and SQL run by the database's own client to see what reached it.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tabledata/db/cquill.h"
#include "tabledata/db/tableio.h"
#include "tests/support/db/testdb.h"
#include "tests/support/logcheck.h"
#include "tests/support/scratch.h"

namespace tableiotest {

// SeqGenState keeps the sequences; Orders takes its keys from OrderSeq;
// Notes has no primary key, so its stored rows cannot be updated.
inline const char kDictionary[] = R"(<data-dictionary>
  <table name="SeqGenState"><columns>
    <column name="SEQNAME"><data-type>ORV_SQL_CHAR</data-type><max-size>64</max-size></column>
    <column name="CURRENTBATCHEND"><data-type>ORV_SQL_INT</data-type></column>
  </columns><primary-key><primary-key-column>SEQNAME</primary-key-column></primary-key></table>
  <table name="Orders"><columns>
    <column name="ORDER_ID"><data-type>ORV_SQL_INT</data-type>
      <uniquevalue-generation><generator-name>OrderSeq</generator-name></uniquevalue-generation></column>
    <column name="NAME"><data-type>ORV_SQL_CHAR</data-type><max-size>64</max-size></column>
    <column name="STATUS"><data-type>ORV_SQL_INT</data-type></column>
  </columns><primary-key><primary-key-column>ORDER_ID</primary-key-column></primary-key></table>
  <table name="Notes"><columns>
    <column name="NOTE"><data-type>ORV_SQL_CHAR</data-type><max-size>64</max-size></column>
  </columns></table>
</data-dictionary>)";

inline const char* const kTables[] = {"SeqGenState", "Orders", "Notes"};
enum OrderColumn { kOrderId, kName, kStatus };

using NewDatabase = std::unique_ptr<twtest::db::TestDatabase> (*)(std::string* why);
struct DatabaseCase {
  const char* name;
  NewDatabase make;
};
inline const DatabaseCase kDatabases[] = {{"Sqlite", twtest::db::NewSqliteDatabase},
                                          {"Postgres", twtest::db::NewPostgresDatabase},
                                          {"MariaDb", twtest::db::NewMariaDbDatabase}};
inline void PrintTo(const DatabaseCase& database, std::ostream* out) { *out << database.name; }
inline std::string DatabaseName(const testing::TestParamInfo<DatabaseCase>& info) { return info.param.name; }

// An Orders row (state 2) with malloc'd values; a key of 0 is left absent, so
// that AddNewRow generates it.
RowObject* OrderRow(int32_t id, const std::string& name, int32_t status);
// The row of Orders whose ORDER_ID is id, or null.
RowObject* FindOrder(int32_t id);
// "ID|NAME|STATUS" of each Orders row in the store, ordered by ID.
std::vector<std::string> StoredOrders();

class DatabaseTest : public testing::TestWithParam<DatabaseCase> {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes the dictionary and the connection files under the root's "data":
  // one connection ("conn1") to the test database, every table mapped to it.
  void WriteConfiguration();
  void WriteData(const std::string& name, const std::string& content);
  std::string DataPath(const std::string& name) const { return root_ + "/data/" + name; }
  // WriteConfiguration, then InitCQuill on the root.
  void Start();
  // SQL through the database's own client: its rows as "a|b" lines.
  std::string Sql(const std::string& sql);
  bool Logged(const std::string& tag, const std::string& message) const {
    return twtest::HasLine(*log_, tag, message);
  }

  std::unique_ptr<twtest::LogCapture> log_;
  std::unique_ptr<twtest::db::TestDatabase> db_;
  std::string root_;
};

}  // namespace tableiotest
