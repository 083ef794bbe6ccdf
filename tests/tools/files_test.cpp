// The tools' file layer against hostile files: what it refuses to write or read (devices, FIFOs,
// links that loop or lead nowhere, read-only files, unwritable directories, files too large), what
// a planted link cannot make it do, the mode it keeps, and the order that makes a replacement
// durable (synced, then renamed), seen through its seam.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "machine/eeprom_file.h"
#include "machine/files.h"
#include "support/console_files.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using machine::ReadResult;
using testsupport::ReadFile;
using testsupport::ScratchDir;

using testsupport::Put;

// A chain of `links` links link1 -> link2 -> ... -> file in `dir`; returns the first.
std::string LinkChain(const ScratchDir& dir, int links) {
  for (int i = 1; i <= links; ++i) {
    fs::create_symlink(i == links ? "file" : "link" + std::to_string(i + 1),
                       dir / ("link" + std::to_string(i)));
  }
  return dir / "link1";
}

struct Hostile {
  const char* name;
  const char* reason;  // what follows "PATH: "
};

void PrintTo(const Hostile& h, std::ostream* os) {
  *os << h.name;
}

class HostileTargetTest : public ::testing::TestWithParam<Hostile> {};

// Each hostile target is refused with its reason, by the check and by the write, and is left as
// it was: a FIFO stays a FIFO, a device node a device node, a link a link, and nothing new
// appears in the directory.
TEST_P(HostileTargetTest, IsRefusedAndLeftAsItWas) {
  const Hostile& h = GetParam();
  ScratchDir dir;
  Put(dir / "file", "old");
  std::string target = dir / h.name;
  const std::string name = h.name;
  if (name == "fifo") {
    ASSERT_EQ(mkfifo(target.c_str(), 0666), 0);
  } else if (name == "device") {
    // The null device's numbers, in the private directory: a write that went through would
    // land nowhere.
    if (mknod(target.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) GTEST_SKIP() << "no mknod";
  } else if (name == "directory") {
    fs::create_directory(target);
  } else if (name == "dangling") {
    fs::create_symlink("nowhere", target);
  } else if (name == "readonly") {
    Put(target, "old");
    fs::permissions(target, fs::perms(0444));
  } else if (name == "loop") {
    fs::create_symlink("loop", target);
  } else if (name == "links41") {
    target = LinkChain(dir, 41);
  } else if (name == "underafile") {
    target = dir / "file/x";
  }
  const std::set<std::string> before = dir.Names();
  const fs::file_type type = fs::symlink_status(target).type();

  bool exists = true;
  std::string error;
  EXPECT_FALSE(machine::CheckReplaceable(target, &exists, &error));
  const std::string reason =
      std::string(h.reason) == "dangling"
          ? "a symbolic link to nothing (" + dir.path() + "/nowhere); " + "not followed"
          : h.reason;
  EXPECT_EQ(error, target + ": " + reason);
  error.clear();
  EXPECT_FALSE(machine::ReplaceFile(target, "new", &error));
  EXPECT_EQ(error, target + ": " + reason);

  EXPECT_EQ(dir.Names(), before);
  EXPECT_EQ(fs::symlink_status(target).type(), type);
  EXPECT_EQ(ReadFile(dir / "file"), "old");
  if (name == "readonly") {
    EXPECT_EQ(ReadFile(target), "old");
  }
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
}

INSTANTIATE_TEST_SUITE_P(Targets, HostileTargetTest,
                         ::testing::Values(Hostile{"fifo", "not a regular file"},
                                           Hostile{"device", "not a regular file"},
                                           Hostile{"directory", "Is a directory"},
                                           Hostile{"dangling", "dangling"},
                                           Hostile{"readonly", "Permission denied"},
                                           Hostile{"loop", "Too many levels of symbolic links"},
                                           Hostile{"links41", "Too many levels of symbolic links"},
                                           Hostile{"underafile", "Not a directory"}),
                         [](const ::testing::TestParamInfo<Hostile>& info) {
                           return std::string(info.param.name);
                         });

// Forty links are as many as the system follows: the file at their end is replaced, each link
// stays.
TEST(FilesTest, FortyLinksLeadToTheFile) {
  ScratchDir dir;
  Put(dir / "file", "old");
  const std::string first = LinkChain(dir, 40);
  std::string error;
  ASSERT_TRUE(machine::ReplaceFile(first, "new", &error)) << error;
  EXPECT_EQ(ReadFile(dir / "file"), "new");
  EXPECT_TRUE(fs::is_symlink(first));
  EXPECT_EQ(dir.Names().size(), 41u);
}

// Links planted at every name a replacement could be expected to use lead to a victim: the
// victim is untouched, the links stay, the target gets the text and keeps its mode, and nothing
// is left behind.
TEST(FilesTest, PlantedLinksAreHarmlessAndTheModeIsKept) {
  ScratchDir dir;
  Put(dir / "victim", "keep me");
  Put(dir / "out.bin", "old");
  fs::permissions(dir / "out.bin", fs::perms(0640));
  for (const char* planted : {"out.bin.tmp", "out.bin.XXXXXX", "out.bin~", ".out.bin.tmp"}) {
    fs::create_symlink("victim", dir / planted);
  }
  const std::set<std::string> before = dir.Names();
  std::string error;
  ASSERT_TRUE(machine::ReplaceFile(dir / "out.bin", "new", &error)) << error;
  EXPECT_EQ(ReadFile(dir / "out.bin"), "new");
  EXPECT_EQ(fs::status(dir / "out.bin").permissions(), fs::perms(0640));
  EXPECT_EQ(ReadFile(dir / "victim"), "keep me");
  EXPECT_EQ(dir.Names(), before);

  // A new name gets the usual mode.
  ASSERT_TRUE(machine::ReplaceFile(dir / "fresh", "x", &error)) << error;
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(fs::status(dir / "fresh").permissions(), fs::perms(0666 & ~mask));
}

// --- The seam: the order of sync and rename, and their failures -------------------------------

struct Event {
  std::string what;  // "sync" or "rename"
  std::string text;  // sync: the file's contents then; rename: "from -> to"
};
std::vector<Event> g_events;
int g_failSync = 0;
int g_failRename = 0;

std::string ContentsOf(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return "(not a file)";
  std::string text(static_cast<size_t>(st.st_size), '\0');
  if (pread(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) return "?";
  return text;
}

int RecordSync(int fd) {
  g_events.push_back({"sync", ContentsOf(fd)});
  if (g_failSync != 0) {
    errno = g_failSync;
    return -1;
  }
  return fsync(fd);
}

int RecordRename(const char* from, const char* to) {
  g_events.push_back({"rename", fs::path(from).filename().string().substr(0, 8) + " -> " +
                                    fs::path(to).filename().string()});
  if (g_failRename != 0) {
    errno = g_failRename;
    return -1;
  }
  return rename(from, to);
}

class DurableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_events.clear();
    g_failSync = 0;
    g_failRename = 0;
    old_ = machine::SetDurableCalls({RecordSync, RecordRename});
  }
  void TearDown() override { machine::SetDurableCalls(old_); }
  machine::DurableCalls old_;
};

