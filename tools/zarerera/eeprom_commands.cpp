// `eeprom dump`, `eeprom write` and `eeprom verify`: the board's serial configuration EEPROM as
// a whole image of 64 words, read and written one word at a time through the bridge library.
#include <ctime>
#include <filesystem>
#include <vector>

#include "commands.h"
#include "eeprom_image.h"
#include "errors.h"
#include "progress.h"

namespace zcmd {

namespace {

// Word 0 holds the device ID and word 1 the vendor ID the bridge loads at reset.
constexpr size_t kIdWords = 2;

EepromImage ReadEeprom(P9050_Handle* board) {
  EepromImage image{};
  Progress progress("Reading EEPROM", kEepromWords);
  for (size_t i = 0; i < kEepromWords; ++i) {
    uint16_t word = 0;
    if (!P9050_EEPROMReadWord(board, static_cast<uint32_t>(2 * i), &word)) {
      throw Failure(Format("reading EEPROM word %zu: ", i) + LibraryError("failed"));
    }
    image[i] = word;
    progress.Update(i + 1);
  }
  return image;
}

nlohmann::ordered_json Words(const EepromImage& image) {
  nlohmann::ordered_json words = nlohmann::ordered_json::array();
  for (uint16_t word : image) words.push_back(Hex(word, 4));
  return words;
}

// eeprom-BB_SS_F-YYYYMMDD-HHMMSS.txt in `dir`, with -2, -3 ... when a file of that name exists.
std::string BackupPath(const std::string& dir, const WdPciSlot& slot) {
  const std::time_t now = std::time(nullptr);
  const std::tm local = LocalTime(now);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string base =
      Format("eeprom-%02x_%02x_%x-%s", static_cast<unsigned>(slot.bus),
             static_cast<unsigned>(slot.slot), static_cast<unsigned>(slot.function), stamp);
  const std::filesystem::path directory(dir);
  std::filesystem::path path = directory / (base + ".txt");
  for (int n = 2; std::filesystem::exists(path); ++n) {
    path = directory / (base + "-" + std::to_string(n) + ".txt");
  }
  return path.string();
}

}  // namespace

int RunEepromDump(Session& session, const Config& config) {
  P9050_Handle* board = session.Board();
  const EepromImage image = ReadEeprom(board);
  if (!config.file.empty()) SaveImage(config.file, image, config.format);
  if (config.json) {
    nlohmann::ordered_json doc = {{"slot", SlotText(session.BoardSlot())}, {"words", Words(image)}};
    if (!config.file.empty()) doc["file"] = config.file;
    PrintJson(doc);
  } else if (config.file.empty()) {
    Print(ImageText(image, config.format));
  }
  return kExitOk;
}

int RunEepromWrite(Session& session, const Config& config) {
  const EepromImage image = LoadImage(config.file, config.format);
  for (size_t i = 0; i < kIdWords; ++i) {
    if ((image[i] == 0x0000 || image[i] == 0xFFFF) && !config.force) {
      throw Failure(
          Format("%s: ID word %zu is 0x%04x, which would leave the board without its "
                 "IDs; --force writes it anyway",
                 config.file.c_str(), i, static_cast<unsigned>(image[i])));
    }
  }
  P9050_Handle* board = session.Board();
  const EepromImage current = ReadEeprom(board);

  std::string backup;
  if (!config.noBackup) {
    backup = BackupPath(config.backupDir, session.BoardSlot());
    SaveImage(backup, current, EepromFormat::kText);
  }

  std::vector<size_t> differing;
  for (size_t i = 0; i < kEepromWords; ++i) {
    if (image[i] != current[i]) differing.push_back(i);
  }
  std::vector<size_t> written;
  {
    Progress progress("Writing EEPROM", differing.size());
    for (size_t i : differing) {
      // Each word write reads the word back and compares.
      if (!P9050_EEPROMWriteWord(board, static_cast<uint32_t>(2 * i), image[i])) {
        progress.Finish();
        std::string message = Format("writing EEPROM word %zu (offset 0x%02zx): ", i, 2 * i) +
                              LibraryError("failed") + Format("; %zu of ", written.size()) +
                              Count(differing.size(), "word") + " written before it";
        if (!backup.empty()) message += "; the former contents are in " + backup;
        throw Failure(message);
      }
      written.push_back(i);
      progress.Update(written.size());
    }
  }

  if (config.json) {
    PrintJson({{"slot", SlotText(session.BoardSlot())},
               {"file", config.file},
               {"backup",
                backup.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(backup)},
               {"written", written},
               {"unchanged", kEepromWords - written.size()}});
  } else {
    std::string text;
    if (!backup.empty()) text += "backup: " + backup + "\n";
    text += Format("wrote %zu of %zu words", written.size(), kEepromWords) +
            (written.size() == 1 ? ", read back and verified\n"
             : written.empty()   ? "\n"
                                 : ", each read back and verified\n");
    Print(text);
  }
  return kExitOk;
}

int RunEepromVerify(Session& session, const Config& config) {
  const EepromImage image = LoadImage(config.file, config.format);
  P9050_Handle* board = session.Board();
  const EepromImage current = ReadEeprom(board);
  nlohmann::ordered_json differences = nlohmann::ordered_json::array();
  std::string text;
  for (size_t i = 0; i < kEepromWords; ++i) {
    if (image[i] == current[i]) continue;
    differences.push_back(
        {{"word", i}, {"file", Hex(image[i], 4)}, {"eeprom", Hex(current[i], 4)}});
    text += Format("word %2zu (offset 0x%02zx): file %04x, EEPROM %04x\n", i, 2 * i,
                   static_cast<unsigned>(image[i]), static_cast<unsigned>(current[i]));
  }
  if (config.json) {
    PrintJson({{"slot", SlotText(session.BoardSlot())},
               {"file", config.file},
               {"equal", differences.empty()},
               {"differences", differences}});
  } else {
    Print(text);
  }
  if (differences.empty()) return kExitOk;
  FlushOutput();
  throw Failure("the EEPROM differs from " +
                (config.file == "-" ? std::string("standard input") : config.file) + " in " +
                Count(differences.size(), "word"));
}

}  // namespace zcmd
