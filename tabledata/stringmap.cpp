// The support library's string map (see stringmap.h): bucket choice, chains of
// entries behind preallocated head entries (fixed maps) or kept in blocks
// (growing maps), the growth itself, and whole-map helpers.
#include "tabledata/stringmap.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "tabledata/strutil.h"

// One block of a growing map's entries; the entries follow the header.
struct alignas(std::max_align_t) StringMapBlock {
  StringMapBlock* next;
  size_t used;
  size_t size;
};

namespace {

// A growing map stops growing here: its chains then lengthen, but its bucket
// array stays within reason.
constexpr int32_t kMaxGrownBuckets = 1 << 26;

bool Usable(const StringMap* map) { return map && map->buckets && map->bucketCount > 0; }

// Bytes are taken as unsigned so that a key with bytes above 127 still lands
// in a bucket from 0 to bucketCount - 1. Reducing modulo the count only when
// the sum grows large gives the same bucket as reducing after every byte, with
// a division every few bytes instead of one a byte.
int32_t BucketIndex(const char* key, int32_t bucketCount) {
  const uint64_t n = static_cast<uint64_t>(bucketCount);
  uint64_t h = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(key); *p; ++p) {
    h = h * 26 + *p;
    if (h >= (uint64_t{1} << 56)) h %= n;  // so that h * 26 + 255 stays within 64 bits
  }
  return static_cast<int32_t>(h % n);
}

int32_t BucketOf(const StringMap* map, const char* key) { return BucketIndex(key, map->bucketCount); }

StringMapEntry* NewEntry() {
  StringMapEntry* e = static_cast<StringMapEntry*>(malloc(sizeof(StringMapEntry)));
  if (e) {
    e->key = nullptr;
    e->value = nullptr;
    e->next = nullptr;
  }
  return e;
}

// The next bucket count of a growing map: about twice as many, odd and no
// multiple of 13, so that (h * 26 + c) mod the count reaches every bucket;
// the count itself when the map has grown as far as it may.
int32_t GrownBucketCount(int32_t bucketCount) {
  if (bucketCount > kMaxGrownBuckets / 2) return bucketCount;
  int32_t grown = 2 * bucketCount + 1;
  while (grown % 13 == 0) grown += 2;
  return grown;
}

// A growing map keeps its entries, each with its key beside it, in blocks of
// this size (or one of its own for a longer key), freed with the map: no
// allocation for most keys, and none to free one by one.
constexpr size_t kBlockBytes = 64 * 1024;

// Room for bytes in the map's newest block (a new one when it is full).
void* AllocateInBlocks(StringMap* map, size_t bytes) {
  bytes = (bytes + alignof(StringMapEntry) - 1) / alignof(StringMapEntry) * alignof(StringMapEntry);
  StringMapBlock* block = map->blocks;
  if (!block || block->size - block->used < bytes) {
    const size_t size = bytes > kBlockBytes ? bytes : kBlockBytes;
    block = static_cast<StringMapBlock*>(malloc(sizeof(StringMapBlock) + size));
    if (!block) return nullptr;
    block->next = map->blocks;
    block->used = 0;
    block->size = size;
    map->blocks = block;
  }
  void* room = reinterpret_cast<unsigned char*>(block + 1) + block->used;
  block->used += bytes;
  return room;
}

// A growing map's entry, its key right behind it.
StringMapEntry* NewEntryWithKey(StringMap* map, const char* key) {
  const size_t length = strlen(key);
  StringMapEntry* e = static_cast<StringMapEntry*>(AllocateInBlocks(map, sizeof(StringMapEntry) + length + 1));
  if (!e) return nullptr;
  e->key = reinterpret_cast<char*>(e + 1);
  memcpy(e->key, key, length + 1);
  e->value = nullptr;
  e->next = nullptr;
  return e;
}

// Rebuilds the buckets of a growing map about twice as many. The entries are
// relinked, never copied, so every entry keeps its address; when the new
// bucket array cannot be had, the map stays as it was.
void Grow(StringMap* map) {
  const int32_t count = GrownBucketCount(map->bucketCount);
  if (count <= map->bucketCount) return;
  StringMapEntry** buckets = static_cast<StringMapEntry**>(calloc(static_cast<size_t>(count), sizeof(StringMapEntry*)));
  if (!buckets) return;
  for (int32_t i = 0; i < map->bucketCount; ++i) {
    StringMapEntry* e = map->buckets[i];
    while (e) {
      StringMapEntry* next = e->next;
      StringMapEntry*& head = buckets[BucketIndex(e->key, count)];
      e->next = head;
      head = e;
      e = next;
    }
  }
  free(map->buckets);
  map->buckets = buckets;
  map->bucketCount = count;
}

// FindOrAddStringMapEntry for a growing map, whose empty buckets are null and
// whose entries hold their keys.
StringMapEntry* FindOrAddGrowing(StringMap* map, const char* key, bool* added) {
  StringMapEntry** slot = &map->buckets[BucketOf(map, key)];
  for (; *slot; slot = &(*slot)->next)
    if (strcmp((*slot)->key, key) == 0) return *slot;
  StringMapEntry* entry = NewEntryWithKey(map, key);
  if (!entry) return nullptr;
  *slot = entry;
  ++map->entryCount;
  if (map->entryCount / 2 > map->bucketCount) Grow(map);
  *added = true;
  return entry;
}

}  // namespace

bool InitGrowingStringMap(StringMap* map, int32_t bucketCount) {
  if (!map || bucketCount < 0) return false;
  if (bucketCount == 0) bucketCount = 10;
  map->buckets = static_cast<StringMapEntry**>(calloc(static_cast<size_t>(bucketCount), sizeof(StringMapEntry*)));
  map->bucketCount = map->buckets ? bucketCount : 0;
  map->entryCount = 0;
  map->grows = true;
  map->blocks = nullptr;
  return map->buckets != nullptr;
}

