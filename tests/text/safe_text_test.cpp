// Untrusted names made safe for JSON and for a terminal.
#include "text/safe_text.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace text {
namespace {

TEST(JsonSafeText, KeepsUtf8AndReadsOtherBytesAsLatin1SoJsonAlwaysAcceptsIt) {
  EXPECT_EQ(JsonSafeText("plain"), "plain");
  EXPECT_EQ(JsonSafeText("caf\xc3\xa9"), "caf\xc3\xa9");    // UTF-8 kept
  EXPECT_EQ(JsonSafeText("caf\xe9"), "caf\xc3\xa9");        // Latin-1 é
  EXPECT_EQ(JsonSafeText("\xc0\xaf"), "\xc3\x80\xc2\xaf");  // overlong form: byte by byte
  EXPECT_EQ(JsonSafeText("\xed\xa0\x80"), "\xc3\xad\xc2\xa0\xc2\x80");  // a surrogate
  std::string every_byte;
  for (int c = 0; c < 256; ++c) every_byte += static_cast<char>(c);
  nlohmann::json value = JsonSafeText(every_byte);
  EXPECT_NO_THROW(nlohmann::json::parse(value.dump()));
}

TEST(TerminalSafeText, ControlCharactersInEveryFormBecomeVisibleEscapes) {
  EXPECT_EQ(TerminalSafeText("\x1b]0;title\x07"), "\\x1b]0;title\\x07");
  EXPECT_EQ(TerminalSafeText("a\x7f"
                             "b"),
            "a\\x7fb");
  EXPECT_EQ(TerminalSafeText("\x9b"
                             "2K"),
            "\\x9b2K");  // 8-bit CSI
  EXPECT_EQ(TerminalSafeText("\xc2\x9b"
                             "2K"),
            "\\xc2\\x9b2K");  // CSI encoded as UTF-8
  EXPECT_EQ(TerminalSafeText("caf\xc3\xa9"), "caf\xc3\xa9");
  EXPECT_EQ(TerminalSafeText("back\\slash"), "back\\\\slash");
  EXPECT_EQ(TerminalSafeText("two\nlines"), "two\\x0alines");
  EXPECT_EQ(TerminalSafeText("two\nlines\r", true), "two\nlines\\x0d");
  EXPECT_EQ(TerminalSafeText("already\\x1b", true, false), "already\\x1b");
}

TEST(NameText, ANameCanEndNeitherItsQuotesNorItsLineNorTurnTheTextAround) {
  EXPECT_EQ(QuotedName("a\"b\naddr=6.6.6.6\t\\"), "\"a\\\"b\\naddr=6.6.6.6\\t\\\\\"");
  // Right-to-left override, line separator, first-strong isolate: escaped byte by byte.
  EXPECT_EQ(NameText("x\xe2\x80\xae\xe2\x80\xa8\xe2\x81\xa8y"),
            "x\\xe2\\x80\\xae\\xe2\\x80\\xa8\\xe2\\x81\\xa8y");
  EXPECT_EQ(NameText("caf\xc3\xa9 \xe2\x80\x94"), "caf\xc3\xa9 \xe2\x80\x94");  // an em dash stays
}

}  // namespace
}  // namespace text
