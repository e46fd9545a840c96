// What orvuctl knows of a MIB object, from the modules the agent serves, and the names users write.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agentapi/mib_records.h"
#include "orvuctl/plain_value.h"

struct MibObject {
  uint32_t handle = 0;  // the MIB library's; 0 for an OID outside every served module
  std::string name;
  std::vector<uint32_t> oid;
  uint32_t kind = MIB_KIND_OTHER;
  uint32_t access = MIB_ACCESS_NONE;
  uint32_t parent = 0;  // a column's entry, an entry's table
  ValueShape shape;
  std::vector<uint32_t> indexes;  // an entry's INDEX objects
  std::vector<uint32_t> columns;  // an entry's columns
};

// The object of HANDLE, described once and kept for the run; null for an unknown handle.
const MibObject* DescribeObject(uint32_t handle);

// A name as users write it, resolved: the object and the instance suffix after its OID.
struct ResolvedName {
  const MibObject* object = nullptr;  // null for an OID outside every served module
  std::vector<uint32_t> oid;          // the whole OID, object and instance
  std::vector<uint32_t> instance;
  std::string display;  // NAME.INSTANCE, or the dotted OID outside the modules
};

// NAME, NAME.SUFFIX, MODULE::NAME[.SUFFIX] or a numeric OID. A scalar without a suffix is its
// instance .0. False with *reason when it resolves to nothing.
bool ResolveName(const std::string& text, ResolvedName* resolved, std::string* reason);

// Dotted decimal sub-identifiers ("21", "1.3.6"), each within 32 bits; false for anything else.
bool ReadIds(const std::string& text, std::vector<uint32_t>* ids);

// The object of a table entry named as users write it (an entry or its table).
const MibObject* ResolveEntry(const std::string& text, std::string* reason);

// "read-only", ...
const char* AccessText(uint32_t access);
bool IsWritable(uint32_t access);

// NAME.INSTANCE for an object and an instance suffix.
std::string InstanceName(const MibObject& object, const std::vector<uint32_t>& instance);
