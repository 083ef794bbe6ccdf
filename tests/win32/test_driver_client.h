// The tests' side of the test driver's own line (test_driver_protocol.h): set its answers, take
// its log, ask its state. The driver runs in wine's winedevice process; the suite's fixture
// (scripts/wine64-run.sh --driver-start) has started it before any test program runs.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ostream>
#include <thread>
#include <vector>

#include "win32/test_driver_protocol.h"

inline bool operator==(const TdEvent& a, const TdEvent& b) {
  return a.kind == b.kind && a.file == b.file && a.access == b.access && a.sharing == b.sharing &&
         a.options == b.options && a.code == b.code && a.inputBytes == b.inputBytes &&
         a.outputBytes == b.outputBytes && a.inputHash == b.inputHash &&
         a.outputPreset == b.outputPreset;
}

inline void PrintTo(const TdEvent& e, std::ostream* os) {
  static const char* const kKinds[] = {"?", "create", "request", "close"};
  *os << (e.kind <= TD_CLOSE ? kKinds[e.kind] : "?") << "(file " << e.file << std::hex
      << ", access 0x" << e.access << ", sharing 0x" << e.sharing << ", options 0x" << e.options
      << ", code 0x" << e.code << std::dec << ", in " << e.inputBytes << ", out " << e.outputBytes
      << std::hex << ", hash 0x" << e.inputHash << ", preset 0x" << e.outputPreset << std::dec
      << ")";
}

namespace testdriver {

// The event a create, request or close on "\\.\WINDRVR6" leaves in the log. Wine does not pass
// the open's desired access to the driver (no security context), so `access` reads as not
// carried; the access is proven by what the system lets through (see the channel tests).
inline TdEvent Create(unsigned file, unsigned sharing, unsigned options) {
  TdEvent e{};
  e.kind = TD_CREATE;
  e.file = file;
  e.access = TD_NOT_CARRIED;
  e.sharing = sharing;
  e.options = options;
  return e;
}

inline TdEvent Request(unsigned file, uint32_t code, const void* record, uint32_t size) {
  TdEvent e{};
  e.kind = TD_REQUEST;
  e.file = file;
  e.code = code;
  e.inputBytes = size;
  e.outputBytes = 4;  // the status word
  e.inputHash = TdHash(static_cast<const unsigned char*>(record), size);
  e.outputPreset = 0xFFFFFFFFu;
  return e;
}

inline TdEvent Close(unsigned file) {
  TdEvent e{};
  e.kind = TD_CLOSE;
  e.file = file;
  return e;
}

// The options of an open by CreateFileA with OPEN_EXISTING and FILE_FLAG_OVERLAPPED, as wine
// passes them: a non-directory file and neither synchronous-I/O option (the overlapped flag).
// Wine leaves the disposition (the top byte) 0.
constexpr unsigned kOverlappedOpenOptions = 0x40;  // FILE_NON_DIRECTORY_FILE

class Line {
 public:
  Line() {
    handle_ = CreateFileA(TD_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          0, nullptr);
  }
  ~Line() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  bool Connected() const { return handle_ != INVALID_HANDLE_VALUE; }

  struct Answer {
    uint32_t code;
    unsigned action;
    uint32_t status;
  };
  // Replaces the table; codes not in it fail.
  bool SetAnswers(const std::vector<Answer>& answers) {
    TdAnswers table{};
    for (const Answer& a : answers) {
      if (table.count == TD_ANSWERS) return false;
      table.answers[table.count++] = TdAnswer{a.code, a.action, a.status};
    }
    return Control(TD_SET_ANSWERS, &table, sizeof table, nullptr, 0);
  }

  // The events since the last call; an event lost to a full log fails the test.
  std::vector<TdEvent> TakeLog() {
    TdLog log{};
    if (!Control(TD_TAKE_LOG, nullptr, 0, &log, sizeof log)) {
      ADD_FAILURE() << "the test driver did not hand over its log";
      return {};
    }
    EXPECT_EQ(log.lost, 0u) << "events lost to a full log";
    return std::vector<TdEvent>(log.events, log.events + log.count);
  }

  TdState State() {
    TdState state{};
    if (!Control(TD_GET_STATE, nullptr, 0, &state, sizeof state)) {
      ADD_FAILURE() << "the test driver did not report its state";
    }
    return state;
  }

  // A close reaches the driver after CloseHandle has returned; waits, boundedly, until the
  // driver has seen every open closed but `open`. Returns the opens it saw last.
  unsigned WaitForOpens(unsigned open) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    unsigned now = State().opensNow;
    while (now != open && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      now = State().opensNow;
    }
    return now;
  }

  // Removes or restores "\DosDevices\WINDRVR6": with it gone the device is not there.
  bool SetLink(bool present) {
    unsigned value = present ? 1 : 0;
    return Control(TD_SET_LINK, &value, sizeof value, nullptr, 0);
  }

 private:
  bool Control(DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes) {
    DWORD returned = 0;
    return handle_ != INVALID_HANDLE_VALUE &&
           DeviceIoControl(handle_, code, in, inBytes, out, outBytes, &returned, nullptr) &&
           returned == outBytes;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// The line, connected, for a test; fails the test when the driver is not running.
#define TEST_DRIVER_CONNECT(line)                                                               \
  ASSERT_TRUE((line).Connected()) << "the test driver is not running (error " << GetLastError() \
                                  << "); ctest starts it: scripts/wine64-run.sh --driver-start"

}  // namespace testdriver
