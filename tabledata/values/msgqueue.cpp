// The received-message queue (see msgqueue.h).
#include "tabledata/values/msgqueue.h"

#include <cstdlib>

#include "agent/log/logger.h"
#include "agent/log/objectlock.h"
#include "tabledata/strutil.h"

bool AddRcvdMsgToQueue(Vector* queue, const char* message) {
  if (!queue || !message) return false;
  char* copy = nullptr;
  if (DuplicateString(&copy, message) != 1 || !AddElementData(queue, copy)) {
    free(copy);
    LogError("Buffer allocation is failed !!!\n");
    return false;
  }
  return true;
}

char* ReadMsgFromQueueForProcessing(Vector* queue) {
  if (!queue) return nullptr;
  // Taking the head and unlinking it is one step under the vector's own lock,
  // so two readers never get the same message.
  LockObject(queue);
  VectorNode* head = queue->head;
  if (head) {
    queue->head = head->next;
    if (queue->tail == head) queue->tail = nullptr;
    if (queue->count > 0) --queue->count;
  }
  UnlockObject(queue);
  if (!head) return nullptr;
  char* message = static_cast<char*>(head->element);
  free(head);
  return message;
}
