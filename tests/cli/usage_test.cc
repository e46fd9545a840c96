#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/invocation.h"
#include "cli/parse_command_line.h"
#include "usage_text.h"

namespace {

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
