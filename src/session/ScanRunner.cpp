#include "session/ScanRunner.h"

#include <algorithm>
#include <cstdio>

#include "modbus/ExceptionText.h"
#include "modbus/ModbusFrame.h"
#include "modbus/ModbusMaster.h"

namespace vantrel {
namespace {

// The first value of a read's reply, as the table's first row shows it.
std::string FirstValue(const ModbusMaster& m) {
  if (m.byte_count == 0) return "";
  if (m.response_function <= 2) return std::to_string(m.data[0] & 1);
  if (m.byte_count < 2) return "";
  return std::to_string(m.data[0] << 8 | m.data[1]);
}

// "0x02 - ILLEGAL DATA ADDRESS": the first line of the exception's explanation.
std::string ExceptionName(const ModbusMaster& m) {
  std::string text;
  ExplainException(m.exception_function, m.exception_code, text);
  return text.substr(0, text.find('\n'));
}

}  // namespace

ScanRunner::ScanRunner(DeviceScan& scan, ModbusMaster& master, std::function<bool(const LineSettings&)> setLine)
    : scan_(scan), master_(master), setLine_(std::move(setLine)) {}

ProbeEnd ScanRunner::Classify(int mbResult) {
  switch (mbResult) {
    case MB_RESPONCE_OK: return ProbeEnd::Reply;
    case MB_RESPONCE_EXCEPTION: return ProbeEnd::Exception;
    case MB_RESPONCE_INVALID_CRC:
    case MB_RESPONCE_INVALID_LRC: return ProbeEnd::BadCheck;
    default: return ProbeEnd::Garbage;
  }
}

int ScanRunner::MaxFrameMs() const {
  return static_cast<int>(master_.link().ByteTimeMs() * static_cast<double>(kFrameCapacity) + 0.5);
}

long long ScanRunner::ElapsedMs() const {
  return started_ ? std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - startedAt_).count() : 0;
}

void ScanRunner::Send() {
  const DeviceScan::Step step = scan_.Next();
  if (step.line >= 0 && step.line != line_) {
    const LineSettings& line = scan_.options().lines[static_cast<std::size_t>(step.line)];
    if (!setLine_ || !setLine_(line)) {
      failure_ = "The line could not be set to " + LineSettingsText(line);
      scan_.Cancel();
      return;
    }
    line_ = step.line;
  }
  std::uint8_t frame[kFrameCapacity];
  frame[0] = static_cast<std::uint8_t>(step.id);
  std::copy(step.pdu.begin(), step.pdu.end(), frame + 1);
  const int size = 1 + static_cast<int>(step.pdu.size());
  const std::uint16_t crc = Crc16(frame, static_cast<std::uint16_t>(size));
  frame[size] = static_cast<std::uint8_t>(crc >> 8);
  frame[size + 1] = static_cast<std::uint8_t>(crc);
  if (!master_.SendRequest(frame, size + 2) || master_.link().DeviceLost()) {
    failure_ = "The request could not be sent: the link is not open, or its device has gone away";
    scan_.Cancel();
    return;
  }
  // The time-out runs from the request's last byte on the line, not from when it was handed
  // to the driver: at 9600 baud its eight bytes take 8.3 ms of a 100 ms time-out.
  const int onLine = master_.Mode() == ModbusMode::Ascii ? 1 + 2 * (size + 1) + 2 : size + 2;  // ':'..LRC CR LF
  const auto wire = std::chrono::microseconds(static_cast<long long>(1000 * master_.link().ByteTimeMs() * onLine));
  sentAt_ = Clock::now() + wire;
  waiting_ = true;
  lastBytes_ = 0;
}

void ScanRunner::End(ProbeEnd end) {
  waiting_ = false;
  std::string what;
  if (end == ProbeEnd::Reply) {
    what = FirstValue(master_);
  } else if (end == ProbeEnd::Exception) {
    what = ExceptionName(master_);
  } else if (end != ProbeEnd::Silence) {
    what = master_.ReceivedText();
  }
  const bool identify = scan_.Next().identify;
  scan_.Record(end, what, identify ? master_.ResponsePdu() : nullptr, identify ? master_.ResponsePduSize() : 0);
}

int ScanRunner::Step() {
  if (!started_) {
    started_ = true;
    startedAt_ = Clock::now();
  }
  for (;;) {
    if (scan_.Done()) return -1;
    if (!waiting_) {
      Send();
      if (!waiting_) return -1;
    }
    const auto now = Clock::now();
    if (settling_) {
      if (const int wait = Settle(now); wait > 0) return wait;
      settling_ = false;
      End(settled_);
      continue;
    }
    const int result = master_.ReadResponse();
    if (!ReplyPending(result)) {
      const ProbeEnd end = Classify(result);
      if (end == ProbeEnd::Garbage || end == ProbeEnd::BadCheck) {
        StartSettling(end, now);
      } else {
        End(end);
      }
      continue;
    }
    if (master_.link().DeviceLost()) {
      failure_ = "The link has gone away";
      scan_.Cancel();
      return -1;
    }
    if (master_.UnexplainedBytes() != lastBytes_) {
      lastBytes_ = master_.UnexplainedBytes();
      lastByteAt_ = now;
    }
    const int timeout = scan_.options().timeoutMs;
    const long long waited = std::chrono::duration_cast<std::chrono::milliseconds>(now - sentAt_).count();
    if (waited < timeout) return static_cast<int>(timeout - waited);
    // A reply still coming in is read on while its bytes keep coming (a long identification
    // reply takes 130 ms at 19200 baud), up to the longest frame's time.
    const long long quiet = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastByteAt_).count();
    if (lastBytes_ > 0 && quiet < SettleMs() && waited < timeout + MaxFrameMs() + SettleMs()) {
      return static_cast<int>(SettleMs() - quiet);
    }
    master_.AbandonExchange(0);
    // Bytes that came and made no answer (not frames of other devices) say that something
    // is there. Silence costs no wait.
    if (lastBytes_ > 0) {
      StartSettling(ProbeEnd::Garbage, lastByteAt_);
    } else {
      End(ProbeEnd::Silence);
    }
  }
}

void ScanRunner::StartSettling(ProbeEnd end, Clock::time_point lastByte) {
  settling_ = true;
  settled_ = end;
  lastByteAt_ = lastByte;
  settleUntil_ = Clock::now() + std::chrono::milliseconds(SettleMs() + MaxFrameMs());
}

int ScanRunner::SettleMs() const { return std::max(master_.link().QuietGapMs(), scan_.options().timeoutMs); }

int ScanRunner::Settle(Clock::time_point now) {
  // What still comes of a broken or slow reply is dropped until the line pauses for as long
  // as the time-out, up to the longest frame's time: it must not be taken for the next id's.
  std::uint8_t scratch[ModbusMaster::kReadChunk];
  while (master_.link().Read(scratch, sizeof scratch) > 0) lastByteAt_ = now;
  const long long quiet = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastByteAt_).count();
  if (quiet >= SettleMs() || now >= settleUntil_) return 0;
  return static_cast<int>(SettleMs() - quiet);
}

}  // namespace vantrel
