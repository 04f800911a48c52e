// Change notifications: which listeners hear of which changes, the row copy
// they receive, registration by name, and a listener that selects with
// criteria while rows are deleted by criteria.
#include "tests/tabledata/store/store_fixture.h"

#include <algorithm>

#include "tabledata/values/valuetypes.h"

namespace storetest {
namespace {

// What the listeners heard: "listener:table:state" per call.
std::vector<std::string> g_heard;

int32_t Record(IMDSNotification* notification, const char* listenerName) {
  g_heard.push_back(std::string(listenerName) + ":" + notification->tableName + ":" +
                    std::to_string(notification->row->state));
  return 0;
}

class NotificationTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    g_heard.clear();
    ASSERT_TRUE(CreateTable("Other"));
  }
};

TEST_F(NotificationTest, ListenersByTableAndEventType) {
  const char* updates[] = {"Other", "items", nullptr};
  const char* all[] = {"Items", nullptr};
  const char* elsewhere[] = {"Agentparams", nullptr};
  ASSERT_TRUE(AddNotificationListener("updates", ROW_MODIFIED, Record, 1, updates));
  EXPECT_STREQ(updates[0], "items");  // sorted in place without regard to case
  ASSERT_TRUE(AddNotificationListener("all", 0, Record, 1, all));
  ASSERT_TRUE(AddNotificationListener("elsewhere", 0, Record, 1, elsewhere));
  ASSERT_TRUE(AddNotificationListener("off", 0, Record, 0, all));

  AddItems({{"a", 1}, {"b", 2}});
  TableData* items = GetTableDataByName("Items");
  RowObject* stored = items->firstRow;
  stored->state = ROW_STORED;
  const int32_t qty = 5;
  ASSERT_TRUE(UpdateRowObject("Items", stored, "QTY", &qty, 4));  // state 5
  ASSERT_TRUE(DeleteRowObject("Items", stored));                  // marked only: no change sent
  ASSERT_TRUE(DeleteRowObject("Items", items->lastRow));          // state 2, removed
  EXPECT_EQ(g_heard, (std::vector<std::string>{"all:Items:2", "all:Items:2", "updates:Items:5", "all:Items:5",
                                               "all:Items:2"}));
  EXPECT_TRUE(Logged("Listener off  disabled\n"));
  EXPECT_TRUE(Logged("Listener not registered for Items table\n"));
  EXPECT_TRUE(Logged("Listener not registered for Eventype 2\n"));
}

TEST_F(NotificationTest, RegistrationByName) {
  const char* tables[] = {"Items", nullptr};
  ASSERT_TRUE(AddNotificationListener("Watch", 0, Record, 1, tables));
  EXPECT_TRUE(Logged("Listener with name Watch added\n"));
  EXPECT_TRUE(AddNotificationListener("WATCH", ROW_MODIFIED, nullptr, 0, tables));
  EXPECT_TRUE(Logged("Listener with same name exists WATCH\n"));
  AddItems({{"a", 1}});
  EXPECT_EQ(g_heard.size(), 1u);  // the first registration still holds

  ASSERT_TRUE(DisableNotification("watch"));
  EXPECT_TRUE(Logged("Listener with name watch disabled\n"));
  AddItems({{"b", 2}});
  EXPECT_EQ(g_heard.size(), 1u);
  EXPECT_FALSE(DisableNotification("nosuch"));
  EXPECT_TRUE(Logged("Listener with name nosuch doesn't exists\n"));
  ASSERT_TRUE(RemoveNotification("Watch"));
  EXPECT_TRUE(Logged("Listener with name Watch removed\n"));
  EXPECT_FALSE(RemoveNotification("Watch"));
  EXPECT_FALSE(DisableNotification("Watch"));  // no listeners at all

  ASSERT_TRUE(AddNotificationListener("one", 0, Record, 1, tables));
  ASSERT_TRUE(AddNotificationListener("two", 0, Record, 1, tables));
  DeInitNotification();
  AddItems({{"c", 3}});
  EXPECT_EQ(g_heard.size(), 1u);
  InitNotification();
}

