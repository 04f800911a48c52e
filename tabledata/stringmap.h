// The support library's string map: a fixed-size hash table from texts to
// untyped pointers (the XML loader's ID map, the sequence cache). No locking;
// callers that share a map serialise themselves.
#pragma once
#include <cstdint>

// One entry of a bucket's chain. The key is the map's own copy (malloc'd);
// the value is never owned by the map. A bucket's head entry is allocated
// with the map and has a null key while the bucket is empty.
struct StringMapEntry {
  char* key;
  void* value;
  StringMapEntry* next;
};

// Held by the caller (by value or allocated); InitStringMap fills it.
struct StringMap {
  StringMapEntry** buckets;  // bucketCount head entries
  int32_t bucketCount;
};

// Keys are compared exactly (case-sensitive). A key's bucket: h = 0, then for
// each byte c of the key (taken as unsigned) h = (h * 26 + c) mod bucketCount.

// Allocates the buckets (a count of 0 means 10); false for a negative count or
// when an allocation fails (nothing is left allocated).
bool InitStringMap(StringMap* map, int32_t bucketCount);
// Maps key (copied) to value. An existing key gets the new value; the old value
// is not freed. False for a null key or when the key cannot be copied.
bool PutStringMap(StringMap* map, const char* key, void* value);
// The value mapped to key, or null when the key is absent.
void* GetStringMap(const StringMap* map, const char* key);
// The entry of key, or null. It stays valid until that key is removed or the
// map freed; removing other keys never moves it.
StringMapEntry* FindStringMapEntry(const StringMap* map, const char* key);
bool ContainsStringMapKey(const StringMap* map, const char* key);
// Removes key (its copy is freed, its value not); false when absent.
bool RemoveStringMapKey(StringMap* map, const char* key);
int32_t CountStringMap(const StringMap* map);
// A malloc'd array of every key followed by null; the keys stay owned by the
// map, the caller free()s only the array. Null when out of memory.
char** GetStringMapKeys(const StringMap* map);
// Puts every key of source that target lacks into target, with the source's
// value; false when a put fails (the entries put so far stay).
bool CopyMissingStringMapEntries(const StringMap* source, StringMap* target);
// Frees every key, every entry and the bucket array; values are not freed.
// Leaves the map with no buckets (InitStringMap makes it usable again).
void FreeStringMap(StringMap* map);