bool InitStringMap(StringMap* map, int32_t bucketCount) {
  if (!map || bucketCount < 0) return false;
  if (bucketCount == 0) bucketCount = 10;
  map->buckets = nullptr;
  map->bucketCount = 0;
  map->entryCount = 0;
  map->grows = false;
  map->blocks = nullptr;
  StringMapEntry** buckets = static_cast<StringMapEntry**>(calloc(static_cast<size_t>(bucketCount),
                                                                  sizeof(StringMapEntry*)));
  if (!buckets) return false;
  for (int32_t i = 0; i < bucketCount; ++i) {
    buckets[i] = NewEntry();
    if (!buckets[i]) {
      for (int32_t j = 0; j < i; ++j) free(buckets[j]);
      free(buckets);
      return false;
    }
  }
  map->buckets = buckets;
  map->bucketCount = bucketCount;
  return true;
}

StringMapEntry* FindOrAddStringMapEntry(StringMap* map, const char* key, bool* added) {
  bool isNew = false;
  if (!added) added = &isNew;
  *added = false;
  if (!Usable(map) || !key) return nullptr;
  if (map->grows) return FindOrAddGrowing(map, key, added);
  StringMapEntry* head = map->buckets[BucketOf(map, key)];
  StringMapEntry* entry = head;
  if (!head->key) {
    if (DuplicateString(&head->key, key) != 1) return nullptr;
  } else {
    StringMapEntry* last = head;
    for (StringMapEntry* e = head; e; e = e->next) {
      if (strcmp(e->key, key) == 0) return e;
      last = e;
    }
    entry = NewEntry();
    if (!entry) return nullptr;
    if (DuplicateString(&entry->key, key) != 1) {
      free(entry);
      return nullptr;
    }
    last->next = entry;
  }
  ++map->entryCount;
  *added = true;
  return entry;
}

bool PutStringMap(StringMap* map, const char* key, void* value) {
  StringMapEntry* entry = FindOrAddStringMapEntry(map, key, nullptr);
  if (!entry) return false;
  entry->value = value;
  return true;
}

StringMapEntry* FindStringMapEntry(const StringMap* map, const char* key) {
  if (!Usable(map) || !key) return nullptr;
  for (StringMapEntry* e = map->buckets[BucketOf(map, key)]; e && e->key; e = e->next)
    if (strcmp(e->key, key) == 0) return e;
  return nullptr;
}

void* GetStringMap(const StringMap* map, const char* key) {
  StringMapEntry* e = FindStringMapEntry(map, key);
  return e ? e->value : nullptr;
}

bool ContainsStringMapKey(const StringMap* map, const char* key) { return FindStringMapEntry(map, key) != nullptr; }

bool RemoveStringMapKey(StringMap* map, const char* key) {
  if (!Usable(map) || !key) return false;
  StringMapEntry** slot = &map->buckets[BucketOf(map, key)];
  if (map->grows) {
    // A growing map's entry is unlinked; its room goes with the map.
    for (; *slot; slot = &(*slot)->next) {
      StringMapEntry* e = *slot;
      if (strcmp(e->key, key) != 0) continue;
      *slot = e->next;
      --map->entryCount;
      return true;
    }
    return false;
  }
  StringMapEntry* head = *slot;
  if (!head->key) return false;
  if (strcmp(head->key, key) == 0) {
    --map->entryCount;
    free(head->key);
    if (head->next) {
      // The successor becomes the bucket's head entry; it keeps its address.
      *slot = head->next;
      free(head);
    } else {
      head->key = nullptr;
      head->value = nullptr;
    }
    return true;
  }
  for (StringMapEntry* prev = head; prev->next; prev = prev->next) {
    StringMapEntry* e = prev->next;
    if (strcmp(e->key, key) == 0) {
      prev->next = e->next;
      --map->entryCount;
      free(e->key);
      free(e);
      return true;
    }
  }
  return false;
}

int32_t CountStringMap(const StringMap* map) { return Usable(map) ? map->entryCount : 0; }

char** GetStringMapKeys(const StringMap* map) {
  int32_t count = CountStringMap(map);
  char** keys = static_cast<char**>(malloc((static_cast<size_t>(count) + 1) * sizeof(char*)));
  if (!keys) return nullptr;
  int32_t k = 0;
  if (Usable(map)) {
    for (int32_t i = 0; i < map->bucketCount; ++i)
      for (StringMapEntry* e = map->buckets[i]; e && e->key; e = e->next) keys[k++] = e->key;
  }
  keys[k] = nullptr;
  return keys;
}

bool CopyMissingStringMapEntries(const StringMap* source, StringMap* target) {
  if (!Usable(source) || !Usable(target)) return false;
  for (int32_t i = 0; i < source->bucketCount; ++i) {
    for (StringMapEntry* e = source->buckets[i]; e && e->key; e = e->next) {
      if (ContainsStringMapKey(target, e->key)) continue;
      if (!PutStringMap(target, e->key, e->value)) return false;
    }
  }
  return true;
}

void FreeStringMap(StringMap* map) {
  if (!map || !map->buckets) return;
  while (StringMapBlock* block = map->blocks) {  // a growing map's entries and keys
    map->blocks = block->next;
    free(block);
  }
  for (int32_t i = 0; !map->grows && i < map->bucketCount; ++i) {
    StringMapEntry* e = map->buckets[i];
    while (e) {
      StringMapEntry* next = e->next;
      free(e->key);
      free(e);
      e = next;
    }
  }
  free(map->buckets);
  map->buckets = nullptr;
  map->bucketCount = 0;
  map->entryCount = 0;
}
