// The console pointed at files for a test: what the prompts read and everything they print.
#ifndef ZARERERA_TESTS_SUPPORT_CONSOLE_FILES_H
#define ZARERERA_TESTS_SUPPORT_CONSOLE_FILES_H

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include "console/console.h"

namespace testsupport {

// The whole of a file, byte for byte ("" when it cannot be read).
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A unique path in the system's temporary directory, removed with the object.
class TempFile {
 public:
  explicit TempFile(const std::string& tag) {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("zarerera_" + tag + "_" + std::to_string(Pid()) + "_" + std::to_string(counter++));
  }
  ~TempFile() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  std::string path() const { return path_.string(); }
  void Write(const std::string& text) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::string Read() const { return ReadFile(path_); }

 private:
  static long Pid() {
#ifdef _WIN32
    return static_cast<long>(_getpid());
#else
    return static_cast<long>(getpid());
#endif
  }
  std::filesystem::path path_;
};

// Points the console module at files for the lifetime of the object: `input` is what the prompts
// read; Output() is everything printed so far.
class ConsoleFiles {
 public:
  explicit ConsoleFiles(const std::string& input) : in_file_("in"), out_file_("out") {
    in_file_.Write(input);
    in_ = std::fopen(in_file_.path().c_str(), "rb");
    out_ = std::fopen(out_file_.path().c_str(), "wb");
    DiagConsole_SetStreams(in_, out_);
  }
  ~ConsoleFiles() {
    DiagConsole_SetStreams(nullptr, nullptr);
    if (in_ != nullptr) std::fclose(in_);
    if (out_ != nullptr) std::fclose(out_);
  }
  ConsoleFiles(const ConsoleFiles&) = delete;
  ConsoleFiles& operator=(const ConsoleFiles&) = delete;

  bool ok() const { return in_ != nullptr && out_ != nullptr; }
  std::string Output() const {
    std::fflush(out_);
    return out_file_.Read();
  }
  // What the prompts have not read yet.
  std::string RemainingInput() const {
    std::string rest;
    int c;
    while ((c = std::getc(in_)) != EOF) rest.push_back(static_cast<char>(c));
    return rest;
  }

 private:
  TempFile in_file_;
  TempFile out_file_;
  FILE* in_ = nullptr;
  FILE* out_ = nullptr;
};

}  // namespace testsupport

#endif  // ZARERERA_TESTS_SUPPORT_CONSOLE_FILES_H
