// Change notifications (see notification.h): the process-wide listener vector,
// in registration order, and the notification built for each change.
#include "tabledata/store/notification.h"

#include <cstdlib>

#include "agent/log/logger.h"
#include "tabledata/strutil.h"

namespace {

Vector& Listeners() {
  static Vector listeners{nullptr, 0, nullptr, nullptr};
  return listeners;
}

// How many SendNotification calls are walking the listener list: while one
// is, removed listeners stay in the list (marked) so that its walk can go on.
int32_t g_sending = 0;

NotificationListener* ListenerOf(const VectorNode* node) { return static_cast<NotificationListener*>(node->element); }

NotificationListener* FindListener(const char* name) {
  for (VectorNode* n = ElementAt(&Listeners(), 0); n; n = n->next) {
    NotificationListener* listener = ListenerOf(n);
    if (!listener->removed && CompareStringsNoCase(listener->name, name) == 0) return listener;
  }
  return nullptr;
}

bool AnyListener() {
  for (VectorNode* n = ElementAt(&Listeners(), 0); n; n = n->next)
    if (!ListenerOf(n)->removed) return true;
  return false;
}

void FreeListener(NotificationListener* listener) {
  free(listener->name);
  free(listener);
}

// Takes a listener out: at once, or while listeners are being called by
// marking it for the sweep that follows the outermost call.
void Remove(NotificationListener* listener) {
  if (g_sending > 0) {
    listener->removed = 1;
    return;
  }
  DeleteLCDVector(&Listeners(), listener);
  FreeListener(listener);
}

// Frees the listeners that were removed while listeners were being called.
void SweepRemoved() {
  VectorNode* n = ElementAt(&Listeners(), 0);
  while (n) {
    VectorNode* next = n->next;
    NotificationListener* listener = ListenerOf(n);
    if (listener->removed) {
      DeleteElement(&Listeners(), n);
      FreeListener(listener);
    }
    n = next;
  }
}

// Removes every listener, logging each name when asked to.
void RemoveAll(bool logEach) {
  VectorNode* n = ElementAt(&Listeners(), 0);
  while (n) {
    VectorNode* next = n->next;
    NotificationListener* listener = ListenerOf(n);
    if (!listener->removed) {
      if (logEach) LogTrace("Listener with name %s removed\n", listener->name);
      Remove(listener);
    }
    n = next;
  }
}

// An exchange sort: the arrays are a listener's few table names.
void SortTables(const char** tables) {
  if (!tables) return;
  for (int32_t i = 1; tables[i - 1] && tables[i]; ++i)
    for (int32_t j = i; j > 0 && CompareStringsNoCase(tables[j - 1], tables[j]) > 0; --j) {
      const char* t = tables[j];
      tables[j] = tables[j - 1];
      tables[j - 1] = t;
    }
}

// Whether a listener of eventType hears of a row in state: the state itself,
// or with the deleted, modified or stored bit added.
bool Listens(uint8_t eventType, uint8_t state) {
  return eventType == 0 || state == eventType || state == (eventType | ROW_DELETED) ||
         state == (eventType | ROW_MODIFIED) || state == (eventType | ROW_STORED);
}

}  // namespace

void InitNotification() { RemoveAll(false); }

bool IsSendingNotification() { return g_sending > 0; }

bool AddNotificationListener(const char* name, uint8_t eventType, NotificationCallback callback, uint8_t enabled,
                             const char** tables) {
  LogTrace("In Add notification Listener\n");
  if (!name) return false;
  if (FindListener(name)) {
    LogError("Listener with same name exists %s\n", name);
    return true;
  }
  NotificationListener* listener = static_cast<NotificationListener*>(calloc(1, sizeof(NotificationListener)));
  if (!listener || DuplicateString(&listener->name, name) != 1) {
    LogError("Buffer Allocation is failed for listener!!!\n");
    free(listener);
    return false;
  }
  listener->tables = tables;
  listener->enabled = enabled;
  listener->eventType = eventType;
  listener->callback = callback;
  VectorNode* node = CreateVectorNode(listener);
  if (!node) {
    LogError("Buffer allocation is failed for nodePtr !!!\n");
    FreeListener(listener);
    return false;
  }
  SortTables(tables);
  AddElement(&Listeners(), node);
  LogDebug("Listener with name %s added\n", name);
  return true;
}

