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

namespace {

// What the fakes saw, and what they are told to answer.
struct FakeWorld {
  std::map<std::string, uint32_t> mibNames;  // name -> object handle
  std::map<uint32_t, std::string> mibOids;   // object handle -> numeric OID text
  bool oidToStringFails = false;
  uint32_t dataHandle = 0x51;  // 0 makes AgentGetDataHandle fail
  int setDataResult = 1;
  std::map<std::string, int> failSetFor;  // OID text -> AgentSetData answers 0

  std::vector<std::string> lookedUpNames;
  std::vector<std::string> stringToOidTexts;
  std::vector<std::string> dataHandleOids;
  std::vector<uint32_t> contexts;
  std::vector<uint32_t> setDataHandles;
  std::vector<SnmpValue> setValues;
  std::vector<std::string> setPayloads;
  std::vector<uint32_t> freedSyntaxes;
  std::set<const void*> liveBlocks;  // attached by the fake libraries, not yet released
};

FakeWorld* world = nullptr;

std::string OidText(const SnmpOid* oid) {
  std::string text;
  for (uint32_t i = 0; i < oid->count; ++i) {
    text += (i == 0 ? "" : ".") + std::to_string(oid->ids[i]);
  }
  return text;
}

uint32_t* NewIds(const std::vector<uint32_t>& ids) {
  auto* block = static_cast<uint32_t*>(std::malloc(ids.size() * sizeof(uint32_t) + 1));
  std::memcpy(block, ids.data(), ids.size() * sizeof(uint32_t));
  world->liveBlocks.insert(block);
  return block;
}

// Dotted decimal only, like the utility library: no empty components, no trailing dot.
int FakeStringToOid(const char* text, SnmpOid* oid) {
  world->stringToOidTexts.push_back(text);
  std::vector<uint32_t> ids;
  const char* p = text;
  while (true) {
    if (*p < '0' || *p > '9') return 0;
    char* end = nullptr;
    ids.push_back(static_cast<uint32_t>(std::strtoul(p, &end, 10)));
    if (end - p > 10) return 0;
    p = end;
    if (*p == '\0') break;
    if (*p++ != '.') return 0;
  }
  oid->count = static_cast<uint32_t>(ids.size());
  oid->ids = NewIds(ids);
  return 1;
}

int FakeOidToString(const SnmpOid* oid, uint32_t size, char* buffer) {
  if (world->oidToStringFails) return 0;
  std::string text = OidText(oid);
  if (text.size() + 1 > size) return 0;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return 1;
}

int FakeFreeValue(uint32_t syntax, void* pair) {
  world->freedSyntaxes.push_back(syntax);
  auto* oid = static_cast<SnmpOid*>(pair);
  // Blocks of converted values come from the tool's own allocations; leak checkers watch those.
  world->liveBlocks.erase(oid->ids);
  std::free(oid->ids);
  return 1;
}

uint32_t FakeLookupName(const char* name) {
  world->lookedUpNames.push_back(name);
  auto found = world->mibNames.find(name);
  return found == world->mibNames.end() ? 0 : found->second;
}

int FakeGetObjectOid(uint32_t object, uint32_t form, SnmpOid* oid) {
  auto found = world->mibOids.find(object);
  if (form != MIB_FORM_OID || found == world->mibOids.end()) return 0;
  int converted = FakeStringToOid(found->second.c_str(), oid);
  world->stringToOidTexts.pop_back();
  return converted;
}

uint32_t FakeGetDataHandle(AgentHandle agent, uint32_t context, const SnmpOid* object) {
  EXPECT_EQ(agent, 0xA6u);
  world->contexts.push_back(context);
  world->dataHandleOids.push_back(OidText(object));
  return world->dataHandle;
}

int FakeSetData(AgentHandle agent, uint32_t context, uint32_t dataHandle, const SnmpValue* value) {
  EXPECT_EQ(agent, 0xA6u);
  world->contexts.push_back(context);
  world->setDataHandles.push_back(dataHandle);
  world->setValues.push_back(*value);
  bool bytes = value->syntax == SYNTAX_OCTETS || value->syntax == SYNTAX_IPADDR;
  world->setPayloads.push_back(
      bytes ? std::string(reinterpret_cast<const char*>(value->data), value->number) : "");
  if (world->failSetFor.count(world->dataHandleOids.back()) != 0) return 0;
  return world->setDataResult;
}

int FakeLastError() { return 77; }

const char* FakeErrorText(int code, char* buffer, uint32_t size) {
  std::snprintf(buffer, size, "agent error %d", code);
  return buffer;
}

constexpr AgentHandle TEST_AGENT = 0xA6;

class SetValuesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world = &fakes;
    savedApi = gApi;
    gApi = OutsideApi{};
    gApi.SnmpStringToOid = FakeStringToOid;
    gApi.SnmpOidToString = FakeOidToString;
    gApi.SnmpFreeValue = FakeFreeValue;
    gApi.MibLookupName = FakeLookupName;
    gApi.MibGetObjectOid = FakeGetObjectOid;
    gApi.AgentGetDataHandle = FakeGetDataHandle;
    gApi.AgentSetData = FakeSetData;
    gApi.AgentGetLastError = FakeLastError;
    gApi.AgentErrorText = FakeErrorText;
    fakes.mibNames = {{"speakerControl", 11}, {"speakerFreqEntry", 12}};
    fakes.mibOids = {{11, "1.3.6.1.4.1.32473.99.1.4"}, {12, "1.3.6.1.4.1.32473.99.1.9.1"}};
    savedInvocation = gInvocation;
  }

  void TearDown() override {
    EXPECT_TRUE(fakes.liveBlocks.empty()) << "blocks attached and never released";
    gApi = savedApi;
    gInvocation = savedInvocation;
    world = nullptr;
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

  FakeWorld fakes;
  OutsideApi savedApi{};
  Invocation savedInvocation{};
  std::vector<const char*> oids;
  std::vector<const char*> valueTexts;
  std::vector<SnmpSyntax> syntaxes;
};

