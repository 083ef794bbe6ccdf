// The tools in the guest, run as a user runs them: the zarerera command's list against lspci and
// its register read on edu, and p9050diag's bus scan and configuration editor on the guest's bus.
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "diag/pci_diag.h"
#include "support/transcript.h"
#include "vm/guest.h"
#include "vm/lspci.h"

namespace vm_test {
namespace {

// `zarerera list -a -v`, read back into lspci's terms.
std::vector<ListedFunction> ParseList(const std::string& text) {
  std::vector<ListedFunction> functions;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    unsigned index, bus, slot, fn, vendor, device, bar, irq;
    char kind[8], size[16];
    unsigned long long start;
    if (std::sscanf(line.c_str(), "%u %2x:%2x.%1x %4x:%4x", &index, &bus, &slot, &fn, &vendor,
                    &device) == 6) {
      char name[16];
      std::snprintf(name, sizeof name, "0000:%02x:%02x.%x", bus, slot, fn);
      functions.push_back({name, vendor, device, {}, 0});
    } else if (!functions.empty() &&
               std::sscanf(line.c_str(), "\tRegion %u: %7s", &bar, kind) == 2) {
      const bool io = std::string(kind) == "I/O";
      const size_t at = line.find(" at ");
      if (at == std::string::npos ||
          std::sscanf(line.c_str() + at, " at %llx [size=%15[^]]]", &start, size) != 2) {
        continue;
      }
      uint64_t bytes = std::strtoull(size, nullptr, 10);
      const char unit = size[std::string(size).size() - 1];
      bytes <<= unit == 'K' ? 10 : unit == 'M' ? 20 : unit == 'G' ? 30 : 0;
      functions.back().ranges.push_back({io, start, bytes});
    } else if (!functions.empty() && std::sscanf(line.c_str(), "\tIRQ %u", &irq) == 1) {
      functions.back().irq = irq;
    }
  }
  return functions;
}

TEST(ToolsTest, ZarereraListAllVerboseEqualsLspci) {
  const Command list = RunCommand("zarerera list -a -v");
  ASSERT_EQ(list.status, 0) << list.output;
  const std::vector<ListedFunction> listed = Lspci();
  const std::vector<ListedFunction> shown = ParseList(list.output);
  ASSERT_EQ(shown.size(), listed.size()) << list.output;
  for (size_t i = 0; i < shown.size(); ++i) {
    SCOPED_TRACE(listed[i].name);
    EXPECT_EQ(shown[i].name, listed[i].name);
    EXPECT_EQ(shown[i].vendor, listed[i].vendor);
    EXPECT_EQ(shown[i].device, listed[i].device);
    EXPECT_EQ(shown[i].ranges, listed[i].ranges);
    EXPECT_EQ(shown[i].irq, listed[i].irq);
  }
}

TEST(ToolsTest, ZarereraRegsReadsEduBehindThePortThroughTheMapping) {
  const Command regs = RunCommand("zarerera --force -d 1234:11e8 --board 1 regs LAS0RR");
  EXPECT_EQ(regs.status, 0);
  EXPECT_EQ(regs.output, "010000ed\n");
  const Command none = RunCommand("zarerera --force -d 1234:11e8 --board 2 regs LAS0RR");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.output,
            "zarerera: cannot open board 2 with IDs 1234:11e8: Card out of range of available "
            "cards\n");
}

// An unprivileged user lists the same bus (the scan and items need only world-readable files), and
// is told why a board does not open and why configuration past the first 64 bytes is refused.
TEST(ToolsTest, UnprivilegedUserListsTheBusAndIsToldWhatNeedsRoot) {
  const Command root = RunCommand("zarerera list -a -v");
  const Command user = RunCommandAs(1000, "zarerera list -a -v");
  EXPECT_EQ(user.status, 0);
  EXPECT_EQ(user.output, root.output);

  const Command regs = RunCommandAs(1000, "zarerera --force -d 1234:11e8 regs LAS0RR");
  EXPECT_EQ(regs.status, 1);
  EXPECT_EQ(regs.output.substr(0, regs.output.find('\n') + 1),
            "zarerera: permission denied: opening /sys/bus/pci/devices/0000:00:02.0/resource0 "
            "needs root\n");

  // p9050diag's configuration editor on e1000e: the header shows, a write is refused with the
  // reason on standard error.
  const Command diag = RunCommandAs(
      1000, "p9050diag --driver=sysfs 2>/tmp/vm-diag-errors >/dev/null; cat /tmp/vm-diag-errors",
      "12\n8086\n10d3\n14\n19\n2b\n99\n99\n");
  EXPECT_EQ(diag.status, 0);
  EXPECT_NE(diag.output.find("p9050diag: permission denied: writing "
                             "/sys/bus/pci/devices/0000:00:04.0/config needs root\n"),
            std::string::npos)
      << diag.output;
}

// The bus scan lists every function of the guest with its items, bus 1 last; the card chosen by
// IDs is the second edu, behind the port; its interrupt line is written through the editor.
TEST_F(GuestTest, P9050diagScansTheBusAndEditsConfigurationOnTheGuest) {
  const char* sessionPath = std::getenv("ZARERERA_VM_SESSION");
  ASSERT_NE(sessionPath, nullptr) << "the session's transcript is not in the guest";
  const std::string text = ReadFile(sessionPath);
  const std::string command = "$ p9050diag --driver=sysfs\n";
  ASSERT_EQ(text.compare(0, command.size(), command), 0) << sessionPath;
  const testsupport::Transcript t = testsupport::ParseTranscript(text.substr(command.size()));

  const WdPciSlot slot = SlotOf(kEduBehindPort);
  const uint32_t line = PciBus_ReadConfig(device_, slot, 0x3c, 1);
  ASSERT_NE(line, 0x2bu);
  const Command diag = RunCommand("p9050diag --driver=sysfs", t.input);
  EXPECT_EQ(diag.status, 0);
  EXPECT_EQ(diag.output, t.output);
  EXPECT_EQ(ReadFile(std::string(kDevices) + "/" + kEduBehindPort + "/config").substr(0x3c, 1),
            "\x2b")
      << "the editor's write reached the function";
  EXPECT_EQ(PciBus_WriteConfig(device_, slot, 0x3c, 1, line), 0u);
}

}  // namespace
}  // namespace vm_test
