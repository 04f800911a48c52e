// The string map: bucket count, replacing values, removal from every place in
// a chain, keys with bytes above 127, key listing and copying missing entries,
// and a map that grows with its keys.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "tabledata/stringmap.h"

namespace {

int v1 = 1, v2 = 2, v3 = 3;

// The bucket a key belongs in, bytes taken as unsigned.
int32_t ExpectedBucket(const std::string& key, int32_t buckets) {
  int64_t h = 0;
  for (unsigned char c : key) h = (h * 26 + c) % buckets;
  return static_cast<int32_t>(h);
}

bool InBucket(const StringMap& m, int32_t bucket, const char* key) {
  for (StringMapEntry* e = m.buckets[bucket]; e && e->key; e = e->next)
    if (std::string(e->key) == key) return true;
  return false;
}

}  // namespace

TEST(StringMap, ZeroBucketsMeansTenAndPuttingAKeyTwiceKeepsOneEntry) {
  StringMap m{};
  ASSERT_TRUE(InitStringMap(&m, 0));
  EXPECT_EQ(m.bucketCount, 10);
  EXPECT_EQ(CountStringMap(&m), 0);
  EXPECT_EQ(GetStringMap(&m, "k"), nullptr);

  char key[] = "Orders:ORDER_ID:17";
  ASSERT_TRUE(PutStringMap(&m, key, &v1));
  key[0] = 'X';  // the map keeps its own copy
  EXPECT_EQ(GetStringMap(&m, "Orders:ORDER_ID:17"), &v1);
  ASSERT_TRUE(PutStringMap(&m, "Orders:ORDER_ID:17", &v2));
  EXPECT_EQ(CountStringMap(&m), 1);
  EXPECT_EQ(GetStringMap(&m, "Orders:ORDER_ID:17"), &v2);
  EXPECT_FALSE(ContainsStringMapKey(&m, "orders:order_id:17"));  // case-sensitive
  EXPECT_FALSE(PutStringMap(&m, nullptr, &v1));

  FreeStringMap(&m);
  EXPECT_EQ(m.buckets, nullptr);
  EXPECT_FALSE(PutStringMap(&m, "a", &v1));  // freed: refused, no crash
  EXPECT_EQ(GetStringMap(&m, "a"), nullptr);

  StringMap bad{};
  EXPECT_FALSE(InitStringMap(&bad, -1));
}

TEST(StringMap, RemovesHeadWithSuccessorHeadAloneAndLaterEntries) {
  StringMap m{};
  ASSERT_TRUE(InitStringMap(&m, 1));  // one bucket: every key in one chain
  ASSERT_TRUE(PutStringMap(&m, "a", &v1));
  ASSERT_TRUE(PutStringMap(&m, "b", &v2));
  ASSERT_TRUE(PutStringMap(&m, "c", &v3));
  StringMapEntry* b = FindStringMapEntry(&m, "b");
  ASSERT_NE(b, nullptr);

  EXPECT_TRUE(RemoveStringMapKey(&m, "a"));  // head with successor
  EXPECT_FALSE(ContainsStringMapKey(&m, "a"));
  EXPECT_EQ(FindStringMapEntry(&m, "b"), b);  // other entries do not move
  EXPECT_EQ(GetStringMap(&m, "c"), &v3);
  EXPECT_EQ(CountStringMap(&m), 2);

  EXPECT_TRUE(RemoveStringMapKey(&m, "c"));  // later entry
  EXPECT_EQ(CountStringMap(&m), 1);
  EXPECT_FALSE(RemoveStringMapKey(&m, "c"));
  EXPECT_TRUE(RemoveStringMapKey(&m, "b"));  // head alone
  EXPECT_EQ(CountStringMap(&m), 0);
  EXPECT_FALSE(RemoveStringMapKey(&m, "b"));

  ASSERT_TRUE(PutStringMap(&m, "d", &v1));  // the emptied head entry is reused
  EXPECT_EQ(GetStringMap(&m, "d"), &v1);
  FreeStringMap(&m);
}

