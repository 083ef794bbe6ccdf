// The three image forms. The text form is the console host's own file (eeprom_file.h).
#include "eeprom_image.h"

#include <cerrno>
#include <sstream>

#include "errors.h"
#include "machine/files.h"
#include "machine/options.h"
#include "util.h"

namespace zcmd {

namespace {

constexpr size_t kBytes = 2 * kEepromWords;
constexpr size_t kBytesPerHexLine = 16;

bool HexByte(const std::string& token, uint8_t* byte) {
  if (token.size() != 2) return false;
  unsigned value = 0;
  for (char c : token) {
    const int digit = (c >= '0' && c <= '9')   ? c - '0'
                      : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                      : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                               : -1;
    if (digit < 0) return false;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  *byte = static_cast<uint8_t>(value);
  return true;
}

void FromBytes(const uint8_t* bytes, EepromImage* image) {
  for (size_t i = 0; i < kEepromWords; ++i) {
    (*image)[i] = static_cast<uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
  }
}

bool ParseImage(const std::string& content, EepromFormat format, EepromImage* image,
                std::string* error);

}  // namespace

std::string ImageText(const EepromImage& image, EepromFormat format) {
  std::string out;
  switch (format) {
    case EepromFormat::kText:
      out = machine::FormatEepromImage(image);
      break;
    case EepromFormat::kHex:
      for (size_t b = 0; b < kBytes; ++b) {
        if (b % kBytesPerHexLine == 0) out += Format("%04zx:", b);
        const uint16_t word = image[b / 2];
        out += Format(" %02x", static_cast<unsigned>(b % 2 == 0 ? word >> 8 : word & 0xFF));
        if (b % kBytesPerHexLine == kBytesPerHexLine - 1) out += '\n';
      }
      break;
    case EepromFormat::kBin:
      for (uint16_t word : image) {
        out += static_cast<char>(word >> 8);
        out += static_cast<char>(word & 0xFF);
      }
      break;
  }
  return out;
}

namespace {

// The hex and bin forms.
bool ParseImage(const std::string& content, EepromFormat format, EepromImage* image,
                std::string* error) {
  switch (format) {
    case EepromFormat::kText:  // read by the console host's own reader (LoadImage)
      *error = "the text form is read from its file";
      return false;
    case EepromFormat::kBin:
      if (content.size() != kBytes) {
        *error = Format("%zu bytes, expected %zu", content.size(), kBytes);
        return false;
      }
      FromBytes(reinterpret_cast<const uint8_t*>(content.data()), image);
      return true;
    case EepromFormat::kHex: {
      uint8_t bytes[kBytes];
      size_t count = 0;
      std::istringstream lines(content);
      std::string line;
      size_t lineNumber = 0;
      while (std::getline(lines, line)) {
        ++lineNumber;
        std::istringstream tokens(line);
        std::string token;
        if (!(tokens >> token)) continue;  // blank line
        const std::string expected = Format("%04zx:", count);
        if (token != expected) {
          *error = Format("line %zu: expected the offset '%s', not '%s'", lineNumber,
                          expected.c_str(), machine::Shown(token).c_str());
          return false;
        }
        while (tokens >> token) {
          if (count == kBytes) {
            *error = Format("line %zu: more than %zu bytes", lineNumber, kBytes);
            return false;
          }
          if (!HexByte(token, &bytes[count])) {
            *error = Format("line %zu: '%s' is not a byte of two hexadecimal digits", lineNumber,
                            machine::Shown(token).c_str());
            return false;
          }
          ++count;
        }
      }
      if (count != kBytes) {
        *error = Format("%zu bytes, expected %zu", count, kBytes);
        return false;
      }
      FromBytes(bytes, image);
      return true;
    }
  }
  return false;
}

}  // namespace

EepromImage LoadImage(const std::string& path, EepromFormat format) {
  EepromImage image{};
  std::string error;
  std::string content;
  const std::string name = path == kStandardStream ? "standard input" : path;
  if (path == kStandardStream) {
    if (!machine::ReadStandardInput(machine::kMaxImageFileBytes, &content, &error)) {
      throw Failure(error);
    }
  } else {
    switch (machine::ReadInputFile(path, machine::kMaxImageFileBytes, &content, &error)) {
      case machine::ReadResult::kRead:
        break;
      case machine::ReadResult::kMissing:
        errno = ENOENT;
        throw Failure(SystemError(path));
      case machine::ReadResult::kBad:
        throw Failure(error);
    }
  }
  const bool parsed = format == EepromFormat::kText
                          ? machine::ParseEepromText(content, &image, &error)
                          : ParseImage(content, format, &image, &error);
  if (!parsed) throw Failure(name + ": " + error);
  return image;
}

void SaveImage(const std::string& path, const EepromImage& image, EepromFormat format) {
  if (path == kStandardStream) {
    Print(ImageText(image, format));
    return;
  }
  std::string error;
  if (!machine::ReplaceFile(path, ImageText(image, format), &error)) throw Failure(error);
}

void CheckSavable(const std::string& path) {
  if (path == kStandardStream) return;
  bool exists = false;
  std::string error;
  if (!machine::CheckReplaceable(path, &exists, &error)) throw Failure(error);
}

}  // namespace zcmd
