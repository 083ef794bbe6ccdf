// A fabricated PCI sysfs tree in a temporary directory: one directory per function, named
// DDDD:BB:SS.F, with regular files `config` (256 bytes), `resource` (one "start end flags" line per
// resource, as the kernel writes it), `irq`, and `resourceN` of each BAR's size. Regular files
// support pread, pwrite and mmap, so the sysfs driver runs on them unchanged. Removed with the
// object.
#ifndef ZARERERA_TESTS_SUPPORT_FAKE_SYSFS_H
#define ZARERERA_TESTS_SUPPORT_FAKE_SYSFS_H

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

class FakeSysfs {
 public:
  static constexpr uint64_t kIo = 0x100;
  static constexpr uint64_t kMem = 0x200;

  struct Bar {
    uint64_t start = 0;
    uint64_t bytes = 0;  // 0: unused
    uint64_t flags = 0;  // kIo or kMem (plus any other bits the kernel sets)
  };

  FakeSysfs() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "zarerera_sysfs_XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) root_ = pattern;
  }
  ~FakeSysfs() {
    std::error_code ec;
    if (!root_.empty()) std::filesystem::remove_all(root_, ec);
  }
  FakeSysfs(const FakeSysfs&) = delete;
  FakeSysfs& operator=(const FakeSysfs&) = delete;

  const std::string& root() const { return root_; }
  bool ok() const { return !root_.empty(); }

  // A function with the given IDs, BARs 0-5 (missing ones unused) and interrupt line; `config`
  // holds the IDs and is otherwise zero; each used BAR gets a zero-filled resourceN of its size.
  void AddFunction(const std::string& name, uint16_t vendor, uint16_t device,
                   const std::vector<Bar>& bars = {}, uint32_t irq = 0) {
    std::filesystem::create_directories(Path(name));
    std::string config(256, '\0');
    config[0] = static_cast<char>(vendor & 0xFF);
    config[1] = static_cast<char>(vendor >> 8);
    config[2] = static_cast<char>(device & 0xFF);
    config[3] = static_cast<char>(device >> 8);
    Write(name + "/config", config);
    std::string resource;
    for (size_t i = 0; i < 7; ++i) {  // BARs 0-5 and the ROM line, as the kernel lists them
      const Bar bar = i < bars.size() ? bars[i] : Bar{};
      resource += Line(bar);
      if (bar.bytes != 0)
        Write(name + "/resource" + std::to_string(i), std::string(bar.bytes, '\0'));
    }
    Write(name + "/resource", resource);
    Write(name + "/irq", std::to_string(irq) + "\n");
  }

  // The kernel's line for a resource: three 0x%016llx numbers.
  static std::string Line(const Bar& bar) {
    char text[80];
    const uint64_t end = bar.bytes != 0 ? bar.start + bar.bytes - 1 : 0;
    std::snprintf(text, sizeof text, "0x%016llx 0x%016llx 0x%016llx\n",
                  static_cast<unsigned long long>(bar.bytes != 0 ? bar.start : 0),
                  static_cast<unsigned long long>(end),
                  static_cast<unsigned long long>(bar.bytes != 0 ? bar.flags : 0));
    return text;
  }

  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

  void Write(const std::string& relative, const std::string& bytes) const {
    std::ofstream out(Path(relative), std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  std::string Read(const std::string& relative) const {
    std::ifstream in(Path(relative), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void Remove(const std::string& relative) const {
    std::error_code ec;
    std::filesystem::remove(Path(relative), ec);
  }

 private:
  std::string root_;
};

}  // namespace testsupport

#endif  // ZARERERA_TESTS_SUPPORT_FAKE_SYSFS_H
