// The system's VFIO calls (see vfio_kernel.h): ioctls on /dev/vfio, the device file, eventfds.
#include "vfio/vfio_kernel.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/vfio.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vfio {

static_assert(kConfigRegion == VFIO_PCI_CONFIG_REGION_INDEX, "configuration region index");
static_assert(kIntxIndex == VFIO_PCI_INTX_IRQ_INDEX, "INTx index");
static_assert(kBarRegions == VFIO_PCI_BAR5_REGION_INDEX + 1, "BAR regions");

namespace {

int Result(int r) {
  return r < 0 ? -errno : r;
}

int SetIrqs(int device, uint32_t flags, uint32_t count, const int32_t* eventfd) {
  // The record, and the eventfd after it when one is given.
  alignas(vfio_irq_set) uint8_t request[sizeof(vfio_irq_set) + sizeof(int32_t)] = {};
  vfio_irq_set set;
  std::memset(&set, 0, sizeof set);
  set.argsz = sizeof set + (eventfd != nullptr ? sizeof(int32_t) : 0);
  set.flags = flags;
  set.index = kIntxIndex;
  set.start = 0;
  set.count = count;
  std::memcpy(request, &set, sizeof set);
  if (eventfd != nullptr) std::memcpy(request + sizeof set, eventfd, sizeof *eventfd);
  return Result(ioctl(device, VFIO_DEVICE_SET_IRQS, request));
}

class System final : public VfioKernel {
 public:
  int ReadFile(const std::string& path, std::string* text) override {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -errno;
    text->clear();
    char chunk[1024];
    for (;;) {
      const ssize_t n = read(fd, chunk, sizeof chunk);
      if (n < 0) {
        const int error = errno;
        close(fd);
        return -error;
      }
      if (n == 0) break;
      text->append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    return 0;
  }

  int LinkName(const std::string& path, std::string* name) override {
    char target[4096];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n < 0) return -errno;
    target[n] = '\0';
    const char* slash = std::strrchr(target, '/');
    *name = slash != nullptr ? slash + 1 : target;
    return 0;
  }

  int List(const std::string& path, std::vector<std::string>* names) override {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return -errno;
    names->clear();
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names->push_back(name);
    }
    closedir(dir);
    return 0;
  }

  int Open(const std::string& path) override {
    return Result(open(path.c_str(), O_RDWR | O_CLOEXEC));
  }
  void Close(int fd) override { close(fd); }

  int GroupViable(int group, bool* viable) override {
    vfio_group_status status;
    std::memset(&status, 0, sizeof status);
    status.argsz = sizeof status;
    if (ioctl(group, VFIO_GROUP_GET_STATUS, &status) < 0) return -errno;
    *viable = (status.flags & VFIO_GROUP_FLAGS_VIABLE) != 0;
    return 0;
  }

  int CheckContainer(int container) override {
    const int version = ioctl(container, VFIO_GET_API_VERSION);
    if (version < 0) return -errno;
    if (version != VFIO_API_VERSION) return -EPROTO;
    const int type1 = ioctl(container, VFIO_CHECK_EXTENSION, VFIO_TYPE1_IOMMU);
    if (type1 < 0) return -errno;
    return type1 > 0 ? 0 : -ENOTSUP;
  }

  int SetContainer(int group, int container) override {
    return Result(ioctl(group, VFIO_GROUP_SET_CONTAINER, &container));
  }
  int UnsetContainer(int group) override {
    return Result(ioctl(group, VFIO_GROUP_UNSET_CONTAINER));
  }
  int SetIommuType1(int container) override {
    return Result(ioctl(container, VFIO_SET_IOMMU, VFIO_TYPE1_IOMMU));
  }
  int DeviceFd(int group, const std::string& name) override {
    return Result(ioctl(group, VFIO_GROUP_GET_DEVICE_FD, name.c_str()));
  }

  int Region(int device, uint32_t index, RegionInfo* info) override {
    vfio_region_info region;
    std::memset(&region, 0, sizeof region);
    region.argsz = sizeof region;
    region.index = index;
    if (ioctl(device, VFIO_DEVICE_GET_REGION_INFO, &region) < 0) return -errno;
    info->size = region.size;
    info->offset = region.offset;
    info->read = (region.flags & VFIO_REGION_INFO_FLAG_READ) != 0;
    info->write = (region.flags & VFIO_REGION_INFO_FLAG_WRITE) != 0;
    info->mmap = (region.flags & VFIO_REGION_INFO_FLAG_MMAP) != 0;
    return 0;
  }

  int IrqCount(int device, uint32_t index, uint32_t* count) override {
    vfio_irq_info irq;
    std::memset(&irq, 0, sizeof irq);
    irq.argsz = sizeof irq;
    irq.index = index;
    if (ioctl(device, VFIO_DEVICE_GET_IRQ_INFO, &irq) < 0) return -errno;
    *count = irq.count;
    return 0;
  }

  int SetIntxEventfd(int device, int eventfd) override {
    if (eventfd < 0) {
      return SetIrqs(device, VFIO_IRQ_SET_DATA_NONE | VFIO_IRQ_SET_ACTION_TRIGGER, 0, nullptr);
    }
    const int32_t fd = eventfd;
    return SetIrqs(device, VFIO_IRQ_SET_DATA_EVENTFD | VFIO_IRQ_SET_ACTION_TRIGGER, 1, &fd);
  }

  int UnmaskIntx(int device) override {
    return SetIrqs(device, VFIO_IRQ_SET_DATA_NONE | VFIO_IRQ_SET_ACTION_UNMASK, 1, nullptr);
  }

  long Read(int fd, void* buffer, size_t bytes, uint64_t offset) override {
    const ssize_t n = pread(fd, buffer, bytes, static_cast<off_t>(offset));
    return n < 0 ? -errno : n;
  }
  long Write(int fd, const void* buffer, size_t bytes, uint64_t offset) override {
    const ssize_t n = pwrite(fd, buffer, bytes, static_cast<off_t>(offset));
    return n < 0 ? -errno : n;
  }

  void* Map(int fd, size_t length, uint64_t offset, int* error) override {
    void* p =
        mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, static_cast<off_t>(offset));
    if (p == MAP_FAILED) {
      *error = errno;
      return nullptr;
    }
    return p;
  }
  void Unmap(void* address, size_t length) override { munmap(address, length); }

  int EventFd() override { return Result(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)); }

  int Poll(int a, int b, int timeout_ms) override {
    pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
    for (;;) {
      const int n = poll(fds, 2, timeout_ms);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return -errno;
      return ((fds[0].revents & POLLIN) != 0 ? 1 : 0) | ((fds[1].revents & POLLIN) != 0 ? 2 : 0);
    }
  }

  int TakeCount(int fd, uint64_t* count) override {
    const ssize_t n = read(fd, count, sizeof *count);
    if (n < 0) return -errno;
    return n == static_cast<ssize_t>(sizeof *count) ? 0 : -EIO;
  }

  int Signal(int fd) override {
    const uint64_t one = 1;
    return write(fd, &one, sizeof one) == static_cast<ssize_t>(sizeof one) ? 0 : -errno;
  }
};

}  // namespace

VfioKernel& SystemKernel() {
  static System system;
  return system;
}

}  // namespace vfio
