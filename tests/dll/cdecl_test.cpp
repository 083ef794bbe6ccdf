// The 32-bit zarerera.dll called as any i686 Windows application calls it: each export found by
// its plain name and called cdecl, arguments pushed right to left and popped again by the
// caller. The call itself is made in assembly, so that nothing the compiler does around a call
// hides what the export does with the stack: ESP is read just before the call and just after it.
// A cdecl export leaves it as it was; a stdcall one would have popped its arguments and left it
// higher by their size. The registers a caller keeps across a call (EBX, ESI, EDI, EBP) must come
// back unchanged. The stack at the call is only as aligned as the Windows ABI promises (4 bytes):
// every export is called at each of the four positions modulo 16, as code built by another
// compiler may call it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "win32/test_driver_client.h"

#if !defined(_WIN32) || defined(_WIN64) || !defined(__i386__)
#error "the cdecl tests are for 32-bit Windows"
#endif

namespace {

// What one call brought back: EAX, how far ESP moved across the call, and the kept registers.
struct CallOutcome {
  uint32_t eax;
  int32_t espChange;
  uint32_t ebx;
  uint32_t edi;
};

constexpr uint32_t kEbxMark = 0xB0B1B2B3u;
constexpr uint32_t kEdiMark = 0xD0D1D2D3u;

}  // namespace

// Calls `function` with `count` 32-bit arguments pushed right to left, ESP at the call being
// `offset` (0, 4, 8 or 12) below a multiple of 16, then pops them as the caller. EBX and EDI hold
// marks across the call, ESI the ESP of the call.
extern "C" void ZarereraCallCdecl(const void* function, const uint32_t* args, uint32_t count,
                                  uint32_t offset, CallOutcome* outcome);
asm(R"(
  .text
  .globl _ZarereraCallCdecl
  .def _ZarereraCallCdecl; .scl 2; .type 32; .endef
_ZarereraCallCdecl:
  pushl %ebp
  movl %esp, %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  movl 16(%ebp), %ecx
  movl 12(%ebp), %edx
  leal (,%ecx,4), %eax
  movl %esp, %ebx
  subl %eax, %ebx
  andl $-16, %ebx
  subl 20(%ebp), %ebx
  addl %eax, %ebx
  movl %ebx, %esp
1:
  testl %ecx, %ecx
  jz 2f
  decl %ecx
  pushl (%edx,%ecx,4)
  jmp 1b
2:
  movl 8(%ebp), %eax
  movl $0xB0B1B2B3, %ebx
  movl $0xD0D1D2D3, %edi
  movl %esp, %esi
  call *%eax
  movl %esp, %ecx
  subl %esi, %ecx
  movl 24(%ebp), %edx
  movl %eax, 0(%edx)
  movl %ecx, 4(%edx)
  movl %ebx, 8(%edx)
  movl %edi, 12(%edx)
  leal -12(%ebp), %esp
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret
)");

namespace {

constexpr uint32_t kVersionCode = 0x95382443u;

uint32_t Address(const void* p) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

struct ExportCall {
  const char* name;
  std::vector<uint32_t> args;  // a card of NULL except for tamrelcheck
  uint32_t eax;                // the result; for a void export, not compared
  bool returnsValue;
};

// Each of the eight exports with its whole argument list. Under wine the driver's version never
// reaches the caller (only the status word comes back), so tamrelcheck finds no usable driver
// and returns NULL; the other exports then meet the NULL card, which they refuse before touching
// anything. Their stack and registers are what is under test here.
std::vector<ExportCall> Calls(uint32_t values, uint32_t controls) {
  return {{"tamrelcheck", {0, 0, 0, 1}, 0, true},
          {"tamrelclose", {0}, 1, true},
          {"tamreldi", {0}, 0, true},
          {"tamreldo", {0, 0, 0x55}, 0, false},
          {"tamrelread", {0, 0, 3}, 0, true},
          {"tamrelwrite", {0, 0, 3, 0x55}, 0, false},
          {"tamreljs", {0, 0, values, 1}, 0, false},
          {"tamreljsset", {0, 0, controls, 1}, 0, false}};
}

class CdeclExports : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    TEST_DRIVER_CONNECT(driver_);
    ASSERT_TRUE(driver_.SetLink(true));
    ASSERT_TRUE(driver_.SetAnswers({{kVersionCode, TD_WRITE_STATUS, 0}}));
    driver_.TakeLog();
    module_ = LoadLibraryA("zarerera.dll");
    ASSERT_NE(module_, nullptr) << "LoadLibrary failed, error " << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) {
      EXPECT_TRUE(FreeLibrary(module_));
    }
    EXPECT_EQ(driver_.WaitForOpens(0), 0u) << "the DLL left a device handle open";
  }
  testdriver::Line driver_;
  HMODULE module_ = nullptr;
};

