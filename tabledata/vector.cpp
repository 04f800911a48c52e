// The support library's vector (see vector.h): list upkeep, ordered insertion
// by bisection over positions, and the per-vector object lock.
#include "tabledata/vector.h"

#include <cstdlib>

#include "agent/log/logger.h"
#include "agent/log/objectlock.h"
#include "tabledata/strutil.h"

namespace {

// Unlinks cur (whose predecessor is prev, null for the head) and frees it.
// Caller holds the vector's lock.
void UnlinkAndFree(Vector* vector, VectorNode* prev, VectorNode* cur) {
  if (prev)
    prev->next = cur->next;
  else
    vector->head = cur->next;
  if (vector->tail == cur) vector->tail = prev;
  if (vector->count > 0) --vector->count;
  free(cur);
}

// Appends without consulting the comparator. Caller holds the lock.
void Append(Vector* vector, VectorNode* node) {
  node->next = nullptr;
  if (!vector->head) {
    vector->head = node;
    vector->tail = node;
    return;
  }
  VectorNode* last = vector->tail;
  if (!last) {
    last = vector->head;
    while (last->next) last = last->next;
  }
  last->next = node;
  vector->tail = node;
}

// Ordered insertion into a non-empty vector: bisection over positions keeps
// the number of comparator calls logarithmic, though reaching a position still
// walks the list. False when an equal element is found. Caller holds the lock.
bool InsertOrdered(Vector* vector, VectorNode* node) {
  int32_t a = 0;
  int32_t b = vector->count;
  VectorNode* nodeA = vector->head;
  int8_t cmpA = 0;
  bool comparedA = false;
  while (b - a > 1) {
    int32_t probePos = a + (b - a + 1) / 2;
    VectorNode* probe = GetNthElement(vector, probePos - a, nodeA);
    if (!probe) break;  // the list is shorter than its count says: settle on a
    int8_t c = vector->comparator(node, probe);
    if (c == 0) return false;
    if (c < 0) {
      b = probePos;
    } else {
      a = probePos;
      nodeA = probe;
      cmpA = c;
      comparedA = true;
    }
  }
  // A node at a > 0 was only ever moved to after comparing positive.
  if (!comparedA) cmpA = vector->comparator(node, nodeA);
  if (cmpA == 0) return false;
  if (cmpA < 0) {
    // Only reachable with a = 0: the new node becomes the head.
    node->next = vector->head;
    vector->head = node;
    return true;
  }
  // Between nodeA and its successor, which (when present) already compared
  // negative as the upper bound of the bisection. Keeping the tail exact lets
  // positional calls use it on ordered vectors too.
  node->next = nodeA->next;
  nodeA->next = node;
  if (!node->next) vector->tail = node;
  return true;
}

}  // namespace

void InitVector(Vector* vector, VectorComparator comparator) {
  LogTrace("\n\t@@@@@ Inside InitVector() @@@@@ \n");
  if (!vector) return;
  vector->head = nullptr;
  vector->tail = nullptr;
  vector->count = 0;
  vector->comparator = comparator;
}

Vector* CreateVector() {
  LogTrace("\n\t@@@@@ Inside CreateVector() @@@@@ \n");
  Vector* vector = static_cast<Vector*>(malloc(sizeof(Vector)));
  if (!vector) {
    LogError("MEMORY_ALLOCATION_FAILURE\n");
    return nullptr;
  }
  InitVector(vector, nullptr);
  return vector;
}

VectorNode* CreateVectorNode(void* element) {
  VectorNode* node = static_cast<VectorNode*>(malloc(sizeof(VectorNode)));
  if (!node) return nullptr;
  node->element = element;
  node->next = nullptr;
  return node;
}

bool AddElement(Vector* vector, VectorNode* node) {
  LogTrace("\n\t@@@@@ Inside AddElement() @@@@@ \n");
  if (!vector || !node) return false;
  LockObject(vector);
  node->next = nullptr;
  bool added = true;
  if (!vector->head || !vector->comparator)
    Append(vector, node);
  else
    added = InsertOrdered(vector, node);
  if (added) ++vector->count;
  UnlockObject(vector);
  return added;
}

bool AddElementData(Vector* vector, void* element) {
  LogTrace("\n\t@@@@@ Inside AddElementData() @@@@@ \n");
  if (!vector) return false;
  VectorNode* node = CreateVectorNode(element);
  if (!node) {
    LogError("MEMORY_ALLOCATION_FAILURE\n");
    return false;
  }
  if (!AddElement(vector, node)) {
    free(node);
    return false;
  }
  return true;
}

bool InsertElementAt(Vector* vector, VectorNode* node, int32_t position) {
  LogTrace("\n\t@@@@@ Inside InsertElementAt() @@@@@ \n");
  if (!vector || !node) return false;
  LockObject(vector);
  if (position < 0 || position > vector->count) {
    UnlockObject(vector);
    return false;
  }
  if (position == vector->count) {
    Append(vector, node);
  } else if (position == 0) {
    node->next = vector->head;
    vector->head = node;
  } else {
    VectorNode* before = vector->head;
    for (int32_t i = 0; i < position - 1 && before; ++i) before = before->next;
    if (!before) {  // the list is shorter than its count says
      UnlockObject(vector);
      return false;
    }
    node->next = before->next;
    before->next = node;
    if (!node->next) vector->tail = node;
  }
  ++vector->count;
  UnlockObject(vector);
  return true;
}

