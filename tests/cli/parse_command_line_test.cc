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

}  // namespace
