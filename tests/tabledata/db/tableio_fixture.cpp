// The database fixture of the table loading, sequence and start tests (see
// tableio_fixture.h).
#include "tests/tabledata/db/tableio_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "agent/log/logger.h"
#include "tests/tabledata/store/store_fixture.h"

namespace tableiotest {

RowObject* OrderRow(int32_t id, const std::string& name, int32_t status) {
  using storetest::Bytes;
  return storetest::MakeRow({id != 0 ? Bytes(id) : storetest::Cell(), name, Bytes(status)});
}

namespace {
int32_t IntValue(const RowObject* row, int column) {
  int32_t value = 0;
  if (row->values[column]) memcpy(&value, row->values[column], 4);
  return value;
}
}  // namespace

RowObject* FindOrder(int32_t id) {
  const TableData* table = GetTableDataByName("Orders");
  for (RowObject* row = table ? table->firstRow : nullptr; row; row = row->next)
    if (row->values[kOrderId] && IntValue(row, kOrderId) == id) return row;
  return nullptr;
}

std::vector<std::string> StoredOrders() {
  std::vector<std::pair<int32_t, std::string>> rows;
  const TableData* table = GetTableDataByName("Orders");
  for (const RowObject* row = table ? table->firstRow : nullptr; row; row = row->next) {
    const char* name = static_cast<const char*>(row->values[kName]);
    rows.emplace_back(IntValue(row, kOrderId), std::to_string(IntValue(row, kOrderId)) + "|" +
                                                   (name ? name : "") + "|" + std::to_string(IntValue(row, kStatus)));
  }
  std::sort(rows.begin(), rows.end());
  std::vector<std::string> texts;
  for (auto& [id, text] : rows) texts.push_back(text);
  return texts;
}

void DatabaseTest::SetUp() {
  log_ = std::make_unique<twtest::LogCapture>(4, "tableio");
  std::string why;
  db_ = GetParam().make(&why);
  ASSERT_TRUE(db_) << why;
  root_ = twtest::MakeScratchDir("cquill");
}

void DatabaseTest::TearDown() {
  DeInitCQuill();
  SetCQuillRoot(nullptr);
  db_.reset();
  twtest::RemoveTree(root_);
  log_.reset();
}

void DatabaseTest::WriteData(const std::string& name, const std::string& content) {
  ASSERT_TRUE(twtest::WriteFile(DataPath(name), content));
}

void DatabaseTest::WriteConfiguration() {
  WriteData("datadictionary.txt", "dictionary.xml\n");
  WriteData("dictionary.xml", kDictionary);
  WriteData("connparams.txt", std::string("main 0 nodsn nouser NULL x conn1 ODBC ") + db_->DatabaseType() + " YES " +
                                  db_->ConnectionString() + "\n");
  std::string map;
  for (const char* table : kTables) map += std::string(table) + " conn1\n";
  WriteData("dsn_table_map.txt", map);
}

void DatabaseTest::Start() {
  WriteConfiguration();
  ASSERT_TRUE(InitCQuill(root_.c_str()));
}

std::string DatabaseTest::Sql(const std::string& sql) {
  std::string output, why;
  EXPECT_TRUE(twtest::db::RunSql(*db_, sql, &output, &why)) << why;
  return output;
}

}  // namespace tableiotest
