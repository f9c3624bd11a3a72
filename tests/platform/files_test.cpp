// The modes of the files the server creates (the configuration file holds the passwords, the
// log is for the service's group) and the atomic replacement's temporary file, which must never
// follow a link planted beside the file.
#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/blackbox.h"
#include "support/status_check.h"

namespace {

using pltest::DirectoryEntries;
using pltest::ReadFile;
using pltest::TempDir;
using pltest::WriteFile;

mode_t ModeOf(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Sets the process's umask for one test and puts the old one back.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : saved_(umask(mask)) {}
  ~ScopedUmask() { umask(saved_); }

 private:
  mode_t saved_;
};

class NewFileModes : public ::testing::TestWithParam<mode_t> {};

TEST_P(NewFileModes, ConfigurationIsOwnerOnlyAndLogGroupReadable) {
  ScopedUmask mask(GetParam());
  TempDir dir;
  ASSERT_TRUE(pltest::Succeeded(
      plat::ReplaceFileAtomically(dir.File("plserver.ini"), "AdminPassword=rivet\n")));
  ASSERT_TRUE(pltest::Succeeded(plat::AppendToFile(dir.File("plserver.log"), "line\n")));
  EXPECT_EQ(ModeOf(dir.File("plserver.ini")), 0600u);
  EXPECT_EQ(ModeOf(dir.File("plserver.log")), 0640u);
  EXPECT_EQ(DirectoryEntries(dir.path()),
            (std::vector<std::string>{"plserver.ini", "plserver.log"}));
}

// The server's usual umask, and the service's.
INSTANTIATE_TEST_SUITE_P(Umask, NewFileModes, ::testing::Values(0022, 0077));

TEST(ExistingFileModes, AreKeptByAppendAndByReplace) {
  TempDir dir;
  WriteFile(dir.File("plserver.log"), "old\n");
  chmod(dir.File("plserver.log").c_str(), 0604);
  WriteFile(dir.File("plserver.ini"), "[Version]\n");
  chmod(dir.File("plserver.ini").c_str(), 0644);

  ASSERT_TRUE(pltest::Succeeded(plat::AppendToFile(dir.File("plserver.log"), "new\n")));
  ASSERT_TRUE(
      pltest::Succeeded(plat::ReplaceFileAtomically(dir.File("plserver.ini"), "[General]\n")));
  EXPECT_EQ(ReadFile(dir.File("plserver.log")), "old\nnew\n");
  EXPECT_EQ(ReadFile(dir.File("plserver.ini")), "[General]\n");
  EXPECT_EQ(ModeOf(dir.File("plserver.log")), 0604u);
  EXPECT_EQ(ModeOf(dir.File("plserver.ini")), 0644u);
}

// Links planted where the temporary file used to be made (the file's name, ".tmp-" and the
// process id): one to a file that must not change, one to a place where no file may appear.
TEST(AtomicReplace, DoesNotFollowLinksPlantedAtTheTemporaryName) {
  TempDir dir;
  TempDir elsewhere;
  const std::string path = dir.File("plserver.ini");
  const std::string predictable = path + ".tmp-" + std::to_string(getpid());
  WriteFile(path, "[Passwords]\nAdminPassword=old\n");
  chmod(path.c_str(), 0600);
  WriteFile(elsewhere.File("victim"), "precious\n");
  std::filesystem::create_symlink(elsewhere.File("victim"), predictable);

  ASSERT_TRUE(
      pltest::Succeeded(plat::ReplaceFileAtomically(path, "[Passwords]\nAdminPassword=new\n")));
  EXPECT_EQ(ReadFile(path), "[Passwords]\nAdminPassword=new\n");
  EXPECT_EQ(ModeOf(path), 0600u);
  EXPECT_EQ(ReadFile(elsewhere.File("victim")), "precious\n");
  EXPECT_TRUE(std::filesystem::is_symlink(predictable));

  std::filesystem::remove(predictable);
  std::filesystem::create_symlink(elsewhere.File("planted"), predictable);
  ASSERT_TRUE(
      pltest::Succeeded(plat::ReplaceFileAtomically(path, "[Passwords]\nAdminPassword=third\n")));
  EXPECT_EQ(ReadFile(path), "[Passwords]\nAdminPassword=third\n");
  EXPECT_FALSE(pltest::FileExists(elsewhere.File("planted")));
  // Nothing of the write is left behind: only the file and the planted link.
  EXPECT_EQ(DirectoryEntries(dir.path()).size(), 2u);
}

// A configuration file that is itself a link is replaced where the link points, in that
// directory, and the link stays.
TEST(AtomicReplace, LinkedFileIsReplacedInTheTargetsDirectory) {
  TempDir dir;
  TempDir target_dir;
  const std::string link = dir.File("plserver.ini");
  WriteFile(target_dir.File("real.ini"), "old\n");
  chmod(target_dir.File("real.ini").c_str(), 0640);
  std::filesystem::create_symlink(target_dir.File("real.ini"), link);

  ASSERT_TRUE(pltest::Succeeded(plat::ReplaceFileAtomically(link, "new\n")));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(target_dir.File("real.ini")), "new\n");
  EXPECT_EQ(ModeOf(target_dir.File("real.ini")), 0640u);
  EXPECT_EQ(DirectoryEntries(target_dir.path()), std::vector<std::string>{"real.ini"});
  EXPECT_EQ(DirectoryEntries(dir.path()), std::vector<std::string>{"plserver.ini"});
}

}  // namespace
