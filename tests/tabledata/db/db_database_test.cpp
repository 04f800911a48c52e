// The database layer against real databases, one test body for each: tables
// created, rows inserted, updated, deleted and read back through the result
// set and the row conversion; extreme values; transactions seen from a second
// connection; the pool's hand-out to threads and its renewal of old
// connections. The host runs SQLite, PostgreSQL and MariaDB; the Windows build
// (under Wine) SQLite and PostgreSQL; each test case has a database of its own.
#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdlib>
#include <thread>

#include "tabledata/store/rowvalue.h"
#include "tests/support/db/testdb.h"
#include "tests/tabledata/db/db_fixture.h"

#if defined(__SANITIZE_ADDRESS__)
// The PostgreSQL driver keeps a few hundred bytes of a statement that failed to
// execute (a known fault of that driver, not of the code under test); the leak
// checker passes over memory that the driver itself allocated.
extern "C" const char* __lsan_default_suppressions() { return "leak:psqlodbca.so\nleak:psqlodbcw.so\n"; }
#endif

namespace dbtest {
namespace {

using twtest::db::TestDatabase;

struct DatabaseKind {
  const char* name;
  std::unique_ptr<TestDatabase> (*make)(std::string* why);
};

std::string KindName(const testing::TestParamInfo<DatabaseKind>& info) { return info.param.name; }
void PrintTo(const DatabaseKind& kind, std::ostream* out) { *out << kind.name; }

// A result set freed at the end of the scope.
struct Result {
  explicit Result(ResultSet* set) : set(set) {}
  ~Result() { FreeResultSet(set); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  ResultSet* set;
};

class DbDatabaseTest : public DbTest, public testing::WithParamInterface<DatabaseKind> {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    std::string why;
    db_ = GetParam().make(&why);
    ASSERT_NE(db_, nullptr) << why;
    folder_ = twtest::MakeScratchDir("dbreal");
    // One connection name for every table, opened by the database's own text.
    const std::string params = twtest::Join(folder_, "connparams.txt");
    Write(params, std::string("main 0 nodsn nouser NULL x conn1 ODBC ") + db_->DatabaseType() + " YES " +
                      db_->ConnectionString() + "\n");
    ASSERT_TRUE(LoadConnParamsEntryFromFile(params.c_str()));
    for (const char* table : {"Kinds", "Pairs"})
      ASSERT_TRUE(AddDataSourceMapEntry(CreateDataSourceMapEntry(table, "conn1")));
    SetDSNMapValid(1, 0);
    DBConnection* connection = OpenDBConnection(GetConnParamsAt(0));
    ASSERT_NE(connection, nullptr) << db_->ConnectionString();
    CloseDBConnection(connection);
  }
  void TearDown() override {
    DbTest::TearDown();
    twtest::RemoveTree(folder_);
  }

  // Runs a generated statement (freed here); false when there is none or it fails.
  bool Run(DBConnection* connection, char* sql) {
    const bool ran = sql && ExecuteUpdate(connection, sql);
    EXPECT_TRUE(ran) << (sql ? std::string(sql).substr(0, 300) : "<none>") << "\n" << LastErrors();
    free(sql);
    return ran;
  }
  // The ERROR lines of the log, for failure messages.
  std::string LastErrors() const {
    std::string errors;
    for (const std::string& line : twtest::SplitLines(LogText()))
      if (twtest::TagOf(line) == "[ERROR]") errors += twtest::MessageOf(line).substr(0, 300) + "\n";
    return errors;
  }
  // Every row of a query, converted to rows of the table.
  std::vector<std::vector<Cell>> Rows(DBConnection* connection, const char* table, const std::string& sql) {
    std::vector<std::vector<Cell>> rows;
    Result result(ExecuteQuery(connection, sql.c_str()));
    EXPECT_NE(result.set, nullptr) << sql;
    if (!result.set) return rows;
    const size_t columns = static_cast<size_t>(GetTableDefn(table)->columns->count);
    while (GotoNextResultSetRow(result.set)) {
      RowObject* row = GetSqlDialect(db_->DatabaseType())->convertRow(table, result.set);
      EXPECT_NE(row, nullptr);
      if (!row) break;
      EXPECT_EQ(row->state, ROW_STORED);
      rows.push_back(CellsOf(row, columns));
      FreeRowObject(row, static_cast<int32_t>(columns));
    }
    return rows;
  }
  // The tables of the dictionary, created through the dialect dispatch.
  void CreateTables(DBConnection* connection) {
    for (const char* table : {"Kinds", "Pairs"}) ASSERT_TRUE(Run(connection, GenerateCreateQuery(GetTableDefn(table))));
  }
  int64_t Count(DBConnection* connection, const char* table) {
    Result result(ExecuteQuery(connection, (std::string("select count(*) as N from ") + table).c_str()));
    if (!result.set || !GotoNextResultSetRow(result.set)) return -1;
    int32_t length = 0;
    const void* value = GetResultSetColumnValue("n", &length, result.set);
    if (!value) return -1;
    switch (GetResultSetColumnType("n", result.set)) {
      case ORV_SQL_SMALLINT:
      case ORV_SQL_INT:
      case ORV_SQL_BIGINT:
        return length == 8 ? ValueAs<int64_t>(value) : ValueAs<int32_t>(value);
      default:  // a driver that gives the count as text or a decimal
        return strtoll(static_cast<const char*>(value), nullptr, 10);
    }
  }

