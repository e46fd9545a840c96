// The reader on realistic modules: imports between modules, textual conventions, enumerations,
// defaults of every base syntax, AUGMENTS, SMIv1 forms, comments and quotes where they are legal.
#include <gtest/gtest.h>
#include <stdlib.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include "../../test_environment.h"
#include "mib_test_folder.h"
#include "mibreader/mib_registry.h"
#include "mibreader/mib_search_path.h"

namespace orvu::mib {
namespace {

const char* const TYPES_MODULE = R"(ACME-TC DEFINITIONS ::= BEGIN
IMPORTS
    MODULE-IDENTITY, OBJECT-IDENTITY, enterprises FROM SNMPv2-SMI
    TEXTUAL-CONVENTION FROM SNMPv2-TC;

acmeTc MODULE-IDENTITY
    LAST-UPDATED "202601010000Z"
    ORGANIZATION "Acme -- not a comment"
    CONTACT-INFO "ops"
    DESCRIPTION  "Types; the text holds ::= and { braces } and END."
    ::= { enterprises 32473 7 }

AcmeLevel ::= TEXTUAL-CONVENTION
    DISPLAY-HINT "d"
    STATUS       current
    DESCRIPTION  "Severity."
    SYNTAX       INTEGER { low(1), mid(2), high(3) }

AcmeLabel ::= TEXTUAL-CONVENTION
    STATUS       current
    DESCRIPTION  "Short text."
    SYNTAX       OCTET STRING (SIZE (0..16))

AcmeFlags ::= TEXTUAL-CONVENTION
    STATUS       current
    DESCRIPTION  "Flags."
    SYNTAX       BITS { red(0), green(1), blue(9) }

AcmeAlias ::= AcmeLabel

acmeProducts OBJECT-IDENTITY
    STATUS      current
    DESCRIPTION "Product registrations."
    ::= { acmeTc 9 }
END
)";

const char* const OBJECTS_MODULE = R"(-- leading comment
ACME-MIB DEFINITIONS ::= BEGIN
IMPORTS
    OBJECT-TYPE, Integer32, Counter64, IpAddress, Unsigned32 -- a comment -- , Gauge32
        FROM SNMPv2-SMI
    RowStatus, TruthValue, DisplayString FROM SNMPv2-TC
    AcmeLevel, AcmeAlias, AcmeFlags, acmeTc, acmeProducts FROM ACME-TC
    AGENT-CAPABILITIES FROM SNMPv2-CONF;

acme OBJECT IDENTIFIER ::= { acmeTc 1 }
acmeNumeric OBJECT IDENTIFIER ::= { 1 3 6 1 4 1 32473 7 2 }
acmeNamed OBJECT IDENTIFIER ::= { iso org(3) dod(6) 1 4 1 32473 7 3 }

acmeLevel OBJECT-TYPE
    SYNTAX AcmeLevel
    MAX-ACCESS read-write
    STATUS current
    DESCRIPTION "level" DEFVAL { high } ::= { acme 1 }

acmeTable OBJECT-TYPE
    SYNTAX SEQUENCE OF AcmeEntry
    MAX-ACCESS not-accessible
    STATUS current
    DESCRIPTION "t"
    ::= { acme 2 }

acmeEntry OBJECT-TYPE
    SYNTAX AcmeEntry
    MAX-ACCESS not-accessible
    STATUS current
    DESCRIPTION "e"
    INDEX { acmeIndex, IMPLIED acmeName }
    ::= { acmeTable 1 }

AcmeEntry ::= SEQUENCE { acmeIndex Integer32, acmeName AcmeAlias, acmeFlags AcmeFlags,
    acmeAddr IpAddress, acmeRoute OBJECT IDENTIFIER, acmeBig Counter64, acmeSigned Integer32,
    acmeOn TruthValue, acmeRaw OCTET STRING, acmeStatus RowStatus }

acmeIndex OBJECT-TYPE SYNTAX Integer32 (1..100) MAX-ACCESS not-accessible STATUS current
    DESCRIPTION "i" ::= { acmeEntry 1 }
acmeName OBJECT-TYPE SYNTAX AcmeAlias MAX-ACCESS read-create STATUS current
    DESCRIPTION "n" DEFVAL { "a ""b" } ::= { acmeEntry 2 }
acmeFlags OBJECT-TYPE SYNTAX AcmeFlags MAX-ACCESS read-create STATUS current
    DESCRIPTION "f" DEFVAL { { green, blue } } ::= { acmeEntry 3 }
acmeAddr OBJECT-TYPE SYNTAX IpAddress MAX-ACCESS read-create STATUS current
    DESCRIPTION "a" DEFVAL { 'C0A80001'H } ::= { acmeEntry 4 }
acmeRoute OBJECT-TYPE SYNTAX OBJECT IDENTIFIER MAX-ACCESS read-create STATUS current
    DESCRIPTION "r" DEFVAL { { acme 7 } } ::= { acmeEntry 5 }
acmeBig OBJECT-TYPE SYNTAX Counter64 MAX-ACCESS read-only STATUS current
    DESCRIPTION "b" DEFVAL { 18446744073 } ::= { acmeEntry 6 }
acmeSigned OBJECT-TYPE SYNTAX Integer32 (-5..-1 | 1..5|MAX) MAX-ACCESS read-create STATUS current
    DESCRIPTION "s" DEFVAL { -5 } ::= { acmeEntry 7 }
acmeOn OBJECT-TYPE SYNTAX TruthValue MAX-ACCESS read-create STATUS current
    DESCRIPTION "o" DEFVAL { false } ::= { acmeEntry 8 }
acmeRaw OBJECT-TYPE SYNTAX OCTET STRING MAX-ACCESS read-create STATUS current
    DESCRIPTION "w" DEFVAL { '1010000111'B } ::= { acmeEntry 9 }
acmeStatus OBJECT-TYPE SYNTAX RowStatus MAX-ACCESS read-create STATUS current
    DESCRIPTION "st" ::= { acmeEntry 10 }

acmeExtraEntry OBJECT-TYPE
    SYNTAX AcmeExtraEntry
    MAX-ACCESS not-accessible
    STATUS current
    DESCRIPTION "more columns for the same rows"
    AUGMENTS { acmeEntry }
    ::= { acme 3 1 }
AcmeExtraEntry ::= SEQUENCE { acmeNote DisplayString }
acmeNote OBJECT-TYPE SYNTAX DisplayString MAX-ACCESS read-write STATUS current
    DESCRIPTION "x" DEFVAL { ''H } ::= { acmeExtraEntry 1 }

acmeCapabilities AGENT-CAPABILITIES
    PRODUCT-RELEASE "Acme agent 1.0"
    STATUS          current
    DESCRIPTION     "What the Acme agent implements."
    SUPPORTS        ACME-MIB
    INCLUDES        { acmeGroup }
    VARIATION       acmeLevel
        SYNTAX      INTEGER { low(1), mid(2) }
        DEFVAL      { mid }
        DESCRIPTION "No high level."
    ::= { acmeProducts 1 }
END
)";

