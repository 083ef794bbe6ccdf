// Reading, checking and writing the tools' files: with POSIX calls, or on Windows with the Win32
// API.
#include "files.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#undef ReplaceFile  // the system's own function of that name
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace machine {

namespace {

// A backup's name: `stem``suffix` in `directory`, the n-th try `stem`-n`suffix`.
std::string NumberedName(const std::filesystem::path& directory, const std::string& stem,
                         const std::string& suffix, int n) {
  return (directory / (stem + (n == 1 ? "" : "-" + std::to_string(n)) + suffix)).string();
}

std::string TooLarge(const std::string& what, size_t limit) {
  return what + ": larger than " + std::to_string(limit) + " bytes, more than any image; not read";
}

// What one try at a new file came to.
enum class Created { kYes, kExists, kFailed };

}  // namespace

#ifndef _WIN32

namespace {

constexpr int kMaxLinks = 40;  // as the kernel follows at most

DurableCalls g_calls;

int Sync(int fd) {
  return g_calls.sync != nullptr ? g_calls.sync(fd) : fsync(fd);
}

int Rename(const char* from, const char* to) {
  return g_calls.rename != nullptr ? g_calls.rename(from, to) : rename(from, to);
}

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

// A renamed or created entry is on the disk once its directory is; a directory that cannot be
// synced (some file systems refuse) leaves the file as durable as the system makes it.
void SyncDirectory(const std::string& dir) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)Sync(fd);
  close(fd);
}

// Reads `fd` to its end, at most `limit` bytes: false with ERANGE when there is more.
bool ReadAll(int fd, size_t limit, std::string* text, int* error) {
  std::string data;
  char chunk[4096];
  for (;;) {
    const size_t room = limit + 1 - data.size();  // one byte more tells a larger file
    const ssize_t n = read(fd, chunk, room < sizeof chunk ? room : sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = errno;
      return false;
    }
    if (n == 0) break;
    data.append(chunk, static_cast<size_t>(n));
    if (data.size() > limit) {
      *error = EFBIG;
      return false;
    }
  }
  *text = std::move(data);
  return true;
}

}  // namespace

DurableCalls SetDurableCalls(const DurableCalls& calls) {
  const DurableCalls old = g_calls;
  g_calls = calls;
  return old;
}

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
  *exists = lstat(target.c_str(), &st) == 0;
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
  } else if (target != path) {
    *error = path + ": a symbolic link to nothing (" + target + "); not followed";
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
  bool existed = false;
  if (!CheckReplaceable(path, &existed, error)) return false;
  std::string target;
  if (!ResolveLinks(path, &target, error)) return false;
  struct stat old {};
  if (existed && lstat(target.c_str(), &old) != 0) existed = false;

  std::string temporary = target + ".XXXXXX";
  const int fd = mkstemp(temporary.data());  // O_CREAT | O_EXCL: a planted name fails it
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
  if (err == 0 && Sync(fd) != 0) err = errno;
  if (close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && Rename(temporary.c_str(), target.c_str()) != 0) err = errno;
  if (err != 0) {
    *error = Reason(path, err);
    unlink(temporary.c_str());
    return false;
  }
  SyncDirectory(DirectoryOf(target));
  return true;
}

namespace {

Created TryCreate(const std::string& name, const std::string& text, std::string* error) {
  // O_EXCL with O_CREAT fails on any entry of that name, a link too, and never follows one.
  const int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EEXIST) return Created::kExists;
    *error = Reason(name, errno);
    return Created::kFailed;
  }
  int err = 0;
  if (!WriteAll(fd, text)) err = errno;
  if (err == 0 && Sync(fd) != 0) err = errno;
  if (close(fd) != 0 && err == 0) err = errno;
  if (err != 0) {
    unlink(name.c_str());
    *error = Reason(name, err);
    return Created::kFailed;
  }
  SyncDirectory(DirectoryOf(name));
  return Created::kYes;
}

}  // namespace

ReadResult ReadInputFile(const std::string& path, size_t limit, std::string* text,
                         std::string* error) {
  // Looked at before it is opened: opening a device or a FIFO may do something or wait.
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return ReadResult::kMissing;
    *error = Reason(path, errno);
    return ReadResult::kBad;
  }
  if (S_ISDIR(st.st_mode)) {
    *error = Reason(path, EISDIR);
    return ReadResult::kBad;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = path + ": not a regular file";
    return ReadResult::kBad;
  }
  if (static_cast<unsigned long long>(st.st_size) > limit) {
    *error = TooLarge(path, limit);
    return ReadResult::kBad;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return ReadResult::kMissing;
    *error = Reason(path, errno);
    return ReadResult::kBad;
  }
  // What was opened is what was looked at: it may have been swapped in between.
  struct stat opened {};
  if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    close(fd);
    *error = path + ": not a regular file";
    return ReadResult::kBad;
  }
  int err = 0;
  const bool ok = ReadAll(fd, limit, text, &err);
  close(fd);
  if (!ok) {
    *error = err == EFBIG ? TooLarge(path, limit) : Reason(path, err);
    return ReadResult::kBad;
  }
  return ReadResult::kRead;
}

