// A private directory for a test's files, removed with everything in it (made writable again
// first, for tests that take its permissions away), and writing a file's whole text.
#ifndef ZARERERA_TESTS_SUPPORT_SCRATCH_DIR_H
#define ZARERERA_TESTS_SUPPORT_SCRATCH_DIR_H

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace testsupport {

class ScratchDir {
 public:
  explicit ScratchDir(const std::string& prefix = "zarerera_scratch") {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "_XXXXXX")).string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  std::string path() const { return path_.string(); }
  // The names in the directory now.
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) {
      names.insert(e.path().filename().string());
    }
    return names;
  }

 private:
  std::filesystem::path path_;
};

// Replaces the file at `path` with `text`, byte for byte.
inline void Put(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace testsupport

#endif  // ZARERERA_TESTS_SUPPORT_SCRATCH_DIR_H
