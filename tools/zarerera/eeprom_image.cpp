// The three image forms. The text form is the console host's own file (eeprom_file.h).
#include "eeprom_image.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "errors.h"
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
                                 expected.c_str(), token.c_str());
          return false;
        }
        while (tokens >> token) {
          if (count == kBytes) {
            *error = name + Format(": line %zu: more than %zu bytes", lineNumber, kBytes);
            return false;
          }
          if (!HexByte(token, &bytes[count])) {
            *error = name + Format(": line %zu: '%s' is not a byte of two hexadecimal digits",
                                   lineNumber, token.c_str());
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
  const bool standardInput = path == "-";
  const std::string name = standardInput ? "standard input" : path;
  std::string content;
  if (standardInput) {
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) content.append(chunk, n);
    if (std::ferror(stdin)) throw Failure(SystemError(name));
  } else {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure(SystemError(path));
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw Failure(SystemError(path));
    content = text.str();
  }
  EepromImage image{};
  std::string error;
  if (!ParseImage(content, name, format, &image, &error)) throw Failure(error);
  return image;
}

void SaveImage(const std::string& path, const EepromImage& image, EepromFormat format) {
  std::string error;
  if (format == EepromFormat::kText || format == EepromFormat::kDetect) {
    if (!machine::SaveEepromFile(path, image, &error)) throw Failure(error);
    return;
  }
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    const std::string text = ImageText(image, format);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) {
      const std::string reason = SystemError(temporary);
      std::remove(temporary.c_str());
      throw Failure(reason);
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string reason = SystemError(path);
    std::remove(temporary.c_str());
    throw Failure(reason);
  }
}

}  // namespace zcmd
