// The in-process driver for PCI functions bound to vfio-pci on Linux: every request of the driver
// link, the interrupt service included, served through VFIO (/dev/vfio), with no kernel module of
// ours and, once /dev/vfio/N is the user's, no root.
//
// - Version: kVersion (10.00).
// - PCI scan: every function under the sysfs root whose name is 0000:BB:SS.F, in bus/slot/function
//   order, with vendor and device from the `vendor` and `device` files; a zero vendor or device
//   matches any; at most 100. Functions that are not bound to vfio-pci are listed too: asking for
//   more of them answers why they cannot be used.
// - A function is opened (container, group, device) when a request first needs it, and closed
//   again when nothing needs it any more: card information and configuration access open it for
//   the request, a registration keeps it open until it is unregistered. One container holds every
//   open group (type 1 IOMMU). The function is never reset.
// - Refused, with the reason: a function not bound to vfio-pci ("0000:00:03.0 is bound to e1000e,
//   not vfio-pci: `zarerera bind -s 00:03.0`"), one without an IOMMU group, and a group that is
//   not viable, the message naming each function of the group bound to another driver.
// - Card information: one item per BAR the device's region information shows (size non-zero),
//   at the start address of sysfs `resource`, as an I/O or memory item by its flags there; BARs
//   that do not lie wholly below 4 GiB are left out. An interrupt item (the number of sysfs `irq`)
//   when the device has an INTx interrupt. No bus item.
// - Card register: the function is the one whose BAR starts at the first range item's address (the
//   item's own BAR number first); every range item must be one of that function's BARs. Memory
//   regions that can be mapped are mapped (the user address is the BAR's first byte); others, and
//   I/O BARs, are reached by pread/pwrite at the region's offset in the device file (such a memory
//   item gets no user address: the memory commands still reach it). Refused while the function is
//   registered already.
// - Configuration access: 1-4 bytes by pread/pwrite of the configuration region.
// - Transfers: as the sysfs driver does them: any registered range of the command's kind covering
//   all its bytes; one access of exactly the width per element, through the mapping or the device
//   file; any other address is an error and touches nothing.
// - Sleep: the precise real-time sleep.
// - Interrupts (driver/int_requests.h), INTx only:
//   - Enable arms an eventfd on the function's INTx (VFIO_DEVICE_SET_IRQS, trigger). The kernel
//     masks the line at each interrupt and signals the eventfd.
//   - Wait: a service that comes back after an interrupt it was handed first unmasks the line (by
//     then its handler has acknowledged the card). It then blocks until the eventfd is signalled
//     or the interrupt is disabled. At the signal the prepared commands run, in order, as
//     transfers; the interrupt is counted, and handed out with `counter`, `lost` and, with option
//     2, the commands' data. Signals the kernel made that were not seen one by one (the eventfd's
//     count above 1) count as lost. A line masked at the card by the commands stays quiet until
//     the service re-arms it; one that was not acknowledged fires again at the unmask.
//   - Disable disarms the eventfd and wakes every waiter (stopped 1); unregistering the card, and
//     the driver's end, disable it too, wait until no waiter is left, and close both eventfds.
//
// Errors answer with the statuses of driver/wd_status.h, leave the record as it came, and keep the
// reason as text (LastError, and a reporter the host sets).
#ifndef ZARERERA_VFIO_VFIO_DRIVER_H
#define ZARERERA_VFIO_VFIO_DRIVER_H

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/locked_driver.h"
#include "driver/wd_records.h"
#include "linux/sysfs_tree.h"
#include "vfio/vfio_kernel.h"

namespace vfio {

constexpr char kSysfsRoot[] = "/sys/bus/pci/devices";
constexpr char kDevRoot[] = "/dev/vfio";
constexpr char kVfioDriverName[] = "vfio-pci";
constexpr uint32_t kVersion = 1000;  // 10.00
constexpr uint32_t kMaxCommands = 64;
// Card and interrupt handles count from here, apart from the sysfs driver's (which count from 1),
// so that a driver routing requests between the two can tell whose a handle is.
constexpr uint32_t kFirstHandle = 0x56000001;

// What sysfs says of one function's binding: its driver ("" when none) and IOMMU group ("" when
// it has none).
struct Binding {
  std::string driver;
  std::string group;
};
Binding BindingOf(VfioKernel& kernel, const std::string& sysfsRoot, const std::string& name);

class VfioDriver : public wd::LockedDriver {
 public:
  // `kernel` defaults to the system's calls; a test may pass its own (it must outlive the driver).
  explicit VfioDriver(std::string sysfsRoot = kSysfsRoot, std::string devRoot = kDevRoot,
                      VfioKernel* kernel = nullptr);
  ~VfioDriver() override;  // disables interrupts, releases every registration, closes everything
  VfioDriver(const VfioDriver&) = delete;
  VfioDriver& operator=(const VfioDriver&) = delete;

