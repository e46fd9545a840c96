// Every operation that the tool calls in the three outside libraries, as function pointers that the
// binding (outside_binding.h) fills once after the command line is parsed. Tests put fakes into
// the same slots.
#pragma once

#include <cstdint>

#include "agentapi/agent_records.h"
#include "agentapi/mib_records.h"
#include "agentapi/snmp_oid.h"

// Defined with its syntax codes in values/snmp_value.h; the outside API only passes it through.
struct SnmpValue;
// A change of a change set, defined with the value it carries in values/change_record.h.
struct AgentChange;

#if defined(_WIN32) && !defined(_WIN64)
#define OUTSIDE_CALL __stdcall
#else
#define OUTSIDE_CALL
#endif

// The constants that the MIB library's lookups take (their meaning is the library's business).
constexpr uint32_t MIB_FORM_NAME = 2;
constexpr uint32_t MIB_FORM_OID = 3;

// Flags that AgentEnableTableEntry receives for a newly created instance.
constexpr uint32_t AGENT_ENABLE_FLAGS = 8;

// The last error of an enumeration that went past its end: the one way a listing ends well. Any
// other code after a failed enumeration call is a failure of the library or the agent.
constexpr int OUTSIDE_ERR_NO_MORE_ENTRIES = 1007;
// The agent refused a value of a syntax that the object does not take.
constexpr int OUTSIDE_ERR_WRONG_SYNTAX = 1020;

struct OutsideApi {
  // Agent framework library
  int(OUTSIDE_CALL* AgentFrameworkInit)();
  int(OUTSIDE_CALL* AgentFrameworkCleanup)();
  AgentHandle(OUTSIDE_CALL* AgentConnect)(const char* clientName, uint32_t, uint32_t, uint32_t);
  int(OUTSIDE_CALL* AgentDisconnect)(AgentHandle agent);
  int(OUTSIDE_CALL* AgentGetVersionInfo)(AgentVersionInfo* info);
  int(OUTSIDE_CALL* AgentGetLastError)();
  const char*(OUTSIDE_CALL* AgentErrorText)(int code, char* buffer, uint32_t size);
  int(OUTSIDE_CALL* AgentEnumModules)(AgentHandle agent, uint32_t index, char* name,
                                      uint32_t nameSize, uint32_t* moduleHandle);
  int(OUTSIDE_CALL* AgentEnumClients)(AgentHandle agent, uint32_t index, AgentClientInfo* info);
  int(OUTSIDE_CALL* AgentEnumTableInstances)(AgentHandle agent, uint32_t index,
                                             uint32_t entryHandle, TableInstanceInfo* info);
  uint32_t(OUTSIDE_CALL* AgentFindTableEntry)(AgentHandle agent, const SnmpOid* entry);
  uint32_t(OUTSIDE_CALL* AgentFindTableInstance)(AgentHandle agent, uint32_t entryHandle,
                                                 const SnmpOid* instance);
  uint32_t(OUTSIDE_CALL* AgentCreateTableEntry)(AgentHandle agent, uint32_t, uint32_t,
                                                const SnmpOid* entry, const SnmpOid* instance,
                                                uint32_t* instanceHandle);
  int(OUTSIDE_CALL* AgentEnableTableEntry)(AgentHandle agent, uint32_t, uint32_t entryHandle,
                                           uint32_t instanceHandle, uint32_t flags);
  int(OUTSIDE_CALL* AgentRemoveTableEntry)(AgentHandle agent, uint32_t, uint32_t entryHandle,
                                           uint32_t instanceHandle);
  uint32_t(OUTSIDE_CALL* AgentGetDataHandle)(AgentHandle agent, uint32_t context,
                                             const SnmpOid* object);
  int(OUTSIDE_CALL* AgentGetData)(AgentHandle agent, uint32_t dataHandle, SnmpOid* oid,
                                  SnmpValue* value);
  int(OUTSIDE_CALL* AgentSetData)(AgentHandle agent, uint32_t context, uint32_t dataHandle,
                                  const SnmpValue* value);
  int(OUTSIDE_CALL* AgentFreeValue)(uint32_t syntax, void* payload);

  // SNMP utility library
  int(OUTSIDE_CALL* SnmpStringToOid)(const char* text, SnmpOid* oid);
  int(OUTSIDE_CALL* SnmpOidToString)(const SnmpOid* oid, uint32_t size, char* buffer);
  int(OUTSIDE_CALL* SnmpFreeValue)(uint32_t syntax, void* pair);

  // MIB library
  int(OUTSIDE_CALL* MibLoadModule)(const char* moduleName);
  uint32_t(OUTSIDE_CALL* MibLookupName)(const char* objectName);
  int(OUTSIDE_CALL* MibGetObjectOid)(uint32_t object, uint32_t form, SnmpOid* oid);
  uint32_t(OUTSIDE_CALL* MibLookupOid)(const SnmpOid* oid);
  int(OUTSIDE_CALL* MibGetObjectName)(uint32_t object, uint32_t form, uint32_t* size, char* buffer);
};

// The process's one set of bound operations; all null until the binding fills them.
extern OutsideApi gApi;

// Operations that a library may lack: bound when it has them, null otherwise, and the tool works
// without them.
struct OptionalApi {
  // Why the last MibLoadModule or MibLookupName failed; 1 when BUFFER holds a reason.
  int(OUTSIDE_CALL* MibGetLastReason)(char* buffer, uint32_t size);
  // One facet of what a MIB module says of an object (mib_records.h); 1 when it has that facet.
  int(OUTSIDE_CALL* MibGetObjectFacet)(uint32_t object, uint32_t facet, uint32_t position,
                                       MibFacet* facetOut);
  // Carries out COUNT changes as one: all of them or, on an error code, none; *FAILEDINDEX is
  // then the refused change's position (COUNT for the set as a whole).
  int(OUTSIDE_CALL* AgentApplyChanges)(AgentHandle agent, const AgentChange* changes,
                                       uint32_t count, uint32_t* failedIndex);
  // Has the agent send the notification NAME of a served module, its OBJECTS read at INDEX;
  // 1 once the agent queued it for its master.
  int(OUTSIDE_CALL* AgentSendNotification)(AgentHandle agent, const char* name,
                                           const SnmpOid* index);
};

extern OptionalApi gOptionalApi;
