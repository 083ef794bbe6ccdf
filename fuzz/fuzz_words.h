// A fuzz input read as a command line: `program`, then one word per run of bytes up to each NUL
// or newline (empty words kept, the last word without its end too).
#ifndef ZARERERA_FUZZ_FUZZ_WORDS_H
#define ZARERERA_FUZZ_FUZZ_WORDS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

inline std::vector<std::string> Words(const char* program, const uint8_t* data, size_t size) {
  std::vector<std::string> args{program};
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\0' || data[i] == '\n') {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty()) args.push_back(current);
  return args;
}

}  // namespace fuzz

#endif  // ZARERERA_FUZZ_FUZZ_WORDS_H
