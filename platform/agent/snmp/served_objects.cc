#include "agent/snmp/served_objects.h"

#include <algorithm>
#include <cstdint>

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

bool Readable(mib::Access access) {
  return access == mib::Access::ReadOnly || access == mib::Access::ReadWrite ||
         access == mib::Access::ReadCreate;
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
      s.module = module.name;
      s.fromMib = true;
      s.syntax = object.syntax;
      s.writable = Writable(object.access);
      s.readable = Readable(object.access);
      s.limits = LimitsOf(object);
      s.value = InitialValue(object);
      s.absentUnset = !object.defaultValue && OutsideLimits(s.limits, s.value);
      s.testAndIncr = object.typeName == "TestAndIncr";
      scalars->push_back(std::move(s));
    } else if (object.kind == mib::ObjectKind::Entry) {
      EntryDef e;
      e.handle = static_cast<uint32_t>(entries->size() + 1);
      e.oid = object.oid;
      e.name = object.name;
      e.module = module.name;
      e.fromMib = true;
      // The reader has taken IMPLIED off the last name already and says so in its own flag.
      e.indexImplied = object.indexImplied;
      if (!object.augments.empty()) {
        if (const mib::Object* base = registry.FindNameFor(module, object.augments))
          e.augmentsOid = base->oid;
      }
      for (const std::string& indexName : object.indexNames) {
        IndexPart part;
        part.name = indexName;
        if (const mib::Object* indexObject = registry.FindNameFor(module, indexName)) {
          part.syntax = indexObject->syntax;
          ValueLimits limits = LimitsOf(*indexObject);
          part.ranges = std::move(limits.ranges);
          part.sizes = std::move(limits.sizes);
          if (indexObject->sizes.size() == 1 &&
              indexObject->sizes[0].low == indexObject->sizes[0].high)
            part.fixedLength = static_cast<uint32_t>(indexObject->sizes[0].low);
        }
        e.indexParts.push_back(part);
      }
      for (const mib::Object* column : registry.Columns(object)) {
        if (column->oid.size() != object.oid.size() + 1) continue;
        ColumnDef c;
        c.number = column->oid.back();
        c.name = column->name;
        c.syntax = column->syntax;
        c.writable = Writable(column->access);
        c.readable = Readable(column->access);
        c.limits = LimitsOf(*column);
        c.initial = InitialValue(*column);
        auto at = std::find(object.indexNames.begin(), object.indexNames.end(), column->name);
        if (at != object.indexNames.end())
          c.indexPosition = static_cast<int>(at - object.indexNames.begin());
        if (column->typeName == "RowStatus" && c.writable && e.statusColumn == 0) {
          e.statusColumn = c.number;
          // A row that a library made, or one from before, is simply active.
          c.initial.number = ROW_ACTIVE;
        }
        c.required = column->access == mib::Access::ReadCreate && !column->defaultValue &&
                     c.indexPosition < 0;
        c.absentUnset = !column->defaultValue && c.indexPosition < 0;
        c.testAndIncr = column->typeName == "TestAndIncr";
        if (column->typeName == "StorageType" && c.writable && e.storageColumn == 0)
          e.storageColumn = c.number;
        e.leafCount = std::max(e.leafCount, c.number);
        e.columns[c.number] = std::move(c);
      }
      // Only a table with a RowStatus column has rows that wait for their values.
      for (auto& [number, c] : e.columns) c.required = c.required && number != e.statusColumn;
      if (e.statusColumn == 0) {
        for (auto& [number, c] : e.columns) c.required = false;
      }
      for (auto& [number, c] : e.columns) {
        c.absentUnset = c.absentUnset && number != e.statusColumn &&
                        (c.required || OutsideLimits(c.limits, c.initial));
      }
      entries->push_back(std::move(e));
    }
  }
}

