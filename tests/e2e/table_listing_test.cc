// Listing a table entry's instances (-e) and their leaves (-t) against a real agent whose state
// file holds whatever the test needs, values that no MIB allows among them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent_process.h"

namespace {

const std::string SPEAKER_ENTRY = "1.3.6.1.4.1.32473.99.1.9.1";
// An entry that only the state file knows, so that its instances may hold any value.
const std::string ENTRY = "1.3.6.1.4.1.32473.99.5.1";
const std::string NOTHING_TO_SET = "\nNothing to set.\n";
const std::string FRIDAY = "Fri Jan 02 00:00:00 1970\n";

std::string Heading(const std::string& entry) {
  return "\nAllocated table entries for " + entry + ":\n";
}

std::string Block(int number, const std::string& entry, const std::string& index,
                  const std::string& handle, const std::string& time = FRIDAY) {
  return "\n " + std::to_string(number) + ": Table entry instance OID - " + entry + ".<index>." +
         index + "\n    Table entry instace handle: 0x" + handle +
         "\n    Client handle: 0x00000007\n    Instance creation: " + time;
}

std::string Leaf(int column, const std::string& entry, const std::string& index,
                 const std::string& text) {
  return "\n    " + std::to_string(column) + ": " + entry + "." + std::to_string(column) + "." +
         index + " **** " + text;
}

const std::string LEAVES = "    Instance leafs:";

std::string Listing(const std::string& entry, const std::string& body) {
  return BannerText() + Heading(entry) + body + "\n" + NOTHING_TO_SET + FinishedText();
}

// Two instances of three leaves, the second with a two-part index.
const std::string TWO_INSTANCES =
    "instance entry=1.3.6.1.4.1.32473.99.5.1 index=1 handle=1 creator=7 time=86400 enabled=8 "
    "leaves=3\n"
    "value handle=1 column=1 syntax=2 number=-1\n"
    "value handle=1 column=2 syntax=4 bytes=536f6d65206f6374657473\n"
    "value handle=1 column=3 syntax=66 number=7\n"
    "instance entry=1.3.6.1.4.1.32473.99.5.1 index=2.7 handle=2 creator=7 time=86400 enabled=8 "
    "leaves=3\n"
    "value handle=2 column=1 syntax=2 number=20\n"
    "value handle=2 column=2 syntax=4 bytes=\n"
    "value handle=2 column=3 syntax=66 number=0\n";

std::string TwoInstancesWithLeaves() {
  return Block(1, ENTRY, "1", "00000001") + LEAVES + Leaf(1, ENTRY, "1", "(int,int32) -1") +
         Leaf(2, ENTRY, "1", "(octets) Some octets") + Leaf(3, ENTRY, "1", "(gauge32) 7") + "\n" +
         Block(2, ENTRY, "2.7", "00000002") + LEAVES + Leaf(1, ENTRY, "2.7", "(int,int32) 20") +
         Leaf(2, ENTRY, "2.7", "(octets) (zero-length)") + Leaf(3, ENTRY, "2.7", "(gauge32) 0") +
         "\n";
}

TestAgentOptions WithState(const std::string& state) {
  TestAgentOptions options;
  options.initialState = "module VORNEL-VNBEEP-MIB\n" + state;
  return options;
}

TEST(TableListingE2e, AnEntryWithoutInstancesSaysNone) {
  TestAgent agent;
  for (const char* sw : {"-e", "-t"}) {
    OasetRun run = RunOaset(&agent, {sw + SPEAKER_ENTRY});
    EXPECT_EQ(run.out, Listing(SPEAKER_ENTRY, "\n\n  None."));
    EXPECT_EQ(run.status, 0);
  }
}

TEST(TableListingE2e, TwoInstancesWithAndWithoutLeaves) {
  TestAgent agent(WithState(TWO_INSTANCES));
  OasetRun plain = RunOaset(&agent, {"-e" + ENTRY});
  EXPECT_EQ(plain.out,
            Listing(ENTRY, Block(1, ENTRY, "1", "00000001") + Block(2, ENTRY, "2.7", "00000002")));
  EXPECT_EQ(plain.status, 0);

  OasetRun leaves = RunOaset(&agent, {"-t" + ENTRY});
  EXPECT_EQ(leaves.out, Listing(ENTRY, TwoInstancesWithLeaves()));

  // -e after -t still lists leaves; the OID is that of the later switch.
  OasetRun both = RunOaset(&agent, {"-t" + SPEAKER_ENTRY, "-e" + ENTRY});
  EXPECT_EQ(both.out, leaves.out);
}

TEST(TableListingE2e, EveryValueSyntaxAndHostileRecords) {
  TestAgent agent(WithState(
      "instance entry=1.3.6.1.4.1.32473.99.5.1 index=1 handle=1 creator=7 time=86400 enabled=8 "
      "leaves=18\n"
      "value handle=1 column=1 syntax=2 number=-1\n"
      "value handle=1 column=2 syntax=4 bytes=6c696e65090a\n"
      "value handle=1 column=3 syntax=4 bytes=00ff\n"
      "value handle=1 column=4 syntax=4 bytes=\n"
      "value handle=1 column=5 syntax=5 number=0\n"
      "value handle=1 column=6 syntax=6 oid=1.3.6.1.4.1.32473.99.1.9.1.3\n"
      "value handle=1 column=7 syntax=64 bytes=0a000001\n"
      "value handle=1 column=8 syntax=65 number=4294967295\n"
      "value handle=1 column=9 syntax=66 number=7\n"
      "value handle=1 column=10 syntax=67 number=8640000\n"
      "value handle=1 column=11 syntax=68 bytes=01ab\n"
      "value handle=1 column=12 syntax=69 bytes=470005\n"
      "value handle=1 column=13 syntax=70 number=1 second=171\n"
      "value handle=1 column=14 syntax=128 number=0\n"
      "value handle=1 column=15 syntax=3 number=5\n"
      "value handle=1 column=16 syntax=129 number=0\n"
      "value handle=1 column=17 syntax=130 number=0\n"
      "value handle=1 column=18 syntax=6 oid=0.0\n"
      // A negative creation time has no time text; the leaves heading continues its line.
      "instance entry=1.3.6.1.4.1.32473.99.5.1 index=2.7 handle=2 creator=7 time=-1 enabled=8 "
      "leaves=0\n"));
  std::string body =
      Block(1, ENTRY, "1", "00000001") + LEAVES + Leaf(1, ENTRY, "1", "(int,int32) -1") +
      Leaf(2, ENTRY, "1", "(octets) line\t\n") + Leaf(3, ENTRY, "1", "(octets) 00.ff (hex)") +
      Leaf(4, ENTRY, "1", "(octets) (zero-length)") + Leaf(5, ENTRY, "1", "(null) NULL") +
      Leaf(6, ENTRY, "1", "(oid) enterprises.32473.99.1.9.1.3") +
      Leaf(7, ENTRY, "1", "(ipaddr) 10.0.0.1") + Leaf(8, ENTRY, "1", "(cntr32) 4294967295") +
      Leaf(9, ENTRY, "1", "(gauge32) 7") +
      Leaf(10, ENTRY, "1", "(timeticks) 1 day 00h:00m:00s.00th") +
      Leaf(11, ENTRY, "1", "(opaque) 01.ab (hex)") +
      Leaf(12, ENTRY, "1", "(nsapaddr) 47.00.05 (hex)") +
      Leaf(13, ENTRY, "1", "(cntr64) 1.ab (hex)") +
      Leaf(14, ENTRY, "1", "(nosuchobject) NOSUCHOBJECT") +
      // An unknown syntax code leaves its line empty; the next leaf follows.
      "\n    15: " + Leaf(16, ENTRY, "1", "(nosuchinstance) NOSUCHINSTANCE") +
      Leaf(17, ENTRY, "1", "(endofmibview) ENDOFMIBVIEW") +
      Leaf(18, ENTRY, "1", "(oid) (null-oid) zeroDotZero") + "\n" +
      Block(2, ENTRY, "2.7", "00000002", "(null)") + LEAVES + "\n";
  OasetRun run = RunOaset(&agent, {"-t" + ENTRY});
  EXPECT_EQ(run.out, Listing(ENTRY, body));
  EXPECT_EQ(run.status, 0);
}

std::string DottedRun(uint32_t first, uint32_t count) {
  std::string text;
  for (uint32_t i = 0; i < count; ++i) {
    text += (i == 0 ? "" : ".") + std::to_string(first + i);
  }
  return text;
}

TEST(TableListingE2e, LongestOidsFillTheLeafOidAndLongerOnesAreCutAt128) {
  // 128 + 1 + 128 sub-identifiers: the longest leaf OID is read as it stands.
  const std::string entry128 = "1.3.6.1.4.1.32473.99.6." + DottedRun(1000, 119);
  const std::string index128 = DottedRun(1, 128);
  {
    TestAgent agent(WithState("instance entry=" + entry128 + " index=" + index128 +
                              " handle=1 creator=7 time=86400 enabled=8 leaves=1\n"
                              "value handle=1 column=1 syntax=2 number=3\n"));
    OasetRun run = RunOaset(&agent, {"-t" + entry128});
    EXPECT_EQ(run.out, Listing(entry128, Block(1, entry128, index128, "00000001") + LEAVES +
                                             Leaf(1, entry128, index128, "(int,int32) 3") + "\n"));
  }
  // Longer OIDs print their first 128 sub-identifiers; the leaf OID built from those names
  // nothing the agent holds, so the leaves end silently.
  const std::string entry131 = entry128 + ".7.8.9";
  const std::string index200 = index128 + "." + DottedRun(129, 72);
  TestAgent agent(WithState("instance entry=" + entry131 + " index=" + index200 +
                            " handle=1 creator=7 time=86400 enabled=8 leaves=2\n"
                            "value handle=1 column=1 syntax=2 number=3\n"));
  OasetRun run = RunOaset(&agent, {"-t" + entry131});
  EXPECT_EQ(run.out, Listing(entry131, Block(1, entry128, index128, "00000001") + LEAVES +
                                           "\n    1: " + "\n"));
  EXPECT_EQ(run.status, 0);
}

TEST(TableListingE2e, RejectedEntryOidsGoStraightToTheDisconnection) {
  TestAgent agent;
  struct Case {
    std::string arg;
    std::string entry;
    std::string message;
    std::string reason;  // the standard-error line after "oaset: "
  };
  const std::string numeric = "\" is not a numeric OID (dotted numbers, as 1.3.6.1)";
  const std::vector<Case> cases = {
      {"-e", "", "\nBad OID.", "\"" + numeric},
      {"-tspeakerFreqEntry", "speakerFreqEntry", "\nBad OID.", "\"speakerFreqEntry" + numeric},
      {"-e1.3.6..1", "1.3.6..1", "\nBad OID.", "\"1.3.6..1" + numeric},
      {"-e1.3.6.1.4.1.32473.99.1.4", "1.3.6.1.4.1.32473.99.1.4",
       "\nOID does not represent the table entry.",
       "no such table entry: 1.3.6.1.4.1.32473.99.1.4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arg);
    OasetRun run = RunOaset(&agent, {c.arg, "-s1.3.6.1.4.1.32473.99.1.4", "-mi2"});
    EXPECT_EQ(run.out, BannerText() + Heading(c.entry) + c.message + FinishedText());
    EXPECT_EQ(run.err, "oaset: " + c.reason + "\n");
    EXPECT_EQ(run.status, 0);
  }
}

TEST(TableListingE2e, InjectedFailuresOfEachFrameworkCall) {
  TestAgent agent(WithState(TWO_INSTANCES));
  struct Case {
    std::string faults;
    std::string body;
    int status = 0;
  };
  const std::string FIRST_INSTANCE =
      Block(1, ENTRY, "1", "00000001") + LEAVES + Leaf(1, ENTRY, "1", "(int,int32) -1") +
      Leaf(2, ENTRY, "1", "(octets) Some octets") + Leaf(3, ENTRY, "1", "(gauge32) 7") + "\n";
  const std::string LISTING_ERROR =
      "\nTable listing error: injected fault in AgentEnumTableInstances (error code 1002)\n";
  const std::vector<Case> cases = {
      {"SnmpStringToOid=0", "\nBad OID."},
      {"AgentFindTableEntry=0", "\nOID does not represent the table entry."},
      // The index-0 call is the first; the second is index 1.
      {"AgentEnumTableInstances=0@2", "\n\n  None.\n"},
      {"AgentEnumTableInstances=0@3", FIRST_INSTANCE + "\n"},
      // A call that fails for another reason than the table's end is an error, not the end: a
      // populated table must never show as "None.".
      {"AgentEnumTableInstances=0/1002@2", LISTING_ERROR, 1},
      {"AgentEnumTableInstances=0/1002@3", FIRST_INSTANCE + LISTING_ERROR, 1},
      // A data handle refused at the second leaf ends that instance's leaves only.
      {"AgentGetDataHandle=0@2", Block(1, ENTRY, "1", "00000001") + LEAVES +
                                     Leaf(1, ENTRY, "1", "(int,int32) -1") + "\n    2: \n" +
                                     Block(2, ENTRY, "2.7", "00000002") + LEAVES +
                                     Leaf(1, ENTRY, "2.7", "(int,int32) 20") +
                                     Leaf(2, ENTRY, "2.7", "(octets) (zero-length)") +
                                     Leaf(3, ENTRY, "2.7", "(gauge32) 0") + "\n\n"},
      {"AgentGetData=0/77", Block(1, ENTRY, "1", "00000001") + LEAVES + "\n    1: \nError: 77\n" +
                                Block(2, ENTRY, "2.7", "00000002") + LEAVES +
                                "\n    1: \nError: 77\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults);
    OasetRun run = RunOaset(&agent, {"-t" + ENTRY}, {{"ORVU_FAULTS", c.faults}});
    bool stops = c.body.rfind("\nBad", 0) == 0 || c.body.rfind("\nOID", 0) == 0 || c.status != 0;
    std::string tail = stops ? FinishedText() : NOTHING_TO_SET + FinishedText();
    EXPECT_EQ(run.out, BannerText() + Heading(ENTRY) + c.body + tail);
    EXPECT_EQ(run.status, c.status);
  }
}

}  // namespace
