// Change notifications of the table-data store: listeners registered by name
// are called whenever a row of a table they watch is added, updated or removed.
#pragma once
#include <cstdint>

#include "tabledata/store/tabledata.h"
#include "tabledata/values/datetime.h"

// One change, built for the listeners and freed after they all ran.
struct IMDSNotification {
  char* tableName;
  RowObject* row;  // a copy: every value and length, the same state, no successor
  int32_t columnCount;
  OrvDateTime* time;  // local time of the change
};

// Called for each matching change with the listener's name; the result is ignored.
using NotificationCallback = int32_t (*)(IMDSNotification* notification, const char* listenerName);

struct NotificationListener {
  char* name;           // the listener's own copy; unique without regard to case
  const char** tables;  // the caller's null-terminated array, sorted at registration
  uint8_t enabled;
  uint8_t eventType;    // 0 = every change, else a row state of interest
  NotificationCallback callback;
  // Removed while listeners were being called: no longer found or called,
  // and freed once the outermost SendNotification is done with the list.
  uint8_t removed;
};

// Removes every listener.
void InitNotification();
// Registers a listener, sorting its tables in place (ascending, without regard
// to case). A listener of the same name already there: ERROR, true, nothing added.
bool AddNotificationListener(const char* name, uint8_t eventType, NotificationCallback callback, uint8_t enabled,
                             const char** tables);
bool DisableNotification(const char* name);
bool RemoveNotification(const char* name);
// Calls every enabled listener that watches the table and the row's state,
// each registered when the call began and not removed before its turn. A
// callback may add and remove listeners (itself included) and change rows.
void SendNotification(const RowObject* row, const char* tableName);
// Whether listeners are being called (the caller runs inside a callback).
bool IsSendingNotification();
// Null for an unknown table or when memory runs out.
IMDSNotification* CreateIMDSNotification(const RowObject* row, const char* tableName);
void FreeIMDSNotification(IMDSNotification* notification);
// Binary search of a sorted, null-terminated array, without regard to case.
bool IsListContains(const char* const* sortedTables, const char* name);
void DeInitNotification();
