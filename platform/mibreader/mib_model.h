// The MIB module reader shared by the MIB library and the agent: what a loaded module holds.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvu::mib {

// The longest OID a module may define or a DEFVAL may name, as in SNMP itself.
constexpr size_t MIB_MAX_OID_LENGTH = 128;

enum class ObjectKind {
  Node,          // OBJECT IDENTIFIER assignment, MODULE-IDENTITY, OBJECT-IDENTITY
  Scalar,        // OBJECT-TYPE that is neither a table, an entry nor a column
  Table,         // OBJECT-TYPE with SYNTAX SEQUENCE OF ...
  Entry,         // OBJECT-TYPE with an INDEX (or AUGMENTS) clause: the conceptual row
  Column,        // OBJECT-TYPE whose parent is an Entry
  Notification,  // NOTIFICATION-TYPE / TRAP-TYPE
  Group,         // OBJECT-GROUP, NOTIFICATION-GROUP (named, not interpreted)
  Compliance,    // MODULE-COMPLIANCE, AGENT-CAPABILITIES (named, not interpreted)
};

enum class Access {
  None,
  NotAccessible,
  AccessibleForNotify,
  ReadOnly,
  ReadWrite,
  ReadCreate,
  WriteOnly
};

// One bound pair of a range or size constraint, MIN and MAX taken as the int64_t limits.
struct Range {
  int64_t low = 0;
  int64_t high = 0;
  bool operator==(const Range&) const = default;
};

// A DEFVAL, already turned into the object's base syntax.
struct DefaultValue {
  int64_t number = 0;  // INTEGER (enumeration labels resolved), Counter32, Gauge32, TimeTicks
  std::string bytes;   // OCTET STRING ("text", 'hex'H, 'bin'B), IpAddress, Opaque
  std::vector<uint32_t> oid;  // OBJECT IDENTIFIER
};

// Enumeration labels (INTEGER { up(1), ... }) or BITS bit numbers. Every object of one textual
// convention shares its type's labels instead of holding a copy: a corpus of modules holds
// thousands of RowStatus and TruthValue columns.
class Labels {
 public:
  using Map = std::map<std::string, int64_t>;
  Labels() = default;
  Labels(Map map)  // NOLINT: a map of labels is taken where labels are
      : map_(map.empty() ? nullptr : std::make_shared<const Map>(std::move(map))) {}
  const Map& All() const {
    static const Map none;
    return map_ ? *map_ : none;
  }
  bool empty() const { return !map_; }
  size_t size() const { return All().size(); }
  int64_t at(const std::string& label) const { return All().at(label); }
  size_t count(const std::string& label) const { return All().count(label); }
  Map::const_iterator find(const std::string& label) const { return All().find(label); }
  Map::const_iterator begin() const { return All().begin(); }
  Map::const_iterator end() const { return All().end(); }
  bool operator==(const Labels& other) const { return All() == other.All(); }

 private:
  std::shared_ptr<const Map> map_;
};

// What a MODULE-IDENTITY or a NOTIFICATION-TYPE says beyond its OID; few objects have it, so it
// lives apart.
struct ObjectNotes {
  bool moduleIdentity = false;
  std::string description;           // MODULE-IDENTITY: the module's DESCRIPTION
  std::vector<std::string> objects;  // NOTIFICATION-TYPE: its OBJECTS, in order
};

struct Object {
  std::string name;  // the module is the one whose objects hold this one
  std::vector<uint32_t> oid;
  ObjectKind kind = ObjectKind::Node;
  uint32_t syntax = 0;  // base SNMP syntax code (2, 4, 5, 6, 64..70), 0 when the kind has none
  Access access = Access::None;
  bool indexImplied = false;  // Entry: the last INDEX object is IMPLIED (no length sub-identifier)
  std::shared_ptr<const DefaultValue> defaultValue;  // few objects have one: it lives apart
  std::vector<std::string> indexNames;               // Entry: INDEX objects, in order
  std::string augments;  // Entry: the entry whose rows this one extends (AUGMENTS), else empty
  Labels enumeration;    // INTEGER { label(n), ... }, or BITS { name(bit), ... }
  std::string typeName;  // the textual convention or type named by SYNTAX, empty for a base type
  std::vector<Range> ranges;  // allowed values, e.g. (1..10 | 20); empty when unconstrained
  std::vector<Range> sizes;   // allowed lengths, e.g. (SIZE (0..255)); empty when unconstrained
  std::shared_ptr<const ObjectNotes> notes;  // MODULE-IDENTITY and NOTIFICATION-TYPE only
};

// A type a module defines (TEXTUAL-CONVENTION or type assignment), reduced to its base syntax.
struct TypeDefinition {
  std::string name;
  uint32_t syntax = 0;  // 0 for SEQUENCE and CHOICE types
  bool isSequence = false;
  Labels enumeration;  // INTEGER labels, or BITS bit numbers
  std::vector<Range> ranges;
  std::vector<Range> sizes;
};

// Something a module gets wrong that the field's readers forgive: it loads, and the user is told.
struct ModuleWarning {
  int line = 0;
  int column = 0;
  std::string cause;
};

struct Module {
  std::string name;
  std::string fileName;  // empty for the modules known without a file
  std::vector<std::string> imports;
  std::vector<Object> objects;  // in the order the module defines them
  std::map<std::string, TypeDefinition> types;
  std::vector<std::string> macros;  // OBJECT-TYPE and the like, which other modules import by name
  std::vector<ModuleWarning> warnings;
};

}  // namespace orvu::mib
