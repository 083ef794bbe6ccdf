// The tools' file layer against a directory the input fills with hostile entries: regular files
// of any mode, links (to names inside, to a victim outside, to themselves, dangling), FIFOs and
// directories, then replaces, creates and reads names in it. Nothing outside the directory may
// change (the victim keeps its contents) but through a replacement of a link that leads there,
// a replacement that succeeds leaves exactly the new text
// at the end of the name's links and no temporary file, and a refusal or failure leaves the
// directory's names as they were; a read never hangs (a FIFO is refused) and stays within its
// limit.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_console.h"
#include "fuzz_dir.h"
#include "machine/files.h"

namespace {

namespace fs = std::filesystem;

const char* const kNames[] = {"a", "b", "a.tmp", "b-2", "sub/a", "sub", "c.txt", "c-2.txt"};

std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    names.insert(fs::relative(it->path(), dir, ec).string());
  }
  return names;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void Check(bool ok, const char* what) {
  fuzz::Check(ok, "file_layer", what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz::ScratchDir& scratch = fuzz::Scratch("files");
  scratch.Empty();
  const std::string dir = scratch / "d";
  const std::string victim = scratch / "victim";
  fs::create_directory(dir);
  { std::ofstream(victim) << "victim"; }
  std::string victimText = "victim";  // what it holds: a link of the input may lead there
  FuzzedDataProvider in(data, size);
  constexpr size_t kNameCount = sizeof kNames / sizeof kNames[0];

  // The hostile entries.
  for (int entries = in.ConsumeIntegralInRange(0, 8); entries > 0; --entries) {
    const std::string name =
        dir + "/" + kNames[in.ConsumeIntegralInRange<size_t>(0, kNameCount - 1)];
    std::error_code ec;
    fs::create_directories(fs::path(name).parent_path(), ec);
    fs::remove_all(name, ec);  // a new entry replaces one of that name, never writes through it
    switch (in.ConsumeIntegralInRange(0, 6)) {
      case 0: {
        std::ofstream(name) << in.ConsumeRandomLengthString(64);
        chmod(name.c_str(), in.ConsumeIntegral<uint16_t>() & 0777);
        break;
      }
      case 1:
        fs::create_symlink(kNames[in.ConsumeIntegralInRange<size_t>(0, kNameCount - 1)], name, ec);
        break;
      case 2:
        fs::create_symlink(victim, name, ec);
        break;
      case 3:
        fs::create_symlink(fs::path(name).filename(), name, ec);
        break;
      case 4:
        mkfifo(name.c_str(), 0666);
        break;
      case 5:
        fs::create_directory(name, ec);
        break;
      default:
        fs::create_symlink("nowhere", name, ec);
        break;
    }
  }

  // The operations.
  while (in.remaining_bytes() > 0) {
    const std::string name =
        dir + "/" + kNames[in.ConsumeIntegralInRange<size_t>(0, kNameCount - 1)];
    const std::string text = in.ConsumeRandomLengthString(256);
    const std::set<std::string> before = Names(dir);
    std::string error;
    std::error_code ec;
    switch (in.ConsumeIntegralInRange(0, 3)) {
      case 0: {
        if (machine::ReplaceFile(name, text, &error)) {
          std::string target;
          Check(machine::ResolveLinks(name, &target, &error), "a replaced name does not resolve");
          Check(Contents(target) == text, "a replaced file does not hold the text");
          if (fs::equivalent(target, victim, ec)) victimText = text;
          std::set<std::string> after = Names(dir);
          for (const std::string& n : before) after.erase(n);
          Check(after.size() <= 1, "a replacement left a file behind");
        } else {
          Check(!error.empty(), "a refused replacement without a message");
          Check(Names(dir) == before, "a refused replacement changed the directory");
        }
        break;
      }
      case 1: {
        std::string path;
        const bool made =
            machine::CreateNewFile(fs::path(name).parent_path().string(),
                                   fs::path(name).stem().string(), ".txt", text, &path, &error);
        if (made) {
          Check(!before.count(fs::relative(path, dir).string()), "a new file over an old name");
          Check(!fs::is_symlink(path) && Contents(path) == text, "a new file is not the text");
        } else {
          Check(Names(dir) == before, "a failed creation changed the directory");
        }
        break;
      }
      case 2: {
        std::string read;
        const size_t limit = in.ConsumeIntegralInRange<size_t>(0, 128);
        const machine::ReadResult r = machine::ReadInputFile(name, limit, &read, &error);
        Check(read.size() <= limit, "a read past its limit");
        if (r == machine::ReadResult::kRead) {
          struct stat st {};
          Check(stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode), "read what is not a file");
        }
        break;
      }
      default: {
        bool exists = false;
        (void)machine::CheckReplaceable(name, &exists, &error);
        Check(Names(dir) == before, "a check changed the directory");
        break;
      }
    }
    Check(Contents(victim) == victimText, "the file outside the directory changed");
  }
  return 0;
}
