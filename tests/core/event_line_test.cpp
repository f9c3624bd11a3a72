// Event line formatting: time stamps with their offset, quoting of untrusted text (no control
// byte survives, valid UTF-8 does), bare words only when safe, and the JSON form.
#include "core/event_line.h"

#include <gtest/gtest.h>

namespace core {
namespace {

plat::LocalDateTime At(int offset_minutes) {
  plat::LocalDateTime when;
  when.year = 2026;
  when.month = 12;
  when.day = 8;
  when.hour = 10;
  when.minute = 21;
  when.second = 7;
  when.utc_offset_minutes = offset_minutes;
  return when;
}

TEST(EventLineTest, TimeStampCarriesItsOffset) {
  EXPECT_EQ(Iso8601(At(0)), "2026-12-08T10:21:07+00:00");
  EXPECT_EQ(Iso8601(At(330)), "2026-12-08T10:21:07+05:30");
  EXPECT_EQ(Iso8601(At(-210)), "2026-12-08T10:21:07-03:30");
}

TEST(EventLineTest, QuotingLeavesNoControlByteAndKeepsValidUtf8) {
  EXPECT_EQ(QuoteForLine("alice"), "\"alice\"");
  EXPECT_EQ(QuoteForLine("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(QuoteForLine("x\ny\rz\t"), "\"x\\ny\\rz\\t\"");
  EXPECT_EQ(QuoteForLine(std::string("\x1b[2J\x07\x7f\0", 7)), "\"\\x1b[2J\\x07\\x7f\\x00\"");
  EXPECT_EQ(QuoteForLine("J\xC3\xBCrgen \xE2\x9C\x93"), "\"J\xC3\xBCrgen \xE2\x9C\x93\"");
  // C1 controls in UTF-8, a lone continuation byte, a cut sequence, an overlong form.
  EXPECT_EQ(QuoteForLine("\xC2\x9B"
                         "1m"),
            "\"\\xc2\\x9b1m\"");
  EXPECT_EQ(QuoteForLine("\x80"), "\"\\x80\"");
  EXPECT_EQ(QuoteForLine("\xE2\x9C"), "\"\\xe2\\x9c\"");
  EXPECT_EQ(QuoteForLine("\xC0\xAF"), "\"\\xc0\\xaf\"");
}

TEST(EventLineTest, TextFormQuotesTextAndUnsafeWords) {
  EventLine line(EventLevel::kInfo, "join");
  line.Number("player", 3).Text("name", "alice").Word("addr", "203.0.113.5").Word("odd", "a b");
  EXPECT_EQ(line.FormatText(At(0)),
            "2026-12-08T10:21:07+00:00 info join player=3 name=\"alice\" addr=203.0.113.5 "
            "odd=\"a b\"\n");
  EventLine empty(EventLevel::kWarning, "setting");
  empty.Word("used", "");
  EXPECT_EQ(empty.FormatText(At(0)), "2026-12-08T10:21:07+00:00 warning setting used=\"\"\n");
}

TEST(EventLineTest, JsonFormIsOneAsciiObjectWithNumbersAsNumbers) {
  EventLine line(EventLevel::kWarning, "login-failed");
  line.Word("addr", "127.0.0.1").Number("player", 2).Text("name", "b\x1b\n\xC3\xBC\xFF");
  EXPECT_EQ(line.FormatJson(At(60)),
            "{\"time\":\"2026-12-08T10:21:07+01:00\",\"level\":\"warning\","
            "\"event\":\"login-failed\",\"addr\":\"127.0.0.1\",\"player\":2,"
            "\"name\":\"b\\u001b\\n\\u00fc\\ufffd\"}\n");
}

}  // namespace
}  // namespace core
