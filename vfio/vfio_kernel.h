// The kernel calls of the VFIO driver, behind one small interface: the driver's request logic runs
// against the system's VFIO (vfio-pci, /dev/vfio) or against a fake that records what reached it.
//
// Every call reports failure as a negative errno and leaves nothing open behind it.
#ifndef ZARERERA_VFIO_VFIO_KERNEL_H
#define ZARERERA_VFIO_VFIO_KERNEL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vfio {

// VFIO's indices for a PCI function: regions 0-5 are the BARs, then the expansion ROM and the
// configuration space; interrupt index 0 is INTx.
constexpr uint32_t kBarRegions = 6;
constexpr uint32_t kConfigRegion = 7;
constexpr uint32_t kIntxIndex = 0;

// A device region (a BAR, the configuration space): where it lies in the device file and what may
// be done with it.
struct RegionInfo {
  uint64_t size = 0;
  uint64_t offset = 0;  // in the device file
  bool read = false;
  bool write = false;
  bool mmap = false;
};

class VfioKernel {
 public:
  virtual ~VfioKernel() = default;

  // --- sysfs: a function's identity and binding, read only
  // The whole of a small file; 0 or -errno.
  virtual int ReadFile(const std::string& path, std::string* text) = 0;
  // The last component of symbolic link `path` (a driver's name, an IOMMU group's number); 0 or
  // -errno (-ENOENT: no such link).
  virtual int LinkName(const std::string& path, std::string* name) = 0;
  // The names in directory `path` other than "." and ".."; 0 or -errno.
  virtual int List(const std::string& path, std::vector<std::string>* names) = 0;

  // --- /dev/vfio
  // Opens the container (/dev/vfio/vfio) or a group (/dev/vfio/N), read-write; fd or -errno.
  virtual int Open(const std::string& path) = 0;
  virtual void Close(int fd) = 0;
  // VFIO_GROUP_GET_STATUS: whether every function of the group is bound to a VFIO driver.
  virtual int GroupViable(int group, bool* viable) = 0;
  // VFIO_GET_API_VERSION and VFIO_CHECK_EXTENSION(type1) on the container: 0 when usable.
  virtual int CheckContainer(int container) = 0;
  virtual int SetContainer(int group, int container) = 0;        // VFIO_GROUP_SET_CONTAINER
  virtual int UnsetContainer(int group) = 0;                     // VFIO_GROUP_UNSET_CONTAINER
  virtual int SetIommuType1(int container) = 0;                  // VFIO_SET_IOMMU
  virtual int DeviceFd(int group, const std::string& name) = 0;  // VFIO_GROUP_GET_DEVICE_FD
  // VFIO_DEVICE_GET_REGION_INFO; -EINVAL for an index the device does not have.
  virtual int Region(int device, uint32_t index, RegionInfo* info) = 0;
  // VFIO_DEVICE_GET_IRQ_INFO: the number of interrupts of that index (INTx: 0 or 1).
  virtual int IrqCount(int device, uint32_t index, uint32_t* count) = 0;
  // VFIO_DEVICE_SET_IRQS on the INTx index: trigger `eventfd` at each interrupt (-1: disarm).
  virtual int SetIntxEventfd(int device, int eventfd) = 0;
  // VFIO_DEVICE_SET_IRQS, ACTION_UNMASK on the INTx index.
  virtual int UnmaskIntx(int device) = 0;

  // --- the device file
  virtual long Read(int fd, void* buffer, size_t bytes, uint64_t offset) = 0;
  virtual long Write(int fd, const void* buffer, size_t bytes, uint64_t offset) = 0;
  // Maps `length` bytes at `offset` of the device file, shared, read-write; null with *error.
  virtual void* Map(int fd, size_t length, uint64_t offset, int* error) = 0;
  virtual void Unmap(void* address, size_t length) = 0;

  // --- eventfds
  virtual int EventFd() = 0;  // a new eventfd, counter 0; fd or -errno
  // Waits until `a` or `b` is readable (timeout_ms < 0: for ever); bit 0 set: a, bit 1: b; 0 at
  // the time-out; or -errno.
  virtual int Poll(int a, int b, int timeout_ms) = 0;
  // Reads (and resets) an eventfd's counter; 0 or -errno (-EAGAIN when it is 0).
  virtual int TakeCount(int fd, uint64_t* count) = 0;
  virtual int Signal(int fd) = 0;  // adds 1 to an eventfd's counter
};

// The system's own calls.
VfioKernel& SystemKernel();

}  // namespace vfio

#endif  // ZARERERA_VFIO_VFIO_KERNEL_H
