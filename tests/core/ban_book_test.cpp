// The operator's bans as the configuration file keeps them, and the address blocks they name.
#include "core/ban_book.h"

#include <gtest/gtest.h>

namespace core {
namespace {

TEST(BanBookText, AddressesAndBlocksReadAndWriteBack) {
  EXPECT_EQ(PrefixText(*ParsePrefix("203.0.113.7")), "203.0.113.7");
  EXPECT_EQ(PrefixText(*ParsePrefix("198.51.100.77/24")), "198.51.100.0/24");  // host bits cleared
  EXPECT_EQ(PrefixText(*ParsePrefix("10.1.2.3/0")), "0.0.0.0/0");
  EXPECT_EQ(ParsePrefix("10.1.2.3/32")->ShownLength(), 32);
  EXPECT_EQ(PrefixText(*ParsePrefix("2001:DB8:0:7::1/48")), "2001:db8::/48");
  EXPECT_EQ(PrefixText(*ParsePrefix("2001:db8::7/128")), "2001:db8::7");
  for (const char* bad : {"", "10.1.2", "10.1.2.3/", "10.1.2.3/33", "10.1.2.3/-1", "10.1.2.3/8x",
                          "host.example", "10.1.2.256", "10.1.2.3 "}) {
    EXPECT_FALSE(ParsePrefix(bad)) << bad;
  }
  EXPECT_EQ(UtcText(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(UtcText(1767225600), "2026-01-01T00:00:00Z");
  EXPECT_EQ(UtcText(951782400), "2000-02-29T00:00:00Z");
}

TEST(BanBookFile, EntriesRoundTripEndedOnesAreDroppedAndBadOnesNamed) {
  plat::IniFile ini = plat::IniFile::Parse(
      "test.ini",
      "[General]\r\nServername=x\r\n[Bans]\r\n203.0.113.7=permanent; spam bots\r\n"
      "198.51.100.0/24=2000; flooding\r\n192.0.2.1=1000\r\nnot-an-address=permanent\r\n"
      "192.0.2.9=soon; bad end\r\n");
  BanBook book;
  std::vector<std::string> bad;
  book.Load(ini, 1500, &bad);
  ASSERT_EQ(book.entries().size(), 2u);  // 192.0.2.1 ended at 1000
  EXPECT_EQ(bad, (std::vector<std::string>{"not-an-address", "192.0.2.9"}));
  const ManualBan* spam = book.Find(*ParsePrefix("203.0.113.7"));
  ASSERT_TRUE(spam);
  EXPECT_FALSE(spam->until_unix);
  EXPECT_EQ(spam->reason, "spam bots");
  EXPECT_EQ(book.Find(*ParsePrefix("198.51.100.0/24"))->until_unix, 2000);

  // Written back: the same bans, the rest of the file untouched.
  book.Put({*ParsePrefix("192.0.2.0/28"), 9999, ""});
  book.Put({*ParsePrefix("2001:db8::/48"), 9999, "v6"});
  EXPECT_TRUE(book.Erase(*ParsePrefix("203.0.113.7")));
  book.Store(ini);
  BanBook again;
  again.Load(ini, 1500, nullptr);
  ASSERT_EQ(again.entries().size(), 3u);
  EXPECT_TRUE(again.Find(*ParsePrefix("192.0.2.0/28")));
  ASSERT_TRUE(again.Find(*ParsePrefix("2001:db8::/48")));
  EXPECT_EQ(again.Find(*ParsePrefix("2001:db8::/48"))->reason, "v6");
  EXPECT_EQ(ini.ReadString("General", "Servername", ""), "x");
  EXPECT_TRUE(again.DropEnded(2000));
  EXPECT_EQ(again.entries().size(), 2u);
  EXPECT_FALSE(again.DropEnded(2000));
}

}  // namespace
}  // namespace core
