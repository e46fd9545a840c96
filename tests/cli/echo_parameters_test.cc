#include "cli/echo_parameters.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/invocation.h"
#include "cli/parse_command_line.h"

namespace {

std::string EchoFor(std::vector<std::string> args) {
  static std::vector<std::string> kept;  // gInvocation points into these
  kept = std::move(args);
  kept.insert(kept.begin(), "oaset");
  std::vector<char*> argv;
  for (std::string& argument : kept) argv.push_back(argument.data());
  argv.push_back(nullptr);
  ResetInvocation();
  ParseCommandLine(static_cast<int>(kept.size()), argv.data());
  ::testing::internal::CaptureStdout();
  EchoParameters();
  std::fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
}

TEST(EchoParametersTest, NoOidsGivesOnlyTheFlagLines) {
  EXPECT_EQ(EchoFor({"-p", "-mi5", "-wX-MIB", "-e1.3"}),
            "\nParameters:\n"
            "\nPrint parameters: TRUE"
            "\nPrint Orvu Agent version: FALSE"
            "\n");
}

TEST(EchoParametersTest, EntriesPairByPositionAndExtraValuesAreNotShown) {
  EXPECT_EQ(EchoFor({"-p", "-v", "-s1.3.6.1.2.1.1.5.0", "-moHost", "/S1.3.6.1.2.1.1.4.0", "-mb0F",
                     "-mu7", "-mn"}),
            "\nParameters:\n"
            "\n1: 1.3.6.1.2.1.1.5.0 *** (octets) Host "
            "\n2: 1.3.6.1.2.1.1.4.0 *** (octets) 0F "
            "\n"
            "\nPrint parameters: TRUE"
            "\nPrint Orvu Agent version: TRUE"
            "\n");
}

TEST(EchoParametersTest, OidsWithoutValuesAndUnknownTypesShowAsTheyAre) {
  EXPECT_EQ(EchoFor({"-p", "-s1.1", "-mXabc", "-s2.2", "-m", "-s3.3"}),
            "\nParameters:\n"
            "\n1: 1.1 *** (bad syntax) abc "
            "\n2: 2.2 *** (bad syntax)  "
            "\n3: 3.3 *** "
            "\n"
            "\nPrint parameters: TRUE"
            "\nPrint Orvu Agent version: FALSE"
            "\n");
}

}  // namespace
