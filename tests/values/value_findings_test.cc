#include "values/value_findings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "values/parse_value.h"
#include "values/value_block.h"

namespace {

struct Case {
  SnmpSyntax syntax;
  std::string text;
  bool refused;
  std::string note;
};

// What the user is told must agree with what the conversion does: a refusal exactly where
// ParseValueText fails, and no word where it takes the text whole.
TEST(ExamineValueText, NamesWhatTheConversionDropsWrapsOrRefuses) {
  const std::vector<Case> cases = {
      {SYNTAX_INTEGER, "80", false, ""},
      {SYNTAX_INTEGER, " -5", false, ""},
      {SYNTAX_INTEGER, "4294967295", false, ""},
      {SYNTAX_INTEGER, "12abc", false, "\"12abc\" is read as 12 (\"abc\" is ignored)"},
      {SYNTAX_INTEGER, "abc", false, "\"abc\" is read as 0 (there is no number in it)"},
      {SYNTAX_INTEGER, "", false, ""},
      {SYNTAX_INTEGER, "4294967296", false,
       "\"4294967296\" is read as 0 (the number is beyond 32 bits and wraps)"},
      {SYNTAX_INTEGER, "8589934591", false,
       "\"8589934591\" is read as -1 (the number is beyond 32 bits and wraps)"},
      {SYNTAX_GAUGE32, "4294967295", false, ""},
      {SYNTAX_GAUGE32, "4294967296", false,
       "\"4294967296\" is read as 4294967295 (the number is beyond 32 bits and holds at "
       "4294967295)"},
      {SYNTAX_CNTR32, "-1", false,
       "\"-1\" is read as 4294967295 (this type has no sign, so the negative number wraps)"},
      {SYNTAX_TIMETICKS, "-0", false, ""},
      {SYNTAX_TIMETICKS, "100 s", false, "\"100 s\" is read as 100 (\" s\" is ignored)"},
      {SYNTAX_OCTETS, "", false, ""},
      {SYNTAX_OCTETS, "12abc", false, ""},
      {SYNTAX_NULL, "", false, ""},
      {SYNTAX_NULL, "x", false, "\"x\" is read as NULL (NULL takes no text)"},
      {SYNTAX_IPADDR, "192.0.2.1", false, ""},
      {SYNTAX_IPADDR, "192.0.2.1.", false, ""},
      {SYNTAX_IPADDR, "300.1.2.3", false,
       "\"300.1.2.3\" is read as 44.1.2.3 (\"300\" is beyond 255 and wraps to 44)"},
      {SYNTAX_IPADDR, "-1.1x.2.3", false,
       "\"-1.1x.2.3\" is read as 255.1.2.3 (\"-1\" is beyond 255 and wraps to 255; \"x\" is "
       "ignored)"},
      {SYNTAX_IPADDR, "192.0.2", true,
       "\"192.0.2\" is refused: it holds 3 numbers; an IpAddress takes four dotted numbers from 0 "
       "to 255, as 192.0.2.1"},
      {SYNTAX_IPADDR, "1.2.3.4.5", true,
       "\"1.2.3.4.5\" is refused: it holds more than 4 numbers; an IpAddress takes four dotted "
       "numbers from 0 to 255, as 192.0.2.1"},
      {SYNTAX_OPAQUE, "1.2.3.256", false,
       "\"1.2.3.256\" is read as 01.02.03.00 (hex) (\"256\" is beyond 255 and wraps to 0)"},
      {SYNTAX_OID, "1.3.6.1", false, ""},
      {SYNTAX_OID, "1.3x.6", false, "\"1.3x.6\" is read as 1.3.6 (\"x\" is ignored)"},
      {SYNTAX_OID, "1.-1", false,
       "\"1.-1\" is read as 1.4294967295 (\"-1\" is negative and wraps)"},
      {SYNTAX_OID, "1..3", true,
       "\"1..3\" is refused: a number is missing after \"1.\"; an OBJECT IDENTIFIER takes dotted "
       "numbers, as 1.3.6.1 (not a name)"},
      {SYNTAX_OID, "speakerControl", true,
       "\"speakerControl\" is refused: it does not start with a number; an OBJECT IDENTIFIER "
       "takes dotted numbers, as 1.3.6.1 (not a name)"},
      {SYNTAX_NSAPADDR, "47.00.05", false, ""},
      {SYNTAX_NSAPADDR, "47.0", true,
       "\"47.0\" is refused: an NsapAddress takes two-digit hex bytes joined by dots, as "
       "47.00.05"},
  };
  for (const Case& c : cases) {
    ValueTextNote note = ExamineValueText(c.syntax, c.text.c_str());
    EXPECT_EQ(note.refused, c.refused) << c.syntax << " " << c.text;
    EXPECT_EQ(note.text, c.note) << c.syntax << " " << c.text;
    SnmpValue value{c.syntax, 0, 0};
    int converted = ParseValueText(&value, c.text.c_str());
    EXPECT_EQ(converted == 0, c.refused) << c.syntax << " " << c.text;
    if (converted != 0 && value.data != 0) ReleaseValueBlock(reinterpret_cast<void*>(value.data));
  }
}

}  // namespace