namespace {

// Decodes the INDEX parts of INDEX in order as far as they go; the count of parts decoded.
// *end is where the last decoded part ends.
size_t DecodeParts(const EntryDef& entry, const Oid& index, std::vector<Value>* values,
                   size_t* end) {
  values->clear();
  size_t pos = 0;
  for (size_t i = 0; i < entry.indexParts.size(); ++i) {
    const IndexPart& part = entry.indexParts[i];
    bool implied = entry.indexImplied && i + 1 == entry.indexParts.size();
    size_t left = index.size() - pos;
    size_t count = 0;
    Value v = ZeroValue(part.syntax);
    switch (part.syntax) {
      case ORVU_SYNTAX_INTEGER:
      case ORVU_SYNTAX_CNTR32:
      case ORVU_SYNTAX_GAUGE32:
      case ORVU_SYNTAX_TIMETICKS: count = 1; break;
      case ORVU_SYNTAX_IPADDR: count = 4; break;
      case ORVU_SYNTAX_OCTETS:
      case ORVU_SYNTAX_OID:
      case ORVU_SYNTAX_OPAQUE:
      case ORVU_SYNTAX_NSAPADDR:
        if (part.fixedLength != 0 && part.syntax != ORVU_SYNTAX_OID) {
          count = part.fixedLength;
        } else if (implied) {
          count = left;
        } else {
          if (left == 0) return values->size();
          count = index[pos++];
          --left;
        }
        break;
      default: return values->size();
    }
    if (count > left) return values->size();
    auto first = index.begin() + static_cast<long>(pos);
    switch (v.kind) {
      case ValueKind::Number: v.number = *first; break;
      case ValueKind::Oid: v.ids.assign(first, first + static_cast<long>(count)); break;
      case ValueKind::Bytes:
        for (size_t k = 0; k < count; ++k) {
          if (first[static_cast<long>(k)] > 255) return values->size();
          v.bytes.push_back(static_cast<char>(first[static_cast<long>(k)]));
        }
        break;
      case ValueKind::Pair: return values->size();
    }
    pos += count;
    *end = pos;
    values->push_back(std::move(v));
  }
  return values->size();
}

// An enumerated INTEGER takes exactly its labelled values: they become ranges, runs merged.
std::vector<mib::Range> EnumerationRanges(const std::map<std::string, int64_t>& labels) {
  std::vector<int64_t> values;
  for (const auto& [label, value] : labels) values.push_back(value);
  std::sort(values.begin(), values.end());
  std::vector<mib::Range> ranges;
  for (int64_t v : values) {
    if (!ranges.empty() && ranges.back().high + 1 >= v) {
      ranges.back().high = std::max(ranges.back().high, v);
    } else {
      ranges.push_back({v, v});
    }
  }
  return ranges;
}

}  // namespace

std::string RangesText(const std::vector<mib::Range>& ranges) {
  std::string text;
  for (const mib::Range& r : ranges) {
    if (!text.empty()) text += " | ";
    text += std::to_string(r.low);
    if (r.high != r.low) text += ".." + std::to_string(r.high);
  }
  return text;
}

bool WithinRanges(const std::vector<mib::Range>& ranges, int64_t v) {
  for (const mib::Range& r : ranges) {
    if (v >= r.low && v <= r.high) return true;
  }
  return false;
}

ValueLimits LimitsOf(const mib::Object& object) {
  ValueLimits limits;
  limits.ranges = object.ranges;
  limits.sizes = object.sizes;
  if (object.syntax == ORVU_SYNTAX_INTEGER && !object.enumeration.empty())
    limits.ranges = EnumerationRanges(object.enumeration.All());
  return limits;
}

bool DecodeIndex(const EntryDef& entry, const Oid& index, std::vector<Value>* values) {
  size_t end = 0;
  return !entry.indexParts.empty() &&
         DecodeParts(entry, index, values, &end) == entry.indexParts.size() && end == index.size();
}

