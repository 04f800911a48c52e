// SELECT text from query descriptions: MySQL in full (columns, aliases,
// aggregates, joins, criteria, group by with having, sort, paging), the other
// dialects by their differences, and the dialect table.
#include "tests/tabledata/sql/sql_fixture.h"

#include "tabledata/values/valuetypes.h"

namespace sqltest {
namespace {

using SelectGenerator = char* (*)(const SqlQuery*);

const SqlColumnRef kPersonId{"Person", "p", "ID"};
const SqlColumnRef kPersonName{"Person", "p", "NAME"};

SqlCriterion Leaf(uint8_t op, SqlColumnRef column, SqlValue value, SqlValue upper = {}) {
  return SqlCriterion{op, column, value, upper, nullptr, nullptr};
}
SqlCriterion Node(uint8_t op, const SqlCriterion* left, const SqlCriterion* right) {
  return SqlCriterion{op, {}, {}, {}, left, right};
}

class SelectTest : public SqlTest {
 protected:
  // p.ID > 3 and (p.NAME like 'O%' or p.OK = true): the grouping the
  // parentheses must keep.
  const Cell three_ = Bytes<int32_t>(3), pattern_ = Text("O'%"), yes_ = Bytes<uint8_t>(1), two_ = Bytes<int32_t>(2);
  const SqlCriterion idAbove_ = Leaf(SQL_OP_GT, kPersonId, Value(ORV_SQL_INT, three_));
  const SqlCriterion nameLike_ = Leaf(SQL_OP_LIKE, kPersonName, Value(ORV_SQL_CHAR, pattern_));
  const SqlCriterion ok_ = Leaf(SQL_OP_EQ, {"Person", "p", "OK"}, Value(ORV_SQL_BOOLEAN, yes_));
  const SqlCriterion either_ = Node(SQL_OP_OR, &nameLike_, &ok_);
  const SqlCriterion both_ = Node(SQL_OP_AND, &idAbove_, &either_);
  const SqlHaving having_{SQL_AGGREGATE_COUNT, kPersonId, SQL_OP_GE, Value(ORV_SQL_INT, two_)};

