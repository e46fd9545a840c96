#include "agent_ops/output_format.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "../test_environment.h"

namespace {

// The time tests need a known zone whatever the caller's environment says.
class TimeTextTest : public ::testing::Test {
 protected:
  void SetUp() override { UseZone("UTC"); }
  void TearDown() override { UseZone("UTC"); }
  static void UseZone(const char* zone) {
    SetTestVariable("TZ", zone);
    tzset();
  }
};

TEST_F(TimeTextTest, EpochAndTheLastThirtyTwoBitSecond) {
  char buffer[32];
  EXPECT_STREQ(FormatTimeText(0, buffer), "Thu Jan 01 00:00:00 1970\n");
  EXPECT_STREQ(FormatTimeText(86400 + 3600 * 13 + 62, buffer), "Fri Jan 02 13:01:02 1970\n");
  EXPECT_STREQ(FormatTimeText(2147483647, buffer), "Tue Jan 19 03:14:07 2038\n");
}

TEST_F(TimeTextTest, NegativeTimeHasNoText) {
  char buffer[32];
  EXPECT_STREQ(FormatTimeText(-1, buffer), "(null)");
  EXPECT_STREQ(FormatTimeText(INT32_MIN, buffer), "(null)");
}

TEST_F(TimeTextTest, LocalZoneAndEnglishNamesWhateverTheLocale) {
  char buffer[32];
  UseZone("XST-5");  // five hours east of UTC, no daylight saving
  EXPECT_STREQ(FormatTimeText(1700000000, buffer), "Wed Nov 15 03:13:20 2023\n");
  UseZone("XST+5");
  EXPECT_STREQ(FormatTimeText(0, buffer), "Wed Dec 31 19:00:00 1969\n");
  // The same time again in another zone is not the text made for the last one.
  UseZone("UTC");
  EXPECT_STREQ(FormatTimeText(0, buffer), "Thu Jan 01 00:00:00 1970\n");
}

TEST(HandleText, EightUpperCaseHexDigits) {
  char buffer[9];
  EXPECT_STREQ(FormatHandle(0, buffer), "00000000");
  EXPECT_STREQ(FormatHandle(0xDEADBEEFu, buffer), "DEADBEEF");
  EXPECT_STREQ(FormatHandle(0x0000A01Fu, buffer), "0000A01F");
}

}  // namespace
