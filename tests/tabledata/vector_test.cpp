// The vector: ordered and positional insertion, deletion by node, position and
// element, merging, cloning, the entry and error log lines, and concurrent
// appends under the vector's own lock.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "agent/log/objectlock.h"
#include "tabledata/strutil.h"
#include "tabledata/vector.h"
#include "tests/support/scratch.h"

namespace {

int8_t CompareTexts(VectorNode* newNode, VectorNode* existing) {
  return CompareStrings(static_cast<const char*>(newNode->element), static_cast<const char*>(existing->element));
}

// The elements from the head, as texts.
std::vector<std::string> Texts(Vector* v) {
  std::vector<std::string> out;
  for (VectorNode* n = ElementAt(v, 0); n; n = n->next) out.emplace_back(static_cast<const char*>(n->element));
  return out;
}

VectorNode* LastNode(Vector* v) {
  VectorNode* n = v->head;
  while (n && n->next) n = n->next;
  return n;
}

std::string WithoutCR(std::string s) {
  s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
  return s;
}

char kA[] = "a", kB[] = "b", kC[] = "c", kD[] = "d", kX[] = "x";

}  // namespace

TEST(VectorOrdered, KeepsTextsAscendingAndRefusesDuplicates) {
  twtest::LogCapture log(4);
  Vector v;
  InitVector(&v, CompareTexts);
  EXPECT_TRUE(AddElementData(&v, kB));
  EXPECT_TRUE(AddElementData(&v, kA));
  EXPECT_TRUE(AddElementData(&v, kC));
  EXPECT_EQ(Texts(&v), (std::vector<std::string>{"a", "b", "c"}));

  char again[] = "b";
  VectorNode* dup = CreateVectorNode(again);
  EXPECT_FALSE(AddElement(&v, dup));  // refused: the caller still owns the node
  EXPECT_EQ(v.count, 3);
  EXPECT_EQ(Texts(&v), (std::vector<std::string>{"a", "b", "c"}));
  free(dup);
  EXPECT_FALSE(AddElementData(&v, again));
  EXPECT_EQ(v.count, 3);

  EXPECT_NE(WithoutCR(log.Text()).find("[TRACE] \n\t@@@@@ Inside AddElement() @@@@@ \n"), std::string::npos);
  FreeVector(&v);
}

TEST(VectorOrdered, ManyRandomKeysStaySortedAndComplete) {
  // Keys with bytes above 127 too: the order must still be plain byte order.
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> len(1, 4), byte(1, 255), pick(0, 5);
  std::vector<std::string> keys;
  for (int i = 0; i < 1500; ++i) {
    std::string k;
    int n = len(rng);
    for (int j = 0; j < n; ++j) k += static_cast<char>(pick(rng) == 0 ? byte(rng) : 'a' + byte(rng) % 4);
    keys.push_back(k);
  }
  Vector v;
  InitVector(&v, CompareTexts);
  std::set<std::string> expected;
  for (std::string& k : keys) {
    bool fresh = expected.insert(k).second;
    ASSERT_EQ(AddElementData(&v, k.data()), fresh) << "key " << k;
  }
  EXPECT_EQ(v.count, static_cast<int32_t>(expected.size()));
  EXPECT_EQ(Texts(&v), std::vector<std::string>(expected.begin(), expected.end()));
  // The tail stays the real last node, so appending by position is safe here too.
  EXPECT_EQ(v.tail, LastNode(&v));
  char last[] = "\xff\xff\xff\xff\xff";
  ASSERT_TRUE(InsertElementAt(&v, CreateVectorNode(last), v.count));
  EXPECT_EQ(LastNode(&v)->element, last);
  EXPECT_EQ(v.count, static_cast<int32_t>(expected.size()) + 1);
  FreeVector(&v);
}

