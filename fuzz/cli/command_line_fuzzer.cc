// Any argument vector through the parser: the input is split into arguments at NUL bytes. Every
// text the Invocation keeps must point into one of the arguments, and every list must match the
// switches that fill it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli/echo_parameters.h"
#include "cli/invocation.h"
#include "cli/parse_command_line.h"
#include "values/syntax_table.h"

namespace {

// The parser ends the process with the usage text for these; the fuzzer leaves them out, since
// an exit is not a finding.
bool ReachesUsage(const std::vector<char*>& argv) {
  if (argv.size() <= 1) return true;
  for (size_t i = 1; i < argv.size(); ++i) {
    const char* argument = argv[i];
    if (argument[0] != '-' && argument[0] != '/') continue;
    if (argument[1] == '\0') return true;
    char letter = argument[1];
    if (letter >= 'A' && letter <= 'Z') letter = static_cast<char>(letter - 'A' + 'a');
    if (std::strchr("vpocetariwsm", letter) == nullptr) return true;
  }
  return false;
}

// True when TEXT is an argument's parameter: it starts inside the argument and ends at the
// argument's own terminator.
bool PointsIntoArguments(const char* text, const std::vector<char*>& argv) {
  for (size_t i = 1; i < argv.size(); ++i) {
    const char* start = argv[i];
    const char* end = start + std::strlen(start);
    if (text >= start && text <= end) return true;
  }
  return false;
}

template <typename T>
void CheckTexts(const GrowList<T>& list, const std::vector<char*>& argv) {
  if (list.size > list.capacity || (list.size > 0 && list.items == nullptr)) std::abort();
  for (size_t i = 0; i < list.size; ++i) {
    if (!PointsIntoArguments(list.items[i], argv)) std::abort();
  }
}

size_t CountSwitches(const std::vector<char*>& argv, char letter) {
  size_t count = 0;
  for (size_t i = 1; i < argv.size(); ++i) {
    const char* argument = argv[i];
    if ((argument[0] == '-' || argument[0] == '/') && (argument[1] | 0x20) == letter) ++count;
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The parameter echo runs for every input; its lines are of no interest here.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 1;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Each argument in a block of its own exact size, so that reading past one is caught.
  std::vector<char*> argv;
  static char program[] = "oaset";
  argv.push_back(program);
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i < size && data[i] != 0) continue;
    char* argument = new char[i - start + 1];
    std::memcpy(argument, data + start, i - start);
    argument[i - start] = '\0';
    argv.push_back(argument);
    start = i + 1;
  }

  if (!ReachesUsage(argv)) {
    ResetInvocation();
    ParseCommandLine(static_cast<int>(argv.size()), argv.data());

    const Invocation& parsed = gInvocation;
    CheckTexts(parsed.moduleIds, argv);
    CheckTexts(parsed.oids, argv);
    CheckTexts(parsed.valueTexts, argv);
    if (parsed.moduleIds.size != CountSwitches(argv, 'w')) std::abort();
    if (parsed.oids.size != CountSwitches(argv, 's')) std::abort();
    if (parsed.valueTexts.size != CountSwitches(argv, 'm')) std::abort();
    if (parsed.syntaxes.size != parsed.valueTexts.size) std::abort();
    for (const char* text :
         {parsed.tableOid, parsed.addEntryOid, parsed.removeEntryOid, parsed.instanceOid}) {
      if (text != nullptr && !PointsIntoArguments(text, argv)) std::abort();
    }
    if (parsed.listTable != (parsed.tableOid != nullptr)) std::abort();
    for (size_t i = 0; i < parsed.syntaxes.size; ++i) {
      if (SyntaxName(parsed.syntaxes.items[i]) == nullptr) std::abort();
    }
    EchoParameters();
  }

  for (size_t i = 1; i < argv.size(); ++i) delete[] argv[i];
  return 0;
}
