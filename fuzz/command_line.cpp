// The console host's command line: the input split into arguments at NUL and newline bytes,
// parsed twice from two separate copies (as two runs would); both parses must agree, and a line
// that parses must stay within the host's limits.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_console.h"
#include "fuzz_words.h"
#include "options.h"

namespace machine {
bool operator==(const BoardIds& a, const BoardIds& b) {
  return a.vendorId == b.vendorId && a.deviceId == b.deviceId;
}
}  // namespace machine

namespace {

struct Parsed {
  bool ok;
  std::string error;
  p9050diag::Options options;
};

// Parses a copy of the arguments that lives only for this call.
Parsed Parse(const std::vector<std::string>& args) {
  std::vector<std::unique_ptr<char[]>> storage;
  std::vector<char*> argv;
  for (const std::string& a : args) {
    storage.push_back(std::make_unique<char[]>(a.size() + 1));
    std::memcpy(storage.back().get(), a.c_str(), a.size() + 1);
    argv.push_back(storage.back().get());
  }
  argv.push_back(nullptr);
  Parsed p;
  p.ok = p9050diag::ParseOptions(static_cast<int>(args.size()), argv.data(), &p.options, &p.error);
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> args = fuzz::Words("p9050diag", data, size);
  if (args.size() > 64) return -1;  // a longer command line adds nothing

  const Parsed first = Parse(args);
  const Parsed second = Parse(args);
  fuzz::Check(first.ok == second.ok && first.error == second.error, "command_line",
              "two parses of one command line disagree");
  if (!first.ok) {
    fuzz::Check(!first.error.empty(), "command_line", "a refused command line without a message");
    return 0;
  }
  const p9050diag::Options& o = first.options;
  fuzz::Check(o.boards >= 0 && o.boards <= machine::kMaxBoards, "command_line",
              "board count out of range");
  fuzz::Check(o.eepromFiles.size() <= static_cast<size_t>(o.boards) &&
                  o.vcdFiles.size() <= static_cast<size_t>(o.boards),
              "command_line", "more files than boards");
  fuzz::Check(o.ids == second.options.ids && o.eepromFiles == second.options.eepromFiles &&
                  o.vcdFiles == second.options.vcdFiles && o.boards == second.options.boards &&
                  o.realTime == second.options.realTime && o.space0Io == second.options.space0Io &&
                  o.help == second.options.help,
              "command_line", "two parses of one command line give different options");
  (void)p9050diag::Usage(args[0].c_str());
  return 0;
}