  // Whether function `name` (DDDD:BB:SS.F) is bound to vfio-pci now.
  bool BoundToVfio(const std::string& name);
  // What a driver that routes requests by function needs to know.
  bool TakesCard(const WdCard& card);  // its function is bound to vfio-pci
  bool OwnsCard(uint32_t cardHandle) const;
  bool OwnsInterrupt(uint32_t intHandle) const;
  bool CoversTransfer(const WdTransfer& r) const;

  int registrations() const;
  int open_devices() const;   // device files open now
  int open_eventfds() const;  // eventfds held by enabled (or still waited on) interrupts

 private:
  struct Group;
  struct Device;
  struct Range;
  struct Registration;
  struct Line;

  uint32_t Version(WdVersion& r) override;
  uint32_t Scan(WdPciScan& r) override;
  uint32_t CardInfo(WdPciCardInfo& r) override;
  uint32_t Register(WdCardRegister& r, uintptr_t device) override;
  uint32_t Unregister(WdCardRegister& r) override;
  uint32_t Config(WdPciConfigDump& r) override;
  uint32_t Transfer(WdTransfer& r) override;
  uint32_t Sleep(WdSleep& r) override;
  bool ServesInterrupts() const override { return true; }
  uint32_t IntEnable(WdIntRequest& r) override;
  uint32_t IntWait(WdIntRequest& r) override;
  uint32_t IntDisable(WdIntRequest& r) override;
  // An interrupt wait locks for itself, not while it blocks.
  bool ServedUnlocked(uint32_t code) const override {
    return code == WD_CODE_SLEEP || code == WD_CODE_INT_WAIT;
  }

  std::string PathOf(const std::string& name, const char* file) const;
  // The function with a BAR where `range` starts; false when none has.
  bool FunctionOfRange(const WdItem& range, std::string* name,
                       std::vector<sysfs::ResourceLine>* lines);
  uint32_t ListFunctions(std::vector<sysfs::FunctionAddress>* functions);
  uint32_t ReadResource(const std::string& name, std::vector<sysfs::ResourceLine>* lines);
  // Opens the function (or takes one more use of it, when open); 0 or a status.
  uint32_t Acquire(const std::string& name, Device** device);
  void ReleaseDevice(Device* device);  // one use less; closes it after its last
  uint32_t OpenGroup(const std::string& number, Group** group, bool* notViable);
  void ReleaseGroup(Group* group);
  uint32_t CheckViable(const std::string& name, const std::string& group);
  const Range* Covering(bool memory, uint32_t address, uint64_t bytes) const;
  void ReleaseRegistration(Registration& registration);
  uint32_t RangeOf(Device* device, const std::vector<sysfs::ResourceLine>& lines, WdItem& item,
                   Range* out);
  // Both with lock_ held; AwaitLineGone lets go of it while it waits.
  void StopLine(Line& line);
  void AwaitLineGone(uint32_t intHandle);
  void EndIfIdle(Line& line);  // closes and forgets a disabled line no service waits on
  void CloseLine(Line& line);

  uint32_t FailErrno(int error, const std::string& doing);

  std::string sysfs_root_;
  std::string dev_root_;
  VfioKernel* kernel_;
  size_t page_size_;

  std::condition_variable waiters_left_;
  int container_ = -1;
  bool iommu_set_ = false;
  std::map<std::string, std::unique_ptr<Group>> groups_;    // by group number
  std::map<std::string, std::unique_ptr<Device>> devices_;  // by function name
  std::vector<std::unique_ptr<Registration>> registrations_;
  std::map<uint32_t, std::unique_ptr<Line>> lines_;  // by interrupt handle
  uint32_t next_card_handle_ = kFirstHandle;
  uint32_t next_int_handle_ = kFirstHandle;
  uint64_t next_generation_ = 1;
};

}  // namespace vfio

#endif  // ZARERERA_VFIO_VFIO_DRIVER_H