  std::unique_ptr<TestDatabase> db_;
  std::string folder_;
};

TEST_P(DbDatabaseTest, RowsMakeTheRoundTripThroughTheDialect) {
  ASSERT_TRUE(EstablishDBConnections());
  TableConnection table;
  ASSERT_TRUE(AcquireTableConnection("Kinds", &table));
  EXPECT_STREQ(table.dialect->name, db_->DatabaseType());
  EXPECT_STREQ(table.connectionName, "conn1");
  DBConnection* connection = table.connection;
  CreateTables(connection);
  std::vector<std::vector<Cell>> kinds = {Kind(1, "Ann"), Kind(2, "O'Brien"), Kind(3, "gone")};
  for (const std::vector<Cell>& cells : kinds) {
    Row row(cells);
    ASSERT_TRUE(Run(connection, GenerateInsertQuery("Kinds", row.row)));
  }
  kinds[1][kName] = Text("back\\slash");
  kinds[1][kOk] = Bytes<uint8_t>(0);
  kinds[1][kNote] = std::nullopt;
  Row changed(kinds[1]);
  ASSERT_TRUE(Run(connection, GenerateUpdateQuery("Kinds", changed.row)));
  Row removed(kinds[2]);
  ASSERT_TRUE(Run(connection, GenerateDeleteQuery("Kinds", removed.row)));
  kinds.pop_back();
  EXPECT_EQ(Rows(connection, "Kinds", "select * from Kinds order by ID"), kinds);
  // A query of fewer columns, in another order: each value stays in its column.
  std::vector<Cell> partial(kKindsColumns);
  partial[kId] = Bytes<int32_t>(2);
  partial[kName] = Text("back\\slash");
  EXPECT_EQ(Rows(connection, "Kinds", "select NAME, ID from Kinds where ID = 2"), std::vector<std::vector<Cell>>{partial});
  // A generated select, by the dialect of its first table.
  const storetest::Cell one = Bytes<int32_t>(1);
  const SqlCriterion byId{SQL_OP_EQ, {"Kinds", nullptr, "ID"}, sqltest::Value(ORV_SQL_INT, one), {}, nullptr, nullptr};
  SqlQuery query;
  query.tables = {{"Kinds", nullptr}};
  query.criterion = &byId;
  char* select = GenerateSelectQuery(&query);
  ASSERT_NE(select, nullptr);
  EXPECT_EQ(Rows(connection, "Kinds", select), std::vector<std::vector<Cell>>{kinds[0]});
  free(select);
  // A two-column key: only the row of both values changes or goes.
  for (int32_t n : {1, 2}) {
    Row pair({Text("k'1"), Bytes(n), Text("first")});
    ASSERT_TRUE(Run(connection, GenerateInsertQuery("Pairs", pair.row)));
  }
  Row relabel({Text("k'1"), Bytes<int32_t>(2), Text("second")});
  ASSERT_TRUE(Run(connection, GenerateUpdateQuery("Pairs", relabel.row)));
  Row first({Text("k'1"), Bytes<int32_t>(1), Text("first")});
  ASSERT_TRUE(Run(connection, GenerateDeleteQuery("Pairs", first.row)));
  EXPECT_EQ(Rows(connection, "Pairs", "select * from Pairs"),
            (std::vector<std::vector<Cell>>{{Text("k'1"), Bytes<int32_t>(2), Text("second")}}));
#ifndef _WIN32
  // What reached the database, read by the database's own client.
  std::string output, why;
  ASSERT_TRUE(twtest::db::RunSql(*db_, "select ID, NAME from Kinds order by ID;", &output, &why)) << why;
  EXPECT_EQ(output, "1|Ann\n2|back\\slash\n");
#endif
  ReleaseTableConnection(&table);
  EXPECT_EQ(table.connection, nullptr);
}

TEST_P(DbDatabaseTest, ExtremeValuesComeBackUnchanged) {
  ASSERT_TRUE(EstablishDBConnections());
  DBConnection* connection = GetConnection("conn1");
  ASSERT_NE(connection, nullptr);
  CreateTables(connection);
  std::string longText;
  for (int i = 0; longText.size() < 100 * 1024; ++i) longText += "line " + std::to_string(i) + " 'quoted' \\ back\n";
  // Every byte a quoted literal can carry, in more than one piece of a fetch.
  std::string bytes;
  for (int round = 0; round < 20; ++round)
    for (int b = 1; b < 128; ++b) bytes += static_cast<char>(b);
  std::vector<Cell> extreme(kKindsColumns);
  extreme[kId] = Bytes<int32_t>(INT_MIN);
  extreme[kName] = Text("");
  extreme[kNote] = longText;
  extreme[kBorn] = Date(1999, 12, 31);
  extreme[kAlarm] = Time(23, 59, 59);
  extreme[kSeen] = DateTime(2038, 1, 19, 3, 14, 8);
  extreme[kOk] = Bytes<uint8_t>(0);
  extreme[kBig] = Bytes<int64_t>(INT64_MIN);
  extreme[kSmall] = Bytes<int32_t>(-32768);
  extreme[kAmount] = Bytes(-1234.5);
  extreme[kData] = bytes;
  std::vector<Cell> high = Kind(INT_MAX, "high");
  high[kBig] = Bytes<int64_t>(INT64_MAX);
  high[kSmall] = Bytes<int32_t>(32767);
  std::vector<Cell> empty(kKindsColumns);  // every column but the key NULL
  empty[kId] = Bytes<int32_t>(0);
  for (const std::vector<Cell>* cells : {&extreme, &empty, &high}) {
    Row row(*cells);
    ASSERT_TRUE(Run(connection, GenerateInsertQuery("Kinds", row.row)));
  }
  const std::vector<std::vector<Cell>> rows = Rows(connection, "Kinds", "select * from Kinds order by ID");
  ASSERT_EQ(rows.size(), 3u);
  const char* names[] = {"ID", "NAME", "NOTE", "BORN", "ALARM", "SEEN", "OK", "BIG", "SMALL", "AMOUNT", "DATA"};
  // Compared whole, shown in short.
  auto shown = [](const Cell& cell) {
    return cell ? std::to_string(cell->size()) + " bytes: " + cell->substr(0, 40) : std::string("<absent>");
  };
  for (int i = 0; i < kKindsColumns; ++i) {
    EXPECT_TRUE(rows[0][i] == extreme[i]) << names[i] << ": " << shown(rows[0][i]);
    EXPECT_TRUE(rows[1][i] == empty[i]) << names[i] << ": " << shown(rows[1][i]);
    EXPECT_TRUE(rows[2][i] == high[i]) << names[i] << ": " << shown(rows[2][i]);
  }
  EXPECT_TRUE(ReleaseConnection("conn1"));
}

TEST_P(DbDatabaseTest, TransactionsAreSeenFromASecondConnection) {
  DBConnection* writer = OpenDBConnection(GetConnParamsAt(0));
  DBConnection* reader = OpenDBConnection(GetConnParamsAt(0));
  ASSERT_NE(writer, nullptr);
  ASSERT_NE(reader, nullptr);
  CreateTables(writer);
  EXPECT_FALSE(CommitTransaction(writer));  // no transaction to end
  ASSERT_TRUE(BeginTransaction(writer));
  EXPECT_EQ(writer->inTransaction, 1);
  Row kept({Text("a"), Bytes<int32_t>(1), Text("kept")});
  ASSERT_TRUE(Run(writer, GenerateInsertQuery("Pairs", kept.row)));
  EXPECT_EQ(Count(reader, "Pairs"), 0);
  ASSERT_TRUE(CommitTransaction(writer));
  EXPECT_EQ(writer->inTransaction, 0);
  EXPECT_EQ(Count(reader, "Pairs"), 1);
  ASSERT_TRUE(BeginTransaction(writer));
  Row dropped({Text("b"), Bytes<int32_t>(2), Text("dropped")});
  ASSERT_TRUE(Run(writer, GenerateInsertQuery("Pairs", dropped.row)));
  EXPECT_EQ(Count(writer, "Pairs"), 2);
  ASSERT_TRUE(RollbackTransaction(writer));
  EXPECT_EQ(Count(writer, "Pairs"), 1);
  EXPECT_EQ(Count(reader, "Pairs"), 1);
  // Autocommit is back: a statement outside a transaction is seen at once.
  Row later({Text("c"), Bytes<int32_t>(3), Text("later")});
  ASSERT_TRUE(Run(writer, GenerateInsertQuery("Pairs", later.row)));
  EXPECT_EQ(Count(reader, "Pairs"), 2);
  // Closing one connection leaves the others working.
  CloseDBConnection(writer);
  EXPECT_EQ(Count(reader, "Pairs"), 2);
  CloseDBConnection(reader);
}

TEST_P(DbDatabaseTest, PoolHandsEachThreadItsOwnConnection) {
  ASSERT_TRUE(CreateConnectionPool(0));
  EXPECT_TRUE(Logged("[DEBUG]", " 4 : conn1 : Connection Established\n"));
  DBConnection* mine = GetConnection("conn1");
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(GetConnection("CONN1"), mine);  // the same again for the same thread
  EXPECT_EQ(mine->owner, CurrentThreadNumber());
  // Other threads take the other four; a sixth gets none.
  std::vector<DBConnection*> others(5);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < others.size(); ++i) threads.emplace_back([&others, i] { others[i] = GetConnection("conn1"); });
  for (std::thread& t : threads) t.join();
  std::sort(others.begin(), others.end());
  EXPECT_EQ(others[0], nullptr);
  for (size_t i = 1; i < others.size(); ++i) {
    EXPECT_NE(others[i], mine);
    EXPECT_NE(others[i], others[i - 1]);
  }
  // Released, the connection goes to the next thread that asks.
  EXPECT_TRUE(ReleaseConnection("conn1"));
  EXPECT_FALSE(ReleaseConnection("conn1"));
  DBConnection* taken = nullptr;
  std::thread([&taken] { taken = GetConnection("conn1"); }).join();
  EXPECT_EQ(taken, mine);
  Result result(ExecuteQuery(taken, "select 1 as ONE"));
  EXPECT_NE(result.set, nullptr);
  EXPECT_EQ(GetConnection("conn1"), nullptr);
  EXPECT_EQ(GetConnection("other"), nullptr);
}

TEST_P(DbDatabaseTest, OneConnectionIsSharedByEveryThread) {
  ASSERT_TRUE(EstablishDBConnections());
  EXPECT_TRUE(Logged("[DEBUG]", " conn1 : Connection Established\n"));
  DBConnection* mine = GetConnection(nullptr);  // the only entry
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(mine->owner, 1);
  DBConnection* theirs = nullptr;
  std::thread([&theirs] { theirs = GetConnection("conn1"); }).join();
  EXPECT_EQ(theirs, mine);
}

int64_t g_now = 0;
int64_t FakeNow() { return g_now; }

TEST_P(DbDatabaseTest, OldConnectionsAreRenewed) {
  g_now = 1000000;
  SetDBClock(FakeNow);
  ASSERT_TRUE(EstablishDBConnections());
  DBConnection* connection = GetConnection("conn1");
  ASSERT_NE(connection, nullptr);
  EXPECT_EQ(connection->openedAt, 1000000);
  // A temporary table lives as long as the database session that made it.
  ASSERT_TRUE(ExecuteUpdate(connection, "create temporary table Probe (X int)"));
  g_now += 27900;
  EXPECT_EQ(GetConnection("conn1"), connection);
  EXPECT_EQ(connection->openedAt, 1000000);
  Result before(ExecuteQuery(connection, "select * from Probe"));
  EXPECT_NE(before.set, nullptr);
  g_now += 1;
  const size_t logged = LogText().size();
  EXPECT_EQ(GetConnection("conn1"), connection);
  EXPECT_EQ(connection->openedAt, 1027901);
  EXPECT_NE(LogText().find(" conn1 : Connection Established", logged), std::string::npos);
  Result after(ExecuteQuery(connection, "select * from Probe"));
  EXPECT_EQ(after.set, nullptr) << "a new session does not see the old one's temporary table";
  EXPECT_TRUE(Logged("[ERROR]", "SQLExecDirect failed\n"));
}

TEST_P(DbDatabaseTest, FailuresCarryTheDriversDiagnostics) {
  ASSERT_TRUE(EstablishDBConnections());
  DBConnection* connection = GetConnection(nullptr);
  ASSERT_NE(connection, nullptr);
  EXPECT_EQ(ExecuteQuery(connection, "select * from NoSuchTable"), nullptr);
  EXPECT_TRUE(Logged("[ERROR]", "SQLExecDirect failed\n"));
  bool state = false;
  for (const std::string& message : log_->Messages()) state = state || message.rfind("STATE: ", 0) == 0;
  EXPECT_TRUE(state);
  EXPECT_FALSE(ExecuteUpdate(connection, "update NoSuchTable set X = 1"));
  EXPECT_TRUE(Logged("[ERROR]", "SQLPrepare failed\n") || Logged("[ERROR]", "SQLExecute failed\n"));
  EXPECT_FALSE(ExecuteUpdate(connection, nullptr));
  EXPECT_TRUE(Logged("[ERROR]", " No Query To be Updated \n"));
  EXPECT_EQ(ExecuteQuery(connection, nullptr), nullptr);
  EXPECT_TRUE(Logged("[ERROR]", " No Query To be Executed \n"));
  // No rows is no failure: an update that changes none, a select that finds none.
  CreateTables(connection);
  EXPECT_TRUE(ExecuteUpdate(connection, "update Pairs set LABEL = 'x' where N = 5"));
  EXPECT_TRUE(ExecuteUpdate(connection, "delete from Pairs"));
  Result none(ExecuteQuery(connection, "select * from Pairs"));
  ASSERT_NE(none.set, nullptr);
  EXPECT_EQ(none.set->rowCount, 0);
  EXPECT_EQ(none.set->columnCount, 3);
  EXPECT_EQ(GotoNextResultSetRow(none.set), nullptr);
  // The blob forms reach the provider, which offers none.
  EXPECT_FALSE(ExecuteUpdateBlob(connection, "insert into Pairs values ('a', 1, ?)", "x", 1));
  EXPECT_EQ(ExecuteQueryBlob(connection, "select * from Pairs where LABEL = ?", "x", 1), nullptr);
  // A database name is taken only as a plain identifier.
  EXPECT_FALSE(CreateDB("x; drop table Pairs"));
  EXPECT_TRUE(Logged("[ERROR]", "Cannot create database x; drop table Pairs.\n"));
  EXPECT_EQ(Count(connection, "Pairs"), 0);
  // A plain name is created where the server keeps databases of its own (a
  // name of this process alone: the server is shared by the whole run).
  const std::string created = twtest::db::UniqueDatabaseName("twcreated");
  const bool server = std::string(db_->DatabaseType()) != "SQLITE";
  EXPECT_EQ(CreateDB(created.c_str()), server);
  if (server) {
    EXPECT_TRUE(ExecuteUpdate(connection, ("drop database " + created).c_str()));
  }
  // A connection text that reaches no database.
  FreeAllConnParamsEntries();
  const std::string params = twtest::Join(folder_, "bad.txt");
  Write(params, "bad 0 nodsn nouser NULL x bad ODBC SQLITE YES Driver=/nonexistent/driver.so;\n");
  ASSERT_TRUE(LoadConnParamsEntryFromFile(params.c_str()));
  EXPECT_EQ(OpenDBConnection(GetConnParamsAt(0)), nullptr);
  EXPECT_TRUE(Logged("[ERROR]", "Connecting to driver failed\n"));
}

const DatabaseKind kDatabases[] = {
    {"Sqlite", twtest::db::NewSqliteDatabase},
    {"Postgres", twtest::db::NewPostgresDatabase},
#ifndef _WIN32
    {"MariaDb", twtest::db::NewMariaDbDatabase},
#endif
};
INSTANTIATE_TEST_SUITE_P(Databases, DbDatabaseTest, testing::ValuesIn(kDatabases), KindName);

}  // namespace
}  // namespace dbtest
