// The support library's vector: a singly linked list of untyped elements with a
// count, a tail and an optional ordering comparator. Every list of the
// table-data store is one of these; a vector may be shared between threads.
#pragma once
#include <cstdint>

// One list node: a heap block (malloc) of two pointers. The element is never
// owned by the vector; nodes are.
struct VectorNode {
  void* element;
  VectorNode* next;
};

// Orders a new node against an existing one: negative when the new node sorts
// before, 0 when they are equal, positive when it sorts after.
using VectorComparator = int8_t (*)(VectorNode* newNode, VectorNode* existingNode);

// Held by value inside other records, or allocated by CreateVector.
// With a comparator the list is kept ascending and duplicates are refused.
struct Vector {
  VectorNode* head;
  int32_t count;
  VectorNode* tail;
  VectorComparator comparator;
};

// Ownership:
// - The vector owns its nodes and frees them (free()) when they are deleted or
//   the vector is freed. Nodes handed to AddElement / InsertElementAt must
//   therefore come from malloc (CreateVectorNode does that).
// - The vector never frees elements: callers free elements first, then the
//   nodes (FreeVector), then the Vector record itself (free()) when it came
//   from CreateVector.
// - A node pointer handed in is owned by the vector only when the call
//   succeeds; on false the caller still owns it.
//
// Locking: the operations marked [locks] hold LockObject on the vector's own
// address for their whole run. The lock is not re-entrant: a comparator must
// not call a locking operation on the vector it orders. A node returned by
// ElementAt is read after the lock is released; callers that share a vector
// between threads serialise structural changes themselves.

// Empty list; the comparator (may be null) orders later insertions.
void InitVector(Vector* vector, VectorComparator comparator);
// A new empty vector without comparator (malloc'd; free() it after FreeVector),
// or null with ERROR "MEMORY_ALLOCATION_FAILURE\n".
Vector* CreateVector();
// A new node (malloc'd) holding element, next null; null when out of memory.
VectorNode* CreateVectorNode(void* element);

// [locks] Appends the node, or with a comparator inserts it in order; false
// when the comparator finds an equal element already there (the node is then
// not taken) or for a null vector or node.
bool AddElement(Vector* vector, VectorNode* node);
// Allocates a node for element and adds it; false when allocation fails or the
// element is refused as a duplicate (the node is then freed, the element not).
bool AddElementData(Vector* vector, void* element);
// [locks] Links the node in at a 0-based position (0 to count; count appends
// and makes it the tail). The comparator is not consulted.
bool InsertElementAt(Vector* vector, VectorNode* node, int32_t position);
// [locks] Unlinks and frees the node, searched by identity. False only for an
// empty (or null) vector; true when the vector is non-empty, found or not.
bool DeleteElement(Vector* vector, VectorNode* node);
// [locks] Unlinks and frees the node at a position from 0 to count - 1.
bool DeleteElementAt(Vector* vector, int32_t position);
// Deletes the first node whose element is that very pointer; false when none.
bool DeleteLCDVector(Vector* vector, const void* element);
// [locks] The node at a position from 0 to count - 1, else null. Iterate by
// taking ElementAt(vector, 0) and following next.
VectorNode* ElementAt(Vector* vector, int32_t position);
// Without locking: the node n steps after start; null when n is outside 0 to
// count - 1, the vector is empty, or the list ends first.
VectorNode* GetNthElement(Vector* vector, int32_t n, VectorNode* start);
// Moves every element of source, in order, into target (ordered insertion when
// target has a comparator; refused duplicates are dropped from both vectors,
// their elements are not freed) and leaves source empty. Returns 1 (99 would
// mean an allocation failure; the nodes are moved, so none can happen).
int32_t MergeVector(Vector* target, Vector* source);
// A new vector without comparator holding a malloc'd copy of every element,
// each taken as a zero-terminated text (a null element stays null). Null when
// vector is null (ERROR "Cannot clone vector.  Vector is NULL.\n") or a copy
// fails (nothing is left allocated). The caller frees the copies, then the
// nodes (FreeVector), then the vector (free()).
Vector* CloneVector(Vector* vector);
// [locks] Frees every node; head and tail null, count 0. Elements, comparator
// and the Vector record itself stay.
void FreeVector(Vector* vector);
