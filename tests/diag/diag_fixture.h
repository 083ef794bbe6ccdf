// The bridge menus' fixture: a simulated bus with PLX 9050 cards installed as the process's
// driver, the console pointed at files, and transcripts run against the menus. Every test ends
// with no device handle open and no registration left.
#ifndef ZARERERA_TESTS_DIAG_DIAG_FIXTURE_H
#define ZARERERA_TESTS_DIAG_DIAG_FIXTURE_H

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "diag/p9050_diag.h"
#include "p9050_lib.h"
#include "sim/board.h"
#include "sim/eeprom93c46.h"
#include "sim/plx9050.h"
#include "sim/simulator.h"
#include "support/bus_fixture.h"
#include "support/param_name.h"
#include "support/transcript.h"

namespace diag_test {

using testsupport::kDevice;
using testsupport::kVendor;

// The bridge's registers as an I/O range (BAR0 I/O): every register access is a request, so the
// model sees each write at once, and each local-address access moves its window with a request.
inline sim::Plx9050Config IoRegisters() {
  sim::Plx9050Config cfg;
  cfg.bars[0] = {sim::BarKind::kIo, sim::plx9050::kRegisterBlockSize};
  return cfg;
}

class DiagTest : public ::testing::Test, public testsupport::BusFixture {
 protected:
  // A card in the next slot.
  sim::Plx9050& AddCard(const sim::Plx9050Config& cfg = {}) {
    return sim::AddPlx9050(simulator_, 0, next_slot_++, 0, cfg);
  }

  // A 93C46 on the card's CNTRL pins, holding `words` (word i at index i).
  sim::Eeprom93C46& AddEeprom(sim::Plx9050& card, const sim::Eeprom93C46::Image& words) {
    auto part = std::make_shared<sim::Eeprom93C46>(simulator_.clock(), sim::DefaultEepromImage());
    part->set_image(words);
    card.AttachEeprom(part);
    eeproms_.push_back(part);
    return *part;
  }

  // Hands the model every store the library made in a memory window since the last request (the
  // simulator passes them on at the next request of any kind).
  void Settle() {
    WdSleep nap{};
    uint32_t status = 0;
    simulator_.Control(WD_CODE_SLEEP, &nap, sizeof nap, &status);
  }

  // Feeds the transcript's typing to `run` and returns what it printed. Every typed line must
  // have been read.
  std::string Run(const std::string& input, const std::function<void()>& run) {
    testsupport::ConsoleFiles console(input);
    EXPECT_TRUE(console.ok());
    run();
    EXPECT_EQ(console.RemainingInput(), "") << "input left unread";
    return console.Output();
  }

  // Runs `run` on the session's typing and compares the whole output.
  void ExpectSession(const std::string& session, const std::function<void()>& run) {
    testsupport::Transcript t = testsupport::ParseTranscript(session);
    EXPECT_EQ(Run(t.input, run), t.output);
  }

  std::vector<std::shared_ptr<sim::Eeprom93C46>> eeproms_;
  uint32_t next_slot_ = 3;
};

}  // namespace diag_test

#endif  // ZARERERA_TESTS_DIAG_DIAG_FIXTURE_H