// The notification's row is a copy: a type-18 value is eleven flat bytes that
// the listener can read, and the copy is gone after the call.
std::string g_copied;
const RowObject* g_copy = nullptr;
int32_t CopyDateTime(IMDSNotification* notification, const char*) {
  g_copy = notification->row;
  g_copied.assign(static_cast<const char*>(notification->row->values[kSeen]), notification->row->lengths[kSeen]);
  EXPECT_NE(notification->time, nullptr);
  EXPECT_EQ(notification->row->next, nullptr);
  return 1;
}

TEST_F(NotificationTest, RowCopyOfADateTime) {
  const char* tables[] = {"Items", nullptr};
  ASSERT_TRUE(AddNotificationListener("copy", 0, CopyDateTime, 1, tables));
  std::vector<Cell> cells(kItemColumns);
  int32_t length = 19;
  void* seen = ConvertTextToColumnValue("2024-03-05 07:08:09", &length, ORV_SQL_DATETIME);
  cells[kSeen] = std::string(static_cast<const char*>(seen), length);
  free(seen);
  RowObject* row = MakeRow(cells);
  ASSERT_TRUE(AddNewRow("Items", row));
  EXPECT_EQ(g_copied, *cells[kSeen]);
  EXPECT_NE(g_copy, row);
  EXPECT_EQ(CreateIMDSNotification(row, "Nosuch"), nullptr);
}

// During a delete by criteria, each delete calls a listener that selects
// with criteria of its own: the criteria lock is free by then.
int32_t SelectDuringDelete(IMDSNotification*, const char*) {
  ResultData* left = SelectRows("Items", "QTY>=2");
  g_heard.push_back(std::to_string(left ? left->rowCount : -1));
  FreeResultData(left);
  return 0;
}

TEST_F(NotificationTest, ListenerSelectsDuringDeleteByCriteria) {
  AddItems({{"a", 1}, {"b", 2}, {"c", 3}, {"d", 4}});
  const char* tables[] = {"Items", nullptr};
  ASSERT_TRUE(AddNotificationListener("select", 0, SelectDuringDelete, 1, tables));
  ASSERT_TRUE(DeleteRowObjectByCriteria("Items", "QTY>1 and QTY<4"));
  EXPECT_EQ(g_heard, (std::vector<std::string>{"2", "1"}));
}

// A callback that changes the listener list while the listeners of one change
// are being called: "first" runs the case's action, then every listener
// records what it heard. Two rows are added.
void (*g_action)() = nullptr;
const char* g_watched[] = {"Items", nullptr};

int32_t ActThenRecord(IMDSNotification* notification, const char* listenerName) {
  if (std::string(listenerName) == "first" && g_action) g_action();
  return Record(notification, listenerName);
}

TEST_F(NotificationTest, CallbacksMayChangeTheListenerList) {
  struct Case {
    const char* what;
    void (*action)();
    std::vector<std::string> heard;
  } cases[] = {
      {"removes the next listener", [] { RemoveNotification("second"); },
       {"first:Items:2", "third:Items:2", "first:Items:2", "third:Items:2"}},
      {"removes itself", [] { RemoveNotification("first"); },
       {"first:Items:2", "second:Items:2", "third:Items:2", "second:Items:2", "third:Items:2"}},
      {"removes every listener", [] { DeInitNotification(); }, {"first:Items:2"}},
      {"adds a listener", [] { AddNotificationListener("fourth", 0, ActThenRecord, 1, g_watched); },
       {"first:Items:2", "second:Items:2", "third:Items:2", "first:Items:2", "second:Items:2", "third:Items:2",
        "fourth:Items:2"}},
  };
  for (const Case& c : cases) {
    g_heard.clear();
    g_action = c.action;
    for (const char* name : {"first", "second", "third"})
      ASSERT_TRUE(AddNotificationListener(name, 0, ActThenRecord, 1, g_watched));
    AddItems({{"a", 1}, {"b", 2}});
    EXPECT_EQ(g_heard, c.heard) << c.what;
    DeInitNotification();
  }
  g_action = nullptr;
}

