#include "orvuctl/mib_object.h"

#include <charconv>
#include <map>
#include <memory>

#include "agentapi/outside_api.h"
#include "values/snmp_value.h"

namespace {

constexpr uint32_t OBJECT_NAME_SIZE = 256;
constexpr uint32_t LOOKUP_REASON_SIZE = 1024;

bool Facet(uint32_t handle, uint32_t which, uint32_t position, MibFacet* facet) {
  *facet = MibFacet{};
  facet->size = sizeof(MibFacet);
  return gOptionalApi.MibGetObjectFacet(handle, which, position, facet) == 1;
}

std::string FacetName(const MibFacet& facet) {
  return std::string(facet.name, strnlen(facet.name, sizeof(facet.name)));
}

std::vector<std::pair<int64_t, int64_t>> Bounds(uint32_t handle, uint32_t which) {
  std::vector<std::pair<int64_t, int64_t>> bounds;
  MibFacet facet;
  for (uint32_t position = 0; Facet(handle, which, position, &facet); ++position)
    bounds.emplace_back(facet.low, facet.high);
  return bounds;
}

std::vector<uint32_t> Handles(uint32_t handle, uint32_t which) {
  std::vector<uint32_t> handles;
  MibFacet facet;
  for (uint32_t position = 0; Facet(handle, which, position, &facet); ++position)
    handles.push_back(facet.object);
  return handles;
}

std::unique_ptr<MibObject> ReadObject(uint32_t handle) {
  MibFacet summary;
  if (!Facet(handle, MIB_FACET_SUMMARY, 0, &summary)) return nullptr;
  auto object = std::make_unique<MibObject>();
  object->handle = handle;
  char name[OBJECT_NAME_SIZE] = {};
  uint32_t size = sizeof(name);
  if (gApi.MibGetObjectName(handle, MIB_FORM_NAME, &size, name)) object->name = name;
  SnmpOid oid{};
  if (gApi.MibGetObjectOid(handle, MIB_FORM_OID, &oid)) {
    object->oid.assign(oid.ids, oid.ids + oid.count);
    gApi.SnmpFreeValue(SYNTAX_OID, &oid);
  }
  object->kind = summary.kind;
  object->access = summary.access;
  object->parent = summary.object;
  object->shape.syntax = summary.syntax;
  object->shape.typeName = FacetName(summary);
  MibFacet facet;
  for (uint32_t position = 0; Facet(handle, MIB_FACET_LABEL, position, &facet); ++position)
    object->shape.labels.push_back({FacetName(facet), facet.low});
  std::sort(object->shape.labels.begin(), object->shape.labels.end(),
            [](const ValueLabel& a, const ValueLabel& b) { return a.number < b.number; });
  object->shape.ranges = Bounds(handle, MIB_FACET_RANGE);
  object->shape.sizes = Bounds(handle, MIB_FACET_SIZE);
  if (object->kind == MIB_KIND_ENTRY) {
    object->indexes = Handles(handle, MIB_FACET_INDEX);
    object->columns = Handles(handle, MIB_FACET_COLUMN);
  }
  return object;
}

std::string LookupReason(const std::string& name) {
  char reason[LOOKUP_REASON_SIZE] = {};
  if (gOptionalApi.MibGetLastReason && gOptionalApi.MibGetLastReason(reason, sizeof reason) == 1)
    return reason;
  return "no served module defines " + name;
}

bool ResolveNumeric(const std::string& text, ResolvedName* resolved, std::string* reason) {
  if (!ReadIds(text, &resolved->oid)) {
    *reason = "is neither a name nor a numeric OID";
    return false;
  }
  for (size_t count = resolved->oid.size(); count > 0; --count) {
    SnmpOid prefix{static_cast<uint32_t>(count), resolved->oid.data()};
    const MibObject* object = DescribeObject(gApi.MibLookupOid(&prefix));
    if (!object) continue;
    if (object->kind == MIB_KIND_SCALAR || object->kind == MIB_KIND_COLUMN) {
      resolved->object = object;
      resolved->instance.assign(resolved->oid.begin() + static_cast<long>(count),
                                resolved->oid.end());
      resolved->display = InstanceName(*object, resolved->instance);
      return true;
    }
    break;
  }
  resolved->display = DottedText(resolved->oid);
  return true;
}

}  // namespace

