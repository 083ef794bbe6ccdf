// The PCI bus console tools against the simulated driver: transcripts of whole dialogues (input
// script beside the exact output), the requests that reached the driver, and the device handles
// left open afterwards.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "console/console.h"
#include "diag/pci_diag.h"
#include "driver/hosted_driver.h"
#include "sim/simulator.h"
#include "sim/typical_machine.h"
#include "support/console_files.h"
#include "support/param_name.h"

namespace {

// Sits in front of the simulator and notes what each configuration write carried: the value lives
// in the caller's buffer only while the request runs.
class WriteTap : public WdHostedDriver {
 public:
  struct Write {
    uint32_t offset, bytes, value;
    bool operator==(const Write&) const = default;
  };
  explicit WriteTap(sim::Simulator& sim) : sim_(sim) {}
  bool Control(uint32_t code, void* record, uint32_t size, uint32_t* status) override {
    if (code == WD_CODE_PCI_CONFIG) {
      const auto* dump = static_cast<const WdPciConfigDump*>(record);
      if (!dump->isRead && dump->bytes <= 4) {
        uint32_t value = 0;
        std::memcpy(&value, WD_FROM_UPTR(const void*, dump->buffer), dump->bytes);
        writes.push_back({dump->offset, dump->bytes, value});
      }
    }
    return sim_.Control(code, record, size, status);
  }
  std::vector<Write> writes;

 private:
  sim::Simulator& sim_;
};

void PrintTo(const WriteTap::Write& w, std::ostream* os) {
  *os << "{0x" << std::hex << w.offset << ", " << w.bytes << ", 0x" << w.value << "}";
}

constexpr WdPciSlot kEthernet{0, 0x19, 0};
constexpr WdPciSlot kBoards[] = {{1, 0, 0}, {1, 1, 0}, {2, 0, 0}};

class PciBusTest : public ::testing::Test {
 protected:
  PciBusTest() { WdHosted_Install(&tap_); }
  ~PciBusTest() override { WdHosted_Install(nullptr); }
  void TearDown() override { EXPECT_EQ(WdHosted_OpenHandles(), 0) << "a device handle leaked"; }

  // Runs one dialogue; returns everything it printed.
  std::string Run(const std::string& input, const std::function<void()>& op,
                  std::string* unread = nullptr) {
    testsupport::ConsoleFiles console(input);
    EXPECT_TRUE(console.ok());
    op();
    if (unread != nullptr) *unread = console.RemainingInput();
    return console.Output();
  }

  // Three cards with the same IDs, behind the ordinary functions of a PC.
  void AddMachineWithThreeBoards() {
    sim::AddTypicalMachine(sim_);
    sim::FunctionConfig board;
    board.vendor_id = 0x10b5;
    board.device_id = 0x9050;
    board.bars[0] = {sim::BarKind::kMemory, 128};
    for (const WdPciSlot& s : kBoards) sim_.AddFunction(s.bus, s.slot, s.function, board);
  }

  std::vector<WdPciConfigDump> ConfigRequests() const {
    std::vector<WdPciConfigDump> out;
    for (const auto& r : sim_.log()) {
      if (r.code == WD_CODE_PCI_CONFIG) out.push_back(r.As<WdPciConfigDump>());
    }
    return out;
  }

