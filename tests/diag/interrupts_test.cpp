// The interrupt menu: the warning shown once, the option's word following P9050_IntIsEnabled, what
// each choice writes to INTCSR, and the sample handler.
#include <string>
#include <vector>

#include "diag_fixture.h"

namespace diag_test {
namespace {

using Write = sim::Plx9050::RegisterWrite;

const std::string kWarning =
    "WARNING!!!\n"
    "----------\n"
    "Your hardware has level sensitive interrupts.\n"
    "You must modify the source code of P9050_IntEnable(), in the file p9050_lib,\n"
    "to acknowledge the interrupt before enabling interrupts.\n"
    "Without this modification, your PC will HANG upon interrupt!\n";

std::string InterruptMenu(const std::string& word) {
  return "Enable / Disable interrupts\n"
         "---------------------------\n"
         "1. " +
         word +
         " interrupts\n"
         "99. Back to main menu\n"
         "\n"
         "Enter option: ";
}

class InterruptsTest : public DiagTest {
 protected:
  void SetUp() override {
    sim::Plx9050Config cfg;
    cfg.bars[0] = {sim::BarKind::kIo, sim::plx9050::kRegisterBlockSize};  // every write logged
    card_ = &AddCard(cfg);
    handle_ = Open();
    card_->ClearRegisterWrites();
  }
  sim::Plx9050* card_ = nullptr;
  P9050_Handle* handle_ = nullptr;
};

// The library alone never marks the interrupt active, so the option always says "Enable" and each
// choice sets the PCI interrupt enable again.
TEST_F(InterruptsTest, LibraryAloneAlwaysOffersEnable) {
  card_->Poke(P9050_INTCSR, 0x09);
  ExpectSession(kWarning + InterruptMenu("Enable") + "«1»\n" + "Enabling interrupts\n" +
                    InterruptMenu("Enable") + "«2»\n" + InterruptMenu("Enable") + "«»\n" +
                    InterruptMenu("Enable") + "«1»\n" + "Enabling interrupts\n" +
                    InterruptMenu("Enable") + "«99»\n",
                [&] { P9050Diag_Interrupts(handle_); });
  EXPECT_EQ(card_->register_writes(),
            (std::vector<Write>{{0, P9050_INTCSR, 0x49}, {0, P9050_INTCSR, 0x49}}));
  EXPECT_EQ(handle_->handler, &P9050Diag_IntHandler);
}

// With an interrupt service running (the handle marked active) the option disables, clearing only
// the PCI interrupt enable.
TEST_F(InterruptsTest, ActiveInterruptIsDisabled) {
  card_->Poke(P9050_INTCSR, 0x49);
  handle_->active = 1;
  ExpectSession(kWarning + InterruptMenu("Disable") + "«1»\n" + "Disabling interrupt Int\n" +
                    InterruptMenu("Enable") + "«99»\n",
                [&] { P9050Diag_Interrupts(handle_); });
  EXPECT_EQ(card_->register_writes(), (std::vector<Write>{{0, P9050_INTCSR, 0x09}}));
}

TEST_F(InterruptsTest, EndOfInputReturnsAfterTheWarning) {
  ExpectSession(kWarning + InterruptMenu("Enable"), [&] { P9050Diag_Interrupts(handle_); });
  EXPECT_TRUE(card_->register_writes().empty());
}

// The sample handler prints the count it is given and touches nothing.
TEST_F(InterruptsTest, HandlerPrintsTheInterruptCount) {
  Run("1\n99\n", [&] { P9050Diag_Interrupts(handle_); });
  handle_->counter = 3;
  const size_t requests = simulator_.log().size();
  testsupport::ConsoleFiles console("");
  P9050_IntDispatch(handle_);
  P9050_IntResult result{70000, 1, 2, 0x45};
  P9050Diag_IntHandler(nullptr, &result);
  EXPECT_EQ(console.Output(), "Got interrupt number 3\nGot interrupt number 70000\n");
  EXPECT_EQ(simulator_.log().size(), requests);
}

}  // namespace
}  // namespace diag_test