class ReaderModules : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.Write("ACME-TC.txt", std::string("\xEF\xBB\xBF") + TYPES_MODULE);
    folder_.Write("ACME-MIB.my", OBJECTS_MODULE);
  }
  MibTestFolder folder_;
};

TEST_F(ReaderModules, ResolvesImportsTypesAndDefaults) {
  Registry registry({"/nonexistent", folder_.Path()});
  LoadError error;
  ASSERT_TRUE(registry.Load("ACME-MIB", &error)) << error.Text();
  ASSERT_NE(registry.FindModule("ACME-TC"), nullptr);
  EXPECT_EQ(registry.FindModule("ACME-MIB")->imports,
            (std::vector<std::string>{"SNMPv2-SMI", "SNMPv2-TC", "ACME-TC", "SNMPv2-CONF"}));

  auto find = [&](const char* name) {
    const Object* object = registry.FindName(name);
    EXPECT_NE(object, nullptr) << name;
    return object;
  };
  EXPECT_EQ(find("acmeNumeric")->oid, (std::vector<uint32_t>{1, 3, 6, 1, 4, 1, 32473, 7, 2}));
  EXPECT_EQ(find("acmeNamed")->oid, (std::vector<uint32_t>{1, 3, 6, 1, 4, 1, 32473, 7, 3}));

  const Object* level = find("acmeLevel");
  EXPECT_EQ(level->kind, ObjectKind::Scalar);
  EXPECT_EQ(level->syntax, 2u);
  EXPECT_EQ(level->typeName, "AcmeLevel");
  EXPECT_EQ(level->enumeration.at("mid"), 2);
  EXPECT_EQ(level->defaultValue->number, 3);

  EXPECT_EQ(find("acmeTable")->kind, ObjectKind::Table);
  const Object* entry = find("acmeEntry");
  EXPECT_EQ(entry->kind, ObjectKind::Entry);
  EXPECT_EQ(entry->indexNames, (std::vector<std::string>{"acmeIndex", "acmeName"}));
  EXPECT_TRUE(entry->indexImplied);
  EXPECT_EQ(registry.Columns(*entry).size(), 10u);

  EXPECT_EQ(find("acmeName")->syntax, 4u);
  EXPECT_EQ(find("acmeName")->defaultValue->bytes, "a \"b");
  EXPECT_EQ(find("acmeFlags")->defaultValue->bytes, std::string("\x40\x40", 2));
  EXPECT_EQ(find("acmeAddr")->syntax, 64u);
  EXPECT_EQ(find("acmeAddr")->defaultValue->bytes, std::string("\xC0\xA8\x00\x01", 4));
  EXPECT_EQ(find("acmeRoute")->defaultValue->oid,
            (std::vector<uint32_t>{1, 3, 6, 1, 4, 1, 32473, 7, 1, 7}));
  EXPECT_EQ(find("acmeBig")->syntax, 70u);
  EXPECT_EQ(find("acmeBig")->defaultValue->number, 18446744073);
  EXPECT_EQ(find("acmeSigned")->defaultValue->number, -5);
  EXPECT_EQ(find("acmeSigned")->ranges,
            (std::vector<Range>{{-5, -1}, {1, 5}, {INT64_MAX, INT64_MAX}}));
  EXPECT_EQ(find("acmeName")->sizes, (std::vector<Range>{{0, 16}}));
  EXPECT_EQ(find("acmeOn")->defaultValue->number, 2);
  EXPECT_EQ(find("acmeRaw")->defaultValue->bytes, std::string("\xA1\xC0", 2));
  EXPECT_EQ(find("acmeStatus")->enumeration.at("createAndWait"), 5);
  EXPECT_FALSE(find("acmeStatus")->defaultValue);

  const Object* extra = find("acmeExtraEntry");
  EXPECT_EQ(extra->kind, ObjectKind::Entry);
  EXPECT_EQ(extra->indexNames, entry->indexNames);
  EXPECT_TRUE(extra->indexImplied);
  EXPECT_EQ(extra->augments, "acmeEntry");
  EXPECT_EQ(entry->augments, "");
  EXPECT_EQ(find("acmeNote")->kind, ObjectKind::Column);
  EXPECT_EQ(find("acmeNote")->defaultValue->bytes, "");
  EXPECT_EQ(find("acmeNote")->sizes, (std::vector<Range>{{0, 255}}));

  EXPECT_EQ(find("acmeProducts")->kind, ObjectKind::Node);
  EXPECT_EQ(find("acmeCapabilities")->kind, ObjectKind::Compliance);
  EXPECT_EQ(find("acmeCapabilities")->oid,
            (std::vector<uint32_t>{1, 3, 6, 1, 4, 1, 32473, 7, 9, 1}));

  std::vector<uint32_t> oid = find("acmeLevel")->oid;
  EXPECT_EQ(registry.FindOid(oid.data(), oid.size()), level);
  oid.push_back(0);
  EXPECT_EQ(registry.FindOid(oid.data(), oid.size()), nullptr);
  EXPECT_EQ(registry.FindName("Gauge32"), nullptr);
}

