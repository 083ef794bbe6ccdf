// Boards used from several threads at once, as a real driver allows: each card by one thread, the
// simulated driver taking requests from all of them. Run under ThreadSanitizer (the tsan preset),
// where any data race fails the program; in the other builds it checks that nothing crosses from
// one board to another.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "board/port_map.h"
#include "driver/hosted_driver.h"
#include "hooks/test_hooks.h"
#include "p9050_lib.h"
#include "sim/board.h"
#include "sim/eeprom93c46.h"
#include "sim/simulator.h"
#include "zarerera.h"

namespace {

constexpr int kBoards = 3;  // two owned by a thread each, the third opened and closed over and over
constexpr int kRounds = 40;
// More device handles than the hosted channel's slot table has slots (1024), so that handles also
// go through its overflow set while the owners' handles stay open.
constexpr int kMinimumOpens = 600;

// What one owner thread saw that it should not have.
struct OwnerResult {
  int wrongDigitalIn = 0;
  int wrongEepromWords = 0;
  int failedEepromReads = 0;
};

// A board image no other board has: word i of board b.
uint16_t ImageWord(int board, unsigned i) {
  return static_cast<uint16_t>(0x1000 * (board + 1) + 0x11 * i);
}

uint8_t DigitalIn(int board) {
  return static_cast<uint8_t>(0x5A + board);
}

// One round on an owned board: the output latch, the input byte, a counter group set and read,
// and two EEPROM words (each a few hundred CNTRL stores in the board's memory window, with a
// sleep request after each).
void Round(ZarereraCard card, int board, int round, OwnerResult* result) {
  tamreldo(card, 0, static_cast<uint32_t>(round));
  if (tamreldi(card) != DigitalIn(board)) ++result->wrongDigitalIn;
  const uint32_t group = static_cast<uint32_t>(round) % 4;
  const uint8_t controls[3] = {0x30, 0x72,
                               0xB6};  // counters 0-2, low then high byte, modes 0, 1, 3
  tamreljsset(card, 0, controls, group);
  uint32_t values[12] = {};
  tamreljs(card, 0, values, group);
  for (unsigned word :
       {static_cast<unsigned>(round) % 64, 63u - static_cast<unsigned>(round) % 64}) {
    uint16_t value = 0;
    if (!P9050_EEPROMReadWord(card, 2 * word, &value)) {
      ++result->failedEepromReads;
    } else if (value != ImageWord(board, word)) {
      ++result->wrongEepromWords;
    }
  }
}

TEST(BoardsInThreads, TwoOwnersAndAnOpenerDoNotDisturbEachOther) {
  sim::Simulator simulator;
  simulator.set_logging(false);  // the request log is for one thread's tests
  std::vector<sim::SimBoard> boards;
  for (int b = 0; b < kBoards; ++b) {
    sim::BoardConfig config;
    config.slot = static_cast<uint32_t>(3 + b);
    boards.push_back(sim::AddBoard(simulator, config));
    for (unsigned i = 0; i < sim::Eeprom93C46::kWords; ++i) {
      boards.back().eeprom->set_word(i, ImageWord(b, i));
    }
    boards.back().ports->set_digital_in(DigitalIn(b));
    boards.back().ports->set_logging(true);
  }
  const int32_t delayCount = AccessDelayCount;
  AccessDelayCount = 2;  // the pacing is not what this test is about
  sim::ScopedInstall install(simulator);

  ZarereraCard owned[2] = {nullptr, nullptr};
  for (int b = 0; b < 2; ++b) {
    ASSERT_TRUE(P9050_Open(&owned[b], sim::wiring::kVendorId, sim::wiring::kDeviceId,
                           static_cast<uint32_t>(b), 0));
  }
  const uint32_t delaysBefore = Board_AccessDelays();

  std::atomic<int> ownersDone{0};
  OwnerResult results[2];
  std::vector<std::thread> owners;
  for (int b = 0; b < 2; ++b) {
    owners.emplace_back([&, b] {
      for (int round = 0; round < kRounds; ++round) Round(owned[b], b, round, &results[b]);
      ownersDone.fetch_add(1);
    });
  }
  int opens = 0;
  int failedOpens = 0;
  int wrongCounts = 0;
  int wrongThirdIn = 0;
  std::thread opener([&] {
    while (ownersDone.load() < 2 || opens < kMinimumOpens) {
      if (P9050_CountCards(sim::wiring::kVendorId, sim::wiring::kDeviceId) != kBoards)
        ++wrongCounts;
      P9050_Handle* third = nullptr;
      if (P9050_Open(&third, sim::wiring::kVendorId, sim::wiring::kDeviceId, 2, 0)) {
        if (tamreldi(third) != DigitalIn(2)) ++wrongThirdIn;
        P9050_Close(third);
      } else {
        ++failedOpens;
      }
      opens += 2;  // the count's own device handle and the card's
    }
  });
  for (std::thread& t : owners) t.join();
  opener.join();

  for (int b = 0; b < 2; ++b) {
    SCOPED_TRACE(b);
    EXPECT_EQ(results[b].wrongDigitalIn, 0);
    EXPECT_EQ(results[b].wrongEepromWords, 0);
    EXPECT_EQ(results[b].failedEepromReads, 0);
    EXPECT_EQ(boards[b].ports->digital_out(), kRounds - 1);
    EXPECT_EQ(boards[b].ports->digital_out_writes(), static_cast<uint64_t>(kRounds));
    // Per round: the latch, the input, three times control + two count bytes, six count reads.
    EXPECT_EQ(boards[b].ports->log().size(), static_cast<size_t>(kRounds) * (1 + 1 + 9 + 6));
  }
  EXPECT_EQ(failedOpens, 0);
  EXPECT_EQ(wrongCounts, 0);
  EXPECT_EQ(wrongThirdIn, 0);
  EXPECT_GE(opens, kMinimumOpens);
  // The third board saw only the opener's input reads; the owners' boards none of its.
  EXPECT_EQ(boards[2].ports->digital_out_writes(), 0u);
  EXPECT_EQ(boards[2].ports->log().size(), static_cast<size_t>(opens / 2));
  // Every delay counted: per round one after each latch write and input read, nine in the set and
  // nine in the read, and one per third-board input read.
  EXPECT_EQ(Board_AccessDelays() - delaysBefore,
            static_cast<uint32_t>(2 * kRounds * (1 + 1 + 9 + 9) + opens / 2));

  EXPECT_EQ(simulator.registrations(), 2);
  for (ZarereraCard card : owned) EXPECT_EQ(tamrelclose(card), 1);
  EXPECT_EQ(simulator.registrations(), 0);
  EXPECT_EQ(simulator.mapped_windows(), 0);
  EXPECT_EQ(WdHosted_OpenHandles(), 0);
  AccessDelayCount = delayCount;
}

}  // namespace
