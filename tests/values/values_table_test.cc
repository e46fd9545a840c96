// Renders the printer's output for every syntax as the table of docs/values.md and checks that
// the committed page matches. Regenerate the page with
//   OASET_WRITE_DOCS=1 <build>/bin/values_tests --gtest_filter='ValuesTable.*'
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fake_libraries.h"
#include "values/parse_value.h"
#include "values/print_var_bind.h"
#include "values/syntax_table.h"

namespace {

struct Example {
  SnmpSyntax syntax;
  std::string record;  // how the value record is filled, for the reader
  uint32_t number;
  std::vector<unsigned char> bytes;
  std::vector<uint32_t> ids;
  uintptr_t second = 0;
};

std::vector<Example> Examples() {
  using B = std::vector<unsigned char>;
  using I = std::vector<uint32_t>;
  return {
      {SYNTAX_INTEGER, "number 2", 2, {}, {}},
      {SYNTAX_INTEGER, "number 0xFFFFFFFF", 0xFFFFFFFFu, {}, {}},
      {SYNTAX_OCTETS,
       "bytes `Some octets`",
       0,
       B{'S', 'o', 'm', 'e', ' ', 'o', 'c', 't', 'e', 't', 's'},
       {}},
      {SYNTAX_OCTETS, "bytes `abc` 00", 0, B{'a', 'b', 'c', 0}, {}},
      {SYNTAX_OCTETS, "bytes 61 00 62", 0, B{'a', 0, 'b'}, {}},
      {SYNTAX_OCTETS, "no bytes", 0, B{}, {}},
      {SYNTAX_NULL, "-", 0, {}, {}},
      {SYNTAX_OID, "ids 1.3.6.1.4.1.32473.1.0", 0, {}, I{1, 3, 6, 1, 4, 1, 32473, 1, 0}},
      {SYNTAX_OID, "ids 2.5.4 (no known prefix)", 0, {}, I{2, 5, 4}},
      {SYNTAX_OID, "ids 0.0", 0, {}, I{0, 0}},
      {SYNTAX_IPADDR, "bytes 10 0 0 1", 0, B{10, 0, 0, 1}, {}},
      {SYNTAX_CNTR32, "number 4294967295", 0xFFFFFFFFu, {}, {}},
      {SYNTAX_GAUGE32, "number 80", 80, {}, {}},
      {SYNTAX_TIMETICKS, "number 8640000", 8640000, {}, {}},
      {SYNTAX_TIMETICKS, "number 4294967295", 0xFFFFFFFFu, {}, {}},
      {SYNTAX_OPAQUE, "bytes 01 ab", 0, B{1, 0xab}, {}},
      {SYNTAX_OPAQUE, "no bytes", 0, B{}, {}},
      {SYNTAX_NSAPADDR, "bytes 47 00 05", 0, B{0x47, 0, 5}, {}},
      {SYNTAX_CNTR64, "number 1, data 0xAB", 1, {}, {}, 0xAB},
      {SYNTAX_NOSUCHOBJECT, "-", 0, {}, {}},
      {SYNTAX_NOSUCHINSTANCE, "-", 0, {}, {}},
      {SYNTAX_ENDOFMIBVIEW, "-", 0, {}, {}},
      {3, "-", 0, {}, {}},
  };
}

std::string PrintedLine(Example& example, uint8_t flags) {
  SnmpValue value{example.syntax, example.number, example.second};
  if (!example.bytes.empty() || example.syntax == SYNTAX_OCTETS) {
    value.number = static_cast<uint32_t>(example.bytes.size());
    value.data = reinterpret_cast<uintptr_t>(example.bytes.data());
  }
  if (!example.ids.empty()) {
    value.number = static_cast<uint32_t>(example.ids.size());
    value.data = reinterpret_cast<uintptr_t>(example.ids.data());
  }
  uint32_t oidIds[] = {1, 3, 6, 1, 4, 1, 32473, 1, 0};
  testing::internal::CaptureStdout();
  int result = PrintVarBind(SnmpOid{9, oidIds}, value, flags);
  std::string text = testing::internal::GetCapturedStdout();
  if (result == 0) return "(result 0, nothing written)";
  return text.empty() ? "(empty line)" : "`" + text + "`";
}

struct TypeLetterExamples {
  char letter;
  std::string takes;
  std::vector<std::string> texts;
};

std::vector<TypeLetterExamples> TypeLetters() {
  return {
      {'o', "any text, byte for byte; an empty text is a zero-length string", {"Some octets", ""}},
      {'b', "the same as `o`: bits are written as octets", {"abc"}},
      {'i',
       "a decimal integer: white space, an optional sign, digits, taken modulo 2^32 (so "
       "4294967295 is -1); text without digits is not refused but reads as 0",
       {"2", "-1", "4294967296", "12abc", "abc"}},
      {'u', "the same as `i`: the value is an INTEGER too", {"4294967295"}},
      {'g',
       "a decimal number as for `i`, but a magnitude beyond 32 bits counts as 4294967295",
       {"80", "99999999999", "abc"}},
      {'c', "the same as `g`", {"42"}},
      {'t', "hundredths of a second, read as for `g`", {"8640000"}},
      {'d',
       "an OID as dotted decimal numbers (at most 1408 of them), not a name",
       {"1.3.6.1.4.1.32473", "1.3.", "1..3", "speakerControl"}},
      {'a',
       "exactly four dotted decimal numbers, each taken modulo 256",
       {"192.0.2.1", "192.0.2", "1.2.3.4.5"}},
      {'q',
       "the same as `a`: exactly four dotted decimal numbers, which become four bytes (the listing "
       "writes them back in hex)",
       {"1.2.3.4", "01ab", "01.ab"}},
      {'p',
       "two-digit hexadecimal bytes joined by `.`, as the listing prints them",
       {"47.00.05", "", "47.0.5", "470005"}},
      {'n', "nothing: any text after the letter is ignored", {"", "anything"}},
  };
}

// What the value-setting trace would send for -mLETTERTEXT: the tag and value as the listing
// prints them, or that the text is refused.
std::string ParsedText(char letter, const std::string& text) {
  SnmpValue value{SyntaxOfTypeLetter(letter), 0, 0};
  if (ParseValueText(&value, text.c_str()) == 0) return "refused";
  uint32_t oidIds[] = {1, 3, 6, 1, 4, 1, 32473, 1, 0};
  testing::internal::CaptureStdout();
  PrintVarBind(SnmpOid{9, oidIds}, value, 0x14);
  std::string printed = testing::internal::GetCapturedStdout();
  if (SyntaxHoldsStorage(value.syntax)) std::free(reinterpret_cast<void*>(value.data));
  return "`" + printed + "`";
}

std::string RenderPage() {
  FakeLibraries& mib = InstallFakeLibraries();
  mib.namesByOid[{1, 3, 6, 1, 4, 1}] = "enterprises";
  mib.namesByOid[{1, 3, 6, 1, 4, 1, 32473, 1}] = "exampleCount";

  std::ostringstream page;
  page
      << "# How values print\n\n"
         "Generated by `tests/values/values_table_test.cc`; do not edit by hand. To regenerate:\n\n"
         "    OASET_WRITE_DOCS=1 build/<folder>/bin/values_tests --gtest_filter='ValuesTable.*'\n\n"
         "Each line is what `PrintVarBind` writes for the OID 1.3.6.1.4.1.32473.1.0 with the "
         "flags\n"
         "0x1d (numeric OID, marker, syntax tag, value), the way the table listing shows a leaf.\n"
         "The MIB behind the examples knows two objects: enterprises (1.3.6.1.4.1) and\n"
         "exampleCount (1.3.6.1.4.1.32473.1); OID values print in symbolic form through it.\n\n"
         "| Code | Tag | Value record | Printed line |\n"
         "|---|---|---|---|\n";
  for (Example& example : Examples()) {
    const char* tag = SyntaxTag(example.syntax);
    page << "| " << example.syntax << " | " << (tag ? tag : "(none)") << " | " << example.record
         << " | " << PrintedLine(example, 0x1d) << " |\n";
  }
  Example integer{SYNTAX_INTEGER, "", 2, {}, {}};
  page << "\nThe same OID and INTEGER 2 under other flags:\n\n"
          "| Flags | Printed line |\n"
          "|---|---|\n";
  for (uint8_t flags : {0x00, 0x01, 0x02, 0x03, 0x14, 0x1e}) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02x", flags);
    page << "| " << hex << " | " << PrintedLine(integer, flags) << " |\n";
  }
  page << "\n## What each -m type letter takes\n\n"
          "The letter comes straight after `-m`, the text straight after the letter:\n"
          "`-mi2`, `-mo\"Some octets\"`. A refused text prints\n"
          "`FAILED (While converting value to internal form)` in the set trace and that value is\n"
          "not written. Accepted texts show the value as it is then sent and printed.\n\n"
          "| Letter | Takes | Text | Becomes |\n"
          "|---|---|---|---|\n";
  for (const TypeLetterExamples& row : TypeLetters()) {
    for (size_t i = 0; i < row.texts.size(); ++i) {
      page << "| " << (i == 0 ? std::string("`") + row.letter + "`" : "") << " | "
           << (i == 0 ? row.takes : "") << " | "
           << (row.texts[i].empty() ? "(empty)" : "`" + row.texts[i] + "`") << " | "
           << ParsedText(row.letter, row.texts[i]) << " |\n";
    }
  }
  return page.str();
}

TEST(ValuesTable, DocsPageIsCurrent) {
  std::string path = std::string(OASET_SOURCE_DIR) + "/docs/values.md";
  std::string page = RenderPage();
  if (std::getenv("OASET_WRITE_DOCS") != nullptr) {
    std::ofstream(path, std::ios::binary) << page;
  }
  std::ifstream committed(path, std::ios::binary);
  std::stringstream text;
  text << committed.rdbuf();
  EXPECT_EQ(text.str(), page) << "regenerate " << path << " with OASET_WRITE_DOCS=1";
}

}  // namespace
