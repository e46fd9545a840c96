// A module as written, before its names are resolved against its imports.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mibreader/mib_failure.h"
#include "mibreader/mib_lexer.h"
#include "mibreader/mib_model.h"

namespace orvu::mib {

// { parent 1 2 } or { 1 3 6 } or { iso(1) org(3) }: an optional symbolic start and numbers.
struct ParsedOid {
  std::string parent;
  Position parentPosition;
  // The numbers lie in the module's subIds, one list for all definitions instead of a block each.
  uint32_t first = 0;
  uint32_t count = 0;
};

// Holds no position, so that the definitions that spell the same syntax share one record.
struct ParsedSyntax {
  enum class Form { Base, Named, SequenceOf, Sequence, Choice };
  Form form = Form::Base;
  uint32_t code = 0;     // Base: the syntax code
  std::string typeName;  // Named, SequenceOf: the type referred to
  Labels labels;  // INTEGER enumeration, or BITS bit numbers: shared by the objects that use it
  bool hasLabels = false;
  std::vector<Range> ranges;  // (1..10 | 20)
  std::vector<Range> sizes;   // (SIZE (0..255))
  bool operator==(const ParsedSyntax&) const = default;
};

struct ParsedType {
  std::string name;
  Position position;
  ParsedSyntax syntax;
  Position syntaxPosition;  // where errors in the syntax are reported
};

// The clauses of an entry (INDEX, AUGMENTS) and DEFVAL, which few definitions have.
struct ParsedRow {
  std::vector<std::pair<std::string, Position>> index;
  bool indexImplied = false;
  std::string augments;
  Position augmentsPosition;
};

struct ParsedDefault {
  std::vector<Token> tokens;  // the tokens between DEFVAL's braces
  Position position;
};

struct ParsedDefinition {
  std::string name;
  Position position;
  ObjectKind kind = ObjectKind::Node;  // Scalar for any OBJECT-TYPE until resolved
  Access access = Access::None;
  bool isObjectType = false;
  bool trapNumber = false;  // TRAP-TYPE: oid.parent is the enterprise, ids the trap number
  ParsedOid oid;
  // Apart and shared, so that definitions without one stay small and equal ones are kept once.
  std::shared_ptr<const ParsedSyntax> syntax;
  Position syntaxPosition;
  std::unique_ptr<ParsedRow> row;            // an entry's INDEX or AUGMENTS
  std::unique_ptr<ParsedDefault> defaults;   // DEFVAL
  std::shared_ptr<const ObjectNotes> notes;  // MODULE-IDENTITY, NOTIFICATION-TYPE
};

struct ParsedImport {
  std::string module;
  Position position;
  std::vector<std::pair<std::string, Position>> names;
};

struct ParsedModule {
  std::string name;
  Position position;
  std::vector<ParsedImport> imports;
  std::vector<ParsedType> types;
  std::deque<ParsedDefinition> definitions;  // grows without copies or slack
  std::vector<std::string> macros;
  std::vector<uint32_t> subIds;  // the numbers of every ParsedOid
};

// Reads one module from the tokens; throws MibFailure on the first error.
ParsedModule ParseModule(const std::vector<Token>& tokens);
// The same, reading the tokens of TEXT as it goes.
ParsedModule ParseModule(std::string_view text);

}  // namespace orvu::mib
