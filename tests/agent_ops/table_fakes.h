// An in-process stand-in for the outside libraries, as far as table creation, removal and listing
// use them. Every block it attaches is tracked, so a test can tell what was not given back.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "agentapi/outside_api.h"
#include "cli/invocation.h"

namespace table_fakes {

inline std::string OidText(const SnmpOid* oid) {
  std::string text;
  for (uint32_t i = 0; i < oid->count; ++i) {
    if (i != 0) {
      text += '.';
    }
    text += std::to_string(oid->ids[i]);
  }
  return text;
}

struct LeafRead {
  SnmpOid oid;  // handed back as it is; ids are copied into a fresh block
  SnmpValue value;
};

struct FakeLibraries {
  // Blocks attached and not yet given back.
  std::set<void*> live;
  int oidReleases = 0;
  int valueReleases = 0;
  int lastError = 0;

  // Table entries and instances the fake agent knows, by OID text.
  std::string knownEntry = "1.3.6.1.4.1.32473.99.1.9.1";
  std::set<std::string> knownInstances = {"50"};
  uint32_t createResult = 0x11;
  uint32_t createdInstanceHandle = 0xABC;
  int enableResult = 1;
  int removeResult = 1;
  std::vector<std::string> calls;

  std::vector<TableInstanceInfo> instances;
  std::vector<uint32_t> enumSizesSeen;
  // Data handle calls (counted from 1) that fail, and the leaf OIDs the tool asked for.
  uint32_t refuseHandleAt = 0;
  uint32_t handleCalls = 0;
  std::vector<std::string> leafOids;
  uint32_t failDataAt = 0;
  uint32_t dataCalls = 0;
  // What a leaf read returns for the leaf OID the tool built.
  std::function<LeafRead(const SnmpOid&)> readLeaf;

  uint32_t* Attach(const uint32_t* ids, uint32_t count) {
    auto* block = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) * (count + 1)));
    if (count != 0) {
      std::memcpy(block, ids, sizeof(uint32_t) * count);
    }
    live.insert(block);
    return block;
  }
  void Release(void* block) {
    if (block == nullptr) {
      return;
    }
    ASSERT_EQ(live.erase(block), 1u) << "a block given back twice, or not ours";
    std::free(block);
  }
};

inline FakeLibraries* gFake = nullptr;

inline int FakeStringToOid(const char* text, SnmpOid* oid) {
  std::vector<uint32_t> ids;
  const char* at = text;
  while (*at != '\0') {
    if (*at < '0' || *at > '9') {
      return 0;
    }
    char* end = nullptr;
    ids.push_back(static_cast<uint32_t>(std::strtoul(at, &end, 10)));
    at = end;
    if (*at == '.') {
      ++at;
      if (*at == '\0') {
        return 0;
      }
    }
  }
  if (ids.empty()) {
    return 0;
  }
  oid->count = static_cast<uint32_t>(ids.size());
  oid->ids = gFake->Attach(ids.data(), oid->count);
  return 1;
}

inline int FakeOidToString(const SnmpOid* oid, uint32_t size, char* buffer) {
  std::snprintf(buffer, size, "%s", OidText(oid).c_str());
  return 1;
}

inline int FakeSnmpFree(uint32_t syntax, void* pair) {
  EXPECT_EQ(syntax, SYNTAX_OID);
  auto* oid = static_cast<SnmpOid*>(pair);
  gFake->Release(oid->ids);
  ++gFake->oidReleases;
  return 1;
}

inline int FakeLastError() { return gFake->lastError; }

inline const char* FakeErrorText(int code, char* buffer, uint32_t size) {
  std::snprintf(buffer, size, "agent error %d", code);
  return buffer;
}

inline uint32_t FakeCreate(AgentHandle, uint32_t zero1, uint32_t zero2, const SnmpOid* entry,
                           const SnmpOid* instance, uint32_t* instanceHandle) {
  gFake->calls.push_back("create " + std::to_string(zero1) + " " + std::to_string(zero2) + " " +
                         OidText(entry) + " " + OidText(instance));
  if (gFake->createResult == 0) {
    gFake->lastError = 21;
    return 0;
  }
  *instanceHandle = gFake->createdInstanceHandle;
  return gFake->createResult;
}

inline int FakeEnable(AgentHandle, uint32_t zero, uint32_t entryHandle, uint32_t instanceHandle,
                      uint32_t flags) {
  gFake->calls.push_back("enable " + std::to_string(zero) + " " + std::to_string(entryHandle) +
                         " " + std::to_string(instanceHandle) + " " + std::to_string(flags));
  if (gFake->enableResult == 0) {
    gFake->lastError = 22;
  }
  return gFake->enableResult;
}

inline uint32_t FakeFindEntry(AgentHandle, const SnmpOid* entry) {
  gFake->calls.push_back("find entry " + OidText(entry));
  return OidText(entry) == gFake->knownEntry ? 0x11 : 0;
}