TEST(ReaderSmiV1, ReadsRfc1212ObjectsAndTraps) {
  MibTestFolder folder;
  folder.Write("OLD-MIB", R"(OLD-MIB DEFINITIONS ::= BEGIN
IMPORTS enterprises, Counter, IpAddress FROM RFC1155-SMI
        OBJECT-TYPE FROM RFC-1212
        TRAP-TYPE FROM RFC-1215
        DisplayString, mib-2 FROM RFC1213-MIB;
old OBJECT IDENTIFIER ::= { enterprises 32473 5 }
oldName OBJECT-TYPE SYNTAX DisplayString ACCESS read-only STATUS mandatory ::= { old 1 }
oldHits OBJECT-TYPE SYNTAX Counter ACCESS read-only STATUS mandatory DESCRIPTION "h" ::= { old 2 }
oldPeer OBJECT-TYPE SYNTAX IpAddress ACCESS read-write STATUS mandatory ::= { old 3 }
oldReset TRAP-TYPE ENTERPRISE old VARIABLES { oldHits } DESCRIPTION "r" ::= 4
END)");
  Registry registry({folder.Path()});
  LoadError error;
  ASSERT_TRUE(registry.Load("OLD-MIB", &error)) << error.Text();
  EXPECT_EQ(registry.FindName("oldHits")->syntax, 65u);
  EXPECT_EQ(registry.FindName("oldPeer")->access, Access::ReadWrite);
  EXPECT_EQ(registry.FindName("oldReset")->kind, ObjectKind::Notification);
  EXPECT_EQ(registry.FindName("oldReset")->oid,
            (std::vector<uint32_t>{1, 3, 6, 1, 4, 1, 32473, 5, 0, 4}));
  EXPECT_EQ(registry.FindModule("RFC1213-MIB")->fileName, "");
}

