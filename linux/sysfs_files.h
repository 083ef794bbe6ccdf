// The file operations of the sysfs driver, behind one small interface: the driver chooses nothing
// per call, and a test can serve some of a function's files from elsewhere (the simulator's bridge
// and board behind `resourceN`) while the rest come from a tree on disk.
//
// Every call reports failure as a negative errno and leaves nothing open behind it.
#ifndef ZARERERA_LINUX_SYSFS_FILES_H
#define ZARERERA_LINUX_SYSFS_FILES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sysfs {

class SysfsFiles {
 public:
  virtual ~SysfsFiles() = default;
  // Opens `path` for reading, or for reading and writing; returns a descriptor (>= 0) or -errno.
  virtual int Open(const std::string& path, bool write) = 0;
  // One pread / pwrite of exactly the call's bytes at `offset` (a port access of that width on an
  // I/O BAR's resourceN); returns the bytes moved or -errno.
  virtual long Read(int fd, void* buffer, size_t bytes, uint64_t offset) = 0;
  virtual long Write(int fd, const void* buffer, size_t bytes, uint64_t offset) = 0;
  // Maps `length` bytes from offset 0, shared, readable and writable; null with *error = errno.
  virtual void* Map(int fd, size_t length, int* error) = 0;
  virtual void Unmap(void* address, size_t length) = 0;
  virtual void Close(int fd) = 0;
  // The names in directory `path` other than "." and ".."; 0 or -errno.
  virtual int List(const std::string& path, std::vector<std::string>* names) = 0;
};

// The system's own calls (open, pread, pwrite, mmap, munmap, close, readdir).
SysfsFiles& SystemFiles();

}  // namespace sysfs

#endif  // ZARERERA_LINUX_SYSFS_FILES_H
