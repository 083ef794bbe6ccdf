// EEPROM images in files, in three forms:
//   text  the console host's file: 64 words as four hexadecimal digits, eight to a line;
//   hex   a dump with byte offsets, sixteen bytes to a line ("0010: 12 34 ..."), each word's
//         high byte first (the order the part shifts its bits out, and the order of the dwords
//         the console's EEPROM menu shows);
//   bin   the same 128 bytes, raw.
// Files are written through a temporary file renamed over the target (machine/files.h); "-" is
// standard input or output.
#ifndef ZARERERA_TOOLS_ZARERERA_EEPROM_IMAGE_H
#define ZARERERA_TOOLS_ZARERERA_EEPROM_IMAGE_H

#include <string>

#include "config.h"
#include "machine/eeprom_file.h"

namespace zcmd {

using EepromImage = machine::EepromImage;
constexpr size_t kEepromWords = machine::kEepromWords;

std::string ImageText(const EepromImage& image, EepromFormat format);

constexpr const char* kStandardStream = "-";

// Loads `path`, "-" being standard input, in `format` or, with kDetect, in the form its content
// shows: bytes other than text are bin, a first word "0000:" is hex, anything else text. A
// Failure when it is missing, no regular file, too large or malformed. SaveImage: a Failure when
// it cannot (only a regular file or a new name is written); "-" is standard output.
EepromImage LoadImage(const std::string& path, EepromFormat format);
void SaveImage(const std::string& path, const EepromImage& image, EepromFormat format);
// A Failure now when SaveImage(path, ...) could not write `path`.
void CheckSavable(const std::string& path);

}  // namespace zcmd

#endif  // ZARERERA_TOOLS_ZARERERA_EEPROM_IMAGE_H
