#include "agent_ops/table_listing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "../test_environment.h"
#include "cli/invocation.h"
#include "fake_libraries_test.h"

namespace {

constexpr AgentHandle AGENT = 0x77;
const char* const ENTRY = "1.3.6.1.4.1.32473.99.1.9.1";
const std::vector<uint32_t> ENTRY_IDS = {1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1};
const std::string HEADING = "\nAllocated table entries for 1.3.6.1.4.1.32473.99.1.9.1:\n";

TableInstanceInfo Instance(std::vector<uint32_t> index, uint32_t leafCount,
                           int32_t creationTime = 86400) {
  TableInstanceInfo info{};
  info.instanceHandle = 0x1000 + index.back();
  info.clientHandle = 0xBEEF;
  info.creationTime = creationTime;
  info.leafCount = leafCount;
  info.entryOidCount = static_cast<uint32_t>(ENTRY_IDS.size());
  std::copy(ENTRY_IDS.begin(), ENTRY_IDS.end(), info.entryOidIds);
  info.indexOidCount = static_cast<uint32_t>(index.size());
  std::copy(index.begin(), index.end(), info.indexOidIds);
  return info;
}

std::string BlockHead(int number, const std::string& index, const char* handle,
                      const char* time = "Fri Jan 02 00:00:00 1970\n") {
  return "\n " + std::to_string(number) + ": Table entry instance OID - " + ENTRY + ".<index>." +
         index + "\n    Table entry instace handle: 0x" + handle +
         "\n    Client handle: 0x0000BEEF\n    Instance creation: " + time;
}

std::string Leaf(int column, const std::string& index, const std::string& valueText) {
  return "\n    " + std::to_string(column) + ": " + ENTRY + "." + std::to_string(column) + "." +
         index + " **** " + valueText;
}

class TableListingTest : public FakeLibrariesTest {
 protected:
  void SetUp() override {
    FakeLibrariesTest::SetUp();
    ResetInvocation();
    SetTestVariable("TZ", "UTC");
    tzset();
    gInvocation.listTable = true;
    gInvocation.tableOid = ENTRY;
  }

  // The listing passes no context, and gives back only OIDs through the utility library.
  void TearDown() override {
    for (uint32_t context : fake.contexts) EXPECT_EQ(context, 0u);
    for (uint32_t syntax : fake.freedSyntaxes) EXPECT_EQ(syntax, SYNTAX_OID);
    FakeLibrariesTest::TearDown();
  }

  std::string List(bool withLeaves, int expectedResult = 1) {
    gInvocation.noLeafs = !withLeaves;
    testing::internal::CaptureStdout();
    int exitStatus = 0;
    int result = ListTableEntries(AGENT, &exitStatus);
    EXPECT_EQ(exitStatus, 0);  // no enumeration here fails
    std::fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, expectedResult);
    return out;
  }
};

TEST_F(TableListingTest, RefusedEntryOidsStopTheRun) {
  for (const char* text : {"", "1.3.six"}) {
    gInvocation.tableOid = text;
    EXPECT_EQ(List(false, 0),
              std::string("\nAllocated table entries for ") + text + ":\n\nBad OID.");
  }
  gInvocation.tableOid = nullptr;
  EXPECT_EQ(List(false, 0), "\nAllocated table entries for [???]:\n\nBad OID.");

  gInvocation.tableOid = "1.3.6.1.4.1.32473.99.1.4";
  EXPECT_EQ(List(true, 0),
            "\nAllocated table entries for 1.3.6.1.4.1.32473.99.1.4:\n"
            "\nOID does not represent the table entry.");
  EXPECT_EQ(fake.oidReleases, 1);
  EXPECT_TRUE(fake.enumSizesSeen.empty());
}

TEST_F(TableListingTest, NoInstancesSaysNone) {
  EXPECT_EQ(List(true), HEADING + "\n\n  None.\n");
  EXPECT_EQ(fake.enumSizesSeen, (std::vector<uint32_t>{1056, 1056}));
  EXPECT_EQ(fake.oidReleases, 1);
}

TEST_F(TableListingTest, InstancesWithoutLeaves) {
  fake.instances = {Instance({50}, 3), Instance({7, 2}, 3)};
  EXPECT_EQ(List(false),
            HEADING + BlockHead(1, "50", "00001032") + BlockHead(2, "7.2", "00001002") + "\n");
  EXPECT_TRUE(fake.dataHandleOids.empty());
}

