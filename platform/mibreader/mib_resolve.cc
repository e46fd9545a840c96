#include "mibreader/mib_resolve.h"

#include <algorithm>
#include <map>
#include <optional>

#include "mibreader/mib_defval.h"
#include "orvu/orvu_types.h"

namespace orvu::mib {
namespace {

constexpr int MIB_MAX_TYPE_DEPTH = 32;
constexpr int MIB_MAX_AUGMENTS_DEPTH = 16;

struct ResolvedSyntax {
  uint32_t code = 0;
  bool isSequence = false;
  bool isSequenceOf = false;
  bool isBits = false;
  Labels labels;
  std::string typeName;
  std::vector<Range> ranges;
  std::vector<Range> sizes;
};

enum class State { Open, Busy, Done };

class Resolver {
 public:
  Resolver(const ParsedModule& parsed, const ResolveContext& context)
      : parsed_(parsed), context_(context) {}

  std::unique_ptr<Module> Run() {
    module_ = std::make_unique<Module>();
    module_->name = parsed_.name;
    module_->macros = parsed_.macros;
    CheckImports();
    IndexLocalNames();
    // One object per definition from the start: the OIDs are resolved straight into them.
    module_->objects.resize(parsed_.definitions.size());
    oidStates_.assign(parsed_.definitions.size(), State::Open);
    types_.resize(parsed_.types.size());
    typeStates_.assign(parsed_.types.size(), State::Open);
    for (size_t i = 0; i < parsed_.types.size(); ++i) {
      const ResolvedSyntax& type = LocalType(i, parsed_.types[i].position, 0);
      TypeDefinition definition;
      definition.name = parsed_.types[i].name;
      definition.syntax = type.code;
      definition.isSequence = type.isSequence;
      definition.enumeration = type.labels;
      definition.ranges = type.ranges;
      definition.sizes = type.sizes;
      module_->types.emplace(definition.name, std::move(definition));
    }
    for (size_t i = 0; i < parsed_.definitions.size(); ++i) Oid(i, 0);
    BuildObjects();
    return std::move(module_);
  }

 private:
  [[noreturn]] static void Fail(Position at, const std::string& cause) {
    throw MibFailure(at, cause);
  }

  const Module* ImportedModule(const std::string& name) const {
    auto found = importedFrom_.find(name);
    return found == importedFrom_.end() ? nullptr : found->second;
  }

  // A module looks up a few names of each module it imports: each is searched for once, rather
  // than every object of the imported module indexed.
  const Object* ObjectIn(const Module* module, const std::string& name) {
    auto key = std::make_pair(module, name);
    auto cached = objectsIn_.find(key);
    if (cached != objectsIn_.end()) return cached->second;
    const Object* found = nullptr;
    for (const Object& object : module->objects) {
      if (object.name == name) {
        found = &object;
        break;
      }
    }
    objectsIn_.emplace(std::move(key), found);
    return found;
  }

  void CheckImports() {
    for (const ParsedImport& group : parsed_.imports) {
      const Module* from = context_.findModule(group.module);
      if (!from) Fail(group.position, "module " + group.module + " not found");
      if (group.module == "RFC1155-SMI") importsSmiV1_ = true;
      if (std::find(module_->imports.begin(), module_->imports.end(), group.module) ==
          module_->imports.end()) {
        module_->imports.push_back(group.module);
      }
      for (const auto& [name, position] : group.names) {
        bool known =
            ObjectIn(from, name) || from->types.count(name) ||
            std::find(from->macros.begin(), from->macros.end(), name) != from->macros.end();
        if (!known) Fail(position, "unknown name " + name + " imported from " + group.module);
        importedFrom_.emplace(name, from);
      }
    }
  }

  // Open addressing over the definitions' own names: a word per slot, no node per name. Added in
  // the module's order, the first name found taken is the first definition given twice.
  void IndexLocalNames() {
    size_t slots = 16;
    while (slots < 2 * parsed_.definitions.size()) slots *= 2;
    localSlots_.assign(slots, 0);
    for (size_t i = 0; i < parsed_.definitions.size(); ++i) {
      const ParsedDefinition& definition = parsed_.definitions[i];
      size_t at = std::hash<std::string_view>()(definition.name) & (slots - 1);
      for (; localSlots_[at] != 0; at = (at + 1) & (slots - 1)) {
        if (NameOf(localSlots_[at] - 1) == definition.name)
          Fail(definition.position, definition.name + " defined twice");
      }
      localSlots_[at] = static_cast<uint32_t>(i + 1);
    }
    for (size_t i = 0; i < parsed_.types.size(); ++i) {
      if (!localTypes_.emplace(parsed_.types[i].name, i).second) {
        Fail(parsed_.types[i].position, parsed_.types[i].name + " defined twice");
      }
    }
  }

