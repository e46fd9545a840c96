/* The agent framework library (libvnoagent): the client side of orvu-agentd.
 * Ordinals, used by the Windows build's export table, stand beside each operation. */
#ifndef ORVU_AGENT_FRAMEWORK_H
#define ORVU_AGENT_FRAMEWORK_H

#include "orvu/orvu_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* 10 */ ORVU_EXPORT int ORVU_CALL AgentFrameworkInit(void);
/* 11 */ ORVU_EXPORT int ORVU_CALL AgentFrameworkCleanup(void);
/* 20 */ ORVU_EXPORT AgentHandle ORVU_CALL AgentConnect(const char* clientName, uint32_t reserved1,
                                                        uint32_t reserved2, uint32_t reserved3);
/* 21 */ ORVU_EXPORT int ORVU_CALL AgentDisconnect(AgentHandle agent);
/* 97 */ ORVU_EXPORT int ORVU_CALL AgentGetVersionInfo(AgentVersionInfo* info);
/* 99 */ ORVU_EXPORT int ORVU_CALL AgentGetLastError(void);
/* 100 */ ORVU_EXPORT const char* ORVU_CALL AgentErrorText(int code, char* buffer, uint32_t size);
/* 63 */ ORVU_EXPORT int ORVU_CALL AgentEnumModules(AgentHandle agent, uint32_t index, char* name,
                                                    uint32_t nameSize, uint32_t* moduleHandle);
/* 60 */ ORVU_EXPORT int ORVU_CALL AgentEnumClients(AgentHandle agent, uint32_t index,
                                                    AgentClientInfo* info);
/* 62 */ ORVU_EXPORT int ORVU_CALL AgentEnumTableInstances(AgentHandle agent, uint32_t index,
                                                           uint32_t entryHandle,
                                                           TableInstanceInfo* info);
/* 42 */ ORVU_EXPORT uint32_t ORVU_CALL AgentFindTableEntry(AgentHandle agent,
                                                            const SnmpOid* entry);
/* 43 */ ORVU_EXPORT uint32_t ORVU_CALL AgentFindTableInstance(AgentHandle agent,
                                                               uint32_t entryHandle,
                                                               const SnmpOid* instance);
/* 50 */ ORVU_EXPORT uint32_t ORVU_CALL AgentCreateTableEntry(AgentHandle agent, uint32_t reserved1,
                                                              uint32_t reserved2,
                                                              const SnmpOid* entry,
                                                              const SnmpOid* instance,
                                                              uint32_t* instanceHandle);
/* 52 */ ORVU_EXPORT int ORVU_CALL AgentEnableTableEntry(AgentHandle agent, uint32_t reserved,
                                                         uint32_t entryHandle,
                                                         uint32_t instanceHandle, uint32_t flags);
/* 51 */ ORVU_EXPORT int ORVU_CALL AgentRemoveTableEntry(AgentHandle agent, uint32_t reserved,
                                                         uint32_t entryHandle,
                                                         uint32_t instanceHandle);
/* 40 */ ORVU_EXPORT uint32_t ORVU_CALL AgentGetDataHandle(AgentHandle agent, uint32_t context,
                                                           const SnmpOid* object);
/* 48 */ ORVU_EXPORT int ORVU_CALL AgentGetData(AgentHandle agent, uint32_t dataHandle,
                                                SnmpOid* oid, SnmpValue* value);
/* 44 */ ORVU_EXPORT int ORVU_CALL AgentSetData(AgentHandle agent, uint32_t context,
                                                uint32_t dataHandle, const SnmpValue* value);
/* 98 */ ORVU_EXPORT int ORVU_CALL AgentFreeValue(uint32_t syntax, void* payload);

/* Beyond the binding table, and missing from older libraries: a change set. The agent checks
   every change (existence, types, ranges, sizes, indexes, RowStatus rules) before it applies any,
   writes the whole set to its journal as one unit before it answers, and applies it whole, or
   refuses it whole and changes nothing.
   CREATE and REMOVE name a table entry (ENTRY) and an instance suffix (OBJECT); SET names an
   object with its instance suffix, or a scalar with .0 (OBJECT), and its VALUE; ENTRY is unused
   for SET. Changes apply in the order given: a SET may write a row that an earlier CREATE of the
   same set makes.
   Returns 0 when the set was applied. Otherwise an AgentError code; *FAILEDINDEX (when not null)
   is then the position of the refused change, or COUNT when the refusal concerns the set as a whole
   (storage, connection), and AgentErrorText(code) names the object, the value and the reason. */
enum { ORVU_CHANGE_CREATE = 1, ORVU_CHANGE_REMOVE = 2, ORVU_CHANGE_SET = 3 };
typedef struct AgentChange {
  uint32_t kind;
  SnmpOid entry;
  SnmpOid object;
  SnmpValue value;
} AgentChange;
/* 53 */ ORVU_EXPORT int ORVU_CALL AgentApplyChanges(AgentHandle agent, const AgentChange* changes,
                                                     uint32_t count, uint32_t* failedIndex);

/* Beyond the binding table, and missing from older libraries: sends the notification NAME (a
   NOTIFICATION-TYPE of a module the agent serves) to the agent's AgentX master, with its OBJECTS
   as the agent holds them: scalars at .0, columns at INDEX (the instance suffix; count 0 for
   none). Returns 1 once the agent has queued it for the master, 0 with AgentGetLastError 1017
   when no served module defines NAME or one of its OBJECTS has no instance at INDEX. */
/* 54 */ ORVU_EXPORT int ORVU_CALL AgentSendNotification(AgentHandle agent, const char* name,
                                                         const SnmpOid* index);

#ifdef __cplusplus
}
#endif

#endif
