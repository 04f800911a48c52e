// Shared by the database-layer tests: a dictionary with a column of every kind
// the drivers hand back differently, rows of typed values, a log capture, and
// a clean database layer (no parameters, map, pool or providers) around each
// test.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "agent/log/logger.h"
#include "tabledata/db/db.h"
#include "tests/support/logcheck.h"
#include "tests/tabledata/sql/sql_fixture.h"

namespace dbtest {

using sqltest::Date;
using sqltest::DateTime;
using sqltest::Row;
using storetest::Bytes;
using storetest::Cell;
using storetest::Text;

// Kinds: one column of each type the round trips cover, keyed by ID. Pairs: a
// text and an integer with a two-column key.
inline const char kDictionary[] = R"(<data-dictionary>
  <table name="Kinds"><columns>
    <column name="ID"><data-type>INTEGER</data-type><nullable>false</nullable></column>
    <column name="NAME"><data-type>ORV_SQL_CHAR</data-type><max-size>40</max-size></column>
    <column name="NOTE"><data-type>TEXT</data-type></column>
    <column name="BORN"><data-type>DATE</data-type></column>
    <column name="ALARM"><data-type>TIME</data-type></column>
    <column name="SEEN"><data-type>DATETIME</data-type></column>
    <column name="OK"><data-type>BOOLEAN</data-type></column>
    <column name="BIG"><data-type>BIGINT</data-type></column>
    <column name="SMALL"><data-type>ORV_SQL_SMALLINT</data-type></column>
    <column name="AMOUNT"><data-type>ORV_SQL_DOUBLE</data-type></column>
    <column name="DATA"><data-type>BLOB</data-type></column>
  </columns><primary-key><primary-key-column>ID</primary-key-column></primary-key></table>
  <table name="Pairs"><columns>
    <column name="CODE"><data-type>ORV_SQL_CHAR</data-type><max-size>10</max-size><nullable>false</nullable></column>
    <column name="N"><data-type>INTEGER</data-type><nullable>false</nullable></column>
    <column name="LABEL"><data-type>ORV_SQL_CHAR</data-type><max-size>20</max-size></column>
  </columns><primary-key><primary-key-column>CODE</primary-key-column><primary-key-column>N</primary-key-column>
  </primary-key></table>
</data-dictionary>)";

enum KindsColumn { kId, kName, kNote, kBorn, kAlarm, kSeen, kOk, kBig, kSmall, kAmount, kData, kKindsColumns };

inline Cell Time(uint8_t hour, uint8_t minute, uint8_t second) { return Bytes(OrvTime{hour, minute, second}); }

// A Kinds row with every column filled.
inline std::vector<Cell> Kind(int32_t id, const char* name) {
  std::vector<Cell> cells(kKindsColumns);
  cells[kId] = Bytes(id);
  cells[kName] = Text(name);
  cells[kNote] = Text("note");
  cells[kBorn] = Date(2024, 3, 5);
  cells[kAlarm] = Time(7, 8, 9);
  cells[kSeen] = DateTime(2024, 3, 5, 7, 8, 9);
  cells[kOk] = Bytes<uint8_t>(1);
  cells[kBig] = Bytes<int64_t>(5000000000LL);
  cells[kSmall] = Bytes<int32_t>(-12);
  cells[kAmount] = Bytes(2.5);
  cells[kData] = Text("a\\'b");
  return cells;
}

// The cells of a row as they stand, for comparing rows.
inline std::vector<Cell> CellsOf(const RowObject* row, size_t count) {
  std::vector<Cell> cells(count);
  for (size_t i = 0; i < count; ++i)
    if (row->values[i]) cells[i] = std::string(static_cast<const char*>(row->values[i]), row->lengths[i]);
  return cells;
}

// A file's content written to a path.
inline void Write(const std::string& path, const std::string& content) { ASSERT_TRUE(twtest::WriteFile(path, content)); }

class DbTest : public testing::Test {
 protected:
  void SetUp() override {
    log_ = std::make_unique<twtest::LogCapture>(4, "db");
    ASSERT_TRUE(LoadDataDictFromXMLBuffer(kDictionary, static_cast<int32_t>(strlen(kDictionary))));
    InitDBProvider();
  }
  void TearDown() override {
    CloseAllConnections();
    FreeAllConnParamsEntries();
    FreeAllDataSourceMapEntries();
    SetDSNMapValid(0, -1);
    FreeDBProviders();
    SetDBClock(nullptr);
    SetCQuillRoot(nullptr);
    FreeDataDictionary();
    log_.reset();
  }
  bool Logged(const std::string& tag, const std::string& message) const { return twtest::HasLine(*log_, tag, message); }
  // The log as written, Windows line ends read as "\n".
  std::string LogText() const {
    std::string text = log_->Text();
    std::erase(text, '\r');
    return text;
  }

  std::unique_ptr<twtest::LogCapture> log_;
};

}  // namespace dbtest