  std::string_view NameOf(uint32_t definition) const {
    return parsed_.definitions[definition].name;
  }

  // The index of the local definition of NAME, if there is one.
  std::optional<uint32_t> LocalDefinition(std::string_view name) const {
    size_t mask = localSlots_.size() - 1;
    for (size_t at = std::hash<std::string_view>()(name) & mask; localSlots_[at] != 0;
         at = (at + 1) & mask) {
      if (NameOf(localSlots_[at] - 1) == name) return localSlots_[at] - 1;
    }
    return std::nullopt;
  }

  // The OID of a name as this module sees it, or null; it stays put while the module is resolved.
  const std::vector<uint32_t>* OidOfName(const std::string& name, Position at, int depth) {
    static const std::vector<uint32_t> ccitt{0}, iso{1}, joint{2};
    if (std::optional<uint32_t> local = LocalDefinition(name)) return &Oid(*local, depth + 1);
    if (const Module* from = ImportedModule(name)) {
      if (const Object* object = ObjectIn(from, name)) return &object->oid;
    }
    if (name == "iso") return &iso;
    if (name == "ccitt" || name == "itu-t") return &ccitt;
    if (name == "joint-iso-ccitt" || name == "joint-iso-itu-t") return &joint;
    if (const Module* smi = SmiDefining(name, /*type=*/false)) {
      Forgive(at, name, smi);
      return &ObjectIn(smi, name)->oid;
    }
    return nullptr;
  }

  const std::vector<uint32_t>& Oid(size_t i, int depth) {
    const ParsedDefinition& definition = parsed_.definitions[i];
    std::vector<uint32_t>& oid = module_->objects[i].oid;
    if (oidStates_[i] == State::Done) return oid;
    if (oidStates_[i] == State::Busy)
      Fail(definition.position, "OID of " + definition.name + " refers to itself");
    if (depth > static_cast<int>(MIB_MAX_OID_LENGTH))
      Fail(definition.position, "OID definitions nested too deeply");
    oidStates_[i] = State::Busy;
    const uint32_t* ids = parsed_.subIds.data() + definition.oid.first;
    size_t count = definition.oid.count;
    if (!definition.oid.parent.empty()) {
      const std::vector<uint32_t>* parent =
          OidOfName(definition.oid.parent, definition.oid.parentPosition, depth);
      if (!parent)
        Fail(definition.oid.parentPosition, "unresolved OID parent " + definition.oid.parent);
      // A block of the OID's own size, not one that doubled on the last sub-identifier.
      oid.reserve(parent->size() + count);
      oid.assign(parent->begin(), parent->end());
    }
    oid.insert(oid.end(), ids, ids + count);
    if (oid.size() > MIB_MAX_OID_LENGTH)
      Fail(definition.position, "OID of " + definition.name + " longer than 128 sub-identifiers");
    oidStates_[i] = State::Done;
    return oid;
  }

  const ResolvedSyntax& LocalType(size_t i, Position use, int depth) {
    const ParsedType& type = parsed_.types[i];
    if (typeStates_[i] == State::Done) return types_[i];
    if (typeStates_[i] == State::Busy)
      Fail(type.position, "type " + type.name + " refers to itself");
    if (depth > MIB_MAX_TYPE_DEPTH) Fail(use, "types nested too deeply");
    typeStates_[i] = State::Busy;
    types_[i] = Syntax(type.syntax, type.syntaxPosition, depth + 1);
    typeStates_[i] = State::Done;
    return types_[i];
  }

  ResolvedSyntax NamedType(const std::string& name, Position use, int depth) {
    auto local = localTypes_.find(name);
    if (local != localTypes_.end()) return LocalType(local->second, use, depth);
    if (const Module* from = ImportedModule(name)) {
      auto found = from->types.find(name);
      if (found == from->types.end()) Fail(use, name + " is not a type");
      ResolvedSyntax syntax;
      syntax.code = found->second.syntax;
      syntax.isSequence = found->second.isSequence;
      syntax.labels = found->second.enumeration;
      syntax.ranges = found->second.ranges;
      syntax.sizes = found->second.sizes;
      syntax.isBits =
          name == "BITS" || (syntax.code == ORVU_SYNTAX_OCTETS && !syntax.labels.empty());
      return syntax;
    }
    if (const Module* smi = SmiDefining(name, /*type=*/true)) {
      Forgive(use, name, smi);
      return NamedType(name, use, depth);
    }
    Fail(use, "unknown type " + name);
  }

