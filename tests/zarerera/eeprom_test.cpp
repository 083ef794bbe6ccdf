// eeprom write and verify on the simulated part, whose contents live in an EEPROM file between
// runs: the backup taken before any change, only differing words written, a worn-out cell, the
// ID-word guard, and the progress bar on a terminal only.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "run_command.h"

namespace {

using cmdtest::Result;
using cmdtest::Zarerera;
using testsupport::TempFile;

using testsupport::ReadFile;

// Replaces word `index` (four hex digits) in a text image.
std::string WithWord(std::string image, size_t index, const std::string& word) {
  image.replace(index * 5, 4, word);
  return image;
}

class EepromTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(backups_);
    // The part's starting contents, kept in its file.
    const Result r = Machine({"eeprom", "dump", eeprom_.path()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    original_ = eeprom_.Read();
    ASSERT_EQ(original_.size(), 64u * 5);
  }
  void TearDown() override { std::filesystem::remove_all(backups_); }

  Result Machine(std::vector<std::string> args, const std::string& stdinPath = "") {
    args.insert(args.begin(), {"--fast", "--eeprom-file", eeprom_.path()});
    return Zarerera(args, "", false, stdinPath);
  }
  std::vector<std::filesystem::path> Backups() const {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(backups_)) {
      files.push_back(entry.path());
    }
    return files;
  }

  TempFile eeprom_{"eeprom"};
  TempFile image_{"image"};
  std::filesystem::path backups_ =
      std::filesystem::temp_directory_path() / ("zarerera_backups_" + std::to_string(getpid()));
  std::string original_;
};

