#include "vm/guest.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
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

WdPciSlot SlotOf(const std::string& function) {
  unsigned domain = 0, bus = 0, slot = 0, fn = 0;
  std::sscanf(function.c_str(), "%x:%x:%x.%x", &domain, &bus, &slot, &fn);
  return WdPciSlot{bus, slot, fn};
}

}  // namespace vm_test
