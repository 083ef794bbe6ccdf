// The files the host writes (EEPROM images, pin recordings): checked before a session starts, and
// replaced whole when it ends.
#ifndef ZARERERA_TOOLS_MACHINE_FILES_H
#define ZARERERA_TOOLS_MACHINE_FILES_H

#include <string>

namespace machine {

// Where a write to `path` lands: the file its chain of symbolic links ends at, or `path` itself
// when it is no link. Relative paths stay relative to the working directory. False with a
// message ("path: reason") for a loop of links or a link that cannot be read.
bool ResolveLinks(const std::string& path, std::string* target, std::string* error);

// Whether ReplaceFile(path, ...) can work: `path` leads to a regular file that may be written, or
// to nothing, in a directory that exists and may be written. A file that nobody may write (no
// write permission bit) counts as read-only for the superuser too. *exists tells whether the file
// is there. False with "path: reason" (the system's text for the reason).
bool CheckReplaceable(const std::string& path, bool* exists, std::string* error);

// Writes `text` to `path` through a new file in the same directory that is then renamed over it,
// so that an interrupted write leaves the old file or the new one, never a part. The new file is
// created exclusively under a random name (no path an attacker may have planted is followed) and
// gets the old file's mode, or the usual mode for a new file (0666 less the umask). When `path` is
// a symbolic link the file it leads to is replaced and the link stays. False with "path: reason".
bool ReplaceFile(const std::string& path, const std::string& text, std::string* error);

// Whether two paths lead to the same file, or for files not there yet, to the same place.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace machine

#endif  // ZARERERA_TOOLS_MACHINE_FILES_H
