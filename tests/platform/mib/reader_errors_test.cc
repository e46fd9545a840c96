// Broken modules: each is refused with the position and cause of its first error, and nothing of
// a refused attempt stays loaded.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "mib_test_folder.h"
#include "mibreader/mib_registry.h"

namespace orvu::mib {
namespace {

const char* const HEADER =
    "BAD-MIB DEFINITIONS ::= BEGIN\n"
    "IMPORTS OBJECT-TYPE, Integer32, IpAddress, enterprises FROM SNMPv2-SMI;\n"
    "bad OBJECT IDENTIFIER ::= { enterprises 32473 1 }\n";

struct BrokenCase {
  const char* body;   // follows HEADER unless it starts a module itself
  const char* at;     // the text at the reported position: its first occurrence in the module
  const char* cause;  // the start of the reported cause
};

const BrokenCase BROKEN_CASES[] = {
    {"BAD-MIB DEFINITIONS BEGIN END", "BEGIN", "expected ::= (found BEGIN)"},
    {"BAD-MIB DEFINITIONS ::= BEGIN IMPORTS Foo, enterprises FROM SNMPv2-SMI; END", "Foo",
     "unknown name Foo imported from SNMPv2-SMI"},
    {"BAD-MIB DEFINITIONS ::= BEGIN IMPORTS x FROM NO-SUCH-MIB; END", "NO-SUCH-MIB",
     "module NO-SUCH-MIB not found (tried "},
    {"BAD-MIB DEFINITIONS ::= BEGIN END trailing", "trailing", "unexpected text after END"},
    // A word that runs to the last byte of the file, hyphen and all.
    {"BAD-MIB DEFINITIONS ::= BEGIN END trailing-", "trailing-", "unexpected text after END"},
    {"OTHER-MIB DEFINITIONS ::= BEGIN END", "OTHER-MIB",
     "file holds module OTHER-MIB, not BAD-MIB"},
    {"a OBJECT IDENTIFIER ::= { nowhere 1 }\nEND", "nowhere", "unresolved OID parent nowhere"},
    {"a OBJECT IDENTIFIER ::= { b 1 }\nb OBJECT IDENTIFIER ::= { a 1 }\nEND", "a OBJECT",
     "OID of a refers to itself"},
    {"a OBJECT IDENTIFIER ::= { bad 4294967296 }\nEND", "4294967296",
     "number 4294967296 too large"},
    {"a OBJECT IDENTIFIER ::= { }\nEND", "}\nEND", "empty OID value"},
    {"bad OBJECT IDENTIFIER ::= { bad 2 }\nEND", "bad OBJECT IDENTIFIER ::= { bad 2",
     "bad defined twice"},
    // The first name taken again in the module's order, not in the alphabet's.
    {"z OBJECT IDENTIFIER ::= { bad 1 }\na OBJECT IDENTIFIER ::= { bad 2 }\n"
     "z OBJECT IDENTIFIER ::= { bad 3 }\na OBJECT IDENTIFIER ::= { bad 4 }\nEND",
     "z OBJECT IDENTIFIER ::= { bad 3", "z defined twice"},
    // Positions stay right past texts that span lines and hold doubled quotes.
    {"x OBJECT-TYPE SYNTAX Integer32 MAX-ACCESS read-write STATUS current DESCRIPTION \"two\n"
     "lines, \"\"quoted\"\"\" \x01\nEND",
     "\x01", "unexpected byte 0x01"},
    {"x OBJECT-TYPE SYNTAX Integer32 MAX-ACCESS read-write STATUS current DESCRIPTION \"open\nEND",
     "\"open", "quoted text not closed"},
    {"x OBJECT-TYPE SYNTAX Integer32 \x01 MAX-ACCESS read-write\nEND", "\x01",
     "unexpected byte 0x01"},
    {"x OBJECT-TYPE SYNTAX Integer32 MAX-ACCESS read-write STATUS current FROB \"f\" ::= { bad 1 "
     "}\nEND",
     "FROB", "unexpected FROB in OBJECT-TYPE x"},
    {"a OBJECT IDENTIFIER ::= { iso(x) }\nEND", "x)", "expected a sub-identifier"},
    {"x OBJECT-TYPE SYNTAX Frob MAX-ACCESS read-write STATUS current ::= { bad 1 }\nEND", "Frob",
     "unknown type Frob"},
    {"A ::= B\nB ::= A\nEND", "A ::=", "type A refers to itself"},
    {"x OBJECT-TYPE SYNTAX Integer32 MAX-ACCESS read-mostly STATUS current ::= { bad 1 }\nEND",
     "read-mostly", "unknown access read-mostly"},
    {"x OBJECT-TYPE MAX-ACCESS read-write STATUS current ::= { bad 1 }\nEND", "::= { bad 1 }",
     "OBJECT-TYPE x has no SYNTAX"},
    {"x OBJECT-TYPE SYNTAX Integer32 MAX-ACCESS read-write STATUS current ::= bad 1\nEND",
     "bad 1\n", "expected { (found bad)"},
    {"x OBJECT-TYPE SYNTAX INTEGER { on(1), off(2) } MAX-ACCESS read-write STATUS current DEFVAL { "
     "dim }"
     " ::= { bad 1 }\nEND",
     "DEFVAL", "unknown label dim in DEFVAL"},
    {"x OBJECT-TYPE SYNTAX IpAddress MAX-ACCESS read-write STATUS current DEFVAL { 'C0A8'H } ::= { "
     "bad 1 }\nEND",
     "DEFVAL", "IpAddress DEFVAL must be 4 bytes"},
    {"x OBJECT-TYPE SYNTAX Integer32 MAX-ACCESS read-write STATUS current DEFVAL { 2147483648 } "
     "::= { bad 1 }\nEND",
     "DEFVAL", "DEFVAL 2147483648 out of range"},
    {"x OBJECT-TYPE SYNTAX OCTET STRING MAX-ACCESS read-write STATUS current DEFVAL { 'XY'H } ::= "
     "{ bad 1 }\nEND",
     "'XY'H", "bad digit in a hex string"},
    {"e OBJECT-TYPE SYNTAX E MAX-ACCESS not-accessible STATUS current INDEX { nobody } ::= { bad 1 "
     "}\n"
     "E ::= SEQUENCE { c Integer32 }\nEND",
     "nobody", "unknown index object nobody"},
    {"e OBJECT-TYPE SYNTAX E MAX-ACCESS not-accessible STATUS current INDEX { IMPLIED bad, bad } "
     "::= { bad 1 }\n"
     "E ::= SEQUENCE { c Integer32 }\nEND",
     "bad, bad", "IMPLIED is allowed only on the last index object"},
    {"e OBJECT-TYPE SYNTAX E MAX-ACCESS not-accessible STATUS current AUGMENTS { bad } ::= { bad 1 "
     "}\n"
     "E ::= SEQUENCE { c Integer32 }\nEND",
     "bad }", "bad is not a table entry"},
    {"t OBJECT-TYPE SYNTAX SEQUENCE OF Integer32 MAX-ACCESS not-accessible STATUS current ::= { "
     "bad 1 }\nEND",
     "Integer32 MAX", "Integer32 is not a SEQUENCE type"},
    {"x OBJECT-TYPE SYNTAX Integer32 MAX-ACCESS read-write STATUS current DEFVAL 32 ::= { bad 1 "
     "}\nEND",
     "32 ::=", "expected { (found 32)"},
    {"t MODULE-COMPLIANCE STATUS current MODULE MANDATORY-GROUPS { g }\nEND", "END",
     "expected ::= (found END)"},
    {"module BAD-MIB {\n  organization \"IRTF\";\n};", "module",
     "BAD-MIB is an SMIng module, not SMIv1 or SMIv2"},
};

struct TextPosition {
  int line;
  int column;
};

TextPosition PositionOf(const std::string& text, const std::string& at) {
  size_t offset = text.find(at);
  TextPosition position{1, 1};
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++position.line;
      position.column = 1;
    } else {
      ++position.column;
    }
  }
  return position;
}

