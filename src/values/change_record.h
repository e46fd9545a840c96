// One change of a change set, as the agent framework library's AgentApplyChanges takes it.
#pragma once

#include <cstdint>

#include "values/snmp_value.h"

constexpr uint32_t CHANGE_CREATE = 1;
constexpr uint32_t CHANGE_REMOVE = 2;
constexpr uint32_t CHANGE_SET = 3;

// CREATE and REMOVE name a table entry and an instance suffix (object); SET names an object with
// its instance and carries the value.
struct AgentChange {
  uint32_t kind;
  SnmpOid entry;
  SnmpOid object;
  SnmpValue value;
};

static_assert(sizeof(void*) != 4 || sizeof(AgentChange) == 32);
