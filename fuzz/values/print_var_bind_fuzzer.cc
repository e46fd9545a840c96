// Random OIDs, values and flags through the printer, with a small MIB behind it. The input is
// flags, syntax selector, OID length, then the OID's sub-identifiers and the value's bytes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "fake_libraries.h"
#include "fuzz_syntax.h"
#include "values/print_var_bind.h"

namespace {

uint32_t ReadId(const uint8_t*& p, const uint8_t* end) {
  // One byte keeps most sub-identifiers small, so that they meet the MIB's known prefixes.
  if (p == end) return 0;
  uint8_t first = *p++;
  if (first < 0xF0 || end - p < 4) return first % 8;
  uint32_t id;
  std::memcpy(&id, p, 4);
  p += 4;
  return id;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The lines are of no interest, only what producing them touches.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 1;
  FakeLibraries& mib = InstallFakeLibraries();
  mib.namesByOid[{1}] = "iso";
  mib.namesByOid[{1, 3}] = "org";
  mib.namesByOid[{1, 3, 6, 1}] = "internet";
  mib.namesByOid[{1, 3, 6, 1, 4, 1}] = "enterprises";
  mib.namesByOid[{0, 0}] = "zeroDotZero";
  mib.namesByOid[{1, 3, 6, 1, 4, 1, 2}] = std::string(700, 'x');
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  uint8_t flags = data[0];
  SnmpSyntax syntax = FuzzSyntax(data[1]);
  size_t oidCount = data[2];
  const uint8_t* p = data + 3;
  const uint8_t* end = data + size;

  std::vector<uint32_t> oidIds;
  for (size_t i = 0; i < oidCount && p < end; ++i) oidIds.push_back(ReadId(p, end));

  // The rest of the input is the value: bytes for the byte syntaxes, sub-identifiers for an OID,
  // and the two 32-bit fields for the others.
  std::vector<uint8_t> bytes(p, end);
  std::vector<uint32_t> valueIds;
  while (p < end) valueIds.push_back(ReadId(p, end));

  SnmpValue value{syntax, 0, 0};
  if (syntax == SYNTAX_OID) {
    value.number = static_cast<uint32_t>(valueIds.size());
    value.data = reinterpret_cast<uintptr_t>(valueIds.data());
  } else if (HasBlock(syntax)) {
    value.number = static_cast<uint32_t>(bytes.size());
    value.data = reinterpret_cast<uintptr_t>(bytes.data());
  } else {
    uint32_t halves[2] = {0, 0};
    if (!bytes.empty()) std::memcpy(halves, bytes.data(), std::min(bytes.size(), sizeof halves));
    value.number = halves[0];
    value.data = halves[1];
  }

  PrintVarBind(SnmpOid{static_cast<uint32_t>(oidIds.size()), oidIds.data()}, value, flags);
  return 0;
}
