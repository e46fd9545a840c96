// Any text under any syntax code: the conversion must not read or write out of bounds, must not
// leak, and must leave a record that the release rule of its caller handles.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_syntax.h"
#include "values/parse_value.h"
#include "values/value_block.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  SnmpValue value{FuzzSyntax(data[0]), 0, 0};
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  int result = ParseValueText(&value, text.c_str());

  if (result != 0) {
    if (value.syntax == SYNTAX_OID && (value.number == 0 || value.number > 1408)) std::abort();
    if ((value.syntax == SYNTAX_IPADDR || value.syntax == SYNTAX_OPAQUE) && value.number != 4)
      std::abort();
    if (HasBlock(value.syntax) && (value.number == 0) != (value.data == 0)) std::abort();
  }
  if (HasBlock(value.syntax) && value.number != 0 && value.data != 0) {
    if (value.syntax == SYNTAX_OID) {
      volatile uint32_t last = reinterpret_cast<uint32_t*>(value.data)[value.number - 1];
      (void)last;
    }
    ReleaseValueBlock(reinterpret_cast<void*>(value.data));
  }
  return 0;
}
