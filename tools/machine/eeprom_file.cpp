// Loading and saving an EEPROM image as text.
#include "eeprom_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "files.h"
#include "options.h"

namespace machine {

LoadResult ReadTextFile(const std::string& path, std::string* text, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    if (errno == ENOENT) return LoadResult::kMissing;
    *error = path + ": " + std::strerror(errno);
    return LoadResult::kBad;
  }
  text->clear();
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text->append(chunk, n);
  const bool readError = std::ferror(file) != 0;
  const int readErrno = errno;
  std::fclose(file);
  if (readError) {
    *error = path + ": " + std::strerror(readErrno);
    return LoadResult::kBad;
  }
  return LoadResult::kLoaded;
}

LoadResult LoadEepromFile(const std::string& path, EepromImage* image, std::string* error) {
  std::string text;
  const LoadResult read = ReadTextFile(path, &text, error);
  if (read != LoadResult::kLoaded) return read;
  return ParseEepromText(text, path, image, error) ? LoadResult::kLoaded : LoadResult::kBad;
}

bool ParseEepromText(const std::string& text, const std::string& path, EepromImage* image,
                     std::string* error) {
  std::istringstream in(text);
  EepromImage words{};
  size_t count = 0;
  std::string token;
  while (in >> token) {
    if (count == kEepromWords) {
      *error = path + ": more than " + std::to_string(kEepromWords) + " words";
      return false;
    }
    if (!ParseHexWord(token, &words[count])) {
      *error = path + ": word " + std::to_string(count) + " is not 1-4 hexadecimal digits: '" +
               token + "'";
      return false;
    }
    ++count;
  }
  if (count != kEepromWords) {
    *error = path + ": " + std::to_string(count) + (count == 1 ? " word" : " words") +
             ", expected " + std::to_string(kEepromWords);
    return false;
  }
  *image = words;
  return true;
}

std::string FormatEepromImage(const EepromImage& image) {
  std::string text;
  char word[8];
  for (size_t i = 0; i < kEepromWords; ++i) {
    std::snprintf(word, sizeof word, "%04x", static_cast<unsigned>(image[i]));
    text += word;
    text += (i % 8 == 7) ? '\n' : ' ';
  }
  return text;
}

bool SaveEepromFile(const std::string& path, const EepromImage& image, std::string* error) {
  return ReplaceFile(path, FormatEepromImage(image), error);
}

}  // namespace machine