bool ReadStandardInput(size_t limit, std::string* text, std::string* error) {
  int err = 0;
  if (ReadAll(STDIN_FILENO, limit, text, &err)) return true;
  *error = err == EFBIG ? TooLarge("standard input", limit) : Reason("standard input", err);
  return false;
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

namespace {

// Writes all of `text` to `file`, flushes it to the disk and closes it; the first failure's code,
// or 0.
DWORD WriteSyncedAndClose(HANDLE file, const std::string& text) {
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
  return failure;
}

}  // namespace

bool ReplaceFile(const std::string& path, const std::string& text, std::string* error) {
  bool exists = false;
  if (!CheckReplaceable(path, &exists, error)) return false;
  // A new file of a name no other process uses, written through and moved over the old one.
  const std::string temporary =
      path + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
  HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = SystemReason(path, GetLastError());
    return false;
  }
  DWORD failure = WriteSyncedAndClose(file, text);
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

DurableCalls SetDurableCalls(const DurableCalls& calls) {
  return calls;  // the Windows calls have no seam: the order is tested where links are met
}

namespace {

Created TryCreate(const std::string& name, const std::string& text, std::string* error) {
  HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD failure = GetLastError();
    if (failure == ERROR_FILE_EXISTS || failure == ERROR_ALREADY_EXISTS) return Created::kExists;
    *error = SystemReason(name, failure);
    return Created::kFailed;
  }
  const DWORD failure = WriteSyncedAndClose(file, text);
  if (failure != 0) {
    DeleteFileA(name.c_str());
    *error = SystemReason(name, failure);
    return Created::kFailed;
  }
  return Created::kYes;
}

}  // namespace

ReadResult ReadInputFile(const std::string& path, size_t limit, std::string* text,
                         std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (st.type() == fs::file_type::not_found) return ReadResult::kMissing;
  if (ec) {
    *error = Reason(path, ec);
    return ReadResult::kBad;
  }
  if (fs::is_directory(st)) {
    *error = Reason(path, std::make_error_code(std::errc::is_a_directory));
    return ReadResult::kBad;
  }
  if (!fs::is_regular_file(st)) {
    *error = path + ": not a regular file";
    return ReadResult::kBad;
  }
  const std::string tooLarge = TooLarge(path, limit);
  if (fs::file_size(path, ec) > limit && !ec) {
    *error = tooLarge;
    return ReadResult::kBad;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *error = path + ": " + std::strerror(errno);
    return ReadResult::kBad;
  }
  std::string data(limit + 1, '\0');
  const size_t n = std::fread(data.data(), 1, data.size(), file);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    *error = path + ": " + std::strerror(EIO);
    return ReadResult::kBad;
  }
  if (n > limit) {
    *error = tooLarge;
    return ReadResult::kBad;
  }
  data.resize(n);
  *text = std::move(data);
  return ReadResult::kRead;
}

bool ReadStandardInput(size_t limit, std::string* text, std::string* error) {
  _setmode(_fileno(stdin), _O_BINARY);
  std::string data(limit + 1, '\0');
  const size_t n = std::fread(data.data(), 1, data.size(), stdin);
  if (std::ferror(stdin) != 0) {
    *error = "standard input: " + std::string(std::strerror(EIO));
    return false;
  }
  if (n > limit) {
    *error = TooLarge("standard input", limit);
    return false;
  }
  data.resize(n);
  *text = std::move(data);
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

bool CreateNewFile(const std::string& dir, const std::string& stem, const std::string& suffix,
                   const std::string& text, std::string* path, std::string* error) {
  constexpr int kMaxTries = 1000;
  const std::filesystem::path directory(dir.empty() ? "." : dir);
  for (int n = 1; n <= kMaxTries; ++n) {
    const std::string name = NumberedName(directory, stem, suffix, n);
    const Created created = TryCreate(name, text, error);
    if (created == Created::kExists) continue;
    if (created == Created::kYes) *path = name;
    return created == Created::kYes;
  }
  *error = (directory / (stem + suffix)).string() + ": " +
           std::make_error_code(std::errc::file_exists).message();
  return false;
}

}  // namespace machine
