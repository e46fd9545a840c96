/* The MIB library (libvnxmib): loads MIB modules and looks object names and OIDs up. */
#ifndef ORVU_MIB_LIB_H
#define ORVU_MIB_LIB_H

#include "orvu/orvu_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* 502 */ ORVU_EXPORT int ORVU_CALL MibLoadModule(const char* moduleName);
/* 100 */ ORVU_EXPORT uint32_t ORVU_CALL MibLookupName(const char* objectName);
/* 301 */ ORVU_EXPORT int ORVU_CALL MibGetObjectOid(uint32_t object, uint32_t form, SnmpOid* oid);
/* 101 */ ORVU_EXPORT uint32_t ORVU_CALL MibLookupOid(const SnmpOid* oid);
/* 303 */ ORVU_EXPORT int ORVU_CALL MibGetObjectName(uint32_t object, uint32_t form, uint32_t* size,
                                                     char* buffer);

/* Beyond the binding table, and missing from older libraries: why the last MibLoadModule or
   MibLookupName failed, written to BUFFER (at most SIZE bytes, always terminated). Returns 1 when
   there is a reason, 0 after a success. */
/* 510 */ ORVU_EXPORT int ORVU_CALL MibGetLastReason(char* buffer, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif
