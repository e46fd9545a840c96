#include <algorithm>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <optional>
#include <set>

#include "common/decimal.h"
#include "mibreader/mib_parsed.h"
#include "orvu/orvu_types.h"

namespace orvu::mib {
namespace {

// Compared as views, a keyword is told apart by its length before any byte is read.
using namespace std::string_view_literals;

constexpr int MIB_MAX_SYNTAX_DEPTH = 8;
constexpr size_t MIB_RECENT_SYNTAXES = 16;
constexpr size_t MIB_LOOKAHEAD = 4;

const std::set<std::string>& SkippedMacros() {
  static const std::set<std::string> names = {
      "MODULE-IDENTITY",    "OBJECT-IDENTITY",   "NOTIFICATION-TYPE", "OBJECT-GROUP",
      "NOTIFICATION-GROUP", "MODULE-COMPLIANCE", "AGENT-CAPABILITIES"};
  return names;
}

ObjectKind KindOfMacro(const std::string& macro) {
  if (macro == "NOTIFICATION-TYPE"sv) return ObjectKind::Notification;
  if (macro == "OBJECT-GROUP"sv || macro == "NOTIFICATION-GROUP"sv) return ObjectKind::Group;
  if (macro == "MODULE-COMPLIANCE"sv || macro == "AGENT-CAPABILITIES"sv)
    return ObjectKind::Compliance;
  return ObjectKind::Node;
}

std::optional<Access> AccessOfWord(const std::string& word) {
  if (word == "not-accessible"sv) return Access::NotAccessible;
  if (word == "accessible-for-notify"sv) return Access::AccessibleForNotify;
  if (word == "read-only"sv) return Access::ReadOnly;
  if (word == "read-write"sv) return Access::ReadWrite;
  if (word == "read-create"sv) return Access::ReadCreate;
  if (word == "write-only"sv) return Access::WriteOnly;
  return std::nullopt;
}

std::string Shown(const Token& token) {
  switch (token.kind) {
    case TokenKind::End: return "end of file";
    case TokenKind::Text: return "quoted text";
    case TokenKind::HexText:
    case TokenKind::BinText: return "bit string";
    default: return token.text;
  }
}

class Parser {
 public:
  // NEXT fills the token it is given with the next one of SOURCE. A plain function, not a
  // std::function: it is called for every token.
  using Next = void (*)(void* source, Token* token);
  Parser(Next next, void* source) : next_(next), source_(source) {}

  ParsedModule Run() {
    ParsedModule module;
    const Token& name = ExpectWord("a module name");
    // SMIng (RFC 3780) opens with "module NAME {": say what it is rather than what is missing.
    if (name.text == "module"sv && Peek().kind == TokenKind::Word && IsSymbol("{", 1)) {
      Fail(name,
           Peek().text + " is an SMIng module, not SMIv1 or SMIv2: only SMI modules can be read");
    }
    module.name = name.text;
    module.position = name.position;
    if (IsSymbol("{")) SkipBraces();
    ExpectKeyword("DEFINITIONS");
    while (Peek().kind == TokenKind::Word && Peek().text != "BEGIN"sv)
      Skip();  // IMPLICIT TAGS and the like
    ExpectSymbol("::=");
    ExpectKeyword("BEGIN");
    if (IsWord("EXPORTS")) {
      while (!IsSymbol(";")) {
        if (Peek().kind == TokenKind::End) Fail(Peek(), "expected ; after EXPORTS");
        Skip();
      }
      Skip();
    }
    if (IsWord("IMPORTS")) {
      Skip();
      ParseImports(&module);
    }
    while (!IsWord("END")) {
      if (Peek().kind == TokenKind::End) Fail(Peek(), "expected END");
      ParseAssignment(&module);
    }
    Skip();
    if (Peek().kind != TokenKind::End) Fail(Peek(), "unexpected text after END");
    module.subIds = std::move(subIds_);
    module.subIds.shrink_to_fit();
    return module;
  }

