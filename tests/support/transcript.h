// Console transcripts: what a terminal session shows, with the user's typing marked, split into
// the input a program reads and the output it must print.
//
// Text between « and » is typed by the user; a line feed right after » is the Enter key and
// belongs to the input (the terminal echoes it, the program does not print it). So
//   "Enter option: «3»\n"
// feeds "3\n" and expects "Enter option: ". A » not followed by a line feed types no Enter, which
// lets a test end the input in the middle of a line.
#ifndef ZARERERA_TESTS_SUPPORT_TRANSCRIPT_H
#define ZARERERA_TESTS_SUPPORT_TRANSCRIPT_H

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include "p9050/console_io.h"

namespace testsupport {

struct Transcript {
  std::string input;
  std::string output;
};

inline Transcript ParseTranscript(std::string_view session) {
  static constexpr std::string_view kOpen = "«";
  static constexpr std::string_view kClose = "»";
  Transcript t;
  size_t at = 0;
  while (at < session.size()) {
    size_t open = session.find(kOpen, at);
    if (open == std::string_view::npos) {
      t.output.append(session.substr(at));
      break;
    }
    t.output.append(session.substr(at, open - at));
    size_t start = open + kOpen.size();
    size_t close = session.find(kClose, start);
    if (close == std::string_view::npos) close = session.size();  // malformed: typed to the end
    t.input.append(session.substr(start, close - start));
    at = close + kClose.size();
    if (at < session.size() && session[at] == '\n') {
      t.input.push_back('\n');
      ++at;
    }
  }
  return t;
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
  std::string Read() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

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
    P9050_ConsoleSetStreams(in_, out_);
  }
  ~ConsoleFiles() {
    P9050_ConsoleSetStreams(nullptr, nullptr);
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

#endif  // ZARERERA_TESTS_SUPPORT_TRANSCRIPT_H
