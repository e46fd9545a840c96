#include "cli/echo_parameters.h"

#include <cstdio>

#include "cli/invocation.h"
#include "values/syntax_table.h"

namespace {
const char* FlagText(bool flag) { return flag ? "TRUE" : "FALSE"; }
}  // namespace

void EchoParameters() {
  const Invocation& invocation = gInvocation;
  std::printf("\nParameters:\n");
  if (invocation.oids.size > 0) {
    for (size_t i = 0; i < invocation.oids.size; ++i) {
      std::printf("\n%d: %s *** ", static_cast<int>(i + 1), invocation.oids.items[i]);
      if (i < invocation.syntaxes.size)
        std::printf("(%s)", SyntaxName(invocation.syntaxes.items[i]));
      if (i < invocation.valueTexts.size) std::printf(" %s ", invocation.valueTexts.items[i]);
    }
    std::printf("\n");
  }
  std::printf("\nPrint parameters: %s", FlagText(invocation.printParameters));
  std::printf("\nPrint Orvu Agent version: %s", FlagText(invocation.printVersion));
  std::printf("\n");
}