  // The SMI module that defines NAME (a type, else a node), for modules that use it without
  // importing it: the field's readers take the SMI's own, so this reader does too. An SMIv1 module
  // gets the SMIv1 definitions first.
  const Module* SmiDefining(const std::string& name, bool type) {
    const char* order[] = {"SNMPv2-SMI", "RFC1155-SMI"};
    if (importsSmiV1_) std::swap(order[0], order[1]);
    for (const char* smiName : order) {
      const Module* smi = context_.findModule(smiName);
      if (smi && (type ? smi->types.count(name) != 0 : ObjectIn(smi, name) != nullptr)) return smi;
    }
    return nullptr;
  }

  // Takes NAME as imported from SMI from now on, and says so once, where it is first used.
  void Forgive(Position use, const std::string& name, const Module* smi) {
    importedFrom_.emplace(name, smi);
    Warn(use, name + " is used without being imported; taken from " + smi->name +
                  " (add it to the IMPORTS from " + smi->name + ")");
  }

  void Warn(Position at, std::string cause) {
    module_->warnings.push_back({at.line, at.column, std::move(cause)});
  }

  // AT is where the syntax is written, for the errors.
  ResolvedSyntax Syntax(const ParsedSyntax& syntax, Position at, int depth) {
    ResolvedSyntax resolved;
    switch (syntax.form) {
      case ParsedSyntax::Form::Base:
        resolved.code = syntax.code;
        resolved.isBits = syntax.code == ORVU_SYNTAX_OCTETS && syntax.hasLabels;
        break;
      case ParsedSyntax::Form::Choice: break;
      case ParsedSyntax::Form::Sequence: resolved.isSequence = true; break;
      case ParsedSyntax::Form::SequenceOf:
        if (!NamedType(syntax.typeName, at, depth).isSequence) {
          Fail(at, syntax.typeName + " is not a SEQUENCE type");
        }
        resolved.isSequenceOf = true;
        return resolved;
      case ParsedSyntax::Form::Named:
        resolved = NamedType(syntax.typeName, at, depth);
        resolved.typeName = syntax.typeName;
        break;
    }
    if (syntax.hasLabels) {
      if (resolved.code != 2 && !resolved.isBits)
        Fail(at, "labels given for a type that is neither INTEGER nor BITS");
      resolved.labels = syntax.labels;
    }
    // A constraint given where the type is used narrows the one of the type itself.
    if (!syntax.ranges.empty()) resolved.ranges = syntax.ranges;
    if (!syntax.sizes.empty()) resolved.sizes = syntax.sizes;
    return resolved;
  }

  bool IsLocalEntry(const ParsedDefinition& definition) const {
    return definition.isObjectType && definition.row &&
           (!definition.row->index.empty() || !definition.row->augments.empty());
  }

  // The INDEX of an entry, following AUGMENTS to the entry it extends.
  void IndexOf(const ParsedRow& definition, int depth, Object* entry) {
    if (depth > MIB_MAX_AUGMENTS_DEPTH)
      Fail(definition.augmentsPosition, "AUGMENTS chain too long or circular");
    if (definition.augments.empty()) {
      for (const auto& [name, position] : definition.index) {
        if (!LocalDefinition(name) &&
            !(ImportedModule(name) && ObjectIn(ImportedModule(name), name))) {
          Fail(position, "unknown index object " + name);
        }
        entry->indexNames.push_back(name);
      }
      entry->indexImplied = definition.indexImplied;
      return;
    }
    if (std::optional<uint32_t> local = LocalDefinition(definition.augments)) {
      const ParsedDefinition& target = parsed_.definitions[*local];
      if (!IsLocalEntry(target))
        Fail(definition.augmentsPosition, definition.augments + " is not a table entry");
      IndexOf(*target.row, depth + 1, entry);
      return;
    }
    const Module* from = ImportedModule(definition.augments);
    const Object* target = from ? ObjectIn(from, definition.augments) : nullptr;
    if (!target)
      Fail(definition.augmentsPosition, "unknown entry " + definition.augments + " in AUGMENTS");
    if (target->kind != ObjectKind::Entry)
      Fail(definition.augmentsPosition, definition.augments + " is not a table entry");
    entry->indexNames = target->indexNames;
    entry->indexImplied = target->indexImplied;
  }