inline uint32_t FakeFindInstance(AgentHandle, uint32_t entryHandle, const SnmpOid* instance) {
  gFake->calls.push_back("find instance " + std::to_string(entryHandle) + " " + OidText(instance));
  return gFake->knownInstances.count(OidText(instance)) != 0 ? 0x22 : 0;
}

inline int FakeRemove(AgentHandle, uint32_t zero, uint32_t entryHandle, uint32_t instanceHandle) {
  gFake->calls.push_back("remove " + std::to_string(zero) + " " + std::to_string(entryHandle) +
                         " " + std::to_string(instanceHandle));
  if (gFake->removeResult == 0) {
    gFake->lastError = 23;
  }
  return gFake->removeResult;
}

inline int FakeEnumInstances(AgentHandle, uint32_t index, uint32_t entryHandle,
                             TableInstanceInfo* info) {
  EXPECT_EQ(entryHandle, 0x11u);
  gFake->enumSizesSeen.push_back(info->size);
  if (index == 0 || index > gFake->instances.size()) {
    return 0;
  }
  uint32_t size = info->size;
  *info = gFake->instances[index - 1];
  info->size = size;
  return 1;
}

inline uint32_t FakeGetDataHandle(AgentHandle, uint32_t context, const SnmpOid* object) {
  EXPECT_EQ(context, 0u);
  gFake->leafOids.push_back(OidText(object));
  ++gFake->handleCalls;
  return gFake->handleCalls == gFake->refuseHandleAt ? 0 : 0x500 + gFake->handleCalls;
}

inline int FakeGetData(AgentHandle, uint32_t dataHandle, SnmpOid* oid, SnmpValue* value) {
  ++gFake->dataCalls;
  EXPECT_EQ(dataHandle, 0x500 + gFake->handleCalls);
  EXPECT_EQ(oid->count, 0u);
  EXPECT_EQ(oid->ids, nullptr);
  EXPECT_EQ(value->syntax, 0u);
  EXPECT_EQ(value->number, 0u);
  EXPECT_EQ(value->data, 0u);
  if (gFake->dataCalls == gFake->failDataAt) {
    gFake->lastError = 77;
    return 0;
  }
  const std::string& asked = gFake->leafOids.back();
  SnmpOid leaf{};
  std::vector<uint32_t> ids;
  for (const char* at = asked.c_str(); *at != '\0';) {
    char* end = nullptr;
    ids.push_back(static_cast<uint32_t>(std::strtoul(at, &end, 10)));
    at = *end == '.' ? end + 1 : end;
  }
  leaf.count = static_cast<uint32_t>(ids.size());
  leaf.ids = ids.data();
  LeafRead read =
      gFake->readLeaf ? gFake->readLeaf(leaf) : LeafRead{leaf, SnmpValue{SYNTAX_INTEGER, 7, 0}};
  oid->count = read.oid.count;
  oid->ids = gFake->Attach(read.oid.ids, read.oid.count);
  *value = read.value;
  if (value->syntax == SYNTAX_OCTETS && value->number != 0) {
    auto* bytes = static_cast<char*>(std::malloc(value->number));
    std::memcpy(bytes, reinterpret_cast<const void*>(read.value.data), value->number);
    gFake->live.insert(bytes);
    value->data = reinterpret_cast<uintptr_t>(bytes);
  }
  return 1;
}

inline int FakeFreeValue(uint32_t syntax, void* payload) {
  auto* pair = static_cast<SnmpOid*>(payload);
  if (syntax == SYNTAX_OID) {
    gFake->Release(pair->ids);
    ++gFake->oidReleases;
  } else {
    if (syntax == SYNTAX_OCTETS) {
      gFake->Release(pair->ids);
    }
    ++gFake->valueReleases;
  }
  return 1;
}

// Puts the fakes into gApi for one test and checks at the end that nothing stayed attached.
class FakeLibrariesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gFake = &fake;
    saved = gApi;
    gApi = OutsideApi{};
    gApi.SnmpStringToOid = FakeStringToOid;
    gApi.SnmpOidToString = FakeOidToString;
    gApi.SnmpFreeValue = FakeSnmpFree;
    gApi.AgentGetLastError = FakeLastError;
    gApi.AgentErrorText = FakeErrorText;
    gApi.AgentCreateTableEntry = FakeCreate;
    gApi.AgentEnableTableEntry = FakeEnable;
    gApi.AgentFindTableEntry = FakeFindEntry;
    gApi.AgentFindTableInstance = FakeFindInstance;
    gApi.AgentRemoveTableEntry = FakeRemove;
    gApi.AgentEnumTableInstances = FakeEnumInstances;
    gApi.AgentGetDataHandle = FakeGetDataHandle;
    gApi.AgentGetData = FakeGetData;
    gApi.AgentFreeValue = FakeFreeValue;
    ResetInvocation();
  }
  void TearDown() override {
    EXPECT_TRUE(fake.live.empty()) << fake.live.size() << " blocks not given back";
    for (void* block : fake.live) {
      std::free(block);
    }
    gApi = saved;
    gFake = nullptr;
  }

  FakeLibraries fake;
  OutsideApi saved{};
};

}  // namespace table_fakes
