#include "agent_ops/set_values.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "agent_ops/resolve_symbolic_oid.h"
#include "agentapi/outside_api.h"
#include "cli/invocation.h"
#include "fake_libraries_test.h"

namespace {

constexpr AgentHandle TEST_AGENT = 0xA6;

class SetValuesTest : public FakeLibrariesTest {
 protected:
  void SetUp() override {
    FakeLibrariesTest::SetUp();
    fake.expectedAgent = TEST_AGENT;
    fake.lastError = 77;
    fake.fixedDataHandle = 0x51;
    fake.oidToStringCuts = false;
    fake.objectsByName = {{"speakerControl", 11}, {"speakerFreqEntry", 12}};
    fake.oidTextByObject = {{11, "1.3.6.1.4.1.32473.99.1.4"}, {12, "1.3.6.1.4.1.32473.99.1.9.1"}};
    savedInvocation = gInvocation;
  }

  void TearDown() override {
    gInvocation = savedInvocation;
    FakeLibrariesTest::TearDown();
  }

  // -s and -m entries as the parser would have recorded them.
  void Entries(std::vector<const char*> oidTexts, std::vector<SnmpSyntax> syntaxCodes,
               std::vector<const char*> texts) {
    oids = std::move(oidTexts);
    syntaxes = std::move(syntaxCodes);
    valueTexts = std::move(texts);
    gInvocation.oids = {oids.data(), oids.size(), oids.size()};
    gInvocation.syntaxes = {syntaxes.data(), syntaxes.size(), syntaxes.size()};
    gInvocation.valueTexts = {valueTexts.data(), valueTexts.size(), valueTexts.size()};
  }

  std::string Run() {
    ::testing::internal::CaptureStdout();
    SetValues(TEST_AGENT);
    return ::testing::internal::GetCapturedStdout();
  }

