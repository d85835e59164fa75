// The serial link on Windows: the port opened for overlapped I/O, so that a wait for bytes
// can end at a time-out; reads take only what the driver has queued, writes wait a bounded
// time. Windows errors become the errno values that the Linux port gives, so that every
// caller explains a failure the same way.
#include "serial/SerialPort.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "serial/LineSettings.h"

namespace vantrel {
namespace {

constexpr DWORD kByteWaitMs = 1000;   // longest wait for room on the line
constexpr DWORD kWriteTotalMs = 5000;  // longest time one Write may take
// A wait for bytes looks at the queue again at least this often: a byte that came between
// the look and the start of the wait may not count as an arrival to the driver.
constexpr DWORD kWaitSliceMs = 50;

HANDLE PortOf(void* handle) { return static_cast<HANDLE>(handle); }

// The errno that a Windows error of an open port stands for. What is not a bad value or a
// time-out is the device gone: a USB adapter pulled makes every call fail with one of
// ERROR_ACCESS_DENIED, ERROR_BAD_COMMAND, ERROR_GEN_FAILURE, ERROR_DEVICE_REMOVED, ...
int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
      return EINVAL;
    case ERROR_SEM_TIMEOUT:
    case WAIT_TIMEOUT:
      return ETIMEDOUT;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_REMOVED:
      return ENODEV;
    default:
      return EIO;
  }
}

// The errno of a failed open: a port that another program holds is refused with
// ERROR_ACCESS_DENIED, which is "in use" here.
int OpenErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return EBUSY;
    default:
      return ErrnoOf(error);
  }
}

bool IsGoneError(int err) { return err == EIO || err == ENODEV || err == EBADF; }

// Waits at most waitMs for an overlapped operation that started (started: it ended at once)
// and takes its outcome: true with done set, or false with err set. One that outlasts the
// wait is cancelled first (err ETIMEDOUT); the OVERLAPPED is free again either way.
bool Complete(HANDLE port, OVERLAPPED& ov, BOOL started, DWORD waitMs, DWORD& done, int& err) {
  done = 0;
  if (!started) {
    const DWORD e = GetLastError();
    if (e != ERROR_IO_PENDING) {
      err = ErrnoOf(e);
      return false;
    }
    if (WaitForSingleObject(ov.hEvent, waitMs) != WAIT_OBJECT_0) {
      CancelIo(port);
      GetOverlappedResult(port, &ov, &done, TRUE);  // until the cancel has ended it
      err = ETIMEDOUT;
      return false;
    }
  }
  if (!GetOverlappedResult(port, &ov, &done, TRUE)) {
    err = ErrnoOf(GetLastError());
    return false;
  }
  return true;
}

}  // namespace

bool ComputeLineSettings(DCB& dcb, int baudRate, char parity, int dataBits, int stopBits,
                         bool listenOnly) {
  if (dataBits < 5 || dataBits > 8) {
    errno = EINVAL;
    return false;
  }
  BYTE parityCode = NOPARITY;
  switch (std::toupper(static_cast<unsigned char>(parity))) {
    case 'N': parityCode = NOPARITY; break;
    case 'O': parityCode = ODDPARITY; break;
    case 'E': parityCode = EVENPARITY; break;
    case 'M': parityCode = MARKPARITY; break;   // parity bit always 1
    case 'S': parityCode = SPACEPARITY; break;  // parity bit always 0
    default: errno = EINVAL; return false;
  }
  if (stopBits != 1 && stopBits != 2 && stopBits != 3) {
    errno = EINVAL;
    return false;
  }
  if (baudRate <= 0) {
    errno = EINVAL;
    return false;
  }
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = static_cast<DWORD>(baudRate);
  dcb.fBinary = TRUE;
  dcb.fParity = parityCode != NOPARITY;  // check the parity of what arrives
  // No flow control of either kind, and no byte changed or dropped on the way.
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;  // a framing error must not stop the port until it is cleared
  dcb.fDtrControl = listenOnly ? DTR_CONTROL_DISABLE : DTR_CONTROL_ENABLE;
  dcb.fRtsControl = listenOnly ? RTS_CONTROL_DISABLE : RTS_CONTROL_ENABLE;
  dcb.ByteSize = static_cast<BYTE>(dataBits);
  dcb.Parity = parityCode;
  // One and a half exists only with 5 data bits; drivers refuse it otherwise.
  if (stopBits == 1) {
    dcb.StopBits = ONESTOPBIT;
  } else {
    dcb.StopBits = (stopBits == 3 && dataBits == 5) ? ONE5STOPBITS : TWOSTOPBITS;
  }
  return true;
}