TEST_F(EepromTest, WriteBacksUpFirstThenWritesOnlyTheDifferingWords) {
  const std::string wanted =
      WithWord(WithWord(WithWord(original_, 2, "0681"), 8, "1234"), 40, "beef");
  image_.Write(wanted);

  Result r = Machine({"eeprom", "verify", image_.path()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out,
            "word  2 (offset 0x04): file 0681, EEPROM 0680\n"
            "word  8 (offset 0x10): file 1234, EEPROM 0000\n"
            "word 40 (offset 0x50): file beef, EEPROM 0000\n");
  EXPECT_EQ(r.err, "zarerera: the EEPROM differs from " + image_.path() + " in 3 words\n");

  r = Machine({"--json", "eeprom", "write", image_.path(), "--backup-dir", backups_.string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");  // no progress bar on a pipe
  const nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["written"], nlohmann::json({2, 8, 40}));
  EXPECT_EQ(doc["unchanged"], 61);
  const std::vector<std::filesystem::path> backups = Backups();
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(doc["backup"], backups[0].string());
  EXPECT_TRUE(std::regex_match(backups[0].filename().string(),
                               std::regex(R"(eeprom-00_05_0-\d{8}-\d{6}\.txt)")))
      << backups[0];
  EXPECT_EQ(ReadFile(backups[0]), original_);
  EXPECT_EQ(eeprom_.Read(), wanted);

  r = Machine({"eeprom", "verify", image_.path()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  r = Machine({"--json", "eeprom", "verify", image_.path()});
  EXPECT_EQ(nlohmann::json::parse(r.out)["equal"], true);

  // A second backup in the same second gets a name of its own.
  r = Machine({"eeprom", "write", image_.path(), "--backup-dir", backups_.string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), "wrote 0 of 64 words\n");
  EXPECT_EQ(Backups().size(), 2u);
}

// A worn-out cell: the write stops there with the library's reason; the words before it are
// written, the rest are not, and the backup holds the former contents.
TEST_F(EepromTest, FailingWordStopsTheWrite) {
  const std::string wanted =
      WithWord(WithWord(WithWord(original_, 10, "1111"), 16, "2222"), 17, "3333");
  image_.Write(wanted);
  Result r = Machine({"--sim-worn-out-word=16", "eeprom", "write", image_.path(), "--backup-dir",
                      backups_.string()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  ASSERT_EQ(Backups().size(), 1u);
  EXPECT_EQ(r.err,
            "zarerera: writing EEPROM word 16 (offset 0x20): Write 0x2222, Read 0x0000; 1 "
            "of 3 words written before it; the former contents are in " +
                Backups()[0].string() + "\n");
  EXPECT_EQ(ReadFile(Backups()[0]), original_);
  EXPECT_EQ(eeprom_.Read(), WithWord(original_, 10, "1111"));

  r = Machine({"--json", "eeprom", "verify", image_.path()});
  EXPECT_EQ(r.exitCode, 1);
  const nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["equal"], false);
  EXPECT_EQ(doc["differences"],
            nlohmann::json({{{"word", 16}, {"file", "2222"}, {"eeprom", "0000"}},
                            {{"word", 17}, {"file", "3333"}, {"eeprom", "0000"}}}));
}

// The backup comes before any change: when it cannot be written, nothing is.
TEST_F(EepromTest, NoBackupNoWrite) {
  image_.Write(WithWord(original_, 5, "abcd"));
  Result r = Machine({"eeprom", "write", image_.path(), "--backup-dir", "/nonexistent/dir"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("zarerera: /nonexistent/dir/eeprom-00_05_0-", 0), 0u) << r.err;
  EXPECT_EQ(eeprom_.Read(), original_);

  r = Machine({"eeprom", "write", image_.path(), "--no-backup"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "wrote 1 of 64 words, read back and verified\n");
  EXPECT_EQ(eeprom_.Read(), WithWord(original_, 5, "abcd"));
}

// Ctrl-C or SIGTERM in the middle of a real-time write: the word in progress is finished, the
// message says how far the write got and which backup restores the rest, the EEPROM file holds
// exactly the words written, and the status is the signal's.
struct StopCase {
  const char* name;
  int signo;
  int status;
};

void PrintTo(const StopCase& c, std::ostream* os) {
  *os << c.name;
}

class StoppedWriteTest : public EepromTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StoppedWriteTest, FinishesTheWordAndSaysHowToRestore) {
  // Words 20-59, each 0000 or ffff now, get 1111: 40 words of about 120 ms each.
  std::string wanted = original_;
  for (size_t i = 20; i < 60; ++i) wanted = WithWord(wanted, i, "1111");
  image_.Write(wanted);
  const std::vector<std::string> args = {"--real-time",  "--eeprom-file",  eeprom_.path(),
                                         "eeprom",       "write",          image_.path(),
                                         "--backup-dir", backups_.string()};
  // The backup is saved once the EEPROM has been read: writing starts then.
  const cmdtest::Ending e = cmdtest::ZarereraSignalled(
      args, GetParam().signo, [this] { return !Backups().empty(); },
      std::chrono::milliseconds(400));
  ASSERT_TRUE(WIFEXITED(e.status)) << e.err;
  EXPECT_EQ(WEXITSTATUS(e.status), GetParam().status);
  EXPECT_EQ(e.out, "");
  ASSERT_EQ(Backups().size(), 1u);
  const std::string backup = Backups()[0].string();
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      e.err, m,
      std::regex("zarerera: interrupted after (\\d+) of 40 words; restore with: zarerera eeprom "
                 "write (.*)\n")))
      << e.err;
  EXPECT_EQ(m[2].str(), backup);
  const size_t done = std::stoul(m[1].str());
  EXPECT_LT(done, 40u);
  std::string expected = original_;
  for (size_t i = 20; i < 20 + done; ++i) expected = WithWord(expected, i, "1111");
  EXPECT_EQ(eeprom_.Read(), expected);
  EXPECT_EQ(ReadFile(backup), original_);

  // The command it names puts the former contents back.
  const Result r = Machine({"eeprom", "write", backup, "--no-backup"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(eeprom_.Read(), original_);
}

INSTANTIATE_TEST_SUITE_P(Signals, StoppedWriteTest,
                         ::testing::Values(StopCase{"CtrlC", SIGINT, 130},
                                           StopCase{"Term", SIGTERM, 143}),
                         [](const ::testing::TestParamInfo<StopCase>& info) {
                           return std::string(info.param.name);
                         });

// Stopped while the EEPROM is still being read (a second in; reading takes about three): nothing
// is written and no backup is taken.
TEST_F(EepromTest, StoppedBeforeWritingWritesNothing) {
  image_.Write(WithWord(original_, 30, "1111"));
  const cmdtest::Ending e = cmdtest::ZarereraSignalled(
      {"--real-time", "--eeprom-file", eeprom_.path(), "eeprom", "write", image_.path(),
       "--backup-dir", backups_.string()},
      SIGINT, [] { return true; }, std::chrono::milliseconds(1000));
  ASSERT_TRUE(WIFEXITED(e.status)) << e.err;
  EXPECT_EQ(WEXITSTATUS(e.status), 130);
  EXPECT_EQ(e.err, "zarerera: interrupted while reading the EEPROM; nothing written\n");
  EXPECT_TRUE(Backups().empty());
  EXPECT_EQ(eeprom_.Read(), original_);
}

struct IdCase {
  size_t word;
  const char* value;
};

void PrintTo(const IdCase& c, std::ostream* os) {
  *os << "word " << c.word << " = " << c.value;
}

class IdWordTest : public EepromTest, public ::testing::WithParamInterface<IdCase> {};

// An image without IDs is refused before anything is read or written, unless forced.
TEST_P(IdWordTest, RefusedUnlessForced) {
  const std::string wanted = WithWord(original_, GetParam().word, GetParam().value);
  image_.Write(wanted);
  Result r = Machine({"eeprom", "write", image_.path(), "--backup-dir", backups_.string()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "zarerera: " + image_.path() + ": ID word " + std::to_string(GetParam().word) +
                       " is 0x" + GetParam().value +
                       ", which would leave the board without its IDs; --force writes it anyway\n");
  EXPECT_TRUE(Backups().empty());
  EXPECT_EQ(eeprom_.Read(), original_);

  r = Machine({"eeprom", "write", "--force", image_.path(), "--backup-dir", backups_.string()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(eeprom_.Read(), wanted);
}

INSTANTIATE_TEST_SUITE_P(Words, IdWordTest,
                         ::testing::Values(IdCase{0, "0000"}, IdCase{0, "ffff"}, IdCase{1, "0000"},
                                           IdCase{1, "ffff"}),
                         [](const ::testing::TestParamInfo<IdCase>& info) {
                           return "Word" + std::to_string(info.param.word) + "_" + info.param.value;
                         });

struct FormatCase {
  const char* format;
};

void PrintTo(const FormatCase& c, std::ostream* os) {
  *os << c.format;
}

class FormatTest : public EepromTest, public ::testing::WithParamInterface<FormatCase> {};

// An image dumped in each form writes back and verifies in the same form.
TEST_P(FormatTest, DumpedImageRoundTrips) {
  const std::string format = std::string("--format=") + GetParam().format;
  image_.Write(WithWord(original_, 20, "5a5a"));
  ASSERT_EQ(Machine({"eeprom", "write", "--no-backup", image_.path()}).exitCode, 0);
  TempFile dumped("dumped");
  Result r = Machine({"eeprom", "dump", dumped.path(), format});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  r = Machine({"eeprom", "verify", dumped.path(), format});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(Machine({"eeprom", "write", "--no-backup", dumped.path() + "x"}).exitCode, 1);
  // Back to the original, then the dumped image restores the changed word.
  image_.Write(original_);
  ASSERT_EQ(Machine({"eeprom", "write", "--no-backup", image_.path()}).exitCode, 0);
  r = Machine({"eeprom", "write", "--no-backup", dumped.path(), format});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "wrote 1 of 64 words, read back and verified\n");
  EXPECT_EQ(eeprom_.Read(), WithWord(original_, 20, "5a5a"));
}

// Without --format the form is told by the content, on standard input too ("-").
TEST_P(FormatTest, FormDetectedOnStandardInput) {
  image_.Write(WithWord(original_, 7, "0bad"));
  ASSERT_EQ(Machine({"eeprom", "write", "--no-backup", image_.path()}).exitCode, 0);
  TempFile dumped("dumped");
  ASSERT_EQ(Machine({"eeprom", "dump", dumped.path(), std::string("--format=") + GetParam().format})
                .exitCode,
            0);
  image_.Write(original_);
  ASSERT_EQ(Machine({"eeprom", "write", "--no-backup", image_.path()}).exitCode, 0);

  Result r = Machine({"eeprom", "verify", "-"}, dumped.path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "word  7 (offset 0x0e): file 0bad, EEPROM 0000\n");
  EXPECT_EQ(r.err, "zarerera: the EEPROM differs from standard input in 1 word\n");
  r = Machine({"eeprom", "write", "--no-backup", "-"}, dumped.path());
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "wrote 1 of 64 words, read back and verified\n");
  EXPECT_EQ(eeprom_.Read(), WithWord(original_, 7, "0bad"));
  r = Machine({"eeprom", "verify", dumped.path()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Forms, FormatTest,
                         ::testing::Values(FormatCase{"text"}, FormatCase{"hex"},
                                           FormatCase{"bin"}),
                         [](const ::testing::TestParamInfo<FormatCase>& info) {
                           return std::string(info.param.format);
                         });

// What a malformed image on standard input is told, counts in the singular or plural; nothing
// is written.
struct BadInputCase {
  const char* name;
  std::string content;
  std::string error;
};

void PrintTo(const BadInputCase& c, std::ostream* os) {
  *os << c.name;
}

class BadInputTest : public EepromTest, public ::testing::WithParamInterface<BadInputCase> {};

TEST_P(BadInputTest, RefusedBeforeAnyWrite) {
  image_.Write(GetParam().content);
  const Result r = Machine({"eeprom", "write", "--no-backup", "-"}, image_.path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "zarerera: standard input: " + GetParam().error + "\n");
  EXPECT_EQ(eeprom_.Read(), original_);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, BadInputTest,
    ::testing::Values(
        BadInputCase{"OneWord", "10b5\n", "1 word, expected 64"},
        BadInputCase{"NoWords", "", "0 words, expected 64"},
        BadInputCase{"OneByteOfBinary", std::string(1, '\x01'), "1 byte, expected 128"},
        BadInputCase{"BinaryOneShort", std::string(127, '\xff'), "127 bytes, expected 128"},
        BadInputCase{"HexOneByte", "0000: 10\n", "1 byte, expected 128"},
        BadInputCase{"HexWrongOffset", "0000: 10 b5\n0004: 00\n",
                     "line 2: expected the offset '0002:', not '0004:'"}),
    [](const ::testing::TestParamInfo<BadInputCase>& info) { return info.param.name; });

// The bar shows on a terminal, with words done and time left, and ends with its line.
TEST_F(EepromTest, ProgressBarOnATerminalOnly) {
  image_.Write(WithWord(WithWord(original_, 3, "0003"), 4, "0004"));
  const std::vector<std::string> args = {"--fast", "--eeprom-file", eeprom_.path(), "eeprom",
                                         "write",  "--no-backup",   image_.path()};
  const Result r = cmdtest::RunOnTerminal(args);
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("Writing EEPROM [..............................] 0/2 words, --:-- left"),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(std::regex_search(
      r.out, std::regex(R"(\rWriting EEPROM \[#{30}\] 2/2 words, \d+:\d\d left\r?\n)")))
      << r.out;
  EXPECT_NE(r.out.find("Reading EEPROM ["), std::string::npos);
  EXPECT_NE(r.out.find("wrote 2 of 64 words"), std::string::npos);

  image_.Write(original_);
  const Result piped = Machine({"eeprom", "write", "--no-backup", image_.path()});
  EXPECT_EQ(piped.exitCode, 0);
  EXPECT_EQ(piped.err, "");
}

}  // namespace
