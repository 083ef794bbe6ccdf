// The simulated machine's state file: one line per item, "keyword value...", in a fixed order;
// '#' lines and blank lines are ignored. Numbers are hexadecimal where the hardware shows them so
// (registers, ports, EEPROM words, IDs), decimal where they are counts.
#include "sim_state.h"

#include <cctype>
#include <cstdio>
#include <sstream>

#include "files.h"
#include "options.h"
#include "sim/counter8254.h"
#include "sim/plx9050.h"

namespace machine {

namespace {

constexpr char kMagic[] = "zarerera-sim-state";
constexpr uint64_t kFormat = 1;
constexpr unsigned kCounters = 3;
constexpr char kCounterFields[] =
    "# counter N: control mode state count-register pending-lsb write-msb-next read-msb-next "
    "value period high-half terminal-seen out gate null-count count-latched latched-count "
    "status-latched latched-status";
constexpr size_t kCounterFieldCount = 18;

// Lines of tokens, with their line numbers, for a reader that takes them in order.
class Reader {
 public:
  explicit Reader(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
      ++number;
      std::istringstream words(line);
      std::vector<std::string> tokens;
      std::string word;
      while (words >> word) tokens.push_back(word);
      if (tokens.empty() || tokens[0][0] == '#') continue;
      lines_.push_back({number, std::move(tokens)});
    }
  }

  // The next line's values, when it starts with `keyword` and has exactly `values` of them.
  bool Take(const char* keyword, size_t values, std::vector<std::string>* out, std::string* error) {
    if (next_ == lines_.size()) {
      *error = std::string("ends before '") + keyword + "'";
      return false;
    }
    const Line& line = lines_[next_];
    if (line.tokens[0] != keyword || line.tokens.size() != values + 1) {
      *error = "line " + std::to_string(line.number) + ": expected '" + keyword + "' and " +
               std::to_string(values) + " value(s)";
      return false;
    }
    out->assign(line.tokens.begin() + 1, line.tokens.end());
    ++next_;
    return true;
  }

  bool AtEnd(std::string* error) const {
    if (next_ == lines_.size()) return true;
    *error = "line " + std::to_string(lines_[next_].number) + ": more than the machine holds";
    return false;
  }

  // "line N: " for the line last taken.
  std::string Where() const {
    return "line " + std::to_string(next_ > 0 ? lines_[next_ - 1].number : 0) + ": ";
  }

 private:
  struct Line {
    int number;
    std::vector<std::string> tokens;
  };
  std::vector<Line> lines_;
  size_t next_ = 0;
};

// Digits only (no sign, no prefix) in `base`, at most `max`.
bool ParseNumber(const std::string& text, int base, uint64_t max, uint64_t* out) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t value = 0;
  for (char c : text) {
    const int digit = std::isdigit(static_cast<unsigned char>(c))    ? c - '0'
                      : std::isxdigit(static_cast<unsigned char>(c)) ? std::tolower(c) - 'a' + 10
                                                                     : base;
    const auto b = static_cast<uint64_t>(base);
    const auto d = static_cast<uint64_t>(digit);
    if (d >= b || value > max / b || d > max - value * b) return false;
    value = value * b + d;
  }
  *out = value;
  return true;
}

// Parses every value of `tokens` into `out`, each at most `max`; the message names `what`.
bool Numbers(const Reader& reader, const std::vector<std::string>& tokens, int base, uint64_t max,
             const char* what, std::vector<uint64_t>* out, std::string* error) {
  out->clear();
  for (const std::string& t : tokens) {
    uint64_t value = 0;
    if (!ParseNumber(t, base, max, &value)) {
      *error = reader.Where() + what + ": '" + t + "' is not a " +
               (base == 16 ? "hexadecimal" : "decimal") + " number up to " +
               (base == 16 ? Hex(max, 1) : std::to_string(max));
      return false;
    }
    out->push_back(value);
  }
  return true;
}

std::string CounterLine(unsigned index, const sim::Counter8254::Snapshot& c) {
  const uint64_t fields[kCounterFieldCount] = {
      c.control,        c.mode,           c.state,         c.count_register,
      c.pending_lsb,    c.write_msb_next, c.read_msb_next, c.value,
      c.period,         c.high_half,      c.terminal_seen, c.out,
      c.gate,           c.null_count,     c.count_latched, c.latched_count,
      c.status_latched, c.latched_status};
  std::ostringstream line;
  line << "counter " << index;
  for (uint64_t f : fields) line << ' ' << f;
  line << '\n';
  return line.str();
}

