// SaveTable under listeners, on a fresh SQLite database: a listener that
// deletes a row while saved deletions are removed, a listener that saves
// again from inside the save, and the object lock that the support library's
// start makes when the program has none.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "agent/log/logger.h"
#include "agent/log/objectlock.h"
#include "tabledata/db/cquill.h"
#include "tabledata/db/tableio.h"
#include "tests/support/db/testdb.h"
#include "tests/support/logcheck.h"
#include "tests/support/scratch.h"
#include "tests/tabledata/store/store_fixture.h"

namespace {

using storetest::Bytes;
using storetest::FindRow;
using storetest::MakeRow;
using storetest::Text;

const char kDictionary[] = R"(<data-dictionary>
  <table name="Orders"><columns>
    <column name="ORDER_ID"><data-type>ORV_SQL_INT</data-type></column>
    <column name="NAME"><data-type>ORV_SQL_CHAR</data-type><max-size>64</max-size></column>
  </columns><primary-key><primary-key-column>ORDER_ID</primary-key-column></primary-key></table>
</data-dictionary>)";
enum OrderColumn { kOrderId, kName };

class SaveTableTest : public testing::Test {
 protected:
  void SetUp() override {
    log_ = std::make_unique<twtest::LogCapture>(4, "savetable");
    std::string why;
    db_ = twtest::db::NewSqliteDatabase(&why);
    ASSERT_TRUE(db_) << why;
    root_ = twtest::MakeScratchDir("savetable");
    const std::string data = root_ + "/data/";
    ASSERT_TRUE(twtest::WriteFile(data + "datadictionary.txt", "dictionary.xml\n") &&
                twtest::WriteFile(data + "dictionary.xml", kDictionary) &&
                twtest::WriteFile(data + "connparams.txt", "main 0 nodsn nouser NULL x conn1 ODBC SQLITE YES " +
                                                               db_->ConnectionString() + "\n") &&
                twtest::WriteFile(data + "dsn_table_map.txt", "Orders conn1\n"));
  }
  void TearDown() override {
    DeInitNotification();
    DeInitCQuill();
    SetCQuillRoot(nullptr);
    db_.reset();
    twtest::RemoveTree(root_);
    log_.reset();
  }

  // The support library's start on the database, and the store's Orders table.
  void Start() {
    ASSERT_TRUE(InitCQuill(root_.c_str()));
    ASSERT_TRUE(CreateTable("Orders"));
  }
  // Adds a new Orders row.
  static void AddOrder(int32_t id, const char* name) {
    ASSERT_TRUE(AddNewRow("Orders", MakeRow({Bytes(id), Text(name)})));
  }
  // The names of the Orders rows in the store, in table order.
  static std::vector<std::string> StoreNames() {
    std::vector<std::string> names;
    const TableData* table = GetTableDataByName("Orders");
    for (const RowObject* row = table ? table->firstRow : nullptr; row; row = row->next)
      names.push_back(storetest::ValueText(row, kName));
    return names;
  }
  // The names of the Orders rows in the database, by key.
  std::string DatabaseNames() {
    std::string output, why;
    EXPECT_TRUE(twtest::db::RunSql(*db_, "select NAME from Orders order by ORDER_ID;", &output, &why)) << why;
    return output;
  }
  // A stored row of Orders, marked deleted, followed by new rows.
  void StoredDeletionThenNewRows(const std::vector<const char*>& fresh) {
    AddOrder(1, "gone");
    ASSERT_TRUE(SaveTable("Orders"));
    ASSERT_TRUE(DeleteRowObject("Orders", FindRow("Orders", kName, "gone")));
    int32_t id = 2;
    for (const char* name : fresh) AddOrder(id++, name);
  }

  std::unique_ptr<twtest::LogCapture> log_;
  std::unique_ptr<twtest::db::TestDatabase> db_;
  std::string root_;
};

const char* g_orders[] = {"Orders", nullptr};
std::vector<std::string> g_heard;

// Hearing the saved deletion removed, deletes the new row right after it.
int32_t DeleteTheNextRow(IMDSNotification* notification, const char*) {
  const std::string name = storetest::ValueText(notification->row, kName);
  g_heard.push_back(name);
  if (name == "gone") DeleteRowObject("Orders", FindRow("Orders", kName, "cascaded"));
  return 0;
}

TEST_F(SaveTableTest, AListenerDeletesTheNextRowWhileASavedDeletionIsRemoved) {
  Start();
  StoredDeletionThenNewRows({"cascaded", "kept"});
  g_heard.clear();
  ASSERT_TRUE(AddNotificationListener("cascade", 0, DeleteTheNextRow, 1, g_orders));
  EXPECT_TRUE(SaveTable("Orders"));
  EXPECT_EQ(g_heard, (std::vector<std::string>{"gone", "cascaded"}));
  EXPECT_EQ(StoreNames(), std::vector<std::string>{"kept"});
  EXPECT_EQ(FindRow("Orders", kName, "kept")->state, ROW_STORED);
  EXPECT_EQ(DatabaseNames(), "kept\n");
}

// Hearing a change during the save, saves the same table again.
std::vector<bool> g_nestedSaves;
int32_t SaveAgain(IMDSNotification*, const char*) {
  g_nestedSaves.push_back(SaveTable("Orders"));
  return 0;
}

TEST_F(SaveTableTest, ASaveFromInsideASaveIsRefused) {
  Start();
  StoredDeletionThenNewRows({"fresh"});
  g_nestedSaves.clear();
  ASSERT_TRUE(AddNotificationListener("again", 0, SaveAgain, 1, g_orders));
  EXPECT_TRUE(SaveTable("Orders"));
  EXPECT_EQ(g_nestedSaves, std::vector<bool>{false});
  EXPECT_TRUE(
      twtest::HasLine(*log_, "[ERROR]", "SaveTable refused for Orders: a save is already running on this thread\n"));
  EXPECT_EQ(DatabaseNames(), "fresh\n");
  // The save after it runs as any other.
  ASSERT_TRUE(RemoveNotification("again"));
  AddOrder(3, "later");
  EXPECT_TRUE(SaveTable("Orders"));
  EXPECT_EQ(DatabaseNames(), "fresh\nlater\n");
}

// The support library's start makes the object lock's mutex when there is
// none, and its stop closes only a mutex that the start made.
TEST_F(SaveTableTest, TheStartMakesTheObjectLockWhenThereIsNone) {
  for (const bool before : {false, true}) {
    CloseMutex();
    if (before) {
      ASSERT_TRUE(InitMutex());
    }
    ASSERT_TRUE(InitCQuill(root_.c_str()));
    bool created = true;
    ASSERT_TRUE(InitMutex(&created));
    EXPECT_FALSE(created) << before;  // there is one while the library runs
    DeInitCQuill();
    ASSERT_TRUE(InitMutex(&created));
    EXPECT_EQ(created, !before) << before;  // gone after the stop only when the start made it
  }
}

}  // namespace
