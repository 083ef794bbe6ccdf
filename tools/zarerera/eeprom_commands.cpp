// `eeprom dump`, `eeprom write` and `eeprom verify`: the board's serial configuration EEPROM as
// a whole image of 64 words, read and written one word at a time through the bridge library.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "commands.h"
#include "eeprom_image.h"
#include "errors.h"
#include "machine/files.h"
#include "progress.h"
#include "stop_signals.h"

namespace zcmd {

namespace {

// Word 0 holds the device ID and word 1 the vendor ID the bridge loads at reset.
constexpr size_t kIdWords = 2;

EepromImage ReadEeprom(P9050_Handle* board) {
  EepromImage image{};
  Progress progress("Reading EEPROM", kEepromWords);
  for (size_t i = 0; i < kEepromWords; ++i) {
    // Only a write catches the stop signals: it stops here before anything is written.
    if (StopRequested()) {
      progress.Finish();
      throw Stopped("interrupted while reading the EEPROM; nothing written", StopStatus());
    }
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

// Saves `image` as eeprom-BB_SS_F-YYYYMMDD-HHMMSS.txt in `dir`, or with -2, -3 ... when that name
// is taken: a new file, never one that was there nor through a link. Returns the name it got.
std::string SaveBackup(const std::string& dir, const WdPciSlot& slot, const EepromImage& image) {
  const std::time_t now = std::time(nullptr);
  const std::tm local = LocalTime(now);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string stem =
      Format("eeprom-%02x_%02x_%x-%s", static_cast<unsigned>(slot.bus),
             static_cast<unsigned>(slot.slot), static_cast<unsigned>(slot.function), stamp);
  std::string path;
  std::string error;
  if (!machine::CreateNewFile(dir, stem, ".txt", ImageText(image, EepromFormat::kText), &path,
                              &error)) {
    throw Failure(error);
  }
  return path;
}

// Writes the words `differing` of `image` one at a time, each read back. A stop request is
// honoured between words: the word in progress is finished, and the message says how far the
// write got and which backup restores the rest. Returns the words written.
std::vector<size_t> WriteWords(P9050_Handle* board, const EepromImage& image,
                               const std::vector<size_t>& differing, const std::string& backup) {
  const std::string restore = backup.empty() ? "; no backup was taken (--no-backup)"
                                             : "; restore with: zarerera eeprom write " + backup;
  std::vector<size_t> written;
  Progress progress("Writing EEPROM", differing.size());
  for (size_t i : differing) {
    if (StopRequested()) {
      progress.Finish();
      throw Stopped(Format("interrupted after %zu of ", written.size()) +
                        Count(differing.size(), "word") + restore,
                    StopStatus());
    }
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
  return written;
}

}  // namespace

int RunEepromDump(Session& session, const Config& config) {
  if (config.json && config.file == kStandardStream) {
    throw UsageError("--json prints a document: the image goes to a file, not to '-'");
  }
  if (!config.file.empty()) CheckSavable(config.file);  // before the EEPROM's long read
  P9050_Handle* board = session.Board();
  const EepromImage image = ReadEeprom(board);
  // A missing or dead part: the pins read one level throughout, and the bridge found no valid
  // contents at reset. The words are still shown, as read.
  if (std::all_of(image.begin(), image.end(), [&image](uint16_t w) { return w == image[0]; }) &&
      !P9050_EEPROMValid(board)) {
    std::fprintf(stderr,
                 "zarerera: no EEPROM answered: every word read %04x and the bridge's EEPROM "
                 "valid bit is clear\n",
                 static_cast<unsigned>(image[0]));
  }
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
  const CatchStopSignals signals;
  const EepromImage current = ReadEeprom(board);

  std::string backup;
  if (!config.noBackup) {
    backup = SaveBackup(config.backupDir, session.BoardSlot(), current);
  }

  std::vector<size_t> differing;
  for (size_t i = 0; i < kEepromWords; ++i) {
    if (image[i] != current[i]) differing.push_back(i);
  }
  const std::vector<size_t> written = WriteWords(board, image, differing, backup);

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