  sim::Simulator sim_;
  WriteTap tap_{sim_};
};

bool SameSlot(const WdPciSlot& a, const WdPciSlot& b) {
  return a.bus == b.bus && a.slot == b.slot && a.function == b.function;
}

// ---- opening the driver --------------------------------------------------------------------

struct VersionCase {
  uint32_t version;
  bool accepted;
  const char* output;
};

void PrintTo(const VersionCase& c, std::ostream* os) {
  *os << "version " << c.version;
}

class OpenDriverVersion : public PciBusTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(OpenDriverVersion, AcceptsFrom622AndNamesTheVersionFound) {
  const VersionCase& c = GetParam();
  sim_.SetVersion(c.version);
  WdDeviceHandle device = nullptr;
  BOOL ok = FALSE;
  EXPECT_EQ(Run("", [&] { ok = PciBus_OpenDriver(&device); }), c.output);
  EXPECT_EQ(ok, c.accepted ? TRUE : FALSE);
  EXPECT_EQ(sim_.Count(WD_CODE_VERSION), 1u);
  if (c.accepted) {
    EXPECT_NE(device, WD_INVALID_HANDLE);
    EXPECT_EQ(WdHosted_OpenHandles(), 1);
    WdChannel_Close(device);
  } else {
    EXPECT_EQ(device, WD_INVALID_HANDLE);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, OpenDriverVersion,
    ::testing::Values(
        VersionCase{621, false, "Incorrect WinDriver version. Expected 6.22, got 6.21\n"},
        VersionCase{550, false, "Incorrect WinDriver version. Expected 6.22, got 5.50\n"},
        VersionCase{5, false, "Incorrect WinDriver version. Expected 6.22, got 0.05\n"},
        VersionCase{622, true, ""}, VersionCase{1000, true, ""}),
    testsupport::ByPrinted());

// Every interactive operation, with no driver, a refused version query and an old driver.
struct OperationCase {
  const char* name;
  std::function<void()> run;
};

const OperationCase kOperations[] = {
    {"ListCards", [] { PciBus_ListCards(); }},
    {"PrintSlotResources", [] { PciBus_PrintSlotResources(kEthernet); }},
    {"EditConfig", [] { PciBus_EditConfig(kEthernet); }},
    {"SelectCard",
     [] {
       WdPciSlot slot{7, 7, 7};
       EXPECT_EQ(PciBus_SelectCard(&slot), FALSE);
       EXPECT_TRUE(SameSlot(slot, WdPciSlot{7, 7, 7}));
     }},
};

TEST_F(PciBusTest, EachOperationStopsWhenTheDriverCannotBeUsed) {
  sim::AddTypicalMachine(sim_);
  for (const OperationCase& op : kOperations) {
    SCOPED_TRACE(op.name);
    WdHosted_Install(nullptr);
    EXPECT_EQ(Run("1\n", op.run), "Failed opening WinDriver device\n");
    WdHosted_Install(&tap_);

    sim_.ClearLog();
    sim_.FailRequests(WD_CODE_VERSION, 0x20000001);
    EXPECT_EQ(Run("1\n", op.run), "");
    sim_.ClearFaults();
    sim_.SilenceRequests(WD_CODE_VERSION);
    EXPECT_EQ(Run("1\n", op.run), "");
    sim_.ClearFaults();

    sim_.SetVersion(621);
    EXPECT_EQ(Run("1\n", op.run), "Incorrect WinDriver version. Expected 6.22, got 6.21\n");
    sim_.SetVersion(622);
    // Nothing but version queries reached the driver, and every handle was closed again.
    EXPECT_EQ(sim_.log().size(), sim_.Count(WD_CODE_VERSION));
    EXPECT_EQ(WdHosted_OpenHandles(), 0);
  }
}

// ---- resource items ------------------------------------------------------------------------

WdItem Item(uint32_t kind, uint32_t a, uint32_t b, uint32_t c = 0) {
  WdItem item{};
  item.kind = kind;
  uint32_t words[3] = {a, b, c};
  std::memcpy(&item.u, words, sizeof words);  // the first three words of every kind
  return item;
}

TEST_F(PciBusTest, ItemLinesShowRangesInLowerCaseWithInclusiveEnds) {
  WdCard card{};
  const WdItem items[] = {
      Item(WD_ITEM_INTERRUPT, 11, 0),
      Item(WD_ITEM_MEMORY, 0xFEBC0000, 0x20000),
      Item(WD_ITEM_IO, 0xE0A0, 0x20),
      Item(WD_ITEM_BUS, 5, 2, 0xF8),
      Item(4, 1, 2),
      Item(0, 0, 0),
      Item(WD_ITEM_MEMORY, 0, 0),  // no bytes: the end is one below the start
      Item(WD_ITEM_IO, 0x1000, 0),
      Item(WD_ITEM_MEMORY, 0xFFFFFFF0, 0x10),
  };
  card.itemCount = std::size(items);
  std::copy(std::begin(items), std::end(items), card.items);
  sim_.OverrideCardItems(kEthernet, card);

  EXPECT_EQ(Run("", [] { PciBus_PrintSlotResources(kEthernet); }),
            "   Item Interrupt: irq 11\n"
            "   Item Memory: range 0xfebc0000-0xfebdffff\n"
            "   Item IO: range 0xe0a0-0xe0bf\n"
            "   Item Bus: type 5, bus number 2, slot/func 0xf8\n"
            "   Item Invalid item type\n"
            "   Item Invalid item type\n"
            "   Item Memory: range 0x0-0xffffffff\n"
            "   Item IO: range 0x1000-0xfff\n"
            "   Item Memory: range 0xfffffff0-0xffffffff\n");
}

TEST_F(PciBusTest, ItemCountBeyondTheRecordPrintsTwentyItems) {
  WdCard card{};
  card.itemCount = 0xFFFFFFFF;
  for (WdItem& item : card.items) item = Item(WD_ITEM_INTERRUPT, 3, 0);
  sim_.OverrideCardItems(kEthernet, card);
  std::string expected;
  for (int i = 0; i < WD_CARD_ITEMS; i++) expected += "   Item Interrupt: irq 3\n";
  EXPECT_EQ(Run("", [] { PciBus_PrintSlotResources(kEthernet); }), expected);
}

TEST_F(PciBusTest, RefusedCardInformationPrintsNoItems) {
  sim::AddTypicalMachine(sim_);
  sim_.FailRequests(WD_CODE_PCI_CARD_INFO, 0x20000005);
  EXPECT_EQ(Run("", [] { PciBus_PrintSlotResources(kEthernet); }), "");
  EXPECT_EQ(sim_.Count(WD_CODE_PCI_CARD_INFO), 1u);
}

// ---- bus scan ------------------------------------------------------------------------------

const char kMachineScan[] =
    "Pci bus scan:\n"
    "\n"
    "Bus 0 Slot 0 Function 0, VendorID 8086 DeviceID 0104\n"
    "   Item Bus: type 5, bus number 0, slot/func 0x0\n"
    "Press Enter to continue to next slot\n"
    "Bus 0 Slot 19 Function 0, VendorID 8086 DeviceID 1502\n"
    "   Item Memory: range 0xfe000000-0xfe01ffff\n"
    "   Item Memory: range 0xfe020000-0xfe020fff\n"
    "   Item IO: range 0xc000-0xc01f\n"
    "   Item Interrupt: irq 11\n"
    "   Item Bus: type 5, bus number 0, slot/func 0xc8\n"
    "Press Enter to continue to next slot\n"
    "Bus 0 Slot 1f Function 2, VendorID 8086 DeviceID 1c02\n"
    "   Item IO: range 0xc020-0xc027\n"
    "   Item IO: range 0xc028-0xc02b\n"
    "   Item IO: range 0xc030-0xc037\n"
    "   Item IO: range 0xc038-0xc03b\n"
    "   Item IO: range 0xc040-0xc05f\n"
    "   Item Memory: range 0xfe021000-0xfe0217ff\n"
    "   Item Interrupt: irq 10\n"
    "   Item Bus: type 5, bus number 0, slot/func 0xfa\n"
    "Press Enter to continue to next slot\n";

TEST_F(PciBusTest, ScanListsEveryCardAndPausesAfterEach) {
  sim::AddTypicalMachine(sim_);
  std::string unread;
  EXPECT_EQ(Run(
                "\n\n\nnext\n", [] { PciBus_ListCards(); }, &unread),
            kMachineScan);
  EXPECT_EQ(unread, "next\n");  // three pauses, three lines
  // The scan asked for every card; each card's resources came over a handle of their own.
  const auto& log = sim_.log();
  ASSERT_GE(log.size(), 2u);
  const WdPciScan scan = log[1].As<WdPciScan>();
  EXPECT_EQ(log[1].code, WD_CODE_PCI_SCAN);
  EXPECT_EQ(scan.vendorId, 0u);
  EXPECT_EQ(scan.deviceId, 0u);
  EXPECT_EQ(sim_.Count(WD_CODE_VERSION), 4u);
  EXPECT_EQ(sim_.Count(WD_CODE_PCI_CARD_INFO), 3u);
}

TEST_F(PciBusTest, ScanGoesOnAtEndOfInput) {
  sim::AddTypicalMachine(sim_);
  EXPECT_EQ(Run("", [] { PciBus_ListCards(); }), kMachineScan);
}

TEST_F(PciBusTest, EmptyBusPrintsTheHeadingAndDoesNotPause) {
  std::string unread;
  EXPECT_EQ(Run(
                "\n", [] { PciBus_ListCards(); }, &unread),
            "Pci bus scan:\n\n");
  EXPECT_EQ(unread, "\n");
}

TEST_F(PciBusTest, RefusedScanPrintsOnlyTheHeading) {
  sim::AddTypicalMachine(sim_);
  sim_.FailRequests(WD_CODE_PCI_SCAN, 0x20000001);
  EXPECT_EQ(Run("\n", [] { PciBus_ListCards(); }), "Pci bus scan:\n\n");
  EXPECT_EQ(sim_.Count(WD_CODE_PCI_CARD_INFO), 0u);
}

TEST_F(PciBusTest, RefusedCardInformationKeepsCardLinesAndPauses) {
  sim::AddTypicalMachine(sim_);
  sim_.FailRequests(WD_CODE_PCI_CARD_INFO, 0x20000005);
  EXPECT_EQ(Run("", [] { PciBus_ListCards(); }),
            "Pci bus scan:\n"
            "\n"
            "Bus 0 Slot 0 Function 0, VendorID 8086 DeviceID 0104\n"
            "Press Enter to continue to next slot\n"
            "Bus 0 Slot 19 Function 0, VendorID 8086 DeviceID 1502\n"
            "Press Enter to continue to next slot\n"
            "Bus 0 Slot 1f Function 2, VendorID 8086 DeviceID 1c02\n"
            "Press Enter to continue to next slot\n");
}

TEST_F(PciBusTest, CardCountBeyondTheRecordListsOneHundredCards) {
  WdPciScan scan{};
  scan.cardCount = 250;
  for (uint32_t i = 0; i < WD_PCI_CARDS; i++) scan.slots[i] = {i / 32, i % 32, 0};
  sim_.OverrideScan(scan);
  sim_.FailRequests(WD_CODE_PCI_CARD_INFO, 0x20000005);
  const std::string out = Run("", [] { PciBus_ListCards(); });
  size_t pauses = 0;
  for (size_t at = out.find("Press Enter"); at != std::string::npos;
       at = out.find("Press Enter", at + 1)) {
    pauses++;
  }
  EXPECT_EQ(pauses, 100u);
  EXPECT_NE(out.find("Bus 3 Slot 3 Function 0, VendorID 0000 DeviceID 0000\n"), std::string::npos);
}

// The pause reads 99 characters at a time; the rest of a longer line feeds the next pauses.
struct PauseCase {
  size_t length;  // of the first input line, newline excluded
  const char* unread;
};

void PrintTo(const PauseCase& c, std::ostream* os) {
  *os << "line of " << c.length << " characters";
}

class PauseBuffer : public PciBusTest, public ::testing::WithParamInterface<PauseCase> {};

TEST_P(PauseBuffer, LongLineIsConsumedInPieces) {
  sim::AddTypicalMachine(sim_);
  std::string unread;
  Run(
      std::string(GetParam().length, 'a') + "\nb\nc\n", [] { PciBus_ListCards(); }, &unread);
  EXPECT_EQ(unread, GetParam().unread);
}

INSTANTIATE_TEST_SUITE_P(Lengths, PauseBuffer,
                         ::testing::Values(PauseCase{98, ""},          // whole line, b, c
                                           PauseCase{99, "c\n"},       // 99, newline, b
                                           PauseCase{198, "b\nc\n"},   // 99, 99, newline
                                           PauseCase{250, "b\nc\n"}),  // 99, 99, 52 + newline
                         testsupport::ByPrinted());

// ---- configuration editor ------------------------------------------------------------------

// The Ethernet controller's header as the editor draws it, then its prompt.
const std::string kGrid =
    "\n"
    "Edit PCI configuration registers\n"
    "--------------------------------\n"
    " 1.    VID : 8086         11. BADDR0 : fe000000     \n"
    " 2.    DID : 1502         12. BADDR1 : fe020000     \n"
    " 3.    CMD : 0003         13. BADDR2 : 0000c001     \n"
    " 4.    STS : 0000         14. BADDR3 : 00000000     \n"
    " 5.    RID : 04           15. BADDR4 : 00000000     \n"
    " 6.   CLCD : 020000       16. BADDR5 : 00000000     \n"
    " 7.   CALN : 00           17.  EXROM : 00000000     \n"
    " 8.    LAT : 00           18. NEW_CAP : 00           \n"
    " 9.    HDR : 00           19.  INTLN : 0b           \n"
    "10.   BIST : 00           20. INTPIN : 01           \n"
    "                          21. MINGNT : 00           \n"
    "99. Back to main menu\n"
    "Choose register to write to, or 99 to exit: ";

std::string ValuePrompt(const char* name) {
  return std::string("Enter value (hex format) to write to ") + name +
         " register (or 'X' to cancel): ";
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST_F(PciBusTest, EditorGridReadsRegistersLineByLine) {
  sim::AddTypicalMachine(sim_);
  EXPECT_EQ(Run("99\n", [] { PciBus_EditConfig(kEthernet); }), kGrid);
  // Entries 1, 11, 2, 12, ... 10, 20, then 21 beside the blank cell.
  const uint32_t order[][2] = {{0x00, 2}, {0x10, 4}, {0x02, 2}, {0x14, 4}, {0x04, 2}, {0x18, 4},
                               {0x06, 2}, {0x1C, 4}, {0x08, 1}, {0x20, 4}, {0x09, 3}, {0x24, 4},
                               {0x0C, 1}, {0x30, 4}, {0x0D, 1}, {0x34, 1}, {0x0E, 1}, {0x3C, 1},
                               {0x0F, 1}, {0x3D, 1}, {0x3E, 1}};
  const auto requests = ConfigRequests();
  ASSERT_EQ(requests.size(), std::size(order));
  for (size_t i = 0; i < requests.size(); i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(requests[i].offset, order[i][0]);
    EXPECT_EQ(requests[i].bytes, order[i][1]);
    EXPECT_EQ(requests[i].isRead, 1u);
    EXPECT_TRUE(SameSlot(requests[i].pciSlot, kEthernet));
  }
}

class EditorChoice : public PciBusTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(EditorChoice, OutOfRangeOrNotANumberRedrawsSilently) {
  sim::AddTypicalMachine(sim_);
  EXPECT_EQ(Run(std::string(GetParam()) + "99\n", [] { PciBus_EditConfig(kEthernet); }),
            kGrid + kGrid);
  EXPECT_TRUE(tap_.writes.empty());
}

INSTANTIATE_TEST_SUITE_P(Choices, EditorChoice,
                         ::testing::Values("0\n", "22\n", "-5\n", "abc\n", "\n"),
                         testsupport::ByText());

// Registers the card does not let change, so both grids are the same.
struct ValueCase {
  const char* choice;
  const char* name;
  const char* answer;
  const char* refusal;  // the line that says why nothing is written; "" when written or cancelled
  std::vector<WriteTap::Write> writes;
};

const char kTooBig[] = "Error: value too big for register\n";
const char kNoNumber[] = "Error: no hexadecimal value given; nothing written\n";

void PrintTo(const ValueCase& c, std::ostream* os) {
  *os << c.name << " answered \"" << c.answer << '"';
}

class EditorValue : public PciBusTest, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(EditorValue, ValueIsCheckedAgainstTheRegisterWidth) {
  const ValueCase& c = GetParam();
  sim::AddTypicalMachine(sim_);
  const std::string input = std::string(c.choice) + "\n" + c.answer + "\n99\n";
  EXPECT_EQ(Run(input, [] { PciBus_EditConfig(kEthernet); }),
            kGrid + ValuePrompt(c.name) + c.refusal + kGrid);
  EXPECT_EQ(tap_.writes, c.writes);
}

INSTANTIATE_TEST_SUITE_P(
    Values, EditorValue,
    ::testing::Values(
        ValueCase{"5", "RID", "ff", "", {{0x08, 1, 0xff}}},
        ValueCase{"5", "RID", "100", kTooBig, {}},
        ValueCase{"1", "VID", "ffff", "", {{0x00, 2, 0xffff}}},
        ValueCase{"1", "VID", "10000", kTooBig, {}},
        ValueCase{"6", "CLCD", "ffffff", "", {{0x09, 3, 0xffffff}}},
        ValueCase{"6", "CLCD", "1000000", kTooBig, {}},
        ValueCase{"17", "EXROM", "ffffffff", "", {{0x30, 4, 0xffffffff}}},
        ValueCase{"17", "EXROM", "-1", "", {{0x30, 4, 0xffffffff}}},
        // Beyond 32 bits: refused, not cut to the low bits.
        ValueCase{"17", "EXROM", "100000000", kTooBig, {}}, ValueCase{"1", "VID", "x", "", {}},
        ValueCase{"1", "VID", "Xylophone", "", {}},
        // A line without a number writes nothing (a blank before the X makes it no
        // cancel).
        ValueCase{"1", "VID", " X", kNoNumber, {}}, ValueCase{"1", "VID", "", kNoNumber, {}},
        ValueCase{"8", "LAT", "zz", kNoNumber, {}}, ValueCase{"8", "LAT", "g5", kNoNumber, {}}),
    [](const auto& info) {
      return std::string(info.param.name) + "_" + testsupport::NameFromText(info.param.answer);
    });

TEST_F(PciBusTest, EditorShowsWhatTheRegisterReadsAfterAWrite) {
  sim::AddTypicalMachine(sim_);
  // Writing all ones to a BAR reads back its size mask; the latency timer keeps what it gets.
  const std::string sized = Replace(kGrid, "BADDR0 : fe000000", "BADDR0 : fffe0000");
  EXPECT_EQ(Run("11\nffffffff\n8\n40\n99\n", [] { PciBus_EditConfig(kEthernet); }),
            kGrid + ValuePrompt("BADDR0") + sized + ValuePrompt("LAT") +
                Replace(sized, "LAT : 00", "LAT : 40"));
  EXPECT_EQ(tap_.writes, (std::vector<WriteTap::Write>{{0x10, 4, 0xffffffff}, {0x0D, 1, 0x40}}));
}

TEST_F(PciBusTest, EditorReturnsAtEndOfInput) {
  sim::AddTypicalMachine(sim_);
  EXPECT_EQ(Run("", [] { PciBus_EditConfig(kEthernet); }), kGrid);
  EXPECT_EQ(Run("3\n", [] { PciBus_EditConfig(kEthernet); }), kGrid + ValuePrompt("CMD"));
  EXPECT_TRUE(tap_.writes.empty());
}

TEST_F(PciBusTest, EditorShowsZeroForRefusedReads) {
  sim::AddTypicalMachine(sim_);
  sim_.FailRequests(WD_CODE_PCI_CONFIG, 0x20000005);
  EXPECT_EQ(Run("99\n", [] { PciBus_EditConfig(kEthernet); }),
            "\n"
            "Edit PCI configuration registers\n"
            "--------------------------------\n"
            " 1.    VID : 0000         11. BADDR0 : 00000000     \n"
            " 2.    DID : 0000         12. BADDR1 : 00000000     \n"
            " 3.    CMD : 0000         13. BADDR2 : 00000000     \n"
            " 4.    STS : 0000         14. BADDR3 : 00000000     \n"
            " 5.    RID : 00           15. BADDR4 : 00000000     \n"
            " 6.   CLCD : 000000       16. BADDR5 : 00000000     \n"
            " 7.   CALN : 00           17.  EXROM : 00000000     \n"
            " 8.    LAT : 00           18. NEW_CAP : 00           \n"
            " 9.    HDR : 00           19.  INTLN : 00           \n"
            "10.   BIST : 00           20. INTPIN : 00           \n"
            "                          21. MINGNT : 00           \n"
            "99. Back to main menu\n"
            "Choose register to write to, or 99 to exit: ");
}

// ---- configuration access ------------------------------------------------------------------

struct ReadCase {
  uint32_t offset, bytes, value;
};

void PrintTo(const ReadCase& c, std::ostream* os) {
  *os << "offset 0x" << std::hex << c.offset << ", " << std::dec << c.bytes << " bytes";
}

class ReadConfig : public PciBusTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadConfig, ReturnsTheRequestedBytesInTheLowEnd) {
  const ReadCase& c = GetParam();
  sim::AddTypicalMachine(sim_);
  WdDeviceHandle device = WdChannel_Open();
  EXPECT_EQ(PciBus_ReadConfig(device, kEthernet, c.offset, c.bytes), c.value);
  WdChannel_Close(device);
  const auto requests = ConfigRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].offset, c.offset);
  EXPECT_EQ(requests[0].bytes, c.bytes);
  EXPECT_EQ(requests[0].isRead, 1u);
}