bool ReadIds(const std::string& text, std::vector<uint32_t>* ids) {
  ids->clear();
  size_t start = 0;
  for (;;) {
    size_t dot = text.find('.', start);
    size_t end = dot == std::string::npos ? text.size() : dot;
    uint32_t id = 0;
    auto [stop, error] = std::from_chars(text.data() + start, text.data() + end, id);
    if (error != std::errc() || stop != text.data() + end || end == start) return false;
    ids->push_back(id);
    if (dot == std::string::npos) return true;
    start = dot + 1;
  }
}

const MibObject* DescribeObject(uint32_t handle) {
  static std::map<uint32_t, std::unique_ptr<MibObject>> known;
  if (handle == 0 || !gOptionalApi.MibGetObjectFacet) return nullptr;
  auto found = known.find(handle);
  if (found != known.end()) return found->second.get();
  return known.emplace(handle, ReadObject(handle)).first->second.get();
}

bool ResolveName(const std::string& text, ResolvedName* resolved, std::string* reason) {
  *resolved = ResolvedName{};
  if (text.empty()) {
    *reason = "an empty name";
    return false;
  }
  if (text[0] >= '0' && text[0] <= '9') return ResolveNumeric(text, resolved, reason);
  size_t module = text.find("::");
  size_t dot = text.find('.', module == std::string::npos ? 0 : module + 2);
  std::string name = text.substr(0, dot);
  if (dot != std::string::npos && !ReadIds(text.substr(dot + 1), &resolved->instance)) {
    *reason = "the instance after the name takes dotted numbers";
    return false;
  }
  const MibObject* object = DescribeObject(gApi.MibLookupName(name.c_str()));
  if (!object) {
    *reason = LookupReason(name);
    return false;
  }
  if (object->kind == MIB_KIND_SCALAR) {
    if (dot == std::string::npos) resolved->instance = {0};
    if (resolved->instance != std::vector<uint32_t>{0}) {
      *reason = "is a scalar: its one instance is .0";
      return false;
    }
  } else if (object->kind == MIB_KIND_COLUMN) {
    if (resolved->instance.empty()) {
      *reason = "is a column: name a row by its index (" + object->name + ".1)";
      return false;
    }
  } else {
    *reason = "is neither a scalar nor a column";
    return false;
  }
  resolved->object = object;
  resolved->oid = object->oid;
  resolved->oid.insert(resolved->oid.end(), resolved->instance.begin(), resolved->instance.end());
  resolved->display = InstanceName(*object, resolved->instance);
  return true;
}

const MibObject* ResolveEntry(const std::string& text, std::string* reason) {
  const MibObject* object = nullptr;
  if (!text.empty() && text[0] >= '0' && text[0] <= '9') {
    std::vector<uint32_t> ids;
    if (!ReadIds(text, &ids)) {
      *reason = "is neither a name nor a numeric OID";
      return nullptr;
    }
    SnmpOid oid{static_cast<uint32_t>(ids.size()), ids.data()};
    object = DescribeObject(gApi.MibLookupOid(&oid));
  } else {
    object = DescribeObject(gApi.MibLookupName(text.c_str()));
    if (!object) {
      *reason = LookupReason(text);
      return nullptr;
    }
  }
  if (object && object->kind == MIB_KIND_TABLE) {
    std::vector<uint32_t> entryOid = object->oid;
    entryOid.push_back(1);
    SnmpOid oid{static_cast<uint32_t>(entryOid.size()), entryOid.data()};
    object = DescribeObject(gApi.MibLookupOid(&oid));
  }
  if (!object || object->kind != MIB_KIND_ENTRY) {
    *reason = "names no table entry of a served module";
    return nullptr;
  }
  return object;
}

const char* AccessText(uint32_t access) {
  switch (access) {
    case MIB_ACCESS_NOT_ACCESSIBLE: return "not-accessible";
    case MIB_ACCESS_NOTIFY: return "accessible-for-notify";
    case MIB_ACCESS_READ_ONLY: return "read-only";
    case MIB_ACCESS_READ_WRITE: return "read-write";
    case MIB_ACCESS_READ_CREATE: return "read-create";
    case MIB_ACCESS_WRITE_ONLY: return "write-only";
    default: return "none";
  }
}

bool IsWritable(uint32_t access) {
  return access == MIB_ACCESS_READ_WRITE || access == MIB_ACCESS_READ_CREATE ||
         access == MIB_ACCESS_WRITE_ONLY;
}

std::string InstanceName(const MibObject& object, const std::vector<uint32_t>& instance) {
  return instance.empty() ? object.name : object.name + "." + DottedText(instance);
}
