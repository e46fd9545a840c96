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

/* Beyond the binding table, and missing from older libraries: what a module says of an object,
   one facet at a time. FACET chooses what; POSITION counts from 0 through the facets of that kind
   (always 0 for the summary). The caller sets FACETOUT->size to sizeof(MibFacet). Returns 1 when
   the object has that facet at that position, 0 past the last one or for an unknown object.
   - MIB_FACET_SUMMARY: kind, syntax (the base code, 0 for none), access, flags, object (the
     parent: a column's entry, an entry's table; 0 for none), name (the type that SYNTAX names,
     empty for a base type).
   - MIB_FACET_LABEL: an enumeration label or a BITS name in name, its number in low and high.
   - MIB_FACET_RANGE, MIB_FACET_SIZE: one pair of bounds of the value or of its length.
   - MIB_FACET_INDEX: an entry's INDEX objects in order (those of the entry it AUGMENTS), object.
   - MIB_FACET_COLUMN: an entry's columns in sub-identifier order, object. */
enum {
  MIB_KIND_OTHER = 0,
  MIB_KIND_SCALAR = 1,
  MIB_KIND_TABLE = 2,
  MIB_KIND_ENTRY = 3,
  MIB_KIND_COLUMN = 4
};
enum {
  MIB_ACCESS_NONE = 0,
  MIB_ACCESS_NOT_ACCESSIBLE = 1,
  MIB_ACCESS_NOTIFY = 2,
  MIB_ACCESS_READ_ONLY = 3,
  MIB_ACCESS_READ_WRITE = 4,
  MIB_ACCESS_READ_CREATE = 5,
  MIB_ACCESS_WRITE_ONLY = 6
};
enum {
  MIB_FACET_SUMMARY = 0,
  MIB_FACET_LABEL = 1,
  MIB_FACET_RANGE = 2,
  MIB_FACET_SIZE = 3,
  MIB_FACET_INDEX = 4,
  MIB_FACET_COLUMN = 5
};
enum { MIB_FLAG_INDEX_IMPLIED = 1 };
typedef struct MibFacet {
  uint32_t size;
  uint32_t kind;
  uint32_t syntax;
  uint32_t access;
  uint32_t flags;
  uint32_t object;
  int64_t low;
  int64_t high;
  char name[128];
} MibFacet;
/* 511 */ ORVU_EXPORT int ORVU_CALL MibGetObjectFacet(uint32_t object, uint32_t facet,
                                                      uint32_t position, MibFacet* facetOut);

#ifdef __cplusplus
}
static_assert(sizeof(MibFacet) == 168, "MibFacet layout");
static_assert(offsetof(MibFacet, low) == 24, "MibFacet layout");
#endif

#endif