// The whole new text is synced before the rename puts it in place, and the directory after.
TEST_F(DurableTest, SyncedBeforeRenamed) {
  ScratchDir dir;
  Put(dir / "image.txt", "old");
  std::string error;
  ASSERT_TRUE(machine::ReplaceFile(dir / "image.txt", "new text", &error)) << error;
  ASSERT_EQ(g_events.size(), 3u);
  EXPECT_EQ(g_events[0].what, "sync");
  EXPECT_EQ(g_events[0].text, "new text");
  EXPECT_EQ(g_events[1].what, "rename");
  EXPECT_EQ(g_events[1].text, "image.tx -> image.txt");
  EXPECT_EQ(g_events[2].what, "sync");
  EXPECT_EQ(g_events[2].text, "(not a file)");  // the directory
  EXPECT_EQ(ReadFile(dir / "image.txt"), "new text");
}

// A failed sync or rename fails the replacement: the old file stays and the new one is removed.
TEST_F(DurableTest, AFailureLeavesTheOldFileAndNothingElse) {
  for (int* fail : {&g_failSync, &g_failRename}) {
    ScratchDir dir;
    Put(dir / "image.txt", "old");
    g_failSync = 0;
    g_failRename = 0;
    *fail = EIO;
    std::string error;
    EXPECT_FALSE(machine::ReplaceFile(dir / "image.txt", "new", &error));
    EXPECT_EQ(error, dir / "image.txt" + ": Input/output error");
    EXPECT_EQ(ReadFile(dir / "image.txt"), "old");
    EXPECT_EQ(dir.Names(), std::set<std::string>{"image.txt"});
  }
}

