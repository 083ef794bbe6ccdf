// DriverRequest and the Win32 device channel (CreateFileA / DeviceIoControl / CloseHandle)
// against a kernel driver: the test driver, standing at "\\.\WINDRVR6" in wine's winedevice
// process, logs what each create, request and close brought and answers by the table a test sets.
//
// What wine carries, and so what these tests prove: the open's sharing and options (the access
// is proven by which control codes the system lets through the handle); each request's code, its
// input record byte for byte and its size, the 4-byte output and what it held on the way in (the
// preset); the status the driver writes, back to the caller; the close of every handle.
// What wine cannot carry: requests of transfer method 3 reach winedevice as copies of the
// caller's buffers, and only the output buffer (the status) is copied back. What a driver writes
// into the record does not reach the caller, and addresses inside a record (a block transfer's
// buffer, the configuration access's buffer) mean nothing in the driver's process. Results in
// place are therefore not tested here; the hosted channel's suites test them.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "driver/device_channel.h"
#include "driver/driver_request.h"
#include "driver/wd_records.h"
#include "win32/test_driver_client.h"

namespace {

using testdriver::Close;
using testdriver::Create;
using testdriver::kOverlappedOpenOptions;
using testdriver::Request;

constexpr unsigned kReadWriteSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

// A record of `size` bytes with a pattern particular to its code, so the driver's fingerprint of
// it proves every byte arrived.
std::vector<unsigned char> PatternRecord(uint32_t code, uint32_t size) {
  std::vector<unsigned char> record(size);
  for (uint32_t i = 0; i < size; ++i) record[i] = static_cast<unsigned char>(code + 7 * i + 1);
  return record;
}

// Every test gets the driver with an empty log and a device handle the channel opened, whose
// create it has checked; at the end it closes the handle and checks that the driver saw every
// handle of the test closed.
class Win32Channel : public ::testing::Test {
 protected:
  void SetUp() override {
    TEST_DRIVER_CONNECT(line_);
    ASSERT_TRUE(line_.SetLink(true));
    ASSERT_EQ(line_.WaitForOpens(0), 0u) << "a handle of an earlier test is still open";
    line_.TakeLog();
    device_ = WdChannel_Open();
    ASSERT_NE(device_, WD_INVALID_HANDLE) << "error " << GetLastError();
    const std::vector<TdEvent> log = line_.TakeLog();
    ASSERT_EQ(log.size(), 1u);
    file_ = log[0].file;
    EXPECT_EQ(log[0], Create(file_, kReadWriteSharing, kOverlappedOpenOptions));
  }
  void TearDown() override {
    if (device_ != WD_INVALID_HANDLE) {
      WdChannel_Close(device_);
      EXPECT_EQ(line_.WaitForOpens(0), 0u) << "a device handle was left open";
      const std::vector<TdEvent> log = line_.TakeLog();
      ASSERT_FALSE(log.empty());
      EXPECT_EQ(log.back(), Close(file_));
    }
  }

