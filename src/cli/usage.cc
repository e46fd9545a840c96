#include "cli/usage.h"

#include <cstdio>
#include <cstdlib>

#include "cli/diagnostics.h"

namespace {

// Written one after the other; the table ends at the empty text.
constexpr const char* USAGE_LINES[] = {
    "\nUsage: oaset ",
    "\n",
    "\nOptions (No space between switch and parameter):",
    "\n",
    "\n   -v              Print Orvu Agent framework version.",
    "\n   -p              Print parameters.",
    "\n   -o              Print MIB modules handled by Orvu Agent.",
    "\n   -c              Print clients connected to Orvu Agent.",
    "\n   -e oid          Print table entries.",
    "\n   -t oid          Print table entries with leafs.",
    "\n   -a oid -i oid   Add table entry [a - table entry oid, i - instance oid].",
    "\n   -r oid -i oid   Remove table entry [r - table entry oid, i - instance oid].",
    "\n   -w module_id    Load module.",
    "\n   -s oid          Object identifier.",
    "\n   -m type value   Value (-s must be specified).",
    "\n                   Types: o octets, i integer, d oid, u unsigned integer",
    "\n                          g gauge, t timeticks, c counter, a IP address, ",
    "\n                          p NSAP address, b bits, q opaque, n null.",
    "\n",
    "\nExamples: ",
    "\n",
    "\noaset -i -c",
    "\noaset -e1.3.6.1.4.1.32473.99.1",
    "\noaset -t1.3.6.1.4.1.32473.99.1",
    "\noaset -a1.3.6.1.4.1.32473.99.1 -i120",
    "\noaset -r1.3.6.1.4.1.32473.99.1 -i120",
    "\noaset -s1.3.6.1.4.1.32473.99.1.4 -mi2",
    "\noaset -wVORNEL-VNBEEP-MIB -sspeakerControl -mi2",
    "\noaset -s1.3.6.1.4.1.32473.99.1.9.1.2.50 -mo\"Some octets\"",
    "\noaset -wVORNEL-VNBEEP-MIB -sspeakerFreqDescr.50 -mo\"Some octets\"",
    "\noaset -wVORNEL-VNBEEP-MIB -sspeakerFreqEntry.2.50 -mo\"Some octets\"",
    "\n",
    "\nUse 'oaset > file' or 'oaset | more' when output is larger than screen.",
    "\n",
    "",
};

}  // namespace

void PrintUsage() {
  for (const char* const* line = USAGE_LINES; **line != '\0'; ++line) std::printf("%s", *line);
  std::fflush(stdout);
  // Under OASET_STRICT=1 an unknown switch is a mistake a script must see; asking for the usage
  // text with an empty command line is none.
  std::exit(StrictMode() && FindingCount() > 0 ? EXIT_STRICT_FINDINGS : 0);
}
