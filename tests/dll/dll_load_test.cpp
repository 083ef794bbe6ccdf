// zarerera.dll as an application meets it: loaded by name, its exports found by their plain
// names and nothing else exported, and a board asked for on a machine with and without the
// driver. The program is also linked against the import library, so calls through it reach the
// same DLL. The driver is the test driver (tests/win32), which the suite's fixture has started;
// removing its "\DosDevices\WINDRVR6" link makes a machine without the driver.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "win32/test_driver_client.h"
#include "zarerera.h"

namespace {

constexpr uint32_t kVersionCode = 0x95382443u;  // the version query, with its 132-byte record
constexpr uint32_t kVersionRecordSize = 132;

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
    TEST_DRIVER_CONNECT(driver_);
    ASSERT_TRUE(driver_.SetLink(true));
    driver_.TakeLog();
    module_ = LoadLibraryA("zarerera.dll");
    ASSERT_NE(module_, nullptr) << "LoadLibrary failed, error " << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) {
      EXPECT_TRUE(FreeLibrary(module_));
    }
    EXPECT_TRUE(driver_.SetLink(true));
    EXPECT_EQ(driver_.WaitForOpens(0), 0u) << "the DLL left a device handle open";
  }
  testdriver::Line driver_;
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
  ASSERT_TRUE(driver_.SetLink(false));
  SetLastError(0);
  EXPECT_EQ(check(0, 0, 0, 1), nullptr);  // the default board
  // The driver device was asked for, and is not there.
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(check(0x10B5, 0x9050, 0, 1), nullptr);
  // The same call again: a failed open leaves nothing behind that changes the answer.
  EXPECT_EQ(check(0, 0, 0, 1), nullptr);
  EXPECT_TRUE(driver_.TakeLog().empty());
}

// With the driver there, asking for a board opens the device, sends the version query with its
// record zeroed in full, and closes the device again. The driver answers the query with status 0,
// but the version it would write into the record cannot come back under wine (only the status
// word is copied back to the caller), so the version reads as 0 and the driver is refused:
// nothing is sent after the query and no board is returned.
TEST_F(LoadedDll, CheckAsksTheDriverForItsVersion) {
  auto check = Export<decltype(&tamrelcheck)>(module_, "tamrelcheck");
  ASSERT_NE(check, nullptr);
  ASSERT_TRUE(driver_.SetAnswers({{kVersionCode, TD_WRITE_STATUS, 0}}));

  EXPECT_EQ(check(0, 0, 0, 1), nullptr);

  ASSERT_EQ(driver_.WaitForOpens(0), 0u);
  const std::vector<TdEvent> log = driver_.TakeLog();
  ASSERT_FALSE(log.empty());
  const unsigned file = log[0].file;
  const unsigned char zeroed[kVersionRecordSize] = {};
  EXPECT_EQ(log, std::vector<TdEvent>(
                     {testdriver::Create(file, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         testdriver::kOverlappedOpenOptions),
                      testdriver::Request(file, kVersionCode, zeroed, kVersionRecordSize),
                      testdriver::Close(file)}));
}

TEST_F(LoadedDll, ClosingNoBoardReturnsOne) {
  auto close = Export<decltype(&tamrelclose)>(module_, "tamrelclose");
  ASSERT_NE(close, nullptr);
  EXPECT_EQ(close(nullptr), 1);
}

// Linked through the import library: the loader found zarerera.dll for this program at start-up,
// and the linked call is the one the export table names: it reaches the driver.
TEST(ImportLibrary, LinkedCallsReachTheDll) {
  testdriver::Line driver;
  TEST_DRIVER_CONNECT(driver);
  ASSERT_TRUE(driver.SetAnswers({}));
  driver.TakeLog();
  HMODULE module = GetModuleHandleA("zarerera.dll");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(tamrelcheck(0, 0, 0, 1), nullptr);
  EXPECT_EQ(tamrelclose(nullptr), 1);
  EXPECT_EQ(driver.WaitForOpens(0), 0u);
  const std::vector<TdEvent> log = driver.TakeLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1].code, kVersionCode);
}

}  // namespace
