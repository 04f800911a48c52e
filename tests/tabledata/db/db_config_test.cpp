// The database layer without a database: the configuration files and their
// connection texts, the data-source map and the dialect each table gets, the
// result set's cursor and lookups, and the conversion of the drivers' cell
// forms into rows of the store.
#include <cctype>
#include <climits>
#include <regex>

#include "agent/log/logger.h"
#include "tabledata/db/dbinternal.h"
#include "tabledata/store/rowvalue.h"
#include "tests/tabledata/db/db_fixture.h"

namespace dbtest {
namespace {

class DbConfigTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    folder_ = twtest::MakeScratchDir("dbconfig");
  }
  void TearDown() override {
    twtest::RemoveTree(folder_);
    DbTest::TearDown();
  }
  std::string Path(const std::string& name) const { return twtest::Join(folder_, name); }
  // Loads one connparams.txt text; the records it gave.
  std::vector<const ConnParams*> LoadParams(const std::string& content) {
    Write(Path("connparams.txt"), content);
    EXPECT_TRUE(LoadConnParamsEntryFromFile(Path("connparams.txt").c_str()));
    std::vector<const ConnParams*> records;
    for (int32_t i = 0; i < GetConnParamsCount(); ++i) records.push_back(GetConnParamsAt(i));
    return records;
  }

  std::string folder_;
};

TEST_F(DbConfigTest, ConnectionTextOfEachEntryForm) {
  struct Case {
    const char* line;
    const char* connectionName;
    const char* text;
  } cases[] = {
      {"main 0 mydsn sa NULL x conn1 ODBC MYSQL NO\n", "conn1", "DSN=mydsn;UID=sa;;Driver={ODBC}"},
      {"main 0 mydsn sa secret x conn2 ODBC MYSQL no\r\n", "conn2", "DSN=mydsn;UID=sa;PWD=secret;Driver={ODBC}"},
      // The YES form takes the rest of the line as it stands, any case of YES.
      {"m 1 d u p x conn3 ODBC SQLITE yes Driver=/lib/x.so;Database=/tmp/a b.db;\r\n", "conn3",
       "Driver=/lib/x.so;Database=/tmp/a b.db;"},
      // A value that could end its keyword or start another is braced.
      {"m 2 d u a;b}c x conn4 ODBC PGSQL NO\n", "conn4", "DSN=d;UID=u;PWD={a;b}}c};Driver={ODBC}"},
  };
  for (const Case& c : cases) {
    FreeAllConnParamsEntries();
    const std::vector<const ConnParams*> records = LoadParams(c.line);
    ASSERT_EQ(records.size(), 1u) << c.line;
    EXPECT_EQ(OdbcConnectionText(records[0]), c.text) << c.line;
    EXPECT_EQ(GetConnParamsByConnectionName(c.connectionName), records[0]);
  }
}

TEST_F(DbConfigTest, EntriesKeepEveryWordAndStopAtAShortEntry) {
  // Words may wrap across lines; an entry without its ten words ends the file.
  const std::vector<const ConnParams*> records = LoadParams(
      "first -7 dsn1 user1 NULL ignored c1 ODBC MYSQL NO trailing words\n"
      "second 12\n dsn2 user2 pw2 ignored c2 odbc SQLITE YES  two blanks\n"
      "third 3 dsn3 user3\n");
  ASSERT_EQ(records.size(), 2u);
  const ConnParams& first = *records[0];
  EXPECT_STREQ(first.name, "first");
  EXPECT_EQ(first.number, -7);
  EXPECT_STREQ(first.dsn, "dsn1");
  EXPECT_STREQ(first.user, "user1");
  EXPECT_EQ(first.password, nullptr);
  EXPECT_EQ(first.reserved, 0);
  EXPECT_STREQ(first.connectionName, "c1");
  EXPECT_STREQ(first.provider, "ODBC");
  EXPECT_STREQ(first.databaseType, "MYSQL");
  EXPECT_EQ(first.useConnectionString, 0);
  EXPECT_EQ(first.connectionString, nullptr);
  const ConnParams& second = *records[1];
  EXPECT_EQ(second.number, 12);
  EXPECT_STREQ(second.password, "pw2");
  EXPECT_EQ(second.useConnectionString, 1);
  EXPECT_STREQ(second.connectionString, " two blanks");  // one leading blank goes
  EXPECT_EQ(GetConnParamsByConnectionName("C2"), records[1]);
  EXPECT_EQ(GetConnParamsByConnectionName("c3"), nullptr);
}