TEST(ReaderErrors, ReportPositionAndCause) {
  for (const BrokenCase& broken : BROKEN_CASES) {
    std::string body = broken.body;
    std::string text = body.compare(0, 8, "BAD-MIB ") == 0 || body.compare(0, 6, "OTHER-") == 0 ||
                               body.compare(0, 7, "module ") == 0
                           ? body
                           : HEADER + body;
    MibTestFolder folder;
    folder.Write("BAD-MIB", text);
    Registry registry({folder.Path()});
    LoadError error;
    ASSERT_FALSE(registry.Load("BAD-MIB", &error)) << broken.body;
    TextPosition expected = PositionOf(text, broken.at);
    EXPECT_EQ(error.fileName, folder.Path() + "/BAD-MIB") << broken.body;
    EXPECT_EQ(error.line, expected.line) << broken.body << "\n" << error.Text();
    EXPECT_EQ(error.column, expected.column) << broken.body << "\n" << error.Text();
    EXPECT_EQ(error.cause.rfind(broken.cause, 0), 0u) << broken.body << "\n" << error.Text();
    EXPECT_EQ(registry.FindModule("BAD-MIB"), nullptr);
  }
}

// Mistakes that the field's readers forgive: the module loads, with one warning at the first use.
struct ForgivenCase {
  const char* body;  // follows HEADER
  const char* at;
  const char* warning;
};