TEST_F(TableListingTest, InstancesWithLeavesReadEntryLeafIndexAndGiveEverythingBack) {
  fake.instances = {Instance({50}, 3), Instance({7, 2}, 3)};
  const char* text = "Some octets";
  fake.readLeaf = [text](const SnmpOid& leaf) {
    uint32_t column = leaf.ids[ENTRY_IDS.size()];
    if (column == 2) {
      return LeafRead{leaf, SnmpValue{SYNTAX_OCTETS, 11, reinterpret_cast<uintptr_t>(text)}};
    }
    return LeafRead{leaf, SnmpValue{SYNTAX_INTEGER, column == 1 ? 0xFFFFFFFFu : 440, 0}};
  };
  std::string expected =
      HEADING + BlockHead(1, "50", "00001032") +
      "    Instance leafs:" + Leaf(1, "50", "(int,int32) -1") +
      Leaf(2, "50", "(octets) Some octets") + Leaf(3, "50", "(int,int32) 440") + "\n" +
      BlockHead(2, "7.2", "00001002") + "    Instance leafs:" + Leaf(1, "7.2", "(int,int32) -1") +
      Leaf(2, "7.2", "(octets) Some octets") + Leaf(3, "7.2", "(int,int32) 440") + "\n" + "\n";
  EXPECT_EQ(List(true), expected);
  EXPECT_EQ(fake.dataHandleOids[0], std::string(ENTRY) + ".1.50");
  EXPECT_EQ(fake.dataHandleOids[5], std::string(ENTRY) + ".3.7.2");
  EXPECT_EQ(fake.valueReleases, 6);
  EXPECT_EQ(fake.oidReleases, 6 + 1);
}

TEST_F(TableListingTest, LeafFailuresEndOnlyThatInstancesLeaves) {
  fake.instances = {Instance({1}, 3), Instance({2}, 3), Instance({3}, 0)};
  fake.refuseHandleAt = 2;
  fake.failDataAt = 3;  // the second leaf of instance 2
  std::string expected = HEADING + BlockHead(1, "1", "00001001") +
                         "    Instance leafs:" + Leaf(1, "1", "(int,int32) 7") +
                         "\n    2: " + "\n" + BlockHead(2, "2", "00001002") +
                         "    Instance leafs:" + Leaf(1, "2", "(int,int32) 7") +
                         "\n    2: \nError: 77" + "\n" + BlockHead(3, "3", "00001003") +
                         "    Instance leafs:" + "\n" + "\n";
  EXPECT_EQ(List(true), expected);
  EXPECT_EQ(fake.handleCalls, 4u);
  EXPECT_EQ(fake.valueReleases, 2);
}

TEST_F(TableListingTest, UnknownSyntaxLeavesItsLineEmptyButIsGivenBack) {
  fake.instances = {Instance({50}, 2)};
  fake.readLeaf = [](const SnmpOid& leaf) {
    uint32_t column = leaf.ids[ENTRY_IDS.size()];
    return LeafRead{leaf, SnmpValue{column == 1 ? 99u : SYNTAX_NULL, 0, 0}};
  };
  EXPECT_EQ(List(true), HEADING + BlockHead(1, "50", "00001032") + "    Instance leafs:" +
                            "\n    1: " + Leaf(2, "50", "(null) NULL") + "\n\n");
  EXPECT_EQ(fake.valueReleases, 2);
}

TEST_F(TableListingTest, ANegativeCreationTimeHasNoTimeText) {
  fake.instances = {Instance({50}, 0, -1)};
  EXPECT_EQ(List(true),
            HEADING + BlockHead(1, "50", "00001032", "(null)") + "    Instance leafs:\n\n");
}

// Counts beyond what the record holds are taken as 128: nothing is read past the record and the
// leaf OID stays within its buffer (AddressSanitizer watches both).
TEST_F(TableListingTest, CountsAboveTheRecordsRoomAreCut) {
  TableInstanceInfo info{};
  info.instanceHandle = 1;
  info.leafCount = 2;
  info.entryOidCount = 0xFFFFFFFF;
  info.indexOidCount = 129;
  for (uint32_t i = 0; i < 128; ++i) {
    info.entryOidIds[i] = i;
    info.indexOidIds[i] = 1000 + i;
  }
  fake.instances = {info};
  std::string entry;
  std::string index;
  for (uint32_t i = 0; i < 128; ++i) {
    entry += (i == 0 ? "" : ".") + std::to_string(i);
    index += (i == 0 ? "" : ".") + std::to_string(1000 + i);
  }
  std::string out = List(true);
  EXPECT_NE(out.find(" 1: Table entry instance OID - " + entry + ".<index>." + index + "\n"),
            std::string::npos);
  ASSERT_EQ(fake.dataHandleOids.size(), 2u);
  EXPECT_EQ(fake.dataHandleOids[1], entry + ".2." + index);
}

}  // namespace
