// Fuzzes the SQL generators: rows of values taken from the input (every type,
// absent, too short, texts full of quotes, backslashes and zero bytes) for a
// small dictionary, and queries with random criteria, aggregates, joins,
// having, sort and paging, are written by every generator of every dialect.
// Nothing may crash or leak, and every text of the SQLite dialect must
// prepare in SQLite against the tables its own CREATE statements made.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tabledata/sql/sqlgen.h"
#include "tabledata/values/valuetypes.h"

namespace {

// T1 has a column of every type (defaults with quotes among them); T2 a
// two-column key and a foreign key to T1; T3 a column of no known type.
const char kDictionary[] = R"(<data-dictionary>
  <table name="T1"><columns>
    <column name="A"><data-type>INTEGER</data-type></column>
    <column name="B"><data-type>ORV_SQL_TINYINT</data-type><default-value>-3</default-value></column>
    <column name="C"><data-type>ORV_SQL_UNSIGNED_TINYINT</data-type></column>
    <column name="D"><data-type>ORV_SQL_SMALLINT</data-type></column>
    <column name="E"><data-type>ORV_SQL_UNSIGNED_SMALLINT</data-type></column>
    <column name="F"><data-type>ORV_SQL_UNSIGNED_INT</data-type></column>
    <column name="G"><data-type>BIGINT</data-type></column>
    <column name="H"><data-type>ORV_SQL_UNSIGNED_LONG_INT</data-type></column>
    <column name="I"><data-type>FLOAT</data-type><default-value>1.5</default-value></column>
    <column name="J"><data-type>ORV_SQL_DOUBLE</data-type></column>
    <column name="K"><data-type>ORV_SQL_REAL</data-type></column>
    <column name="L"><data-type>ORV_SQL_DECIMAL</data-type><default-value>12.50</default-value></column>
    <column name="M"><data-type>ORV_SQL_NUMERIC</data-type></column>
    <column name="N"><data-type>ORV_SQL_CHAR</data-type><max-size>20</max-size><default-value>it's \</default-value></column>
    <column name="O"><data-type>CHAR</data-type><max-size>8</max-size><nullable>false</nullable><unique>true</unique></column>
    <column name="P"><data-type>DATE</data-type></column>
    <column name="Q"><data-type>TIME</data-type></column>
    <column name="R"><data-type>DATETIME</data-type></column>
    <column name="S"><data-type>BOOLEAN</data-type><default-value>false</default-value></column>
    <column name="U"><data-type>BLOB</data-type><default-value>'\'</default-value></column>
    <column name="V"><data-type>CLOB</data-type></column>
    <column name="W"><data-type>TEXT</data-type></column>
  </columns><primary-key><primary-key-column>A</primary-key-column></primary-key></table>
  <table name="T2"><columns>
    <column name="X"><data-type>INTEGER</data-type></column>
    <column name="Y"><data-type>ORV_SQL_CHAR</data-type><max-size>5</max-size></column>
    <column name="Z"><data-type>ORV_SQL_DOUBLE</data-type></column>
  </columns><primary-key><primary-key-column>X</primary-key-column><primary-key-column>Y</primary-key-column>
  </primary-key><foreign-keys><foreign-key name="f" reference-table-name="T1" isbidirectional="false"><fk-columns>
    <fk-column><fk-local-column>X</fk-local-column><fk-reference-column>A</fk-reference-column></fk-column>
  </fk-columns></foreign-key></foreign-keys></table>
  <table name="T3"><columns><column name="A"><data-type>INTEGER</data-type></column>
    <column name="B"><data-type>WHATEVER</data-type></column></columns></table>
</data-dictionary>)";

const char* const kTables[] = {"T1", "T2", "T3"};
const char* const kT1Columns[] = {"A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K",
                                  "L", "M", "N", "O", "P", "Q", "R", "S", "U", "V", "W"};
constexpr uint8_t kT1Types[] = {5, 1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22};
constexpr size_t kT1Count = sizeof kT1Types;