INSTANTIATE_TEST_SUITE_P(Widths, ReadConfig,
                         ::testing::Values(ReadCase{0x00, 4, 0x15028086}, ReadCase{0x02, 2, 0x1502},
                                           ReadCase{0x09, 3, 0x020000}, ReadCase{0x08, 1, 0x04},
                                           ReadCase{0x3D, 1, 0x01}, ReadCase{0x3C, 2, 0x010b}),
                         testsupport::ByPrinted());

TEST_F(PciBusTest, WriteConfigSendsOnlyTheLowBytesAndReturnsTheStatus) {
  sim::AddTypicalMachine(sim_);
  WdDeviceHandle device = WdChannel_Open();
  EXPECT_EQ(PciBus_WriteConfig(device, kEthernet, 0x3C, 1, 0x12345605), 0u);
  EXPECT_EQ(PciBus_ReadConfig(device, kEthernet, 0x3C, 2), 0x0105u);  // INTPIN untouched
  sim_.FailRequests(WD_CODE_PCI_CONFIG, 0x20000005);
  EXPECT_EQ(PciBus_WriteConfig(device, kEthernet, 0x3C, 1, 9), 0x20000005u);
  EXPECT_EQ(PciBus_ReadConfig(device, kEthernet, 0x3C, 1), 0u);  // a refused read yields 0
  WdChannel_Close(device);
  EXPECT_EQ(tap_.writes, (std::vector<WriteTap::Write>{{0x3C, 1, 0x05}, {0x3C, 1, 9}}));
}

