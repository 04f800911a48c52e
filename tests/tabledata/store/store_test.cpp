// The table-data store: tables and rows, selections and their cursor, updates
// and deletes by row state, positions, sorting, views and renderings.
#include "tests/tabledata/store/store_fixture.h"

#include "tabledata/values/valuetypes.h"

namespace storetest {
namespace {

TEST_F(StoreTest, ResourceIdLookup) {
  ASSERT_TRUE(AddNewRow("Agentparams", MakeRow({Text("RESOURCE_ID"), Text("4711")})));
  ASSERT_TRUE(AddNewRow("Agentparams", MakeRow({Text("OTHER"), Text("x")})));
  ResultData* result = SelectRows("agentPARAMS", "PARAM_NAME='RESOURCE_ID'");
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->rowCount, 1);
  EXPECT_EQ(GetColumnValueByName("param_Value", nullptr, result), nullptr);  // before the first row
  const RowObject* first = GotoNextRowObject(result);
  ASSERT_NE(first, nullptr);
  int32_t length = 0;
  const void* value = GetColumnValueByName("PARAM_VALUE", &length, result);
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(static_cast<const char*>(value), "4711");
  EXPECT_EQ(length, 4);
  // None after the last row, then the first again.
  EXPECT_EQ(GotoNextRowObject(result), nullptr);
  EXPECT_EQ(GotoNextRowObject(result), first);
  FreeResultData(result);