// A backup is synced before it counts as made.
TEST_F(DurableTest, NewFileIsSynced) {
  ScratchDir dir;
  std::string path;
  std::string error;
  ASSERT_TRUE(machine::CreateNewFile(dir.path(), "b", ".txt", "backup", &path, &error)) << error;
  ASSERT_GE(g_events.size(), 1u);
  EXPECT_EQ(g_events[0].what, "sync");
  EXPECT_EQ(g_events[0].text, "backup");
  g_failSync = EIO;
  EXPECT_FALSE(machine::CreateNewFile(dir.path(), "c", ".txt", "backup", &path, &error));
  EXPECT_EQ(error, dir / "c.txt" + ": Input/output error");
  EXPECT_EQ(dir.Names(), std::set<std::string>{"b.txt"});
}

// --- New files ---------------------------------------------------------------------------------

// A name taken by anything, a dangling link too, is passed over: the link's destination is never
// created, and each file made is reported by the name it got.
TEST(FilesTest, NewFilesTakeTheNextFreeName) {
  ScratchDir dir;
  fs::create_symlink("victim", dir / "b.txt");
  Put(dir / "b-3.txt", "there");
  std::vector<std::string> made;
  for (int i = 0; i < 3; ++i) {
    std::string path;
    std::string error;
    ASSERT_TRUE(machine::CreateNewFile(dir.path(), "b", ".txt", std::to_string(i), &path, &error))
        << error;
    made.push_back(path);
  }
  EXPECT_EQ(made, (std::vector<std::string>{dir / "b-2.txt", dir / "b-4.txt", dir / "b-5.txt"}));
  EXPECT_FALSE(fs::exists(dir / "victim"));
  EXPECT_EQ(ReadFile(dir / "b-2.txt"), "0");
  EXPECT_EQ(ReadFile(dir / "b-3.txt"), "there");
  EXPECT_EQ(ReadFile(dir / "b-5.txt"), "2");
}

// An unwritable directory is refused for anyone but the superuser; the tests run as root in CI,
// so the check runs in a child that has given up its privileges.
TEST(FilesTest, UnwritableDirectoryIsRefusedToAnOrdinaryUser) {
  ScratchDir dir;
  fs::permissions(dir.path(), fs::perms(0755));
  Put(dir / "image.txt", "old");
  fs::permissions(dir / "image.txt", fs::perms(0666));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(10);
    // The directory is root's (or the user's own, made unwritable).
    if (geteuid() != 0 && access(dir.path().c_str(), W_OK) == 0) {
      chmod(dir.path().c_str(), 0555);
    }
    bool exists = false;
    std::string error;
    const bool checked = machine::CheckReplaceable(dir / "image.txt", &exists, &error);
    if (checked || error != dir / "image.txt" + ": Permission denied") _exit(11);
    if (machine::ReplaceFile(dir / "new.txt", "x", &error)) _exit(12);
    std::string path;
    if (machine::CreateNewFile(dir.path(), "b", ".txt", "x", &path, &error)) _exit(13);
    if (error != dir / "b.txt" + ": Permission denied") _exit(14);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(dir / "image.txt"), "old");
  EXPECT_EQ(dir.Names(), std::set<std::string>{"image.txt"});
}

