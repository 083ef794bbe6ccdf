// The sysfs driver's hot paths on a fabricated tree (regular files stand in for resourceN): a port
// byte read through the library and the driver (one transfer request, one 1-byte pread) against a
// raw 1-byte pread of the same file, and a memory dword read through the driver's mapping against
// a raw volatile load from it. Each library read should cost at most 1.3 times its raw
// counterpart, in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "driver/hosted_driver.h"
#include "linux/sysfs_driver.h"
#include "p9050_lib.h"

namespace {

constexpr uint32_t kMemorySpace = 2;  // BAR2, memory
constexpr uint32_t kIoSpace = 3;      // BAR3, I/O
constexpr uint32_t kPortOffset = 0x10;
constexpr uint32_t kMemoryOffset = 0x40;

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A tree with one 9050 board (BAR0 registers in memory, BAR2 memory, BAR3 ports), the sysfs driver
// on it, and the board opened.
class SysfsBoard {
 public:
  SysfsBoard() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "zarerera_bench_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    root_ = pattern;
    const std::string fn = root_ + "/0000:00:05.0";
    std::filesystem::create_directory(fn);
    WriteFile(fn + "/config", std::string("\x50\x90\xb5\x10", 4) + std::string(252, '\0'));
    WriteFile(fn + "/resource",
              "0x00000000fe000000 0x00000000fe00007f 0x0000000000000200\n"
              "0x0000000000000000 0x0000000000000000 0x0000000000000000\n"
              "0x00000000fe001000 0x00000000fe0010ff 0x0000000000000200\n"
              "0x000000000000c100 0x000000000000c11f 0x0000000000000101\n");
    WriteFile(fn + "/irq", "0\n");
    WriteFile(fn + "/resource0", std::string(128, '\0'));
    WriteFile(fn + "/resource2", std::string(256, '\x5a'));
    WriteFile(fn + "/resource3", std::string(32, '\xa5'));
    driver_ = std::make_unique<sysfs::SysfsDriver>(root_);
    WdHosted_Install(driver_.get());
    if (!P9050_Open(&handle_, 0x9050, 0x10B5, 0, 0)) {
      std::fprintf(stderr, "open failed: %s %s\n", P9050_ErrorText, driver_->LastError().c_str());
      std::abort();
    }
    port_fd_ = open((fn + "/resource3").c_str(), O_RDWR);
  }
  ~SysfsBoard() {
    close(port_fd_);
    P9050_Close(handle_);
    WdHosted_Install(nullptr);
    driver_.reset();
    std::filesystem::remove_all(root_);
  }
  P9050_Handle* handle() const { return handle_; }
  int port_fd() const { return port_fd_; }

 private:
  std::string root_;
  std::unique_ptr<sysfs::SysfsDriver> driver_;
  P9050_Handle* handle_ = nullptr;
  int port_fd_ = -1;
};

void BM_RawPreadByte(benchmark::State& state) {
  SysfsBoard board;
  uint32_t sum = 0;
  for (auto _ : state) {
    uint8_t v = 0;
    if (pread(board.port_fd(), &v, 1, kPortOffset) != 1) state.SkipWithError("pread failed");
    sum += v;
  }
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_RawPreadByte);

void BM_LibraryPortByte(benchmark::State& state) {
  SysfsBoard board;
  uint32_t sum = 0;
  for (auto _ : state) sum += P9050_ReadByte(board.handle(), kIoSpace, kPortOffset);
  if (sum == 0) state.SkipWithError("the port read nothing");
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_LibraryPortByte);

void BM_RawVolatileLoad(benchmark::State& state) {
  SysfsBoard board;
  const P9050_AddrDesc& desc = board.handle()->addrDesc[kMemorySpace];
  volatile uint32_t* at = reinterpret_cast<volatile uint32_t*>(
      static_cast<uintptr_t>(desc.userAddress) + kMemoryOffset);
  uint32_t sum = 0;
  for (auto _ : state) sum += *at;
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_RawVolatileLoad);

void BM_LibraryMemoryDword(benchmark::State& state) {
  SysfsBoard board;
  uint32_t sum = 0;
  for (auto _ : state) sum += P9050_ReadDword(board.handle(), kMemorySpace, kMemoryOffset);
  if (sum == 0) state.SkipWithError("the mapping read nothing");
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_LibraryMemoryDword);

}  // namespace

BENCHMARK_MAIN();