sim::Counter8254::Snapshot CounterFrom(const std::vector<uint64_t>& f) {
  sim::Counter8254::Snapshot c;
  c.control = static_cast<uint8_t>(f[0]);
  c.mode = static_cast<uint8_t>(f[1]);
  c.state = static_cast<uint8_t>(f[2]);
  c.count_register = static_cast<uint32_t>(f[3]);
  c.pending_lsb = static_cast<uint8_t>(f[4]);
  c.write_msb_next = f[5] != 0;
  c.read_msb_next = f[6] != 0;
  c.value = static_cast<uint32_t>(f[7]);
  c.period = static_cast<uint32_t>(f[8]);
  c.high_half = f[9] != 0;
  c.terminal_seen = f[10] != 0;
  c.out = f[11] != 0;
  c.gate = f[12] != 0;
  c.null_count = f[13] != 0;
  c.count_latched = f[14] != 0;
  c.latched_count = static_cast<uint16_t>(f[15]);
  c.status_latched = f[16] != 0;
  c.latched_status = static_cast<uint8_t>(f[17]);
  return c;
}

// The largest value each counter field may hold (flags 1, bytes 255, counts 65536).
constexpr uint64_t kCounterFieldMax[kCounterFieldCount] = {
    0x3F, 5, 3, 65536, 0xFF, 1, 1, 65536, 65536, 1, 1, 1, 1, 1, 1, 0xFFFF, 1, 0xFF};

uint32_t RegisterOffset(uint32_t index) {
  return index * sim::plx9050::kRegisterStride;
}

std::string IdsOf(const sim::SimBoard& board) {
  const sim::Plx9050Config& c = board.bridge->config();
  return Hex(c.vendor_id, 4) + ":" + Hex(c.device_id, 4);
}

}  // namespace

// Written through a stream: GCC 12 warns falsely about "literal" + std::string (bug 105329).
std::string FormatSimState(sim::Simulator& simulator, const std::vector<sim::SimBoard>& boards) {
  std::ostringstream out;
  out << kMagic << ' ' << kFormat << '\n';
  out << "clock-ns " << simulator.clock().NowNs() << '\n';
  out << "boards " << boards.size() << '\n';
  out << kCounterFields << '\n';
  for (size_t b = 0; b < boards.size(); ++b) {
    const sim::SimBoard& board = boards[b];
    out << "board " << b << ' ' << IdsOf(board) << "\nregisters";
    for (uint32_t r = 0; r < sim::plx9050::kRegisterCount; ++r) {
      out << ' ' << Hex(board.bridge->Peek(RegisterOffset(r)), 8);
    }
    out << "\ndigital-in " << Hex(board.ports->digital_in(), 2) << '\n';
    out << "digital-out " << Hex(board.ports->digital_out(), 2) << ' '
        << board.ports->digital_out_writes() << '\n';
    if (board.eeprom != nullptr) {
      out << "eeprom-write-enabled " << (board.eeprom->write_enabled() ? 1 : 0) << "\neeprom";
      for (uint16_t word : board.eeprom->image()) out << ' ' << Hex(word, 4);
      out << '\n';
    }
    for (uint32_t g = 0; g < sim::port_window::kCounterGroups; ++g) {
      const sim::CounterGroup8254::Snapshot group = board.ports->group(g).snapshot();
      out << "group " << g << ' ' << group.hz << '\n';
      for (unsigned c = 0; c < kCounters; ++c) out << CounterLine(c, group.counters[c]);
    }
  }
  return out.str();
}

