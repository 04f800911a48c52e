// The support library's string map (see stringmap.h): bucket choice, chains of
// entries behind preallocated head entries, and whole-map helpers.
#include "tabledata/stringmap.h"

#include <cstdlib>
#include <cstring>

#include "tabledata/strutil.h"

namespace {

bool Usable(const StringMap* map) { return map && map->buckets && map->bucketCount > 0; }

// Bytes are taken as unsigned so that a key with bytes above 127 still lands
// in a bucket from 0 to bucketCount - 1.
int32_t BucketOf(const StringMap* map, const char* key) {
  const uint64_t n = static_cast<uint64_t>(map->bucketCount);
  uint64_t h = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(key); *p; ++p) h = (h * 26 + *p) % n;
  return static_cast<int32_t>(h);
}

StringMapEntry* NewEntry() {
  StringMapEntry* e = static_cast<StringMapEntry*>(malloc(sizeof(StringMapEntry)));
  if (e) {
    e->key = nullptr;
    e->value = nullptr;
    e->next = nullptr;
  }
  return e;
}

}  // namespace

bool InitStringMap(StringMap* map, int32_t bucketCount) {
  if (!map || bucketCount < 0) return false;
  if (bucketCount == 0) bucketCount = 10;
  map->buckets = nullptr;
  map->bucketCount = 0;
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

bool PutStringMap(StringMap* map, const char* key, void* value) {
  if (!Usable(map) || !key) return false;
  StringMapEntry* head = map->buckets[BucketOf(map, key)];
  if (!head->key) {
    if (DuplicateString(&head->key, key) != 1) return false;
    head->value = value;
    return true;
  }
  StringMapEntry* last = head;
  for (StringMapEntry* e = head; e; e = e->next) {
    if (strcmp(e->key, key) == 0) {
      e->value = value;
      return true;
    }
    last = e;
  }
  StringMapEntry* entry = NewEntry();
  if (!entry) return false;
  if (DuplicateString(&entry->key, key) != 1) {
    free(entry);
    return false;
  }
  entry->value = value;
  last->next = entry;
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
  StringMapEntry* head = *slot;
  if (!head->key) return false;
  if (strcmp(head->key, key) == 0) {
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
      free(e->key);
      free(e);
      return true;
    }
  }
  return false;
}

int32_t CountStringMap(const StringMap* map) {
  if (!Usable(map)) return 0;
  int32_t count = 0;
  for (int32_t i = 0; i < map->bucketCount; ++i)
    for (StringMapEntry* e = map->buckets[i]; e && e->key; e = e->next) ++count;
  return count;
}

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
  for (int32_t i = 0; i < map->bucketCount; ++i) {
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
}
