#include "served_objects.h"

#include <algorithm>

namespace orvu::agent {

using proto::Value;
using proto::ValueKind;

Value ZeroValue(uint32_t syntax) {
  Value v;
  v.syntax = syntax;
  bool known = false;
  v.kind = proto::KindOfSyntax(syntax, &known);
  if (v.kind == ValueKind::Oid) v.ids = {0, 0};
  return v;
}

namespace {

bool Writable(mib::Access access) {
  return access == mib::Access::ReadWrite || access == mib::Access::ReadCreate ||
         access == mib::Access::WriteOnly;
}

Value InitialValue(const mib::Object& object) {
  Value v = ZeroValue(object.syntax);
  if (!object.defaultValue) return v;
  const mib::DefaultValue& d = *object.defaultValue;
  switch (v.kind) {
    case ValueKind::Number: v.number = static_cast<uint32_t>(d.number); break;
    case ValueKind::Pair:
      v.number = static_cast<uint32_t>(static_cast<uint64_t>(d.number) >> 32);
      v.second = static_cast<uint32_t>(d.number);
      break;
    case ValueKind::Bytes: v.bytes = d.bytes; break;
    case ValueKind::Oid: v.ids = d.oid; break;
  }
  return v;
}

}  // namespace

void AddModuleObjects(const mib::Registry& registry, const mib::Module& module,
                      std::vector<EntryDef>* entries, std::vector<ScalarDef>* scalars) {
  for (const mib::Object& object : module.objects) {
    if (object.kind == mib::ObjectKind::Scalar) {
      ScalarDef s;
      s.oid = object.oid;
      s.name = object.name;
      s.fromMib = true;
      s.syntax = object.syntax;
      s.writable = Writable(object.access);
      s.value = InitialValue(object);
      scalars->push_back(std::move(s));
    } else if (object.kind == mib::ObjectKind::Entry) {
      EntryDef e;
      e.handle = static_cast<uint32_t>(entries->size() + 1);
      e.oid = object.oid;
      e.name = object.name;
      e.fromMib = true;
      for (const std::string& indexName : object.indexNames) {
        std::string name = indexName;
        if (name.rfind("IMPLIED ", 0) == 0) {
          name = name.substr(8);
          e.indexImplied = true;
        }
        const mib::Object* indexObject = registry.FindName(name);
        e.indexSyntaxes.push_back(indexObject ? indexObject->syntax : 0);
      }
      for (const mib::Object* column : registry.Columns(object)) {
        if (column->oid.size() != object.oid.size() + 1) continue;
        ColumnDef c;
        c.number = column->oid.back();
        c.name = column->name;
        c.syntax = column->syntax;
        c.writable = Writable(column->access);
        c.initial = InitialValue(*column);
        auto at = std::find(object.indexNames.begin(), object.indexNames.end(), column->name);
        if (at != object.indexNames.end())
          c.indexPosition = static_cast<int>(at - object.indexNames.begin());
        e.leafCount = std::max(e.leafCount, c.number);
        e.columns[c.number] = std::move(c);
      }
      entries->push_back(std::move(e));
    }
  }
}

bool IndexColumnValue(const EntryDef& entry, const ColumnDef& column, const Oid& index,
                      Value* value) {
  size_t pos = 0;
  for (size_t i = 0; i < entry.indexSyntaxes.size(); ++i) {
    uint32_t syntax = entry.indexSyntaxes[i];
    bool last = i + 1 == entry.indexSyntaxes.size();
    size_t start = pos;
    size_t count = 0;
    switch (syntax) {
      case 2:
      case 65:
      case 66:
      case 67: count = 1; break;
      case 64: count = 4; break;
      case 4:
      case 6:
      case 68:
      case 69:
        if (last && entry.indexImplied) {
          count = index.size() - std::min(pos, index.size());
        } else {
          if (pos >= index.size()) return false;
          count = index[pos];
          start = ++pos;
        }
        break;
      default: return false;
    }
    if (count > index.size() - std::min(start, index.size()) || start > index.size()) return false;
    if (static_cast<int>(i) == column.indexPosition) {
      *value = ZeroValue(column.syntax);
      switch (value->kind) {
        case ValueKind::Number:
          if (count < 1) return false;
          value->number = index[start];
          break;
        case ValueKind::Bytes:
          value->bytes.clear();
          for (size_t k = 0; k < count; ++k)
            value->bytes.push_back(static_cast<char>(index[start + k]));
          break;
        case ValueKind::Oid:
          value->ids.assign(index.begin() + start, index.begin() + start + count);
          break;
        case ValueKind::Pair: return false;
      }
      return true;
    }
    pos = start + count;
  }
  return false;
}

}  // namespace orvu::agent