 private:
  // Past the End token, End again.
  // AHEAD is below MIB_LOOKAHEAD: the grammar looks at most one token past the next.
  const Token& Peek(size_t ahead = 0) const {
    while (held_ <= ahead) {
      if (held_ > 0 && Held(held_ - 1).kind == TokenKind::End) return Held(held_ - 1);
      // Filled in place: a slot's text keeps its storage from one token to the next.
      next_(source_, &window_[(first_ + held_) % MIB_LOOKAHEAD]);
      ++held_;
    }
    return Held(ahead);
  }
  Token Take() {
    const Token& next = Peek();
    if (next.kind == TokenKind::End) return next;
    Token token = window_[first_];
    first_ = (first_ + 1) % MIB_LOOKAHEAD;
    --held_;
    return token;
  }
  static bool Is(const Token& token, TokenKind kind, std::string_view text) {
    return token.kind == kind && std::string_view(token.text) == text;
  }
  bool IsSymbol(std::string_view text, size_t ahead = 0) const {
    return Is(Peek(ahead), TokenKind::Symbol, text);
  }
  bool IsWord(std::string_view text, size_t ahead = 0) const {
    return Is(Peek(ahead), TokenKind::Word, text);
  }
  // Steps over the next token, which nobody reads.
  void Skip() {
    if (Peek().kind == TokenKind::End) return;
    first_ = (first_ + 1) % MIB_LOOKAHEAD;
    --held_;
  }
  [[noreturn]] void Fail(const Token& at, const std::string& cause) const {
    throw MibFailure(at.position, cause);
  }
  // WHAT and MORE are joined only when the message is made: the checks that pass build nothing.
  [[noreturn]] void Expected(std::string_view what, std::string_view more = {}) const {
    Fail(Peek(),
         "expected " + std::string(what) + std::string(more) + " (found " + Shown(Peek()) + ")");
  }
  void ExpectSymbol(const char* text) {
    if (!IsSymbol(text)) Expected(text);
    Skip();
  }
  void ExpectKeyword(const char* text) {
    if (!IsWord(text)) Expected(text);
    Skip();
  }
  Token ExpectWord(std::string_view what, std::string_view more = {}) {
    if (Peek().kind != TokenKind::Word) Expected(what, more);
    return Take();
  }
  // The next token, which must be a word; the caller steps over it once read. Cheaper than a
  // copy where the word is only compared or reported.
  const Token& PeekWord(std::string_view what, std::string_view more = {}) const {
    if (Peek().kind != TokenKind::Word) Expected(what, more);
    return Peek();
  }
  // The one of WORDS the next token is, as the caller's literal, which outlives the token; empty
  // when it is none of them.
  std::string_view NextKeyword(std::initializer_list<std::string_view> words) const {
    const Token& next = Peek();
    if (next.kind != TokenKind::Word) return {};
    for (std::string_view word : words) {
      if (next.text == word) return word;
    }
    return {};
  }
  // The same for a word nobody reads.
  void SkipWord(std::string_view what) {
    if (Peek().kind != TokenKind::Word) Expected(what);
    Skip();
  }
  // Descriptions and references are most of a module's bytes and are not kept: stepped over
  // without a copy.
  void SkipText(std::string_view clause) {
    if (Peek().kind != TokenKind::Text) Expected("quoted text after " + std::string(clause));
    Skip();
  }

  // Steps over a balanced { ... } group; INSIDE (when given) gets the tokens between the braces.
  void SkipBraces(std::vector<Token>* inside = nullptr) {
    if (!IsSymbol("{")) Expected("{");
    int depth = 0;
    do {
      const Token& token = Peek();
      if (token.kind == TokenKind::End) Fail(token, "expected }");
      bool open = token.kind == TokenKind::Symbol && token.text == "{"sv;
      bool close = token.kind == TokenKind::Symbol && token.text == "}"sv;
      bool outer = (open && depth == 0) || (close && depth == 1);
      if (open) ++depth;
      if (close) --depth;
      if (inside && !outer) {
        inside->push_back(Take());
      } else {
        Skip();
      }
    } while (depth > 0);
  }