// ---- card chooser --------------------------------------------------------------------------

struct ChooserCase {
  const char* input;
  BOOL found;
  WdPciSlot slot;  // {7, 7, 7}: untouched
  const char* output;
};

void PrintTo(const ChooserCase& c, std::ostream* os) {
  *os << "input " << ::testing::PrintToString(c.input);
}

class Chooser : public PciBusTest, public ::testing::WithParamInterface<ChooserCase> {};

#define IDS "Enter VendorID: Enter DeviceID: "
#define THREE "Found 3 matching PCI cards\nSelect card (1-3): "
#define RETRY "Do you want to try a different VendorID/DeviceID? "

TEST_P(Chooser, AsksUntilOneCardIsChosen) {
  const ChooserCase& c = GetParam();
  AddMachineWithThreeBoards();
  WdPciSlot slot{7, 7, 7};
  BOOL found = TRUE;
  EXPECT_EQ(Run(c.input, [&] { found = PciBus_SelectCard(&slot); }), c.output);
  EXPECT_EQ(found, c.found);
  EXPECT_TRUE(SameSlot(slot, c.slot)) << slot.bus << ":" << slot.slot << "." << slot.function;
}

INSTANTIATE_TEST_SUITE_P(
    Dialogues, Chooser,
    ::testing::Values(
        ChooserCase{"0\n", FALSE, {7, 7, 7}, "Enter VendorID: "},
        ChooserCase{"\n", FALSE, {7, 7, 7}, "Enter VendorID: "},
        ChooserCase{"", FALSE, {7, 7, 7}, "Enter VendorID: "},
        ChooserCase{"8086\n1502\n", TRUE, {0, 0x19, 0}, IDS},
        ChooserCase{"10b5\n9050\n2\n", TRUE, {1, 1, 0}, IDS THREE},
        ChooserCase{"10B5\n9050\n3\n", TRUE, {2, 0, 0}, IDS THREE},
        ChooserCase{
            "10b5\n9050\n0\nn\n", FALSE, {7, 7, 7}, IDS THREE "Choice out of range\n" RETRY},
        ChooserCase{"10b5\n9050\n4\n\n", FALSE, {7, 7, 7}, IDS THREE "Choice out of range\n" RETRY},
        ChooserCase{"10b5\n9050\n4\ny\n10b5\n9050\n1\n",
                    TRUE,
                    {1, 0, 0},
                    IDS THREE "Choice out of range\n" RETRY IDS THREE},
        ChooserCase{"1234\n5678\nN\n", FALSE, {7, 7, 7}, IDS "Could not find PCI card\n" RETRY},
        ChooserCase{"1234\n5678\nYes\n8086\n1502\n",
                    TRUE,
                    {0, 0x19, 0},
                    IDS "Could not find PCI card\n" RETRY IDS},
        ChooserCase{"1234\n5678\ny\n0\n",
                    FALSE,
                    {7, 7, 7},
                    IDS "Could not find PCI card\n" RETRY "Enter VendorID: "},
        // End of input at any prompt gives up at once.
        ChooserCase{"10b5\n", FALSE, {7, 7, 7}, IDS},
        ChooserCase{"10b5\n9050\n", FALSE, {7, 7, 7}, IDS THREE},
        ChooserCase{"1234\n5678\n", FALSE, {7, 7, 7}, IDS "Could not find PCI card\n" RETRY}),
    [](const auto& info) { return testsupport::NameFromText(info.param.input); });

