// Values in their plain form, and texts typed by an object's syntax, as table rows.
#include "orvuctl/plain_value.h"

#include <gtest/gtest.h>

namespace {

PlainValue Number(SnmpSyntax syntax, uint64_t number) {
  PlainValue value;
  value.syntax = syntax;
  value.number = number;
  return value;
}

PlainValue Bytes(SnmpSyntax syntax, const std::string& bytes) {
  PlainValue value;
  value.syntax = syntax;
  value.bytes = bytes;
  return value;
}

PlainValue Ids(std::vector<uint32_t> ids) {
  PlainValue value;
  value.syntax = SYNTAX_OID;
  value.ids = std::move(ids);
  return value;
}

struct PlainRow {
  PlainValue value;
  const char* json;
  const char* text;
};

TEST(PlainValue, JsonAndTextOfEverySyntax) {
  const PlainRow rows[] = {
      {Number(SYNTAX_INTEGER, 0xFFFFFFFFu), "-1", "-1"},
      {Number(SYNTAX_INTEGER, 40), "40", "40"},
      {Number(SYNTAX_GAUGE32, 4294967295u), "4294967295", "4294967295"},
      {Number(SYNTAX_TIMETICKS, 25), "25", "25"},
      {Number(SYNTAX_CNTR64, 18446744073709551615u), "18446744073709551615",
       "18446744073709551615"},
      {Bytes(SYNTAX_OCTETS, "low beep"), "\"low beep\"", "\"low beep\""},
      {Bytes(SYNTAX_OCTETS, ""), "\"\"", "\"\""},
      {Bytes(SYNTAX_OCTETS, "tab\tand \"quote\""), "\"tab\\tand \\\"quote\\\"\"",
       "\"tab\\tand \\\"quote\\\"\""},
      {Bytes(SYNTAX_OCTETS, "gr\xc3\xbc\xc3\x9f"), "\"gr\xc3\xbc\xc3\x9f\"",
       "\"gr\xc3\xbc\xc3\x9f\""},
      // The text that looks like hex stays text; bytes that are no text are hex.
      {Bytes(SYNTAX_OCTETS, "be.ef (hex)"), "\"be.ef (hex)\"", "\"be.ef (hex)\""},
      {Bytes(SYNTAX_OCTETS, "\xbe\xef"), "{\"hex\":\"beef\"}", "0xbeef"},
      {Bytes(SYNTAX_OCTETS, std::string("abc\0", 4)), "{\"hex\":\"61626300\"}", "0x61626300"},
      {Bytes(SYNTAX_OCTETS, "\xc0\xaf"), "{\"hex\":\"c0af\"}", "0xc0af"},          // overlong
      {Bytes(SYNTAX_OCTETS, "\xed\xa0\x80"), "{\"hex\":\"eda080\"}", "0xeda080"},  // surrogate
      {Bytes(SYNTAX_OCTETS, "\xc2\x85"), "{\"hex\":\"c285\"}", "0xc285"},          // C1 control
      {Bytes(SYNTAX_OCTETS, "\x7f"), "{\"hex\":\"7f\"}", "0x7f"},
      {Bytes(SYNTAX_IPADDR, std::string("\xc0\x00\x02\x01", 4)), "\"192.0.2.1\"", "192.0.2.1"},
      {Bytes(SYNTAX_OPAQUE, "\x01\x02"), "{\"hex\":\"0102\"}", "0x0102"},
      {Ids({1, 3, 6, 1}), "\"1.3.6.1\"", "1.3.6.1"},
      {Number(SYNTAX_NULL, 0), "null", "null"},
  };
  for (const PlainRow& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(PlainJson(row.value).dump(), row.json);
    EXPECT_EQ(PlainText(row.value), row.text);
    // What the libraries take and hand back is the same value.
    PlainValue back;
    ASSERT_TRUE(TakePlainValue(AsSnmpValue(row.value), &back));
    EXPECT_EQ(back, row.value);
  }
}

ValueShape Shape(SnmpSyntax syntax) {
  ValueShape shape;
  shape.syntax = syntax;
  return shape;
}

struct TypingRow {
  ValueShape shape;
  const char* text;
  const char* typed;  // the text form of the value, or nullptr when refused
  const char* reason;
};

TEST(PlainValue, TextsTypedByTheObject) {
  ValueShape volume = Shape(SYNTAX_INTEGER);
  volume.ranges = {{0, 100}};
  ValueShape mode = Shape(SYNTAX_INTEGER);
  mode.labels = {{"once", 1}, {"repeat", 2}, {"disabled", 3}};
  ValueShape descr = Shape(SYNTAX_OCTETS);
  descr.sizes = {{0, 4}};
  ValueShape pattern = Shape(SYNTAX_OCTETS);
  pattern.labels = {{"short", 0}, {"long", 1}, {"rising", 9}};
  ValueShape level = Shape(SYNTAX_GAUGE32);
  level.ranges = {{0, 100}};
  const TypingRow rows[] = {
      {volume, "40", "40", ""},
      {volume, "+7", "7", ""},
      {volume, "150", nullptr, "takes 0..100"},
      {volume, "12abc", nullptr, "takes a whole number from -2147483648 to 2147483647"},
      {volume, "", nullptr, "takes a whole number from -2147483648 to 2147483647"},
      {Shape(SYNTAX_INTEGER), "-2147483648", "-2147483648", ""},
      {Shape(SYNTAX_INTEGER), "2147483648", nullptr,
       "takes a whole number from -2147483648 to 2147483647"},
      {mode, "repeat", "2", ""},
      {mode, "3", "3", ""},
      {mode, "4", nullptr, "takes one of once(1), repeat(2), disabled(3)"},
      {mode, "loud", nullptr, "takes one of once(1), repeat(2), disabled(3)"},
      {descr, "abcd", "\"abcd\"", ""},
      {descr, "abcde", nullptr, "takes 0..4 bytes, not 5"},
      {descr, "0x00ff", "0x00ff", ""},
      {descr, "0x0", "\"0x0\"", ""},  // no whole bytes: taken as the text it is
      {pattern, "short, rising", "0x8040", ""},
      {pattern, "long|short", "0xc0", ""},
      {pattern, "", "\"\"", ""},
      {pattern, "fast", nullptr,
       "no bit of that name; it takes short(0), long(1), rising(9), or 0x and hex digits"},
      {level, "4294967295", nullptr, "takes 0..100"},
      {Shape(SYNTAX_CNTR32), "4294967296", nullptr, "takes a whole number from 0 to 4294967295"},
      {Shape(SYNTAX_CNTR32), "-1", nullptr, "takes a whole number from 0 to 4294967295"},
      {Shape(SYNTAX_CNTR64), "18446744073709551615", "18446744073709551615", ""},
      {Shape(SYNTAX_IPADDR), "192.0.2.1", "192.0.2.1", ""},
      {Shape(SYNTAX_IPADDR), "300.0.2.1", nullptr, "takes four dotted numbers from 0 to 255"},
      {Shape(SYNTAX_IPADDR), "192.0.2", nullptr, "takes four dotted numbers from 0 to 255"},
      {Shape(SYNTAX_OPAQUE), "0x0102", "0x0102", ""},
      {Shape(SYNTAX_OPAQUE), "1.2.3.4", nullptr,
       "takes 0x and hexadecimal digits, two for each byte"},
      {Shape(SYNTAX_OID), "1.3.6.1", "1.3.6.1", ""},
      {Shape(SYNTAX_OID), "1..3", nullptr,
       "takes dotted numbers (1.3.6.1) or a name with an optional numeric suffix"},
      {Shape(SYNTAX_NULL), "anything", "null", ""},
  };
  for (const TypingRow& row : rows) {
    SCOPED_TRACE(row.text);
    PlainValue value;
    std::string reason;
    bool typed = TypeValueText(row.text, row.shape, &value, &reason);
    EXPECT_EQ(typed, row.typed != nullptr);
    if (typed) {
      EXPECT_EQ(PlainText(value), row.typed);
    } else {
      EXPECT_EQ(reason, row.reason);
    }
  }
}

TEST(PlainValue, LabelsOfEnumerationsAndBits) {
  ValueShape mode = Shape(SYNTAX_INTEGER);
  mode.labels = {{"once", 1}, {"repeat", 2}};
  EXPECT_EQ(PlainText(Number(SYNTAX_INTEGER, 2), &mode), "repeat(2)");
  EXPECT_EQ(PlainText(Number(SYNTAX_INTEGER, 7), &mode), "7");
  ValueShape pattern = Shape(SYNTAX_OCTETS);
  pattern.labels = {{"short", 0}, {"long", 1}, {"rising", 9}};
  EXPECT_EQ(ValueLabels(Bytes(SYNTAX_OCTETS, "\x80\x40"), pattern),
            (std::vector<std::string>{"short", "rising"}));
  EXPECT_EQ(ValueLabels(Bytes(SYNTAX_OCTETS, ""), pattern), std::vector<std::string>{});
}

}  // namespace