  uint64_t Unsigned(const Token& token, uint64_t max, const char* what) const {
    if (token.kind != TokenKind::Number || token.text[0] == '-')
      Fail(token, std::string("expected ") + what);
    uint64_t value = 0;
    if (!ParseDigits(token.text, max, &value))
      Fail(token, "number " + token.text + " too large for " + what);
    return value;
  }

  int64_t Signed(const Token& token, const char* what) const {
    if (token.kind != TokenKind::Number) Fail(token, std::string("expected ") + what);
    bool negative = token.text[0] == '-';
    Token magnitude = token;
    if (negative) magnitude.text.erase(0, 1);
    uint64_t value = Unsigned(magnitude, negative ? (uint64_t{1} << 63) : INT64_MAX, what);
    return negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
  }

  void ParseImports(ParsedModule* module) {
    std::vector<std::pair<std::string, Position>> names;
    for (;;) {
      if (IsSymbol(";")) {
        if (!names.empty()) Expected("FROM");
        Skip();
        return;
      }
      Token name = ExpectWord("an imported name or ;");
      if (name.text == "FROM"sv) {
        if (names.empty()) Fail(name, "expected an imported name before FROM");
        Token from = ExpectWord("a module name after FROM");
        module->imports.push_back({std::move(from.text), from.position, std::move(names)});
        names.clear();
        if (IsSymbol("{")) SkipBraces();
        continue;
      }
      names.emplace_back(std::move(name.text), name.position);
      if (IsSymbol(",")) Skip();
    }
  }

  void ParseAssignment(ParsedModule* module) {
    Token name = ExpectWord("a definition");
    if (IsSymbol("::=")) {
      Skip();
      ParseTypeAssignment(module, &name);
    } else if (IsWord("MACRO")) {
      module->macros.push_back(name.text);
      while (!IsWord("END")) {
        if (Peek().kind == TokenKind::End) Fail(Peek(), "expected END of the MACRO " + name.text);
        Skip();
      }
      Skip();
    } else if (IsWord("OBJECT") && IsWord("IDENTIFIER", 1)) {
      Skip();
      Skip();
      ParsedDefinition definition = Start(&name, ObjectKind::Node);
      ExpectSymbol("::=");
      definition.oid = ParseOidValue();
      module->definitions.push_back(std::move(definition));
    } else if (IsWord("OBJECT-TYPE")) {
      Skip();
      module->definitions.push_back(ParseObjectType(&name));
    } else if (IsWord("TRAP-TYPE")) {
      Skip();
      module->definitions.push_back(ParseTrapType(&name));
    } else if (Peek().kind == TokenKind::Word && SkippedMacros().count(Peek().text)) {
      ParsedDefinition definition = Start(&name, KindOfMacro(Peek().text));
      bool identity = Peek().text == "MODULE-IDENTITY"sv;
      bool notification = Peek().text == "NOTIFICATION-TYPE"sv;
      Skip();
      if (identity || notification) {
        auto notes = std::make_shared<ObjectNotes>();
        notes->moduleIdentity = identity;
        SkipToAssignment(notes.get());
        definition.notes = std::move(notes);
      } else {
        SkipToAssignment();
      }
      definition.oid = ParseOidValue();
      module->definitions.push_back(std::move(definition));
    } else {
      Expected("OBJECT IDENTIFIER, OBJECT-TYPE or another macro after " + name.text);
    }
  }

  static ParsedRow& Row(ParsedDefinition* definition) {
    if (!definition->row) definition->row = std::make_unique<ParsedRow>();
    return *definition->row;
  }

  // Modules spell a few syntaxes over and over (Integer32, a range, a textual convention): equal
  // ones among the last few seen are kept once.
  std::shared_ptr<const ParsedSyntax> Shared(ParsedSyntax syntax) {
    for (const auto& seen : recentSyntaxes_) {
      if (*seen == syntax) return seen;
    }
    auto made = std::make_shared<const ParsedSyntax>(std::move(syntax));
    if (recentSyntaxes_.size() == MIB_RECENT_SYNTAXES) recentSyntaxes_.pop_front();
    recentSyntaxes_.push_back(made);
    return made;
  }

