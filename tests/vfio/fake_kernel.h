// A fake of the VFIO driver's kernel calls: a sysfs tree of links and files, groups and devices
// with their regions in memory, and a log of every call that changes something, in order. The
// eventfds are the system's own (they only count), so that a waiter really blocks and wakes.
#ifndef ZARERERA_TESTS_VFIO_FAKE_KERNEL_H
#define ZARERERA_TESTS_VFIO_FAKE_KERNEL_H

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "vfio/vfio_kernel.h"

namespace vfio_test {

constexpr char kSys[] = "/sys/bus/pci/devices";
constexpr char kDev[] = "/dev/vfio";
constexpr uint64_t kRegionStride = uint64_t{1} << 40;  // region N at N << 40, as vfio-pci has it

struct FakeRegion {
  vfio::RegionInfo info;
  std::vector<uint8_t> bytes;  // whole pages, so that a mapping may cover them
};

struct FakeDevice {
  std::string name;
  std::string group;
  std::map<uint32_t, FakeRegion> regions;  // BARs 0-5 and the configuration region
  bool intx = true;
  int trigger = -1;       // the armed eventfd
  bool masked = false;    // by the kernel, at an interrupt
  bool asserted = false;  // the card holds its line
  // A write of any value here (region, offset) deasserts the line: the card's acknowledgement.
  uint32_t ack_region = 0;
  uint64_t ack_offset = ~uint64_t{0};
};

class FakeKernel : public vfio::VfioKernel {
 public:
  // --- building the machine
  // A function in IOMMU group `group` ("" for none), bound to `driver` ("" for none), with the
  // given `resource` text and identity.
  void AddFunction(const std::string& name, const std::string& driver, const std::string& group,
                   const std::string& resource, uint32_t vendor = 0x10b5, uint32_t device = 0x9050,
                   uint32_t irq = 11) {
    const std::string dir = std::string(kSys) + "/" + name;
    functions_.insert(name);
    files_[dir + "/resource"] = resource;
    files_[dir + "/vendor"] = Hex(vendor);
    files_[dir + "/device"] = Hex(device);
    files_[dir + "/irq"] = std::to_string(irq) + "\n";
    if (!driver.empty()) links_[dir + "/driver"] = driver;
    if (!group.empty()) {
      links_[dir + "/iommu_group"] = group;
      groups_[group].push_back(name);
    }
    FakeDevice& d = devices_[name];
    d.name = name;
    d.group = group;
    AddRegion(name, vfio::kConfigRegion, 256, false);
  }
  // A region of `size` bytes (mappable or not) on function `name`.
  void AddRegion(const std::string& name, uint32_t index, uint64_t size, bool mmap) {
    FakeRegion& r = devices_[name].regions[index];
    r.info.size = size;
    r.info.offset = index * kRegionStride;
    r.info.read = r.info.write = true;
    r.info.mmap = mmap;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    r.bytes.assign((size + page - 1) / page * page, 0);
  }
  void SetViable(const std::string& group, bool viable) { not_viable_[group] = !viable; }
  void DenyOpen(const std::string& path, int error) { open_errors_[path] = error; }

  FakeDevice& device(const std::string& name) { return devices_.at(name); }
  std::vector<uint8_t>& bytes(const std::string& name, uint32_t index) {
    return devices_.at(name).regions.at(index).bytes;
  }

  // The card raises its line: the kernel signals the armed eventfd and masks the line, unless it
  // is masked already (then nothing reaches the process until the unmask).
  void Raise(const std::string& name) {
    std::lock_guard<std::mutex> guard(lock_);
    FakeDevice& d = devices_.at(name);
    d.asserted = true;
    Fire(d);
  }

  // --- what reached the kernel
  std::vector<std::string> log() const {
    std::lock_guard<std::mutex> guard(lock_);
    return log_;
  }
  void ClearLog() {
    std::lock_guard<std::mutex> guard(lock_);
    log_.clear();
  }
  int open_fds() const {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int>(fds_.size());
  }
  int mappings() const {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int>(maps_.size());
  }

  // --- VfioKernel
  int ReadFile(const std::string& path, std::string* text) override {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = files_.find(path);
    if (it == files_.end()) return -ENOENT;
    *text = it->second;
    return 0;
  }
  int LinkName(const std::string& path, std::string* name) override {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = links_.find(path);
    if (it == links_.end()) return -ENOENT;
    *name = it->second;
    return 0;
  }
  int List(const std::string& path, std::vector<std::string>* names) override {
    std::lock_guard<std::mutex> guard(lock_);
    names->clear();
    if (path == kSys) {
      names->assign(functions_.begin(), functions_.end());
      names->push_back("not-a-function");
      return 0;
    }
    for (const std::string& f : functions_) {
      const std::string dir = std::string(kSys) + "/" + f + "/";
      if (path == dir) return 0;
      if (path == dir + "iommu_group/devices" && links_.count(dir + "iommu_group") != 0) {
        *names = groups_[links_[dir + "iommu_group"]];
        return 0;
      }
    }
    return -ENOENT;
  }

