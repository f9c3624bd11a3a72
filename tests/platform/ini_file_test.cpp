// The INI document: the value rules of the configuration file, writes that keep everything else
// in the file, and the atomic replacement on disk.
#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/blackbox.h"
#include "support/status_check.h"

namespace {

using plat::IniFile;
using plat::ParseIniInteger;
using pltest::DirectoryEntries;
using pltest::ReadFile;
using pltest::TempDir;
using pltest::WriteFile;

IniFile Doc(const std::string& text) {
  return IniFile::Parse("unused.ini", text);
}

IniFile OpenOrDie(const std::string& path) {
  std::string error;
  std::optional<IniFile> ini = IniFile::Open(path, &error);
  EXPECT_TRUE(ini.has_value()) << error;
  return ini ? std::move(*ini) : IniFile::Parse(path, "");
}

ino_t InodeOf(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

TEST(IniFileRead, SectionAndKeyNamesIgnoreLetterCase) {
  IniFile ini = Doc("[General]\r\nMaxClients=20\r\nServername = My Server \r\n");
  EXPECT_EQ(ini.ReadString("GENERAL", "maxclients", "x"), "20");
  EXPECT_EQ(ini.ReadString("general", "SERVERNAME", "x"), "My Server");
  EXPECT_EQ(ini.ReadString("General", "Missing", "fallback"), "fallback");
  EXPECT_EQ(ini.ReadString("Other", "MaxClients", "fallback"), "fallback");

  ini.WriteString("gEnErAl", "MAXCLIENTS", "30");
  EXPECT_EQ(ini.ReadInteger("General", "MaxClients", 0), 30);
  // Replaced in place: no second section, no second key.
  std::string text = ini.Text();
  EXPECT_EQ(text.find("[gEnErAl]"), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << text;
}

TEST(IniFileRead, KeysOfOneSectionDoNotLeakIntoTheNext) {
  IniFile ini = Doc("[A]\nk=1\n[B]\nother=2\n");
  EXPECT_EQ(ini.ReadString("B", "k", "none"), "none");
  EXPECT_EQ(ini.ReadString("A", "other", "none"), "none");
}

TEST(IniFileRead, TextIsReadWholeUpTo2047Characters) {
  const std::string exact(2047, 'a');
  const std::string longer = std::string(2047, 'b') + "tail";
  IniFile ini = Doc("[S]\nexact=" + exact + "\nlonger=" + longer + "\ninner=a = b ; c\n");
  EXPECT_EQ(ini.ReadString("S", "exact", ""), exact);
  EXPECT_EQ(ini.ReadString("S", "longer", ""), std::string(2047, 'b'));
  EXPECT_EQ(ini.ReadString("S", "inner", ""), "a = b ; c");
}

TEST(IniFileRead, IntegerForms) {
  EXPECT_EQ(ParseIniInteger("0"), 0);
  EXPECT_EQ(ParseIniInteger("16"), 16);
  EXPECT_EQ(ParseIniInteger("+16"), 16);
  EXPECT_EQ(ParseIniInteger("-16"), -16);
  EXPECT_EQ(ParseIniInteger("2147483647"), 2147483647);
  EXPECT_EQ(ParseIniInteger("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseIniInteger("$20"), 32);
  EXPECT_EQ(ParseIniInteger("$ff"), 255);
  EXPECT_EQ(ParseIniInteger("0x20"), 32);
  EXPECT_EQ(ParseIniInteger("0X1f"), 31);
  EXPECT_EQ(ParseIniInteger("-$10"), -16);
  // Hexadecimal spans all 32 bits.
  EXPECT_EQ(ParseIniInteger("$FFFFFFFF"), -1);
}

TEST(IniFileRead, InvalidIntegersGiveNothing) {
  for (const char* text :
       {"", "abc", "0x", "0X", "$", "+", "-", "12abc", "1.5", "0x1G", "$G", "2147483648",
        "-2147483649", "99999999999", "$100000000", "0x100000000"}) {
    EXPECT_EQ(ParseIniInteger(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(IniFileRead, IntegersAndBooleansFallBackToTheirDefaults) {
  IniFile ini =
      Doc("[General]\nMaxClients=0x20\nBad=abc\nBig=4294967296\nEmpty=\n"
          "[WebStatus]\nActive=2\nOff=0\nNeg=-1\nText=yes\nHex=$0\n");
  EXPECT_EQ(ini.ReadInteger("General", "MaxClients", 16), 32);
  EXPECT_EQ(ini.ReadInteger("General", "Bad", 16), 16);
  EXPECT_EQ(ini.ReadInteger("General", "Big", 16), 16);
  EXPECT_EQ(ini.ReadInteger("General", "Empty", 16), 16);
  EXPECT_EQ(ini.ReadInteger("General", "Missing", -7), -7);

  EXPECT_TRUE(ini.ReadBool("WebStatus", "Active", false));
  EXPECT_FALSE(ini.ReadBool("WebStatus", "Off", true));
  EXPECT_TRUE(ini.ReadBool("WebStatus", "Neg", false));
  EXPECT_FALSE(ini.ReadBool("WebStatus", "Hex", true));
  EXPECT_TRUE(ini.ReadBool("WebStatus", "Text", true));
  EXPECT_FALSE(ini.ReadBool("WebStatus", "Text", false));
  EXPECT_TRUE(ini.ReadBool("WebStatus", "Missing", true));
}

TEST(IniFileWrite, ValuesAreWrittenInTheirTextForms) {
  IniFile ini = Doc("");
  ini.WriteBool("S", "on", true);
  ini.WriteBool("S", "off", false);
  ini.WriteInteger("S", "negative", -42);
  ini.WriteString("S", "text", "Parlowind Server");
  EXPECT_EQ(ini.Text(), "[S]\r\non=1\r\noff=0\r\nnegative=-42\r\ntext=Parlowind Server\r\n");
}

TEST(IniFileWrite, NewSectionsGoAtTheEndAndNewKeysAtTheEndOfTheirSection) {
  IniFile ini = Doc("[A]\nfirst=1\n\n[B]\nx=1\n");
  ini.WriteString("A", "second", "2");
  ini.WriteString("C", "new", "3");
  ini.WriteString("A", "first", "changed");
  EXPECT_EQ(ini.Text(), "[A]\nfirst=changed\nsecond=2\n\n[B]\nx=1\n[C]\nnew=3\n");
}

TEST(IniFileWrite, NewKeyDoesNotLandInTheCommentOfTheNextSection) {
  IniFile ini = Doc("[A]\nk=1\n\n; what B is for\n[B]\n");
  ini.WriteString("A", "j", "2");
  EXPECT_EQ(ini.Text(), "[A]\nk=1\nj=2\n\n; what B is for\n[B]\n");
}

TEST(IniFileWrite, LastLineWithoutLineEndGetsOne) {
  IniFile ini = Doc("[A]\nk=1");
  ini.WriteString("A", "j", "2");
  ini.WriteString("B", "m", "3");
  EXPECT_EQ(ini.Text(), "[A]\nk=1\nj=2\n[B]\nm=3\n");
}

TEST(IniFileWrite, EraseSectionRemovesItsHeaderAndKeysOnly) {
  IniFile ini =
      Doc("; head\r\n[Keep]\r\na=1\r\n[Passwords]\r\nServerPassword=x\r\n\r\n[keep2]\r\nb=2\r\n");
  ini.EraseSection("PASSWORDS");
  EXPECT_EQ(ini.Text(), "; head\r\n[Keep]\r\na=1\r\n\r\n[keep2]\r\nb=2\r\n");
  EXPECT_EQ(ini.ReadString("Passwords", "ServerPassword", "gone"), "gone");
}

TEST(IniFileWrite, CommentsAndBlankLinesAboveTheNextSectionSurviveAnErase) {
  IniFile ini =
      Doc("[Version]\nServerVersion=v1.1\n; inside Version\nx=1\n\n; what Security is for\n"
          "; (two lines)\n[Security]\nLoginTimeout=30\n\n;; rooms\n[Channels]\n0=Lobby\n");
  ini.EraseSection("Version");
  ini.EraseSection("Security");
  EXPECT_EQ(ini.Text(),
            "\n; what Security is for\n; (two lines)\n\n;; rooms\n[Channels]\n0=Lobby\n");
  // The last section has no section after it: its trailing comments go with it.
  IniFile last = Doc("[A]\nk=1\n[B]\nm=2\n; about B\n");
  last.EraseSection("B");
  EXPECT_EQ(last.Text(), "[A]\nk=1\n");
}

TEST(IniFileWrite, EveryValueWithoutALineBreakReadsBackAsWritten) {
  IniFile ini = Doc("");
  const std::vector<std::string> values = {
      "plain",  "  leading", "trailing ", "\tboth\t", "\"quoted\"", "'single'", "\"",
      "\"open", "close'",    "  \"x\"  ", "",         "a \"b\" c",  "'",        "\"\""};
  for (size_t i = 0; i < values.size(); ++i)
    ini.WriteString("Passwords", "k" + std::to_string(i), values[i]);
  IniFile again = Doc(ini.Text());
  for (size_t i = 0; i < values.size(); ++i)
    EXPECT_EQ(again.ReadString("Passwords", "k" + std::to_string(i), "<missing>"), values[i]);
  // Values that read back unchanged are written as they are.
  EXPECT_NE(ini.Text().find("k0=plain\r\n"), std::string::npos);
  EXPECT_NE(ini.Text().find("k7=\"open\r\n"), std::string::npos);
}

TEST(IniFileEncoding, Utf8WithByteOrderMarkIsReadAndKeepsItsMark) {
  IniFile ini =
      Doc("\xEF\xBB\xBF[Version]\r\nServerVersion=v1.2.0\r\n[Passwords]\r\n"
          "AdminPassword=s\xC3\xA9same\r\n");
  EXPECT_EQ(ini.ReadString("Version", "ServerVersion", ""), "v1.2.0");
  EXPECT_EQ(ini.ReadString("Passwords", "AdminPassword", ""), "s\xC3\xA9same");
  TempDir dir;
  const std::string path = dir.File("plserver.ini");
  WriteFile(path, "\xEF\xBB\xBF[Version]\r\nServerVersion=v1.1\r\n");
  IniFile disk = OpenOrDie(path);
  EXPECT_EQ(disk.ReadString("Version", "ServerVersion", ""), "v1.1");
  disk.WriteString("Version", "ServerVersion", "v1.2.0");
  ASSERT_TRUE(pltest::Succeeded(disk.Commit()));
  EXPECT_EQ(ReadFile(path), "\xEF\xBB\xBF[Version]\r\nServerVersion=v1.2.0\r\n");
}

TEST(IniFileEncoding, LinesEndingInALoneCarriageReturnAreLinesAndKeepTheirEnds) {
  IniFile ini = Doc("[Version]\rServerVersion=v1.2.0\r[General]\rMaxClients=20\r");
  EXPECT_EQ(ini.ReadString("Version", "ServerVersion", ""), "v1.2.0");
  EXPECT_EQ(ini.ReadInteger("General", "MaxClients", 16), 20);
  ini.WriteString("General", "Servername", "Mac");
  ini.WriteString("Ping", "MaxPingTries", "3");
  EXPECT_EQ(ini.Text(),
            "[Version]\rServerVersion=v1.2.0\r[General]\rMaxClients=20\rServername=Mac\r"
            "[Ping]\rMaxPingTries=3\r");
  // A CR LF pair stays one line end.
  EXPECT_EQ(Doc("[A]\r\nk=1\r\n").ReadString("A", "k", ""), "1");
}

// A UTF-16 file's characters are the protocol's 8-bit characters through Windows-1252, both
// ways; comments and values no one writes keep every character they had.
TEST(IniFileEncoding, Utf16TextIsWindows1252BothWaysAndWrittenBackInUtf16) {
  TempDir dir;
  const std::string path = dir.File("plserver.ini");
  const std::u16string kept =
      u"; R\u00e4ume \U0001F3B5\r\n[Channels]\r\n0=B\u00fchne Nord\r\n1=\u20ac \u0141\U0001F3B5\r\n";
  WriteFile(path, pltest::Utf16Le(kept + u"[Version]\r\nServerVersion=v1.1\r\n"));
  IniFile ini = OpenOrDie(path);
  EXPECT_EQ(ini.ReadString("Channels", "0", ""), "B\xFChne Nord");
  EXPECT_FALSE(ini.InexactValue("Channels", "0"));
  // The euro sign is 0x80; what the code page lacks reads as "?", and is named.
  EXPECT_EQ(ini.ReadString("Channels", "1", ""), "\x80 ??");
  EXPECT_EQ(ini.InexactValue("Channels", "1"), "\xE2\x82\xAC \xC5\x81\xF0\x9F\x8E\xB5");
  ini.WriteString("Version", "ServerVersion", "v1.2.0");
  ini.WriteString("Passwords", "AdminPassword", "\xE9t\xE9\x9F");
  ASSERT_TRUE(pltest::Succeeded(ini.Commit()));
  EXPECT_EQ(ReadFile(path), pltest::Utf16Le(kept + u"[Version]\r\nServerVersion=v1.2.0\r\n"
                                           u"[Passwords]\r\nAdminPassword=\u00e9t\u00e9\u0178\r\n"));
  EXPECT_EQ(OpenOrDie(path).ReadString("Passwords", "AdminPassword", ""), "\xE9t\xE9\x9F");
}

TEST(IniFileEncoding, AUtf16FileRefusesBytesWithoutACharacterAndWritesNothing) {
  TempDir dir;
  const std::string path = dir.File("plserver.ini");
  const std::string before = pltest::Utf16Le(u"[Passwords]\r\nServerPassword=old\r\n");
  WriteFile(path, before);
  IniFile ini = OpenOrDie(path);
  EXPECT_TRUE(ini.CanStore("\xE4\x80\xFF"));
  EXPECT_FALSE(ini.CanStore("a\x81"));
  ini.WriteString("Passwords", "ServerPassword", "\x9D");
  plat::Status refused = ini.Commit();
  EXPECT_NE(refused.message().find("Windows-1252"), std::string::npos) << refused.message();
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_TRUE(Doc("").CanStore("\x81")) << "an 8-bit file holds any byte but a line break";
}

TEST(IniFileWrite, ForeignContentAndLineEndsSurviveARewrite) {
  const std::string lf_file =
      "; written by hand\n[Channels]\n0=Lobby\n1=Music\n\n[Custom]\n; keep me\nanswer=42\n";
  IniFile ini = Doc(lf_file);
  ini.EraseSection("Version");
  ini.WriteString("Version", "ServerVersion", "v1.2.0");
  EXPECT_EQ(ini.Text(), lf_file + "[Version]\nServerVersion=v1.2.0\n");

  const std::string crlf_file = "[Channels]\r\n0=Lobby\r\n\r\n[Custom]\r\nanswer=42\r\n";
  IniFile crlf = Doc(crlf_file);
  crlf.WriteString("Version", "ServerVersion", "v1.2.0");
  crlf.WriteString("Custom", "more", "1");
  EXPECT_EQ(crlf.Text(),
            "[Channels]\r\n0=Lobby\r\n\r\n[Custom]\r\nanswer=42\r\nmore=1\r\n"
            "[Version]\r\nServerVersion=v1.2.0\r\n");
}

TEST(IniFileDisk, MissingFileReadsEmptyAndWriteCreatesIt) {
  TempDir dir;
  const std::string path = dir.File("plserver.ini");
  IniFile ini = OpenOrDie(path);
  EXPECT_EQ(ini.ReadString("Version", "ServerVersion", "none"), "none");
  // Reading alone leaves no file behind.
  EXPECT_TRUE(pltest::Succeeded(ini.Commit()));
  EXPECT_FALSE(pltest::FileExists(path));

  ini.WriteString("Version", "ServerVersion", "v1.2.0");
  EXPECT_TRUE(pltest::Succeeded(ini.Commit()));
  EXPECT_EQ(ReadFile(path), "[Version]\r\nServerVersion=v1.2.0\r\n");
  EXPECT_EQ(DirectoryEntries(dir.path()), std::vector<std::string>{"plserver.ini"});
}

TEST(IniFileDisk, CommitReplacesTheFileAsAWholeAndKeepsItsMode) {
  TempDir dir;
  const std::string path = dir.File("plserver.ini");
  WriteFile(path, "[Passwords]\nAdminPassword=old\n");
  chmod(path.c_str(), 0600);  // passwords: nobody else may read them, before or after
  const ino_t before = InodeOf(path);

  IniFile ini = OpenOrDie(path);
  ini.WriteString("Passwords", "AdminPassword", "new");
  ASSERT_TRUE(pltest::Succeeded(ini.Commit()));

  EXPECT_EQ(ReadFile(path), "[Passwords]\nAdminPassword=new\n");
  EXPECT_NE(InodeOf(path), before) << "written in place rather than replaced";
  EXPECT_EQ(DirectoryEntries(dir.path()), std::vector<std::string>{"plserver.ini"});
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(IniFileDisk, UnchangedDocumentIsNotWritten) {
  TempDir dir;
  const std::string path = dir.File("plserver.ini");
  WriteFile(path, "[Version]\nServerVersion=v1.2.0\n");
  const ino_t before = InodeOf(path);
  IniFile ini = OpenOrDie(path);
  ini.EraseSection("NotThere");
  EXPECT_TRUE(pltest::Succeeded(ini.Commit()));
  EXPECT_EQ(InodeOf(path), before);
}

TEST(IniFileDisk, UnreadableFileIsAnError) {
  TempDir dir;
  // A path through a regular file: no privilege gets past that.
  WriteFile(dir.File("file"), "x");
  std::string error;
  EXPECT_FALSE(IniFile::Open(dir.File("file/plserver.ini"), &error).has_value());
  EXPECT_FALSE(error.empty());
  // A directory where the file should be.
  EXPECT_FALSE(IniFile::Open(dir.path(), &error).has_value());
}

// Root may write where no one else may, so the commit runs in a child that has given that up
// (as nobody). Expects the commit of a changed ServerVersion to fail with an error text that
// names `named`.
void ExpectUnprivilegedCommitFails(const std::string& path, const std::string& named) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    std::string error;
    std::optional<IniFile> ini = IniFile::Open(path, &error);
    if (!ini) _exit(4);
    ini->WriteString("Version", "ServerVersion", "v1.2.0");
    plat::Status failure = ini->Commit();
    _exit(!failure.ok() && failure.message().find(named) != std::string::npos ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the commit reported success";
}

TEST(IniFileDisk, FailedCommitInReadOnlyDirectoryLeavesTheOldFile) {
  TempDir dir;
  const std::string sub = dir.File("ro");
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  const std::string path = sub + "/plserver.ini";
  const std::string old_contents = "[Version]\nServerVersion=v1.1\n[Channels]\n0=Lobby\n";
  WriteFile(path, old_contents);
  chmod(path.c_str(), 0666);
  chmod(sub.c_str(), 0555);

  ExpectUnprivilegedCommitFails(path, "");
  EXPECT_EQ(ReadFile(path), old_contents);
  EXPECT_EQ(DirectoryEntries(sub), std::vector<std::string>{"plserver.ini"});
}

TEST(IniFileDisk, ReadOnlyFileIsNotReplacedEvenInAWritableDirectory) {
  TempDir dir;
  chmod(dir.path().c_str(), 0777);
  const std::string path = dir.File("plserver.ini");
  const std::string old_contents = "[Version]\nServerVersion=v1.1\n";
  WriteFile(path, old_contents);
  chmod(path.c_str(), 0444);

  ExpectUnprivilegedCommitFails(path, "plserver.ini");
  EXPECT_EQ(ReadFile(path), old_contents);
  EXPECT_EQ(DirectoryEntries(dir.path()), std::vector<std::string>{"plserver.ini"});
}

TEST(IniFileDisk, FailedRenameLeavesNoTemporary) {
  TempDir dir;
  // The target is a directory that holds something: the rename cannot replace it.
  const std::string path = dir.File("plserver.ini");
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  WriteFile(path + "/inside", "x");
  IniFile ini = IniFile::Parse(path, "");
  ini.WriteString("S", "k", "v");
  EXPECT_FALSE(ini.Commit().ok());
  EXPECT_EQ(DirectoryEntries(dir.path()), std::vector<std::string>{"plserver.ini"});
}

}  // namespace

namespace {

TEST(IniFileLinks, ACommitThroughASymbolicLinkReplacesTheTargetAndKeepsTheLink) {
  std::string directory = ::testing::TempDir() + "ini-link-" + std::to_string(::getpid());
  std::filesystem::create_directories(directory + "/real");
  const std::string target = directory + "/real/plserver.ini";
  const std::string link = directory + "/plserver.ini";
  { std::ofstream(target) << "[General]\nServername=Old\n"; }
  std::filesystem::remove(link);
  std::filesystem::create_symlink(target, link);
  std::string error;
  auto ini = plat::IniFile::Open(link, &error);
  ASSERT_TRUE(ini) << error;
  ini->WriteString("General", "Servername", "New");
  ASSERT_TRUE(pltest::Succeeded(ini->Commit()));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  std::ifstream in(target);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "[General]\nServername=New\n");
  std::filesystem::remove_all(directory);
}

}  // namespace

namespace {

TEST(IniFileLineBreaks, AValueWithALineBreakIsRefusedAndTheCommitWritesNothing) {
  const std::string directory = ::testing::TempDir() + "ini-breaks-" + std::to_string(::getpid());
  std::filesystem::create_directories(directory);
  const std::string path = directory + "/plserver.ini";
  const std::string original = "[Passwords]\r\nServerPassword=old\r\n[Channels]\r\n0=Lobby\r\n";
  { std::ofstream(path, std::ios::binary) << original; }
  std::string error;
  auto ini = plat::IniFile::Open(path, &error);
  ASSERT_TRUE(ini) << error;
  ini->WriteString("Passwords", "AdminPassword", "fine");
  // An administrator's new password that would smuggle a section into the file.
  ini->WriteString("Passwords", "ServerPassword", "x\r\n[Channels]\r\n0=Injected");
  EXPECT_FALSE(ini->Commit().ok());
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()),
            original);
  EXPECT_EQ(ini->ReadString("Channels", "0", ""), "Lobby");
  std::filesystem::remove_all(directory);
}

TEST(IniFileTest, OdditiesAreTheLinesReadingPassesOverOrNeverReaches) {
  using Kind = IniFile::Oddity::Kind;
  const IniFile ini =
      Doc("Early=1\n; note\n\n[General]\nMaxClients=5\n[Security\nstray words\nmaxclients=6\n"
          "[general]\nServername=x\n[Ping]\nMaxPingTries=3\n");
  const std::vector<IniFile::Oddity> found = ini.Oddities();
  ASSERT_EQ(found.size(), 5u);
  const std::pair<Kind, size_t> expected[] = {{Kind::kKeyOutsideSection, 1},
                                              {Kind::kUnclosedHeader, 6},
                                              {Kind::kNotAKey, 7},
                                              {Kind::kRepeatedKey, 8},
                                              {Kind::kRepeatedSection, 9}};
  for (size_t i = 0; i < found.size(); ++i) {
    EXPECT_EQ(found[i].kind, expected[i].first) << i;
    EXPECT_EQ(found[i].line, expected[i].second) << i;
  }
  // Under a repeated section nothing more is said: none of its keys is read anyway.
  EXPECT_EQ(found[3].section, "General");
  EXPECT_EQ(found[3].key, "maxclients");
  EXPECT_EQ(ini.ReadInteger("General", "MaxClients", 0), 5);
}

}  // namespace