  void BuildObjects() {
    std::vector<bool> isBits(parsed_.definitions.size());
    for (size_t i = 0; i < parsed_.definitions.size(); ++i) {
      const ParsedDefinition& definition = parsed_.definitions[i];
      Object& object = module_->objects[i];
      object.name = definition.name;
      object.kind = definition.kind;
      object.notes = definition.notes;
      if (definition.isObjectType) {
        ResolvedSyntax syntax = Syntax(*definition.syntax, definition.syntaxPosition, 0);
        isBits[i] = syntax.isBits;
        object.access = definition.access;
        object.typeName = std::move(syntax.typeName);
        if (syntax.isSequenceOf) {
          object.kind = ObjectKind::Table;
        } else if (IsLocalEntry(definition)) {
          object.kind = ObjectKind::Entry;
          IndexOf(*definition.row, 0, &object);
          object.augments = definition.row->augments;
        } else if (syntax.isSequence) {
          // RFC 1155's OBJECT-TYPE had no INDEX clause: such a row loads, but names no instance.
          object.kind = ObjectKind::Entry;
          Warn(definition.position, definition.name +
                                        " is a table row without INDEX or AUGMENTS (SMIv1 "
                                        "without RFC 1212): its instances cannot be named");
        } else if (syntax.code == 0) {
          Fail(definition.syntaxPosition,
               "syntax of " + definition.name + " has no SNMP base type");
        } else {
          object.syntax = syntax.code;
          object.enumeration = std::move(syntax.labels);
          object.ranges = std::move(syntax.ranges);
          object.sizes = std::move(syntax.sizes);
        }
      }
    }
    // The module's objects by OID, the first of equal ones first, to find the columns' parents.
    const std::vector<Object>& objects = module_->objects;
    std::vector<uint32_t> byOid(objects.size());
    for (size_t i = 0; i < byOid.size(); ++i) byOid[i] = static_cast<uint32_t>(i);
    auto oidBefore = [&](uint32_t a, uint32_t b) { return objects[a].oid < objects[b].oid; };
    // Modules mostly define their objects in OID order already.
    if (!std::is_sorted(byOid.begin(), byOid.end(), oidBefore))
      std::stable_sort(byOid.begin(), byOid.end(), oidBefore);
    for (size_t i = 0; i < parsed_.definitions.size(); ++i) {
      Object& object = module_->objects[i];
      if (object.kind != ObjectKind::Scalar || object.oid.empty()) continue;
      // The parent's OID is read in place: a copy of it is made only for the search of every
      // loaded module, which few objects need.
      const auto parentBegin = object.oid.begin();
      const auto parentEnd = object.oid.end() - 1;
      auto local = std::partition_point(byOid.begin(), byOid.end(), [&](uint32_t at) {
        return std::lexicographical_compare(objects[at].oid.begin(), objects[at].oid.end(),
                                            parentBegin, parentEnd);
      });
      const Object* parent =
          local != byOid.end() && std::equal(objects[*local].oid.begin(), objects[*local].oid.end(),
                                             parentBegin, parentEnd)
              ? &objects[*local]
              : nullptr;
      // { importedEntry n } names its parent: no search of every loaded OID for it.
      const ParsedOid& written = parsed_.definitions[i].oid;
      if (!parent && written.count == 1 && ImportedModule(written.parent))
        parent = ObjectIn(ImportedModule(written.parent), written.parent);
      if (!parent) parent = context_.findOid(std::vector<uint32_t>(parentBegin, parentEnd));
      if (parent && parent->kind == ObjectKind::Entry) object.kind = ObjectKind::Column;
    }
    for (size_t i = 0; i < parsed_.definitions.size(); ++i) {
      const ParsedDefinition& definition = parsed_.definitions[i];
      Object& object = module_->objects[i];
      if (!definition.defaults) continue;
      if (object.syntax == 0)
        Fail(definition.defaults->position,
             "DEFVAL given for " + object.name + ", which has no value");
      DefaultTarget target;
      target.syntax = object.syntax;
      target.labels = &object.enumeration.All();
      target.bits = isBits[i];
      Position at = definition.defaults->position;
      target.oidOfName = [this,
                          at](const std::string& name) -> std::optional<std::vector<uint32_t>> {
        const std::vector<uint32_t>* oid = OidOfName(name, at, 0);
        if (!oid) return std::nullopt;
        return *oid;
      };
      object.defaultValue = std::make_shared<const DefaultValue>(
          ConvertDefault(definition.defaults->tokens, definition.defaults->position, target));
    }
  }

  const ParsedModule& parsed_;
  const ResolveContext& context_;
  std::unique_ptr<Module> module_;
  std::map<std::string, const Module*> importedFrom_;
  bool importsSmiV1_ = false;
  std::map<std::pair<const Module*, std::string>, const Object*> objectsIn_;
  std::vector<uint32_t> localSlots_;  // a definition's index plus one, 0 for a free slot
  std::map<std::string, size_t> localTypes_;
  std::vector<State> oidStates_;
  std::vector<ResolvedSyntax> types_;
  std::vector<State> typeStates_;
};

}  // namespace

std::unique_ptr<Module> ResolveModule(const ParsedModule& parsed, const ResolveContext& context) {
  return Resolver(parsed, context).Run();
}

}  // namespace orvu::mib