TEST_F(PciBusTest, ChooserScansForTheIdsTyped) {
  AddMachineWithThreeBoards();
  WdPciSlot slot{};
  Run("1234\n5678\ny\n8086\n1502\n", [&] { PciBus_SelectCard(&slot); });
  std::vector<std::pair<uint32_t, uint32_t>> scans;
  for (const auto& r : sim_.log()) {
    if (r.code == WD_CODE_PCI_SCAN)
      scans.emplace_back(r.As<WdPciScan>().vendorId, r.As<WdPciScan>().deviceId);
  }
  EXPECT_EQ(scans,
            (std::vector<std::pair<uint32_t, uint32_t>>{{0x1234, 0x5678}, {0x8086, 0x1502}}));
}

TEST_F(PciBusTest, ChooserRefusedScanGoesStraightToTheQuestion) {
  AddMachineWithThreeBoards();
  sim_.FailRequests(WD_CODE_PCI_SCAN, 0x20000001);
  WdPciSlot slot{7, 7, 7};
  EXPECT_EQ(Run("8086\n1502\nn\n", [&] { EXPECT_EQ(PciBus_SelectCard(&slot), FALSE); }), IDS RETRY);
}

TEST_F(PciBusTest, ChooserOffersAtMostOneHundredCards) {
  WdPciScan scan{};
  scan.cardCount = 250;
  scan.slots[99] = {7, 8, 1};
  sim_.OverrideScan(scan);
  WdPciSlot slot{};
  EXPECT_EQ(Run("10b5\n9050\n101\ny\n10b5\n9050\n100\n",
                [&] { EXPECT_EQ(PciBus_SelectCard(&slot), TRUE); }),
            IDS "Found 100 matching PCI cards\nSelect card (1-100): Choice out of range\n" RETRY IDS
                "Found 100 matching PCI cards\nSelect card (1-100): ");
  EXPECT_TRUE(SameSlot(slot, WdPciSlot{7, 8, 1}));
}

}  // namespace