namespace {

// Counter group `g` of `board`, as the state file's "group" and "counter" lines give it.
bool RestoreGroup(Reader& reader, uint32_t g, const sim::SimBoard& board, std::string* error) {
  std::vector<std::string> t;
  std::vector<uint64_t> n;
  if (!reader.Take("group", 2, &t, error)) return false;
  if (t[0] != std::to_string(g)) {
    *error = reader.Where() + "group " + t[0] + " where group " + std::to_string(g) + " belongs";
    return false;
  }
  std::vector<uint64_t> hz;
  if (!Numbers(reader, {t[1]}, 10, UINT32_MAX, "group clock", &hz, error)) return false;
  sim::CounterGroup8254::Snapshot group;
  group.hz = hz[0];
  for (unsigned c = 0; c < kCounters; ++c) {
    if (!reader.Take("counter", kCounterFieldCount + 1, &t, error)) return false;
    if (t[0] != std::to_string(c)) {
      *error =
          reader.Where() + "counter " + t[0] + " where counter " + std::to_string(c) + " belongs";
      return false;
    }
    n.clear();
    for (size_t f = 0; f < kCounterFieldCount; ++f) {
      std::vector<uint64_t> one;
      if (!Numbers(reader, {t[f + 1]}, 10, kCounterFieldMax[f], "counter field", &one, error)) {
        return false;
      }
      n.push_back(one[0]);
    }
    group.counters[c] = CounterFrom(n);
  }
  if (!board.ports->group(g).Restore(group)) {
    *error = reader.Where() + "group " + std::to_string(g) +
             ": a counter state no 8254 can be in (a count beyond its modulus?)";
    return false;
  }
  return true;
}

// Board `b`'s bridge registers, ports and EEPROM, then its counter groups.
bool RestoreBoard(Reader& reader, size_t b, const sim::SimBoard& board, std::string* error) {
  std::vector<std::string> t;
  std::vector<uint64_t> n;
  if (!reader.Take("board", 2, &t, error)) return false;
  if (t[0] != std::to_string(b) || t[1] != IdsOf(board)) {
    *error = reader.Where() + "board " + t[0] + " " + t[1] + ", but board " + std::to_string(b) +
             " of the machine is " + IdsOf(board) + " (--ids)";
    return false;
  }
  if (!reader.Take("registers", sim::plx9050::kRegisterCount, &t, error) ||
      !Numbers(reader, t, 16, UINT32_MAX, "registers", &n, error)) {
    return false;
  }
  for (uint32_t r = 0; r < sim::plx9050::kRegisterCount; ++r) {
    board.bridge->Poke(RegisterOffset(r), static_cast<uint32_t>(n[r]));
  }
  if (!reader.Take("digital-in", 1, &t, error) ||
      !Numbers(reader, t, 16, 0xFF, "digital-in", &n, error)) {
    return false;
  }
  board.ports->set_digital_in(static_cast<uint8_t>(n[0]));
  if (!reader.Take("digital-out", 2, &t, error)) return false;
  std::vector<uint64_t> writes;
  if (!Numbers(reader, {t[0]}, 16, 0xFF, "digital-out", &n, error) ||
      !Numbers(reader, {t[1]}, 10, UINT64_MAX, "digital-out writes", &writes, error)) {
    return false;
  }
  board.ports->RestoreDigitalOut(static_cast<uint8_t>(n[0]), writes[0]);
  if (board.eeprom != nullptr) {
    if (!reader.Take("eeprom-write-enabled", 1, &t, error) ||
        !Numbers(reader, t, 10, 1, "eeprom-write-enabled", &n, error)) {
      return false;
    }
    board.eeprom->set_write_enabled(n[0] != 0);
    if (!reader.Take("eeprom", kEepromWords, &t, error) ||
        !Numbers(reader, t, 16, 0xFFFF, "eeprom", &n, error)) {
      return false;
    }
    sim::Eeprom93C46::Image image{};
    for (size_t w = 0; w < kEepromWords; ++w) image[w] = static_cast<uint16_t>(n[w]);
    board.eeprom->set_image(image);
  }
  for (uint32_t g = 0; g < sim::port_window::kCounterGroups; ++g) {
    if (!RestoreGroup(reader, g, board, error)) return false;
  }
  return true;
}

}  // namespace

bool RestoreSimState(const std::string& text, sim::Simulator& simulator,
                     const std::vector<sim::SimBoard>& boards, std::string* error) {
  Reader reader(text);
  std::vector<std::string> t;
  std::vector<uint64_t> n;
  if (!reader.Take(kMagic, 1, &t, error)) return false;
  if (t[0] != std::to_string(kFormat)) {
    *error = reader.Where() + "format " + t[0] + " is not one this program reads (" +
             std::to_string(kFormat) + ")";
    return false;
  }
  if (!reader.Take("clock-ns", 1, &t, error) ||
      !Numbers(reader, t, 10, UINT64_MAX, "clock-ns", &n, error)) {
    return false;
  }
  const uint64_t clock_ns = n[0];
  if (!reader.Take("boards", 1, &t, error) ||
      !Numbers(reader, t, 10, UINT32_MAX, "boards", &n, error)) {
    return false;
  }
  if (n[0] != boards.size()) {
    *error = reader.Where() + "holds " + std::to_string(n[0]) + " board(s); the machine has " +
             std::to_string(boards.size()) + " (--boards)";
    return false;
  }
  // Every group counts from the restored time on.
  simulator.clock().Restore(clock_ns);
  for (size_t b = 0; b < boards.size(); ++b) {
    if (!RestoreBoard(reader, b, boards[b], error)) return false;
  }
  return reader.AtEnd(error);
}

LoadResult LoadSimStateFile(const std::string& path, sim::Simulator& simulator,
                            const std::vector<sim::SimBoard>& boards, std::string* error) {
  // Eight boards' state is some 20 KiB; a file past a MiB is no state file.
  constexpr size_t kMaxStateFileBytes = 1024 * 1024;
  std::string text;
  const LoadResult read = LoadTextFile(path, kMaxStateFileBytes, &text, error);
  if (read != LoadResult::kLoaded) return read;
  if (!RestoreSimState(text, simulator, boards, error)) {
    *error = path + ": " + *error;
    return LoadResult::kBad;
  }
  return LoadResult::kLoaded;
}

}  // namespace machine