  // The definition takes NAME's text.
  ParsedDefinition Start(Token* name, ObjectKind kind) const {
    ParsedDefinition definition;
    definition.name = std::move(name->text);
    definition.position = name->position;
    definition.kind = kind;
    return definition;
  }

  // Macro bodies that are named but not interpreted end at the first ::= outside brackets. For
  // MODULE-IDENTITY and NOTIFICATION-TYPE, *NOTES (when given) gets the module's DESCRIPTION (the
  // one before any REVISION) and the notification's OBJECTS on the way.
  void SkipToAssignment(ObjectNotes* notes = nullptr) {
    int depth = 0;
    bool objects = false;     // within OBJECTS { ... }
    std::string_view before;  // the word before, at the outer level
    bool revised = false;
    for (;;) {
      const Token& token = Peek();
      if (token.kind == TokenKind::End ||
          (token.kind == TokenKind::Word && token.text == "END"sv && depth == 0)) {
        Expected("::=");
      }
      if (token.kind == TokenKind::Symbol) {
        if (token.text == "::="sv && depth == 0) break;
        if (token.text == "{"sv || token.text == "("sv) {
          objects = depth == 0 && before == "OBJECTS"sv;
          ++depth;
        }
        if ((token.text == "}"sv || token.text == ")"sv) && depth > 0 && --depth == 0)
          objects = false;
      } else if (notes && token.kind == TokenKind::Word && objects) {
        notes->objects.push_back(token.text);
      } else if (notes && token.kind == TokenKind::Text && notes->moduleIdentity && !revised &&
                 before == "DESCRIPTION"sv && notes->description.empty()) {
        notes->description = token.text;
      }
      if (depth == 0 && token.kind == TokenKind::Word) {
        if (token.text == "REVISION"sv) revised = true;
        before = token.text == "OBJECTS"sv       ? "OBJECTS"sv
                 : token.text == "DESCRIPTION"sv ? "DESCRIPTION"sv
                                                 : ""sv;
      } else if (token.kind != TokenKind::Symbol || token.text != "{"sv) {
        before = ""sv;
      }
      Skip();
    }
    Skip();
  }

  // The type takes NAME's text.
  void ParseTypeAssignment(ParsedModule* module, Token* name) {
    ParsedType type;
    type.name = std::move(name->text);
    type.position = name->position;
    if (IsWord("TEXTUAL-CONVENTION")) {
      Skip();
      for (;;) {
        const Token& clause = ExpectWord("SYNTAX in TEXTUAL-CONVENTION ", type.name);
        if (clause.text == "SYNTAX"sv) break;
        if (clause.text == "DISPLAY-HINT"sv || clause.text == "DESCRIPTION"sv ||
            clause.text == "REFERENCE"sv) {
          SkipText(clause.text);
        } else if (clause.text == "STATUS"sv) {
          SkipWord("a status after STATUS");
        } else {
          Fail(clause, "unexpected " + clause.text + " in TEXTUAL-CONVENTION " + type.name);
        }
      }
    }
    type.syntax = ParseSyntax(0, &type.syntaxPosition);
    module->types.push_back(std::move(type));
  }

