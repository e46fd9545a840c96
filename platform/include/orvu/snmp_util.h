/* The SNMP utility library (libvnwsnmp): OID text conversions and the one release function for
 * every block that any of the three libraries, or their callers, attach: all from one allocator,
 * the C runtime's malloc/free on POSIX and the process heap (HeapAlloc/HeapFree) on Windows. */
#ifndef ORVU_SNMP_UTIL_H
#define ORVU_SNMP_UTIL_H

#include "orvu/orvu_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* 903 */ ORVU_EXPORT int ORVU_CALL SnmpStringToOid(const char* text, SnmpOid* oid);
/* 904 */ ORVU_EXPORT int ORVU_CALL SnmpOidToString(const SnmpOid* oid, uint32_t size,
                                                    char* buffer);
/* 900 */ ORVU_EXPORT int ORVU_CALL SnmpFreeValue(uint32_t syntax, void* pair);

#ifdef __cplusplus
}
#endif

#endif