TEST_F(SetValuesTest, OneNumericEntryIsWrittenWithContextZeroAndReleased) {
  Entries({"1.3.6.1.4.1.32473.99.1.4"}, {SYNTAX_INTEGER}, {"2"});
  EXPECT_EQ(Run(), "\nSetting OID:\n\n1: 1.3.6.1.4.1.32473.99.1.4 *** (int, int32) 2 ... OK\n");
  EXPECT_TRUE(fakes.lookedUpNames.empty());
  EXPECT_EQ(fakes.dataHandleOids, std::vector<std::string>{"1.3.6.1.4.1.32473.99.1.4"});
  EXPECT_EQ(fakes.contexts, (std::vector<uint32_t>{0, 0}));
  EXPECT_EQ(fakes.setDataHandles, std::vector<uint32_t>{0x51});
  ASSERT_EQ(fakes.setValues.size(), 1u);
  EXPECT_EQ(fakes.setValues[0].syntax, SYNTAX_INTEGER);
  EXPECT_EQ(fakes.setValues[0].number, 2u);
  EXPECT_EQ(fakes.freedSyntaxes, std::vector<uint32_t>{SYNTAX_OID});
}

TEST_F(SetValuesTest, EveryFailureRowIsReportedAndTheLoopGoesOn) {
  fakes.failSetFor = {{"1.3.6.1.4.1.32473.99.1.9.1.4.50", 1}};
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
  EXPECT_EQ(fakes.dataHandleOids,
            (std::vector<std::string>{"1.3.6.1.4.1.32473.99.1.9.1.2.50",
                                      "1.3.6.1.4.1.32473.99.1.9.1.4.50", "1.3.6.8", "1.3.6.9"}));
  ASSERT_EQ(fakes.setPayloads.size(), 4u);
  EXPECT_EQ(fakes.setPayloads[0], "Some octets");
  EXPECT_EQ(fakes.setValues[1].number, static_cast<uint32_t>(-5));
  EXPECT_EQ(fakes.setPayloads[3], std::string("\x0a\x00\x00\x01", 4));
  // Each entry past the OID step gives its OID back; the octets and the address give their bytes
  // back too; NULL and INTEGER hold none. The resolution frees the MIB's OID on its way.
  EXPECT_EQ(fakes.freedSyntaxes,
            (std::vector<uint32_t>{SYNTAX_OID, SYNTAX_OID, SYNTAX_OCTETS, SYNTAX_OID, SYNTAX_OID,
                                   SYNTAX_OID, SYNTAX_OID, SYNTAX_IPADDR}));
}

