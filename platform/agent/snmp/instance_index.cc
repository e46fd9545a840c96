#include "agent/snmp/instance_index.h"

#include <cstdint>

namespace orvu::agent {

namespace {

std::string Count(size_t n) {
  return std::to_string(n) + (n == 1 ? " sub-identifier" : " sub-identifiers");
}

// Reads one INDEX object's sub-identifiers from INDEX at *pos; the fault's text when they do not
// fit it.
class PartReader {
 public:
  PartReader(const Oid& index, size_t* pos) : index_(index), pos_(*pos) {}

  std::string Read(const IndexPart& part, bool implied) {
    const std::string& name = part.name;
    switch (part.syntax) {
      case ORVU_SYNTAX_INTEGER: {
        // Only non-negative integers make an index (RFC 2578 7.7).
        std::vector<mib::Range> ranges = part.ranges;
        if (ranges.empty()) ranges.push_back({0, INT32_MAX});
        return Number(name, ranges);
      }
      case ORVU_SYNTAX_CNTR32:
      case ORVU_SYNTAX_GAUGE32:
      case ORVU_SYNTAX_TIMETICKS: return Number(name, part.ranges);
      case ORVU_SYNTAX_IPADDR: {
        const std::string what = "an IpAddress: 4 sub-identifiers of 0..255";
        if (Left() < 4) return name + " takes " + what + ", but " + LeftText();
        return Bytes(name, 4, what);
      }
      case ORVU_SYNTAX_OID: return Oids(name, implied);
      case ORVU_SYNTAX_OCTETS:
      case ORVU_SYNTAX_OPAQUE:
      case ORVU_SYNTAX_NSAPADDR: return String(part, implied);
      default: return "";
    }
  }

 private:
  size_t Left() const { return index_.size() - pos_; }
  std::string LeftText() const {
    return Left() == 0 ? "nothing is left of the index" : "only " + Count(Left()) + " left";
  }

  std::string Number(const std::string& name, const std::vector<mib::Range>& ranges) {
    const std::string what =
        ranges.empty() ? "one sub-identifier" : "one sub-identifier of " + RangesText(ranges);
    if (Left() < 1) return name + " takes " + what + ", but " + LeftText();
    uint32_t v = index_[pos_++];
    if (!ranges.empty() && !WithinRanges(ranges, v)) {
      return name + " takes " + what + ", not " + std::to_string(v);
    }
    return "";
  }

  // COUNT sub-identifiers that are each a byte.
  std::string Bytes(const std::string& name, size_t count, const std::string& what) {
    for (size_t k = 0; k < count; ++k, ++pos_) {
      if (index_[pos_] > 255) {
        return name + " takes " + what + ", not " + std::to_string(index_[pos_]) + " at byte " +
               std::to_string(k + 1);
      }
    }
    return "";
  }

  std::string String(const IndexPart& part, bool implied) {
    const std::string& name = part.name;
    std::string sizes = part.sizes.empty() ? "any number of" : RangesText(part.sizes);
    if (part.fixedLength != 0) {
      std::string what = std::to_string(part.fixedLength) + " bytes, one sub-identifier each";
      if (Left() < part.fixedLength) return name + " takes " + what + ", but " + LeftText();
      return Bytes(name, part.fixedLength, what);
    }
    size_t length = 0;
    std::string what;
    if (implied) {
      length = Left();
      what = sizes + " bytes, one sub-identifier each (IMPLIED: the rest of the index)";
    } else {
      what = "a length of " + sizes + " and as many bytes";
      if (Left() < 1) return name + " takes " + what + ", but " + LeftText();
      length = index_[pos_++];
      if (Left() < length) {
        return name + " takes " + what + ", but after the length " + std::to_string(length) + " " +
               LeftText();
      }
    }
    if (!part.sizes.empty() && !WithinRanges(part.sizes, static_cast<int64_t>(length))) {
      return name + " takes " + what + ", not " + std::to_string(length) + " bytes";
    }
    return Bytes(name, length, what);
  }

  std::string Oids(const std::string& name, bool implied) {
    if (implied) {
      pos_ = index_.size();
      return "";
    }
    const std::string what = "a length and as many sub-identifiers";
    if (Left() < 1) return name + " takes " + what + ", but " + LeftText();
    size_t length = index_[pos_++];
    if (Left() < length) {
      return name + " takes " + what + ", but after the length " + std::to_string(length) + " " +
             LeftText();
    }
    pos_ += length;
    return "";
  }

  const Oid& index_;
  size_t& pos_;
};

}  // namespace

std::string IndexMisfit(const EntryDef& entry, const Oid& index) {
  if (!entry.fromMib || entry.indexParts.empty()) return "";
  for (const IndexPart& part : entry.indexParts) {
    if (part.syntax == 0) return "";
  }
  size_t nameLength = entry.oid.size() + 1 + index.size();
  if (nameLength > SNMP_MAX_OID_LENGTH) {
    return "with it the names of " + entry.name + "'s objects take " + Count(nameLength) +
           ", and SNMP carries " + std::to_string(SNMP_MAX_OID_LENGTH) + " at most";
  }
  size_t pos = 0;
  PartReader reader(index, &pos);
  for (size_t i = 0; i < entry.indexParts.size(); ++i) {
    bool implied = entry.indexImplied && i + 1 == entry.indexParts.size();
    std::string fault = reader.Read(entry.indexParts[i], implied);
    if (!fault.empty()) return fault;
  }
  if (pos != index.size()) {
    return Count(index.size() - pos) + " left over after " + entry.indexParts.back().name +
           ", the last object of " + entry.name + "'s INDEX";
  }
  return "";
}

}  // namespace orvu::agent
