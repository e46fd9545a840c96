#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/invocation.h"

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

// The usage text ends the process, so the parse runs in a death-test child whose standard output
// goes to a file that the parent reads afterwards.
class UsageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    path_ = ::testing::TempDir() + "oaset_usage_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
    std::remove(path_.c_str());
  }

  void ParseToFile(std::vector<std::string> args) {
    args.insert(args.begin(), "oaset");
    std::vector<char*> argv;
    for (std::string& argument : args) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (std::freopen(path_.c_str(), "w", stdout) == nullptr) std::_Exit(3);
    ResetInvocation();
    ParseCommandLine(static_cast<int>(args.size()), argv.data());
    std::_Exit(4);  // the parse returned: no usage exit happened
  }

  std::string Written() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string path_;
};

TEST_F(UsageTest, NoArgumentsPrintsTheWholeUsageTextAndExitsZero) {
  EXPECT_EXIT(ParseToFile({}), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(Written(), USAGE_TEXT);
}

TEST_F(UsageTest, UnknownLetterEndsTheParseEvenAfterValidSwitches) {
  EXPECT_EXIT(ParseToFile({"-v", "-s1.3", "-x", "-o"}), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(Written(), USAGE_TEXT);
}

TEST_F(UsageTest, LoneDashOrSlashIsAnUnknownSwitch) {
  EXPECT_EXIT(ParseToFile({"-"}), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(Written(), USAGE_TEXT);
  EXPECT_EXIT(ParseToFile({"/"}), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(Written(), USAGE_TEXT);
}

TEST_F(UsageTest, KnownSwitchesAloneDoNotPrintUsage) {
  EXPECT_EXIT(ParseToFile({"-V", "/w", "-m"}), ::testing::ExitedWithCode(4), "");
  EXPECT_EQ(Written(), "");
}

}  // namespace