  int Open(const std::string& path) override {
    std::lock_guard<std::mutex> guard(lock_);
    if (auto e = open_errors_.find(path); e != open_errors_.end()) return -e->second;
    std::string what;
    if (path == std::string(kDev) + "/vfio") {
      what = "container";
    } else if (path.rfind(std::string(kDev) + "/", 0) == 0 &&
               groups_.count(path.substr(sizeof kDev)) != 0) {
      what = "group " + path.substr(sizeof kDev);
    } else {
      return -ENOENT;
    }
    const int fd = next_fd_++;
    fds_[fd] = what;
    log_.push_back("open " + what);
    return fd;
  }
  void Close(int fd) override {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = fds_.find(fd);
    if (it == fds_.end()) {
      log_.push_back("close of a descriptor not open");
      return;
    }
    if (it->second.rfind("eventfd", 0) == 0) {
      close(fd);
    } else {
      log_.push_back("close " + it->second);
    }
    for (auto& [name, d] : devices_) {
      if (d.trigger == fd) d.trigger = -1;
    }
    fds_.erase(it);
  }
  int GroupViable(int group, bool* viable) override {
    std::lock_guard<std::mutex> guard(lock_);
    const std::string number = fds_.at(group).substr(6);
    *viable = !not_viable_[number];
    log_.push_back("status group " + number);
    return 0;
  }
  int CheckContainer(int container) override {
    std::lock_guard<std::mutex> guard(lock_);
    log_.push_back("check " + fds_.at(container));
    return 0;
  }
  int SetContainer(int group, int container) override {
    std::lock_guard<std::mutex> guard(lock_);
    log_.push_back("set-container " + fds_.at(group) + " " + fds_.at(container));
    return 0;
  }
  int UnsetContainer(int group) override {
    std::lock_guard<std::mutex> guard(lock_);
    log_.push_back("unset-container " + fds_.at(group));
    return 0;
  }
  int SetIommuType1(int container) override {
    std::lock_guard<std::mutex> guard(lock_);
    log_.push_back("set-iommu " + fds_.at(container));
    return 0;
  }
  int DeviceFd(int group, const std::string& name) override {
    std::lock_guard<std::mutex> guard(lock_);
    auto d = devices_.find(name);
    if (d == devices_.end() || "group " + d->second.group != fds_.at(group)) return -EINVAL;
    const int fd = next_fd_++;
    fds_[fd] = "device " + name;
    log_.push_back("get-device " + name);
    return fd;
  }
  int Region(int device, uint32_t index, vfio::RegionInfo* info) override {
    std::lock_guard<std::mutex> guard(lock_);
    FakeDevice& d = Of(device);
    auto r = d.regions.find(index);
    if (r == d.regions.end()) return -EINVAL;
    *info = r->second.info;
    return 0;
  }
  int IrqCount(int device, uint32_t index, uint32_t* count) override {
    std::lock_guard<std::mutex> guard(lock_);
    *count = index == vfio::kIntxIndex && Of(device).intx ? 1 : 0;
    return 0;
  }
  int SetIntxEventfd(int device, int eventfd) override {
    std::lock_guard<std::mutex> guard(lock_);
    FakeDevice& d = Of(device);
    d.trigger = eventfd;
    d.masked = false;
    log_.push_back((eventfd < 0 ? "disarm " : "arm ") + d.name);
    if (eventfd >= 0 && d.asserted) Fire(d);
    return 0;
  }
  int UnmaskIntx(int device) override {
    std::lock_guard<std::mutex> guard(lock_);
    FakeDevice& d = Of(device);
    log_.push_back("unmask " + d.name);
    d.masked = false;
    if (d.asserted) Fire(d);  // a line still held fires again
    return 0;
  }

