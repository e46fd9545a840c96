#include "agent_ops/table_entries.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/invocation.h"
#include "fake_libraries_test.h"

namespace {

constexpr AgentHandle AGENT = 0x77;

class TableEntriesTest : public FakeLibrariesTest {
 protected:
  void SetUp() override {
    FakeLibrariesTest::SetUp();
    ResetInvocation();
  }
  // Adding and removing give back only OIDs through the utility library.
  void TearDown() override {
    for (uint32_t syntax : fake.freedSyntaxes) EXPECT_EQ(syntax, SYNTAX_OID);
    FakeLibrariesTest::TearDown();
  }

  struct StepResult {
    int result;
    int exitStatus;
    std::string out;
  };

  StepResult Add(const char* entry, const char* instance) {
    gInvocation.addEntryOid = entry;
    gInvocation.instanceOid = instance;
    return Run(AddTableEntry);
  }
  StepResult Remove(const char* entry, const char* instance) {
    gInvocation.removeEntryOid = entry;
    gInvocation.instanceOid = instance;
    return Run(RemoveTableEntry);
  }
  StepResult Run(int (*step)(AgentHandle, int*)) {
    StepResult run{};
    testing::internal::CaptureStdout();
    run.result = step(AGENT, &run.exitStatus);
    std::fflush(stdout);
    run.out = testing::internal::GetCapturedStdout();
    return run;
  }
};

const char* const ENTRY = "1.3.6.1.4.1.32473.99.1.9.1";
const std::string ADDING = "\n\nAdding table entry 1.3.6.1.4.1.32473.99.1.9.1.<index>.50 ...";
const std::string REMOVING = "\n\nRemoving table entry 1.3.6.1.4.1.32473.99.1.9.1.<index>.50 ...";

TEST_F(TableEntriesTest, AddCreatesThenEnablesAndShowsTheInstanceHandle) {
  StepResult run = Add(ENTRY, "50");
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, ADDING + "\nTable entry succesfully added and enabled (handle = 00000ABC).\n");
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"create 0 0 1.3.6.1.4.1.32473.99.1.9.1 50",
                                                  "enable 0 17 2748 8"}));
  EXPECT_EQ(fake.oidReleases, 2);
}

TEST_F(TableEntriesTest, AddFailuresSetTheExitStatusAndGiveBackWhatConverted) {
  struct Case {
    const char* entry;
    const char* instance;
    uint32_t createResult;
    int enableResult;
    std::string message;
    int releases;
  };
  const std::vector<Case> cases = {
      {"", "50", 0x11, 1, "\nBad table entry oid: \n", 0},
      {"1.3.x", "50", 0x11, 1, "\nBad table entry oid: 1.3.x\n", 0},
      // The entry converted before the instance text was refused: it is still given back.
      {ENTRY, "", 0x11, 1, "\nBad instance oid: \n", 1},
      {ENTRY, "5.", 0x11, 1, "\nBad instance oid: 5.\n", 1},
      {ENTRY, "50", 0, 1, "\nFailed to add a table entry: agent error 21\n", 2},
      // Enabling fails: the created instance is left as it is, nothing removes it.
      {ENTRY, "50", 0x11, 0, "\nFailed to add a table entry: agent error 22\n", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.entry) + " / " + c.instance);
    fake.createResult = c.createResult;
    fake.enableResult = c.enableResult;
    fake.oidReleases = 0;
    fake.calls.clear();
    StepResult run = Add(c.entry, c.instance);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.exitStatus, 1);
    std::string adding =
        std::string("\n\nAdding table entry ") + c.entry + ".<index>." + c.instance + " ...";
    EXPECT_EQ(run.out, adding + c.message);
    EXPECT_EQ(fake.oidReleases, c.releases);
    EXPECT_TRUE(fake.live.empty());
    for (const std::string& call : fake.calls) {
      EXPECT_NE(call.rfind("remove", 0), 0u) << "a failed creation must not remove anything";
    }
  }
}

TEST_F(TableEntriesTest, RemoveFindsEntryAndInstanceThenRemoves) {
  StepResult run = Remove(ENTRY, "50");
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, REMOVING + "\nTable entry succesfully removed.\n");
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"find entry 1.3.6.1.4.1.32473.99.1.9.1",
                                                  "find instance 17 50", "remove 0 17 34"}));
  EXPECT_EQ(fake.oidReleases, 2);
}

TEST_F(TableEntriesTest, RemoveFailuresSetTheExitStatusAndGiveBackWhatConverted) {
  struct Case {
    const char* entry;
    const char* instance;
    int removeResult;
    std::string message;
    int releases;
  };
  const std::vector<Case> cases = {
      {"", "50", 1, "\nBad table entry oid: \n", 0},
      {ENTRY, "abc", 1, "\nBad instance oid: abc\n", 1},
      // Unknown to the agent: the same texts as an OID that does not convert, no error text.
      {"1.3.6.1.4.1.32473.99.1.9.2", "50", 1, "\nBad table entry oid: 1.3.6.1.4.1.32473.99.1.9.2\n",
       2},
      {ENTRY, "51", 1, "\nBad instance oid: 51\n", 2},
      {ENTRY, "50", 0, "\nFailed to remove a table entry: agent error 23\n", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.entry) + " / " + c.instance);
    fake.removeResult = c.removeResult;
    fake.oidReleases = 0;
    StepResult run = Remove(c.entry, c.instance);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.exitStatus, 1);
    std::string removing =
        std::string("\n\nRemoving table entry ") + c.entry + ".<index>." + c.instance + " ...";
    EXPECT_EQ(run.out, removing + c.message);
    EXPECT_EQ(fake.oidReleases, c.releases);
    EXPECT_TRUE(fake.live.empty());
  }
}

TEST_F(TableEntriesTest, ASucceedingStepLeavesAnEarlierExitStatusAlone) {
  int exitStatus = 1;
  gInvocation.addEntryOid = ENTRY;
  gInvocation.instanceOid = "50";
  testing::internal::CaptureStdout();
  EXPECT_EQ(AddTableEntry(AGENT, &exitStatus), 1);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(exitStatus, 1);
}

}  // namespace
