// Checking and replacing the host's files with POSIX calls.
#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace p9050diag {

namespace {

constexpr int kMaxLinks = 40;  // as the kernel follows at most

std::string Reason(const std::string& path, int error) {
  return path + ": " + std::strerror(error);
}

std::string DirectoryOf(const std::string& path) {
  const std::string dir = std::filesystem::path(path).parent_path().string();
  return dir.empty() ? "." : dir;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool ResolveLinks(const std::string& path, std::string* target, std::string* error) {
  std::string at = path;
  for (int links = 0;; ++links) {
    struct stat st {};
    if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    if (links == kMaxLinks) {
      *error = Reason(path, ELOOP);
      return false;
    }
    std::vector<char> buffer(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    const ssize_t n = readlink(at.c_str(), buffer.data(), buffer.size());
    if (n < 0 || static_cast<size_t>(n) >= buffer.size()) {
      *error = Reason(path, n < 0 ? errno : ENAMETOOLONG);
      return false;
    }
    const std::filesystem::path link(std::string(buffer.data(), static_cast<size_t>(n)));
    at = link.is_absolute() ? link.string()
                            : (std::filesystem::path(at).parent_path() / link).string();
  }
  *target = at;
  return true;
}

bool CheckReplaceable(const std::string& path, bool* exists, std::string* error) {
  std::string target;
  if (!ResolveLinks(path, &target, error)) return false;
  struct stat st {};
  *exists = stat(target.c_str(), &st) == 0;
  if (*exists) {
    if (S_ISDIR(st.st_mode)) {
      *error = Reason(path, EISDIR);
      return false;
    }
    if (!S_ISREG(st.st_mode)) {
      *error = path + ": not a regular file";
      return false;
    }
    if (access(target.c_str(), W_OK) != 0) {
      *error = Reason(path, errno);
      return false;
    }
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
      *error = Reason(path, EACCES);
      return false;
    }
  } else if (errno != ENOENT) {
    *error = Reason(path, errno);
    return false;
  }
  // The file is replaced by a new one made beside it.
  const std::string dir = DirectoryOf(target);
  struct stat dirStat {};
  if (stat(dir.c_str(), &dirStat) != 0) {
    *error = Reason(path, errno);
    return false;
  }
  if (!S_ISDIR(dirStat.st_mode)) {
    *error = Reason(path, ENOTDIR);
    return false;
  }
  if (access(dir.c_str(), W_OK | X_OK) != 0) {
    *error = Reason(path, errno);
    return false;
  }
  return true;
}

bool ReplaceFile(const std::string& path, const std::string& text, std::string* error) {
  std::string target;
  if (!ResolveLinks(path, &target, error)) return false;
  struct stat old {};
  const bool existed = stat(target.c_str(), &old) == 0;

  std::string temporary = target + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    *error = Reason(path, errno);
    return false;
  }
  int err = 0;
  if (!WriteAll(fd, text)) err = errno;
  if (err == 0 && existed && (old.st_uid != geteuid() || old.st_gid != getegid())) {
    // Another owner's file keeps its owner when the superuser replaces it; for anyone else the
    // call fails and the new file is theirs, as any file they write.
    [[maybe_unused]] const int ignored = fchown(fd, old.st_uid, old.st_gid);
  }
  if (err == 0 && fchmod(fd, existed ? (old.st_mode & 07777) : NewFileMode()) != 0) err = errno;
  if (err == 0 && fsync(fd) != 0) err = errno;
  if (close(fd) != 0 && err == 0) err = errno;
  if (err != 0) {
    *error = Reason(path, err);
    unlink(temporary.c_str());
    return false;
  }
  if (rename(temporary.c_str(), target.c_str()) != 0) {
    *error = Reason(path, errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::string ta;
  std::string tb;
  std::string ignored;
  if (!ResolveLinks(a, &ta, &ignored) || !ResolveLinks(b, &tb, &ignored)) return a == b;
  struct stat sa {};
  struct stat sb {};
  if (stat(ta.c_str(), &sa) == 0 && stat(tb.c_str(), &sb) == 0) {
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }
  std::error_code ec;
  const auto ca = std::filesystem::weakly_canonical(std::filesystem::absolute(ta, ec), ec);
  const auto cb = std::filesystem::weakly_canonical(std::filesystem::absolute(tb, ec), ec);
  return ca == cb;
}

}  // namespace p9050diag
