// The sysfs driver's files with one PCI function served by the simulator: its `config` and the
// `resourceN` of its I/O BARs answer from the simulated function and the card model behind it (the
// PLX 9050 bridge and the board), every other file comes from the disk. So the whole library runs
// over the sysfs driver's code path against the simulated board. Memory BARs cannot be served
// (their stores would reach no model): opening one fails with ENODEV.
#ifndef ZARERERA_TESTS_LINUX_SIM_SERVED_FILES_H
#define ZARERERA_TESTS_LINUX_SIM_SERVED_FILES_H

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "linux/sysfs_files.h"
#include "sim/pci_config.h"
#include "sim/pci_function.h"
#include "sim/simulator.h"
#include "support/fake_sysfs.h"

namespace linux_test {

class SimServedFiles : public sysfs::SysfsFiles {
 public:
  // `dir`: the function's directory in the tree.
  SimServedFiles(sim::PciFunction& function, std::string dir)
      : function_(function), dir_(std::move(dir)) {}

  int Open(const std::string& path, bool write) override {
    if (path == dir_ + "/config") return kConfigFd;
    for (int bar = 0; bar < 6; ++bar) {
      if (path != dir_ + "/resource" + std::to_string(bar)) continue;
      if (function_.bar_kind(bar) != sim::BarKind::kIo) return -ENODEV;
      return kBarFd + bar;
    }
    return sysfs::SystemFiles().Open(path, write);
  }
  long Read(int fd, void* buffer, size_t bytes, uint64_t offset) override {
    if (fd < kConfigFd) return sysfs::SystemFiles().Read(fd, buffer, bytes, offset);
    const uint64_t size = Size(fd);
    if (offset >= size) return 0;
    bytes = static_cast<size_t>(std::min<uint64_t>(bytes, size - offset));
    auto* out = static_cast<uint8_t*>(buffer);
    if (fd == kConfigFd) {
      for (size_t i = 0; i < bytes; ++i) {
        out[i] = static_cast<uint8_t>(function_.ConfigRead(static_cast<uint32_t>(offset + i), 1));
      }
    } else {
      ++port_accesses_;
      const uint32_t v = function_.BarRead(fd - kBarFd, static_cast<uint32_t>(offset),
                                           static_cast<unsigned>(bytes));
      std::memcpy(out, &v, bytes);
    }
    return static_cast<long>(bytes);
  }
  long Write(int fd, const void* buffer, size_t bytes, uint64_t offset) override {
    if (fd < kConfigFd) return sysfs::SystemFiles().Write(fd, buffer, bytes, offset);
    const uint64_t size = Size(fd);
    if (offset >= size) return 0;
    bytes = static_cast<size_t>(std::min<uint64_t>(bytes, size - offset));
    uint32_t v = 0;
    std::memcpy(&v, buffer, bytes);
    if (fd == kConfigFd) {
      function_.ConfigWrite(static_cast<uint32_t>(offset), v, static_cast<unsigned>(bytes));
    } else {
      ++port_accesses_;
      function_.BarWrite(fd - kBarFd, static_cast<uint32_t>(offset), v,
                         static_cast<unsigned>(bytes));
    }
    return static_cast<long>(bytes);
  }
  void* Map(int fd, size_t length, int* error) override {
    if (fd >= kConfigFd) {
      *error = ENODEV;
      return nullptr;
    }
    return sysfs::SystemFiles().Map(fd, length, error);
  }
  void Unmap(void* address, size_t length) override { sysfs::SystemFiles().Unmap(address, length); }
  void Close(int fd) override {
    if (fd < kConfigFd) sysfs::SystemFiles().Close(fd);
  }
  int List(const std::string& path, std::vector<std::string>* names) override {
    return sysfs::SystemFiles().List(path, names);
  }

  // Port reads and writes that reached the card model.
  int port_accesses() const { return port_accesses_; }

 private:
  static constexpr int kConfigFd = 1 << 20;  // far above any descriptor the process holds
  static constexpr int kBarFd = kConfigFd + 1;

  uint64_t Size(int fd) const {
    return fd == kConfigFd ? sim::pci::kConfigSize : function_.bar_size(fd - kBarFd);
  }

  sim::PciFunction& function_;
  std::string dir_;
  int port_accesses_ = 0;
};

// Writes every function of the simulated bus into `tree`: config, resource and irq as the kernel
// would show them, and a zero-filled resourceN for each BAR. Returns the tree's root.
inline std::string TreeOf(sim::Simulator& simulator, testsupport::FakeSysfs& tree) {
  for (sim::PciFunction* f : simulator.functions()) {
    const WdPciSlot& s = f->slot();
    char name[16];
    std::snprintf(name, sizeof name, "0000:%02x:%02x.%x", static_cast<unsigned>(s.bus),
                  static_cast<unsigned>(s.slot), static_cast<unsigned>(s.function));
    std::vector<testsupport::FakeSysfs::Bar> bars;
    for (int bar = 0; bar < 6; ++bar) {
      const sim::BarKind kind = f->bar_kind(bar);
      if (kind == sim::BarKind::kNone) {
        bars.push_back({});
      } else {
        bars.push_back({f->bar_address(bar), f->bar_size(bar),
                        kind == sim::BarKind::kIo ? testsupport::FakeSysfs::kIo
                                                  : testsupport::FakeSysfs::kMem});
      }
    }
    tree.AddFunction(
        name, static_cast<uint16_t>(f->ConfigRead(sim::pci::kVendorId, 2)),
        static_cast<uint16_t>(f->ConfigRead(sim::pci::kDeviceId, 2)), bars,
        f->interrupt_line() == sim::pci::kInterruptLineNone ? 0u : f->interrupt_line());
  }
  return tree.root();
}

}  // namespace linux_test

#endif  // ZARERERA_TESTS_LINUX_SIM_SERVED_FILES_H
