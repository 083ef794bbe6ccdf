// The command's JSON writer on documents holding arbitrary bytes as strings (file names can be any
// bytes): it never throws, its text always parses, and a string that is UTF-8 comes back as it was.
#include <cstddef>
#include <cstdint>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>
#include <nlohmann/json.hpp>

#include "fuzz_console.h"
#include "zarerera/util.h"

namespace {

bool IsUtf8(const std::string& s) {
  try {
    (void)nlohmann::json(s).dump();
    return true;
  } catch (const nlohmann::json::exception&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string key = "k:" + in.ConsumeRandomLengthString(32);  // none of the fixed names
  const std::string file = in.ConsumeRandomLengthString(256);
  const std::string backup = in.ConsumeRemainingBytesAsString();
  const nlohmann::ordered_json doc = {{"slot", "00:05.0"},
                                      {"file", file},
                                      {key, backup},
                                      {"list", {file, 1, nullptr}},
                                      {"written", {1, 2}}};
  for (int indent : {-1, 2}) {
    std::string text;
    try {
      text = zcmd::JsonText(doc, indent);
    } catch (...) {
      fuzz::Check(false, "json_writer", "the writer threw");
    }
    nlohmann::ordered_json back;
    try {
      back = nlohmann::ordered_json::parse(text);
    } catch (const nlohmann::json::exception&) {
      fuzz::Check(false, "json_writer", "the text does not parse");
    }
    fuzz::Check(back["slot"] == "00:05.0" && back["written"] == doc["written"], "json_writer",
                "a plain field changed");
    if (IsUtf8(file)) fuzz::Check(back["file"] == file, "json_writer", "a UTF-8 name changed");
    if (IsUtf8(key) && IsUtf8(backup)) {
      fuzz::Check(back.size() == 5 && back[key] == backup, "json_writer", "a UTF-8 field changed");
    }
    fuzz::Check(indent >= 0 || text.find('\n') == std::string::npos, "json_writer",
                "a one-line document has a line break");
  }
  return 0;
}