void SerialPort::NoteFailure(int err) {
  last_error_ = err;
  if (IsGoneError(err)) device_lost_ = true;
}

int SerialPort::OpenPath(const std::string& device, int baudRate, char parity, int dataBits,
                         int stopBits) {
  device_ = device;
  last_error_ = 0;
  device_lost_ = false;
  // Share mode 0: nobody else may open the port while it is ours.
  HANDLE port = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    last_error_ = OpenErrnoOf(GetLastError());
    return 0;
  }
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  auto fail = [&](int err) {
    last_error_ = err;
    if (event != nullptr) CloseHandle(event);
    CloseHandle(port);
    return 0;
  };
  if (event == nullptr) return fail(ErrnoOf(GetLastError()));

  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port, &dcb)) return fail(ErrnoOf(GetLastError()));
  if (!ComputeLineSettings(dcb, baudRate, parity, dataBits, stopBits, listen_only_)) return fail(errno);
  if (!SetCommState(port, &dcb)) return fail(ErrnoOf(GetLastError()));
  // A driver that cannot make the rate may pick another one; more than 3 % off and the
  // characters no longer frame, so refuse it.
  DCB check{};
  check.DCBlength = sizeof check;
  if (!GetCommState(port, &check)) return fail(ErrnoOf(GetLastError()));
  const long got = static_cast<long>(check.BaudRate);
  if (got > 0 && std::labs(got - baudRate) * 100 > 3L * baudRate) return fail(EINVAL);

  SetTiming(baudRate, parity, dataBits, stopBits);
  // Reads return at once with what is queued; a write may take a second for room and the
  // time its bytes take on the wire.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = static_cast<DWORD>(std::ceil(byte_time_ms_));
  timeouts.WriteTotalTimeoutConstant = kByteWaitMs;
  if (!SetCommTimeouts(port, &timeouts)) return fail(ErrnoOf(GetLastError()));
  if (!SetCommMask(port, EV_RXCHAR)) return fail(ErrnoOf(GetLastError()));
  PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);

  handle_ = port;
  event_ = event;
  is_open = 1;
  return 1;
}

int SerialPort::Handle() const { return -1; }

int SerialPort::Close() {
  if (!is_open || handle_ == nullptr) return 1;
  CloseHandle(PortOf(handle_));
  CloseHandle(PortOf(event_));
  handle_ = nullptr;
  event_ = nullptr;
  is_open = 0;
  return 1;
}

int SerialPort::SetRs485(bool on) {
  if (!is_open || handle_ == nullptr || listen_only_) return 0;
  HANDLE port = PortOf(handle_);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port, &dcb)) {
    last_error_ = ErrnoOf(GetLastError());
    return 0;
  }
  const DWORD wanted = on ? RTS_CONTROL_TOGGLE : RTS_CONTROL_ENABLE;
  dcb.fRtsControl = wanted;
  // A driver without the toggle refuses it (ERROR_INVALID_PARAMETER: EINVAL).
  if (!SetCommState(port, &dcb)) {
    last_error_ = ErrnoOf(GetLastError());
    return 0;
  }
  // A driver may take the request and keep its own mode; only what it reports counts.
  DCB now{};
  now.DCBlength = sizeof now;
  if (!GetCommState(port, &now)) {
    last_error_ = ErrnoOf(GetLastError());
    return 0;
  }
  if (now.fRtsControl != wanted) {
    last_error_ = EOPNOTSUPP;
    return 0;
  }
  return 1;
}

