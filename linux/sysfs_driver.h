// The in-process driver for real PCI hardware on Linux: every request of the driver link served
// through the kernel's PCI sysfs interface (/sys/bus/pci/devices), with no kernel module of ours.
//
// - Version: kVersion (10.00), which the library accepts (6.22 or later).
// - PCI scan: the functions under the root whose names are DDDD:BB:SS.F, in bus/slot/function
//   order, with vendor and device read from `config` (or, where that cannot be read, from the
//   `vendor` and `device` files); a zero vendor or device matches any; at most 100. The records
//   have no domain field, so functions outside domain 0000 are skipped.
// - Card information: one item per BAR from the `resource` file (lines 0-5, BAR number = line
//   index; unused lines give none): 0x100 flags an I/O range, 0x200 a memory range. The records
//   carry 32-bit addresses, so a BAR that does not lie wholly below 4 GiB (a 64-bit BAR placed
//   high) is left out. An interrupt item when `irq` holds a non-zero number. No bus item.
// - Card register: the function owning each item is found by its BAR's start address. Memory BARs
//   are mapped with mmap of `resourceN` (a BAR smaller than a page is mapped as its whole page, the
//   user address pointing at the BAR inside it); I/O BARs are opened for pread/pwrite. Card
//   handles are distinct and non-zero. Unregister unmaps and closes. Refused in read-only mode.
// - Configuration access: 1-4 bytes with pread/pwrite on `config`. A read that returns fewer bytes
//   (an unprivileged reader sees only the first 64) is an error, never zeros. Writes are refused
//   in read-only mode.
// - Transfers: the records carry no card handle, so a transfer may use any registered range of
//   its kind (I/O for the port commands, memory for the memory commands) that covers all its bytes;
//   any other address is an error and touches nothing. Port commands are one pread/pwrite of
//   exactly the width on the range's `resourceN` at address - start (the kernel performs one in
//   or out of that width); memory commands are one volatile access of the width through the
//   mapping. Blocks are loops of the same, checked as a whole before the first access.
// - Sleep: the precise real-time sleep (driver/precise_sleep.h).
//
// Errors answer with the statuses of driver/wd_status.h, leave the record as it came, and keep the
// system's reason as text, e.g. "permission denied: reading
// /sys/bus/pci/devices/0000:00:05.0/config needs root" (LastError, and a reporter the host sets).
// A function removed from the bus while registered (echo 1 > .../remove) fails every later port
// access with "device removed: reading .../resourceN"; unregistering it still releases everything.
// The kernel leaves a memory BAR's mapping in place then, so accesses through it are not refused.
//
// Not served: interrupts (registration hands out an interrupt handle, nothing waits on it), DMA,
// domains other than 0000, and the extra requests of the hosted channel.
#ifndef ZARERERA_LINUX_SYSFS_DRIVER_H
#define ZARERERA_LINUX_SYSFS_DRIVER_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/locked_driver.h"
#include "driver/wd_records.h"
#include "linux/sysfs_files.h"
#include "linux/sysfs_tree.h"

namespace sysfs {

constexpr char kDefaultRoot[] = "/sys/bus/pci/devices";
constexpr uint32_t kVersion = 1000;  // 10.00

enum class Access {
  kFull,      // every request
  kReadOnly,  // scan, card information and configuration reads only
};

class SysfsDriver final : public wd::LockedDriver {
 public:
  // `files` defaults to the system's calls; a test may pass its own (it must outlive the driver).
  explicit SysfsDriver(std::string root = kDefaultRoot, Access access = Access::kFull,
                       SysfsFiles* files = nullptr);
  ~SysfsDriver() override;  // releases every registration still in force
  SysfsDriver(const SysfsDriver&) = delete;
  SysfsDriver& operator=(const SysfsDriver&) = delete;

  const std::string& root() const { return root_; }
  Access access() const { return access_; }
  int registrations() const;  // in force now
  int open_files() const;     // resourceN files held open by registrations

 private:
  struct Range;
  struct Registration;
  struct Function;

  uint32_t Version(WdVersion& r) override;
  uint32_t Scan(WdPciScan& r) override;
  uint32_t CardInfo(WdPciCardInfo& r) override;
  uint32_t Register(WdCardRegister& r, uintptr_t device) override;
  uint32_t Unregister(WdCardRegister& r) override;
  uint32_t Config(WdPciConfigDump& r) override;
  uint32_t Transfer(WdTransfer& r) override;
  uint32_t Sleep(WdSleep& r) override;

  std::string PathOf(const FunctionAddress& f, const char* file) const;
  // Reads a whole small file; 0 or a status (with the reason kept).
  uint32_t ReadText(const std::string& path, std::string* text);
  uint32_t ReadResource(const FunctionAddress& f, std::vector<ResourceLine>* lines);
  bool ReadIds(const FunctionAddress& f, uint32_t* vendor, uint32_t* device);
  uint32_t ListFunctions(std::vector<FunctionAddress>* functions);
  uint32_t MapRange(const WdItem& item, const std::vector<Function>& functions, Range* range);
  void Release(Registration& registration);
  const Range* Covering(bool memory, uint32_t address, uint64_t bytes);

  uint32_t FailErrno(int error, const char* doing, const std::string& path);

  std::string root_;
  Access access_;
  SysfsFiles* files_;
  size_t page_size_;

  std::vector<std::unique_ptr<Registration>> registrations_;
  uint32_t next_card_handle_ = 1;
  uint32_t next_int_handle_ = 1;
  const Range* last_hit_[2] = {nullptr, nullptr};  // I/O, memory: the range that answered last
};

}  // namespace sysfs

#endif  // ZARERERA_LINUX_SYSFS_DRIVER_H
