#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "e2e_harness.h"

namespace {

const char* const USAGE_TEXT =
    "\nUsage: oaset \n"
    "\nOptions (No space between switch and parameter):\n"
    "\n   -v              Print Orvu Agent framework version."
    "\n   -p              Print parameters."
    "\n   -o              Print MIB modules handled by Orvu Agent."
    "\n   -c              Print clients connected to Orvu Agent."
    "\n   -e oid          Print table entries."
    "\n   -t oid          Print table entries with leafs."
    "\n   -a oid -i oid   Add table entry [a - table entry oid, i - instance oid]."
    "\n   -r oid -i oid   Remove table entry [r - table entry oid, i - instance oid]."
    "\n   -w module_id    Load module."
    "\n   -s oid          Object identifier."
    "\n   -m type value   Value (-s must be specified)."
    "\n                   Types: o octets, i integer, d oid, u unsigned integer"
    "\n                          g gauge, t timeticks, c counter, a IP address, "
    "\n                          p NSAP address, b bits, q opaque, n null.\n"
    "\nExamples: \n"
    "\noaset -i -c"
    "\noaset -e1.3.6.1.4.1.32473.99.1"
    "\noaset -t1.3.6.1.4.1.32473.99.1"
    "\noaset -a1.3.6.1.4.1.32473.99.1 -i120"
    "\noaset -r1.3.6.1.4.1.32473.99.1 -i120"
    "\noaset -s1.3.6.1.4.1.32473.99.1.4 -mi2"
    "\noaset -wVORNEL-VNBEEP-MIB -sspeakerControl -mi2"
    "\noaset -s1.3.6.1.4.1.32473.99.1.9.1.2.50 -mo\"Some octets\""
    "\noaset -wVORNEL-VNBEEP-MIB -sspeakerFreqDescr.50 -mo\"Some octets\""
    "\noaset -wVORNEL-VNBEEP-MIB -sspeakerFreqEntry.2.50 -mo\"Some octets\"\n"
    "\nUse 'oaset > file' or 'oaset | more' when output is larger than screen.\n";

// No agent is started: the usage exits must not touch the framework or even its libraries.
TEST(UsageE2eTest, EmptyUnknownAndLoneDashCommandLinesPrintUsageAndExitZero) {
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"-x"}, {"-"}, {"-v", "-x"}}) {
    OasetRun run = RunOaset(nullptr, args, {{"ORVU_FAULTS", "AgentFrameworkInit=0"}});
    EXPECT_EQ(run.out, BannerText() + USAGE_TEXT) << "args: " << ::testing::PrintToString(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
  }
}

// A copy of the program in a folder without the libraries, where the system's loader does not
// find them either.
TEST(BindingE2eTest, MissingLibraryIsOneLineOnStderrAndStatusTwo) {
  std::string dir = ::testing::TempDir() + "oaset-nolibs-" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  std::string copy = dir + "/oaset";
  std::filesystem::copy_file(OasetPath(), copy, std::filesystem::copy_options::overwrite_existing);

  OasetRun usage = RunOasetProgram(copy, nullptr, {});
  EXPECT_EQ(usage.status, 0);
  EXPECT_EQ(usage.out, BannerText() + USAGE_TEXT);

  OasetRun run = RunOasetProgram(copy, nullptr, {"-v"}, {{"LD_LIBRARY_PATH", ""}});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, BannerText());
  EXPECT_EQ(run.err, "oaset: cannot load library libvnoagent.so (looked in " + dir +
                         "/ and the system library search path)\n");
  std::filesystem::remove_all(dir);
}

}  // namespace
