// The lines of the agent's state file. The file is a journal: replaying its records in order gives
// the agent's state; a compaction rewrites it as the shortest list of records giving the same
// state.
//
//   module NAME
//   client handle=N id=N process-handle=N process=N thread-handle=N thread=N time=N flags=N
//          name=TEXT file=TEXT
//   instance entry=OID index=OID handle=N creator=N time=N [enabled=FLAGS] [leaves=N]
//   enable handle=N flags=N
//   remove handle=N
//   value handle=N column=N syntax=N (number=N [second=N] | bytes=HEX | oid=OID)
//   scalar object=OID syntax=N (number=N [second=N] | bytes=HEX | oid=OID)
//   group records=N
//
// A group holds the N records after it, written in one append as one change (the varbinds of one
// SNMP set, a row of an AUGMENTS family, a change set): they count all together, or, cut short at
// the end of the file, not at all. Each is read in the state the ones before it leave.
// Earlier agents wrote a scalar's object as its first oid= (scalar oid=OID syntax=N ...); such
// lines still read, with an OID value's oid= after it.
// Numbers are decimal, from -2147483648 to 4294967295 (kept as their 32-bit pattern). TEXT escapes
// blanks, '%', '=' and bytes outside printable ASCII as %XX.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/messages.h"

namespace orvu::agent {

enum class RecordType { Module, Client, Instance, Enable, Remove, Value, Scalar, Group };

// The records one group may hold: a change set of 100,000 values and 10,000 rows fits with room,
// and a start holds at most this many records of a group back until its last one is read.
constexpr uint32_t STATE_MAX_GROUP = 1u << 20;

struct StateRecord {
  RecordType type = RecordType::Module;
  std::string moduleName;
  proto::ClientRecord client;
  std::vector<uint32_t> entryOid;   // instance
  std::vector<uint32_t> indexOid;   // instance
  std::vector<uint32_t> scalarOid;  // scalar
  uint32_t handle = 0;
  uint32_t creator = 0;
  int32_t time = 0;
  std::optional<uint32_t> enabledFlags;  // instance, enable
  std::optional<uint32_t> leaves;        // instance
  uint32_t column = 0;
  uint32_t groupSize = 0;  // group
  proto::Value value;
  size_t line = 0;  // where the state file holds it, for messages
};

// Parses one line; blank lines and lines starting with '#' give false with an empty *error.
bool ParseStateLine(std::string_view line, StateRecord* record, std::string* error);

// One line, without the line end.
std::string FormatStateRecord(const StateRecord& record);
// The same line appended to *OUT.
void AppendStateRecord(std::string* out, const StateRecord& record);

}  // namespace orvu::agent
