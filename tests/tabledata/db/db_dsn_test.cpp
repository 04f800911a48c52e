// Data sources through the host's ODBC installer and driver manager, with a
// private configuration folder: CreateDSNs hands each entry's pairs to the
// driver's setup library, and a connection parameters entry without a
// connection string reaches its database by data source name.
#include <cstdlib>

#include "tests/support/db/testdb.h"
#include "tests/tabledata/db/db_fixture.h"

namespace dbtest {
namespace {

// The value of a keyword in a connection text ("Driver=/x.so;Database=/y;").
std::string Keyword(const std::string& text, const std::string& key) {
  const size_t at = text.find(key + "=");
  if (at == std::string::npos) return "";
  const size_t start = at + key.size() + 1;
  return text.substr(start, text.find(';', start) - start);
}

class DbDsnTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    folder_ = twtest::MakeScratchDir("dbdsn");
    // The driver manager and the installer read their files from this folder.
    setenv("ODBCSYSINI", folder_.c_str(), 1);
    setenv("ODBCINSTINI", "odbcinst.ini", 1);
    setenv("ODBCINI", Path("odbc.ini").c_str(), 1);
    setenv("TW_DSN_SETUP_RECORD", Path("record.txt").c_str(), 1);
  }
  void TearDown() override {
    for (const char* name : {"ODBCSYSINI", "ODBCINSTINI", "ODBCINI", "TW_DSN_SETUP_RECORD"}) unsetenv(name);
    twtest::RemoveTree(folder_);
    DbTest::TearDown();
  }
  std::string Path(const std::string& name) const { return folder_ + "/" + name; }

  std::string folder_;
};

TEST_F(DbDsnTest, CreateDSNsPassesThePairsToTheSetupLibrary) {
  Write(Path("odbcinst.ini"), std::string("[TestDriver]\nDriver = ") + TW_DSN_SETUP_LIBRARY +
                                  "\nSetup = " + TW_DSN_SETUP_LIBRARY + "\n");
  Write(Path("odbc.ini"), "");
  Write(Path("dsns.txt"),
        "TestDriver first NULL NULL sa NULL /tmp/one.db\n"
        "TestDriver second Orders host1 u p db2\n");
  EXPECT_TRUE(CreateDSNs(Path("dsns.txt").c_str()));
  EXPECT_EQ(twtest::ReadFile(Path("record.txt")),
            "1 TestDriver DSN=first|UID=sa|DATABASE=/tmp/one.db||\n"
            "1 TestDriver DSN=second|DESCRIPTION=Orders|SERVER=host1|UID=u|PWD=p|DATABASE=db2||\n");
}

TEST_F(DbDsnTest, CreateDSNsReportsEachFailedEntry) {
  Write(Path("odbcinst.ini"), "");
  Write(Path("dsns.txt"), "NULL named d s u p db\nNoSuchDriver other d NULL u p db\n");
  EXPECT_FALSE(CreateDSNs(Path("dsns.txt").c_str()));
  EXPECT_TRUE(Logged("[ERROR]", "DriverName or DSN name is NULL \n"));
  EXPECT_TRUE(Logged("[ERROR]", "SQLConfigDataSource returned FALSE \n"));
  EXPECT_TRUE(Logged("[ERROR]", "Creating DSN DSN=other;DESCRIPTION=d;UID=u;PWD=p;DATABASE=db; Failed\n"));
  EXPECT_FALSE(CreateDSNs(Path("missing.txt").c_str()));
  EXPECT_TRUE(Logged("[ERROR]", "Error opening File " + Path("missing.txt") + " \n"));
}

TEST_F(DbDsnTest, EntryWithoutConnectionStringConnectsByDataSourceName) {
  std::string why;
  std::unique_ptr<twtest::db::TestDatabase> db = twtest::db::NewSqliteDatabase(&why);
  ASSERT_NE(db, nullptr) << why;
  // The entry's text names the driver "ODBC" and the data source "mydsn".
  Write(Path("odbcinst.ini"), "[ODBC]\nDriver = " + Keyword(db->ConnectionString(), "Driver") + "\n");
  Write(Path("odbc.ini"), "[mydsn]\nDriver = ODBC\nDatabase = " + Keyword(db->ConnectionString(), "Database") + "\n");
  Write(Path("connparams.txt"), "main 0 mydsn sa NULL x conn1 ODBC SQLITE NO\n");
  ASSERT_TRUE(LoadConnParamsEntryFromFile(Path("connparams.txt").c_str()));
  ASSERT_TRUE(EstablishDBConnections());
  DBConnection* connection = GetConnection("conn1");
  ASSERT_NE(connection, nullptr);
  ASSERT_TRUE(ExecuteUpdate(connection, "create table Seen (X int)"));
  ASSERT_TRUE(ExecuteUpdate(connection, "insert into Seen values (7)"));
  std::string output;
  ASSERT_TRUE(twtest::db::RunSql(*db, "select X from Seen;", &output, &why)) << why;
  EXPECT_EQ(output, "7\n");
}

}  // namespace
}  // namespace dbtest