TEST(VectorPositions, InsertElementAtBoundsHeadMiddleAndTail) {
  Vector v;
  InitVector(&v, nullptr);
  VectorNode* outside = CreateVectorNode(kX);
  EXPECT_FALSE(InsertElementAt(&v, outside, 1));   // count + 1 of an empty vector
  EXPECT_FALSE(InsertElementAt(&v, outside, -1));
  EXPECT_TRUE(InsertElementAt(&v, CreateVectorNode(kB), 0));  // empty: becomes head and tail
  EXPECT_EQ(v.head, v.tail);
  EXPECT_TRUE(InsertElementAt(&v, CreateVectorNode(kA), 0));
  VectorNode* d = CreateVectorNode(kD);
  EXPECT_TRUE(InsertElementAt(&v, d, v.count));
  EXPECT_EQ(v.tail, d);
  EXPECT_TRUE(InsertElementAt(&v, CreateVectorNode(kC), 2));
  EXPECT_EQ(Texts(&v), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_FALSE(InsertElementAt(&v, outside, v.count + 1));
  EXPECT_EQ(v.count, 4);
  free(outside);

  // Unordered appends go after the tail.
  EXPECT_TRUE(AddElementData(&v, kX));
  EXPECT_EQ(Texts(&v).back(), "x");
  EXPECT_EQ(v.tail, LastNode(&v));

  EXPECT_EQ(ElementAt(&v, -1), nullptr);
  EXPECT_EQ(ElementAt(&v, v.count), nullptr);
  EXPECT_EQ(ElementAt(&v, v.count - 1), v.tail);
  EXPECT_EQ(GetNthElement(&v, 2, v.head)->element, kC);
  EXPECT_EQ(GetNthElement(&v, v.count, v.head), nullptr);
  EXPECT_EQ(GetNthElement(&v, 3, ElementAt(&v, 3)), nullptr);  // runs off the end
  FreeVector(&v);
  EXPECT_EQ(v.head, nullptr);
  EXPECT_EQ(v.tail, nullptr);
  EXPECT_EQ(v.count, 0);
}

TEST(VectorDelete, ByNodePositionAndElement) {
  Vector v;
  InitVector(&v, nullptr);
  VectorNode* foreign = CreateVectorNode(kA);
  EXPECT_FALSE(DeleteElement(&v, foreign));  // empty vector
  for (char* e : {kA, kB, kC, kD}) ASSERT_TRUE(AddElementData(&v, e));

  EXPECT_TRUE(DeleteElement(&v, foreign));  // not in the vector: true, nothing changes
  EXPECT_EQ(v.count, 4);
  EXPECT_EQ(Texts(&v), (std::vector<std::string>{"a", "b", "c", "d"}));
  free(foreign);

  EXPECT_TRUE(DeleteElement(&v, v.tail));  // the tail moves back
  EXPECT_EQ(v.tail->element, kC);
  EXPECT_FALSE(DeleteElementAt(&v, 3));
  EXPECT_FALSE(DeleteElementAt(&v, -1));
  EXPECT_TRUE(DeleteElementAt(&v, 0));
  EXPECT_EQ(Texts(&v), (std::vector<std::string>{"b", "c"}));

  char sameText[] = "c";  // equal text, other pointer: not the element
  EXPECT_FALSE(DeleteLCDVector(&v, sameText));
  EXPECT_TRUE(DeleteLCDVector(&v, kC));
  EXPECT_EQ(v.tail, v.head);
  EXPECT_TRUE(DeleteLCDVector(&v, kB));
  EXPECT_EQ(v.count, 0);
  EXPECT_EQ(v.head, nullptr);
  EXPECT_EQ(v.tail, nullptr);
  EXPECT_TRUE(AddElementData(&v, kX));  // usable after being emptied
  EXPECT_EQ(Texts(&v), (std::vector<std::string>{"x"}));
  FreeVector(&v);
}

TEST(VectorMerge, OrderedTargetDropsDuplicatesAndSourceIsEmptied) {
  Vector target, source;
  InitVector(&target, CompareTexts);
  InitVector(&source, nullptr);
  for (char* e : {kD, kB}) ASSERT_TRUE(AddElementData(&target, e));
  char b2[] = "b";
  for (char* e : {kC, b2, kA}) ASSERT_TRUE(AddElementData(&source, e));
  EXPECT_EQ(MergeVector(&target, &source), 1);
  EXPECT_EQ(Texts(&target), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(target.count, 4);
  EXPECT_EQ(source.count, 0);
  EXPECT_EQ(source.head, nullptr);
  EXPECT_EQ(source.tail, nullptr);

  // Into an unordered vector: appended in source order, duplicates kept.
  Vector plain;
  InitVector(&plain, nullptr);
  ASSERT_TRUE(AddElementData(&plain, kA));
  for (char* e : {kB, kA}) ASSERT_TRUE(AddElementData(&source, e));
  EXPECT_EQ(MergeVector(&plain, &source), 1);
  EXPECT_EQ(Texts(&plain), (std::vector<std::string>{"a", "b", "a"}));
  EXPECT_EQ(plain.tail, LastNode(&plain));
  FreeVector(&plain);
  FreeVector(&target);
}

TEST(VectorClone, CopiesEveryTextAndLogsANullVector) {
  twtest::LogCapture log(4);
  Vector* v = CreateVector();
  ASSERT_NE(v, nullptr);
  for (char* e : {kB, kA, kC}) ASSERT_TRUE(AddElementData(v, e));
  Vector* copy = CloneVector(v);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->comparator, nullptr);
  EXPECT_EQ(Texts(copy), Texts(v));
  for (VectorNode *a = v->head, *b = copy->head; a && b; a = a->next, b = b->next) EXPECT_NE(a->element, b->element);
  EXPECT_EQ(copy->tail, LastNode(copy));

  EXPECT_EQ(CloneVector(nullptr), nullptr);
  EXPECT_TRUE(log.Has("Cannot clone vector.  Vector is NULL.\n"));
  EXPECT_TRUE(log.Has("@@@@ Inside CloneVector @@@@\n"));

  for (VectorNode* n = copy->head; n; n = n->next) free(n->element);
  FreeVector(copy);
  free(copy);
  FreeVector(v);
  free(v);
}

TEST(VectorLock, TwoThreadsAppendingConcurrentlyLoseNothing) {
  ASSERT_TRUE(InitMutex());
  // Enough appends for unguarded ones to collide on the host; fewer on Windows,
  // where every collision costs the object lock's growing sleep.
#ifdef _WIN32
  constexpr int kPerThread = 2000;
#else
  constexpr int kPerThread = 20000;
#endif
  std::vector<int> items(2 * kPerThread);
  Vector* v = CreateVector();
  ASSERT_NE(v, nullptr);
  std::atomic<int> ready{0};
  auto worker = [&](int first) {
    ++ready;
    while (ready.load() < 2) std::this_thread::yield();  // start together
    for (int i = first; i < first + kPerThread; ++i) AddElementData(v, &items[static_cast<size_t>(i)]);
  };
  std::thread t1(worker, 0), t2(worker, kPerThread);
  t1.join();
  t2.join();
  EXPECT_EQ(v->count, 2 * kPerThread);
  std::set<const void*> seen;
  for (VectorNode* n = v->head; n; n = n->next) seen.insert(n->element);
  EXPECT_EQ(seen.size(), items.size());
  EXPECT_EQ(v->tail, LastNode(v));
  FreeVector(v);
  free(v);
}