  // AT gets where errors in the syntax are reported.
  ParsedSyntax ParseSyntax(int depth, Position* at) {
    if (depth > MIB_MAX_SYNTAX_DEPTH) Fail(Peek(), "type nested too deeply");
    ParsedSyntax syntax;
    *at = Peek().position;
    if (IsSymbol(
            "[")) {  // [APPLICATION n] IMPLICIT ...: the tag does not change the base syntax here
      while (!IsSymbol("]")) {
        if (Peek().kind == TokenKind::End) Expected("]");
        Skip();
      }
      Skip();
      if (IsWord("IMPLICIT") || IsWord("EXPLICIT")) Skip();
      return ParseSyntax(depth + 1, at);
    }
    PeekWord("a syntax");
    const std::string_view word =
        NextKeyword({"INTEGER", "OCTET", "OBJECT", "BITS", "NULL", "CHOICE", "SEQUENCE"});
    if (word.empty()) {
      syntax.form = ParsedSyntax::Form::Named;
      syntax.typeName = Peek().text;
    }
    Skip();
    if (word == "INTEGER"sv) {
      syntax.code = ORVU_SYNTAX_INTEGER;
    } else if (word == "OCTET"sv) {
      ExpectKeyword("STRING");
      syntax.code = ORVU_SYNTAX_OCTETS;
    } else if (word == "OBJECT"sv) {
      ExpectKeyword("IDENTIFIER");
      syntax.code = ORVU_SYNTAX_OID;
    } else if (word == "BITS"sv) {
      syntax.code = ORVU_SYNTAX_OCTETS;
    } else if (word == "NULL"sv) {
      syntax.code = ORVU_SYNTAX_NULL;
      return syntax;
    } else if (word == "CHOICE"sv) {
      syntax.form = ParsedSyntax::Form::Choice;
      if (!IsSymbol("{")) Expected("{ after CHOICE");
      SkipBraces();
      return syntax;
    } else if (word == "SEQUENCE"sv) {
      if (IsWord("OF")) {
        Skip();
        syntax.form = ParsedSyntax::Form::SequenceOf;
        *at = Peek().position;
        syntax.typeName = ExpectWord("a type name after SEQUENCE OF").text;
        return syntax;
      }
      syntax.form = ParsedSyntax::Form::Sequence;
      ExpectSymbol("{");
      while (!IsSymbol("}")) {
        SkipWord("a field name");
        Position field;
        ParseSyntax(depth + 1, &field);
        if (!IsSymbol(",")) break;
        Skip();
      }
      ExpectSymbol("}");
      return syntax;
    }
    if (IsSymbol("{")) ParseLabels(&syntax, word == "BITS"sv);
    if (IsSymbol("(")) ParseConstraint(&syntax);
    return syntax;
  }

  // INTEGER { up(1), down(2) } or BITS { a(0), b(1) }
  void ParseLabels(ParsedSyntax* syntax, bool bits) {
    ExpectSymbol("{");
    syntax->hasLabels = true;
    Labels::Map labels;
    for (;;) {
      Token label = ExpectWord("an enumeration label");
      ExpectSymbol("(");
      const Token& number = Peek();
      int64_t value = bits ? static_cast<int64_t>(Unsigned(number, 65535, "a bit number"))
                           : Signed(number, "a number");
      if (!bits && (value < INT32_MIN || value > INT32_MAX))
        Fail(number, "enumeration value " + number.text + " out of range");
      Skip();
      // try_emplace leaves the label's text alone when the label is there already.
      if (!labels.try_emplace(std::move(label.text), value).second)
        Fail(label, "label " + label.text + " given twice");
      ExpectSymbol(")");
      if (IsSymbol("}")) break;
      ExpectSymbol(",");
    }
    Skip();
    syntax->labels = std::move(labels);
  }

  // (1..10 | 20) or (SIZE (0..255))
  void ParseConstraint(ParsedSyntax* syntax) {
    ExpectSymbol("(");
    bool size = IsWord("SIZE");
    if (size) {
      Skip();
      ExpectSymbol("(");
    }
    std::vector<Range>& ranges = size ? syntax->sizes : syntax->ranges;
    ranges.clear();
    for (;;) {
      Range range;
      range.low = RangeValue();
      range.high = range.low;
      if (IsSymbol("..")) {
        Skip();
        range.high = RangeValue();
      }
      ranges.push_back(range);
      if (!IsSymbol("|")) break;
      Skip();
    }
    ExpectSymbol(")");
    if (size) ExpectSymbol(")");
  }

  int64_t RangeValue() {
    int64_t value = RangeBound(Peek());
    Skip();
    return value;
  }