  testdriver::Line line_;
  WdDeviceHandle device_ = WD_INVALID_HANDLE;
  unsigned file_ = 0;
};

struct RequestCase {
  const char* name;
  uint32_t code;
  uint32_t recordSize;  // sizeof the library's record
  uint32_t wireSize;    // the size the driver must see
  uint32_t status;      // the driver's answer to this code
};

void PrintTo(const RequestCase& c, std::ostream* os) {
  *os << c.name << " (code 0x" << std::hex << c.code << std::dec << ", " << c.wireSize << " bytes)";
}

// Every request code with its record. The configuration access is 36 bytes on x86-64, where its
// buffer address is 8 bytes wide (32 on i686).
const RequestCase kRequests[] = {
    {"Version", WD_CODE_VERSION, sizeof(WdVersion), 132, 0x101},
    {"PciScan", WD_CODE_PCI_SCAN, sizeof(WdPciScan), 2012, 0x102},
    {"PciCardInfo", WD_CODE_PCI_CARD_INFO, sizeof(WdPciCardInfo), 816, 0x103},
    {"CardRegister", WD_CODE_CARD_REGISTER, sizeof(WdCardRegister), 948, 0x104},
    {"CardUnregister", WD_CODE_CARD_UNREGISTER, sizeof(WdCardRegister), 948, 0x105},
    {"PciConfig", WD_CODE_PCI_CONFIG, sizeof(WdPciConfigDump), sizeof(void*) == 8 ? 36u : 32u,
     0x106},
    {"Transfer", WD_CODE_TRANSFER, sizeof(WdTransfer), 32, 0x107},
    {"Sleep", WD_CODE_SLEEP, sizeof(WdSleep), 8, 0x108},
};

class EveryRequest : public Win32Channel, public ::testing::WithParamInterface<RequestCase> {};

// Each code is answered with a status of its own, so a request that reached the driver under
// another code would come back with the wrong one.
TEST_P(EveryRequest, ReachesTheDriverWithItsWholeRecordAndReturnsItsStatus) {
  const RequestCase& c = GetParam();
  ASSERT_EQ(c.recordSize, c.wireSize);
  std::vector<testdriver::Line::Answer> table;
  for (const RequestCase& r : kRequests) table.push_back({r.code, TD_WRITE_STATUS, r.status});
  ASSERT_TRUE(line_.SetAnswers(table));
  std::vector<unsigned char> record = PatternRecord(c.code, c.recordSize);
  const std::vector<unsigned char> sent = record;

  EXPECT_EQ(DriverRequest(c.code, device_, record.data(), c.recordSize, 0), c.status);

  EXPECT_EQ(line_.TakeLog(),
            std::vector<TdEvent>({Request(file_, c.code, sent.data(), c.wireSize)}));
}

INSTANTIATE_TEST_SUITE_P(Codes, EveryRequest, ::testing::ValuesIn(kRequests),
                         [](const ::testing::TestParamInfo<RequestCase>& info) {
                           return std::string(info.param.name);
                         });

// The status word comes back as the driver wrote it, whatever DeviceIoControl reports: with a
// warning status (STATUS_BUFFER_OVERFLOW) the data is copied back and the call returns FALSE.
TEST_F(Win32Channel, ReturnsTheDriversStatusWordWhateverTheCallReports) {
  struct Case {
    unsigned action;
    uint32_t status;
    int callSucceeds;
  };
  const Case cases[] = {{TD_WRITE_STATUS, 0, 1},           {TD_WRITE_STATUS, 1, 1},
                        {TD_WRITE_STATUS, 0x80000000u, 1}, {TD_WRITE_STATUS, 0xFFFFFFFEu, 1},
                        {TD_WRITE_STATUS_WARN, 0, 0},      {TD_WRITE_STATUS_WARN, 0x2Au, 0}};
  WdSleep sleep{500, 0};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "action " << c.action << ", status 0x" << std::hex << c.status);
    ASSERT_TRUE(line_.SetAnswers({{WD_CODE_SLEEP, c.action, c.status}}));
    EXPECT_EQ(DriverRequest(WD_CODE_SLEEP, device_, &sleep, sizeof sleep, 0), c.status);
    uint32_t status = WD_STATUS_NONE;
    EXPECT_EQ(WdChannel_Control(device_, WD_CODE_SLEEP, &sleep, sizeof sleep, &status),
              c.callSucceeds);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(line_.TakeLog(), std::vector<TdEvent>(2, Request(file_, WD_CODE_SLEEP, &sleep, 8)));
  }
}

// A request the driver fails, or answers without writing a status, reached it and leaves the
// preset: DriverRequest returns 0xFFFFFFFF.
TEST_F(Win32Channel, RequestWithoutAStatusLeavesThePreset) {
  ASSERT_TRUE(line_.SetAnswers({{WD_CODE_SLEEP, TD_WRITE_NOTHING, 0}}));
  WdVersion version{};
  WdSleep sleep{500, 0};

  // Not in the table: the driver fails the request; DeviceIoControl returns FALSE.
  EXPECT_EQ(DriverRequest(WD_CODE_VERSION, device_, &version, sizeof version, 0), WD_STATUS_NONE);
  uint32_t status = WD_STATUS_NONE;
  EXPECT_EQ(WdChannel_Control(device_, WD_CODE_VERSION, &version, sizeof version, &status), 0);
  EXPECT_EQ(status, WD_STATUS_NONE);
  // Completed without a word written: the call succeeds, the preset stays.
  EXPECT_EQ(DriverRequest(WD_CODE_SLEEP, device_, &sleep, sizeof sleep, 0), WD_STATUS_NONE);

  EXPECT_EQ(line_.TakeLog(), std::vector<TdEvent>({Request(file_, WD_CODE_VERSION, &version, 132),
                                                   Request(file_, WD_CODE_VERSION, &version, 132),
                                                   Request(file_, WD_CODE_SLEEP, &sleep, 8)}));
}

