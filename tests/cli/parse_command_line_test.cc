#include "cli/parse_command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/invocation.h"
#include "cli/invocation_lists.h"
#include "values/syntax_table.h"

namespace {

// Keeps the argument texts alive for as long as gInvocation points into them.
class ParseTest : public ::testing::Test {
 protected:
  void Parse(std::vector<std::string> args) {
    arguments_ = std::move(args);
    arguments_.insert(arguments_.begin(), "oaset");
    argv_.clear();
    for (std::string& argument : arguments_) argv_.push_back(argument.data());
    argv_.push_back(nullptr);
    ResetInvocation();
    ParseCommandLine(static_cast<int>(arguments_.size()), argv_.data());
  }

  template <typename T>
  static std::vector<T> Items(const GrowList<T>& list) {
    return std::vector<T>(list.items, list.items + list.size);
  }
  static std::vector<std::string> Texts(const GrowList<const char*>& list) {
    return std::vector<std::string>(list.items, list.items + list.size);
  }

  std::vector<std::string> arguments_;
  std::vector<char*> argv_;
};

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST_F(ParseTest, FlagsIgnoreTheirParameterAndNonSwitchesAreSkipped) {
  Parse({"word", "-vx", "-P", "/o", "-cjunk"});
  const Invocation& invocation = gInvocation;
  EXPECT_TRUE(invocation.printVersion);
  EXPECT_TRUE(invocation.printParameters);
  EXPECT_TRUE(invocation.printModules);
  EXPECT_TRUE(invocation.printClients);
  EXPECT_FALSE(invocation.listTable);
  EXPECT_TRUE(invocation.noLeafs);
  EXPECT_EQ(invocation.tableOid, nullptr);
  EXPECT_EQ(invocation.addEntryOid, nullptr);
  EXPECT_EQ(invocation.instanceOid, nullptr);
  EXPECT_THAT(Texts(invocation.oids), IsEmpty());
}

TEST_F(ParseTest, OnlyANonSwitchLeavesTheDefaults) {
  Parse({"foo"});
  EXPECT_FALSE(gInvocation.printVersion);
  EXPECT_FALSE(gInvocation.printParameters);
  EXPECT_TRUE(gInvocation.noLeafs);
  EXPECT_THAT(Texts(gInvocation.moduleIds), IsEmpty());
}

TEST_F(ParseTest, TextSwitchesKeepTheLaterTextAndPointIntoTheArguments) {
  Parse({"-a1.3.6.1", "-r1.3.6.2", "-i120", "-i7", "-A9.9", "-s", "1.3.6"});
  EXPECT_STREQ(gInvocation.addEntryOid, "9.9");
  EXPECT_STREQ(gInvocation.removeEntryOid, "1.3.6.2");
  EXPECT_STREQ(gInvocation.instanceOid, "7");
  EXPECT_EQ(gInvocation.instanceOid, argv_[4] + 2);
  // A space between switch and parameter leaves the parameter empty and skips the next word.
  EXPECT_THAT(Texts(gInvocation.oids), ElementsAre(""));
}

TEST_F(ParseTest, EAndTListWithLeafValuesWhenEitherIsTOrderDecidesTheOid) {
  Parse({"-e1.1"});
  EXPECT_TRUE(gInvocation.listTable);
  EXPECT_TRUE(gInvocation.noLeafs);
  EXPECT_STREQ(gInvocation.tableOid, "1.1");

  Parse({"-t2.2", "-e3.3"});
  EXPECT_TRUE(gInvocation.listTable);
  EXPECT_FALSE(gInvocation.noLeafs);
  EXPECT_STREQ(gInvocation.tableOid, "3.3");

  Parse({"-e1.1", "-e4.4"});
  EXPECT_STREQ(gInvocation.tableOid, "4.4");
}

TEST_F(ParseTest, TypeLettersGiveTheirCodesAndAreNotFolded) {
  Parse({"-mahost", "-mb1", "-mc2", "-md1.3", "-mg3", "-mi-4", "-mn", "-moSome octets", "-mp9",
         "-mq0a", "-mt5", "-mu6", "-mO7", "-mz8"});
  EXPECT_THAT(
      Items(gInvocation.syntaxes),
      ElementsAre(SYNTAX_IPADDR, SYNTAX_OCTETS, SYNTAX_CNTR32, SYNTAX_OID, SYNTAX_GAUGE32,
                  SYNTAX_INTEGER, SYNTAX_NULL, SYNTAX_OCTETS, SYNTAX_NSAPADDR, SYNTAX_OPAQUE,
                  SYNTAX_TIMETICKS, SYNTAX_INTEGER, SYNTAX_UNDEFINED, SYNTAX_UNDEFINED));
  EXPECT_THAT(Texts(gInvocation.valueTexts),
              ElementsAre("host", "1", "2", "1.3", "3", "-4", "", "Some octets", "9", "0a", "5",
                          "6", "7", "8"));
  EXPECT_STREQ(SyntaxName(SYNTAX_UNDEFINED), "bad syntax");
}

TEST_F(ParseTest, BareMRecordsTheUndefinedCodeAndTheArgumentsOwnEmptyText) {
  Parse({"-m", "/M"});
  ASSERT_THAT(Items(gInvocation.syntaxes), ElementsAre(SYNTAX_UNDEFINED, SYNTAX_UNDEFINED));
  ASSERT_THAT(Texts(gInvocation.valueTexts), ElementsAre("", ""));
  EXPECT_EQ(gInvocation.valueTexts.items[0], argv_[1] + 2);
  EXPECT_EQ(gInvocation.valueTexts.items[1], argv_[2] + 2);
}

TEST_F(ParseTest, ListsKeepCommandLineOrderAndPairByPosition) {
  Parse({"-mi5", "/S1.3.6.1.2.1.1.4.0", "/mohello", "-wA-MIB", "-s1.3.6.1.2.1.1.7.0", "-wB-MIB",
         "-mi9"});
  EXPECT_THAT(Texts(gInvocation.oids), ElementsAre("1.3.6.1.2.1.1.4.0", "1.3.6.1.2.1.1.7.0"));
  EXPECT_THAT(Items(gInvocation.syntaxes),
              ElementsAre(SYNTAX_INTEGER, SYNTAX_OCTETS, SYNTAX_INTEGER));
  EXPECT_THAT(Texts(gInvocation.valueTexts), ElementsAre("5", "hello", "9"));
  EXPECT_THAT(Texts(gInvocation.moduleIds), ElementsAre("A-MIB", "B-MIB"));
}

// Every input the parse drops, replaces or cannot use is named on standard error, one line each,
// with what to write instead; a command line without mistakes says nothing there.
TEST_F(ParseTest, DroppedInputIsNamedOnStandardErrorOneLineEach) {
  const std::string letters = TypeLetterList();
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"-v", "-p", "-wA-MIB", "-s1.3", "-mi2", "-a1.3", "-r1.4", "-i5", "-t1.3"}, ""},
      {{"-s1.3", "-mo", "Speaker one"},
       "oaset: \"Speaker one\" is not a switch and is ignored, and \"-mo\" got an empty "
       "parameter: no space may stand between a switch and its parameter; write "
       "-mo\"Speaker one\"\n"},
      {{"-s1.3", "-mg", "80"},
       "oaset: \"80\" is not a switch and is ignored, and \"-mg\" got an empty parameter: no "
       "space may stand between a switch and its parameter; write -mg80\n"},
      {{"word", "-v"},
       "oaset: \"word\" is not a switch and is ignored (a switch starts with - or /)\n"},
      {{"-s1.3", "-mo", "/srv/x"},
       "oaset: \"/srv/x\" looks like a path but is read as the switch -s with \"rv/x\"; if it is "
       "the value of \"-mo\", write -mo/srv/x\n"},
      {{"/w/x"},
       "oaset: \"/w/x\" looks like a path but is read as the switch -w with \"/x\"; a value that "
       "starts with / must follow its switch without a space\n"},
      {{"-mi5"},
       "oaset: \"-mi5\" is dropped: it is the 1st -m, and there are 0 -s (the n-th -m belongs to "
       "the n-th -s)\n"},
      {{"-s1", "-mi1", "-mi2", "-mi3"},
       "oaset: \"-mi2\" is dropped: it is the 2nd -m, and there is 1 -s (the n-th -m belongs to "
       "the n-th -s)\noaset: \"-mi3\" is dropped: it is the 3rd -m, and there is 1 -s (the n-th "
       "-m belongs to the n-th -s)\n"},
      {{"-a1.3"}, "oaset: \"-a1.3\" is ignored: no instance to create; name it with -i, as -i50\n"},
      {{"-r1.3"}, "oaset: \"-r1.3\" is ignored: no instance to remove; name it with -i, as -i50\n"},
      {{"-i5"},
       "oaset: \"-i5\" is ignored: it names the instance for -a or -r, and there is neither\n"},
      {{"-a1.3", "-i61", "-i62"},
       "oaset: \"-i61\" is replaced by the later \"-i62\": only the last -i counts\n"},
      {{"-a1", "-A2", "-r1", "-r1", "-i1"},
       "oaset: \"-a1\" is replaced by the later \"-A2\": only the last -a counts\noaset: \"-r1\" "
       "is replaced by the later \"-r1\": only the last -r counts\n"},
      {{"-e1.3", "-t1.4"},
       "oaset: \"-e1.3\" is replaced by the later \"-t1.4\": only the last -e or -t counts\n"},
      {{"-vx", "/OC"},
       "oaset: \"-vx\": -v takes no parameter, so \"x\" is ignored\noaset: \"/OC\": -o takes no "
       "parameter, so \"C\" is ignored\n"},
      {{"-s1.3", "-mx2"},
       "oaset: \"-mx2\": \"x\" is no type letter of -m; the letters are " + letters + "\n"},
      {{"-s1.3", "-m"}, "oaset: \"-m\" has no type letter; the letters are " + letters + "\n"},
  };
  for (const Case& c : cases) {
    ::testing::internal::CaptureStderr();
    Parse(c.args);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.err) << ::testing::PrintToString(c.args);
  }
}

}  // namespace
