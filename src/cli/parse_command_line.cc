#include "cli/parse_command_line.h"

#include "cli/invocation.h"
#include "cli/invocation_lists.h"
#include "cli/usage.h"
#include "values/syntax_table.h"

namespace {

char FoldSwitchLetter(char letter) {
  return (letter >= 'A' && letter <= 'Z') ? static_cast<char>(letter - 'A' + 'a') : letter;
}

// -m<type letter><value text>. A bare -m has neither: it records the undefined code and the
// empty text at the argument's own terminator, so nothing past the argument is read.
void TakeValue(const char* parameter) {
  if (parameter[0] == '\0') {
    AppendValue(SYNTAX_UNDEFINED, parameter);
    return;
  }
  AppendValue(SyntaxOfTypeLetter(parameter[0]), parameter + 1);
}

}  // namespace

void ParseCommandLine(int argc, char** argv) {
  if (argc <= 1) PrintUsage();
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (argument[0] != '-' && argument[0] != '/') continue;
    if (argument[1] == '\0') PrintUsage();
    const char* parameter = argument + 2;
    switch (FoldSwitchLetter(argument[1])) {
      case 'v': gInvocation.printVersion = true; break;
      case 'p': gInvocation.printParameters = true; break;
      case 'o': gInvocation.printModules = true; break;
      case 'c': gInvocation.printClients = true; break;
      case 't': gInvocation.noLeafs = false; [[fallthrough]];
      case 'e':
        gInvocation.listTable = true;
        gInvocation.tableOid = parameter;
        break;
      case 'a': gInvocation.addEntryOid = parameter; break;
      case 'r': gInvocation.removeEntryOid = parameter; break;
      case 'i': gInvocation.instanceOid = parameter; break;
      case 'w': AppendModuleId(parameter); break;
      case 's': AppendOid(parameter); break;
      case 'm': TakeValue(parameter); break;
      default: PrintUsage();
    }
  }
}
