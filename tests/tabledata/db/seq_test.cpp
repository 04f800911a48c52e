// Generated IDs reserved in batches in SeqGenState of real databases: the first
// batch, restarts, a seeded end, the reservation at the end of a batch, and
// two threads and two processes that must never receive the same ID.
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tabledata/db/seqgen.h"
#include "tabledata/store/sequence.h"
#include "tests/tabledata/db/tableio_fixture.h"

namespace tableiotest {
namespace {

const ColumnDefn* OrderKey() { return GetColumnDefnEntry("Orders", "ORDER_ID"); }
int32_t NextOrderID() { return GenerateID("Orders", OrderKey()); }

class SequenceTest : public DatabaseTest {
 protected:
  std::string BatchEnd(const char* sequence) {
    return Sql(std::string("select CURRENTBATCHEND from SeqGenState where SEQNAME = '") + sequence + "';");
  }
  // A new start of the support library on the same database.
  void Restart() {
    DeInitCQuill();
    ASSERT_TRUE(InitCQuill(root_.c_str()));
  }
};

TEST_P(SequenceTest, TheFirstIDsAreOneTwoThreeWithTheirBatchStored) {
  Start();
  EXPECT_EQ(NextOrderID(), 1);
  EXPECT_EQ(NextOrderID(), 2);
  EXPECT_EQ(NextOrderID(), 3);
  EXPECT_EQ(BatchEnd("OrderSeq"), "300\n");
}

TEST_P(SequenceTest, ARestartContinuesAfterTheReservedBatch) {
  Start();
  EXPECT_EQ(NextOrderID(), 1);
  Restart();
  EXPECT_EQ(NextOrderID(), 301);
  EXPECT_EQ(BatchEnd("OrderSeq"), "600\n");
}

TEST_P(SequenceTest, ASeededEndIsContinuedAndThe301stIDReservesTheNextBatch) {
  Start();
  Sql("update SeqGenState set CURRENTBATCHEND = 600 where SEQNAME = 'OrderSeq';");
  Restart();
  EXPECT_EQ(NextOrderID(), 601);
  EXPECT_EQ(BatchEnd("OrderSeq"), "900\n");
  for (int32_t expected = 602; expected <= 900; ++expected) ASSERT_EQ(NextOrderID(), expected);
  EXPECT_EQ(BatchEnd("OrderSeq"), "900\n");
  EXPECT_EQ(NextOrderID(), 901);
  EXPECT_EQ(BatchEnd("OrderSeq"), "1200\n");
}

TEST_P(SequenceTest, TwoThreadsNeverReceiveTheSameID) {
  Start();
  constexpr int kPerThread = 700;  // more than two batches each
  std::vector<int32_t> ids[2];
  std::thread threads[2];
  for (int t = 0; t < 2; ++t)
    threads[t] = std::thread([&ids, t] {
      for (int i = 0; i < kPerThread; ++i) ids[t].push_back(NextOrderID());
    });
  for (std::thread& thread : threads) thread.join();
  std::set<int32_t> distinct;
  for (const auto& list : ids)
    for (int32_t id : list) {
      EXPECT_GT(id, 0);
      distinct.insert(id);
    }
  EXPECT_EQ(distinct.size(), 2u * kPerThread);
}

TEST_P(SequenceTest, TwoProcessesNeverReceiveTheSameID) {
  Start();
  // Each process reserves some 10 batches, both starting at the same moment
  // after their own start-up: the reservations overlap.
  constexpr int kPerProcess = 3000;
  const auto startAt = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch() + std::chrono::seconds(1))
                           .count();
  const std::string command = std::string(TW_SEQ_CHILD) + " " + root_ + " " + std::to_string(kPerProcess) + " " +
                              std::to_string(startAt);
  FILE* children[2] = {popen(command.c_str(), "r"), popen(command.c_str(), "r")};
  std::vector<int32_t> ids;
  for (FILE* child : children) {
    ASSERT_NE(child, nullptr);
    int32_t id = 0;
    while (fscanf(child, "%d", &id) == 1) ids.push_back(id);
    EXPECT_EQ(pclose(child), 0);
  }
  ASSERT_EQ(ids.size(), 2u * kPerProcess);
  const std::set<int32_t> distinct(ids.begin(), ids.end());
  EXPECT_EQ(distinct.size(), ids.size());
  // And this process, which reserved its batch first, still has its own.
  EXPECT_EQ(NextOrderID(), 1);
}

TEST_P(SequenceTest, InstanceIDsComeFromTheirOwnSequence) {
  Start();
  EXPECT_EQ(GenerateInstanceID(), -1);  // not reserved yet
  ASSERT_TRUE(UpdateSeqGen("SeqGenState", "INSTANCE_ID"));
  EXPECT_EQ(GenerateInstanceID(), 1);
  EXPECT_EQ(GenerateInstanceID(), 2);
  EXPECT_EQ(NextOrderID(), 1);
  EXPECT_EQ(BatchEnd("INSTANCE_ID"), "300\n");
}

TEST_P(SequenceTest, AReservationThatFailsGivesMinusOneAndTheNextCallTriesAgain) {
  Start();
  Sql("drop table SeqGenState;");
  for (int32_t expected = 1; expected <= 300; ++expected) ASSERT_EQ(NextOrderID(), expected);
  EXPECT_EQ(NextOrderID(), -1);
  EXPECT_TRUE(Logged("[ERROR]", "Table doesn't Exists for UpdateSeqGen"));
  Sql("create table SeqGenState (SEQNAME varchar(64) primary key, CURRENTBATCHEND int);"
      "insert into SeqGenState values ('OrderSeq', 300);");
  EXPECT_EQ(NextOrderID(), 301);
  // An end whose next batch would pass the largest ID is refused.
  for (int32_t expected = 302; expected <= 600; ++expected) ASSERT_EQ(NextOrderID(), expected);
  Sql("update SeqGenState set CURRENTBATCHEND = 2147483600 where SEQNAME = 'OrderSeq';");
  EXPECT_EQ(NextOrderID(), -1);
  EXPECT_TRUE(Logged("[ERROR]", "Invalid CURRENTBATCHEND for OrderSeq"));
}

INSTANTIATE_TEST_SUITE_P(Databases, SequenceTest, testing::ValuesIn(kDatabases), DatabaseName);

TEST(SequenceCacheTest, ColumnsWithoutAReservedSequenceGetMinusOne) {
  twtest::LogCapture log(4, "sequence");
  ASSERT_TRUE(InitSequenceCache());
  ColumnDefn column{};
  EXPECT_EQ(GenerateID("Orders", &column), -1);  // no generator
  column.generatorName = const_cast<char*>("Unknown");
  EXPECT_EQ(GenerateID("Orders", &column), -1);
  EXPECT_TRUE(log.Has("Cannot generate ID for key Unknown."));
  EXPECT_EQ(GenerateID("Orders", nullptr), -1);
  EXPECT_FALSE(ReserveSequenceBatch("Orders", nullptr));
  FreeSequenceCache();
  EXPECT_FALSE(ReserveSequenceBatch("Orders", "Unknown"));  // no cache
}

}  // namespace
}  // namespace tableiotest
