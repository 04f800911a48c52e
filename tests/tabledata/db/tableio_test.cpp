// Loading tables from real databases (whole, by query, as a view, by list
// file) and saving their changed rows back, with the database's own client
// telling what reached it.
#include "tests/tabledata/db/tableio_fixture.h"
#include "tests/tabledata/store/store_fixture.h"

namespace tableiotest {
namespace {

RowObject* NoteRow(const char* note) { return storetest::MakeRow({storetest::Text(note)}); }

class TableIoTest : public DatabaseTest {};

TEST_P(TableIoTest, SavesANewAModifiedAndADeletedRowWithOneStatementEach) {
  Start();
  Sql("insert into Orders values (1001, 'kept', 1); insert into Orders values (1002, 'gone', 1);");
  ASSERT_TRUE(LoadTable("Orders"));
  RowObject* kept = FindOrder(1001);
  ASSERT_NE(kept, nullptr);
  const int32_t closed = 2;
  ASSERT_TRUE(UpdateRowObject("Orders", kept, "STATUS", &closed, 4));
  ASSERT_TRUE(DeleteRowObject("Orders", FindOrder(1002)));
  ASSERT_TRUE(AddNewRow("Orders", OrderRow(0, "new", 3)));  // ORDER_ID 1 from OrderSeq

  EXPECT_TRUE(SaveTable("Orders"));
  ASSERT_NE(FindOrder(1), nullptr);
  EXPECT_EQ(FindOrder(1)->state, ROW_STORED);
  EXPECT_EQ(kept->state, ROW_STORED);
  EXPECT_EQ(FindOrder(1002), nullptr);
  EXPECT_EQ(StoredOrders(), (std::vector<std::string>{"1|new|3", "1001|kept|2"}));
  EXPECT_EQ(Sql("select ORDER_ID, NAME, STATUS from Orders order by ORDER_ID;"), "1|new|3\n1001|kept|2\n");
  // Saved rows need nothing more: a second save writes nothing.
  Sql("delete from Orders;");
  EXPECT_TRUE(SaveTable("Orders"));
  EXPECT_EQ(Sql("select count(*) from Orders;"), "0\n");
}

TEST_P(TableIoTest, AFailedInsertStaysNewAndTheNextSaveRetriesIt) {
  Start();
  ASSERT_TRUE(LoadTable("Orders"));
  Sql("insert into Orders values (1, 'taken', 9);");
  ASSERT_TRUE(AddNewRow("Orders", OrderRow(0, "mine", 3)));  // also ORDER_ID 1
  RowObject* mine = FindOrder(1);
  ASSERT_NE(mine, nullptr);

  EXPECT_FALSE(SaveTable("Orders"));
  EXPECT_EQ(mine->state, ROW_NEW);
  EXPECT_TRUE(Logged("[ERROR]", "Error in executing update query "));

  Sql("delete from Orders;");
  EXPECT_TRUE(SaveTable("Orders"));
  EXPECT_EQ(mine->state, ROW_STORED);
  EXPECT_EQ(Sql("select NAME from Orders;"), "mine\n");
}

TEST_P(TableIoTest, ARowWithoutStatementKeepsItsStateWhileTheOthersAreSaved) {
  Start();
  Sql("insert into Notes values ('old');");
  ASSERT_TRUE(LoadTable("Notes"));
  RowObject* old = GetTableDataByName("Notes")->firstRow;
  ASSERT_TRUE(UpdateRowObject("Notes", old, "NOTE", "changed", 7));  // no key: no update statement
  RowObject* fresh = NoteRow("fresh");
  ASSERT_TRUE(AddNewRow("Notes", fresh));

  EXPECT_FALSE(SaveTable("Notes"));
  EXPECT_EQ(old->state, ROW_STORED | ROW_MODIFIED);
  EXPECT_EQ(fresh->state, ROW_STORED);
  EXPECT_EQ(Sql("select NOTE from Notes order by NOTE;"), "fresh\nold\n");
}

TEST_P(TableIoTest, ListFileLoadsTablesWholeOrByTheirQuery) {
  Start();
  Sql("insert into Orders values (1001, 'open', 1); insert into Orders values (1002, 'closed', 2);"
      "insert into Notes values ('n');");
  struct Case {
    const char* list;
    std::vector<std::string> orders;
  };
  const Case cases[] = {
      {"Orders select * from Orders where STATUS = 1\nNotes\n", {"1001|open|1"}},
      {"Orders SELECT * FROM Orders WHERE STATUS = 2\r\nNotes", {"1002|closed|2"}},
      {"Orders\nNotes anything but a query\n", {"1001|open|1", "1002|closed|2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    UnLoadAllTable();
    WriteData("loadtablelist.txt", c.list);
    ASSERT_TRUE(LoadAllTables());
    EXPECT_EQ(StoredOrders(), c.orders);
    EXPECT_EQ(GetTableDataByName("Orders")->firstRow->state, ROW_STORED);
    ASSERT_NE(GetTableDataByName("Notes"), nullptr);
    EXPECT_EQ(GetTableDataByName("Notes")->rowCount, 1);
  }
  // A list named by the caller, the same way.
  UnLoadAllTable();
  WriteData("other.txt", "Orders select * from Orders where STATUS = 2\n");
  EXPECT_TRUE(LoadTablesFromListFile(DataPath("other.txt").c_str()));
  EXPECT_EQ(StoredOrders(), (std::vector<std::string>{"1002|closed|2"}));
  EXPECT_FALSE(LoadTablesFromListFile(DataPath("missing.txt").c_str()));
}

TEST_P(TableIoTest, ATableWhoseColumnsDifferFromItsDefinitionIsNotLoaded) {
  WriteConfiguration();
  Sql("create table Orders (ORDER_ID int, NAME varchar(64), STATUS int, EXTRA int);");
  ASSERT_TRUE(InitCQuill(root_.c_str()));
  Sql("insert into Orders values (1, 'a', 1, 0);");

  EXPECT_FALSE(LoadTable("Orders"));
  EXPECT_NE(log_->Text().find("LoadTable Failed for Orders table as there is mismatch between table definition in "
                              "datadictionary and actual table in database"),
            std::string::npos);
  EXPECT_EQ(GetTableDataByName("Orders"), nullptr);
}

TEST_P(TableIoTest, AFailedQueryLeavesTheTableEmpty) {
  Start();
  EXPECT_FALSE(LoadTableByQuery("Orders", "select * from NoSuchTable"));
  EXPECT_TRUE(Logged("[ERROR]", "Error in executing select query "));
  ASSERT_NE(GetTableDataByName("Orders"), nullptr);
  EXPECT_EQ(GetTableDataByName("Orders")->rowCount, 0);
}

TEST_P(TableIoTest, AViewHoldsTheRowsOfItsQuery) {
  Start();
  Sql("insert into Orders values (1, 'a', 1); insert into Orders values (2, 'b', 2);"
      "insert into Orders values (3, 'c', 1);");
  ASSERT_TRUE(LoadViewByQuery("OpenOrders", "Orders", "select * from Orders where STATUS = 1 order by ORDER_ID"));

  const TableData* view = GetTableDataByName("OpenOrders");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->kind, TABLE_KIND_VIEW);
  EXPECT_EQ(view->columnCount, 3);
  ASSERT_EQ(view->rowCount, 2);
  EXPECT_STREQ(static_cast<const char*>(view->firstRow->values[kName]), "a");
  EXPECT_STREQ(static_cast<const char*>(view->lastRow->values[kName]), "c");
  EXPECT_STREQ(GetTableNameOfView("OpenOrders"), "Orders");
}

TEST_P(TableIoTest, DefaultDataOfTwoFilesIsSavedAtAnyDepth) {
  WriteConfiguration();
  WriteData("defaultdata.txt", "first.xml\n  second.xml");
  WriteData("first.xml", R"(<data><Orders ORDER_ID="Orders:ORDER_ID:7" NAME="a" STATUS="1"/></data>)");
  WriteData("second.xml",
            R"(<data><OrdersList><Orders NAME="b" STATUS="2"/></OrdersList><Notes NOTE="hello"/></data>)");
  ASSERT_TRUE(InitCQuill(root_.c_str()));

  EXPECT_EQ(Sql("select NAME, STATUS from Orders order by NAME;"), "a|1\nb|2\n");
  EXPECT_EQ(Sql("select NOTE from Notes;"), "hello\n");
  EXPECT_FALSE(Logged("[ERROR]", "Cannot save default data."));
  // Saving a file again inserts its rows again, with new keys.
  EXPECT_TRUE(SaveDataInXML(DataPath("first.xml").c_str()));
  EXPECT_EQ(Sql("select count(*) from Orders where NAME = 'a';"), "2\n");
  EXPECT_FALSE(SaveDataInXML(DataPath("missing.xml").c_str()));
  EXPECT_TRUE(Logged("[ERROR]", "Cannot create DO from " + DataPath("missing.xml") + "."));
}

TEST_P(TableIoTest, SaveListAndSaveAllSaveTheTablesTheyName) {
  Start();
  ASSERT_TRUE(LoadTable("Orders"));
  ASSERT_TRUE(LoadTable("Notes"));
  ASSERT_TRUE(AddNewRow("Orders", OrderRow(0, "listed", 1)));
  ASSERT_TRUE(AddNewRow("Notes", NoteRow("unlisted")));
  WriteData("savetableslist.txt", "Orders and the rest of the line\n");
  EXPECT_TRUE(SaveTablesFromList());
  EXPECT_EQ(Sql("select NAME from Orders;"), "listed\n");
  EXPECT_EQ(Sql("select count(*) from Notes;"), "0\n");

  EXPECT_TRUE(SaveAllTables());
  EXPECT_EQ(Sql("select NOTE from Notes;"), "unlisted\n");
}

TEST_P(TableIoTest, UnloadingRemovesTablesAndReloadReadsTheListAgain) {
  Start();
  Sql("insert into Orders values (1, 'a', 1);");
  WriteData("loadtablelist.txt", "Orders\nNotes\n");
  ASSERT_TRUE(LoadAllTables());
  EXPECT_TRUE(UnLoadTable("Notes"));
  EXPECT_FALSE(UnLoadTable("Notes"));
  EXPECT_EQ(GetTableDataByName("Notes"), nullptr);
  EXPECT_EQ(GetTableList()->count, 1);

  Sql("insert into Orders values (2, 'b', 1);");
  EXPECT_TRUE(ReloadTableData());
  EXPECT_EQ(StoredOrders(), (std::vector<std::string>{"1|a|1", "2|b|1"}));
  EXPECT_EQ(UnLoadAllTable(), 1);
  EXPECT_EQ(GetTableList()->count, 0);
}

INSTANTIATE_TEST_SUITE_P(Databases, TableIoTest, testing::ValuesIn(kDatabases), DatabaseName);

// The save rule for states that write nothing; the database kind plays no part.
class SaveRuleTest : public DatabaseTest {};

TEST_P(SaveRuleTest, StatesWithoutStatementWriteNothingAndKeepTheirState) {
  Start();
  ASSERT_TRUE(LoadTable("Notes"));
  const uint8_t states[] = {0, ROW_STORED, ROW_STORED | ROW_NEW, ROW_MODIFIED, ROW_NEW | ROW_DELETED};
  std::vector<RowObject*> rows;
  for (uint8_t state : states) {
    RowObject* row = NoteRow("x");
    ASSERT_TRUE(AddNewRow("Notes", row));
    row->state = state;
    rows.push_back(row);
  }
  EXPECT_FALSE(SaveTable("Notes"));  // states 3 and 4 cannot be saved
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i]->state, states[i]);
  EXPECT_EQ(Sql("select count(*) from Notes;"), "0\n");
  EXPECT_EQ(twtest::CountMessage(*log_, "Invalid State for keyStr.  Cannot Save."), 2);
  EXPECT_EQ(twtest::CountMessage(*log_, "QueryPtr is NULL."), 3);
}

INSTANTIATE_TEST_SUITE_P(Databases, SaveRuleTest, testing::Values(kDatabases[0]), DatabaseName);

}  // namespace
}  // namespace tableiotest
