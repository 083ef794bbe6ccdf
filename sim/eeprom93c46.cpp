// The 93C46 model: edge detection on the pins, the command state machine, programming time and the
// pin recording. See eeprom93c46.h for the behaviour and what is not modelled.
#include "sim/eeprom93c46.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "driver/board_ids.h"

namespace sim {

namespace {

constexpr uint16_t kErased = 0xFFFF;
constexpr unsigned kAddressMask = Eeprom93C46::kWords - 1;
// The extended commands are told apart by the top two bits of the six-bit address field.
constexpr unsigned kExtShift = Eeprom93C46::kAddressBits - 2;

}  // namespace

Eeprom93C46::Eeprom93C46(Clock& clock, const Image& contents) : clock_(clock), cells_(contents) {}

Eeprom93C46::Image Eeprom93C46::ErasedImage() {
  Image image;
  image.fill(kErased);
  return image;
}

void Eeprom93C46::Settle() {
  if (!programming_ || clock_.NowNs() < ready_at_ns_) return;
  cells_ = target_;
  programming_ = false;
  // A host polling with CS high sees DO go ready at the moment programming ends.
  if (tracing_) TracePin(kDo, DrivenDataOut(), ready_at_ns_);
}

bool Eeprom93C46::busy() const {
  return programming_ && !ProgrammingOver();
}

uint16_t Eeprom93C46::word(unsigned index) const {
  return Cells().at(index);
}

Eeprom93C46::Image Eeprom93C46::image() const {
  return Cells();
}

void Eeprom93C46::set_word(unsigned index, uint16_t value) {
  Settle();
  cells_.at(index) = value;
}

void Eeprom93C46::set_image(const Image& image) {
  Settle();
  cells_ = image;
}

void Eeprom93C46::set_worn_out(unsigned index, bool worn) {
  if (index >= kWords) throw std::out_of_range("Eeprom93C46: no cell " + std::to_string(index));
  const uint64_t bit = uint64_t{1} << index;
  worn_out_ = worn ? (worn_out_ | bit) : (worn_out_ & ~bit);
}

bool Eeprom93C46::worn_out(unsigned index) const {
  return index < kWords && ((worn_out_ >> index) & 1u) != 0;
}

void Eeprom93C46::Drive(bool chip_select, bool clock, bool data_in) {
  Settle();
  const bool cs_rise = chip_select && !cs_;
  const bool cs_fall = !chip_select && cs_;
  const bool sk_rise = clock && !sk_;
  cs_ = chip_select;
  sk_ = clock;
  di_ = data_in;
  if (cs_fall) {
    if (state_ == State::kArmed) StartProgramming();
    state_ = State::kIdle;
  }
  if (cs_rise) state_ = State::kIdle;
  if (chip_select && sk_rise) OnRisingEdge(data_in);
  if (tracing_) TracePins();
}

bool Eeprom93C46::DataOut() {
  Settle();
  return DrivenDataOut();
}

bool Eeprom93C46::DrivenDataOut(bool programming) const {
  if (!cs_) return true;
  switch (state_) {
    case State::kIdle:
    case State::kIgnored:
      return !programming;
    case State::kReadData:
      return data_out_;
    default:
      return true;
  }
}

void Eeprom93C46::OnRisingEdge(bool data_in) {
  ++counters_.rising_edges;
  const uint32_t bit = data_in ? 1u : 0u;
  switch (state_) {
    case State::kIdle:
      if (!data_in) return;  // leading zeros before the start bit
      if (programming_) {
        ++counters_.ignored_while_busy;
        state_ = State::kIgnored;
        return;
      }
      state_ = State::kOpcode;
      bits_ = 0;
      opcode_ = 0;
      return;
    case State::kOpcode:
      opcode_ = (opcode_ << 1) | bit;
      if (++bits_ == kOpcodeBits) {
        state_ = State::kAddress;
        bits_ = 0;
        address_ = 0;
      }
      return;
    case State::kAddress:
      address_ = (address_ << 1) | bit;
      if (++bits_ == kAddressBits) DecodeAddressField();
      return;
    case State::kReadData:
      // After D0 the next word follows directly, without another dummy bit.
      if (out_bit_ == kDataBits) {
        address_ = (address_ + 1) & kAddressMask;
        shift_out_ = cells_[address_];
        out_bit_ = 0;
      }
      data_out_ = ((shift_out_ >> (kDataBits - 1 - out_bit_)) & 1u) != 0;
      ++out_bit_;
      return;
    case State::kWriteData:
      data_ = (data_ << 1) | bit;
      if (++bits_ == kDataBits) Arm();
      return;
    case State::kArmed:
    case State::kDone:
    case State::kIgnored:
      return;  // extra clocks before CS falls
  }
}

void Eeprom93C46::DecodeAddressField() {
  switch (opcode_) {
    case kOpRead:
      ++counters_.reads;
      state_ = State::kReadData;
      shift_out_ = cells_[address_];
      out_bit_ = 0;
      data_out_ = false;  // the dummy bit
      return;
    case kOpWrite:
      state_ = State::kWriteData;
      bits_ = 0;
      data_ = 0;
      return;
    case kOpErase:
      Arm();
      return;
    default:
      break;
  }
  switch (address_ >> kExtShift) {
    case kExtEwen:
      ++counters_.ewen;
      write_enabled_ = true;
      state_ = State::kDone;
      return;
    case kExtEwds:
      ++counters_.ewds;
      write_enabled_ = false;
      state_ = State::kDone;
      return;
    case kExtEral:
      Arm();
      return;
    case kExtWral:
      state_ = State::kWriteData;
      bits_ = 0;
      data_ = 0;
      return;
  }
}

void Eeprom93C46::Arm() {
  if (!write_enabled_) {
    ++counters_.refused_while_disabled;
    state_ = State::kDone;
    return;
  }
  state_ = State::kArmed;
}

void Eeprom93C46::StartProgramming() {
  target_ = cells_;
  if (opcode_ == kOpWrite) {
    target_[address_] = static_cast<uint16_t>(data_);
  } else if (opcode_ == kOpErase) {
    target_[address_] = kErased;
  } else if ((address_ >> kExtShift) == kExtEral) {
    target_.fill(kErased);
  } else {
    target_.fill(static_cast<uint16_t>(data_));  // WRAL
  }
  for (unsigned i = 0; i < kWords; ++i) {
    if (worn_out(i)) target_[i] = cells_[i];
  }
  ++counters_.writes;
  programming_ = true;
  ready_at_ns_ = clock_.NowNs() + write_time_ns_;
  Settle();  // a write time of 0 finishes at once
}

// Recording.

void Eeprom93C46::StartTrace() {
  Settle();
  trace_.clear();
  tracing_ = true;
  const uint64_t now = clock_.NowNs();
  const bool levels[kPins] = {cs_, sk_, di_, DrivenDataOut()};
  for (int pin = 0; pin < kPins; ++pin) {
    traced_[pin] = levels[pin];
    trace_.push_back({now, pin, levels[pin]});
  }
}

void Eeprom93C46::TracePin(int pin, bool level, uint64_t ns) {
  if (traced_[pin] == level) return;
  traced_[pin] = level;
  trace_.push_back({ns, pin, level});
}

void Eeprom93C46::TracePins() {
  const uint64_t now = clock_.NowNs();
  TracePin(kCs, cs_, now);
  TracePin(kSk, sk_, now);
  TracePin(kDi, di_, now);
  TracePin(kDo, DrivenDataOut(), now);
}

void Eeprom93C46::AppendValue(std::string& out, const Change& change) {
  out.push_back(change.level ? '1' : '0');
  out.push_back(kVcdIds[change.pin]);
  out.push_back('\n');
}

std::string Eeprom93C46::TraceVcd() const {
  const char* kIds = kVcdIds;
  static constexpr const char* kNames[kPins] = {"cs", "sk", "di", "do"};
  std::string out =
      "$version zarerera 93C46 model $end\n"
      "$timescale 1ns $end\n"
      "$scope module eeprom93c46 $end\n";
  for (int pin = 0; pin < kPins; ++pin) {
    out.append("$var wire 1 ").append(1, kIds[pin]).append(" ").append(kNames[pin]);
    out.append(" $end\n");
  }
  out += "$upscope $end\n$enddefinitions $end\n";
  if (trace_.size() < kPins) return out;
  // The first entries are every pin's level when recording started.
  out.append("#").append(std::to_string(trace_[0].ns)).append("\n$dumpvars\n");
  for (int pin = 0; pin < kPins; ++pin) {
    AppendValue(out, trace_[pin]);
  }
  out += "$end\n";
  std::vector<Change> changes(trace_.begin() + kPins, trace_.end());
  // A programming cycle that has ended since the part last looked: DO went ready at its end.
  if (tracing_ && ProgrammingOver() && traced_[kDo] != DrivenDataOut(false)) {
    changes.push_back({ready_at_ns_, kDo, DrivenDataOut(false)});
  }
  std::stable_sort(changes.begin(), changes.end(),
                   [](const Change& a, const Change& b) { return a.ns < b.ns; });
  uint64_t at = trace_[0].ns;
  for (size_t i = 0; i < changes.size(); ++i) {
    if (changes[i].ns != at) {
      at = changes[i].ns;
      out.append("#").append(std::to_string(at)).append("\n");
    }
    AppendValue(out, changes[i]);
  }
  return out;
}

bool Eeprom93C46::WriteTraceVcd(const std::string& path) const {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  const std::string vcd = TraceVcd();
  file.write(vcd.data(), static_cast<std::streamsize>(vcd.size()));
  return static_cast<bool>(file);
}

}  // namespace sim
