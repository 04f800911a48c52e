// The support library's start and stop on real databases: an empty database
// gets the dictionary's tables and the default data, a later start loads the
// listed tables without saving the default data again, the stop releases
// everything (the sanitizer build finds any leak), and each missing file or
// connection stops the start with its message.
#include "tabledata/db/cquill.h"

#include "agent/log/logger.h"
#include "tabledata/store/sequence.h"
#include "tests/tabledata/db/tableio_fixture.h"

namespace tableiotest {
namespace {

class CQuillTest : public DatabaseTest {
 protected:
  void WriteLists() {
    WriteData("loadtablelist.txt", "Orders\nNotes select * from Notes\n");
    WriteData("defaultdata.txt", "orders.xml");
    WriteData("orders.xml", R"(<data><Orders NAME="a" STATUS="1"/><Orders NAME="b" STATUS="2"/></data>)");
  }
};

TEST_P(CQuillTest, AStartOnAnEmptyDatabaseCreatesTheTablesAndSavesTheDefaultData) {
  WriteConfiguration();
  WriteLists();
  ASSERT_TRUE(InitCQuill(root_.c_str()));

  EXPECT_EQ(Sql("select SEQNAME, CURRENTBATCHEND from SeqGenState;"), "OrderSeq|300\n");
  EXPECT_EQ(Sql("select ORDER_ID, NAME, STATUS from Orders order by ORDER_ID;"), "1|a|1\n2|b|2\n");
  EXPECT_EQ(Sql("select count(*) from Notes;"), "0\n");
  EXPECT_EQ(StoredOrders(), (std::vector<std::string>{"1|a|1", "2|b|2"}));
  EXPECT_EQ(FindOrder(1)->state, ROW_STORED);
  ASSERT_NE(GetTableDataByName("Notes"), nullptr);
  EXPECT_NE(log_->Text().find("Welcome to CQuill."), std::string::npos);

  DeInitCQuill();
  EXPECT_EQ(GetTableList()->count, 0);
  EXPECT_EQ(GetDataDictionary()->count, 0);
  EXPECT_EQ(GetConnParamsCount(), 0);
  EXPECT_EQ(GetDataSourceMapEntry("Orders"), nullptr);
  EXPECT_EQ(GetConnection("conn1"), nullptr);
  EXPECT_EQ(GenerateID("Orders", nullptr), -1);
}

TEST_P(CQuillTest, ALaterStartLoadsTheListedTablesAndSavesNoDefaultDataAgain) {
  WriteConfiguration();
  WriteLists();
  ASSERT_TRUE(InitCQuill(root_.c_str()));
  DeInitCQuill();
  Sql("insert into Notes values ('kept');");

  ASSERT_TRUE(InitCQuill(root_.c_str()));
  EXPECT_EQ(Sql("select count(*) from Orders;"), "2\n");
  EXPECT_EQ(StoredOrders(), (std::vector<std::string>{"1|a|1", "2|b|2"}));
  ASSERT_NE(GetTableDataByName("Notes"), nullptr);
  EXPECT_EQ(GetTableDataByName("Notes")->rowCount, 1);
  EXPECT_EQ(GenerateID("Orders", GetColumnDefnEntry("Orders", "ORDER_ID")), 301);
}

INSTANTIATE_TEST_SUITE_P(Databases, CQuillTest, testing::ValuesIn(kDatabases), DatabaseName);

// Where the start stops; the database kind plays no part.
class CQuillStepTest : public DatabaseTest {};

TEST_P(CQuillStepTest, EachMissingPieceStopsTheStartWithItsMessage) {
  struct Case {
    const char* file;     // written again as content
    const char* content;  // null: the file is removed
    const char* message;
  };
  const Case cases[] = {
      {"datadictionary.txt", nullptr, "LoadAllDataDictFiles failed."},
      {"dsn_table_map.txt", nullptr, "LoadDataSourceMapEntryFromFile failed."},
      {"connparams.txt", nullptr, "LoadConnParamsEntryFromFile failed."},
      {"connparams.txt", "", "No entires in data source vector. InitCQuill failed."},
      {"connparams.txt", "main 0 nodsn nouser NULL x conn1 ODBC SQLITE YES Driver=/nonexistent/driver.so;\n",
       "EstablishDBConnections failed."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    WriteConfiguration();
    if (c.content)
      WriteData(c.file, c.content);
    else
      twtest::RemoveTree(DataPath(c.file));
    EXPECT_FALSE(InitCQuill(root_.c_str()));
    EXPECT_TRUE(Logged("[ERROR]", c.message));
    DeInitCQuill();
  }
}

TEST_P(CQuillStepTest, AStartWithoutSequenceTableFails) {
  WriteConfiguration();
  WriteData("dictionary.xml", R"(<data-dictionary><table name="Orders"><columns>
    <column name="ORDER_ID"><data-type>ORV_SQL_INT</data-type>
      <uniquevalue-generation><generator-name>OrderSeq</generator-name></uniquevalue-generation></column>
    </columns></table></data-dictionary>)");
  EXPECT_FALSE(InitCQuill(root_.c_str()));
  EXPECT_TRUE(Logged("[ERROR]", "SequenceGenerator failed."));
}

INSTANTIATE_TEST_SUITE_P(Databases, CQuillStepTest, testing::Values(kDatabases[0]), DatabaseName);

}  // namespace
}  // namespace tableiotest