  int64_t RangeBound(const Token& token) const {
    if (token.kind == TokenKind::Number) return Signed(token, "a range bound");
    if (token.kind == TokenKind::Word && token.text == "MIN"sv) return INT64_MIN;
    if (token.kind == TokenKind::Word && token.text == "MAX"sv) return INT64_MAX;
    if (token.kind == TokenKind::HexText || token.kind == TokenKind::BinText) {
      bool hex = token.kind == TokenKind::HexText;
      if (token.text.size() > (hex ? 16u : 64u)) Fail(token, "range bound too large");
      uint64_t value = 0;
      for (char c : token.text) {
        unsigned digit = c <= '9' ? unsigned(c - '0') : unsigned((c | 0x20) - 'a' + 10);
        value = (value << (hex ? 4 : 1)) | digit;
      }
      return static_cast<int64_t>(value);
    }
    Fail(token, "expected a range bound (found " + Shown(token) + ")");
  }

  ParsedOid ParseOidValue() {
    ParsedOid oid;
    oid.first = static_cast<uint32_t>(subIds_.size());
    ExpectSymbol("{");
    bool first = true;
    while (!IsSymbol("}")) {
      const Token& token = Peek();
      const Position at = token.position;
      if (token.kind == TokenKind::Word) {
        if (IsSymbol("(", 1)) {  // iso(1): the number counts, the name does not
          Skip();
          Skip();
          ++oid.count;
          subIds_.push_back(
              static_cast<uint32_t>(Unsigned(Peek(), UINT32_MAX, "a sub-identifier")));
          Skip();
          ExpectSymbol(")");
        } else if (first) {
          oid.parent = token.text;
          oid.parentPosition = at;
          Skip();
        } else {
          Fail(token, "expected a number in the OID value (found " + token.text + ")");
        }
      } else if (token.kind == TokenKind::Number) {
        ++oid.count;
        subIds_.push_back(static_cast<uint32_t>(Unsigned(token, UINT32_MAX, "a sub-identifier")));
        Skip();
      } else {
        Fail(token, "expected a number in the OID value (found " + Shown(token) + ")");
      }
      if (oid.count > MIB_MAX_OID_LENGTH)
        throw MibFailure(at, "OID value longer than 128 sub-identifiers");
      first = false;
    }
    if (first) Fail(Peek(), "empty OID value");
    Skip();
    return oid;
  }

  ParsedDefinition ParseObjectType(Token* name) {
    ParsedDefinition definition = Start(name, ObjectKind::Scalar);
    definition.isObjectType = true;
    bool hasStatus = false;
    while (!IsSymbol("::=")) {
      const Token& clause = PeekWord("::=");
      const std::string_view word =
          NextKeyword({"SYNTAX", "MAX-ACCESS", "ACCESS", "STATUS", "DESCRIPTION", "REFERENCE",
                       "UNITS", "INDEX", "AUGMENTS", "DEFVAL"});
      if (word.empty())
        Fail(clause, "unexpected " + clause.text + " in OBJECT-TYPE " + definition.name);
      const Position clausePosition = clause.position;
      Skip();
      if (word == "SYNTAX"sv) {
        definition.syntax = Shared(ParseSyntax(0, &definition.syntaxPosition));
      } else if (word == "MAX-ACCESS"sv || word == "ACCESS"sv) {
        const Token& value = PeekWord("an access after ", word);
        std::optional<Access> access = AccessOfWord(value.text);
        if (!access) Fail(value, "unknown access " + value.text);
        definition.access = *access;
        Skip();
      } else if (word == "STATUS"sv) {
        SkipWord("a status after STATUS");
        hasStatus = true;
      } else if (word == "DESCRIPTION"sv || word == "REFERENCE"sv || word == "UNITS"sv) {
        SkipText(word);
      } else if (word == "INDEX"sv) {
        ExpectSymbol("{");
        for (;;) {
          bool implied = IsWord("IMPLIED");
          if (implied) Skip();
          Token index = ExpectWord("an index object");
          Row(&definition).index.emplace_back(std::move(index.text), index.position);
          if (IsSymbol("}")) {
            Row(&definition).indexImplied = implied;
            break;
          }
          if (implied) Fail(index, "IMPLIED is allowed only on the last index object");
          ExpectSymbol(",");
        }
        Skip();
      } else if (word == "AUGMENTS"sv) {
        ExpectSymbol("{");
        Token entry = ExpectWord("an entry after AUGMENTS");
        Row(&definition).augments = std::move(entry.text);
        Row(&definition).augmentsPosition = entry.position;
        ExpectSymbol("}");
      } else if (word == "DEFVAL"sv) {
        if (!definition.defaults) definition.defaults = std::make_unique<ParsedDefault>();
        definition.defaults->position = clausePosition;
        SkipBraces(&definition.defaults->tokens);
      }
    }
    if (!definition.syntax) Fail(Peek(), "OBJECT-TYPE " + definition.name + " has no SYNTAX");
    if (definition.access == Access::None)
      Fail(Peek(), "OBJECT-TYPE " + definition.name + " has no MAX-ACCESS");
    if (!hasStatus) Fail(Peek(), "OBJECT-TYPE " + definition.name + " has no STATUS");
    if (definition.row && !definition.row->index.empty() && !definition.row->augments.empty()) {
      Fail(Peek(), "OBJECT-TYPE " + definition.name + " has both INDEX and AUGMENTS");
    }
    Skip();
    definition.oid = ParseOidValue();
    return definition;
  }