void SetMibPath(const std::string& value) { SetTestVariable("ORVU_MIB_PATH", value); }

TEST(ReaderSearchPath, SplitsTheVariableAndFallsBackToTheInstalledFolder) {
  const char* saved = getenv("ORVU_MIB_PATH");
  std::string kept = saved ? saved : "";
#ifdef _WIN32
  // Drive letters hold colons, so Windows separates the folders as PATH does.
  SetMibPath(";C:\\a;;C:/b/;");
  EXPECT_EQ(DefaultSearchPath(), (std::vector<std::string>{"C:\\a", "C:/b/"}));
  SetMibPath(";;");
#else
  SetMibPath(":/a::/b/:");
  EXPECT_EQ(DefaultSearchPath(), (std::vector<std::string>{"/a", "/b/"}));
  SetMibPath("::");
#endif
#ifdef _WIN32
  // The reader is linked into this program: its folder, never the build machine's source tree.
  char own[MAX_PATH + 1] = {};
  std::string program(own, GetModuleFileNameA(nullptr, own, MAX_PATH));
  const std::string fallback = program.substr(0, program.find_last_of("\\/") + 1) + "mibs";
#else
  const std::string fallback = ORVU_TEST_DEFAULT_MIB_DIR;
#endif
  EXPECT_EQ(DefaultSearchPath(), std::vector<std::string>{fallback});
  SetMibPath("");
  EXPECT_EQ(DefaultSearchPath(), std::vector<std::string>{fallback});
  SetMibPath(kept);
}

}  // namespace
}  // namespace orvu::mib