  Invocation savedInvocation{};
  std::vector<const char*> oids;
  std::vector<const char*> valueTexts;
  std::vector<SnmpSyntax> syntaxes;
};

TEST_F(SetValuesTest, OneNumericEntryIsWrittenWithContextZeroAndReleased) {
  Entries({"1.3.6.1.4.1.32473.99.1.4"}, {SYNTAX_INTEGER}, {"2"});
  EXPECT_EQ(Run(), "\nSetting OID:\n\n1: 1.3.6.1.4.1.32473.99.1.4 *** (int, int32) 2 ... OK\n");
  EXPECT_TRUE(fake.lookedUpNames.empty());
  EXPECT_EQ(fake.dataHandleOids, std::vector<std::string>{"1.3.6.1.4.1.32473.99.1.4"});
  EXPECT_EQ(fake.contexts, (std::vector<uint32_t>{0, 0}));
  EXPECT_EQ(fake.setDataHandles, std::vector<uint32_t>{0x51});
  ASSERT_EQ(fake.setValues.size(), 1u);
  EXPECT_EQ(fake.setValues[0].syntax, SYNTAX_INTEGER);
  EXPECT_EQ(fake.setValues[0].number, 2u);
  EXPECT_EQ(fake.freedSyntaxes, std::vector<uint32_t>{SYNTAX_OID});
}

TEST_F(SetValuesTest, EveryFailureRowIsReportedAndTheLoopGoesOn) {
  fake.failSetFor = {{"1.3.6.1.4.1.32473.99.1.9.1.4.50", 1}};
  Entries({"speakerFreqEntry.2.50", "noSuchObject", "1.3.6.7", "1.3.6.1.4.1.32473.99.1.9.1.4.50",
           "1.3.6.8", "1.3.6.9", "1.3.6.10"},
          {SYNTAX_OCTETS, SYNTAX_INTEGER, 131, SYNTAX_INTEGER, SYNTAX_NULL, SYNTAX_IPADDR},
          {"Some octets", "1", "x", "-5", "", "10.0.0.1"});
  std::string out = Run();
  EXPECT_EQ(out,
            "\nSetting OIDs:\n"
            "\n1: speakerFreqEntry.2.50 *** (octets) Some octets ... OK"
            "\n2: noSuchObject *** (int, int32) 1 ... "
            "\n  FAILED (While converting OID to internal form)"
            "\n3: 1.3.6.7 *** (bad syntax) x ... "
            "\n  FAILED (While converting value to internal form)"
            "\n4: 1.3.6.1.4.1.32473.99.1.9.1.4.50 *** (int, int32) -5 ... "
            "\nSet data failed: agent error 77"
            "\n5: 1.3.6.8 *** (null)  ... OK"
            "\n6: 1.3.6.9 *** (ipaddr) 10.0.0.1 ... OK"
            "\n7: 1.3.6.10 "
            "\n  FAILED (No value specified)"
            "\n");
  EXPECT_EQ(fake.dataHandleOids,
            (std::vector<std::string>{"1.3.6.1.4.1.32473.99.1.9.1.2.50",
                                      "1.3.6.1.4.1.32473.99.1.9.1.4.50", "1.3.6.8", "1.3.6.9"}));
  ASSERT_EQ(fake.setPayloads.size(), 4u);
  EXPECT_EQ(fake.setPayloads[0], "Some octets");
  EXPECT_EQ(fake.setValues[1].number, static_cast<uint32_t>(-5));
  EXPECT_EQ(fake.setPayloads[3], std::string("\x0a\x00\x00\x01", 4));
  // Each entry past the OID step gives its OID back; the octets and the address give their bytes
  // back too; NULL and INTEGER hold none. The resolution frees the MIB's OID on its way.
  EXPECT_EQ(fake.freedSyntaxes,
            (std::vector<uint32_t>{SYNTAX_OID, SYNTAX_OID, SYNTAX_OCTETS, SYNTAX_OID, SYNTAX_OID,
                                   SYNTAX_OID, SYNTAX_OID, SYNTAX_IPADDR}));
}

TEST_F(SetValuesTest, DataHandleFailureIsReportedForEachEntry) {
  fake.fixedDataHandle = 0;
  Entries({"1.3.6.1", "1.3.6.2"}, {SYNTAX_OCTETS, SYNTAX_OCTETS}, {"a", "b"});
  EXPECT_EQ(Run(),
            "\nSetting OIDs:\n"
            "\n1: 1.3.6.1 *** (octets) a ... \nGet data handle failed: agent error 77"
            "\n2: 1.3.6.2 *** (octets) b ... \nGet data handle failed: agent error 77"
            "\n");
  EXPECT_TRUE(fake.setValues.empty());
  EXPECT_EQ(fake.freedSyntaxes,
            (std::vector<uint32_t>{SYNTAX_OID, SYNTAX_OCTETS, SYNTAX_OID, SYNTAX_OCTETS}));
}

TEST_F(SetValuesTest, ShortLinesWhenValueOrSyntaxIsMissing) {
  Entries({"1.3.6.1", "1.3.6.2"}, {SYNTAX_INTEGER}, {"1", "2"});
  EXPECT_EQ(Run(),
            "\nSetting OIDs:\n"
            "\n1: 1.3.6.1 *** (int, int32) 1 ... OK"
            "\n2: 1.3.6.2 \n  FAILED (No syntax specified)"
            "\n");
}

TEST_F(SetValuesTest, SurplusValuesAreIgnored) {
  Entries({"1.3.6.1"}, {SYNTAX_INTEGER, SYNTAX_INTEGER}, {"1", "2"});
  EXPECT_EQ(Run(), "\nSetting OID:\n\n1: 1.3.6.1 *** (int, int32) 1 ... OK\n");
  EXPECT_EQ(fake.setValues.size(), 1u);
}

TEST_F(SetValuesTest, ResolutionSplitsAtTheFirstDotAndKeepsTheSuffix) {
  SnmpOid oid{};
  EXPECT_EQ(ResolveSymbolicOid("speakerControl", &oid), 1);
  EXPECT_EQ(OidText(&oid), "1.3.6.1.4.1.32473.99.1.4");
  FakeSnmpFreeValue(SYNTAX_OID, &oid);

  fake.objectsByName["1"] = 11;
  oid = SnmpOid{};
  EXPECT_EQ(ResolveSymbolicOid("1.3.6.x", &oid), 0);
  EXPECT_EQ(fake.stringToOidTexts.back(), "1.3.6.1.4.1.32473.99.1.4.3.6.x");

  // An empty suffix still brings its dot along, which the utility library then refuses.
  EXPECT_EQ(ResolveSymbolicOid("speakerControl.", &oid), 0);
  EXPECT_EQ(fake.stringToOidTexts.back(), "1.3.6.1.4.1.32473.99.1.4.");
  EXPECT_EQ(fake.lookedUpNames,
            (std::vector<std::string>{"speakerControl", "1", "speakerControl"}));
}

TEST_F(SetValuesTest, ResolutionFailsCleanlyAtEachStep) {
  SnmpOid oid{};
  EXPECT_EQ(ResolveSymbolicOid("", &oid), 0);
  fake.objectsByName["orphan"] = 99;
  EXPECT_EQ(ResolveSymbolicOid("orphan.1", &oid), 0);
  EXPECT_TRUE(fake.freedSyntaxes.empty());

  fake.oidToStringFails = true;
  EXPECT_EQ(ResolveSymbolicOid("speakerControl.0", &oid), 0);
  EXPECT_EQ(fake.freedSyntaxes, std::vector<uint32_t>{SYNTAX_OID});
  EXPECT_EQ(oid.count, 0u);
  EXPECT_EQ(oid.ids, nullptr);
}

TEST_F(SetValuesTest, TextsBeyondTheWorkBuffersFailWithoutCopying) {
  // 1023 characters and the terminator fill the work copy exactly.
  std::string fits = "speakerControl." + std::string(1023 - 15, '7');
  std::string tooLong = fits + "7";
  SnmpOid oid{};
  EXPECT_EQ(ResolveSymbolicOid(tooLong.c_str(), &oid), 0);
  EXPECT_TRUE(fake.lookedUpNames.empty());

  // The numeric text with "." and the suffix must fit as well: 24 + 1 + 998 = 1023 fits.
  std::string suffixFits = "speakerControl." + std::string(998, '7');
  EXPECT_EQ(ResolveSymbolicOid(suffixFits.c_str(), &oid), 0);  // the fake rejects one huge id
  EXPECT_EQ(fake.stringToOidTexts.back().size(), 1023u);
  size_t asked = fake.stringToOidTexts.size();
  EXPECT_EQ(ResolveSymbolicOid((suffixFits + "7").c_str(), &oid), 0);
  EXPECT_EQ(fake.stringToOidTexts.size(), asked);

  Entries({tooLong.c_str()}, {SYNTAX_INTEGER}, {"1"});
  EXPECT_THAT(Run(),
              ::testing::EndsWith(" ... \n  FAILED (While converting OID to internal form)\n"));
  EXPECT_TRUE(fake.setValues.empty());
}

}  // namespace