  // SMIv1 traps: the OID is the enterprise, 0, and the trap number.
  ParsedDefinition ParseTrapType(Token* name) {
    ParsedDefinition definition = Start(name, ObjectKind::Notification);
    definition.trapNumber = true;
    while (!IsSymbol("::=")) {
      const Token& clause = ExpectWord("::=");
      if (clause.text == "ENTERPRISE"sv) {
        Token enterprise = ExpectWord("an enterprise after ENTERPRISE");
        definition.oid.parent = std::move(enterprise.text);
        definition.oid.parentPosition = enterprise.position;
      } else if (clause.text == "VARIABLES"sv) {
        if (!IsSymbol("{")) Expected("{ after VARIABLES");
        SkipBraces();
      } else if (clause.text == "DESCRIPTION"sv || clause.text == "REFERENCE"sv) {
        SkipText(clause.text);
      } else {
        Fail(clause, "unexpected " + clause.text + " in TRAP-TYPE " + definition.name);
      }
    }
    if (definition.oid.parent.empty())
      Fail(Peek(), "TRAP-TYPE " + definition.name + " has no ENTERPRISE");
    Skip();
    uint32_t number = static_cast<uint32_t>(Unsigned(Take(), UINT32_MAX, "a trap number"));
    definition.oid.first = static_cast<uint32_t>(subIds_.size());
    definition.oid.count = 2;
    subIds_.push_back(0);
    subIds_.push_back(number);
    return definition;
  }

  Next next_;
  void* source_;
  const Token& Held(size_t ahead) const { return window_[(first_ + ahead) % MIB_LOOKAHEAD]; }

  // The tokens peeked at and not yet taken, HELD_ of them from FIRST_ on.
  mutable Token window_[MIB_LOOKAHEAD];
  mutable size_t first_ = 0;
  mutable size_t held_ = 0;
  std::vector<uint32_t> subIds_;
  std::deque<std::shared_ptr<const ParsedSyntax>> recentSyntaxes_;
};

}  // namespace

ParsedModule ParseModule(const std::vector<Token>& tokens) {
  if (tokens.empty()) throw MibFailure({1, 1}, "empty input");
  struct Source {
    const std::vector<Token>& tokens;
    size_t next = 0;
  } source{tokens};
  auto next = [](void* from, Token* token) {
    Source& source = *static_cast<Source*>(from);
    *token = source.tokens[std::min(source.next++, source.tokens.size() - 1)];
  };
  return Parser(next, &source).Run();
}

ParsedModule ParseModule(std::string_view text) {
  TokenStream stream(text);
  auto next = [](void* from, Token* token) { static_cast<TokenStream*>(from)->Next(token); };
  return Parser(next, &stream).Run();
}

}  // namespace orvu::mib