const ForgivenCase FORGIVEN_CASES[] = {
    {"x OBJECT-TYPE SYNTAX TimeTicks MAX-ACCESS read-only STATUS current ::= { bad 1 }\n"
     "y OBJECT-TYPE SYNTAX TimeTicks MAX-ACCESS read-only STATUS current ::= { bad 2 }\nEND",
     "TimeTicks", "TimeTicks is used without being imported; taken from SNMPv2-SMI"},
    {"x OBJECT-TYPE SYNTAX Counter64 MAX-ACCESS read-only STATUS current ::= { bad 1 }\nEND",
     "Counter64", "Counter64 is used without being imported; taken from SNMPv2-SMI"},
    {"x OBJECT IDENTIFIER ::= { mib-2 99 }\nEND", "mib-2",
     "mib-2 is used without being imported; taken from SNMPv2-SMI"},
    {"t OBJECT-TYPE SYNTAX SEQUENCE OF E ACCESS not-accessible STATUS mandatory ::= { bad 1 }\n"
     "e OBJECT-TYPE SYNTAX E ACCESS not-accessible STATUS mandatory ::= { t 1 }\n"
     "E ::= SEQUENCE { c INTEGER }\n"
     "c OBJECT-TYPE SYNTAX INTEGER ACCESS read-only STATUS mandatory ::= { e 1 }\nEND",
     "e OBJECT-TYPE", "e is a table row without INDEX or AUGMENTS"},
};

TEST(ReaderErrors, ForgivenMistakesLoadWithAWarning) {
  for (const ForgivenCase& forgiven : FORGIVEN_CASES) {
    std::string text = HEADER + std::string(forgiven.body);
    MibTestFolder folder;
    folder.Write("BAD-MIB", text);
    Registry registry({folder.Path()});
    LoadError error;
    std::vector<LoadError> warnings;
    ASSERT_TRUE(registry.Load("BAD-MIB", &error, &warnings)) << error.Text();
    ASSERT_EQ(warnings.size(), 1u) << forgiven.body;
    TextPosition expected = PositionOf(text, forgiven.at);
    EXPECT_EQ(warnings[0].fileName, folder.Path() + "/BAD-MIB");
    EXPECT_EQ(warnings[0].line, expected.line) << warnings[0].Text();
    EXPECT_EQ(warnings[0].column, expected.column) << warnings[0].Text();
    EXPECT_EQ(warnings[0].cause.rfind(forgiven.warning, 0), 0u) << warnings[0].Text();
  }
}

