// One in-process stand-in for the three outside libraries, as far as the tool calls them:
// InstallFakeLibraries() puts every fake into gApi. A test says what the fakes answer and reads
// what they saw. Every block they hand out is tracked, and misuse they notice is kept in
// `complaints`, so a test can tell what was not given back or given back wrongly. No test
// framework here: the fuzz targets use the fakes too (the fixture is fake_libraries_test.h).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "agentapi/outside_api.h"
#include "values/snmp_value.h"
#include "values/value_block.h"

// What a leaf read answers: the OID is handed back as it is, its ids copied into a fresh block.
struct LeafRead {
  SnmpOid oid;
  SnmpValue value;
};

struct FakeLibraries {
  // Blocks handed out and not yet given back, and what the fakes found wrong.
  std::set<const void*> live;
  std::vector<std::string> complaints;
  int oidReleases = 0;                  // OID blocks given back, through either library
  int valueReleases = 0;                // AgentFreeValue of any other syntax
  std::vector<uint32_t> freedSyntaxes;  // SnmpFreeValue's syntax argument, in order

  // SNMP utility library.
  bool oidToStringFails = false;
  bool oidToStringCuts = true;  // a short buffer gets a cut text; false: the call fails
  std::vector<std::string> stringToOidTexts;

  // MIB library: OID -> name for the printer; name -> object -> OID text for symbolic OIDs.
  std::map<std::vector<uint32_t>, std::string> namesByOid;
  int oidLookups = 0;
  std::map<std::string, uint32_t> objectsByName;
  std::map<uint32_t, std::string> oidTextByObject;
  std::vector<std::string> lookedUpNames;

  // Agent framework library.
  AgentHandle expectedAgent = 0;  // nonzero: the connection every call must name
  int lastError = 0;
  std::vector<std::string> calls;  // create, enable, find and remove, in order
  std::string knownEntry = "1.3.6.1.4.1.32473.99.1.9.1";
  std::set<std::string> knownInstances = {"50"};
  uint32_t createResult = 0x11;
  uint32_t createdInstanceHandle = 0xABC;
  int enableResult = 1;
  int removeResult = 1;
  std::vector<TableInstanceInfo> instances;
  std::vector<uint32_t> enumSizesSeen;
  // Data handles are 0x500 + the call's number (counted from 1), 0 for the call refuseHandleAt,
  // or fixedDataHandle for every call when that is set.
  std::optional<uint32_t> fixedDataHandle;
  uint32_t refuseHandleAt = 0;
  uint32_t handleCalls = 0;
  std::vector<std::string> dataHandleOids;
  std::vector<uint32_t> contexts;  // of data handle and set calls, in order
  uint32_t failDataAt = 0;         // the AgentGetData call (from 1) that fails
  uint32_t dataCalls = 0;
  std::function<LeafRead(const SnmpOid&)> readLeaf;  // default: INTEGER 7 at the OID asked for
  int setDataResult = 1;
  std::map<std::string, int> failSetFor;  // OID text -> AgentSetData answers 0
  std::vector<uint32_t> setDataHandles;
  std::vector<SnmpValue> setValues;
  std::vector<std::string> setPayloads;

  uint32_t* Attach(const uint32_t* ids, uint32_t count) {
    auto* block = static_cast<uint32_t*>(AllocateValueBlock(sizeof(uint32_t) * (count + 1)));
    if (count != 0) std::memcpy(block, ids, sizeof(uint32_t) * count);
    live.insert(block);
    return block;
  }
  void Release(void* block) {
    if (block == nullptr) return;
    if (live.erase(block) != 1) {
      complaints.push_back("a block given back twice, or not ours");
      return;
    }
    ReleaseValueBlock(block);
  }
  void CheckAgent(AgentHandle agent) {
    if (expectedAgent != 0 && agent != expectedAgent) {
      complaints.push_back("a call named connection " + std::to_string(agent));
    }
  }
};

