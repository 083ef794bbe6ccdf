/* How a test talks to the test driver (test_driver.c), shared by the driver and the tests.
 *
 * The driver serves two devices. "\\.\WINDRVR6" stands where the WinDriver device stands: the
 * library under test opens it and sends its requests there, and the driver logs every create,
 * request and close it sees and answers each request by a table. "\\.\ZarereraTestDriver" is the
 * test's own line: the control codes below set the table, take the log and ask for the driver's
 * state. Nothing on the test's line is logged.
 *
 * Plain C with 32-bit unsigned fields only, so the records are the same in the driver and in the
 * test on every Windows target.
 */
#ifndef ZARERERA_TESTS_WIN32_TEST_DRIVER_PROTOCOL_H
#define ZARERERA_TESTS_WIN32_TEST_DRIVER_PROTOCOL_H

#define TD_CONTROL_PATH "\\\\.\\ZarereraTestDriver"

/* Control codes of the test's line: a device type of its own, buffered transfer (both buffers are
 * copied both ways), any access. */
#define TD_CODE(function) ((0x8A5Eu << 16) | ((0x900u + (function)) << 2))
#define TD_SET_ANSWERS TD_CODE(1) /* in: TdAnswers; replaces the table */
#define TD_TAKE_LOG TD_CODE(2)    /* out: TdLog; the log is emptied */
#define TD_GET_STATE TD_CODE(3)   /* out: TdState */
#define TD_SET_LINK                                                            \
  TD_CODE(4) /* in: unsigned int, 0 removes "\DosDevices\WINDRVR6", 1 restores \
              */

/* How the driver answers a request whose code is in the table. A code not in the table fails
 * (STATUS_INVALID_DEVICE_REQUEST) with nothing written. */
enum {
  TD_WRITE_STATUS = 1,     /* the status into the 4-byte output, success */
  TD_WRITE_NOTHING = 2,    /* success, nothing written */
  TD_WRITE_STATUS_WARN = 3 /* the status into the output, completed with a warning status
                              (STATUS_BUFFER_OVERFLOW): the data comes back, the call says FALSE */
};

#define TD_ANSWERS 16
typedef struct TdAnswer {
  unsigned int code;
  unsigned int action; /* TD_WRITE_... */
  unsigned int status; /* the 4-byte status written */
} TdAnswer;
typedef struct TdAnswers {
  unsigned int count;
  TdAnswer answers[TD_ANSWERS];
} TdAnswers;

enum { TD_CREATE = 1, TD_REQUEST = 2, TD_CLOSE = 3 };

/* What one create, request or close on "\\.\WINDRVR6" brought. */
typedef struct TdEvent {
  unsigned int kind; /* TD_CREATE, TD_REQUEST, TD_CLOSE */
  unsigned int file; /* the open it belongs to: 1, 2, ... in the order of creates */
  /* Create: the open's desired access (TD_NOT_CARRIED when the system does not pass it), sharing
   * and options (disposition in the top byte, create options below). */
  unsigned int access;
  unsigned int sharing;
  unsigned int options;
  /* Request: control code, input and output sizes, FNV-1a of the input bytes, and the first four
   * bytes of the output buffer as they arrived (the caller's preset). */
  unsigned int code;
  unsigned int inputBytes;
  unsigned int outputBytes;
  unsigned int inputHash;
  unsigned int outputPreset;
} TdEvent;
#define TD_NOT_CARRIED 0xFFFFFFFFu

#define TD_LOG_EVENTS 64
typedef struct TdLog {
  unsigned int count; /* events in `events` */
  unsigned int lost;  /* events that found the log full */
  TdEvent events[TD_LOG_EVENTS];
} TdLog;

typedef struct TdState {
  unsigned int opensNow;    /* creates minus closes on "\\.\WINDRVR6" */
  unsigned int linkPresent; /* 1 while "\DosDevices\WINDRVR6" exists */
} TdState;

/* FNV-1a, 32 bits: how the driver fingerprints the input it received. */
static inline unsigned int TdHash(const unsigned char* bytes, unsigned int size) {
  unsigned int hash = 2166136261u;
  for (unsigned int i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 16777619u;
  return hash;
}

#endif /* ZARERERA_TESTS_WIN32_TEST_DRIVER_PROTOCOL_H */