int SerialPort::Write(const std::uint8_t* bytes, int count) {
  if (!is_open || handle_ == nullptr || listen_only_) return 0;
  if (count <= 0 || bytes == nullptr) return 0;
  HANDLE port = PortOf(handle_);
  OVERLAPPED ov{};
  ov.hEvent = PortOf(event_);
  ResetEvent(ov.hEvent);
  DWORD done = 0;
  int err = 0;
  const BOOL started = WriteFile(port, bytes, static_cast<DWORD>(count), nullptr, &ov);
  if (!Complete(port, ov, started, kWriteTotalMs, done, err)) {
    NoteFailure(err);
  } else if (done < static_cast<DWORD>(count)) {
    NoteFailure(ETIMEDOUT);  // the driver's time-out: the line takes nothing, the rest is dropped
  }
  return count;
}

int SerialPort::Read(std::uint8_t* buffer, int capacity) {
  if (!is_open || handle_ == nullptr || buffer == nullptr || capacity <= 0) return 0;
  HANDLE port = PortOf(handle_);
  COMSTAT status{};
  DWORD lineErrors = 0;  // parity, framing, overrun: cleared, as the Linux port drops them too
  if (!ClearCommError(port, &lineErrors, &status)) {
    NoteFailure(ErrnoOf(GetLastError()));
    return 0;
  }
  if (status.cbInQue == 0) return 0;
  OVERLAPPED ov{};
  ov.hEvent = PortOf(event_);
  ResetEvent(ov.hEvent);
  const DWORD want = std::min<DWORD>(status.cbInQue, static_cast<DWORD>(capacity));
  DWORD done = 0;
  int err = 0;
  const BOOL started = ReadFile(port, buffer, want, nullptr, &ov);
  // The read time-outs make it end at once; the wait only bounds a driver that does not.
  if (!Complete(port, ov, started, kByteWaitMs, done, err)) {
    if (err != ETIMEDOUT) NoteFailure(err);
  }
  return static_cast<int>(done);
}

int SerialPort::WaitReadable(int timeoutMs) {
  if (!is_open || handle_ == nullptr) return -1;
  HANDLE port = PortOf(handle_);
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max(timeoutMs, 0));
  for (;;) {
    COMSTAT status{};
    DWORD lineErrors = 0;
    if (!ClearCommError(port, &lineErrors, &status)) {
      NoteFailure(ErrnoOf(GetLastError()));
      return -1;
    }
    if (status.cbInQue > 0) return 1;
    const ULONGLONG now = GetTickCount64();
    if (timeoutMs >= 0 && now >= deadline) return 0;
    const DWORD slice = timeoutMs < 0 ? kWaitSliceMs
                                      : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kWaitSliceMs));
    OVERLAPPED ov{};
    ov.hEvent = PortOf(event_);
    ResetEvent(ov.hEvent);
    DWORD mask = 0;
    DWORD done = 0;
    int err = 0;
    const BOOL started = WaitCommEvent(port, &mask, &ov);
    if (!Complete(port, ov, started, slice, done, err) && err != ETIMEDOUT) {
      // A wait that the driver gives up (wine ends one so when bytes come) is no failure:
      // the queue, looked at again, tells, and a device gone fails that look.
      if (GetLastError() != ERROR_OPERATION_ABORTED) {
        NoteFailure(err);
        return -1;
      }
      Sleep(1);  // never a busy loop, should every wait end so at once
    }
  }
}

void SerialPort::DiscardInput() {
  if (is_open && handle_ != nullptr) PurgeComm(PortOf(handle_), PURGE_RXCLEAR);
}

}  // namespace vantrel