// --- Reading ---------------------------------------------------------------------------------

// Inputs: a FIFO with no writer is refused at once instead of waited on, a device and a directory
// are refused, a file larger than the limit is refused unread, and one of exactly the limit is
// read whole.
TEST(FilesTest, InputsAreRegularFilesWithinTheLimit) {
  ScratchDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0666), 0);
  fs::create_directory(dir / "dir");
  Put(dir / "limit", std::string(100, 'a'));
  Put(dir / "over", std::string(101, 'a'));
  struct Case {
    std::string path;
    ReadResult result;
    std::string error;
  };
  const std::string tooLarge = ": larger than 100 bytes, more than any image; not read";
  for (const Case& c :
       std::vector<Case>{{dir / "fifo", ReadResult::kBad, dir / "fifo" + ": not a regular file"},
                         {"/dev/zero", ReadResult::kBad, "/dev/zero: not a regular file"},
                         {dir / "dir", ReadResult::kBad, dir / "dir" + ": Is a directory"},
                         {dir / "over", ReadResult::kBad, dir / "over" + tooLarge},
                         {dir / "none", ReadResult::kMissing, ""},
                         {dir / "limit", ReadResult::kRead, ""}}) {
    std::string text;
    std::string error;
    EXPECT_EQ(machine::ReadInputFile(c.path, 100, &text, &error), c.result) << c.path;
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(text, c.result == ReadResult::kRead ? std::string(100, 'a') : "");
  }
}

// Standard input is cut off one byte past the limit, however much more there is.
TEST(FilesTest, StandardInputStopsPastTheLimit) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const int saved = dup(STDIN_FILENO);
  dup2(fds[0], STDIN_FILENO);
  close(fds[0]);
  const std::string fits(64, 'x');
  ASSERT_EQ(write(fds[1], fits.data(), fits.size()), 64);
  close(fds[1]);
  std::string text;
  std::string error;
  EXPECT_TRUE(machine::ReadStandardInput(64, &text, &error)) << error;
  EXPECT_EQ(text, fits);

  ASSERT_EQ(pipe(fds), 0);
  dup2(fds[0], STDIN_FILENO);
  close(fds[0]);
  ASSERT_EQ(write(fds[1], fits.data(), fits.size()), 64);
  close(fds[1]);
  text.clear();
  EXPECT_FALSE(machine::ReadStandardInput(63, &text, &error));
  EXPECT_EQ(error, "standard input: larger than 63 bytes, more than any image; not read");
  EXPECT_EQ(text, "");
  dup2(saved, STDIN_FILENO);
  close(saved);
}

// The EEPROM file's reader is capped: an image followed by a mass of blanks is refused unread.
TEST(FilesTest, EepromFileIsCapped) {
  ScratchDir dir;
  std::string image;
  for (int i = 0; i < 64; ++i) image += "0000\n";
  Put(dir / "padded.txt", image + std::string(machine::kMaxImageFileBytes, ' '));
  Put(dir / "fits.txt", image + std::string(machine::kMaxImageFileBytes - image.size(), ' '));
  machine::EepromImage words{};
  std::string error;
  EXPECT_EQ(machine::LoadEepromFile(dir / "padded.txt", &words, &error), machine::LoadResult::kBad);
  EXPECT_EQ(error, dir / "padded.txt" + ": larger than 16384 bytes, more than any image; not read");
  EXPECT_EQ(machine::LoadEepromFile(dir / "fits.txt", &words, &error), machine::LoadResult::kLoaded)
      << error;
}

}  // namespace