TEST_P(CdeclExports, LeaveTheStackAndTheKeptRegistersAsTheyFoundThem) {
  const uint32_t offset = GetParam();
  uint32_t values[6] = {11, 12, 13, 14, 15, 16};
  const uint8_t controls[3] = {0x30, 0x70, 0xB0};
  for (const ExportCall& call : Calls(Address(values), Address(controls))) {
    SCOPED_TRACE(call.name);
    const void* function = reinterpret_cast<const void*>(GetProcAddress(module_, call.name));
    ASSERT_NE(function, nullptr);
    CallOutcome outcome{};
    ZarereraCallCdecl(function, call.args.data(), static_cast<uint32_t>(call.args.size()), offset,
                      &outcome);
    EXPECT_EQ(outcome.espChange, 0) << "a stdcall export pops " << 4 * call.args.size() << " bytes";
    EXPECT_EQ(outcome.ebx, kEbxMark);
    EXPECT_EQ(outcome.edi, kEdiMark);
    if (call.returnsValue) {
      EXPECT_EQ(outcome.eax, call.eax);
    }
  }
  // The NULL card touched nothing of the caller's.
  EXPECT_EQ(std::vector<uint32_t>(values, values + 6),
            std::vector<uint32_t>({11, 12, 13, 14, 15, 16}));
  // Only tamrelcheck reached the driver: the device opened, the version asked for with its
  // record zeroed, the device closed.
  ASSERT_EQ(driver_.WaitForOpens(0), 0u);
  const std::vector<TdEvent> log = driver_.TakeLog();
  ASSERT_EQ(log.size(), 3u);
  const unsigned char zeroed[132] = {};
  EXPECT_EQ(log[0], testdriver::Create(log[0].file, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       testdriver::kOverlappedOpenOptions));
  EXPECT_EQ(log[1], testdriver::Request(log[0].file, kVersionCode, zeroed, sizeof zeroed));
  EXPECT_EQ(log[2], testdriver::Close(log[0].file));
}

// ESP modulo 16 at the call: 0 is what GCC keeps for itself, 4, 8 and 12 are as legal on Windows.
INSTANTIATE_TEST_SUITE_P(StackAt, CdeclExports, ::testing::Values(0u, 4u, 8u, 12u),
                         [](const ::testing::TestParamInfo<uint32_t>& info) {
                           return "Offset" + std::to_string(info.param);
                         });

// The thunk itself measures: a function that pops its arguments (stdcall, as WINAPI functions
// of the system are) is seen to move ESP by their size, so a zero above is not the thunk's.
TEST(CdeclThunk, SeesAStdcallFunctionPopItsArguments) {
  const void* function = reinterpret_cast<const void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetLastError"));
  ASSERT_NE(function, nullptr);
  const uint32_t args[1] = {0x1234};
  CallOutcome outcome{};
  ZarereraCallCdecl(function, args, 1, 4, &outcome);
  EXPECT_EQ(outcome.espChange, 4);
  EXPECT_EQ(GetLastError(), 0x1234u);
  EXPECT_EQ(outcome.ebx, kEbxMark);
  EXPECT_EQ(outcome.edi, kEdiMark);
}

}  // namespace
