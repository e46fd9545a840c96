#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "agent_process.h"
#include "usage_text.h"

namespace {

const std::string ENTRY = "1.3.6.1.4.1.32473.99.1.9.1";
const std::string SPEAKER_CONTROL = "1.3.6.1.4.1.32473.99.1.4";
const std::string NOTHING_TO_SET = "\nNothing to set.\n";
const std::string STRICT_STOP =
    "oaset: OASET_STRICT=1: stopped before connecting, nothing was changed; ";

std::string SetSpeakerControl(const std::string& value) {
  return "\nSetting OID:\n\n1: " + SPEAKER_CONTROL + " *** (int, int32) " + value + " ... OK\n";
}

struct FindingCase {
  std::vector<std::string> args;
  std::string out;  // after the banner
  std::string err;
};

// Switches that the run drops or replaces: what it did is as before, and standard error says
// what was not used. Under OASET_STRICT=1 the same command lines stop before anything is done.
TEST(FindingsE2e, DroppedSwitchesAreNamedAndStopAStrictRunBeforeItChangesAnything) {
  TestAgent agent;
  const std::vector<FindingCase> cases = {
      {{"-a" + ENTRY},
       NOTHING_TO_SET + FinishedText(),
       "oaset: \"-a" + ENTRY + "\" is ignored: no instance to create; name it with -i, as -i50\n"},
      {{"-r" + ENTRY},
       NOTHING_TO_SET + FinishedText(),
       "oaset: \"-r" + ENTRY + "\" is ignored: no instance to remove; name it with -i, as -i50\n"},
      {{"-i50"},
       NOTHING_TO_SET + FinishedText(),
       "oaset: \"-i50\" is ignored: it names the instance for -a or -r, and there is neither\n"},
      {{"-e1.3.6.1.4.1.32473.99.1.4", "-T" + ENTRY},
       "\nAllocated table entries for " + ENTRY + ":\n\n\n  None.\n" + NOTHING_TO_SET +
           FinishedText(),
       "oaset: \"-e1.3.6.1.4.1.32473.99.1.4\" is replaced by the later \"-T" + ENTRY +
           "\": only the last -e or -t counts\n"},
      {{"-mi5"},
       NOTHING_TO_SET + FinishedText(),
       "oaset: \"-mi5\" is dropped: it is the 1st -m, and there are 0 -s (the n-th -m belongs to "
       "the n-th -s)\n"},
      {{"-s" + SPEAKER_CONTROL, "-mi2", "-mi3"},
       SetSpeakerControl("2") + FinishedText(),
       "oaset: \"-mi3\" is dropped: it is the 2nd -m, and there is 1 -s (the n-th -m belongs to "
       "the n-th -s)\n"},
      {{"-a" + ENTRY, "-i61", "-i62"},
       "\n\nAdding table entry " + ENTRY +
           ".<index>.62 ...\nTable entry succesfully added and enabled (handle = 00000001).\n" +
           NOTHING_TO_SET + FinishedText(),
       "oaset: \"-i61\" is replaced by the later \"-i62\": only the last -i counts\n"},
  };
  for (const FindingCase& c : cases) {
    std::string label = ::testing::PrintToString(c.args);
    std::string before = agent.ReadState();
    OasetRun strict = RunOaset(&agent, c.args, {{"OASET_STRICT", "1"}});
    EXPECT_EQ(strict.out, BannerText()) << label;
    EXPECT_EQ(strict.err, c.err + STRICT_STOP + "1 finding above\n") << label;
    EXPECT_EQ(strict.status, 2) << label;
    EXPECT_EQ(agent.ReadState(), before) << label;

    OasetRun run = RunOaset(&agent, c.args);
    EXPECT_EQ(run.out, BannerText() + c.out) << label;
    EXPECT_EQ(run.err, c.err) << label;
    EXPECT_EQ(run.status, 0) << label;
  }
}

// Under OASET_STRICT=1 a value text read in part stops the run too, and every failed step, not
// only a table entry's, makes the status 1; a run without a mistake says nothing on stderr.
TEST(FindingsE2e, StrictStatusIsZeroOnlyWhenEveryStepSucceeded) {
  TestAgent agent;
  const std::map<std::string, std::string> strict = {{"OASET_STRICT", "1"}};
  OasetRun clean = RunOaset(&agent, {"-s" + SPEAKER_CONTROL, "-mi2"}, strict);
  EXPECT_EQ(clean.out, BannerText() + SetSpeakerControl("2") + FinishedText());
  EXPECT_EQ(clean.err, "");
  EXPECT_EQ(clean.status, 0);

  std::string before = agent.ReadState();
  OasetRun partial = RunOaset(&agent, {"-s" + SPEAKER_CONTROL, "-mi3x", "-x9"}, strict);
  EXPECT_EQ(partial.out, BannerText() + USAGE_TEXT);
  EXPECT_EQ(partial.err, "oaset: unknown switch -x (in \"-x9\")\n");
  EXPECT_EQ(partial.status, 2);
  partial = RunOaset(&agent, {"-s" + SPEAKER_CONTROL, "-mi3x", "-v2"}, strict);
  EXPECT_EQ(partial.out, BannerText());
  EXPECT_EQ(partial.err, "oaset: \"-v2\": -v takes no parameter, so \"2\" is ignored\noaset: 1: " +
                             SPEAKER_CONTROL + ": \"3x\" is read as 3 (\"x\" is ignored)\n" +
                             STRICT_STOP + "2 findings above\n");
  EXPECT_EQ(partial.status, 2);
  EXPECT_EQ(agent.ReadState(), before);

  struct Failure {
    std::vector<std::string> args;
    const TestAgent* agent;
  };
  for (const Failure& f : std::vector<Failure>{{{"-s" + SPEAKER_CONTROL, "-mo2"}, &agent},
                                               {{"-wNO-SUCH-MIB"}, &agent},
                                               {{"-s" + SPEAKER_CONTROL}, &agent},
                                               {{"-e1.3.6.1.4.1.32473.99.1.4"}, &agent},
                                               {{"-o"}, nullptr}}) {
    std::string label = ::testing::PrintToString(f.args);
    OasetRun plain = RunOaset(f.agent, f.args);
    OasetRun failed = RunOaset(f.agent, f.args, strict);
    EXPECT_EQ(failed.out, plain.out) << label;
    EXPECT_EQ(failed.err, plain.err) << label;
    EXPECT_EQ(plain.status, 0) << label;
    EXPECT_EQ(failed.status, 1) << label;
  }
}

// No agent is started: the usage exits must not touch the framework or even its libraries. An
// unknown letter ends the parse even after valid switches, and is named on standard error; under
// OASET_STRICT=1 that mistake exits 2, while asking for the usage text is none.
TEST(UsageE2eTest, EmptyUnknownAndLoneDashCommandLinesPrintUsageAndExitZero) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const std::string unknownX = "oaset: unknown switch -x\n";
  for (const Case& c : std::vector<Case>{
           {{}, ""},
           {{"-x"}, unknownX},
           {{"-"}, "oaset: \"-\" alone is not a switch\n"},
           {{"/"}, "oaset: \"/\" alone is not a switch\n"},
           {{"-v", "-x"}, unknownX},
           {{"-v", "-s1.3", "-Xyz", "-o"}, "oaset: unknown switch -X (in \"-Xyz\")\n"}}) {
    for (bool strict : {false, true}) {
      std::map<std::string, std::string> env = {{"ORVU_FAULTS", "AgentFrameworkInit=0"}};
      if (strict) env["OASET_STRICT"] = "1";
      OasetRun run = RunOaset(nullptr, c.args, env);
      std::string label = ::testing::PrintToString(c.args) + (strict ? " strict" : "");
      EXPECT_EQ(run.out, BannerText() + USAGE_TEXT) << label;
      EXPECT_EQ(run.status, strict && !c.err.empty() ? 2 : 0) << label;
      EXPECT_EQ(run.err, c.err) << label;
    }
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
