// The console host's EEPROM file: the input, as a file, is loaded; an image that loads is saved
// and loaded again and must come back the same. The input's first 128 bytes, as an image, are
// saved and loaded as well, and must come back word for word.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "fuzz_console.h"
#include "machine/eeprom_file.h"

namespace {

using machine::EepromImage;
using machine::LoadResult;

const std::string& Dir() {
  static const std::string dir = [] {
    std::string d = (std::filesystem::temp_directory_path() /
                     ("zarerera_fuzz_eeprom_" + std::to_string(getpid())))
                        .string();
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}

void RoundTrip(const EepromImage& image) {
  const std::string path = Dir() + "/saved.txt";
  std::string error;
  fuzz::Check(machine::SaveEepromFile(path, image, &error), "eeprom_file", "save failed");
  EepromImage back{};
  fuzz::Check(machine::LoadEepromFile(path, &back, &error) == LoadResult::kLoaded, "eeprom_file",
              "a saved image does not load");
  fuzz::Check(back == image, "eeprom_file", "a saved image loads different");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = Dir() + "/input.txt";
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    fuzz::Check(f != nullptr, "eeprom_file", "cannot write the input file");
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  EepromImage image{};
  std::string error;
  switch (machine::LoadEepromFile(path, &image, &error)) {
    case LoadResult::kLoaded:
      RoundTrip(image);
      break;
    case LoadResult::kBad:
      fuzz::Check(!error.empty(), "eeprom_file", "a bad file without a message");
      break;
    case LoadResult::kMissing:
      fuzz::Check(false, "eeprom_file", "an existing file is missing");
  }

  if (size >= sizeof(EepromImage)) {
    EepromImage raw;
    std::memcpy(raw.data(), data, sizeof raw);
    RoundTrip(raw);
  }
  return 0;
}
