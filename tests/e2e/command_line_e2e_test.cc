#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "agent_process.h"
#include "usage_text.h"

namespace {

// No agent is started: the usage exits must not touch the framework or even its libraries. An
// unknown letter ends the parse even after valid switches.
TEST(UsageE2eTest, EmptyUnknownAndLoneDashCommandLinesPrintUsageAndExitZero) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"-x"}, {"-"}, {"/"}, {"-v", "-x"}, {"-v", "-s1.3", "-x", "-o"}}) {
    OasetRun run = RunOaset(nullptr, args, {{"ORVU_FAULTS", "AgentFrameworkInit=0"}});
    EXPECT_EQ(run.out, BannerText() + USAGE_TEXT) << "args: " << ::testing::PrintToString(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
  }
}

// A copy of the program in a folder without the libraries, where the system's loader does not
// find them either: every missing library is named in one run, with the loader's reason and what
// to do. A broken file reads differently from a missing one.
TEST(BindingE2eTest, MissingAndBrokenLibrariesAreAllNamedOnStderrWithStatusTwo) {
  std::string dir = ::testing::TempDir() + "oaset-nolibs-" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  std::string copy = dir + "/" + std::filesystem::path(OasetPath()).filename().string();
  std::filesystem::copy_file(OasetPath(), copy, std::filesystem::copy_options::overwrite_existing);

  OasetRun usage = RunOasetProgram(copy, nullptr, {});
  EXPECT_EQ(usage.status, 0);
  EXPECT_EQ(usage.out, BannerText() + USAGE_TEXT);

  std::vector<std::string> libraries = LibraryFiles();
  OasetRun run = RunOasetProgram(copy, nullptr, {"-v"}, {{"LD_LIBRARY_PATH", ""}});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, BannerText());
  EXPECT_EQ(run.err, CannotLoadText(dir, libraries, ""));

  for (size_t n = 0; n < 2; ++n) {
    std::filesystem::copy_file(BinDir() + "/" + libraries[n], dir + "/" + libraries[n]);
  }
  {
    std::ofstream broken(dir + "/" + libraries[2]);
    broken << std::string(4096, 'x');
  }
  run = RunOasetProgram(copy, nullptr, {"-v"}, {{"LD_LIBRARY_PATH", ""}});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, CannotLoadText(dir, {}, libraries[2]));
  std::filesystem::remove_all(dir);
}

}  // namespace
