#include "vm/guest.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "driver/hosted_driver.h"

namespace vm_test {

bool InGuest() {
  const std::string cmdline = ReadFile("/proc/cmdline");
  std::istringstream words(cmdline);
  for (std::string word; words >> word;) {
    if (word == "zarerera.vm=1") return true;
  }
  return false;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WriteFile(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY);
  if (fd < 0) return false;
  const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return close(fd) == 0 && ok;
}

std::string Attribute(const std::string& function, const std::string& name) {
  std::string text = ReadFile(std::string(kDevices) + "/" + function + "/" + name);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

namespace {

// The last part of a link's target: a driver's or an IOMMU group's name.
std::string LinkName(const std::string& path) {
  char target[512];
  const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
  if (n < 0) return "";
  target[n] = '\0';
  const std::string t = target;
  return t.substr(t.rfind('/') + 1);
}

}  // namespace

std::string DriverOf(const std::string& fn) {
  return LinkName(std::string(kDevices) + "/" + fn + "/driver");
}
std::string GroupOf(const std::string& fn) {
  return LinkName(std::string(kDevices) + "/" + fn + "/iommu_group");
}

bool BindToVfio(const std::string& fn) {
  const std::string dir = std::string(kDevices) + "/" + fn;
  if (!WriteFile(dir + "/driver_override", "vfio-pci")) return false;
  if (!DriverOf(fn).empty() && !WriteFile(dir + "/driver/unbind", fn)) return false;
  WriteFile("/sys/bus/pci/drivers_probe", fn);
  return DriverOf(fn) == "vfio-pci";
}

int VfioDeviceFd(const std::string& process) {
  const std::string dir = "/proc/" + process + "/fd";
  DIR* fds = opendir(dir.c_str());
  if (fds == nullptr) return -1;
  int found = -1;
  while (const dirent* entry = readdir(fds)) {
    char target[64] = {};
    const std::string link = dir + "/" + entry->d_name;
    if (readlink(link.c_str(), target, sizeof target - 1) > 0 &&
        std::string(target) == "anon_inode:[vfio-device]") {
      found = found == -1 ? std::atoi(entry->d_name) : -2;
    }
  }
  closedir(fds);
  return found;
}

int BorrowFd(pid_t pid, int fd) {
  const int process = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (process < 0) return -1;
  const int borrowed = static_cast<int>(syscall(SYS_pidfd_getfd, process, fd, 0));
  close(process);
  return borrowed;
}

std::vector<std::string> Functions() {
  std::vector<std::string> names;
  DIR* dir = opendir(kDevices);
  if (dir == nullptr) return names;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

Command RunCommand(const std::string& command, const std::string& input) {
  char inputPath[] = "/tmp/vm-input.XXXXXX";
  const int inputFd = mkstemp(inputPath);
  if (inputFd < 0) return {};
  (void)!write(inputFd, input.data(), input.size());
  close(inputFd);
  Command result;
  FILE* pipe = popen(("(" + command + "\n) <" + inputPath + " 2>&1").c_str(), "r");
  if (pipe != nullptr) {
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) result.output.append(chunk, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  unlink(inputPath);
  return result;
}

Command RunCommandAs(unsigned uid, const std::string& command, const std::string& input) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    dup2(fds[1], STDOUT_FILENO);
    close(fds[1]);
    if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0) _exit(126);
    const Command run = RunCommand(command, input);
    (void)!write(STDOUT_FILENO, run.output.data(), run.output.size());
    _exit(run.status < 0 ? 125 : run.status);
  }
  close(fds[1]);
  Command result;
  char chunk[4096];
  for (ssize_t n; (n = read(fds[0], chunk, sizeof chunk)) > 0;) result.output.append(chunk, n);
  close(fds[0]);
  int status = 0;
  if (waitpid(child, &status, 0) == child && WIFEXITED(status)) result.status = WEXITSTATUS(status);
  return result;
}

Conversation::Conversation(const std::string& command) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return;
  }
  child_ = fork();
  if (child_ == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(out[1], STDERR_FILENO);
    const std::string line = "exec " + command;
    execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  input_ = in[1];
  output_fd_ = out[0];
  // A program that ends early must not take the test down with SIGPIPE at the next Send.
  signal(SIGPIPE, SIG_IGN);
}

Conversation::~Conversation() {
  if (child_ > 0) (void)Finish();
}

void Conversation::Send(const std::string& text) {
  if (input_ >= 0) (void)!write(input_, text.data(), text.size());
}

bool Conversation::ReadSome(std::chrono::steady_clock::time_point end) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
  if (output_fd_ < 0 || left.count() <= 0) return false;
  pollfd ready{output_fd_, POLLIN, 0};
  if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) return false;
  char chunk[4096];
  const ssize_t n = read(output_fd_, chunk, sizeof chunk);
  if (n <= 0) return false;
  output_.append(chunk, static_cast<size_t>(n));
  return true;
}

Command Conversation::Finish() {
  Command result;
  if (input_ >= 0) close(input_);
  input_ = -1;
  if (output_fd_ >= 0) {
    char chunk[4096];
    for (ssize_t n; (n = read(output_fd_, chunk, sizeof chunk)) > 0;) output_.append(chunk, n);
    close(output_fd_);
    output_fd_ = -1;
  }
  int status = 0;
  if (child_ > 0 && waitpid(child_, &status, 0) == child_ && WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  }
  child_ = -1;
  result.output = output_;
  return result;
}

std::vector<std::string> MapsOf(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream maps(ReadFile("/proc/self/maps"));
  for (std::string line; std::getline(maps, line);) {
    if (line.size() >= path.size() &&
        line.compare(line.size() - path.size(), path.size(), path) == 0)
      lines.push_back(line);
  }
  return lines;
}

int OpenDescriptors() {
  int n = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (const dirent* entry = readdir(dir)) n += entry->d_name[0] != '.' ? 1 : 0;
  closedir(dir);
  return n - 1;  // the directory's own descriptor
}

void GuestTest::SetUp() {
  WdHosted_Install(&driver_);
  device_ = WdChannel_Open();
  ASSERT_NE(device_, WD_INVALID_HANDLE);
}

void GuestTest::TearDown() {
  if (device_ != WD_INVALID_HANDLE) WdChannel_Close(device_);
  WdHosted_Install(nullptr);
  EXPECT_EQ(driver_.registrations(), 0) << "a registration was left in force";
  EXPECT_EQ(driver_.open_files(), 0) << "a resourceN file was left open";
}

uint32_t ReadAt(P9050_Handle* board, uint32_t space, uint32_t offset, unsigned width) {
  if (width == 1) return P9050_ReadByte(board, space, offset);
  if (width == 2) return P9050_ReadWord(board, space, offset);
  return P9050_ReadDword(board, space, offset);
}

void WriteAt(P9050_Handle* board, uint32_t space, uint32_t offset, unsigned width, uint32_t value) {
  if (width == 1) P9050_WriteByte(board, space, offset, static_cast<uint8_t>(value));
  if (width == 2) P9050_WriteWord(board, space, offset, static_cast<uint16_t>(value));
  if (width == 4) P9050_WriteDword(board, space, offset, value);
}

WdPciSlot SlotOf(const std::string& function) {
  unsigned domain = 0, bus = 0, slot = 0, fn = 0;
  std::sscanf(function.c_str(), "%x:%x:%x.%x", &domain, &bus, &slot, &fn);
  return WdPciSlot{bus, slot, fn};
}

}  // namespace vm_test