bool DisableNotification(const char* name) {
  LogTrace("In Disable notification\n");
  if (!AnyListener()) return false;
  NotificationListener* listener = name ? FindListener(name) : nullptr;
  if (!listener) {
    LogError("Listener with name %s doesn't exists\n", name);
    return false;
  }
  listener->enabled = 0;
  LogDebug("Listener with name %s disabled\n", name);
  return true;
}

bool RemoveNotification(const char* name) {
  LogTrace("In Remove notification\n");
  NotificationListener* listener = name ? FindListener(name) : nullptr;
  if (!listener) {
    LogError("Listener with name %s doesn't exists\n", name);
    return false;
  }
  LogDebug("Listener with name %s removed\n", name);
  Remove(listener);
  return true;
}

void SendNotification(const RowObject* row, const char* tableName) {
  LogTrace("In send notification\n");
  if (!AnyListener()) return;
  IMDSNotification* notification = CreateIMDSNotification(row, tableName);
  if (!notification) return;
  // Callbacks may change the list and the row: the walk ends at the listener
  // that was last when it began (listeners added meanwhile hear of the next
  // change), removed ones stay linked until the outermost walk is done, and
  // the row is read from its copy (a callback may have deleted the row).
  const uint8_t state = notification->row->state;
  ++g_sending;
  const VectorNode* last = Listeners().tail;
  for (VectorNode* n = ElementAt(&Listeners(), 0); n; n = n == last ? nullptr : n->next) {
    const NotificationListener* listener = ListenerOf(n);
    if (listener->removed) continue;
    if (!listener->enabled) {
      LogDebug("Listener %s  disabled\n", listener->name);
    } else if (!IsListContains(listener->tables, tableName)) {
      LogDebug("Listener not registered for %s table\n", tableName);
    } else if (!Listens(listener->eventType, state)) {
      LogDebug("Listener not registered for Eventype %d\n", state);
    } else if (listener->callback) {
      listener->callback(notification, listener->name);
    }
  }
  if (--g_sending == 0) SweepRemoved();
  FreeIMDSNotification(notification);
}

IMDSNotification* CreateIMDSNotification(const RowObject* row, const char* tableName) {
  LogTrace("In CreateIMDSNotification \n");
  const TableData* table = GetTableDataByName(tableName);
  if (!row || !table) return nullptr;
  IMDSNotification* notification = static_cast<IMDSNotification*>(calloc(1, sizeof(IMDSNotification)));
  if (!notification) return nullptr;
  const int32_t count = table->columnCount > 0 ? table->columnCount : 0;
  RowObject* copy = static_cast<RowObject*>(calloc(1, sizeof(RowObject)));
  notification->row = copy;
  notification->columnCount = count;
  bool ok = copy && DuplicateString(&notification->tableName, table->name) == 1 &&
            (copy->values = static_cast<void**>(calloc(static_cast<size_t>(count) + 1, sizeof(void*)))) &&
            (copy->lengths = static_cast<int32_t*>(calloc(static_cast<size_t>(count) + 1, sizeof(int32_t))));
  for (int32_t i = 0; ok && row->values && row->lengths && i < count; ++i) {
    copy->lengths[i] = row->lengths[i];
    if (row->values[i])
      ok = DuplicateBytes(reinterpret_cast<char**>(&copy->values[i]), row->values[i], row->lengths[i]) == 1;
  }
  if (ok) {
    copy->state = row->state;
    ok = (notification->time = GetCurrentOrvDateTime()) != nullptr;
  }
  if (!ok) {
    FreeIMDSNotification(notification);
    return nullptr;
  }
  return notification;
}

void FreeIMDSNotification(IMDSNotification* notification) {
  if (!notification) return;
  free(notification->tableName);
  FreeRowObject(notification->row, notification->columnCount);
  FreeOrvDateTime(notification->time);
  free(notification);
}

bool IsListContains(const char* const* sortedTables, const char* name) {
  LogTrace("@@@ Inside IsListContains @@@\n");
  int32_t high = 0;
  while (sortedTables && sortedTables[high]) ++high;
  int32_t low = 0;
  while (low < high && name) {
    const int32_t middle = low + (high - low) / 2;
    const int8_t order = CompareStringsNoCase(sortedTables[middle], name);
    if (order == 0) return true;
    if (order < 0)
      low = middle + 1;
    else
      high = middle;
  }
  LogDebug("List doesn't contains key \n");
  return false;
}

void DeInitNotification() {
  LogTrace("In DeInit notification\n");
  RemoveAll(true);
}