TEST_F(DbConfigTest, FilesFallBackToTheDataFolderUnderTheRoot) {
  const std::string data = Path("data");
  ASSERT_EQ(CreateDirectoryTree(data.c_str()), 0);
  // No root and no file: both loaders fail with their messages.
  EXPECT_FALSE(LoadConnParamsEntryFromFile(Path("none.txt").c_str()));
  EXPECT_TRUE(Logged("[ERROR]", "Cannot open Connection Parameters File.\n"));
  EXPECT_FALSE(LoadDataSourceMapEntryFromFile(Path("none.txt").c_str()));
  EXPECT_TRUE(Logged("[ERROR]", "Cannot open DataSourceMap Entry File.\n"));
  Write(folder_ + "/data/connparams.txt", "n 0 d u NULL x c1 ODBC SQLITE NO\n");
  Write(folder_ + "/data/dsn_table_map.txt", "Kinds c1\nPairs\tc2 Odd");
  SetCQuillRoot(folder_.c_str());
  EXPECT_TRUE(LoadConnParamsEntryFromFile(Path("none.txt").c_str()));
  EXPECT_TRUE(Logged("[DEBUG]", "Opening " + folder_ + "/data/connparams.txt\n"));
  EXPECT_EQ(GetConnParamsCount(), 1);
  EXPECT_TRUE(LoadDataSourceMapEntryFromFile(nullptr));
  EXPECT_STREQ(GetConnectionNameForTable("KINDS"), "c1");
  EXPECT_STREQ(GetConnectionNameForTable("pairs"), "c2");
  EXPECT_EQ(GetConnectionNameForTable("Odd"), nullptr);  // a word without its pair is no entry
  EXPECT_TRUE(Logged("[ERROR]", "No DataSourceMap Entry for Table name Odd \n"));
}

TEST_F(DbConfigTest, MapEntriesAddAndDelete) {
  DataSourceMapEntry* entry = CreateDataSourceMapEntry("Kinds", "c1");
  ASSERT_NE(entry, nullptr);
  EXPECT_TRUE(AddDataSourceMapEntry(entry));
  EXPECT_EQ(GetDataSourceMapEntry("kinds"), entry);
  EXPECT_FALSE(DeleteDataSourceMapEntry("Pairs"));
  EXPECT_TRUE(DeleteDataSourceMapEntry("KINDS"));
  EXPECT_EQ(GetDataSourceMapEntry("Kinds"), nullptr);
  EXPECT_EQ(CreateDataSourceMapEntry(nullptr, "c1"), nullptr);
  EXPECT_FALSE(AddDataSourceMapEntry(nullptr));
}

