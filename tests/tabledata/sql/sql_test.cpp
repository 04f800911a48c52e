// SQL text of the four dialects, exact to the byte: the MySQL statements in
// full, the other dialects by their differences, hostile values, and the
// statements that must not be generated.
#include "tests/tabledata/sql/sql_fixture.h"

#include "tabledata/values/valuetypes.h"

namespace sqltest {
namespace {

using RowGenerator = char* (*)(const char*, const RowObject*);
using CreateGenerator = char* (*)(const TableDefn*);

// A row statement and the text it must give.
struct RowCase {
  RowGenerator generate;
  const char* table;
  const RowObject* row;
  const char* text;
};

TEST_F(SqlTest, MysqlRowStatements) {
  Row person(Person(1, "O'Brien"));
  std::vector<Cell> orderCells = {Text("A-1"), Bytes<int32_t>(1), Bytes(2.5)};
  Row order(orderCells);
  const RowCase cases[] = {
      {MysqlGenInsertQuery, "Person", person.row,
       R"(insert into  Person values(1,'O''Brien',NULL,'2024-03-05','2024-03-05 07:08:09',1,5000000000,'a\\''b'))"},
      {MysqlGenUpdateQuery, "person", person.row,
       R"(update Person set NAME='O''Brien',NOTE=NULL,BORN='2024-03-05',SEEN='2024-03-05 07:08:09',OK=1,)"
       R"(BIG=5000000000,DATA='a\\''b' where ID=1)"},
      {MysqlGenDelteQuery, "Person", person.row, "delete from Person  where ID=1"},
      {MysqlGenInsertQuery, "Orders", order.row, "insert into  Orders values('A-1',1,2.500000)"},
      {MysqlGenUpdateQuery, "Orders", order.row, "update Orders set AMOUNT=2.500000 where CODE='A-1' and PID=1"},
      {MysqlGenDelteQuery, "Orders", order.row, "delete from Orders  where CODE='A-1' and PID=1"},
  };
  for (const RowCase& c : cases) EXPECT_EQ(Take(c.generate(c.table, c.row)), c.text);
  EXPECT_TRUE(Logged("@@@ Update Query has Primary Key in Set clause @@@\n"));
  EXPECT_TRUE(Logged("Delete query is @@@delete from Orders  where CODE='A-1' and PID=1\n"));
}

TEST_F(SqlTest, CreateByDialect) {
  struct Case {
    CreateGenerator generate;
    const char* table;
    const char* text;
  } cases[] = {
      {MysqlGenCreateQuery, "Person",
       "CREATE TABLE Person(\n\tID int   NOT NULL,\n\tNAME varchar(40) DEFAULT 'nobody' NOT NULL UNIQUE,\n"
       "\tNOTE longtext,\n\tBORN date,\n\tSEEN datetime,\n\tOK tinyint DEFAULT 1 ,\n\tBIG bigint DEFAULT -7,\n"
       "\tDATA longblob  ,\n\tPRIMARY KEY(ID)\n) ENGINE = InnoDB;\n\n"},
      {MysqlGenCreateQuery, "Orders",
       "CREATE TABLE Orders(\n\tCODE varchar(10)  ,\n\tPID int  ,\n\tAMOUNT double  ,\n\tPRIMARY KEY(CODE, pid),\n"
       "\tFOREIGN KEY(PID) REFERENCES Person (ID) ON DELETE CASCADE,\n\tINDEX Orders_IDX1 (PID)\n"
       ") ENGINE = InnoDB;\n\n"},
      {MysqlGenCreateQuery, "Loose", "CREATE TABLE Loose(\n\tX int  \n) ENGINE = InnoDB;\n\n"},
      {MysqlGenCreateQuery, "Keys",
       "CREATE TABLE Keys(\n\tK int  ,\n\tPRIMARY KEY(K),\n\tFOREIGN KEY(K) REFERENCES Person (ID),\n"
       "\tINDEX Keys_IDX1 (K)\n) ENGINE = InnoDB;\n\n"},
      {PgsqlGenCreateQuery, "Person",
       "CREATE TABLE Person(\n\tID int   NOT NULL,\n\tNAME varchar(40) DEFAULT 'nobody' NOT NULL UNIQUE,\n"
       "\tNOTE text,\n\tBORN date,\n\tSEEN timestamp,\n\tOK boolean DEFAULT 't',\n\tBIG bigint DEFAULT -7,\n"
       "\tDATA bytea  ,\n\tPRIMARY KEY(ID)\n);\n\n"},
      {PgsqlGenCreateQuery, "Orders",
       "CREATE TABLE Orders(\n\tCODE varchar(10)  ,\n\tPID int  ,\n\tAMOUNT double precision  ,\n"
       "\tPRIMARY KEY(CODE, pid),\n\tFOREIGN KEY(PID) REFERENCES Person (ID) ON DELETE CASCADE\n);\n\n"},
      {FirebirdGenCreateQuery, "Person",
       "CREATE TABLE Person(\n\tID int   NOT NULL,\n\tNAME varchar(40) DEFAULT 'nobody' NOT NULL UNIQUE,\n"
       "\tNOTE BLOB SUB_TYPE TEXT,\n\tBORN date,\n\tSEEN timestamp,\n\tOK SMALLINT DEFAULT 1,\n"
       "\tBIG BIGINT DEFAULT -7,\n\tDATA BLOB  ,\n\tPRIMARY KEY(ID)\n);\n\n"},
      {SqliteGenCreateQuery, "Person",
       "CREATE TABLE Person(\n\tID int   NOT NULL,\n\tNAME varchar(40) DEFAULT 'nobody' NOT NULL UNIQUE,\n"
       "\tNOTE text,\n\tBORN date,\n\tSEEN varchar(30),\n\tOK boolean DEFAULT 1,\n\tBIG integer DEFAULT -7,\n"
       "\tDATA blob  ,\n\tPRIMARY KEY(ID)\n);\n\n"},
      {SqliteGenCreateQuery, "Odd", "<none>"},
  };
  for (const Case& c : cases) EXPECT_EQ(Take(c.generate(GetTableDefn(c.table))), c.text) << c.table;
  EXPECT_TRUE(Logged("Create query is\nCREATE TABLE Loose(\n\tX int  \n) ENGINE = InnoDB;\n\n\n"));
  EXPECT_EQ(Take(MysqlGenCreateQuery(nullptr)), "<none>");
}

// The dialects write booleans differently (PostgreSQL 't'/'f', the others
// 1/0, also in UPDATE), and only MySQL doubles backslashes; values that would
// change the statement if written as they are stay inside their literal.
TEST_F(SqlTest, RowStatementsByDialect) {
  std::vector<Cell> cells = Person(7, "x\\'; drop table Person; --");
  cells[kNote] = Raw("cut\0here", 8);  // a text ends at its zero byte
  Row person(cells);
  Row textKey({Text("a' or '1'='1"), Bytes<int32_t>(2), Bytes(1.0)});
  const RowCase cases[] = {
      {MysqlGenUpdateQuery, "Person", person.row,
       R"(update Person set NAME='x\\''; drop table Person; --',NOTE='cut',BORN='2024-03-05',)"
       R"(SEEN='2024-03-05 07:08:09',OK=1,BIG=5000000000,DATA='a\\''b' where ID=7)"},
      {PgsqlGenInsertQuery, "Person", person.row,
       R"(insert into  Person values(7,'x\''; drop table Person; --','cut','2024-03-05','2024-03-05 07:08:09','t',)"
       R"(5000000000,'a\\''b'))"},
      {FirebirdGenUpdateQuery, "Person", person.row,
       R"(update Person set NAME='x\''; drop table Person; --',NOTE='cut',BORN='2024-03-05',)"
       R"(SEEN='2024-03-05 07:08:09',OK=1,BIG=5000000000,DATA='a\''b' where ID=7)"},
      {SqliteGenInsertQuery, "Person", person.row,
       R"(insert into  Person values(7,'x\''; drop table Person; --','cut','2024-03-05','2024-03-05 07:08:09',)"
       R"(1,5000000000,'a\''b'))"},
      {PgsqlGenDeleteQuery, "Orders", textKey.row, "delete from Orders  where CODE='a'' or ''1''=''1' and PID=2"},
      {SqliteGenUpdateQuery, "Orders", textKey.row,
       "update Orders set AMOUNT=1.000000 where CODE='a'' or ''1''=''1' and PID=2"},
  };
  for (const RowCase& c : cases) EXPECT_EQ(Take(c.generate(c.table, c.row)), c.text);
}

// A double keeps its value in the statement: six decimals when they are
// exact, else all the digits it needs (six decimals would write 1e-7 as 0).
TEST_F(SqlTest, DoublesKeepTheirValue) {
  const std::pair<double, const char*> cases[] = {
      {2.5, "2.500000"}, {-0.125, "-0.125000"}, {1e-7, "1e-07"}, {0.123456789, "0.123456789"},
      {1e300, "1e+300"}, {1.0 / 3, "0.3333333333333333"}};
  for (const auto& [value, text] : cases) {
    Row order(std::vector<Cell>{Text("A"), Bytes<int32_t>(1), Bytes(value)});
    EXPECT_EQ(Take(SqliteGenInsertQuery("Orders", order.row)),
              std::string("insert into  Orders values('A',1,") + text + ")");
  }
}

// Values without a safe literal give no statement, in every generator.
TEST_F(SqlTest, UnwritableValues) {
  std::vector<Cell> zeroByte = Person(1, "a");
  zeroByte[kData] = Raw("a\0b", 3);
  std::vector<Cell> shortKey = Person(1, "a");
  shortKey[kId] = Bytes<int16_t>(1);
  std::vector<Cell> notANumber = {Text("A"), Bytes<int32_t>(1), Bytes(std::numeric_limits<double>::quiet_NaN())};
  const std::vector<std::pair<const char*, std::vector<Cell>>> rows = {
      {"Person", zeroByte}, {"Person", shortKey}, {"Orders", notANumber}, {"Odd", {Bytes<int32_t>(1), Text("w")}}};
  const RowGenerator generators[] = {MysqlGenInsertQuery, MysqlGenUpdateQuery, MysqlGenDelteQuery,
                                     PgsqlGenInsertQuery, FirebirdGenUpdateQuery, SqliteGenDeleteQuery};
  for (const auto& [table, cells] : rows) {
    Row row(cells);
    for (RowGenerator generate : generators) {
      const size_t mark = LogText().size();
      EXPECT_EQ(Take(generate(table, row.row)), "<none>") << table;
      EXPECT_TRUE(Logged("Unsupported Datatype Used in Query generation.\n", mark)) << table;
    }
  }
}

TEST_F(SqlTest, RowStatementsRefused) {
  Row loose({Bytes<int32_t>(1)});
  Row keys({Bytes<int32_t>(1)});
  std::vector<Cell> noId = Person(1, "a");
  noId[kId] = std::nullopt;
  Row nullKey(noId);
  struct Case {
    RowGenerator generate;
    const char* table;
    const RowObject* row;
    const char* error;  // null: nothing logged
  } cases[] = {
      {MysqlGenUpdateQuery, "Loose", loose.row, "No Primary Key in table Loose - Cannot generate update query.\n"},
      {SqliteGenDeleteQuery, "Loose", loose.row, "No Primary Key in table Loose - Cannot generate delete query.\n"},
      {PgsqlGenUpdateQuery, "Keys", keys.row, "No Columns to Update in table Keys - Cannot generate update query.\n"},
      {FirebirdGenUpdateQuery, "Person", nullKey.row, "Primary Key ID is NULL - Cannot generate update query.\n"},
      {MysqlGenDelteQuery, "Person", nullKey.row, "Primary Key ID is NULL - Cannot generate delete query.\n"},
      {MysqlGenInsertQuery, "Nosuch", loose.row, nullptr},
      {MysqlGenInsertQuery, "Loose", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    const size_t mark = LogText().size();
    EXPECT_EQ(Take(c.generate(c.table, c.row)), "<none>") << c.table;
    if (c.error) {
      EXPECT_TRUE(Logged(c.error, mark)) << c.error;
    }
  }
  // A table without key columns is still inserted, and created without a key.
  EXPECT_EQ(Take(MysqlGenInsertQuery("Loose", loose.row)), "insert into  Loose values(1)");
}

}  // namespace
}  // namespace sqltest
