// The card handle against the simulated driver: counting, the open sequence and its failure paths,
// element detection, closing, configuration-space access.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bridge_fixture.h"
#include "hooks/test_hooks.h"

namespace bridge_test {
namespace {

class CardTest : public ::testing::Test, public BridgeFixture {};

// --- Counting ------------------------------------------------------------------------------------

struct CountCase {
  const char* name;
  int cards;
  std::function<void(sim::Simulator&)> fault;
  bool installed;
  uint32_t expected;
  const char* text;
};

void PrintTo(const CountCase& c, std::ostream* os) {
  *os << c.name;
}

class CountCardsTest : public ::testing::TestWithParam<CountCase>, public BridgeFixture {};

TEST_P(CountCardsTest, CountsAndExplains) {
  const CountCase& c = GetParam();
  for (int i = 0; i < c.cards; i++) sim::AddPlx9050(simulator_, 0, 4 + i, 0);
  if (c.fault) c.fault(simulator_);
  if (!c.installed) WdHosted_Install(nullptr);
  std::snprintf(P9050_ErrorText, sizeof P9050_ErrorText, "stale");
  EXPECT_EQ(P9050_CountCards(kVendor, kDevice), c.expected);
  EXPECT_STREQ(P9050_ErrorText, c.text);
  EXPECT_EQ(WdHosted_OpenHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CountCardsTest,
    ::testing::Values(
        CountCase{"Three", 3, nullptr, true, 3, ""},
        CountCase{"None", 0, nullptr, true, 0, "no cards found\n"},
        CountCase{"NoDriver", 1, nullptr, false, 0, "Failed opening WinDriver device\n"},
        CountCase{"Version621", 1, [](sim::Simulator& s) { s.SetVersion(621); }, true, 0,
                  "Incorrect WinDriver version\n"},
        CountCase{"Version622", 1, [](sim::Simulator& s) { s.SetVersion(622); }, true, 1, ""},
        // A scan that reports failure leaves the text empty.
        CountCase{"ScanFails", 1,
                  [](sim::Simulator& s) { s.FailRequests(WD_CODE_PCI_SCAN, 0x20000001u); }, true, 0,
                  ""}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Opening -------------------------------------------------------------------------------------

TEST_F(CardTest, OpenSendsVersionScanInfoRegisterAndTouchesNoConfiguration) {
  sim::AddPlx9050(simulator_, 0, 4, 0);
  P9050_Handle* h = Open();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Codes(), (std::vector<uint32_t>{WD_CODE_VERSION, WD_CODE_PCI_SCAN,
                                            WD_CODE_PCI_CARD_INFO, WD_CODE_CARD_REGISTER}));
  const auto scan = simulator_.log()[1].As<WdPciScan>();
  EXPECT_EQ(scan.vendorId, kVendor);
  EXPECT_EQ(scan.deviceId, kDevice);
  const auto reg = simulator_.log()[3].As<WdCardRegister>();
  EXPECT_EQ(reg.checkLockOnly, 0u);
  EXPECT_EQ(std::memcmp(&reg.card, &h->cardRegister.card, sizeof reg.card), 0);
  EXPECT_STREQ(P9050_ErrorText, "");
  EXPECT_EQ(WdHosted_OpenHandles(), 1);
  EXPECT_EQ(simulator_.registrations(), 1);

  // The table follows the card's BARs.
  EXPECT_EQ(h->addrDesc[0].isMemory, 1u);
  EXPECT_EQ(h->addrDesc[0].bytes, 128u);
  EXPECT_EQ(h->addrDesc[0].mask, 127u);
  EXPECT_NE(h->addrDesc[0].userAddress, 0u);
  EXPECT_EQ(h->addrDesc[1].isMemory, 0u);
  EXPECT_EQ(h->addrDesc[3].bytes, 256u);
  EXPECT_EQ(h->addrDesc[3].userAddress, 0u);
  for (uint32_t space = 0; space < 6; space++) {
    EXPECT_EQ(P9050_IsAddrSpaceActive(h, space), space < 4 ? TRUE : FALSE) << space;
  }
  EXPECT_NE(h->intHandle, 0u);
}

TEST_F(CardTest, CardIndexCountsInScanOrderAndStopsAtTheCount) {
  for (uint32_t slot : {3u, 7u, 9u}) sim::AddPlx9050(simulator_, 0, slot, 0);
  P9050_Handle* last = Open(2);
  ASSERT_NE(last, nullptr);
  WdPciSlot where{};
  P9050_GetPciSlot(last, &where);
  EXPECT_EQ(where.bus, 0u);
  EXPECT_EQ(where.slot, 9u);
  EXPECT_EQ(where.function, 0u);
  EXPECT_EQ(simulator_.log()[2].As<WdPciCardInfo>().pciSlot.slot, 9u);

  P9050_Handle* h = reinterpret_cast<P9050_Handle*>(1);
  EXPECT_FALSE(P9050_Open(&h, kVendor, kDevice, 3, 0));
  EXPECT_EQ(h, nullptr);
  EXPECT_STREQ(P9050_ErrorText, "Card out of range of available cards\n");
}

// A driver reporting more cards than the scan record holds cannot push the index past its slots.
TEST_F(CardTest, IndexBeyondTheScanRecordIsOutOfRange) {
  WdPciScan scan{};
  scan.cardCount = 150;
  simulator_.OverrideScan(scan);
  P9050_Handle* h = nullptr;
  EXPECT_FALSE(P9050_Open(&h, kVendor, kDevice, WD_PCI_CARDS, 0));
  EXPECT_STREQ(P9050_ErrorText, "Card out of range of available cards\n");
  EXPECT_EQ(simulator_.Count(WD_CODE_PCI_CARD_INFO), 0u);
}

struct OpenFault {
  const char* name;
  std::function<void(sim::Simulator&)> fault;
  const char* text;
  bool unregisters;  // the sequence got as far as a registration it must give back
};

void PrintTo(const OpenFault& c, std::ostream* os) {
  *os << c.name;
}

class OpenFailureTest : public ::testing::TestWithParam<OpenFault>, public BridgeFixture {};

// Whatever goes wrong, open returns FALSE with a NULL handle, the reason, and nothing held.
TEST_P(OpenFailureTest, LeavesNothingBehind) {
  const OpenFault& f = GetParam();
  sim::AddPlx9050(simulator_, 0, 4, 0);
  f.fault(simulator_);
  std::snprintf(P9050_ErrorText, sizeof P9050_ErrorText, "stale");
  P9050_Handle* h = reinterpret_cast<P9050_Handle*>(1);
  EXPECT_FALSE(P9050_Open(&h, kVendor, kDevice, 0, P9050_OPEN_FIX_BAR0));
  EXPECT_EQ(h, nullptr);
  EXPECT_STREQ(P9050_ErrorText, f.text);
  EXPECT_EQ(WdHosted_OpenHandles(), 0);
  EXPECT_EQ(simulator_.registrations(), 0);
  EXPECT_EQ(simulator_.Count(WD_CODE_CARD_UNREGISTER), f.unregisters ? 1u : 0u);
  if (f.unregisters) {
    EXPECT_EQ(Codes().back(), WD_CODE_CARD_UNREGISTER);
  }
}

WdCard CardWith(std::initializer_list<WdItem> items) {
  WdCard card{};
  for (const WdItem& item : items) card.items[card.itemCount++] = item;
  return card;
}

WdItem IoItem(uint32_t bar, uint32_t port, uint32_t bytes) {
  WdItem item{};
  item.kind = WD_ITEM_IO;
  item.u.io.bar = bar;
  item.u.io.port = port;
  item.u.io.bytes = bytes;
  return item;
}

WdItem MemItem(uint32_t bar, uint32_t address, uint32_t bytes) {
  WdItem item{};
  item.kind = WD_ITEM_MEMORY;
  item.u.mem.bar = bar;
  item.u.mem.physAddress = address;
  item.u.mem.transferAddress = address;
  item.u.mem.bytes = bytes;
  return item;
}

WdItem IntItem(uint32_t irq, uint32_t handle = 0) {
  WdItem item{};
  item.kind = WD_ITEM_INTERRUPT;
  item.u.interrupt.irq = irq;
  item.u.interrupt.intHandle = handle;
  return item;
}

const WdPciSlot kSlot{0, 4, 0};

INSTANTIATE_TEST_SUITE_P(
    Faults, OpenFailureTest,
    ::testing::Values(
        OpenFault{"NoDriver", [](sim::Simulator&) { WdHosted_Install(nullptr); },
                  "Failed opening WinDriver device\n", false},
        OpenFault{"Version621", [](sim::Simulator& s) { s.SetVersion(621); },
                  "Incorrect WinDriver version\n", false},
        OpenFault{"VersionSilent", [](sim::Simulator& s) { s.SilenceRequests(WD_CODE_VERSION); },
                  "Incorrect WinDriver version\n", false},
        OpenFault{"ScanFails",
                  [](sim::Simulator& s) { s.FailRequests(WD_CODE_PCI_SCAN, 0x20000001u); },
                  "Could not find PCI card\n", false},
        OpenFault{"NoSuchCard",
                  [](sim::Simulator& s) {
                    WdPciScan none{};
                    s.OverrideScan(none);
                  },
                  "Could not find PCI card\n", false},
        // No resources come back: the empty card registers but has nothing to work with.
        OpenFault{"CardInfoFails",
                  [](sim::Simulator& s) { s.FailRequests(WD_CODE_PCI_CARD_INFO, 0x20000004u); },
                  "Card does not have all items expected for PLX 9050\n", true},
        OpenFault{"RegistrationRefused", [](sim::Simulator& s) { s.RefuseRegistration(true); }, "",
                  false},
        OpenFault{"RegistrationSilent",
                  [](sim::Simulator& s) { s.SilenceRequests(WD_CODE_CARD_REGISTER); }, "", false},
        OpenFault{"NoActiveSpace",
                  [](sim::Simulator& s) { s.OverrideCardItems(kSlot, CardWith({IntItem(10)})); },
                  "Card does not have all items expected for PLX 9050\n", true},
        // Registration hands every interrupt item a handle, so the second one is refused.
        OpenFault{"TwoInterrupts",
                  [](sim::Simulator& s) {
                    s.OverrideCardItems(
                        kSlot, CardWith({IoItem(1, 0xD000, 128), IntItem(10), IntItem(11)}));
                  },
                  "Card does not have all items expected for PLX 9050\n", true}),
    [](const auto& info) { return std::string(info.param.name); });

// The BAR0 fix writes BAR0 back only from a configuration read that succeeded; a failed or
// unanswered read sends no write (its zeroed value would move the registers to address 0) and open
// goes on as without the option.
struct ConfigFault {
  const char* name;
  std::function<void(sim::Simulator&)> fault;
};

void PrintTo(const ConfigFault& c, std::ostream* os) {
  *os << c.name;
}

class ConfigFaultTest : public ::testing::TestWithParam<ConfigFault>, public BridgeFixture {};

TEST_P(ConfigFaultTest, FailedReadWritesNoBar0AndOpenGoesOn) {
  sim::AddPlx9050(simulator_, 0, 4, 0);
  GetParam().fault(simulator_);
  P9050_Handle* h = Open(0, P9050_OPEN_FIX_BAR0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Codes(), (std::vector<uint32_t>{WD_CODE_VERSION, WD_CODE_PCI_SCAN, WD_CODE_PCI_CONFIG,
                                            WD_CODE_PCI_CARD_INFO, WD_CODE_CARD_REGISTER}));
  EXPECT_EQ(simulator_.log()[2].As<WdPciConfigDump>().isRead, 1u);
  EXPECT_TRUE(P9050_IsAddrSpaceActive(h, 0));
}

INSTANTIATE_TEST_SUITE_P(Faults, ConfigFaultTest,
                         ::testing::Values(ConfigFault{"Fails",
                                                       [](sim::Simulator& s) {
                                                         s.FailRequests(
                                                             WD_CODE_PCI_CONFIG,
                                                             sim::kStatusInvalidParameter);
                                                       }},
                                           ConfigFault{"Silent",
                                                       [](sim::Simulator& s) {
                                                         s.SilenceRequests(WD_CODE_PCI_CONFIG);
                                                       }}),
                         [](const auto& info) { return std::string(info.param.name); });

// Refuses configuration reads and passes everything else, writes included, to the simulator.
class ReadRefusingDriver : public WdHostedDriver {
 public:
  explicit ReadRefusingDriver(sim::Simulator& simulator) : simulator_(simulator) {}
  bool Control(uint32_t code, void* record, uint32_t size, uint32_t* status) override {
    if (code == WD_CODE_PCI_CONFIG && static_cast<WdPciConfigDump*>(record)->isRead != 0) {
      *status = sim::kStatusInvalidParameter;
      return true;
    }
    return simulator_.Control(code, record, size, status);
  }

 private:
  sim::Simulator& simulator_;
};

// Where only the read fails, a write would reach the card: BAR0 must stay where it was.
TEST_F(CardTest, FailedBar0ReadLeavesTheCardWhereItIs) {
  sim::Plx9050Config cfg;
  cfg.bar0_address = 0xFD000080u;
  sim::AddPlx9050(simulator_, 0, 4, 0, cfg);
  ReadRefusingDriver refusing(simulator_);
  WdHosted_Install(&refusing);
  P9050_Handle* h = nullptr;
  const BOOL opened = P9050_Open(&h, kVendor, kDevice, 0, P9050_OPEN_FIX_BAR0);
  if (h != nullptr) handles_.push_back(h);
  WdHosted_Install(&simulator_);
  EXPECT_TRUE(opened) << P9050_ErrorText;
  EXPECT_EQ(simulator_.Count(WD_CODE_PCI_CONFIG), 0u);  // the refused read never got there
  EXPECT_EQ(simulator_.Find(0, 4, 0)->ConfigRead(0x10, 4), 0xFD000080u);
}

TEST_F(CardTest, RefusedAllocationReturnsNullAndSendsNothing) {
  sim::AddPlx9050(simulator_, 0, 4, 0);
  P9050_SetHandleAllocator([](size_t, size_t) -> void* { return nullptr; }, nullptr);
  P9050_Handle* h = reinterpret_cast<P9050_Handle*>(1);
  const BOOL ok = P9050_Open(&h, kVendor, kDevice, 0, 0);
  P9050_SetHandleAllocator(nullptr, nullptr);
  EXPECT_FALSE(ok);
  EXPECT_EQ(h, nullptr);
  EXPECT_STRNE(P9050_ErrorText, "");
  EXPECT_TRUE(simulator_.log().empty());
}

TEST_F(CardTest, CardWithOnlyAnIoRangeOpens) {
  sim::Plx9050Config cfg;
  for (auto& bar : cfg.bars) bar = {};
  cfg.bars[1] = {sim::BarKind::kIo, 128};
  cfg.irq = 0;
  sim::AddPlx9050(simulator_, 0, 4, 0, cfg);
  P9050_Handle* h = Open();
  ASSERT_NE(h, nullptr);
  EXPECT_FALSE(P9050_IsAddrSpaceActive(h, 0));
  EXPECT_TRUE(P9050_IsAddrSpaceActive(h, 1));
  EXPECT_EQ(h->intHandle, 0u);
}

// Any one active space among 0-5 makes a card usable, the last one too.
TEST_F(CardTest, CardWithOnlyBar5Opens) {
  sim::Plx9050Config cfg;
  for (auto& bar : cfg.bars) bar = {};
  cfg.bars[5] = {sim::BarKind::kIo, 64};
  sim::AddPlx9050(simulator_, 0, 4, 0, cfg);
  P9050_Handle* h = Open();
  ASSERT_NE(h, nullptr);
  for (uint32_t space = 0; space < P9050_ADDR_SPACES; space++) {
    EXPECT_EQ(P9050_IsAddrSpaceActive(h, space), space == 5 ? TRUE : FALSE) << space;
  }
  EXPECT_EQ(h->addrDesc[5].bytes, 64u);
}

TEST_F(CardTest, FixBar0RewritesBar0BeforeReadingResourcesAndReachesTheRegisters) {
  sim::Plx9050Config cfg;
  cfg.bar0_bit7_erratum = true;
  cfg.bar0_address = 0xFD000080u;
  sim::Plx9050& card = sim::AddPlx9050(simulator_, 0, 4, 0, cfg);

  // Without the fix the registers do not answer through BAR0.
  P9050_Handle* plain = Open();
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(simulator_.Count(WD_CODE_PCI_CONFIG), 0u);
  EXPECT_EQ(P9050_ReadReg(plain, P9050_LAS1RR), 0xFFFFFFFFu);
  Close(plain);
  simulator_.ClearLog();

  P9050_Handle* h = Open(0, P9050_OPEN_FIX_BAR0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Codes(), (std::vector<uint32_t>{WD_CODE_VERSION, WD_CODE_PCI_SCAN, WD_CODE_PCI_CONFIG,
                                            WD_CODE_PCI_CONFIG, WD_CODE_PCI_CARD_INFO,
                                            WD_CODE_CARD_REGISTER}));
  const auto read = simulator_.log()[2].As<WdPciConfigDump>();
  const auto write = simulator_.log()[3].As<WdPciConfigDump>();
  for (const auto& d : {read, write}) {
    EXPECT_EQ(d.offset, 0x10u);
    EXPECT_EQ(d.bytes, 4u);
    EXPECT_EQ(d.pciSlot.slot, 4u);
  }
  EXPECT_EQ(read.isRead, 1u);
  EXPECT_EQ(write.isRead, 0u);
  // The resources were read after the move.
  const auto info = simulator_.log()[4].As<WdPciCardInfo>();
  EXPECT_EQ(info.card.items[0].u.mem.physAddress, 0xFD000000u);
  EXPECT_EQ(P9050_ReadPciReg(h, 0x10), 0xFD000000u);
  EXPECT_TRUE(card.RegistersReachableThroughBar0());
  EXPECT_EQ(P9050_ReadReg(h, P9050_LAS1RR), 0x0FFFFF01u);
}

TEST_F(CardTest, ConfigurationDwordsGoToTheCardsSlot) {
  sim::AddPlx9050(simulator_, 0, 4, 0);
  sim::AddPlx9050(simulator_, 1, 2, 3);
  P9050_Handle* h = Open(1);
  ASSERT_NE(h, nullptr);
  simulator_.ClearLog();
  EXPECT_EQ(P9050_ReadPciReg(h, 0x00), 0x10B59050u);
  EXPECT_EQ(P9050_WritePciReg(h, 0x3C, 0x0000010Bu), 0u);
  EXPECT_EQ(P9050_ReadPciReg(h, 0x3C) & 0xFFu, 0x0Bu);
  ASSERT_EQ(simulator_.log().size(), 3u);
  for (const auto& r : simulator_.log()) {
    const auto d = r.As<WdPciConfigDump>();
    EXPECT_EQ(d.pciSlot.bus, 1u);
    EXPECT_EQ(d.pciSlot.slot, 2u);
    EXPECT_EQ(d.pciSlot.function, 3u);
    EXPECT_EQ(d.bytes, 4u);
  }
  EXPECT_EQ(simulator_.log()[1].As<WdPciConfigDump>().isRead, 0u);
}

TEST_F(CardTest, CloseOfAFreshHandleOnlyUnregisters) {
  sim::Plx9050& card = sim::AddPlx9050(simulator_, 0, 4, 0);
  P9050_Handle* h = Open();
  ASSERT_NE(h, nullptr);
  EXPECT_FALSE(P9050_IntIsEnabled(h));
  simulator_.ClearLog();
  card.ClearRegisterWrites();
  P9050_IntDisable(h);
  EXPECT_TRUE(simulator_.log().empty());
  Close(h);
  EXPECT_EQ(Codes(), std::vector<uint32_t>{WD_CODE_CARD_UNREGISTER});
  EXPECT_TRUE(card.register_writes().empty());
  EXPECT_EQ(WdHosted_OpenHandles(), 0);
  EXPECT_EQ(simulator_.registrations(), 0);
}

// With an interrupt service marked active, close clears only the PCI interrupt enable.
TEST_F(CardTest, CloseOfAnActiveHandleClearsThePciInterruptEnableFirst) {
  sim::Plx9050& card = sim::AddPlx9050(simulator_, 0, 4, 0);
  card.Poke(P9050_INTCSR, 0x49);  // local interrupt 1 and PCI interrupt enabled
  P9050_Handle* h = Open();
  ASSERT_NE(h, nullptr);
  h->active = 1;
  card.ClearRegisterWrites();
  simulator_.ClearLog();
  Close(h);
  // The store to the mapped INTCSR reaches the card with the unregister request, before it.
  ASSERT_EQ(card.register_writes().size(), 1u);
  EXPECT_EQ(card.register_writes()[0], (sim::Plx9050::RegisterWrite{0, P9050_INTCSR, 0x09}));
  EXPECT_EQ(card.Peek(P9050_INTCSR), 0x09u);
  EXPECT_EQ(Codes(), std::vector<uint32_t>{WD_CODE_CARD_UNREGISTER});
}

TEST_F(CardTest, SeveralCardsOpenAtOnceThroughSeparateHandles) {
  sim::Plx9050& a = sim::AddPlx9050(simulator_, 0, 4, 0);
  sim::Plx9050& b = sim::AddPlx9050(simulator_, 0, 5, 0);
  auto ramA = a.AttachRam(0, 256);
  auto ramB = b.AttachRam(0, 256);
  P9050_Handle* ha = Open(0);
  P9050_Handle* hb = Open(1);
  ASSERT_NE(ha, nullptr);
  ASSERT_NE(hb, nullptr);
  EXPECT_NE(ha->device, hb->device);
  EXPECT_EQ(WdHosted_OpenHandles(), 2);
  EXPECT_EQ(simulator_.registrations(), 2);
  P9050_WriteByte(ha, 3, 0x10, 0xA5);
  P9050_WriteByte(hb, 3, 0x10, 0x5A);
  P9050_WriteReg(ha, P9050_CS0BASE, 0x1234);
  EXPECT_EQ(P9050_ReadByte(hb, 3, 0x10), 0x5A);  // a request on card B only
  EXPECT_EQ(a.Peek(P9050_CS0BASE), 0u);
  EXPECT_EQ(P9050_ReadByte(ha, 3, 0x10), 0xA5);  // one on card A: its register store lands
  EXPECT_EQ(ramA->bytes()[0x10], 0xA5);
  EXPECT_EQ(ramB->bytes()[0x10], 0x5A);
  EXPECT_EQ(a.Peek(P9050_CS0BASE), 0x1234u);
  EXPECT_EQ(b.Peek(P9050_CS0BASE), 0u);
  Close(ha);
  EXPECT_EQ(simulator_.registrations(), 1);
  EXPECT_EQ(P9050_ReadByte(hb, 3, 0x10), 0x5A);
}

// --- Element detection, on hand-made item lists -------------------------------------------------

struct DetectCase {
  const char* name;
  WdCard card;
  BOOL expected;
  uint32_t active;  // bit n: space n active afterwards
  uint32_t intHandle;
};

void PrintTo(const DetectCase& c, std::ostream* os) {
  *os << c.name;
}

class DetectTest : public ::testing::TestWithParam<DetectCase> {};

TEST_P(DetectTest, FillsTheTableFromTheItems) {
  const DetectCase& c = GetParam();
  P9050_Handle h;
  std::memset(&h, 0xCC, sizeof h);  // detection must zero the table and interrupt area itself
  h.cardRegister.card = c.card;
  EXPECT_EQ(P9050_DetectCardElements(&h), c.expected);
  if (!c.expected) return;
  for (uint32_t space = 0; space < P9050_ADDR_SPACES; space++) {
    EXPECT_EQ(h.addrDesc[space].bytes != 0, ((c.active >> space) & 1) != 0) << space;
    EXPECT_EQ(h.addrDesc[space].localBase, 0u);
  }
  EXPECT_EQ(h.intHandle, c.intHandle);
  EXPECT_EQ(h.active, 0u);
  EXPECT_EQ(h.commands, nullptr);
  EXPECT_EQ(h.handler, nullptr);
}

// A live item just past the count is not part of the card.
WdCard ItemPastTheCount() {
  WdCard card = CardWith({IoItem(1, 0xC000, 128)});
  card.items[1] = MemItem(2, 0xFE000000, 4096);
  return card;
}

WdCard Overlong() {
  WdCard card = CardWith({IoItem(1, 0xD000, 128)});
  card.itemCount = 0xFFFFFFFFu;  // only the 20 items the record holds are walked
  return card;
}

INSTANTIATE_TEST_SUITE_P(
    Items, DetectTest,
    ::testing::Values(
        DetectCase{"Default",
                   CardWith({MemItem(0, 0xFE000000, 128), IoItem(1, 0xC000, 128), IntItem(10, 7)}),
                   TRUE, 0x3, 7},
        DetectCase{"IoOnly", CardWith({IoItem(3, 0xC100, 256)}), TRUE, 0x8, 0},
        // BAR 6 has an entry, but only spaces 0-5 make a card usable.
        DetectCase{"Bar6BesideARange",
                   CardWith({MemItem(6, 0xFE100000, 4096), IoItem(1, 0xC000, 128)}), TRUE, 0x42, 0},
        DetectCase{"Bar6Alone", CardWith({MemItem(6, 0xFE100000, 4096)}), FALSE, 0, 0},
        DetectCase{"NothingActive", CardWith({IntItem(10, 7)}), FALSE, 0, 0},
        DetectCase{"BarPastTheTableSkipped",
                   CardWith({MemItem(7, 0xFE000000, 128), IoItem(9, 0xC000, 128)}), FALSE, 0, 0},
        DetectCase{"BarPastTheTableBesideARange",
                   CardWith({MemItem(200, 0xFE000000, 128), IoItem(1, 0xC000, 128)}), TRUE, 0x2, 0},
        DetectCase{"SecondInterruptAfterHandle", CardWith({IntItem(10, 7), IntItem(11, 8)}), FALSE,
                   0, 0},
        // A first interrupt item without a handle leaves room for a second.
        DetectCase{"SecondInterruptAfterZeroHandle",
                   CardWith({IntItem(10, 0), IntItem(11, 8), IoItem(1, 0xC000, 128)}), TRUE, 0x2,
                   8},
        DetectCase{"OverlongItemCount", Overlong(), TRUE, 0x2, 0},
        DetectCase{"ItemPastTheCountIgnored", ItemPastTheCount(), TRUE, 0x2, 0},
        DetectCase{"OnlyBar5", CardWith({IoItem(5, 0xC200, 64)}), TRUE, 0x20, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DetectMemoryTest, MemoryAndIoEntriesCarryTheirAddresses) {
  P9050_Handle h{};
  WdItem mem = MemItem(2, 0xFE000100, 256);
  mem.u.mem.userAddress = 0x7000;
  h.cardRegister.card = CardWith({mem, IoItem(3, 0xC100, 256)});
  ASSERT_TRUE(P9050_DetectCardElements(&h));
  EXPECT_EQ(h.addrDesc[2].isMemory, 1u);
  EXPECT_EQ(h.addrDesc[2].transferAddress, 0xFE000100u);
  EXPECT_EQ(h.addrDesc[2].userAddress, 0x7000u);
  EXPECT_EQ(h.addrDesc[2].mask, 0xFFu);
  EXPECT_EQ(h.addrDesc[3].isMemory, 0u);
  EXPECT_EQ(h.addrDesc[3].transferAddress, 0xC100u);
  EXPECT_EQ(h.addrDesc[3].userAddress, 0u);
  EXPECT_EQ(h.addrDesc[3].mask, 0xFFu);
}

}  // namespace
}  // namespace bridge_test