// The invalid handle value sends nothing: the driver's log stays empty (a request on the valid
// handle afterwards shows that the log is live).
TEST_F(Win32Channel, InvalidHandleSendsNothing) {
  ASSERT_TRUE(line_.SetAnswers({{WD_CODE_VERSION, TD_WRITE_STATUS, 0}}));
  WdVersion version{};
  EXPECT_EQ(DriverRequest(WD_CODE_VERSION, WD_INVALID_HANDLE, &version, sizeof version, 0),
            WD_STATUS_NONE);
  EXPECT_TRUE(line_.TakeLog().empty());
  EXPECT_EQ(DriverRequest(WD_CODE_VERSION, device_, &version, sizeof version, 0), 0u);
  EXPECT_EQ(line_.TakeLog(),
            std::vector<TdEvent>({Request(file_, WD_CODE_VERSION, &version, 132)}));
}

// The device is opened for reading: a control code that asks for read access reaches the driver
// through the handle, one that asks for write access is refused by the system before it.
TEST_F(Win32Channel, HandleIsOpenedForReadingOnly) {
  const uint32_t readAccessCode = WD_CODE_SLEEP | (FILE_READ_ACCESS << 14);
  const uint32_t writeAccessCode = WD_CODE_SLEEP | (FILE_WRITE_ACCESS << 14);
  ASSERT_TRUE(line_.SetAnswers(
      {{readAccessCode, TD_WRITE_STATUS, 1}, {writeAccessCode, TD_WRITE_STATUS, 2}}));
  WdSleep sleep{500, 0};
  EXPECT_EQ(DriverRequest(readAccessCode, device_, &sleep, sizeof sleep, 0), 1u);
  EXPECT_EQ(DriverRequest(writeAccessCode, device_, &sleep, sizeof sleep, 0), WD_STATUS_NONE);
  EXPECT_EQ(line_.TakeLog(), std::vector<TdEvent>({Request(file_, readAccessCode, &sleep, 8)}));
}

// With openOwn the request goes on a handle opened for it alone (not the one given), which is
// closed again however the driver answered.
TEST_F(Win32Channel, OpenOwnOpensAndClosesItsOwnHandleOnEveryAnswer) {
  struct Case {
    unsigned action;  // 0: the code is not in the table, the driver fails it
    uint32_t expected;
  };
  const Case cases[] = {
      {TD_WRITE_STATUS, 0x55}, {TD_WRITE_NOTHING, WD_STATUS_NONE}, {0, WD_STATUS_NONE}};
  const WdDeviceHandle givenHandles[] = {WD_INVALID_HANDLE, device_};
  WdSleep sleep{500, 0};
  for (const Case& c : cases) {
    for (WdDeviceHandle given : givenHandles) {
      SCOPED_TRACE(testing::Message() << "action " << c.action << ", given handle " << given);
      if (c.action != 0) {
        ASSERT_TRUE(line_.SetAnswers({{WD_CODE_SLEEP, c.action, 0x55}}));
      } else {
        ASSERT_TRUE(line_.SetAnswers({}));
      }
      EXPECT_EQ(DriverRequest(WD_CODE_SLEEP, given, &sleep, sizeof sleep, 1), c.expected);
      // Only the test's own handle stays open.
      EXPECT_EQ(line_.WaitForOpens(1), 1u);
      const std::vector<TdEvent> log = line_.TakeLog();
      ASSERT_EQ(log.size(), 3u);
      const unsigned own = log[0].file;
      EXPECT_NE(own, file_);
      EXPECT_EQ(log, std::vector<TdEvent>({Create(own, kReadWriteSharing, kOverlappedOpenOptions),
                                           Request(own, WD_CODE_SLEEP, &sleep, 8), Close(own)}));
    }
  }
}

// Without the driver's device the channel's open fails, and so does an openOwn request, which
// then sends nothing.
TEST_F(Win32Channel, NoDeviceNoOpenAndNothingSent) {
  ASSERT_TRUE(line_.SetAnswers({{WD_CODE_SLEEP, TD_WRITE_STATUS, 0}}));
  ASSERT_TRUE(line_.SetLink(false));
  SetLastError(0);
  EXPECT_EQ(WdChannel_Open(), WD_INVALID_HANDLE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  WdSleep sleep{500, 0};
  EXPECT_EQ(DriverRequest(WD_CODE_SLEEP, WD_INVALID_HANDLE, &sleep, sizeof sleep, 1),
            WD_STATUS_NONE);
  ASSERT_TRUE(line_.SetLink(true));
  EXPECT_TRUE(line_.TakeLog().empty());
  EXPECT_EQ(line_.State().opensNow, 1u);
}

}  // namespace