bool DeleteElement(Vector* vector, VectorNode* node) {
  LogTrace("\n\t@@@@@ Inside DeleteElement() @@@@@ \n");
  if (!vector) return false;
  LockObject(vector);
  if (!vector->head) {
    UnlockObject(vector);
    return false;
  }
  VectorNode* prev = nullptr;
  VectorNode* cur = vector->head;
  while (cur && cur != node) {
    prev = cur;
    cur = cur->next;
  }
  if (cur) UnlinkAndFree(vector, prev, cur);
  UnlockObject(vector);
  return true;
}

bool DeleteElementAt(Vector* vector, int32_t position) {
  LogTrace("\n\t@@@@@ Inside DeleteElementAt() @@@@@ \n");
  if (!vector) return false;
  LockObject(vector);
  bool deleted = false;
  if (position >= 0 && position < vector->count) {
    VectorNode* prev = nullptr;
    VectorNode* cur = vector->head;
    for (int32_t i = 0; i < position && cur; ++i) {
      prev = cur;
      cur = cur->next;
    }
    if (cur) {
      UnlinkAndFree(vector, prev, cur);
      deleted = true;
    }
  }
  UnlockObject(vector);
  return deleted;
}

bool DeleteLCDVector(Vector* vector, const void* element) {
  LogTrace("\n\t@@@@@ Inside DeleteLCDVector() @@@@@ \n");
  if (!vector) return false;
  int32_t position = 0;
  for (VectorNode* node = ElementAt(vector, 0); node; node = node->next, ++position) {
    if (node->element == element) return DeleteElementAt(vector, position);
  }
  return false;
}

VectorNode* ElementAt(Vector* vector, int32_t position) {
  LogTrace("\n\t@@@@@ Inside ElementAt() @@@@@ \n");
  if (!vector) return nullptr;
  LockObject(vector);
  VectorNode* node = nullptr;
  if (position >= 0 && position < vector->count) {
    node = vector->head;
    for (int32_t i = 0; i < position && node; ++i) node = node->next;
  }
  UnlockObject(vector);
  return node;
}

VectorNode* GetNthElement(Vector* vector, int32_t n, VectorNode* start) {
  LogTrace("\n\t@@@@@ Inside GetNthElement() @@@@@ \n");
  if (!vector || !vector->head || vector->count <= 0) return nullptr;
  if (n < 0 || n >= vector->count) return nullptr;
  VectorNode* node = start;
  for (int32_t i = 0; i < n && node; ++i) node = node->next;
  return node;
}

int32_t MergeVector(Vector* target, Vector* source) {
  LogTrace("\n\t@@@@@ Inside MergeVector() @@@@@ \n");
  if (!target || !source) return 1;
  // Take the whole chain out of the source first, so every element ends up in
  // exactly one place even if another thread touches the source meanwhile.
  LockObject(source);
  VectorNode* chain = source->head;
  source->head = nullptr;
  source->tail = nullptr;
  source->count = 0;
  UnlockObject(source);
  while (chain) {
    VectorNode* node = chain;
    chain = chain->next;
    if (!AddElement(target, node)) free(node);  // a duplicate: dropped
  }
  return 1;
}

Vector* CloneVector(Vector* vector) {
  LogTrace("@@@@ Inside CloneVector @@@@\n");
  if (!vector) {
    LogError("Cannot clone vector.  Vector is NULL.\n");
    return nullptr;
  }
  Vector* clone = CreateVector();
  if (!clone) return nullptr;
  bool ok = true;
  for (VectorNode* node = ElementAt(vector, 0); node && ok; node = node->next) {
    char* copy = nullptr;
    if (node->element && DuplicateString(&copy, static_cast<const char*>(node->element)) != 1) {
      ok = false;
      break;
    }
    VectorNode* added = CreateVectorNode(copy);
    if (!added || !AddElement(clone, added)) {
      free(added);
      free(copy);
      ok = false;
    }
  }
  if (!ok) {
    LogError("MEMORY_ALLOCATION_FAILURE\n");
    for (VectorNode* node = clone->head; node; node = node->next) free(node->element);
    FreeVector(clone);
    free(clone);
    return nullptr;
  }
  return clone;
}

void FreeVector(Vector* vector) {
  LogTrace("\n\t@@@@@ Inside FreeVector() @@@@@ \n");
  if (!vector) return;
  LockObject(vector);
  VectorNode* node = vector->head;
  while (node) {
    VectorNode* next = node->next;
    free(node);
    node = next;
  }
  vector->head = nullptr;
  vector->tail = nullptr;
  vector->count = 0;
  UnlockObject(vector);
}
