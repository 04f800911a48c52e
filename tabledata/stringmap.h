// The support library's string map: a hash table from texts to untyped
// pointers, of a fixed size (the sequence cache) or growing with its keys (the
// XML loader's ID map). No locking; callers that share a map serialise
// themselves.
#pragma once
#include <cstdint>

// One entry of a bucket's chain. The key is the map's own copy; the value is
// never owned by the map. In a map of a fixed size a bucket's head entry is
// allocated with the map and has a null key while the bucket is empty; in a
// growing map an empty bucket is null, and entries and keys live in blocks of
// the map's own until it is freed (a removed key's room included).
struct StringMapEntry {
  char* key;
  void* value;
  StringMapEntry* next;
};

// Storage of a growing map's entries.
struct StringMapBlock;

// Held by the caller (by value or allocated); InitStringMap fills it.
struct StringMap {
  StringMapEntry** buckets;  // bucketCount head entries
  int32_t bucketCount;
  int32_t entryCount = 0;             // keys held
  bool grows = false;                 // made by InitGrowingStringMap
  StringMapBlock* blocks = nullptr;   // a growing map's entries and keys
};

// Keys are compared exactly (case-sensitive). A key's bucket: h = 0, then for
// each byte c of the key (taken as unsigned) h = (h * 26 + c) mod bucketCount.

// Allocates the buckets (a count of 0 means 10); false for a negative count or
// when an allocation fails (nothing is left allocated). The map keeps that
// many buckets for its whole life.
bool InitStringMap(StringMap* map, int32_t bucketCount);
// The same for a map that grows: whenever its keys come to outnumber its
// buckets twice, the buckets are rebuilt about twice as many (a count that
// shares no factor with 26, so that the bucket formula spreads the keys), so a
// lookup costs the same for a thousand keys as for millions. Entries keep
// their addresses when the buckets grow, and a growth that cannot have its
// memory leaves the map as it was, only slower. Every operation below works
// on both kinds.
bool InitGrowingStringMap(StringMap* map, int32_t bucketCount);
// Maps key (copied) to value. An existing key gets the new value; the old value
// is not freed. False for a null key or when the key cannot be copied.
bool PutStringMap(StringMap* map, const char* key, void* value);
// The entry of key, added with a null value when the map lacks the key
// (*added, when given, tells which); null for a null key or when the key
// cannot be added. One lookup for a caller that fills the value only when the
// key is new.
StringMapEntry* FindOrAddStringMapEntry(StringMap* map, const char* key, bool* added);
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