// The fuzzer's bytes, read front to back; zeros once they run out.
struct Input {
  const uint8_t* data;
  size_t size;
  uint8_t Byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  // Value bytes: absent, raw input bytes, or characters that SQL treats apart.
  std::string Bytes(bool* absent) {
    const uint8_t mode = Byte();
    *absent = mode % 4 == 0;
    const size_t length = Byte() % 24;
    std::string out;
    for (size_t i = 0; i < length; ++i) {
      static const char kSpecial[] = "0123456789.-+e'\\%_\0 ;aZ";
      const uint8_t b = Byte();
      out += mode % 4 == 1 ? static_cast<char>(b) : kSpecial[b % (sizeof kSpecial - 1)];
    }
    return out;
  }
};

// The texts of the SQLite dialect must prepare; every other text is only made.
struct Sqlite {
  Sqlite() {
    LoadDataDictFromXMLBuffer(kDictionary, static_cast<int32_t>(sizeof kDictionary - 1));
    sqlite3_open(":memory:", &db);
    for (const char* table : {"T1", "T2"}) {
      char* sql = SqliteGenCreateQuery(GetTableDefn(table));
      if (!sql || sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) __builtin_trap();
      free(sql);
    }
  }
  void Check(char* sql) const {
    if (!sql) return;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) __builtin_trap();
    sqlite3_finalize(statement);
    free(sql);
  }
  sqlite3* db = nullptr;
};

// Value buffers of one row: malloc'd, each with a zero byte after its length.
struct RowBuffers {
  std::vector<void*> values;
  std::vector<int32_t> lengths;
  RowObject row{};
  void Fill(Input& in, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      bool absent = false;
      const std::string bytes = in.Bytes(&absent);
      void* value = nullptr;
      if (!absent) {
        value = malloc(bytes.size() + 1);
        memcpy(value, bytes.data(), bytes.size());
        static_cast<char*>(value)[bytes.size()] = '\0';
      }
      values.push_back(value);
      lengths.push_back(static_cast<int32_t>(bytes.size()));
    }
    row = RowObject{values.data(), lengths.data(), 2, nullptr};
  }
  ~RowBuffers() {
    for (void* value : values) free(value);
  }
};

