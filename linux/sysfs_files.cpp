// The sysfs driver's file operations on the system's own calls.
#include "linux/sysfs_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sysfs {

namespace {

class SystemFileOps : public SysfsFiles {
 public:
  int Open(const std::string& path, bool write) override {
    const int fd = open(path.c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    return fd >= 0 ? fd : -errno;
  }
  long Read(int fd, void* buffer, size_t bytes, uint64_t offset) override {
    const ssize_t n = pread(fd, buffer, bytes, static_cast<off_t>(offset));
    return n >= 0 ? static_cast<long>(n) : -errno;
  }
  long Write(int fd, const void* buffer, size_t bytes, uint64_t offset) override {
    const ssize_t n = pwrite(fd, buffer, bytes, static_cast<off_t>(offset));
    return n >= 0 ? static_cast<long>(n) : -errno;
  }
  void* Map(int fd, size_t length, int* error) override {
    void* at = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (at == MAP_FAILED) {
      *error = errno;
      return nullptr;
    }
    return at;
  }
  void Unmap(void* address, size_t length) override { munmap(address, length); }
  void Close(int fd) override { close(fd); }
  int List(const std::string& path, std::vector<std::string>* names) override {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return -errno;
    names->clear();
    for (;;) {
      errno = 0;
      const dirent* entry = readdir(dir);
      if (entry == nullptr) break;
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
        names->emplace_back(entry->d_name);
      }
    }
    const int error = errno;  // 0 at the end of the directory
    closedir(dir);
    return -error;
  }
};

}  // namespace

SysfsFiles& SystemFiles() {
  static SystemFileOps files;
  return files;
}

}  // namespace sysfs
