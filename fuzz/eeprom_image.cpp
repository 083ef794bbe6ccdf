// The command's image files in their three forms: the input, as a file, is loaded as text, hex and
// bin. Loading either gives an image or a Failure with a message (never anything else, never more
// than the file's limit read); an image that loads is written in each form and each loads back to
// the same words. The input's first 128 bytes, as a bin image, round-trip through every form too.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include "fuzz_console.h"
#include "fuzz_dir.h"
#include "zarerera/eeprom_image.h"
#include "zarerera/errors.h"

namespace {

using zcmd::EepromFormat;
using zcmd::EepromImage;

const EepromFormat kForms[] = {EepromFormat::kText, EepromFormat::kHex, EepromFormat::kBin};

void RoundTrip(const EepromImage& image, const std::string& path) {
  for (EepromFormat form : kForms) {
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << zcmd::ImageText(image, form);
    }
    try {
      fuzz::Check(zcmd::LoadImage(path, form) == image, "eeprom_image",
                  "an image loads back different");
    } catch (const std::exception&) {
      fuzz::Check(false, "eeprom_image", "a written image does not load");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz::ScratchDir& dir = fuzz::Scratch("image");
  const std::string input = dir / "input";
  {
    std::ofstream out(input, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  for (EepromFormat form : kForms) {
    try {
      const EepromImage image = zcmd::LoadImage(input, form);
      fuzz::Check(size <= machine::kMaxImageFileBytes, "eeprom_image", "a file past the limit");
      RoundTrip(image, dir / "saved");
    } catch (const zcmd::Failure& e) {
      fuzz::Check(std::strlen(e.what()) > 0 && std::strlen(e.what()) < 400 + input.size(),
                  "eeprom_image", "a refusal without a message or with a long one");
    }
  }
  if (size >= 128) {
    EepromImage raw{};
    for (size_t i = 0; i < raw.size(); ++i)
      raw[i] = static_cast<uint16_t>(data[2 * i] << 8 | data[2 * i + 1]);
    RoundTrip(raw, dir / "saved");
  }
  return 0;
}