TEST(ReaderErrors, ForgivenNamesTakeTheSmiOwnDefinitions) {
  MibTestFolder folder;
  folder.Write("OLD-MIB",
               "OLD-MIB DEFINITIONS ::= BEGIN IMPORTS enterprises FROM RFC1155-SMI\n"
               "OBJECT-TYPE FROM RFC-1212;\n"
               "t OBJECT-TYPE SYNTAX SEQUENCE OF E ACCESS not-accessible STATUS mandatory\n"
               "  ::= { enterprises 32473 1 }\n"
               "e OBJECT-TYPE SYNTAX E ACCESS not-accessible STATUS mandatory ::= { t 1 }\n"
               "E ::= SEQUENCE { up TimeTicks, hits Counter }\n"
               "up OBJECT-TYPE SYNTAX TimeTicks ACCESS read-only STATUS mandatory ::= { e 1 }\n"
               "hits OBJECT-TYPE SYNTAX Counter ACCESS read-only STATUS mandatory ::= { e 2 }\n"
               "END");
  Registry registry({folder.Path()});
  LoadError error;
  std::vector<LoadError> warnings;
  ASSERT_TRUE(registry.Load("OLD-MIB", &error, &warnings)) << error.Text();
  EXPECT_EQ(warnings.size(), 3u);  // the row, TimeTicks and Counter, each once
  EXPECT_EQ(registry.FindName("up")->syntax, 67u);
  EXPECT_EQ(registry.FindName("up")->kind, ObjectKind::Column);
  EXPECT_EQ(registry.FindName("hits")->syntax, 65u);
  EXPECT_EQ(registry.FindName("e")->kind, ObjectKind::Entry);
  EXPECT_TRUE(registry.FindName("e")->indexNames.empty());
  // Nothing to forgive the second time: the module is loaded already.
  warnings.clear();
  ASSERT_TRUE(registry.Load("OLD-MIB", &error, &warnings));
  EXPECT_TRUE(warnings.empty());
}

// Two modules define one name at different OIDs: the bare name is the first loaded one's, the
// note names both, and MODULE::name picks either.
TEST(ReaderErrors, NamesDefinedTwiceAreTold) {
  MibTestFolder folder;
  folder.Write("ONE-MIB",
               "ONE-MIB DEFINITIONS ::= BEGIN IMPORTS enterprises FROM SNMPv2-SMI;\n"
               "shared OBJECT IDENTIFIER ::= { enterprises 32473 1 }\n"
               "same OBJECT IDENTIFIER ::= { enterprises 32473 3 } END");
  folder.Write("TWO-MIB",
               "TWO-MIB DEFINITIONS ::= BEGIN IMPORTS enterprises FROM SNMPv2-SMI;\n"
               "shared OBJECT IDENTIFIER ::= { enterprises 32473 2 }\n"
               "same OBJECT IDENTIFIER ::= { enterprises 32473 3 } END");
  Registry registry({folder.Path()});
  LoadError error;
  ASSERT_TRUE(registry.Load("ONE-MIB", &error));
  ASSERT_TRUE(registry.Load("TWO-MIB", &error));
  std::string note;
  const Object* first = registry.FindName("shared", &note);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->oid.back(), 1u);
  EXPECT_EQ(note,
            "shared is defined by ONE-MIB (1.3.6.1.4.1.32473.1) and by TWO-MIB "
            "(1.3.6.1.4.1.32473.2): ONE-MIB's is taken; write MODULE::shared for another");
  EXPECT_EQ(registry.FindName("ONE-MIB::shared", &note), first);
  EXPECT_EQ(note, "");
  ASSERT_NE(registry.FindName("TWO-MIB::shared"), nullptr);
  EXPECT_EQ(registry.FindName("TWO-MIB::shared")->oid.back(), 2u);
  EXPECT_EQ(registry.ModuleOf(registry.FindName("TWO-MIB::shared"))->name, "TWO-MIB");
  EXPECT_EQ(registry.FindNameFor(*registry.FindModule("TWO-MIB"), "shared")->oid.back(), 2u);
  // One name at one OID is no ambiguity.
  ASSERT_NE(registry.FindName("same", &note), nullptr);
  EXPECT_EQ(note, "");
  EXPECT_EQ(registry.FindName("GONE-MIB::shared", &note), nullptr);
  EXPECT_EQ(note, "no loaded module is named GONE-MIB");
  EXPECT_EQ(registry.FindName("ONE-MIB::nothing"), nullptr);
}