  // Every clause at once.
  SqlQuery Full() const {
    SqlQuery q;
    q.columns = {{kPersonId, nullptr, 0}, {kPersonName, "n", 0}, {{}, "c", SQL_AGGREGATE_COUNT}};
    q.tables = {{"Person", "p"}};
    q.criterion = &both_;
    q.groupBy = {{kPersonName, nullptr, 0}};
    q.having = &having_;
    q.sort = {{kPersonName, true}, {kPersonId, false}};
    q.rowCount = 10;
    q.offset = 20;
    return q;
  }
};

TEST_F(SelectTest, MysqlClauses) {
  SqlQuery plain;
  plain.tables = {{"Person", nullptr}};
  SqlQuery joined;
  joined.joins = {{{"Orders", "o"}, SQL_JOIN_INNER, {{kPersonId, {"Orders", "o", "PID"}}}},
                  {{"Loose", "l"}, SQL_JOIN_LEFT, {{{"Orders", "o", "PID"}, {"Loose", "l", "X"}}}}};
  SqlQuery joinedAndListed = joined;
  joinedAndListed.tables = {{"Keys", nullptr}, {"Odd", "d"}};
  const Cell from = Date(2024, 1, 1), to = Date(2024, 12, 31);
  const SqlCriterion born = Leaf(SQL_OP_BETWEEN, {"Person", nullptr, "BORN"}, Value(ORV_SQL_DATE, from),
                                 Value(ORV_SQL_DATE, to));
  SqlQuery dates = plain;
  dates.criterion = &born;
  dates.columns = {{{"Person", nullptr, "BIG"}, "most", SQL_AGGREGATE_MAX}, {{nullptr, nullptr, "NOTE"}, nullptr, 0}};
  dates.rowCount = 5;
  struct Case {
    SqlQuery query;
    const char* text;
  } cases[] = {
      {plain, "select * from Person"},
      {Full(),
       "select p.ID,p.NAME as n , COUNT(*) as c  \nfrom Person as p where ( p.ID >  3  AND ( p.NAME LIKE  'O''%'  OR "
       " p.OK =  1 )) group by p.NAME having  COUNT(p.ID)  >=  2 order by p.NAME asc ,p.ID desc limit 20 , 10"},
      {joined,
       "select * from  Person as p  inner join  Orders as o  on p.ID = o.PID  left join  Loose as l  on o.PID = l.X "},
      {joinedAndListed,
       "select * from  Person as p  inner join  Orders as o  on p.ID = o.PID  left join  Loose as l  on o.PID = l.X ,"
       "Keys, Odd as d "},
      {dates,
       "select  MAX(Person.BIG) as most ,NOTE \nfrom Person where  Person.BORN BETWEEN  '2024-01-01' AND '2024-12-31' "
       "limit 5"},
  };
  for (const Case& c : cases) EXPECT_EQ(Take(MysqlGenSelectQuery(&c.query)), c.text);
  EXPECT_TRUE(Logged("@@@@@@@@@@@ - INSIDE MysqlGenCriteriaString - @@@@@@@@@@@@@"));
  EXPECT_TRUE(Logged("\nSelect Query constructed is\nselect * from Person\n"));
}

TEST_F(SelectTest, OtherDialects) {
  struct Case {
    SelectGenerator generate;
    const char* text;
  } cases[] = {
      {PgsqlGenSelectQuery,
       "select p.ID,p.NAME as n , COUNT(*) as c  \nfrom Person as p where ( p.ID >  3  AND ( p.NAME LIKE  'O''%'  OR "
       " p.OK =  't' )) group by p.NAME having  COUNT(p.ID)  >=  2 order by p.NAME asc ,p.ID desc limit 10 offset 20"},
      {FirebirdGenSelectQuery,
       "select first 10 skip 20 p.ID,p.NAME as n , COUNT(*) as c  \nfrom Person p where ( p.ID >  3  AND ( p.NAME "
       "LIKE  'O''%'  OR  p.OK =  1 )) group by p.NAME having  COUNT(p.ID)  >=  2 order by p.NAME asc ,p.ID desc "},
      {SqliteGenSelectQuery,
       "select p.ID,p.NAME as n , COUNT(*) as c  \nfrom Person as p where ( p.ID >  3  AND ( p.NAME LIKE  'O''%'  OR "
       " p.OK =  1 )) group by p.NAME having  COUNT(p.ID)  >=  2 order by p.NAME asc ,p.ID desc limit 10 offset 20"},
  };
  const SqlQuery full = Full();
  for (const Case& c : cases) EXPECT_EQ(Take(c.generate(&full)), c.text);
  // Paging without an offset, and Firebird's join aliases.
  SqlQuery paged;
  paged.joins = {{{"Orders", "o"}, SQL_JOIN_INNER, {{kPersonId, {"Orders", "o", "PID"}}}}};
  paged.rowCount = 3;
  EXPECT_EQ(Take(FirebirdGenSelectQuery(&paged)), "select first 3 * from  Person p  inner join  Orders o  on p.ID = o.PID ");
  EXPECT_EQ(Take(PgsqlGenSelectQuery(&paged)),
            "select * from  Person as p  inner join  Orders as o  on p.ID = o.PID limit 3");
}

TEST_F(SelectTest, Refused) {
  SqlQuery noTables;
  SqlQuery badJoinType;
  badJoinType.joins = {{{"Orders", "o"}, 2, {{kPersonId, {"Orders", "o", "PID"}}}}};
  SqlQuery joinWithoutPairs;
  joinWithoutPairs.joins = {{{"Orders", "o"}, SQL_JOIN_INNER, {}}};
  SqlQuery badAggregate;
  badAggregate.tables = {{"Person", "p"}};
  badAggregate.columns = {{kPersonId, nullptr, 7}};
  const Cell nan = Bytes(std::numeric_limits<double>::quiet_NaN()), text = Text("1 or 1=1");
  const SqlCriterion notANumber = Leaf(SQL_OP_EQ, kPersonId, Value(ORV_SQL_DOUBLE, nan));
  const SqlCriterion decimalText = Leaf(SQL_OP_EQ, kPersonId, Value(ORV_SQL_DECIMAL, text));
  const SqlCriterion badOp = Leaf(11, kPersonId, Value(ORV_SQL_INT, three_));
  const SqlCriterion halfAnd = Node(SQL_OP_AND, &idAbove_, nullptr);
  const SqlCriterion noColumn = Leaf(SQL_OP_EQ, {"Person", "p", nullptr}, Value(ORV_SQL_INT, three_));
  struct Case {
    SqlQuery query;
    const SqlCriterion* criterion;
    const char* error;
  } cases[] = {
      {noTables, nullptr, "\nNo Tables To Be Selected\n"},
      {badJoinType, nullptr, "Invalid Join Type\n"},
      {joinWithoutPairs, nullptr, "Invalid Join Columns\n"},
      {badAggregate, nullptr, "Invalid Aggregate Function\n"},
      {badAggregate, &notANumber, "Unsupported Datatype Used in Query generation.\n"},
      {badAggregate, &decimalText, "Unsupported Datatype Used in Query generation.\n"},
      {badAggregate, &badOp, "Invalid Criteria Node\n"},
      {badAggregate, &halfAnd, "Invalid Criteria Node\n"},
      {badAggregate, &noColumn, "Invalid Criteria Node\n"},
  };
  for (Case& c : cases) {
    if (c.criterion) {
      c.query.columns.clear();
      c.query.criterion = c.criterion;
    }
    const size_t mark = LogText().size();
    EXPECT_EQ(Take(SqliteGenSelectQuery(&c.query)), "<none>") << c.error;
    EXPECT_TRUE(Logged(c.error, mark)) << c.error;
  }
  EXPECT_EQ(Take(MysqlGenSelectQuery(nullptr)), "<none>");
}

TEST(SqlDialect, LookedUpByNameInAnyCase) {
  struct Case {
    const char* name;
    const char* found;
  } cases[] = {{"MYSQL", "MYSQL"}, {"pgsql", "PGSQL"}, {"Firebird", "FIREBIRD"}, {"sqLite", "SQLITE"},
               {"ORACLE", nullptr}, {"", nullptr},        {nullptr, nullptr}};
  for (const Case& c : cases) {
    const SqlDialect* dialect = GetSqlDialect(c.name);
    EXPECT_EQ(std::string(dialect ? dialect->name : "-"), c.found ? c.found : "-");
  }
  EXPECT_EQ(GetSqlDialect("mysql")->genDelete, MysqlGenDelteQuery);
  EXPECT_EQ(GetSqlDialect("sqlite")->genCreate, SqliteGenCreateQuery);
}

}  // namespace
}  // namespace sqltest
