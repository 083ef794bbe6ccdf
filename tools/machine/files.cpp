// Checking and replacing the host's files: with POSIX calls, or on Windows with the Win32 API.
#include "files.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#undef ReplaceFile  // the system's own function of that name
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace machine {

#ifndef _WIN32

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

#else  // _WIN32

namespace {

std::string Reason(const std::string& path, const std::error_code& error) {
  return path + ": " + error.message();
}

std::string SystemReason(const std::string& path, DWORD error) {
  return Reason(path, std::error_code(static_cast<int>(error), std::system_category()));
}

std::filesystem::path DirectoryOf(const std::string& path) {
  const std::filesystem::path dir = std::filesystem::path(path).parent_path();
  return dir.empty() ? std::filesystem::path(".") : dir;
}

}  // namespace

// Windows programs meet links rarely, and the system follows them when it opens a file.
bool ResolveLinks(const std::string& path, std::string* target, std::string*) {
  *target = path;
  return true;
}

bool CheckReplaceable(const std::string& path, bool* exists, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  *exists = fs::exists(st);
  if (ec && st.type() != fs::file_type::not_found) {
    *error = Reason(path, ec);
    return false;
  }
  if (*exists) {
    if (fs::is_directory(st)) {
      *error = Reason(path, std::make_error_code(std::errc::is_a_directory));
      return false;
    }
    if (!fs::is_regular_file(st)) {
      *error = path + ": not a regular file";
      return false;
    }
    if ((st.permissions() & fs::perms::owner_write) == fs::perms::none) {
      *error = Reason(path, std::make_error_code(std::errc::permission_denied));
      return false;
    }
  }
  const fs::path dir = DirectoryOf(path);
  const fs::file_status dirStatus = fs::status(dir, ec);
  if (!fs::exists(dirStatus)) {
    *error = Reason(path, std::make_error_code(std::errc::no_such_file_or_directory));
    return false;
  }
  if (!fs::is_directory(dirStatus)) {
    *error = Reason(path, std::make_error_code(std::errc::not_a_directory));
    return false;
  }
  return true;
}

bool ReplaceFile(const std::string& path, const std::string& text, std::string* error) {
  // A new file of a name no other process uses, written through and moved over the old one.
  const std::string temporary =
      path + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
  HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = SystemReason(path, GetLastError());
    return false;
  }
  DWORD failure = 0;
  size_t done = 0;
  while (failure == 0 && done < text.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, text.data() + done, chunk, &written, nullptr)) failure = GetLastError();
    done += written;
  }
  if (failure == 0 && !FlushFileBuffers(file)) failure = GetLastError();
  if (!CloseHandle(file) && failure == 0) failure = GetLastError();
  if (failure == 0 && !MoveFileExA(temporary.c_str(), path.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    failure = GetLastError();
  }
  if (failure != 0) {
    DeleteFileA(temporary.c_str());
    *error = SystemReason(path, failure);
    return false;
  }
  return true;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec) && !ec) return true;
  const auto ca = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ec), ec);
  const auto cb = std::filesystem::weakly_canonical(std::filesystem::absolute(b, ec), ec);
  return ca == cb;
}

#endif  // _WIN32

}  // namespace machine
