// Small stand-ins for the SNMP utility and MIB libraries, put into gApi by InstallFakeLibraries.
// Shared by the tests and the fuzz targets of the values.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "agentapi/outside_api.h"

struct FakeMib {
  std::map<std::vector<uint32_t>, std::string> names;  // object OID -> name
  int lookups = 0;
};

inline FakeMib gFakeMib;

inline std::string DottedDecimal(const std::vector<uint32_t>& ids) {
  std::string text;
  for (size_t i = 0; i < ids.size(); ++i) text += (i ? "." : "") + std::to_string(ids[i]);
  return text;
}

// The fakes honour the buffer sizes that they are given, so a short buffer shows as a cut text.
inline void CopyCut(const std::string& text, uint32_t size, char* buffer) {
  if (size == 0) return;
  size_t length = std::min<size_t>(text.size(), size - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

inline FakeMib& InstallFakeLibraries() {
  gFakeMib = FakeMib{};
  gApi.SnmpOidToString = [](const SnmpOid* oid, uint32_t size, char* buffer) {
    CopyCut(DottedDecimal({oid->ids, oid->ids + oid->count}), size, buffer);
    return 1;
  };
  gApi.MibLookupOid = [](const SnmpOid* oid) -> uint32_t {
    ++gFakeMib.lookups;
    auto found = gFakeMib.names.find({oid->ids, oid->ids + oid->count});
    if (found == gFakeMib.names.end()) return 0;
    return static_cast<uint32_t>(std::distance(gFakeMib.names.begin(), found)) + 1;
  };
  gApi.MibGetObjectName = [](uint32_t object, uint32_t form, uint32_t* size, char* buffer) {
    if (form != MIB_FORM_NAME || object == 0) return 0;
    CopyCut(std::next(gFakeMib.names.begin(), object - 1)->second, *size, buffer);
    return 1;
  };
  return gFakeMib;
}
