// The objects the agent serves: scalars and conceptual-table entries taken from MIB modules, plus
// the ones that only the state file names (anything a test wants the agent to hold).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "agent/journal/dotted_oid.h"
#include "mibreader/mib_registry.h"
#include "protocol/messages.h"

namespace orvu::agent {

using Oid = std::vector<uint32_t>;

// What a MIB lets an object hold beyond its syntax: value ranges (INTEGER and the unsigned
// syntaxes; an enumeration counts as the list of its values) and sizes (octet-like syntaxes).
struct ValueLimits {
  std::vector<mib::Range> ranges;
  std::vector<mib::Range> sizes;
};

struct ColumnDef {
  uint32_t number = 0;
  std::string name;
  uint32_t syntax = 0;
  bool writable = false;
  bool readable = true;  // false for not-accessible and accessible-for-notify columns
  ValueLimits limits;
  proto::Value initial;    // DEFVAL, else the syntax's zero
  int indexPosition = -1;  // position among the entry's INDEX objects, -1 when not an index
  // A read-create column without DEFVAL of an entry with a RowStatus column: a row needs its
  // value before it can become active.
  bool required = false;
  // Until it is written, SNMP managers see no instance of it: it has no DEFVAL, and the syntax's
  // zero is no value the MIB allows or the row needs one from its creator.
  bool absentUnset = false;
  bool testAndIncr = false;  // TestAndIncr (RFC 2579): a manager's set names the value it holds
};

// One object of an entry's INDEX clause as the instance OID encodes it.
struct IndexPart {
  std::string name;
  uint32_t syntax = 0;             // 0 when the object is unknown
  uint32_t fixedLength = 0;        // an OCTET STRING of one fixed size: no length sub-identifier
  std::vector<mib::Range> ranges;  // as in ValueLimits
  std::vector<mib::Range> sizes;
};

struct EntryDef {
  uint32_t handle = 0;
  Oid oid;
  std::string name;
  std::string module;    // the module that defines it
  bool fromMib = false;  // false: known only from the state file, no column definitions
  uint32_t leafCount = 0;
  std::map<uint32_t, ColumnDef> columns;
  std::vector<IndexPart> indexParts;  // the INDEX objects, in order
  bool indexImplied = false;          // the last INDEX object is IMPLIED
  uint32_t statusColumn = 0;          // the RowStatus column (RFC 2579), 0 when there is none
  uint32_t storageColumn = 0;         // the StorageType column (RFC 2579), 0 when there is none
  Oid augmentsOid;                    // AUGMENTS: the entry whose rows this one shares, else empty
};

// RowStatus values (RFC 2579).
enum RowStatusValue : uint32_t {
  ROW_ACTIVE = 1,
  ROW_NOT_IN_SERVICE = 2,
  ROW_NOT_READY = 3,
  ROW_CREATE_AND_GO = 4,
  ROW_CREATE_AND_WAIT = 5,
  ROW_DESTROY = 6,
};

struct ScalarDef {
  Oid oid;
  std::string name;
  std::string module;
  bool fromMib = false;
  uint32_t syntax = 0;  // 0: any syntax (state-file scalars)
  bool writable = true;
  bool readable = true;
  ValueLimits limits;
  proto::Value value;
  bool stored = false;       // the value came from the state file or a set, so it is written back
  bool absentUnset = false;  // as for a column
  bool testAndIncr = false;  // as for a column
};

// StorageType values (RFC 2579) that bind managers.
enum StorageTypeValue : uint32_t {
  STORAGE_PERMANENT = 4,
  STORAGE_READ_ONLY = 5,
};

// The zero value of a syntax: 0, empty bytes, or the OID 0.0.
proto::Value ZeroValue(uint32_t syntax);

// The ranges and sizes that OBJECT's syntax allows.
ValueLimits LimitsOf(const mib::Object& object);

// Adds the scalars and table entries of MODULE to the lists. Entry handles continue from
// entries->size() + 1.
void AddModuleObjects(const mib::Registry& registry, const mib::Module& module,
                      std::vector<EntryDef>* entries, std::vector<ScalarDef>* scalars);

// The values that the instance OID INDEX encodes, one per INDEX object (in the syntax of that
// object); false when INDEX is not a whole, valid encoding under the entry's INDEX clause.
bool DecodeIndex(const EntryDef& entry, const Oid& index, std::vector<proto::Value>* values);

// The value that an index column of a fresh instance starts with, read from the instance OID;
// false when the INDEX cannot be decoded that far.
bool IndexColumnValue(const EntryDef& entry, const ColumnDef& column, const Oid& index,
                      proto::Value* value);

// "1..3 | 7" for RANGES, and whether V lies within them.
std::string RangesText(const std::vector<mib::Range>& ranges);
bool WithinRanges(const std::vector<mib::Range>& ranges, int64_t v);

// Why VALUE is outside LIMITS ("it takes 0..100, not 150"), empty when it is within them.
// *isLength tells a size violation from a range violation.
std::string LimitViolation(const ValueLimits& limits, const proto::Value& value, bool* isLength);

// Whether VALUE lies outside LIMITS.
bool OutsideLimits(const ValueLimits& limits, const proto::Value& value);

// The most sub-identifiers an OBJECT IDENTIFIER has in SNMP, as a value or as an object's name.
constexpr size_t SNMP_MAX_OID_LENGTH = 128;

// Why SNMP cannot carry IDS as an OBJECT IDENTIFIER value ("SNMP carries ..., not ..."), empty when
// it can. BER packs the first two arcs into one sub-identifier, so they have their own bounds; a
// manager that gets one beyond them drops the whole response, and a walk ends there.
std::string SnmpOidFault(const Oid& ids);

// The most bytes of one string value that a manager is given: more would not fit an SNMP message
// over UDP, so the master could send no answer at all.
constexpr size_t SNMP_MAX_VALUE_BYTES = 65535;

// Why SNMP cannot carry VALUE (an OID as SnmpOidFault says, a string longer than
// SNMP_MAX_VALUE_BYTES), empty when it can; *isLength tells the length from the value.
std::string SnmpValueFault(const proto::Value& value, bool* isLength);

// Whether an SNMP manager can be given VALUE.
bool SnmpCarries(const proto::Value& value);

}  // namespace orvu::agent
