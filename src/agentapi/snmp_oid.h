// The internal OID of the outside libraries, and the 32-bit handles they deal in.
#pragma once

#include <cstddef>
#include <cstdint>

struct SnmpOid {
  uint32_t count;
  uint32_t* ids;
};

static_assert(sizeof(void*) != 4 || (sizeof(SnmpOid) == 8 && offsetof(SnmpOid, ids) == 4));

// Connection, table entry, instance, data, module and MIB object handles: opaque 32-bit values,
// 0 for none.
using AgentHandle = uint32_t;