bool IndexColumnValue(const EntryDef& entry, const ColumnDef& column, const Oid& index,
                      Value* value) {
  std::vector<Value> parts;
  size_t end = 0;
  DecodeParts(entry, index, &parts, &end);
  if (column.indexPosition < 0 || static_cast<size_t>(column.indexPosition) >= parts.size())
    return false;
  const Value& part = parts[static_cast<size_t>(column.indexPosition)];
  *value = ZeroValue(column.syntax);
  switch (value->kind) {
    case ValueKind::Number:
      if (part.kind != ValueKind::Number) return false;
      value->number = part.number;
      break;
    case ValueKind::Bytes:
      if (part.kind == ValueKind::Number) return false;
      value->bytes = part.bytes;
      for (uint32_t id : part.ids) value->bytes.push_back(static_cast<char>(id));
      break;
    case ValueKind::Oid:
      if (part.kind == ValueKind::Number) return false;
      value->ids = part.ids;
      for (char c : part.bytes) value->ids.push_back(static_cast<unsigned char>(c));
      break;
    case ValueKind::Pair: return false;
  }
  return true;
}

std::string SnmpOidFault(const Oid& ids) {
  // BER's first sub-identifier is 40 * first + second, and net-snmp's master reads a
  // sub-identifier into a signed 32-bit number on the way out: above 2^31 - 1 it sends a negative
  // one, which no manager decodes.
  constexpr uint32_t LAST_UNDER_TWO = INT32_MAX - 80;
  if (ids.size() < 2 || ids.size() > SNMP_MAX_OID_LENGTH) {
    return "SNMP carries an OBJECT IDENTIFIER of 2 to " + std::to_string(SNMP_MAX_OID_LENGTH) +
           " sub-identifiers, not " + std::to_string(ids.size());
  }
  if (ids[0] > 2) {
    return "SNMP carries an OBJECT IDENTIFIER that starts with 0, 1 or 2, not " +
           std::to_string(ids[0]);
  }
  if (ids[0] < 2 && ids[1] > 39) {
    return "SNMP carries an OBJECT IDENTIFIER whose second sub-identifier is at most 39 under " +
           std::to_string(ids[0]) + ", not " + std::to_string(ids[1]);
  }
  if (ids[0] == 2 && ids[1] > LAST_UNDER_TWO) {
    return "SNMP carries an OBJECT IDENTIFIER whose second sub-identifier is at most " +
           std::to_string(LAST_UNDER_TWO) + " under 2, not " + std::to_string(ids[1]);
  }
  return "";
}

std::string SnmpValueFault(const Value& value, bool* isLength) {
  *isLength = false;
  if (value.kind == ValueKind::Oid) return SnmpOidFault(value.ids);
  if (value.kind != ValueKind::Bytes || value.bytes.size() <= SNMP_MAX_VALUE_BYTES) return "";
  *isLength = true;
  return "SNMP carries a value of at most " + std::to_string(SNMP_MAX_VALUE_BYTES) +
         " bytes, not " + std::to_string(value.bytes.size());
}

bool SnmpCarries(const Value& value) {
  switch (value.kind) {
    case ValueKind::Oid: return SnmpOidFault(value.ids).empty();
    case ValueKind::Bytes: return value.bytes.size() <= SNMP_MAX_VALUE_BYTES;
    default: return true;
  }
}

std::string LimitViolation(const ValueLimits& limits, const Value& value, bool* isLength) {
  *isLength = false;
  if (value.kind == ValueKind::Bytes && !limits.sizes.empty()) {
    if (WithinRanges(limits.sizes, static_cast<int64_t>(value.bytes.size()))) return "";
    *isLength = true;
    return "it takes " + RangesText(limits.sizes) + " bytes, not " +
           std::to_string(value.bytes.size());
  }
  if (value.kind != ValueKind::Number || limits.ranges.empty()) return "";
  int64_t v = value.syntax == ORVU_SYNTAX_INTEGER
                  ? static_cast<int64_t>(static_cast<int32_t>(value.number))
                  : static_cast<int64_t>(value.number);
  if (WithinRanges(limits.ranges, v)) return "";
  return "it takes " + RangesText(limits.ranges) + ", not " + std::to_string(v);
}

bool OutsideLimits(const ValueLimits& limits, const Value& value) {
  bool isLength = false;
  return !LimitViolation(limits, value, &isLength).empty();
}

}  // namespace orvu::agent