  long Read(int fd, void* buffer, size_t bytes, uint64_t offset) override {
    std::lock_guard<std::mutex> guard(lock_);
    uint8_t* at = At(fd, offset, bytes);
    if (at == nullptr) return -EINVAL;
    std::memcpy(buffer, at, bytes);
    log_.push_back("read" + Access(fd, offset, bytes, at));
    return static_cast<long>(bytes);
  }
  long Write(int fd, const void* buffer, size_t bytes, uint64_t offset) override {
    std::lock_guard<std::mutex> guard(lock_);
    uint8_t* at = At(fd, offset, bytes);
    if (at == nullptr) return -EINVAL;
    std::memcpy(at, buffer, bytes);
    log_.push_back("write" + Access(fd, offset, bytes, at));
    FakeDevice& d = Of(fd);
    if (offset == d.ack_region * kRegionStride + d.ack_offset) d.asserted = false;
    return static_cast<long>(bytes);
  }
  void* Map(int fd, size_t length, uint64_t offset, int* error) override {
    std::lock_guard<std::mutex> guard(lock_);
    FakeDevice& d = Of(fd);
    auto r = d.regions.find(static_cast<uint32_t>(offset / kRegionStride));
    if (r == d.regions.end() || !r->second.info.mmap || offset % kRegionStride != 0 ||
        length > r->second.bytes.size()) {
      *error = EINVAL;
      return nullptr;
    }
    maps_.insert(r->second.bytes.data());
    log_.push_back("map " + d.name + " region " + std::to_string(r->first) + " " +
                   std::to_string(length));
    return r->second.bytes.data();
  }
  void Unmap(void* address, size_t length) override {
    std::lock_guard<std::mutex> guard(lock_);
    if (maps_.erase(address) == 0) log_.push_back("unmap of no mapping");
    log_.push_back("unmap " + std::to_string(length));
  }

  int EventFd() override {
    std::lock_guard<std::mutex> guard(lock_);
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) return -errno;
    fds_[fd] = "eventfd";
    return fd;
  }
  int Poll(int a, int b, int timeout_ms) override {
    pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
    const int n = poll(fds, 2, timeout_ms);
    if (n < 0) return -errno;
    return ((fds[0].revents & POLLIN) != 0 ? 1 : 0) | ((fds[1].revents & POLLIN) != 0 ? 2 : 0);
  }
  int TakeCount(int fd, uint64_t* count) override {
    return read(fd, count, sizeof *count) == static_cast<ssize_t>(sizeof *count) ? 0 : -errno;
  }
  int Signal(int fd) override {
    const uint64_t one = 1;
    return write(fd, &one, sizeof one) == static_cast<ssize_t>(sizeof one) ? 0 : -errno;
  }

  // Signals `name`'s armed eventfd `times` times without masking: signals the driver did not see
  // one by one.
  void SignalTimes(const std::string& name, int times) {
    std::lock_guard<std::mutex> guard(lock_);
    for (int i = 0; i < times; ++i) Signal(devices_.at(name).trigger);
    devices_.at(name).masked = true;
  }

 private:
  static std::string Hex(uint64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%04llx\n", static_cast<unsigned long long>(v));
    return text;
  }
  FakeDevice& Of(int fd) { return devices_.at(fds_.at(fd).substr(7)); }
  uint8_t* At(int fd, uint64_t offset, size_t bytes) {
    FakeDevice& d = Of(fd);
    auto r = d.regions.find(static_cast<uint32_t>(offset / kRegionStride));
    const uint64_t in = offset % kRegionStride;
    if (r == d.regions.end() || in + bytes > r->second.info.size) return nullptr;
    return r->second.bytes.data() + in;
  }
  std::string Access(int fd, uint64_t offset, size_t bytes, const uint8_t* at) {
    uint32_t value = 0;
    std::memcpy(&value, at, bytes);
    char text[96];
    std::snprintf(text, sizeof text, "%zu %s region %u 0x%llx = 0x%x", bytes * 8,
                  Of(fd).name.c_str(), static_cast<unsigned>(offset / kRegionStride),
                  static_cast<unsigned long long>(offset % kRegionStride), value);
    return text;
  }
  void Fire(FakeDevice& d) {
    if (d.trigger < 0 || d.masked) return;
    d.masked = true;
    Signal(d.trigger);
    log_.push_back("interrupt " + d.name);
  }

  mutable std::mutex lock_;
  std::set<std::string> functions_;
  std::map<std::string, std::string> files_;
  std::map<std::string, std::string> links_;
  std::map<std::string, std::vector<std::string>> groups_;
  std::map<std::string, bool> not_viable_;
  std::map<std::string, int> open_errors_;
  std::map<std::string, FakeDevice> devices_;
  std::map<int, std::string> fds_;
  std::set<void*> maps_;
  int next_fd_ = 1000;
  std::vector<std::string> log_;
};

}  // namespace vfio_test

#endif  // ZARERERA_TESTS_VFIO_FAKE_KERNEL_H