TEST(StringMap, KeysWithHighBytesLandInTheirBucket) {
  StringMap m{};
  ASSERT_TRUE(InitStringMap(&m, 7));
  const char* keys[] = {"\xff", "\xc3\xa9t\xc3\xa9", "\x80\x81\x82\x83\x84\x85", "plain"};
  int values[4] = {};
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(PutStringMap(&m, keys[i], &values[i]));
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(GetStringMap(&m, keys[i]), &values[i]);
    EXPECT_TRUE(InBucket(m, ExpectedBucket(keys[i], 7), keys[i])) << i;
  }
  EXPECT_EQ(CountStringMap(&m), 4);
  FreeStringMap(&m);
}

TEST(StringMap, ListsKeysAndCopiesOnlyMissingEntries) {
  StringMap source{}, target{};
  ASSERT_TRUE(InitStringMap(&source, 3));
  ASSERT_TRUE(InitStringMap(&target, 5));
  const char* names[] = {"alpha", "beta", "gamma", "delta", "epsilon"};
  int values[5] = {};
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(PutStringMap(&source, names[i], &values[i]));
  ASSERT_TRUE(PutStringMap(&target, "beta", &v1));

  char** keys = GetStringMapKeys(&source);
  ASSERT_NE(keys, nullptr);
  std::set<std::string> listed;
  int n = 0;
  for (; keys[n]; ++n) listed.insert(keys[n]);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(listed, (std::set<std::string>(names, names + 5)));
  free(keys);  // the keys themselves stay with the map

  EXPECT_TRUE(CopyMissingStringMapEntries(&source, &target));
  EXPECT_EQ(CountStringMap(&target), 5);
  EXPECT_EQ(GetStringMap(&target, "beta"), &v1);  // kept
  EXPECT_EQ(GetStringMap(&target, "gamma"), &values[2]);
  EXPECT_EQ(CountStringMap(&source), 5);

  StringMap empty{};
  ASSERT_TRUE(InitStringMap(&empty, 2));
  char** none = GetStringMapKeys(&empty);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none[0], nullptr);
  free(none);
  FreeStringMap(&empty);
  FreeStringMap(&source);
  FreeStringMap(&target);
}

// A growing map holds about two keys a bucket at most, each in the bucket its
// formula gives, with the values and entry addresses it had; a fixed map keeps
// its buckets whatever it holds.
TEST(StringMap, AGrowingMapSpreadsItsKeysAndKeepsItsEntries) {
  constexpr int kKeys = 5000;
  std::vector<std::string> keys;
  for (int i = 0; i < kKeys; ++i) keys.push_back("Orders:ORDER_ID:" + std::to_string(i));
  std::vector<int> values(kKeys);
  for (const bool grows : {true, false}) {
    StringMap m{};
    ASSERT_TRUE(grows ? InitGrowingStringMap(&m, 1) : InitStringMap(&m, 1));
    ASSERT_TRUE(PutStringMap(&m, keys[0].c_str(), &values[0]));
    StringMapEntry* first = FindStringMapEntry(&m, keys[0].c_str());
    for (int i = 1; i < kKeys; ++i) ASSERT_TRUE(PutStringMap(&m, keys[i].c_str(), &values[i]));
    EXPECT_EQ(FindStringMapEntry(&m, keys[0].c_str()), first) << grows;
    EXPECT_EQ(CountStringMap(&m), kKeys);
    if (grows) {
      EXPECT_GE(2 * m.bucketCount + 1, kKeys);
      EXPECT_LT(m.bucketCount, kKeys);
      EXPECT_NE(m.bucketCount % 2, 0);
      EXPECT_NE(m.bucketCount % 13, 0);
    } else {
      EXPECT_EQ(m.bucketCount, 1);
    }
    for (int i = 0; i < kKeys; i += 7) {
      EXPECT_EQ(GetStringMap(&m, keys[i].c_str()), &values[i]) << i;
      EXPECT_TRUE(InBucket(m, ExpectedBucket(keys[i], m.bucketCount), keys[i].c_str())) << i;
    }
    for (int i = 1; i < kKeys; i += 2) ASSERT_TRUE(RemoveStringMapKey(&m, keys[i].c_str()));
    EXPECT_EQ(CountStringMap(&m), kKeys / 2);
    EXPECT_EQ(GetStringMap(&m, keys[kKeys - 2].c_str()), &values[kKeys - 2]);
    EXPECT_EQ(GetStringMap(&m, keys[kKeys - 1].c_str()), nullptr);
    FreeStringMap(&m);
  }
}
