// The file that keeps a simulated EEPROM's contents between runs: 64 words as text, eight
// four-digit hexadecimal words a line, so that a person can read, diff and edit it.
#ifndef ZARERERA_TOOLS_MACHINE_EEPROM_FILE_H
#define ZARERERA_TOOLS_MACHINE_EEPROM_FILE_H

#include <array>
#include <cstdint>
#include <string>

namespace machine {

constexpr size_t kEepromWords = 64;  // a 93C46 in 16-bit organisation
using EepromImage = std::array<uint16_t, kEepromWords>;

// The most an image file may hold, in any of its forms: an image is 128 bytes, its text some 320;
// a file longer than this is no image and is refused before it is read.
constexpr size_t kMaxImageFileBytes = 16 * 1024;

enum class LoadResult { kLoaded, kMissing, kBad };

// The whole of a regular file of at most `limit` bytes (ReadInputFile in files.h): kMissing when
// there is none, kBad with "path: reason".
LoadResult LoadTextFile(const std::string& path, size_t limit, std::string* text,
                        std::string* error);

// Reads exactly 64 hexadecimal words (blanks and newlines between them, nothing else) from a
// regular file of at most kMaxImageFileBytes. kMissing when there is no such file; kBad with
// "path: reason" when it cannot be read or is not an image.
LoadResult LoadEepromFile(const std::string& path, EepromImage* image, std::string* error);

// The same for the text itself, named `name` in the error ("name: reason").
bool ParseEepromText(const std::string& text, const std::string& name, EepromImage* image,
                     std::string* error);

// The file's text for `image`: eight words a line.
std::string FormatEepromImage(const EepromImage& image);

// Replaces `path` with the image (see ReplaceFile in files.h: never half a file, the file's mode
// and a symbolic link kept). False with "path: reason".
bool SaveEepromFile(const std::string& path, const EepromImage& image, std::string* error);

}  // namespace machine

#endif  // ZARERERA_TOOLS_MACHINE_EEPROM_FILE_H
