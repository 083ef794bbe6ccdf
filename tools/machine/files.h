// The files both tools read and write: EEPROM images, backups, pin recordings and logs. Every
// write goes through here, so that no file either tool writes can be turned against another one:
// only a regular file or a new name is ever written, a planted link is never followed, and a file
// is replaced whole or not at all. Every read is bounded and refuses what is not a regular file.
#ifndef ZARERERA_TOOLS_MACHINE_FILES_H
#define ZARERERA_TOOLS_MACHINE_FILES_H

#include <cstddef>
#include <string>

namespace machine {

// Where a write to `path` lands: the file its chain of symbolic links ends at, or `path` itself
// when it is no link. At most 40 links are followed, as the kernel follows; more is ELOOP.
// Relative paths stay relative to the working directory. False with "path: reason".
bool ResolveLinks(const std::string& path, std::string* target, std::string* error);

// Whether ReplaceFile(path, ...) can work: `path` leads to a regular file that may be written, or
// names nothing (no entry at all: a link that leads nowhere is refused, as writing through it is
// what a planted link is for), in a directory that exists and may be written. A file that nobody
// may write (no write permission bit) counts as read-only for the superuser too. *exists tells
// whether the file is there. False with "path: reason" (the system's text for the reason).
bool CheckReplaceable(const std::string& path, bool* exists, std::string* error);

// Writes `text` to `path` through a new file in the same directory that is then renamed over it,
// so that an interrupted write leaves the old file or the new one, never a part. The new file is
// created exclusively under a random name (no path an attacker may have planted is followed),
// gets the old file's mode, or the usual mode for a new file (0666 less the umask), and reaches
// the disk before it is renamed. When `path` is a symbolic link the regular file it leads to is
// replaced and the link stays. Whatever fails, the new file is removed. False with "path: reason".
bool ReplaceFile(const std::string& path, const std::string& text, std::string* error);

// Creates a file that did not exist, `dir`/`stem``suffix`, or when that name is taken (by
// anything, a dangling link too) `stem`-2`suffix`, -3 ..., never through a link, and writes
// `text` to it, synced. *path is the name it was made under. On failure nothing is left and
// the message is "name: reason".
bool CreateNewFile(const std::string& dir, const std::string& stem, const std::string& suffix,
                   const std::string& text, std::string* path, std::string* error);

enum class ReadResult { kRead, kMissing, kBad };

// The whole of a regular file of at most `limit` bytes. Anything else (a directory, a device, a
// FIFO) is refused without being read or waited on, and a larger file is refused before a byte
// of it is read. kMissing when there is no such file; kBad with "path: reason".
ReadResult ReadInputFile(const std::string& path, size_t limit, std::string* text,
                         std::string* error);

// Standard input to its end, at most `limit` bytes (more is refused, and no more is read). False
// with "standard input: reason".
bool ReadStandardInput(size_t limit, std::string* text, std::string* error);

// Whether two paths lead to the same file, or for files not there yet, to the same place.
bool SameFile(const std::string& a, const std::string& b);

// The two calls that order a replacement: the data is synced, then the new file renamed over the
// old one. Tests put their own in to see the order and make them fail; the returned value is
// what was in place before. Null members mean the system's calls.
struct DurableCalls {
  int (*sync)(int fd) = nullptr;
  int (*rename)(const char* from, const char* to) = nullptr;
};
DurableCalls SetDurableCalls(const DurableCalls& calls);

}  // namespace machine

#endif  // ZARERERA_TOOLS_MACHINE_FILES_H
