// Names fold only their ASCII letters: bytes of other encodings (0x80 and above) must neither
// match letters nor each other when they differ, whatever the locale would say.
#include "platform/ascii_case.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(AsciiCase, FoldsOnlyAsciiLetters) {
  const std::string mixed = "Room-\xC4\xE4\x80\xFF_zZ@[`{";
  EXPECT_EQ(plat::AsciiLower(mixed), "room-\xC4\xE4\x80\xFF_zz@[`{");
  EXPECT_EQ(plat::AsciiUpper(mixed), "ROOM-\xC4\xE4\x80\xFF_ZZ@[`{");
}

TEST(AsciiCase, ComparesWithoutCaseButNotAcrossOtherBytes) {
  EXPECT_TRUE(plat::EqualsIgnoringAsciiCase("Lobby", "lOBBY"));
  EXPECT_FALSE(plat::EqualsIgnoringAsciiCase("Lobby", "Lobby "));
  // Latin-1 A-umlaut and a-umlaut are different bytes; only ASCII folds.
  EXPECT_FALSE(plat::EqualsIgnoringAsciiCase("\xC4", "\xE4"));
  // The neighbours of the letter ranges do not fold into each other.
  EXPECT_FALSE(plat::EqualsIgnoringAsciiCase("@", "`"));
  EXPECT_FALSE(plat::EqualsIgnoringAsciiCase("[", "{"));
}

TEST(AsciiCase, PrefixIgnoresCase) {
  EXPECT_TRUE(plat::StartsWithIgnoringAsciiCase("HTTP://host/", "http://"));
  EXPECT_TRUE(plat::StartsWithIgnoringAsciiCase("-ini=x", "-INI="));
  EXPECT_FALSE(plat::StartsWithIgnoringAsciiCase("-IN", "-INI="));
  EXPECT_FALSE(plat::StartsWithIgnoringAsciiCase("https://", "http://"));
}

}  // namespace