inline FakeLibraries gFakes;

inline std::string DottedDecimal(const std::vector<uint32_t>& ids) {
  std::string text;
  for (size_t i = 0; i < ids.size(); ++i) text += (i ? "." : "") + std::to_string(ids[i]);
  return text;
}

inline std::string OidText(const SnmpOid* oid) {
  return DottedDecimal({oid->ids, oid->ids + oid->count});
}

// The fakes honour the buffer sizes that they are given, so a short buffer shows as a cut text.
inline void CopyCut(const std::string& text, uint32_t size, char* buffer) {
  if (size == 0) return;
  size_t length = std::min<size_t>(text.size(), size - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

// Dotted decimal only, like the utility library: no empty components, no trailing dot.
inline int OUTSIDE_CALL FakeStringToOid(const char* text, SnmpOid* oid) {
  gFakes.stringToOidTexts.push_back(text);
  std::vector<uint32_t> ids;
  const char* at = text;
  while (true) {
    if (*at < '0' || *at > '9') return 0;
    char* end = nullptr;
    ids.push_back(static_cast<uint32_t>(std::strtoul(at, &end, 10)));
    if (end - at > 10) return 0;
    at = end;
    if (*at == '\0') break;
    if (*at++ != '.') return 0;
  }
  oid->count = static_cast<uint32_t>(ids.size());
  oid->ids = gFakes.Attach(ids.data(), oid->count);
  return 1;
}

inline int OUTSIDE_CALL FakeOidToString(const SnmpOid* oid, uint32_t size, char* buffer) {
  if (gFakes.oidToStringFails) return 0;
  std::string text = OidText(oid);
  if (!gFakes.oidToStringCuts && text.size() + 1 > size) return 0;
  CopyCut(text, size, buffer);
  return 1;
}

// OID blocks are the fakes' own; value blocks come from the tool's own parse; both from the one
// allocator.
inline int OUTSIDE_CALL FakeSnmpFreeValue(uint32_t syntax, void* pair) {
  gFakes.freedSyntaxes.push_back(syntax);
  auto* held = static_cast<SnmpOid*>(pair);
  if (syntax == SYNTAX_OID) {
    gFakes.Release(held->ids);
    ++gFakes.oidReleases;
  } else {
    gFakes.live.erase(held->ids);
    ReleaseValueBlock(held->ids);
  }
  return 1;
}

inline uint32_t OUTSIDE_CALL FakeLookupOid(const SnmpOid* oid) {
  ++gFakes.oidLookups;
  auto found = gFakes.namesByOid.find({oid->ids, oid->ids + oid->count});
  if (found == gFakes.namesByOid.end()) return 0;
  return static_cast<uint32_t>(std::distance(gFakes.namesByOid.begin(), found)) + 1;
}

inline int OUTSIDE_CALL FakeGetObjectName(uint32_t object, uint32_t form, uint32_t* size,
                                          char* buffer) {
  if (form != MIB_FORM_NAME || object == 0) return 0;
  CopyCut(std::next(gFakes.namesByOid.begin(), object - 1)->second, *size, buffer);
  return 1;
}

inline uint32_t OUTSIDE_CALL FakeLookupName(const char* name) {
  gFakes.lookedUpNames.push_back(name);
  auto found = gFakes.objectsByName.find(name);
  return found == gFakes.objectsByName.end() ? 0 : found->second;
}

inline int OUTSIDE_CALL FakeGetObjectOid(uint32_t object, uint32_t form, SnmpOid* oid) {
  auto found = gFakes.oidTextByObject.find(object);
  if (form != MIB_FORM_OID || found == gFakes.oidTextByObject.end()) return 0;
  int converted = FakeStringToOid(found->second.c_str(), oid);
  gFakes.stringToOidTexts.pop_back();
  return converted;
}

inline int OUTSIDE_CALL FakeLastError() { return gFakes.lastError; }

inline const char* OUTSIDE_CALL FakeErrorText(int code, char* buffer, uint32_t size) {
  std::snprintf(buffer, size, "agent error %d", code);
  return buffer;
}

inline uint32_t OUTSIDE_CALL FakeCreate(AgentHandle agent, uint32_t zero1, uint32_t zero2,
                                        const SnmpOid* entry, const SnmpOid* instance,
                                        uint32_t* instanceHandle) {
  gFakes.CheckAgent(agent);
  gFakes.calls.push_back("create " + std::to_string(zero1) + " " + std::to_string(zero2) + " " +
                         OidText(entry) + " " + OidText(instance));
  if (gFakes.createResult == 0) {
    gFakes.lastError = 21;
    return 0;
  }
  *instanceHandle = gFakes.createdInstanceHandle;
  return gFakes.createResult;
}

inline int OUTSIDE_CALL FakeEnable(AgentHandle agent, uint32_t zero, uint32_t entryHandle,
                                   uint32_t instanceHandle, uint32_t flags) {
  gFakes.CheckAgent(agent);
  gFakes.calls.push_back("enable " + std::to_string(zero) + " " + std::to_string(entryHandle) +
                         " " + std::to_string(instanceHandle) + " " + std::to_string(flags));
  if (gFakes.enableResult == 0) gFakes.lastError = 22;
  return gFakes.enableResult;
}

inline uint32_t OUTSIDE_CALL FakeFindEntry(AgentHandle agent, const SnmpOid* entry) {
  gFakes.CheckAgent(agent);
  gFakes.calls.push_back("find entry " + OidText(entry));
  return OidText(entry) == gFakes.knownEntry ? 0x11 : 0;
}

inline uint32_t OUTSIDE_CALL FakeFindInstance(AgentHandle agent, uint32_t entryHandle,
                                              const SnmpOid* instance) {
  gFakes.CheckAgent(agent);
  gFakes.calls.push_back("find instance " + std::to_string(entryHandle) + " " + OidText(instance));
  return gFakes.knownInstances.count(OidText(instance)) != 0 ? 0x22 : 0;
}

inline int OUTSIDE_CALL FakeRemove(AgentHandle agent, uint32_t zero, uint32_t entryHandle,
                                   uint32_t instanceHandle) {
  gFakes.CheckAgent(agent);
  gFakes.calls.push_back("remove " + std::to_string(zero) + " " + std::to_string(entryHandle) +
                         " " + std::to_string(instanceHandle));
  if (gFakes.removeResult == 0) gFakes.lastError = 23;
  return gFakes.removeResult;
}

inline int OUTSIDE_CALL FakeEnumInstances(AgentHandle agent, uint32_t index, uint32_t entryHandle,
                                          TableInstanceInfo* info) {
  gFakes.CheckAgent(agent);
  if (entryHandle != 0x11) gFakes.complaints.push_back("instances listed for another entry");
  gFakes.enumSizesSeen.push_back(info->size);
  if (index == 0) return 0;
  if (index > gFakes.instances.size()) {
    gFakes.lastError = OUTSIDE_ERR_NO_MORE_ENTRIES;  // as the framework ends every enumeration
    return 0;
  }
  uint32_t size = info->size;
  *info = gFakes.instances[index - 1];
  info->size = size;
  return 1;
}

inline uint32_t OUTSIDE_CALL FakeGetDataHandle(AgentHandle agent, uint32_t context,
                                               const SnmpOid* object) {
  gFakes.CheckAgent(agent);
  gFakes.contexts.push_back(context);
  gFakes.dataHandleOids.push_back(OidText(object));
  ++gFakes.handleCalls;
  if (gFakes.fixedDataHandle) return *gFakes.fixedDataHandle;
  return gFakes.handleCalls == gFakes.refuseHandleAt ? 0 : 0x500 + gFakes.handleCalls;
}

inline int OUTSIDE_CALL FakeGetData(AgentHandle agent, uint32_t dataHandle, SnmpOid* oid,
                                    SnmpValue* value) {
  gFakes.CheckAgent(agent);
  ++gFakes.dataCalls;
  if (!gFakes.fixedDataHandle && dataHandle != 0x500 + gFakes.handleCalls) {
    gFakes.complaints.push_back("data read through a handle other than the last one");
  }
  if (oid->count != 0 || oid->ids != nullptr || value->syntax != 0 || value->number != 0 ||
      value->data != 0) {
    gFakes.complaints.push_back("data read into records that were not cleared");
  }
  if (gFakes.dataCalls == gFakes.failDataAt) {
    gFakes.lastError = 77;
    return 0;
  }
  std::vector<uint32_t> ids;
  const std::string& asked = gFakes.dataHandleOids.back();
  for (const char* at = asked.c_str(); *at != '\0';) {
    char* end = nullptr;
    ids.push_back(static_cast<uint32_t>(std::strtoul(at, &end, 10)));
    at = *end == '.' ? end + 1 : end;
  }
  SnmpOid leaf{static_cast<uint32_t>(ids.size()), ids.data()};
  LeafRead read =
      gFakes.readLeaf ? gFakes.readLeaf(leaf) : LeafRead{leaf, SnmpValue{SYNTAX_INTEGER, 7, 0}};
  oid->count = read.oid.count;
  oid->ids = gFakes.Attach(read.oid.ids, read.oid.count);
  *value = read.value;
  if (value->syntax == SYNTAX_OCTETS && value->number != 0) {
    auto* bytes = static_cast<char*>(AllocateValueBlock(value->number));
    std::memcpy(bytes, reinterpret_cast<const void*>(read.value.data), value->number);
    gFakes.live.insert(bytes);
    value->data = reinterpret_cast<uintptr_t>(bytes);
  }
  return 1;
}

inline int OUTSIDE_CALL FakeSetData(AgentHandle agent, uint32_t context, uint32_t dataHandle,
                                    const SnmpValue* value) {
  gFakes.CheckAgent(agent);
  gFakes.contexts.push_back(context);
  gFakes.setDataHandles.push_back(dataHandle);
  gFakes.setValues.push_back(*value);
  bool bytes = value->syntax == SYNTAX_OCTETS || value->syntax == SYNTAX_IPADDR;
  gFakes.setPayloads.push_back(
      bytes ? std::string(reinterpret_cast<const char*>(value->data), value->number) : "");
  if (gFakes.failSetFor.count(gFakes.dataHandleOids.back()) != 0) return 0;
  return gFakes.setDataResult;
}

inline int OUTSIDE_CALL FakeAgentFreeValue(uint32_t syntax, void* payload) {
  auto* pair = static_cast<SnmpOid*>(payload);
  if (syntax == SYNTAX_OID) {
    gFakes.Release(pair->ids);
    ++gFakes.oidReleases;
  } else {
    if (syntax == SYNTAX_OCTETS) gFakes.Release(pair->ids);
    ++gFakes.valueReleases;
  }
  return 1;
}

// Starts a fresh fake world and puts every fake into gApi (any other slot is emptied).
inline FakeLibraries& InstallFakeLibraries() {
  gFakes = FakeLibraries{};
  gApi = OutsideApi{};
  gApi.SnmpStringToOid = FakeStringToOid;
  gApi.SnmpOidToString = FakeOidToString;
  gApi.SnmpFreeValue = FakeSnmpFreeValue;
  gApi.MibLookupOid = FakeLookupOid;
  gApi.MibGetObjectName = FakeGetObjectName;
  gApi.MibLookupName = FakeLookupName;
  gApi.MibGetObjectOid = FakeGetObjectOid;
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
  gApi.AgentSetData = FakeSetData;
  gApi.AgentFreeValue = FakeAgentFreeValue;
  return gFakes;
}
