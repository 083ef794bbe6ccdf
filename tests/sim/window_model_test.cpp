// A card model without window support behind a memory window (its reads and writes are all the
// window sees), and the change bookkeeping a model with it keeps.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/change_log.h"
#include "sim/sim_fixture.h"
#include "support/param_name.h"

namespace window_model_test {

// Answers reads from its own dwords and logs every access; no window support.
class PlainCard : public sim::CardModel {
 public:
  struct Access {
    bool write;
    int bar;
    uint32_t offset;
    uint32_t value;
    unsigned size;
    bool operator==(const Access&) const = default;
  };
  uint32_t BarRead(int bar, uint32_t offset, unsigned size) override {
    const uint32_t v = regs[offset / 4];
    accesses.push_back({false, bar, offset, v, size});
    return v;
  }
  void BarWrite(int bar, uint32_t offset, uint32_t value, unsigned size) override {
    accesses.push_back({true, bar, offset, value, size});
    regs[offset / 4] = value;
  }
  uint32_t regs[4] = {0x11, 0x22, 0x33, 0x44};
  std::vector<Access> accesses;
};

class PlainWindowTest : public simtest::SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    sim::FunctionConfig cfg;
    cfg.vendor_id = 0x1234;
    cfg.bars[0] = {sim::BarKind::kMemory, 16};
    sim_.AddFunction(0, 3, 0, cfg, card_);
    reg_ = Register(0, 3, 0);
    window_ = WD_FROM_UPTR(volatile uint32_t*, reg_.card.items[0].u.mem.userAddress);
  }
  void TearDown() override {
    EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, reg_), 0u);
    SimFixture::TearDown();
  }
  std::shared_ptr<PlainCard> card_ = std::make_shared<PlainCard>();
  WdCardRegister reg_{};
  volatile uint32_t* window_ = nullptr;
};

// The window shows what BarRead answers; a store reaches BarWrite as one dword at the next request;
// the model's own changes show after every request that syncs the window.
TEST_F(PlainWindowTest, ReadsWritesAndReadsBackThroughThePlainCalls) {
  EXPECT_EQ(window_[0], 0x11u);
  EXPECT_EQ(window_[3], 0x44u);
  card_->accesses.clear();
  window_[2] = 0xABCD;
  Sleep();
  ASSERT_FALSE(card_->accesses.empty());
  EXPECT_EQ(card_->accesses[0], (PlainCard::Access{true, 0, 8, 0xABCD, 4}));
  for (size_t i = 1; i < card_->accesses.size(); ++i) EXPECT_FALSE(card_->accesses[i].write);
  EXPECT_EQ(card_->regs[2], 0xABCDu);

  card_->regs[1] = 0x5555;  // the model changes by itself: it cannot tell, so it is read back
  Sleep();
  EXPECT_EQ(window_[1], 0x5555u);
  EXPECT_EQ(window_[2], 0xABCDu);
}

struct ChangeCase {
  const char* name;
  std::vector<uint32_t> changes;  // dwords, ChangeLog::kNone, or kEverything
  uint64_t seen;                  // the generation a window saw
  uint64_t expected;
};

constexpr uint32_t kEverything = 0x100;

void PrintTo(const ChangeCase& c, std::ostream* os) {
  *os << c.name;
}

std::vector<uint32_t> Repeat(uint32_t dword, size_t times) {
  return std::vector<uint32_t>(times, dword);
}

std::vector<uint32_t> Then(std::vector<uint32_t> a, const std::vector<uint32_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class ChangeLogTest : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(ChangeLogTest, NamesTheDwordsChangedSinceAGeneration) {
  sim::ChangeLog log;
  EXPECT_EQ(log.generation(), 1u);
  for (uint32_t c : GetParam().changes) {
    if (c == kEverything) {
      log.Changed(sim::ChangeLog::kNone);
      log.ChangedEverything();
    } else {
      log.Changed(c);
    }
  }
  EXPECT_EQ(log.generation(), 1u + GetParam().changes.size());
  EXPECT_EQ(log.ChangedSince(GetParam().seen), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChangeLogTest,
    ::testing::Values(
        ChangeCase{"NothingSince", {3, 5}, 3, 0},
        ChangeCase{"TheLastOne", {3, 5}, 2, uint64_t{1} << 5},
        ChangeCase{"Both", {3, 5}, 1, uint64_t{1} << 3 | uint64_t{1} << 5},
        ChangeCase{"NoneNamesNothing", {sim::ChangeLog::kNone, 64, 200}, 1, 0},
        ChangeCase{"HighestDword", {63, 0}, 1, uint64_t{1} << 63 | 1},
        // Sixteen generations behind: from the record of the latest; seventeen: from the stamps.
        ChangeCase{"SixteenBehind", Then({7}, Repeat(2, 15)), 1, uint64_t{1} << 7 | 1 << 2},
        ChangeCase{"SeventeenBehind", Then({7}, Repeat(2, 16)), 1, uint64_t{1} << 7 | 1 << 2},
        ChangeCase{"FarBehindOnlyLaterStamps", Then({7}, Repeat(2, 40)), 2, uint64_t{1} << 2},
        ChangeCase{"EverythingSince", {4, kEverything, 6}, 2, ~uint64_t{0}},
        ChangeCase{"EverythingBefore", {4, kEverything, 6}, 3, uint64_t{1} << 6}),
    testsupport::ByNameMember());

}  // namespace window_model_test
