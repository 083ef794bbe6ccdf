// Loading and saving an EEPROM image as text.
#include "eeprom_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace p9050diag {

namespace {

bool ParseWord(const std::string& token, uint16_t* word) {
  if (token.empty() || token.size() > 4) return false;
  unsigned value = 0;
  for (char c : token) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    value = value * 16 + static_cast<unsigned>(digit);
  }
  *word = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

LoadResult LoadEepromFile(const std::string& path, EepromImage* image, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && !ec) return LoadResult::kMissing;
  std::ifstream in(path);
  if (!in) {
    *error = path + ": cannot read";
    return LoadResult::kBad;
  }
  EepromImage words{};
  size_t count = 0;
  std::string token;
  while (in >> token) {
    if (count == kEepromWords) {
      *error = path + ": more than " + std::to_string(kEepromWords) + " words";
      return LoadResult::kBad;
    }
    if (!ParseWord(token, &words[count])) {
      *error = path + ": word " + std::to_string(count) + " is not 1-4 hexadecimal digits: '" +
               token + "'";
      return LoadResult::kBad;
    }
    ++count;
  }
  if (count != kEepromWords) {
    *error =
        path + ": " + std::to_string(count) + " words, expected " + std::to_string(kEepromWords);
    return LoadResult::kBad;
  }
  *image = words;
  return LoadResult::kLoaded;
}

bool SaveEepromFile(const std::string& path, const EepromImage& image, std::string* error) {
  std::ostringstream text;
  char word[8];
  for (size_t i = 0; i < kEepromWords; ++i) {
    std::snprintf(word, sizeof word, "%04x", static_cast<unsigned>(image[i]));
    text << word << ((i % 8 == 7) ? '\n' : ' ');
  }
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << text.str();
    out.flush();
    if (!out) {
      *error = temporary + ": cannot write";
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    *error = path + ": " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace p9050diag
