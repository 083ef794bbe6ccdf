// The sysfs driver over a fabricated devices directory the input writes: up to four function
// directories, each name either a well-formed DDDD:BB:SS.F or bytes of the input, each with a
// `config` of any length, `resource`, `irq`, `vendor` and `device` files of any text and
// `resourceN` files of small sizes. Then the requests the library sends: a scan, each function's
// card information, its registration (and unregistration), configuration reads and port
// transfers inside and outside its ranges. Memory ranges are registered but never accessed: a
// mapping past the end of a fabricated file is the tree's fault, not the driver's. Afterwards no
// registration and no file may be held.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_console.h"
#include "fuzz_dir.h"
#include "linux/sysfs_driver.h"

namespace {

namespace fs = std::filesystem;

void Put(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string SafeName(std::string name) {
  for (char& c : name) {
    if (c == '/' || c == '\0') c = '_';
  }
  if (name.empty() || name == "." || name == "..") name = "x";
  return name;
}

uint32_t Send(sysfs::SysfsDriver& driver, uint32_t code, void* record, uint32_t size) {
  uint32_t status = 0xFFFFFFFFu;
  (void)driver.Control(code, record, size, &status);
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz::ScratchDir& scratch = fuzz::Scratch("sysfs");
  scratch.Empty();
  FuzzedDataProvider in(data, size);
  const int functions = in.ConsumeIntegralInRange(0, 4);
  for (int f = 0; f < functions; ++f) {
    char formed[32];
    std::snprintf(formed, sizeof formed, "%04x:%02x:%02x.%x", in.ConsumeIntegralInRange(0, 1),
                  in.ConsumeIntegral<uint8_t>(), in.ConsumeIntegralInRange(0, 31),
                  in.ConsumeIntegralInRange(0, 7));
    const std::string name =
        in.ConsumeBool() ? std::string(formed) : SafeName(in.ConsumeRandomLengthString(16));
    const std::string dir = scratch / name;
    std::error_code ec;
    fs::create_directory(dir, ec);
    if (ec) continue;
    if (in.ConsumeBool()) Put(dir + "/config", in.ConsumeRandomLengthString(300));
    if (in.ConsumeBool()) Put(dir + "/resource", in.ConsumeRandomLengthString(400));
    if (in.ConsumeBool()) Put(dir + "/irq", in.ConsumeRandomLengthString(16));
    if (in.ConsumeBool()) Put(dir + "/vendor", in.ConsumeRandomLengthString(12));
    if (in.ConsumeBool()) Put(dir + "/device", in.ConsumeRandomLengthString(12));
    for (int bar = 0; bar < 6; ++bar) {
      if (in.ConsumeBool()) {
        Put(dir + "/resource" + std::to_string(bar),
            std::string(in.ConsumeIntegralInRange<size_t>(0, 4096), '\0'));
      }
    }
  }

  sysfs::SysfsDriver driver(scratch.path());
  WdPciScan scan;
  std::memset(&scan, 0, sizeof scan);
  if (!in.ConsumeBool()) {
    scan.vendorId = in.ConsumeIntegral<uint16_t>();
    scan.deviceId = in.ConsumeIntegral<uint16_t>();
  }
  const uint32_t scanned = Send(driver, WD_CODE_PCI_SCAN, &scan, sizeof scan);
  fuzz::Check(scanned != 0 || scan.cardCount <= WD_PCI_CARDS, "sysfs_tree", "too many cards");
  const uint32_t count = scanned == 0 ? scan.cardCount : 0;
  for (uint32_t i = 0; i < count && i < WD_PCI_CARDS; ++i) {
    WdPciCardInfo info;
    std::memset(&info, 0, sizeof info);
    info.pciSlot = scan.slots[i];
    if (Send(driver, WD_CODE_PCI_CARD_INFO, &info, sizeof info) != 0) continue;
    fuzz::Check(info.card.itemCount <= WD_CARD_ITEMS, "sysfs_tree", "too many items");

    uint32_t value = 0;
    WdPciConfigDump dump;
    std::memset(&dump, 0, sizeof dump);
    dump.pciSlot = scan.slots[i];
    dump.buffer = static_cast<WdUPtr>(reinterpret_cast<uintptr_t>(&value));
    dump.offset = in.ConsumeIntegralInRange<uint32_t>(0, 300);
    dump.bytes = in.ConsumeIntegralInRange<uint32_t>(0, 5);
    dump.isRead = 1;
    (void)Send(driver, WD_CODE_PCI_CONFIG, &dump, sizeof dump);

    WdCardRegister reg;
    std::memset(&reg, 0, sizeof reg);
    reg.card = info.card;
    (void)Send(driver, WD_CODE_CARD_REGISTER, &reg, sizeof reg);
    if (reg.cardHandle == 0) continue;
    for (int t = in.ConsumeIntegralInRange(0, 4); t > 0; --t) {
      WdTransfer transfer;
      std::memset(&transfer, 0, sizeof transfer);
      uint32_t port = in.ConsumeIntegral<uint32_t>();
      for (uint32_t k = 0; k < info.card.itemCount; ++k) {
        if (info.card.items[k].kind == WD_ITEM_IO && in.ConsumeBool()) {
          port = info.card.items[k].u.io.port + in.ConsumeIntegralInRange<uint32_t>(0, 8);
        }
      }
      static const uint32_t kPortCommands[] = {WD_RP_BYTE, WD_RP_WORD, WD_RP_DWORD,
                                               WD_WP_BYTE, WD_WP_WORD, WD_WP_DWORD};
      transfer.address = port;
      transfer.command = kPortCommands[in.ConsumeIntegralInRange<size_t>(0, 5)];
      transfer.data.dword = in.ConsumeIntegral<uint32_t>();
      (void)Send(driver, WD_CODE_TRANSFER, &transfer, sizeof transfer);
    }
    (void)Send(driver, WD_CODE_CARD_UNREGISTER, &reg, sizeof reg);
  }
  fuzz::Check(driver.registrations() == 0 && driver.open_files() == 0, "sysfs_tree",
              "a registration or file is left");
  return 0;
}