  length = 0;
  value = GetColumnValue("Agentparams", "param_value", "PARAM_NAME='OTHER'", &length);
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(static_cast<const char*>(value), "x");
  EXPECT_EQ(GetColumnValue("Agentparams", "param_value", "PARAM_NAME='NONE'", &length), nullptr);
  EXPECT_TRUE(Logged("No such row available in the Agentparams for PARAM_NAME='NONE'"));
  EXPECT_EQ(GetColumnValue("Agentparams", "param_value", "bad criteria", &length), nullptr);
  EXPECT_TRUE(Logged("Error in executing SelectRows(Agentparams,bad criteria)\n"));
  EXPECT_EQ(GetColumnValue("Agentparams", "nosuch", "PARAM_NAME='OTHER'", &length), nullptr);
  EXPECT_TRUE(Logged("columnValue is NULL for :nosuch\n"));
}

TEST_F(StoreTest, SelectionAnswers) {
  AddItems({{"a", 1}, {"b", 2}, {"c", 3}});
  RowObject* stored = GetTableDataByName("Items")->firstRow->next;
  stored->state = ROW_STORED;
  ASSERT_TRUE(DeleteRowObject("Items", stored));  // marked, still selected
  ASSERT_TRUE(CreateTable("Other"));
  struct Case {
    const char* table;
    const char* criteria;
    std::optional<std::vector<std::string>> names;
  } cases[] = {
      {"Items", nullptr, std::vector<std::string>{"a", "b", "c"}},
      {"ITEMS", "qty>=2", std::vector<std::string>{"b", "c"}},
      {"Items", "QTY=9", std::vector<std::string>{}},
      {"Other", nullptr, std::vector<std::string>{}},
      {"Nosuch", nullptr, std::nullopt},
      {"Items", "QTY=", std::nullopt},
      {"Items", "", std::nullopt},
  };
  for (const Case& c : cases) {
    ResultData* result = SelectRows(c.table, c.criteria);
    EXPECT_EQ(result != nullptr, c.names.has_value()) << c.table << " " << (c.criteria ? c.criteria : "-");
    if (result && c.names) {
      EXPECT_EQ(Names(result), *c.names) << (c.criteria ? c.criteria : "-");
    }
    FreeResultData(result);
  }
}

TEST_F(StoreTest, AddNewRowFillsAndWidensValues) {
  std::vector<Cell> cells(kItemColumns);
  cells[kName] = Text("widened");
  cells[kLevel] = Bytes<int8_t>(-2);
  cells[kPort] = Bytes<uint16_t>(65535);
  RowObject* given = MakeRow(cells);
  ASSERT_TRUE(AddNewRow("Items", given));
  RowObject* defaulted = Item("defaulted", 1);
  ASSERT_TRUE(AddNewRow("Items", defaulted));
  // The generator has no sequence yet: its -1 is never stored and the default applies.
  EXPECT_EQ(given->lengths[kId], 4);
  EXPECT_EQ(*static_cast<int32_t*>(given->values[kId]), -7);
  EXPECT_EQ(given->lengths[kLevel], 4);
  EXPECT_EQ(*static_cast<int32_t*>(given->values[kLevel]), -2);
  EXPECT_EQ(given->lengths[kPort], 4);
  EXPECT_EQ(*static_cast<int32_t*>(given->values[kPort]), 65535);
  EXPECT_EQ(*static_cast<int32_t*>(defaulted->values[kLevel]), 5);
  EXPECT_EQ(given->state, ROW_NEW);
  EXPECT_EQ(defaulted->values[kBig], nullptr);
  RowObject* refused = Item("x", 1);
  EXPECT_FALSE(AddNewRow("Nosuch", refused));
  FreeRowObject(refused, kItemColumns);
  EXPECT_EQ(GetTableDataByName("Items")->rowCount, 2);
}

TEST_F(StoreTest, UpdateRowObject) {
  AddItems({{"a", 1}});
  RowObject* row = GetTableDataByName("Items")->firstRow;
  const int32_t key = 99;
  EXPECT_FALSE(UpdateRowObject("Items", row, "id", &key, 4));
  EXPECT_TRUE(Logged("@@@ UpdateRowObject Failed as PrimaryKey is being updated @@@\n"));
  EXPECT_EQ(*static_cast<int32_t*>(row->values[kId]), -7);
  EXPECT_EQ(row->state, ROW_NEW);
  EXPECT_FALSE(UpdateRowObject("Items", row, "NOSUCH", "x", 1));
  EXPECT_FALSE(UpdateRowObject("Nosuch", row, "QTY", &key, 4));
  EXPECT_FALSE(UpdateRowObject("Items", nullptr, "QTY", &key, 4));
  EXPECT_TRUE(Logged("\t@@@@@ rowPtr passed as parameter in NULL @@@@@ \n"));

  ASSERT_TRUE(UpdateRowObject("Items", row, "qty", &key, 4));
  EXPECT_EQ(*static_cast<int32_t*>(row->values[kQty]), 99);
  EXPECT_EQ(row->state, ROW_NEW | ROW_MODIFIED);
  const int16_t port = -1;  // an unsigned two-byte value: 65535 once widened
  ASSERT_TRUE(UpdateRowObject("Items", row, "PORT", &port, 2));
  EXPECT_EQ(row->lengths[kPort], 4);
  EXPECT_EQ(*static_cast<int32_t*>(row->values[kPort]), 65535);
}

// A value whose length its column's type cannot have is refused, so that no
// row holds a value that no statement could save; no bytes clear the value.
TEST_F(StoreTest, UpdateRowObjectTakesOnlyLengthsOfTheColumnsType) {
  AddItems({{"a", 1}});
  RowObject* row = GetTableDataByName("Items")->firstRow;
  const char bytes[16] = {7};
  struct Case {
    const char* column;
    ItemColumn index;
    const void* bytes;
    int32_t length;
    bool accepted;
    int32_t storedLength;  // -1: the value is absent afterwards
  } cases[] = {
      {"QTY", kQty, bytes, 4, true, 4},         {"QTY", kQty, bytes, 2, false, 4},
      {"QTY", kQty, bytes, 8, false, 4},        {"LEVEL", kLevel, bytes, 1, true, 4},
      {"LEVEL", kLevel, bytes, 2, true, 4},     {"LEVEL", kLevel, bytes, 4, true, 4},
      {"LEVEL", kLevel, bytes, 3, false, 4},    {"PORT", kPort, bytes, 2, true, 4},
      {"BIG", kBig, bytes, 8, true, 8},         {"BIG", kBig, bytes, 4, false, 8},
      {"PRICE", kPrice, bytes, 4, false, -1},   {"PRICE", kPrice, bytes, 8, true, 8},
      {"SEEN", kSeen, bytes, 11, true, 11},     {"SEEN", kSeen, bytes, 10, false, 11},
      {"OK", kOk, bytes, 1, true, 1},           {"OK", kOk, bytes, 4, false, 1},
      {"NAME", kName, "abc", 3, true, 3},       {"NAME", kName, "", 0, true, 0},
      {"NAME", kName, nullptr, 0, true, -1},    {"QTY", kQty, nullptr, 0, true, -1},
      {"QTY", kQty, nullptr, 4, false, -1},     {"QTY", kQty, bytes, 0, false, -1},
  };
  for (const Case& c : cases) {
    const std::string what = std::string(c.column) + "/" + std::to_string(c.length);
    EXPECT_EQ(UpdateRowObject("Items", row, c.column, c.bytes, c.length), c.accepted) << what;
    if (c.storedLength < 0) {
      EXPECT_EQ(row->values[c.index], nullptr) << what;
    } else {
      ASSERT_NE(row->values[c.index], nullptr) << what;
      EXPECT_EQ(row->lengths[c.index], c.storedLength) << what;
    }
  }
  EXPECT_TRUE(Logged("@@@ UpdateRowObject Failed as 2 bytes do not fit the type of QTY @@@\n"));
}

// Removing rows from anywhere in the list keeps the order of addition, read
// forwards and backwards, and appending afterwards goes on at the end.
TEST_F(StoreTest, RemovingRowsKeepsTheirOrderBothWays) {
  struct Case {
    std::vector<const char*> removed;
    std::vector<std::string> left;
  } cases[] = {
      {{"a"}, {"b", "c", "d", "e", "f"}},
      {{"f"}, {"a", "b", "c", "d", "e"}},
      {{"c", "d"}, {"a", "b", "e", "f"}},
      {{"b", "d", "f"}, {"a", "c", "e"}},
      {{"a", "b", "c", "d", "e", "f"}, {}},
  };
  for (const Case& c : cases) {
    AddItems({{"a", 1}, {"b", 2}, {"c", 3}, {"d", 4}, {"e", 5}, {"f", 6}});
    for (const char* name : c.removed) ASSERT_TRUE(DeleteRowObject("Items", FindRow("Items", kName, name)));
    TableData* items = GetTableDataByName("Items");
    std::vector<std::string> forwards, backwards;
    for (const RowObject* row = items->firstRow; row; row = row->next) forwards.push_back(ValueText(row, kName));
    for (const RowObject* row = items->lastRow; row; row = row->prev)
      backwards.insert(backwards.begin(), ValueText(row, kName));
    EXPECT_EQ(forwards, c.left) << c.removed.size();
    EXPECT_EQ(backwards, c.left) << c.removed.size();
    EXPECT_EQ(items->rowCount, static_cast<int32_t>(c.left.size()));
    AddItems({{"g", 7}});
    EXPECT_EQ(ValueText(items->lastRow, kName), "g");
    EXPECT_EQ(items->rowCount, static_cast<int32_t>(c.left.size()) + 1);
    ASSERT_TRUE(DeleteAllTableRowObjects("Items"));
    EXPECT_EQ(items->firstRow, nullptr);
    EXPECT_EQ(items->lastRow, nullptr);
  }
}

TEST_F(StoreTest, DeleteByRowState) {
  AddItems({{"a", 1}, {"b", 2}, {"c", 3}});
  TableData* items = GetTableDataByName("Items");
  RowObject* stored = items->firstRow;
  stored->state = ROW_STORED;
  ASSERT_TRUE(DeleteRowObject("Items", stored));
  EXPECT_EQ(stored->state, ROW_STORED | ROW_DELETED);
  EXPECT_EQ(items->rowCount, 3);
  // Removing the last row, then adding, keeps the order of addition.
  ASSERT_TRUE(DeleteRowObject("Items", items->lastRow));
  EXPECT_EQ(items->rowCount, 2);
  AddItems({{"d", 4}});
  ResultData* all = SelectRows("Items", nullptr);
  EXPECT_EQ(Names(all), (std::vector<std::string>{"a", "b", "d"}));
  FreeResultData(all);
  EXPECT_FALSE(DeleteRowObject("Other", items->firstRow->next));
  EXPECT_FALSE(DeleteRowObject("Items", nullptr));

  stored->state = ROW_NEW;
  ASSERT_TRUE(DeleteAllTableRowObjects("Items"));
  EXPECT_EQ(items->rowCount, 0);
  EXPECT_EQ(items->firstRow, nullptr);
  AddItems({{"e", 5}});
  EXPECT_EQ(items->firstRow, items->lastRow);
  EXPECT_FALSE(DeleteAllTableRowObjects(nullptr));
  EXPECT_TRUE(Logged("\t tableName NULL \n"));
  EXPECT_FALSE(DeleteAllTableRowObjects("Nosuch"));
  EXPECT_TRUE(Logged("\t GetTableDataByName returned NULL \n"));
}

TEST_F(StoreTest, DeleteRowObjectByCriteria) {
  AddItems({{"a", 1}, {"b", 2}, {"c", 1}, {"d", 3}});
  EXPECT_TRUE(DeleteRowObjectByCriteria("Items", "QTY=1 or QTY=3"));
  ResultData* all = SelectRows("Items", nullptr);
  EXPECT_EQ(Names(all), std::vector<std::string>{"b"});
  FreeResultData(all);
  EXPECT_EQ(GetTableDataByName("Items")->lastRow, GetTableDataByName("Items")->firstRow);
  EXPECT_FALSE(DeleteRowObjectByCriteria("Items", nullptr));
  EXPECT_FALSE(DeleteRowObjectByCriteria("Nosuch", "QTY=2"));
  EXPECT_FALSE(DeleteRowObjectByCriteria("Items", "QTY=2 and"));
  EXPECT_EQ(GetTableDataByName("Items")->rowCount, 1);
}

TEST_F(StoreTest, SelectRowByRowIdx) {
  ResultData* empty = SelectRowByRowIdx("Items", 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(GotoNextRowObject(empty), nullptr);
  FreeResultData(empty);
  AddItems({{"a", 1}, {"b", 2}, {"c", 3}});
  struct Case {
    int32_t position;
    const char* name;  // null: no result
  } cases[] = {{1, "a"}, {2, "b"}, {3, "c"}, {0, "a"}, {-5, "a"}, {4, nullptr}};
  for (const Case& c : cases) {
    ResultData* result = SelectRowByRowIdx("Items", c.position);
    EXPECT_EQ(result != nullptr, c.name != nullptr) << c.position;
    if (result && c.name) {
      EXPECT_EQ(Names(result), std::vector<std::string>{c.name}) << c.position;
    }
    FreeResultData(result);
  }
  EXPECT_EQ(SelectRowByRowIdx("Nosuch", 1), nullptr);
}

TEST_F(StoreTest, SortResultSet) {
  // Names say the order of addition; equal quantities keep it both ways.
  AddItems({{"q3", 3}, {"q1", 1}, {"q2a", 2}, {"q2b", 2}});
  std::vector<Cell> noQty(kItemColumns);
  noQty[kName] = Text("none");
  ASSERT_TRUE(AddNewRow("Items", MakeRow(noQty)));
  ResultData* result = SelectRows("Items", nullptr);
  ASSERT_TRUE(SortResultSet(result, "qty", 1));
  EXPECT_EQ(Names(result), (std::vector<std::string>{"none", "q1", "q2a", "q2b", "q3"}));
  ASSERT_TRUE(SortResultSet(result, "QTY", 0));
  EXPECT_EQ(Names(result), (std::vector<std::string>{"q3", "q2a", "q2b", "q1", "none"}));
  ASSERT_TRUE(SortResultSet(result, "NAME", 1));
  EXPECT_EQ(Names(result), (std::vector<std::string>{"none", "q1", "q2a", "q2b", "q3"}));
  EXPECT_FALSE(SortResultSet(result, "NOSUCH", 1));
  EXPECT_FALSE(SortResultSet(result, nullptr, 1));
  FreeResultData(result);

  ResultData* one = SelectRows("Items", "QTY=3");
  EXPECT_TRUE(SortResultSet(one, "QTY", 1));
  EXPECT_TRUE(Logged("Number of Rows is 1 for the Relvar to be Sorted \n"));
  FreeResultData(one);
}

// Unsigned 32-bit values sort by their unsigned value: 3000000000 after 5.
TEST_F(StoreTest, SortsUnsignedIntegersAsUnsigned) {
  ASSERT_TRUE(CreateTable("Counters"));
  const struct {
    const char* name;
    uint32_t hits;
  } rows[] = {{"huge", 3000000000u}, {"five", 5}, {"most", 4294967295u}, {"zero", 0}};
  for (const auto& r : rows) ASSERT_TRUE(AddNewRow("Counters", MakeRow({Text(r.name), Bytes(r.hits)})));
  ResultData* result = SelectRows("Counters", nullptr);
  ASSERT_TRUE(SortResultSet(result, "HITS", 1));
  EXPECT_EQ(Names(result, 0), (std::vector<std::string>{"zero", "five", "huge", "most"}));
  ASSERT_TRUE(SortResultSet(result, "HITS", 0));
  EXPECT_EQ(Names(result, 0), (std::vector<std::string>{"most", "huge", "five", "zero"}));
  FreeResultData(result);
}

TEST_F(StoreTest, SortsWideNumbersAndDatesByValue) {
  const struct {
    const char* name;
    int64_t big;
    const char* seen;
  } rows[] = {{"r1", 5000000000LL, "2024-03-05 07:08:09"},
              {"r2", -1, "2023-12-31 23:59:59"},
              {"r3", 4294967296LL, "2024-03-05 07:08:10"}};
  for (const auto& r : rows) {
    std::vector<Cell> cells(kItemColumns);
    cells[kName] = Text(r.name);
    cells[kBig] = Bytes(r.big);
    int32_t length = static_cast<int32_t>(strlen(r.seen));
    void* seen = ConvertTextToColumnValue(r.seen, &length, ORV_SQL_DATETIME);
    cells[kSeen] = std::string(static_cast<const char*>(seen), length);
    free(seen);
    ASSERT_TRUE(AddNewRow("Items", MakeRow(cells)));
  }
  ResultData* result = SelectRows("Items", nullptr);
  ASSERT_TRUE(SortResultSet(result, "BIG", 1));
  EXPECT_EQ(Names(result), (std::vector<std::string>{"r2", "r3", "r1"}));
  ASSERT_TRUE(SortResultSet(result, "SEEN", 1));
  EXPECT_EQ(Names(result), (std::vector<std::string>{"r2", "r1", "r3"}));
  FreeResultData(result);
}

TEST_F(StoreTest, ToStringFormatsCellsByType) {
  std::vector<Cell> cells(kItemColumns);
  cells[kId] = Bytes<int32_t>(12);
  cells[kName] = Text("first");
  cells[kBig] = Bytes<int64_t>(5000000000LL);
  cells[kPrice] = Bytes(2.5);
  int32_t length = 19;
  void* seen = ConvertTextToColumnValue("2024-03-05 07:08:09", &length, ORV_SQL_DATETIME);
  cells[kSeen] = std::string(static_cast<const char*>(seen), length);
  free(seen);
  cells[kOk] = Bytes<uint8_t>(1);
  cells[kPort] = Bytes<int32_t>(80);
  ASSERT_TRUE(AddNewRow("Items", MakeRow(cells)));
  std::vector<Cell> shortQty(kItemColumns);
  shortQty[kName] = Text("second");
  shortQty[kQty] = Bytes<int16_t>(3);  // too short for its type: read as absent
  ASSERT_TRUE(AddNewRow("Items", MakeRow(shortQty)));
  char* text = ToStringTableData("items");
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text,
               "ID\tNAME\tQTY\tLEVEL\tBIG\tPRICE\tSEEN\tOK\tPORT\t\n"
               "12\tfirst\tNULL\t5\t5000000000\t2.500000\t2024-03-05 07:08:09\t1\t\n"
               "-7\tsecond\tNULL\t5\tNULL\tNULL\tNULL\tNULL\t\n");
  EXPECT_TRUE(Logged(std::string("String Value of Relvar Data\n ") + text + "\n"));
  free(text);
  EXPECT_EQ(ToStringTableData("Nosuch"), nullptr);
}

TEST_F(StoreTest, RenderingsGrowPastOneKilobyte) {
  std::string expected = "ID\tNAME\tQTY\tLEVEL\tBIG\tPRICE\tSEEN\tOK\tPORT\t\n";
  for (int i = 0; i < 60; ++i) {
    std::string name = "item-number-";
    name += std::to_string(i);
    AddItems({{name.c_str(), i}});
    expected.append("-7\t").append(name).append("\t").append(std::to_string(i)).append("\t5\tNULL\tNULL\tNULL\tNULL\t\n");
  }
  char* text = ToStringTableData("Items");
  ASSERT_NE(text, nullptr);
  EXPECT_GT(strlen(text), 1024u);
  EXPECT_EQ(text, expected);
  free(text);
}

TEST_F(StoreTest, PrintWritesEachPieceAtDebug) {
  std::vector<Cell> cells(kItemColumns);
  cells[kQty] = Bytes<int32_t>(4);
  RowObject* row = MakeRow(cells);
  ASSERT_TRUE(AddNewRow("Items", row));
  PrintTableData("Items");
  EXPECT_TRUE(Logged("[DEBUG] -7\t[ "));
  EXPECT_TRUE(Logged("[DEBUG] NULL\t[ "));  // the absent NAME
  EXPECT_TRUE(Logged("[DEBUG] 4\t[ "));
  // A result leaves out rows marked deleted.
  row->state = ROW_STORED;
  ASSERT_TRUE(DeleteRowObject("Items", row));
  ResultData* result = SelectRows("Items", nullptr);
  const std::string before = LogText();
  PrintResultData(result);
  const std::string printed = LogText().substr(before.size());
  EXPECT_NE(printed.find("\t@@@@@ Inside PrintResultData() @@@@@\n"), std::string::npos);
  EXPECT_NE(printed.find("[DEBUG] PORT\t"), std::string::npos);
  EXPECT_EQ(printed.find("[DEBUG] -7\t"), std::string::npos);
  FreeResultData(result);
}

TEST_F(StoreTest, CustomViews) {
  const TableDefn* items = GetTableDefn("Items");
  Vector* columns = CreateVector();
  ColumnDefn* name = static_cast<ColumnDefn*>(ElementAt(items->columns, kName)->element);
  ColumnDefn* qty = static_cast<ColumnDefn*>(ElementAt(items->columns, kQty)->element);
  ColumnDefn* level = static_cast<ColumnDefn*>(ElementAt(items->columns, kLevel)->element);
  AddElementData(columns, CreateViewColumnDefn("ItemName", 0, 0, name));
  AddElementData(columns, CreateViewColumnDefn("Amount", 0, 0, qty));
  AddElementData(columns, CreateViewColumnDefn("Lvl", 0, 0, level));
  const char* tables[] = {"Items", "Other"};
  ASSERT_TRUE(CreateCustomViewData("ItemView", CreateCustomViewDefn(2, tables, columns)));
  EXPECT_FALSE(CreateCustomViewData("itemview", CreateCustomViewDefn(1, tables, CreateVector())));
  EXPECT_STREQ(GetTableNameOfView("ITEMVIEW"), "Items");
  EXPECT_STREQ(GetTableNameOfView("Other"), "Other");

  // View rows get no generated or default values.
  ASSERT_TRUE(AddNewRow("ItemView", MakeRow({Text("v"), Bytes<int32_t>(7), std::nullopt})));
  EXPECT_EQ(SelectRows("ItemView", "Amount=7"), nullptr);
  ResultData* result = SelectRows("ItemView", nullptr);
  ASSERT_NE(result, nullptr);
  EXPECT_STREQ(GetTableNameFromResultData(result), "Items");
  EXPECT_EQ(GetColumnTypeByName("QTY", result), ORV_SQL_INT);  // by the base column's name
  EXPECT_EQ(GetColumnTypeByName("Amount", result), 0);
  EXPECT_STREQ(GetColumnNameByIndex(1, result), "Amount");
  EXPECT_EQ(GetColumnNameByIndex(3, result), nullptr);
  ASSERT_NE(GotoNextRowObject(result), nullptr);
  EXPECT_EQ(*static_cast<const int32_t*>(GetColumnValueByName("amount", nullptr, result)), 7);
  FreeResultData(result);
  char* text = ToStringTableData("ItemView");
  EXPECT_STREQ(text, "ItemName\tAmount\tLvl\t\nv\t7\tNULL\t\n");
  free(text);
  EXPECT_TRUE(UpdateRowObject("ItemView", GetTableDataByName("ItemView")->firstRow, "Lvl", "\x03", 1));
  EXPECT_FALSE(DeleteAllTableRowObjects("ItemView"));
}

TEST_F(StoreTest, TablesByName) {
  EXPECT_FALSE(CreateTable("items"));    // exists
  EXPECT_FALSE(CreateTable("Nosuch"));   // not in the dictionary
  ResultData* result = SelectRows("Items", nullptr);
  EXPECT_STREQ(GetTableNameFromResultData(result), "Items");
  EXPECT_EQ(GetColumnTypeByName("level", result), ORV_SQL_TINYINT);
  EXPECT_EQ(GetColumnTypeByName("nosuch", result), 0);
  EXPECT_STREQ(GetColumnNameByIndex(0, result), "ID");
  EXPECT_EQ(GetColumnNameByIndex(-1, result), nullptr);
  EXPECT_EQ(GetColumnNameByIndex(kItemColumns, result), nullptr);
  FreeResultData(result);

  // A freed table stays listed, empty, and its name can be used again.
  AddItems({{"a", 1}});
  TableData* items = GetTableDataByName("Items");
  FreeTableData(items);
  EXPECT_EQ(items->name, nullptr);
  EXPECT_EQ(items->firstRow, nullptr);
  EXPECT_EQ(GetTableDataByName("Items"), nullptr);
  ASSERT_TRUE(CreateTable("Items"));
  EXPECT_NE(GetTableDataByName("Items"), items);

  TableData a{const_cast<char*>("a"), 1, nullptr, nullptr, 0, 0, nullptr, nullptr};
  TableData b{const_cast<char*>("B"), 1, nullptr, nullptr, 0, 0, nullptr, nullptr};
  VectorNode na{&a, nullptr};
  VectorNode nb{&b, nullptr};
  EXPECT_GT(SortTableByName(&na, &nb), 0);  // case-sensitive: "a" after "B"
}

}  // namespace
}  // namespace storetest