// A listener that deletes the row it hears added: the listeners after it
// still hear of the addition, and the row is gone afterwards; a caller that
// keeps the row within a row walk of its own can still read it and see that
// it is in no table.
int32_t DeleteAdded(IMDSNotification* notification, const char* listenerName) {
  Record(notification, listenerName);
  if (notification->row->state == ROW_NEW && GetTableDataByName("Items")->lastRow)
    DeleteRowObject("Items", GetTableDataByName("Items")->lastRow);
  return 0;
}

TEST_F(NotificationTest, AListenerDeletesTheRowItHearsAdded) {
  const char* tables[] = {"Items", nullptr};
  ASSERT_TRUE(AddNotificationListener("deleter", ROW_NEW, DeleteAdded, 1, tables));
  ASSERT_TRUE(AddNotificationListener("after", ROW_NEW, Record, 1, tables));
  AddItems({{"a", 1}, {"b", 2}});
  EXPECT_EQ(GetTableDataByName("Items")->rowCount, 0);
  // Each addition, and inside it the removal, which the deleter hears first.
  EXPECT_EQ(std::count(g_heard.begin(), g_heard.end(), "after:Items:2"), 4);
  EXPECT_EQ(std::count(g_heard.begin(), g_heard.end(), "deleter:Items:2"), 4);
  {
    RowWalk walk;
    RowObject* kept = Item("kept", 3);
    ASSERT_TRUE(AddNewRow("Items", kept));
    EXPECT_EQ(kept->table, nullptr);
    EXPECT_EQ(ValueText(kept, kName), "kept");
  }
  EXPECT_EQ(GetTableDataByName("Items")->rowCount, 0);
}

// Deleting a row makes the listener delete another row that the walk has yet
// to reach (a cascade): every row is deleted once and the listener hears each.
const char* g_cascade[][2] = {{"a", "c"}, {"b", "d"}};
int32_t Cascade(IMDSNotification* notification, const char* listenerName) {
  const std::string name = ValueText(notification->row, kName);
  g_heard.push_back(name);
  for (const auto& [deleted, follows] : g_cascade)
    if (name == deleted)
      if (RowObject* next = FindRow("Items", kName, follows)) DeleteRowObject("Items", next);
  (void)listenerName;
  return 0;
}

TEST_F(NotificationTest, CascadingDeletesDuringAWalk) {
  struct Case {
    const char* what;
    bool (*deleteRows)();
    std::vector<std::string> heard;
    std::vector<std::string> left;
  } cases[] = {
      {"by criteria", [] { return DeleteRowObjectByCriteria("Items", "QTY<9"); }, {"a", "c", "b", "d", "e"}, {"z"}},
      {"every row", [] { return DeleteAllTableRowObjects("Items"); }, {"a", "c", "b", "d", "e", "z"}, {}},
  };
  const char* tables[] = {"Items", nullptr};
  for (const Case& c : cases) {
    g_heard.clear();
    AddItems({{"a", 1}, {"b", 1}, {"c", 1}, {"d", 1}, {"e", 1}, {"z", 9}});
    ASSERT_TRUE(AddNotificationListener("cascade", 0, Cascade, 1, tables));
    EXPECT_TRUE(c.deleteRows()) << c.what;
    EXPECT_EQ(g_heard, c.heard) << c.what;
    ResultData* all = SelectRows("Items", nullptr);
    EXPECT_EQ(Names(all), c.left) << c.what;
    FreeResultData(all);
    DeInitNotification();
    DeleteAllTableRowObjects("Items");
  }
}

TEST(IsListContainsTest, BinarySearchWithoutRegardToCase) {
  const char* sorted[] = {"alpha", "Beta", "gamma", "ZETA", nullptr};
  const char* none[] = {nullptr};
  struct Case {
    const char* const* list;
    const char* name;
    bool found;
  } cases[] = {{sorted, "ALPHA", true}, {sorted, "beta", true},   {sorted, "Gamma", true}, {sorted, "zeta", true},
               {sorted, "delta", false}, {sorted, "zz", false},   {none, "alpha", false},  {nullptr, "a", false},
               {sorted, nullptr, false}};
  for (const Case& c : cases) EXPECT_EQ(IsListContains(c.list, c.name), c.found) << (c.name ? c.name : "-");
}

}  // namespace
}  // namespace storetest
