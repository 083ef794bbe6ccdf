// zarerera.dll as an application meets it: loaded by name, its exports found by their plain
// names and nothing else exported, and a board asked for on a machine without the driver. The
// program is also linked against the import library, so calls through it reach the same DLL.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "zarerera.h"

namespace {

const std::vector<std::string> kExports = {"tamrelcheck", "tamrelclose", "tamreldi", "tamreldo",
                                           "tamrelread",  "tamrelwrite", "tamreljs", "tamreljsset"};

// GetProcAddress hands back a generic function pointer; it is converted through void(*)() so
// the compiler accepts the change of signature.
template <typename Fn>
Fn Export(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The names in the export directory of a loaded module, as the loader sees them.
std::vector<std::string> ExportedNames(HMODULE module) {
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& entry =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  std::vector<std::string> names;
  if (entry.VirtualAddress == 0) return names;
  const auto* dir = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
  const auto* nameRvas = reinterpret_cast<const DWORD*>(base + dir->AddressOfNames);
  for (DWORD i = 0; i < dir->NumberOfNames; ++i)
    names.emplace_back(reinterpret_cast<const char*>(base + nameRvas[i]));
  return names;
}

class LoadedDll : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryA("zarerera.dll");
    ASSERT_NE(module_, nullptr) << "LoadLibrary failed, error " << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) {
      EXPECT_TRUE(FreeLibrary(module_));
    }
  }
  HMODULE module_ = nullptr;
};

TEST_F(LoadedDll, ExportsExactlyTheBoardApiByPlainName) {
  std::vector<std::string> names = ExportedNames(module_);
  std::sort(names.begin(), names.end());
  std::vector<std::string> expected = kExports;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);
  for (const std::string& name : kExports)
    EXPECT_NE(GetProcAddress(module_, name.c_str()), nullptr) << name;
}

TEST_F(LoadedDll, OpeningFailsWithoutTheDriverDevice) {
  auto check = Export<decltype(&tamrelcheck)>(module_, "tamrelcheck");
  ASSERT_NE(check, nullptr);
  SetLastError(0);
  EXPECT_EQ(check(0, 0, 0, 1), nullptr);  // the default board
  // The driver device was asked for, and is not there.
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(check(0x10B5, 0x9050, 0, 1), nullptr);
  // The same call again: a failed open leaves nothing behind that changes the answer.
  EXPECT_EQ(check(0, 0, 0, 1), nullptr);
}

TEST_F(LoadedDll, ClosingNoBoardReturnsOne) {
  auto close = Export<decltype(&tamrelclose)>(module_, "tamrelclose");
  ASSERT_NE(close, nullptr);
  EXPECT_EQ(close(nullptr), 1);
}

// Linked through the import library: the loader found zarerera.dll for this program at start-up,
// and the linked call is the one the export table names.
TEST(ImportLibrary, LinkedCallsReachTheDll) {
  HMODULE module = GetModuleHandleA("zarerera.dll");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(tamrelcheck(0, 0, 0, 1), nullptr);
  EXPECT_EQ(tamrelclose(nullptr), 1);
}

}  // namespace