TEST_F(DbConfigTest, EachTableGetsTheDialectOfItsConnection) {
  LoadParams("a 0 d u NULL x pg ODBC PGSQL NO\nb 0 d u NULL x my ODBC mysql NO\n");
  ASSERT_TRUE(AddDataSourceMapEntry(CreateDataSourceMapEntry("Kinds", "pg")));
  ASSERT_TRUE(AddDataSourceMapEntry(CreateDataSourceMapEntry("Pairs", "my")));
  ASSERT_TRUE(AddDataSourceMapEntry(CreateDataSourceMapEntry("Lost", "nowhere")));
  // Without the map in use, no dialect has been chosen yet.
  EXPECT_EQ(GetSqlDialectForTable("Kinds"), nullptr);
  SetDSNMapValid(1, 0);
  EXPECT_EQ(GetDSNMapValid(), 1);
  EXPECT_STREQ(GetSqlDialectForTable("Kinds")->name, "PGSQL");
  EXPECT_STREQ(GetSqlDialectForTable("Pairs")->name, "MYSQL");
  EXPECT_EQ(GetSqlDialectForTable("Lost"), nullptr);
  EXPECT_TRUE(Logged("[ERROR]", "dbConnPtr is NULL for Connection Name nowhere \n"));
  // The statements follow the dialect and are logged under their kind.
  char* create = GenerateCreateQuery(GetTableDefn("Pairs"));
  ASSERT_NE(create, nullptr);
  EXPECT_NE(std::string(create).find("ENGINE = InnoDB"), std::string::npos) << create;
  EXPECT_TRUE(LogText().find("Generated Create Table Query: " + std::string(create)) != std::string::npos);
  free(create);
  Row pair({Text("c'd"), Bytes<int32_t>(4), Text("x")});
  char* remove = GenerateDeleteQuery("Pairs", pair.row);
  EXPECT_STREQ(remove, "delete from Pairs  where CODE='c''d' and N=4");
  EXPECT_TRUE(Logged("[TRACE]", std::string("Generated Delete Query: ") + remove));
  free(remove);
  EXPECT_EQ(GenerateInsertQuery("Lost", pair.row), nullptr);
  // Map not in use: every table in the dialect chosen by number.
  SetDSNMapValid(0, 3);
  EXPECT_EQ(GetDSNMapValid(), 0);
  EXPECT_STREQ(GetDefaultSqlDialect()->name, "SQLITE");
  EXPECT_STREQ(GetSqlDialectForTable("Lost")->name, "SQLITE");
  SetDSNMapValid(2, 1);
  EXPECT_TRUE(LogText().find("[ERROR] \nInvalid Status\n") != std::string::npos);
  EXPECT_STREQ(GetDefaultSqlDialect()->name, "SQLITE");
}

TEST_F(DbConfigTest, SelectTakesTheDialectOfItsFirstTable) {
  LoadParams("a 0 d u NULL x fb ODBC FIREBIRD NO\n");
  ASSERT_TRUE(AddDataSourceMapEntry(CreateDataSourceMapEntry("Kinds", "fb")));
  SetDSNMapValid(1, 0);
  SqlQuery query;
  query.rowCount = 2;
  EXPECT_EQ(GenerateSelectQuery(&query), nullptr);
  EXPECT_TRUE(Logged("[ERROR]", "No Tables selected in select query.\n"));
  query.tables = {{"Kinds", nullptr}};
  char* select = GenerateSelectQuery(&query);
  ASSERT_NE(select, nullptr);
  EXPECT_EQ(std::string(select).rfind("select first 2", 0), 0u) << select;
  EXPECT_TRUE(LogText().find("Generated Select Query: " + std::string(select)) != std::string::npos);
  free(select);
}

// A result set built as a provider builds one.
struct Built {
  explicit Built(const std::vector<std::pair<const char*, uint8_t>>& columns) {
    set = CreateResultSet(static_cast<int32_t>(columns.size()));
    for (size_t i = 0; i < columns.size(); ++i)
      EXPECT_TRUE(SetResultSetColumn(set, static_cast<int32_t>(i), columns[i].first, columns[i].second, 0));
  }
  ~Built() { FreeResultSet(set); }
  // Appends a row of cells (copies; nullopt is an SQL NULL).
  void Add(const std::vector<Cell>& cells) {
    ResultSetRow* row = AddResultSetRow(set);
    ASSERT_NE(row, nullptr);
    for (size_t i = 0; i < cells.size(); ++i) {
      if (!cells[i]) continue;
      row->cells[i].value = malloc(cells[i]->size() + 1);
      memcpy(row->cells[i].value, cells[i]->data(), cells[i]->size());
      static_cast<char*>(row->cells[i].value)[cells[i]->size()] = '\0';
      row->cells[i].length = static_cast<int32_t>(cells[i]->size());
    }
  }
  ResultSet* set;
};

Cell Flat(int16_t year, uint8_t month, uint8_t day, uint8_t hour, uint8_t minute, uint8_t second, uint8_t parts) {
  OrvDateTimeValue value = {};
  memcpy(value.year, &year, 2);
  value.month = month;
  value.day = day;
  value.hour = hour;
  value.minute = minute;
  value.second = second;
  value.parts = parts;
  return Bytes(value);
}