TEST(ReaderErrors, FailedImportNamesTheChain) {
  MibTestFolder folder;
  folder.Write("TOP-MIB", "TOP-MIB DEFINITIONS ::= BEGIN IMPORTS mid FROM MID-MIB; END");
  folder.Write("MID-MIB",
               "MID-MIB DEFINITIONS ::= BEGIN IMPORTS low FROM LOW-MIB;\n"
               "mid OBJECT IDENTIFIER ::= { low 1 } END");
  folder.Write("LOW-MIB",
               "LOW-MIB DEFINITIONS ::= BEGIN IMPORTS enterprises FROM SNMPv2-SMI;\n"
               "low OBJECT IDENTIFIER ::= { enterprises 32473 1 }\n"
               "x OBJECT IDENTIFIER ::= { nowhere 1 } END");
  Registry registry({folder.Path()});
  LoadError error;
  ASSERT_FALSE(registry.Load("TOP-MIB", &error));
  EXPECT_EQ(error.Text(), folder.Path() +
                              "/LOW-MIB:3:27: unresolved OID parent nowhere; import chain: "
                              "TOP-MIB -> MID-MIB -> LOW-MIB:3");
  // Asked for directly, the failing module needs no chain.
  ASSERT_FALSE(registry.Load("LOW-MIB", &error));
  EXPECT_EQ(error.Text(), folder.Path() + "/LOW-MIB:3:27: unresolved OID parent nowhere");
  // A missing import is reported where it is imported, at the end of the chain.
  folder.Write("LOW-MIB", "LOW-MIB DEFINITIONS ::= BEGIN IMPORTS gone FROM GONE-MIB; END");
  ASSERT_FALSE(registry.Load("TOP-MIB", &error));
  EXPECT_EQ(error.importChain, (std::vector<std::string>{"TOP-MIB", "MID-MIB", "LOW-MIB"}));
  EXPECT_EQ(error.cause.rfind("module GONE-MIB not found", 0), 0u);
}

TEST(ReaderErrors, FailedLoadKeepsEarlierModulesAndDropsItsOwnImports) {
  MibTestFolder folder;
  folder.Write("FIRST-MIB",
               "FIRST-MIB DEFINITIONS ::= BEGIN IMPORTS enterprises FROM SNMPv2-SMI;\n"
               "first OBJECT IDENTIFIER ::= { enterprises 32473 1 } END");
  folder.Write("HELPER-MIB",
               "HELPER-MIB DEFINITIONS ::= BEGIN IMPORTS enterprises FROM SNMPv2-SMI;\n"
               "helper OBJECT IDENTIFIER ::= { enterprises 32473 2 } END");
  folder.Write("BROKEN-MIB",
               "BROKEN-MIB DEFINITIONS ::= BEGIN IMPORTS helper FROM HELPER-MIB;\n"
               "broken OBJECT IDENTIFIER ::= { helper 1 }\n"
               "worse OBJECT IDENTIFIER ::= { missing 1 } END");
  Registry registry({folder.Path()});
  LoadError error;
  ASSERT_TRUE(registry.Load("FIRST-MIB", &error)) << error.Text();
  size_t modules = registry.Modules().size();

  ASSERT_FALSE(registry.Load("BROKEN-MIB", &error));
  EXPECT_EQ(error.Text(), folder.Path() + "/BROKEN-MIB:3:31: unresolved OID parent missing");
  EXPECT_EQ(registry.Modules().size(), modules);
  EXPECT_EQ(registry.FindModule("HELPER-MIB"), nullptr);
  EXPECT_EQ(registry.FindName("helper"), nullptr);
  EXPECT_EQ(registry.FindName("broken"), nullptr);
  ASSERT_NE(registry.FindName("first"), nullptr);

  ASSERT_TRUE(registry.Load("HELPER-MIB", &error)) << error.Text();
  EXPECT_NE(registry.FindName("helper"), nullptr);
}

