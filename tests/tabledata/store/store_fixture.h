// Shared by the store's tests: a dictionary of small tables, rows built from
// typed values, and a log capture; every table the test made is freed after it.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tabledata/dict/dictionary.h"
#include "tabledata/store/notification.h"
#include "tabledata/store/tabledata.h"
#include "tests/support/scratch.h"

namespace storetest {

// Agentparams: the resource document's table. Items: one column of most
// types, a generated key with a default, a one-byte integer with a default.
// Counters: an unsigned 32-bit column.
inline const char kDictionary[] = R"(<data-dictionary>
  <table name="Agentparams"><columns>
    <column name="PARAM_NAME"><data-type>ORV_SQL_CHAR</data-type><max-size>255</max-size></column>
    <column name="param_Value"><data-type>ORV_SQL_CHAR</data-type><max-size>300</max-size></column>
  </columns><primary-key><primary-key-column>PARAM_NAME</primary-key-column></primary-key></table>
  <table name="Items"><columns>
    <column name="ID"><data-type>ORV_SQL_INT</data-type><default-value>-7</default-value>
      <uniquevalue-generation><generator-name>ItemSeq</generator-name></uniquevalue-generation></column>
    <column name="NAME"><data-type>TEXT</data-type></column>
    <column name="QTY"><data-type>INTEGER</data-type></column>
    <column name="LEVEL"><data-type>ORV_SQL_TINYINT</data-type><default-value>5</default-value></column>
    <column name="BIG"><data-type>BIGINT</data-type></column>
    <column name="PRICE"><data-type>ORV_SQL_DOUBLE</data-type></column>
    <column name="SEEN"><data-type>DATETIME</data-type></column>
    <column name="OK"><data-type>BOOLEAN</data-type></column>
    <column name="PORT"><data-type>ORV_SQL_UNSIGNED_SMALLINT</data-type></column>
  </columns><primary-key><primary-key-column>ID</primary-key-column></primary-key></table>
  <table name="Other"><columns><column name="X"><data-type>INTEGER</data-type></column></columns></table>
  <table name="Counters"><columns>
    <column name="NAME"><data-type>TEXT</data-type></column>
    <column name="HITS"><data-type>ORV_SQL_UNSIGNED_INT</data-type></column>
  </columns></table>
</data-dictionary>)";

enum ItemColumn { kId, kName, kQty, kLevel, kBig, kPrice, kSeen, kOk, kPort, kItemColumns };

// Value bytes of one cell; nullopt is an absent value.
using Cell = std::optional<std::string>;
template <typename T>
Cell Bytes(T value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}
inline Cell Text(const char* text) { return std::string(text); }

// A new row (state 2) owning malloc'd copies of the cells.
inline RowObject* MakeRow(const std::vector<Cell>& cells) {
  void** values = static_cast<void**>(calloc(cells.size() + 1, sizeof(void*)));
  int32_t* lengths = static_cast<int32_t*>(calloc(cells.size() + 1, sizeof(int32_t)));
  for (size_t i = 0; i < cells.size(); ++i) {
    if (!cells[i]) continue;
    values[i] = malloc(cells[i]->size() + 1);
    memcpy(values[i], cells[i]->data(), cells[i]->size());
    static_cast<char*>(values[i])[cells[i]->size()] = '\0';
    lengths[i] = static_cast<int32_t>(cells[i]->size());
  }
  return CreateNewRowObject(values, lengths);
}

// An Items row with a name and a quantity, the rest absent.
inline RowObject* Item(const char* name, int32_t qty) {
  std::vector<Cell> cells(kItemColumns);
  cells[kName] = Text(name);
  cells[kQty] = Bytes(qty);
  return MakeRow(cells);
}

inline std::string ValueText(const RowObject* row, int column) {
  return row->values[column] ? std::string(static_cast<const char*>(row->values[column]), row->lengths[column])
                             : "<absent>";
}

// The row of a table whose NAME is name, or null.
inline RowObject* FindRow(const char* table, int nameColumn, const char* name) {
  const TableData* data = GetTableDataByName(table);
  for (RowObject* row = data ? data->firstRow : nullptr; row; row = row->next)
    if (ValueText(row, nameColumn) == name) return row;
  return nullptr;
}

// The NAME of each row of a result, in order (for a table other than Items,
// the column at nameColumn).
inline std::vector<std::string> Names(ResultData* result, int nameColumn = kName) {
  std::vector<std::string> names;
  ResetResultDataCursor(result);
  while (const RowObject* row = GotoNextRowObject(result)) names.push_back(ValueText(row, nameColumn));
  return names;
}

class StoreTest : public testing::Test {
 protected:
  void SetUp() override {
    log_ = std::make_unique<twtest::LogCapture>(4, "store");
    ASSERT_TRUE(LoadDataDictFromXMLBuffer(kDictionary, static_cast<int32_t>(strlen(kDictionary))));
    ASSERT_TRUE(CreateTable("Agentparams"));
    ASSERT_TRUE(CreateTable("Items"));
  }
  void TearDown() override {
    DeInitNotification();
    for (const char* name : {"Agentparams", "Items", "Other", "ItemView", "Counters"})
      FreeTableData(GetTableDataByName(name));
    FreeDataDictionary();
    log_.reset();
  }
  // Adds Items rows named after their quantities' order of addition.
  void AddItems(const std::vector<std::pair<const char*, int32_t>>& items) {
    for (const auto& [name, qty] : items) ASSERT_TRUE(AddNewRow("Items", Item(name, qty)));
  }
  // The log as written, Windows line ends read as "\n".
  std::string LogText() const {
    std::string text = log_->Text();
    std::erase(text, '\r');
    return text;
  }
  bool Logged(const std::string& message) const { return LogText().find(message) != std::string::npos; }

  std::unique_ptr<twtest::LogCapture> log_;
};

}  // namespace storetest