TEST_F(DbConfigTest, CursorWalksRowsAndStartsAgainAfterTheLast) {
  Built built({{"ID", ORV_SQL_INT}, {"Name", ORV_SQL_NCHAR}, {"id", ORV_SQL_BIGINT}});
  built.Add({Bytes<int32_t>(1), Text("one"), Bytes<int64_t>(9)});
  built.Add({Bytes<int32_t>(2), std::nullopt, Bytes<int64_t>(8)});
  ResultSet* set = built.set;
  EXPECT_EQ(set->rowCount, 2);
  int32_t length = -1;
  EXPECT_EQ(GetResultSetColumnValue("ID", &length, set), nullptr);  // before the first row
  ASSERT_NE(GotoNextResultSetRow(set), nullptr);
  // The first column of a name, in any case.
  const void* id = GetResultSetColumnValue("Id", &length, set);
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(ValueAs<int32_t>(id), 1);
  EXPECT_STREQ(static_cast<const char*>(GetResultSetColumnValue("NAME", &length, set)), "one");
  EXPECT_EQ(GetResultSetColumnType("id", set), ORV_SQL_INT);
  EXPECT_EQ(GetResultSetColumnType("missing", set), 0);
  EXPECT_EQ(GetResultSetColumnValue("missing", &length, set), nullptr);
  ASSERT_NE(GotoNextResultSetRow(set), nullptr);
  EXPECT_EQ(GetResultSetColumnValue("name", &length, set), nullptr);  // SQL NULL
  EXPECT_EQ(GotoNextResultSetRow(set), nullptr);
  EXPECT_EQ(ValueAs<int32_t>(GotoNextResultSetRow(set)->cells[0].value), 1);
  ResetResultSetCursor(set);
  EXPECT_EQ(set->cursor, nullptr);
}

TEST_F(DbConfigTest, PrintResultSetWritesEachCellInItsForm) {
  Built built({{"N", ORV_SQL_INT}, {"AT", ORV_SQL_DATE}, {"T", ORV_SQL_NCHAR}, {"OK", ORV_SQL_BOOLEAN}});
  built.Add({Bytes<int32_t>(INT_MIN), Flat(2024, 3, 5, 0, 0, 0, kOrvDatePart), Text("x"), Bytes<uint8_t>(1)});
  built.Add({std::nullopt, std::nullopt, std::nullopt, std::nullopt});
  const size_t before = LogText().size();
  SetLogLevel(3);  // DEBUG without the trace lines of the conversions
  PrintResultSet(built.set);
  // The pieces without the line heads that each DEBUG entry gets.
  const std::string printed = std::regex_replace(LogText().substr(before), std::regex("\\[ [^\\]]* \\] \\[ [^\\]]* \\] \\[DEBUG\\] "), "");
  EXPECT_EQ(printed, "N\tAT\tT\tOK\t\n-2147483648\t2024-03-05\tx\t1\t\nNULL\tNULL\tNULL\tNULL\t\n");
}

