// Loading and saving an EEPROM image as text.
#include "eeprom_file.h"

#include <cstdio>
#include <sstream>

#include "files.h"
#include "options.h"

namespace machine {

LoadResult LoadTextFile(const std::string& path, size_t limit, std::string* text,
                        std::string* error) {
  switch (ReadInputFile(path, limit, text, error)) {
    case ReadResult::kRead:
      return LoadResult::kLoaded;
    case ReadResult::kMissing:
      return LoadResult::kMissing;
    case ReadResult::kBad:
      break;
  }
  return LoadResult::kBad;
}

LoadResult LoadEepromFile(const std::string& path, EepromImage* image, std::string* error) {
  std::string text;
  const LoadResult read = LoadTextFile(path, kMaxImageFileBytes, &text, error);
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
               Shown(token) + "'";
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
