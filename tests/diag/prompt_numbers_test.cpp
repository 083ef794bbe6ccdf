// Every kind of console prompt with a number outside its conversion's 32-bit range: the answer
// counts as no number, so the session goes exactly as with an empty line (the prompt's preset
// stays), on every C runtime; an answer in range is taken (the session differs). Prompts whose
// answer is written refuse both instead, each with its reason: their tests are the menus' own.
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "diag/pci_diag.h"
#include "diag_fixture.h"

namespace diag_test {
namespace {

// Which cards are on the bus: the first is always a 9050 at slot 3 with its registers behind an
// I/O BAR0 (every register access is a request) and an EEPROM.
enum class Bus { kOneCard, kTwoCards, kTwoVendors };

struct PromptCase {
  const char* name;
  Bus bus;
  std::function<void(P9050_Handle*)> run;
  const char* session;  // the typed lines; "@" stands for the answer under test
  const char* outside;  // beyond the conversion's range
  const char* taken;    // in range, and not the preset
};

void PrintTo(const PromptCase& c, std::ostream* os) {
  *os << c.name;
}

// One run of a prompt on a fresh bus: what it printed, and what reached the driver and the card.
std::string Session(const PromptCase& c, const std::string& answer) {
  sim::Simulator simulator;
  sim::ScopedInstall install(simulator);
  sim::Plx9050Config cfg;
  cfg.bars[0] = {sim::BarKind::kIo, sim::plx9050::kRegisterBlockSize};
  sim::Plx9050& card = sim::AddPlx9050(simulator, 0, 3, 0, cfg);
  auto eeprom = std::make_shared<sim::Eeprom93C46>(simulator.clock(), sim::DefaultEepromImage());
  card.AttachEeprom(eeprom);
  if (c.bus != Bus::kOneCard) {
    sim::Plx9050Config other;
    if (c.bus == Bus::kTwoVendors) other.vendor_id = 0x1234;
    sim::AddPlx9050(simulator, 0, 4, 0, other);
  }
  P9050_Handle* h = nullptr;
  EXPECT_TRUE(P9050_Open(&h, kVendor, kDevice, 0, 0));
  simulator.ClearLog();
  card.ClearRegisterWrites();

  std::string input = c.session;
  input.replace(input.find('@'), 1, answer);
  std::ostringstream seen;
  {
    testsupport::ConsoleFiles console(input);
    c.run(h);
    seen << console.Output() << "\n--- requests\n";
  }
  for (const auto& r : simulator.log()) {
    seen << r.code;
    if (r.code == WD_CODE_TRANSFER) {
      const auto t = r.As<WdTransfer>();
      if (t.bytes == 0) seen << " " << t.command << " @" << t.address << " =" << t.data.qword;
    } else if (r.code == WD_CODE_PCI_CONFIG) {
      const auto d = r.As<WdPciConfigDump>();
      seen << " " << d.offset << (d.isRead ? " read" : " write");
    }
    seen << "\n";
  }
  seen << "--- register writes\n";
  for (const auto& w : card.register_writes()) seen << w.offset << " " << w.value << "\n";
  P9050_Close(h);
  EXPECT_EQ(WdHosted_OpenHandles(), 0);
  EXPECT_EQ(simulator.registrations(), 0);
  return seen.str();
}

class PromptNumberTest : public ::testing::TestWithParam<PromptCase> {};

TEST_P(PromptNumberTest, OutOfRangeAnswerKeepsThePreset) {
  const PromptCase& c = GetParam();
  const std::string asEmpty = Session(c, "");
  EXPECT_EQ(Session(c, c.outside), asEmpty);
  EXPECT_NE(Session(c, c.taken), asEmpty) << "the prompt under test does not read the answer";
}

// Runs the chooser and closes what it opened.
void OpenBoard(uint32_t vendorId) {
  P9050_Handle* opened = P9050Diag_OpenBoard(vendorId, kDevice);
  if (opened != nullptr) P9050_Close(opened);
}

const WdPciSlot kFirstSlot{0, 3, 0};

INSTANTIATE_TEST_SUITE_P(
    Prompts, PromptNumberTest,
    ::testing::Values(
        // "%d": 4294967297 wraps to 1 (LAS0RR) with msvcrt's scanf.
        PromptCase{"RegisterEditorChoice", Bus::kOneCard,
                   [](P9050_Handle* h) { P9050Diag_EditRegisters(h); }, "@\n0\n99\n", "4294967297",
                   "1"},
        PromptCase{"AddressSpaceMenuChoice", Bus::kOneCard,
                   [](P9050_Handle* h) { P9050Diag_AccessSpaces(h, FALSE); }, "@\n99\n",
                   "4294967299", "3"},
        // "%d", preset 99: 4294967299 wraps to space 3.
        PromptCase{"SpaceChooser", Bus::kOneCard,
                   [](P9050_Handle* h) { P9050Diag_AccessSpaces(h, FALSE); }, "1\n@\n3\n10\n99\n",
                   "4294967299", "3"},
        // "%x", the preset is the last offset.
        PromptCase{"SpaceOffset", Bus::kOneCard,
                   [](P9050_Handle* h) { P9050Diag_AccessSpaces(h, FALSE); },
                   "1\n3\n3\n10\n3\n@\n99\n", "100000014", "14"},
        PromptCase{"LocalAddress", Bus::kOneCard,
                   [](P9050_Handle* h) { P9050Diag_AccessSpaces(h, TRUE); },
                   "1\n3\n3\n10\n3\n@\n99\n", "-100000000", "14"},
        PromptCase{"InterruptMenuChoice", Bus::kOneCard,
                   [](P9050_Handle* h) { P9050Diag_Interrupts(h); }, "@\n99\n", "-4294967295", "1"},
        PromptCase{"EepromMenuChoice", Bus::kOneCard, [](P9050_Handle* h) { P9050Diag_EEPROM(h); },
                   "@\n99\n", "2147483650", "2"},
        PromptCase{"EepromAddress", Bus::kOneCard, [](P9050_Handle* h) { P9050Diag_EEPROM(h); },
                   "2\n8\n2\n@\n99\n", "10000000c", "c"},
        // "%lx": the preset vendor 0 matches every vendor.
        PromptCase{"OpenVendorId", Bus::kTwoVendors, [](P9050_Handle*) { OpenBoard(0); },
                   "@\n10b5\n1\n", "100001234", "1234"},
        PromptCase{"OpenDeviceId", Bus::kTwoVendors, [](P9050_Handle*) { OpenBoard(0); },
                   "9050\n@\n1\n", "1000010b5", "abcd"},
        // "%ld": the preset 0 is out of range.
        PromptCase{"OpenCardNumber", Bus::kTwoCards, [](P9050_Handle*) { OpenBoard(kVendor); },
                   "@\n", "4294967297", "1"},
        // "%x" with the preset 0, which ends the chooser.
        PromptCase{"PciVendorId", Bus::kOneCard,
                   [](P9050_Handle*) {
                     WdPciSlot slot{};
                     (void)PciBus_SelectCard(&slot);
                   },
                   "@\n10b5\nn\n", "100009050", "9050"},
        // "%u", preset 0: 4294967297 wraps to 1 with msvcrt.
        PromptCase{"PciCardChoice", Bus::kTwoCards,
                   [](P9050_Handle*) {
                     WdPciSlot slot{};
                     (void)PciBus_SelectCard(&slot);
                   },
                   "9050\n10b5\n@\nn\n", "4294967297", "1"},
        PromptCase{"PciEditorChoice", Bus::kOneCard,
                   [](P9050_Handle*) { PciBus_EditConfig(kFirstSlot); }, "@\n0\n99\n",
                   "-2147483649", "15"}),
    [](const ::testing::TestParamInfo<PromptCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace diag_test