// The cell forms the drivers give, each converted to the column type of the
// table definition.
TEST_F(DbConfigTest, CellsConvertToTheColumnTypes) {
  struct Case {
    const char* what;
    uint8_t resultType;
    uint8_t isUnsigned;
    Cell cell;
    KindsColumn column;
    Cell expected;
  } cases[] = {
      {"integer as is", ORV_SQL_INT, 0, Bytes<int32_t>(INT_MIN), kId, Bytes<int32_t>(INT_MIN)},
      {"bigint into an int column", ORV_SQL_BIGINT, 0, Bytes<int64_t>(-5), kId, Bytes<int32_t>(-5)},
      {"int into a bigint column", ORV_SQL_INT, 0, Bytes<int32_t>(-5), kBig, Bytes<int64_t>(-5)},
      {"int that held 64 bits", ORV_SQL_INT, 0, Bytes<int64_t>(-5000000000LL), kBig, Bytes<int64_t>(-5000000000LL)},
      {"unsigned int", ORV_SQL_INT, 1, Bytes<uint32_t>(4000000000u), kBig, Bytes<int64_t>(4000000000LL)},
      {"integer text", ORV_SQL_NOT_SUPPORTED_TYPE, 0, Text("-12"), kSmall, Bytes<int32_t>(-12)},
      {"int into a double", ORV_SQL_INT, 0, Bytes<int32_t>(3), kAmount, Bytes(3.0)},
      {"double", ORV_SQL_DOUBLE, 0, Bytes(2.5), kAmount, Bytes(2.5)},
      {"decimal text into a double", ORV_SQL_NOT_SUPPORTED_TYPE, 0, Text("-0.25"), kAmount, Bytes(-0.25)},
      {"real text with an exponent", ORV_SQL_NOT_SUPPORTED_TYPE, 0, Text("1e-07"), kAmount, Bytes(1e-07)},
      {"not a number", ORV_SQL_NCHAR, 0, Text("1.5x"), kAmount, std::nullopt},
      {"boolean byte", ORV_SQL_BOOLEAN, 0, Bytes<uint8_t>(1), kOk, Bytes<uint8_t>(1)},
      {"boolean char 0", ORV_SQL_CHAR, 0, Text("0"), kOk, Bytes<uint8_t>(0)},
      {"boolean bit 1", ORV_SQL_NOT_SUPPORTED_TYPE, 0, Text("1"), kOk, Bytes<uint8_t>(1)},
      {"boolean t", ORV_SQL_CHAR, 0, Text("t"), kOk, Bytes<uint8_t>(1)},
      {"boolean FALSE", ORV_SQL_NCHAR, 0, Text("FALSE"), kOk, Bytes<uint8_t>(0)},
      {"boolean True", ORV_SQL_NCHAR, 0, Text("True"), kOk, Bytes<uint8_t>(1)},
      {"not a boolean", ORV_SQL_NCHAR, 0, Text("maybe"), kOk, std::nullopt},
      {"date of a date", ORV_SQL_DATE, 0, Flat(2024, 3, 5, 0, 0, 0, kOrvDatePart), kBorn, Date(2024, 3, 5)},
      {"date of a timestamp", ORV_SQL_DATETIME, 0, Flat(2024, 3, 5, 7, 8, 9, 3), kBorn, Date(2024, 3, 5)},
      {"time of a time", ORV_SQL_TIME, 0, Flat(0, 0, 0, 7, 8, 9, kOrvTimePart), kAlarm, Time(7, 8, 9)},
      {"time column, date only", ORV_SQL_DATE, 0, Flat(2024, 3, 5, 0, 0, 0, kOrvDatePart), kAlarm, std::nullopt},
      {"timestamp", ORV_SQL_DATETIME, 0, Flat(2024, 3, 5, 7, 8, 9, 3), kSeen, DateTime(2024, 3, 5, 7, 8, 9)},
      {"timestamp text", ORV_SQL_NCHAR, 0, Text("2024-03-05 07:08:09"), kSeen, DateTime(2024, 3, 5, 7, 8, 9)},
      {"date text", ORV_SQL_NCHAR, 0, Text("2024-03-05"), kBorn, Date(2024, 3, 5)},
      {"long text bytes", ORV_SQL_BLOB, 0, Text("long text"), kNote, Text("long text")},
      {"binary with a zero", ORV_SQL_BLOB, 0, std::string("a\0b", 3), kData, std::string("a\0b", 3)},
      {"text into a char column", ORV_SQL_BLOB, 0, Text("abc"), kName, Text("abc")},
      {"SQL NULL", ORV_SQL_INT, 0, std::nullopt, kId, std::nullopt},
  };
  for (const Case& c : cases) {
    ResultSet* set = CreateResultSet(1);
    // The result column is named as the table column, in another case.
    std::string name;
    int32_t index = 0;
    for (VectorNode* n = GetTableDefn("Kinds")->columns->head; n; n = n->next, ++index)
      if (index == c.column) name = static_cast<ColumnDefn*>(n->element)->name;
    for (char& ch : name) ch = static_cast<char>(tolower(ch));
    ASSERT_TRUE(SetResultSetColumn(set, 0, name.c_str(), c.resultType, c.isUnsigned));
    ResultSetRow* row = AddResultSetRow(set);
    if (c.cell) {
      row->cells[0].value = malloc(c.cell->size() + 1);
      memcpy(row->cells[0].value, c.cell->data(), c.cell->size());
      row->cells[0].length = static_cast<int32_t>(c.cell->size());
    }
    GotoNextResultSetRow(set);
    RowObject* converted = GetSqlDialect("PGSQL")->convertRow("Kinds", set);
    ASSERT_NE(converted, nullptr) << c.what;
    EXPECT_EQ(converted->state, ROW_STORED);
    const std::vector<Cell> cells = CellsOf(converted, kKindsColumns);
    EXPECT_EQ(cells[c.column], c.expected) << c.what;
    for (int i = 0; i < kKindsColumns; ++i) {
      if (i == c.column) continue;
      EXPECT_EQ(cells[i], std::nullopt) << c.what << ": a column the result lacks is absent";
    }
    FreeRowObject(converted, kKindsColumns);
    FreeResultSet(set);
  }
}

