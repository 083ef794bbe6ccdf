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

#include <string>
#include <string_view>

#include "support/console_files.h"

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

}  // namespace testsupport

#endif  // ZARERERA_TESTS_SUPPORT_TRANSCRIPT_H
