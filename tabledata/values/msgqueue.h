// A queue of received messages over the support library's vector: one thread
// appends what it receives, another takes the oldest message for processing.
#pragma once
#include "tabledata/vector.h"

// Appends a copy of the message text; false (ERROR "Buffer allocation is
// failed !!!\n" when memory runs out) for a null queue or message or a failure.
bool AddRcvdMsgToQueue(Vector* queue, const char* message);
// Removes the oldest message under the queue's lock and hands it to the caller
// (free() it); null when the queue is empty.
char* ReadMsgFromQueueForProcessing(Vector* queue);
