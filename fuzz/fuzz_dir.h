// A private scratch directory for a fuzz target, emptied before each input and removed at exit.
#ifndef ZARERERA_FUZZ_FUZZ_DIR_H
#define ZARERERA_FUZZ_FUZZ_DIR_H

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzz {

class ScratchDir {
 public:
  explicit ScratchDir(const std::string& tag) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / ("zarerera_fuzz_" + tag + "_XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // Removes everything in the directory (anything a previous input left, links too).
  void Empty() const {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    for (const auto& e : std::filesystem::directory_iterator(path_, ec)) {
      std::filesystem::remove_all(e.path(), ec);
    }
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// One directory for the whole run, removed when the process ends normally.
inline const ScratchDir& Scratch(const std::string& tag) {
  static const ScratchDir* dir = new ScratchDir(tag);
  static const bool removed = [] {
    std::atexit([] { delete dir; });
    return true;
  }();
  (void)removed;
  return *dir;
}

}  // namespace fuzz

#endif  // ZARERERA_FUZZ_FUZZ_DIR_H