TEST_F(SetValuesTest, DataHandleFailureIsReportedForEachEntry) {
  fakes.dataHandle = 0;
  Entries({"1.3.6.1", "1.3.6.2"}, {SYNTAX_OCTETS, SYNTAX_OCTETS}, {"a", "b"});
  EXPECT_EQ(Run(),
            "\nSetting OIDs:\n"
            "\n1: 1.3.6.1 *** (octets) a ... \nGet data handle failed: agent error 77"
            "\n2: 1.3.6.2 *** (octets) b ... \nGet data handle failed: agent error 77"
            "\n");
  EXPECT_TRUE(fakes.setValues.empty());
  EXPECT_EQ(fakes.freedSyntaxes,
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
  EXPECT_EQ(fakes.setValues.size(), 1u);
}

TEST_F(SetValuesTest, ResolutionSplitsAtTheFirstDotAndKeepsTheSuffix) {
  SnmpOid oid{};
  EXPECT_EQ(ResolveSymbolicOid("speakerControl", &oid), 1);
  EXPECT_EQ(OidText(&oid), "1.3.6.1.4.1.32473.99.1.4");
  FakeFreeValue(SYNTAX_OID, &oid);

  fakes.mibNames["1"] = 11;
  oid = SnmpOid{};
  EXPECT_EQ(ResolveSymbolicOid("1.3.6.x", &oid), 0);
  EXPECT_EQ(fakes.stringToOidTexts.back(), "1.3.6.1.4.1.32473.99.1.4.3.6.x");

  // An empty suffix still brings its dot along, which the utility library then refuses.
  EXPECT_EQ(ResolveSymbolicOid("speakerControl.", &oid), 0);
  EXPECT_EQ(fakes.stringToOidTexts.back(), "1.3.6.1.4.1.32473.99.1.4.");
  EXPECT_EQ(fakes.lookedUpNames,
            (std::vector<std::string>{"speakerControl", "1", "speakerControl"}));
}

TEST_F(SetValuesTest, ResolutionFailsCleanlyAtEachStep) {
  SnmpOid oid{};
  EXPECT_EQ(ResolveSymbolicOid("", &oid), 0);
  fakes.mibNames["orphan"] = 99;
  EXPECT_EQ(ResolveSymbolicOid("orphan.1", &oid), 0);
  EXPECT_TRUE(fakes.freedSyntaxes.empty());

  fakes.oidToStringFails = true;
  EXPECT_EQ(ResolveSymbolicOid("speakerControl.0", &oid), 0);
  EXPECT_EQ(fakes.freedSyntaxes, std::vector<uint32_t>{SYNTAX_OID});
  EXPECT_EQ(oid.count, 0u);
  EXPECT_EQ(oid.ids, nullptr);
}

TEST_F(SetValuesTest, TextsBeyondTheWorkBuffersFailWithoutCopying) {
  // 1023 characters and the terminator fill the work copy exactly.
  std::string fits = "speakerControl." + std::string(1023 - 15, '7');
  std::string tooLong = fits + "7";
  SnmpOid oid{};
  EXPECT_EQ(ResolveSymbolicOid(tooLong.c_str(), &oid), 0);
  EXPECT_TRUE(fakes.lookedUpNames.empty());

  // The numeric text with "." and the suffix must fit as well: 24 + 1 + 998 = 1023 fits.
  std::string suffixFits = "speakerControl." + std::string(998, '7');
  EXPECT_EQ(ResolveSymbolicOid(suffixFits.c_str(), &oid), 0);  // the fake rejects one huge id
  EXPECT_EQ(fakes.stringToOidTexts.back().size(), 1023u);
  size_t asked = fakes.stringToOidTexts.size();
  EXPECT_EQ(ResolveSymbolicOid((suffixFits + "7").c_str(), &oid), 0);
  EXPECT_EQ(fakes.stringToOidTexts.size(), asked);

  Entries({tooLong.c_str()}, {SYNTAX_INTEGER}, {"1"});
  EXPECT_THAT(Run(),
              ::testing::EndsWith(" ... \n  FAILED (While converting OID to internal form)\n"));
  EXPECT_TRUE(fakes.setValues.empty());
}

}  // namespace
