#include "platform/text.h"

#include <gtest/gtest.h>

#include <climits>

namespace orv {
namespace {

TEST(TextToInt, ReadsPortNumbersAsTheDecimalConversionDoes) {
  struct Case {
    std::u16string text;
    int expected;
  } cases[] = {
      {u"3", 3},
      {u"12", 12},
      {u"  7", 7},
      {u"\t+5x", 5},
      {u"-1", -1},
      {u"", 0},
      {u"X", 0},
      {u"4 5", 4},
      {u"007", 7},
      {u"99999999999", INT_MAX},
      {u"-99999999999", INT_MIN},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextToInt(c.text.c_str(), c.text.size() + 1), c.expected) << Utf16ToUtf8(c.text);
  }
}

TEST(TextToInt, StopsAtTheEndOfAnUnterminatedBuffer) {
  const WCHAR digits[4] = {u'1', u'2', u'3', u'4'};  // no terminator inside the buffer
  EXPECT_EQ(TextToInt(digits, 4), 1234);
  EXPECT_EQ(TextToInt(digits, 2), 12);
}

TEST(TextContains, IsAnExactSubstringSearch) {
  EXPECT_TRUE(TextContains(u"Printer at LPT3 port", 100, u"LPT3"));
  EXPECT_FALSE(TextContains(u"Printer at lpt3", 100, u"LPT3"));
  EXPECT_TRUE(TextContains(u"", 1, u""));
  EXPECT_TRUE(TextContains(u"LPT31", 6, u"LPT3"));
  const WCHAR unterminated[4] = {u'L', u'P', u'T', u'3'};
  EXPECT_TRUE(TextContains(unterminated, 4, u"LPT3"));
  EXPECT_FALSE(TextContains(unterminated, 3, u"LPT3"));
}

TEST(TextEquals, ComparesWholeTextsWithTheirTerminators) {
  EXPECT_TRUE(TextEquals(u"-RemoveCOMdb", u"-RemoveCOMdb"));
  EXPECT_FALSE(TextEquals(u"-RemoveCOMdb ", u"-RemoveCOMdb"));
  EXPECT_FALSE(TextEquals(u"-RemoveCOM", u"-RemoveCOMdb"));
  EXPECT_FALSE(TextEquals(u"-removecomdb", u"-RemoveCOMdb"));
}

TEST(FormatText, FormatsNumbersTextsAndPercent) {
  WCHAR buffer[64];
  EXPECT_EQ(FormatText(buffer, 64, u"%s (LPT%d)", {u"ORVEK LPT Port", 2}), 21);
  EXPECT_EQ(std::u16string(buffer), u"ORVEK LPT Port (LPT2)");
  FormatText(buffer, 64, u"\\DosDevices\\LPT%d", {-7});
  EXPECT_EQ(std::u16string(buffer), u"\\DosDevices\\LPT-7");
  FormatText(buffer, 64, u"%%SystemDrive%%\\%s", {u"x"});
  EXPECT_EQ(std::u16string(buffer), u"%SystemDrive%\\x");
}

TEST(FormatText, NeverWritesBeyondItsCapacity) {
  WCHAR buffer[8];
  for (WCHAR& c : buffer) {
    c = u'#';
  }
  EXPECT_EQ(FormatText(buffer, 5, u"COM%d", {1234}), -1);
  EXPECT_EQ(std::u16string(buffer), u"COM1");
  EXPECT_EQ(buffer[5], u'#');
}

TEST(Utf, RoundTripsThroughUtf8) {
  const std::u16string text = u"ORVEK \u00e9\u4e2d\U0001F600";
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
  EXPECT_EQ(Utf16ToUtf8(u"\u00e9"), "\xc3\xa9");
}

TEST(CopyText, RefusesATextThatDoesNotFit) {
  WCHAR buffer[4];
  EXPECT_TRUE(CopyText(buffer, 4, u"abc"));
  EXPECT_EQ(std::u16string(buffer), u"abc");
  EXPECT_FALSE(CopyText(buffer, 4, u"abcd"));
  EXPECT_EQ(buffer[0], 0);
}

}  // namespace
}  // namespace orv