TEST(ReaderErrors, MissingModuleNamesEveryFileTried) {
  Registry registry({"/no/a", "/no/b/"});
  LoadError error;
  ASSERT_FALSE(registry.Load("GONE-MIB", &error));
  EXPECT_EQ(error.line, 0);
  EXPECT_EQ(
      error.Text(),
      "module GONE-MIB not found (tried /no/a/GONE-MIB, /no/a/GONE-MIB.txt, /no/a/GONE-MIB.mib, "
      "/no/a/GONE-MIB.my, /no/b/GONE-MIB, /no/b/GONE-MIB.txt, /no/b/GONE-MIB.mib, "
      "/no/b/GONE-MIB.my)");
  ASSERT_FALSE(registry.Load("../etc/passwd", &error));
  EXPECT_EQ(error.Text(), "bad module name ../etc/passwd");
}

TEST(ReaderErrors, ImportCyclesAreReportedNotFollowed) {
  MibTestFolder folder;
  folder.Write("PING-MIB", "PING-MIB DEFINITIONS ::= BEGIN IMPORTS pong FROM PONG-MIB; END");
  folder.Write("PONG-MIB", "PONG-MIB DEFINITIONS ::= BEGIN IMPORTS ping FROM PING-MIB; END");
  folder.Write("SELF-MIB", "SELF-MIB DEFINITIONS ::= BEGIN IMPORTS me FROM SELF-MIB; END");
  Registry registry({folder.Path()});
  LoadError error;
  ASSERT_FALSE(registry.Load("PING-MIB", &error));
  EXPECT_EQ(error.Text(),
            folder.Path() + "/PONG-MIB:1:50: import cycle: PING-MIB -> PONG-MIB -> PING-MIB");
  ASSERT_FALSE(registry.Load("SELF-MIB", &error));
  EXPECT_EQ(error.cause, "import cycle: SELF-MIB -> SELF-MIB");
  EXPECT_EQ(registry.FindModule("PONG-MIB"), nullptr);
}

// Every cut of a real module either loads or fails cleanly.
TEST(ReaderErrors, TruncatedModulesFailCleanly) {
  std::ifstream in(std::string(ORVU_TEST_MIB_DIR) + "/VORNEL-VNBEEP-MIB", std::ios::binary);
  std::stringstream whole;
  whole << in.rdbuf();
  std::string text = whole.str();
  ASSERT_GT(text.size(), 1000u);
  MibTestFolder folder;
  for (size_t cut = 0; cut < text.size(); cut += 13) {
    // A cut of the last line end alone leaves the whole module.
    if (text.find_first_not_of(" \r\n", cut) == std::string::npos) continue;
    folder.Write("VORNEL-VNBEEP-MIB", text.substr(0, cut));
    Registry registry({folder.Path()});
    LoadError error;
    EXPECT_FALSE(registry.Load("VORNEL-VNBEEP-MIB", &error)) << cut;
    EXPECT_FALSE(error.cause.empty());
  }
}

}  // namespace
}  // namespace orvu::mib