// Criteria, values and queries built from the input; they own every byte
// the query description points at.
struct QueryBuilder {
  Input& in;
  std::vector<std::string> texts;
  std::vector<SqlCriterion> nodes;
  QueryBuilder(Input& input) : in(input) {
    texts.reserve(256);
    nodes.reserve(64);
  }
  SqlValue Value() {
    bool absent = false;
    texts.push_back(in.Bytes(&absent));
    const std::string& bytes = texts.back();
    const uint8_t type = in.Byte() % 24;
    return SqlValue{type, absent ? nullptr : bytes.data(), static_cast<int32_t>(bytes.size())};
  }
  SqlColumnRef T1Column() { return SqlColumnRef{"T1", "t", kT1Columns[in.Byte() % kT1Count]}; }
  // A tree of at most 64 nodes; the odd invalid operator or missing operand.
  const SqlCriterion* Criterion(int depth) {
    if (nodes.size() == nodes.capacity()) return nullptr;
    const uint8_t op = in.Byte() % 12;
    nodes.push_back(SqlCriterion{op, {}, {}, {}, nullptr, nullptr});
    SqlCriterion& node = nodes.back();
    if ((op == SQL_OP_AND || op == SQL_OP_OR) && depth < 8) {
      node.left = Criterion(depth + 1);
      node.right = Criterion(depth + 1);
    } else {
      node.column = T1Column();
      node.value = Value();
      node.upper = Value();
    }
    return &node;
  }
  SqlQuery Query(SqlHaving* having) {
    SqlQuery q;
    const size_t columns = in.Byte() % 5;
    for (size_t i = 0; i < columns; ++i) {
      uint8_t aggregate = in.Byte() % 7;
      // DISTINCT stands only first in a statement; only COUNT takes "*".
      if (aggregate == SQL_AGGREGATE_DISTINCT && i > 0) aggregate = SQL_AGGREGATE_NONE;
      SqlSelectColumn c{T1Column(), nullptr, aggregate};
      if (aggregate && in.Byte() % 3 == 0) c = SqlSelectColumn{{}, nullptr, SQL_AGGREGATE_COUNT};
      static const char* const kAliases[] = {nullptr, "a0", "a1", "a2", "a3"};
      c.columnAlias = kAliases[in.Byte() % 5];
      q.columns.push_back(c);
    }
    // From T1 as t, or joins from T1 as t to T2 as u, perhaps with T2 as v listed.
    const uint8_t shape = in.Byte() % 3;
    if (shape == 0) q.tables.push_back({"T1", "t"});
    if (shape != 0)
      q.joins.push_back({{"T2", "u"}, static_cast<uint8_t>(in.Byte() % 3), {{{"T1", "t", "A"}, {"T2", "u", "X"}}}});
    if (shape == 2) q.tables.push_back({"T2", "v"});
    if (in.Byte() % 2) q.criterion = Criterion(0);
    const size_t groups = in.Byte() % 3;
    for (size_t i = 0; i < groups; ++i) q.groupBy.push_back({T1Column(), nullptr, 0});
    if (groups && in.Byte() % 2) {
      static const uint8_t kHavingAggregates[] = {0, 2, 3, 4, 5, 6, 9};
      *having = SqlHaving{kHavingAggregates[in.Byte() % 7], T1Column(), static_cast<uint8_t>(in.Byte() % 8), Value()};
      q.having = having;
    }
    const size_t sorts = in.Byte() % 3;
    for (size_t i = 0; i < sorts; ++i) q.sort.push_back({T1Column(), in.Byte() % 2 == 0});
    if (in.Byte() % 2) {
      q.rowCount = static_cast<uint32_t>(in.Byte()) << (in.Byte() % 25);
      q.offset = static_cast<uint32_t>(in.Byte()) << (in.Byte() % 25);
    }
    return q;
  }
};

using RowGenerator = char* (*)(const char*, const RowObject*);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Sqlite sqlite;
  Input in{data, size};
  const char* table = kTables[in.Byte() % 3];
  const TableDefn* defn = GetTableDefn(table);
  RowBuffers row;
  row.Fill(in, static_cast<size_t>(defn->columns->count));
  QueryBuilder builder(in);
  SqlHaving having{};
  const SqlQuery query = builder.Query(&having);

  const RowGenerator rowGenerators[] = {
      MysqlGenInsertQuery,    MysqlGenUpdateQuery,    MysqlGenDelteQuery,     PgsqlGenInsertQuery,
      PgsqlGenUpdateQuery,    PgsqlGenDeleteQuery,    FirebirdGenInsertQuery, FirebirdGenUpdateQuery,
      FirebirdGenDeleteQuery,
  };
  for (RowGenerator generate : rowGenerators) free(generate(table, &row.row));
  for (char* (*create)(const TableDefn*) : {MysqlGenCreateQuery, PgsqlGenCreateQuery, FirebirdGenCreateQuery})
    free(create(defn));
  for (char* (*select)(const SqlQuery*) : {MysqlGenSelectQuery, PgsqlGenSelectQuery, FirebirdGenSelectQuery})
    free(select(&query));
  if (query.criterion) {
    for (char* (*criteria)(const SqlCriterion*) :
         {MysqlGenCriteriaString, PgsqlGenCriteriaString, FirebirdGenCriteriaString, SqliteGenCriteriaString})
      free(criteria(query.criterion));
  }

  // T3 has no CREATE statement, so nothing of it can prepare.
  if (defn->name[1] != '3') {
    sqlite.Check(SqliteGenInsertQuery(table, &row.row));
    sqlite.Check(SqliteGenUpdateQuery(table, &row.row));
    sqlite.Check(SqliteGenDeleteQuery(table, &row.row));
  } else if (char* none = SqliteGenCreateQuery(defn)) {
    free(none);
    __builtin_trap();
  }
  sqlite.Check(SqliteGenSelectQuery(&query));
  return 0;
}