TEST_F(DbConfigTest, ConversionNeedsARowAndATable) {
  Built built({{"ID", ORV_SQL_INT}});
  built.Add({Bytes<int32_t>(1)});
  for (const char* dialect : {"MYSQL", "PGSQL", "FIREBIRD", "SQLITE"}) {
    EXPECT_EQ(GetSqlDialect(dialect)->convertRow("Kinds", built.set), nullptr) << "before the first row";
    GotoNextResultSetRow(built.set);
    EXPECT_EQ(GetSqlDialect(dialect)->convertRow("Unknown", built.set), nullptr);
    RowObject* row = GetSqlDialect(dialect)->convertRow("Kinds", built.set);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(CellsOf(row, 1)[0], Bytes<int32_t>(1));
    FreeRowObject(row, kKindsColumns);
    ResetResultSetCursor(built.set);
  }
}

TEST_F(DbConfigTest, ExecutionWithoutConnectionOrTextFails) {
  EXPECT_FALSE(ExecuteUpdate(nullptr, "delete from Kinds"));
  EXPECT_TRUE(Logged("[ERROR]", "ConnectionHandle NULL in ExecuteUpdate for Query delete from Kinds \n"));
  EXPECT_EQ(ExecuteQuery(nullptr, "select 1"), nullptr);
  EXPECT_TRUE(Logged("[ERROR]", "ConnectionHandle NULL in ExecuteQuery for Query select 1 \n"));
  EXPECT_FALSE(ExecuteUpdateBlob(nullptr, "x", "b", 1));
  EXPECT_TRUE(Logged("[ERROR]", "ConnectionHandle NULL in ExecuteUpdateBlob for Query x \n"));
  EXPECT_EQ(ExecuteQueryBlob(nullptr, "y", "b", 1), nullptr);
  EXPECT_TRUE(Logged("[ERROR]", "ConnectionHandle NULL in ExecuteQueryBlob for Query y \n"));
  // No pool: nothing to hand out, release or create a database on.
  EXPECT_EQ(GetConnection(nullptr), nullptr);
  EXPECT_FALSE(ReleaseConnection("c1"));
  EXPECT_FALSE(CreateDB("x"));
  EXPECT_TRUE(Logged("[ERROR]", "Cannot create DB.  Connection not established.\n"));
  EXPECT_FALSE(CreateConnectionPool(0));
  EXPECT_TRUE(Logged("[ERROR]", "There is no entry in data source vector\n"));
  TableConnection table;
  EXPECT_FALSE(AcquireTableConnection("Kinds", &table));
  EXPECT_EQ(table.connection, nullptr);
}

TEST_F(DbConfigTest, ProvidersComeFromTheBuiltInList) {
  EXPECT_FALSE(InitDBProvider());  // done by the fixture
  EXPECT_FALSE(LoadDBProvider());  // no parameters yet
  LoadParams("a 0 d u NULL x c1 odbc SQLITE NO\n");
  EXPECT_TRUE(LoadDBProvider());
  FreeAllConnParamsEntries();
  LoadParams("a 0 d u NULL x c1 SQLITE SQLITE NO\n");
  EXPECT_FALSE(LoadDBProvider());  // no built-in provider of that name
  EXPECT_EQ(OpenDBConnection(GetConnParamsAt(0)), nullptr);
  FreeDBProviders();
  EXPECT_TRUE(InitDBProvider());
}

}  // namespace
}  // namespace dbtest
