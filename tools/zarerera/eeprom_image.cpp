// The three image forms. The text form is the console host's own file (eeprom_file.h).
#include "eeprom_image.h"

#include <cctype>
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

bool ParseImage(const std::string& content, const std::string& name, EepromFormat format,
                EepromImage* image, std::string* error);

// The form an image's content shows. Text and hex hold only printable characters and blanks;
// a hex dump starts with its first offset.
EepromFormat DetectFormat(const std::string& content) {
  for (char c : content) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (!(std::isprint(u) || std::isspace(u))) return EepromFormat::kBin;
  }
  std::istringstream tokens(content);
  std::string first;
  tokens >> first;
  return first.size() > 1 && first.back() == ':' ? EepromFormat::kHex : EepromFormat::kText;
}

}  // namespace

std::string ImageText(const EepromImage& image, EepromFormat format) {
  std::string out;
  switch (format) {
    case EepromFormat::kDetect:
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

// Any form; errors start with `name`.
bool ParseImage(const std::string& content, const std::string& name, EepromFormat format,
                EepromImage* image, std::string* error) {
  switch (format) {
    case EepromFormat::kDetect:
      return ParseImage(content, name, DetectFormat(content), image, error);
    case EepromFormat::kText:
      return machine::ParseEepromText(content, name, image, error);
    case EepromFormat::kBin:
      if (content.size() != kBytes) {
        *error = name + ": " + Count(content.size(), "byte") + Format(", expected %zu", kBytes);
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
          *error = name + Format(": line %zu: expected the offset '%s', not '%s'", lineNumber,
                                 expected.c_str(), machine::Shown(token).c_str());
          return false;
        }
        while (tokens >> token) {
          if (count == kBytes) {
            *error = name + Format(": line %zu: more than %zu bytes", lineNumber, kBytes);
            return false;
          }
          if (!HexByte(token, &bytes[count])) {
            *error = name + Format(": line %zu: '%s' is not a byte of two hexadecimal digits",
                                   lineNumber, machine::Shown(token).c_str());
            return false;
          }
          ++count;
        }
      }
      if (count != kBytes) {
        *error = name + ": " + Count(count, "byte") + Format(", expected %zu", kBytes);
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
  if (!ParseImage(content, name, format, &image, &error)) throw Failure(error);
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
