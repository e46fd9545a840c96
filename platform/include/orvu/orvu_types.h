/* Records and scalar types shared by the agent's three client libraries and their callers.
 * Layouts are fixed: the size-prefixed records are byte-exact on every target; SnmpOid and
 * SnmpValue have the 32-bit layout on a 32-bit target and the natural one elsewhere, with the
 * (number, data) pair of SnmpValue shaped exactly like an SnmpOid. */
#ifndef ORVU_TYPES_H
#define ORVU_TYPES_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define ORVU_CALL __stdcall
#else
#define ORVU_CALL
#endif

#if defined(_WIN32)
/* The DLLs export by ordinal only, through their .def files: no name leaves them. */
#define ORVU_EXPORT
#else
#define ORVU_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define ORVU_PTR_ALIGNED alignas(void*)
extern "C" {
#else
#define ORVU_PTR_ALIGNED _Alignas(void*)
#endif

/* Handles (connection, table entry, instance, data, module, MIB object) are 32-bit values;
 * 0 always means "none" or failure. */
typedef uint32_t AgentHandle;

typedef struct SnmpOid {
  uint32_t count;
  uint32_t* ids;
} SnmpOid;

typedef struct SnmpValue {
  uint32_t syntax;
  ORVU_PTR_ALIGNED uint32_t number;
  uintptr_t data; /* pointer to the payload, or the second half of a Counter64 */
} SnmpValue;

enum {
  ORVU_SYNTAX_INTEGER = 2,
  ORVU_SYNTAX_OCTETS = 4,
  ORVU_SYNTAX_NULL = 5,
  ORVU_SYNTAX_OID = 6,
  ORVU_SYNTAX_IPADDR = 64,
  ORVU_SYNTAX_CNTR32 = 65,
  ORVU_SYNTAX_GAUGE32 = 66,
  ORVU_SYNTAX_TIMETICKS = 67,
  ORVU_SYNTAX_OPAQUE = 68,
  ORVU_SYNTAX_NSAPADDR = 69,
  ORVU_SYNTAX_CNTR64 = 70,
  ORVU_SYNTAX_NOSUCHOBJECT = 128,
  ORVU_SYNTAX_NOSUCHINSTANCE = 129,
  ORVU_SYNTAX_ENDOFMIBVIEW = 130
};

enum { ORVU_VERSION_INFO_SIZE = 428, ORVU_CLIENT_INFO_SIZE = 424, ORVU_INSTANCE_INFO_SIZE = 1056 };
enum { ORVU_INSTANCE_OID_MAX = 128 };

typedef struct AgentVersionInfo {
  uint32_t size;
  int32_t versionMajor;
  int32_t versionMinor;
  int32_t build;
  char specText[84];
  int32_t enterpriseNumber;
  char vendorName[80];
  char vendorOid[80];
  char vendorWeb[80];
  char vendorEmail[84];
} AgentVersionInfo;

typedef struct AgentClientInfo {
  uint32_t size;
  uint32_t clientHandle;
  uint32_t clientId;
  uint32_t processHandle;
  uint32_t processId;
  uint32_t threadHandle;
  uint32_t threadId;
  int32_t registrationTime;
  uint32_t flags;
  char name[127];
  char fileName[261];
} AgentClientInfo;

typedef struct TableInstanceInfo {
  uint32_t size;
  uint32_t instanceHandle;
  uint32_t clientHandle;
  int32_t creationTime;
  uint32_t reserved;
  uint32_t leafCount;
  uint32_t entryOidCount;
  uint32_t entryOidIds[ORVU_INSTANCE_OID_MAX];
  uint32_t indexOidCount;
  uint32_t indexOidIds[ORVU_INSTANCE_OID_MAX];
} TableInstanceInfo;

#ifdef __cplusplus
}
static_assert(sizeof(AgentVersionInfo) == 428, "AgentVersionInfo layout");
static_assert(offsetof(AgentVersionInfo, enterpriseNumber) == 100, "AgentVersionInfo layout");
static_assert(offsetof(AgentVersionInfo, vendorEmail) == 344, "AgentVersionInfo layout");
static_assert(sizeof(AgentClientInfo) == 424, "AgentClientInfo layout");
static_assert(offsetof(AgentClientInfo, name) == 36, "AgentClientInfo layout");
static_assert(offsetof(AgentClientInfo, fileName) == 163, "AgentClientInfo layout");
static_assert(sizeof(TableInstanceInfo) == 1056, "TableInstanceInfo layout");
static_assert(offsetof(TableInstanceInfo, indexOidCount) == 540, "TableInstanceInfo layout");
static_assert(offsetof(TableInstanceInfo, indexOidIds) == 544, "TableInstanceInfo layout");
static_assert(offsetof(SnmpValue, data) - offsetof(SnmpValue, number) == offsetof(SnmpOid, ids),
              "the (number, data) pair of a value has the shape of an OID");
#endif

#endif
