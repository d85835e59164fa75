#include "session/BusMonitor.h"

#include <algorithm>
#include <cctype>

#include "modbus/ModbusFrame.h"

namespace vantrel {
namespace {

constexpr std::size_t kMaxRtuFrame = 256;  // slave id, 253 PDU bytes, CRC

bool CrcMatches(const std::uint8_t* bytes, int size) {
  const std::uint16_t crc = Crc16(bytes, static_cast<std::uint16_t>(size - 2));
  return bytes[size - 2] == (crc >> 8) && bytes[size - 1] == (crc & 0xFF);
}

}  // namespace

int BitsPerChar(int dataBits, char parity, int stopBits) {
  const bool none = std::toupper(static_cast<unsigned char>(parity)) == 'N';
  return 1 + dataBits + (none ? 0 : 1) + (stopBits == 1 ? 1 : 2);
}

BusMonitor::BusMonitor(const MonitorOptions& options) : options_(options) {
  charMs_ = options_.baudRate > 0 ? 1000.0 * options_.bitsPerChar / options_.baudRate : 0;
}

bool BusMonitor::ExpectsReply(std::uint8_t slaveId, std::uint8_t function) const {
  return pending_.open && pending_.slaveId == slaveId && pending_.function == (function & 0x7F);
}

void BusMonitor::Feed(const std::uint8_t* bytes, std::size_t count, double arrivalMs,
                      std::vector<MonitorFrame>& frames) {
  if (count == 0) return;
  Expire(arrivalMs - (count - 1) * charMs_);
  for (std::size_t i = 0; i < count; ++i) {
    double t = arrivalMs - static_cast<double>(count - 1 - i) * charMs_;
    if (t < lastByteMs_) t = lastByteMs_;
    lastByteMs_ = t;
    if (options_.mode == ModbusMode::Ascii) {
      FeedAscii(bytes[i], t, frames);
    } else {
      buf_.push_back(bytes[i]);
      times_.push_back(t);
    }
  }
  if (options_.mode != ModbusMode::Ascii) ParseRtu(false, frames);
}

void BusMonitor::Tick(double nowMs, std::vector<MonitorFrame>& frames) {
  Expire(nowMs);
  // Bytes that have waited a whole reply window for the rest of a frame will not get it: a
  // frame stops for 1.5 characters at most (the split replies of a failing device, for
  // longer, still fit in the window).
  const bool quiet = lastByteMs_ >= 0 && nowMs - lastByteMs_ > options_.replyWindowMs;
  if (quiet) Finish(nowMs, frames);
}

void BusMonitor::Finish(double nowMs, std::vector<MonitorFrame>& frames) {
  Expire(nowMs);
  if (options_.mode == ModbusMode::Ascii) {
    if (inAscii_) {
      text_.insert(text_.begin(), ':');
      AddNoise(text_.data(), text_.size(), asciiStartMs_, lastByteMs_);
      text_.clear();
      inAscii_ = false;
    }
  } else {
    ParseRtu(true, frames);
  }
  FlushNoise(frames);
}

void BusMonitor::Expire(double nowMs) {
  if (pending_.open && nowMs - pending_.endMs > options_.replyWindowMs) {
    ++figures_[pending_.slaveId].unanswered;
    pending_.open = false;
  }
}

// --- RTU ---------------------------------------------------------------------------------

BusMonitor::Found BusMonitor::TryRtu(std::size_t at, bool final) const {
  const std::size_t avail = buf_.size() - at;
  if (avail < 2) return {final ? Try::Fail : Try::Wait};
  const std::uint8_t* b = buf_.data() + at;
  const bool expected = ExpectsReply(b[0], b[1]);
  FrameForm order[2] = {FrameForm::Request, FrameForm::Reply};
  if (expected) std::swap(order[0], order[1]);
  bool wait = false;
  int badCheck = 0;
  for (FrameForm form : order) {
    if (b[0] == 0 && form == FrameForm::Reply) continue;  // nobody answers a broadcast
    const int pdu = PduLength(form, b + 1, static_cast<int>(avail - 1));
    if (pdu < 0) continue;
    if (pdu == 0 || avail < static_cast<std::size_t>(pdu) + 3) {
      // The form tried first (the one the pairing expects; else a request) is given its
      // bytes before the other is taken: the first bytes of a long frame pass for a short
      // one of the other form by chance (one in 65536).
      if (!final && form == order[0]) return {Try::Wait};
      wait = true;
      continue;
    }
    const int size = pdu + 3;
    if (CrcMatches(b, size)) return {Try::Frame, size, form};
    if (form == FrameForm::Reply && expected) badCheck = size;
  }
  if (wait && !final) return {Try::Wait};
  if (badCheck) return {Try::BadCheck, badCheck, FrameForm::Reply};
  return {Try::Fail};
}

std::size_t BusMonitor::FindInnerFrame(std::size_t at, std::size_t limit, bool afterSilenceOnly) const {
  limit = std::min(limit, buf_.size());
  const double silence = SilenceMs();
  // A start after a silence first: that is where a device begins after noise.
  for (int pass = 0; pass < (afterSilenceOnly ? 1 : 2); ++pass) {
    for (std::size_t q = at; q < limit; ++q) {
      const bool afterSilence = silence > 0 && times_[q] - times_[q - 1] >= silence;
      if (pass == 0 && !afterSilence) continue;
      if (TryRtu(q, false).result == Try::Frame) return q;
    }
  }
  return 0;
}

void BusMonitor::ParseRtu(bool final, std::vector<MonitorFrame>& frames) {
  while (head_ < buf_.size()) {
    const Found found = TryRtu(head_, final);
    if (found.result == Try::Frame) {
      FlushNoise(frames);
      MonitorFrame frame;
      frame.bytes.assign(buf_.begin() + head_, buf_.begin() + head_ + found.size);
      frame.timeMs = times_[head_];
      frame.endMs = times_[head_ + found.size - 1];
      head_ += found.size;
      Emit(std::move(frame), found.form, 2, frames);
      continue;
    }
    if (found.result == Try::Wait) {
      // The bytes so far may be the start of a frame, or noise in front of one that has
      // already come whole: a start after a silence that completes with a right CRC settles
      // it. Anywhere else, the data of a long frame would now and then pass for a short one
      // (one in 65536 positions has a matching CRC); without a silence (a pseudo-terminal)
      // the bytes wait for the frame's length or the quiet that ends it. A reply expected
      // from this device is given its time.
      if (ExpectsReply(buf_[head_], buf_[head_ + 1 < buf_.size() ? head_ + 1 : head_])) break;
      const std::size_t q = FindInnerFrame(head_ + 1, buf_.size(), true);
      if (q == 0) break;
      AddNoise(buf_.data() + head_, q - head_, times_[head_], times_[q - 1]);
      head_ = q;
      continue;
    }
    if (found.result == Try::BadCheck) {
      const std::size_t q = FindInnerFrame(head_ + 1, head_ + found.size, false);
      if (q == 0) {
        FlushNoise(frames);
        EmitBadCheck({buf_.begin() + head_, buf_.begin() + head_ + found.size}, times_[head_],
                     times_[head_ + found.size - 1], frames);
        head_ += found.size;
        continue;
      }
      AddNoise(buf_.data() + head_, q - head_, times_[head_], times_[q - 1]);
      head_ = q;
      continue;
    }
    AddNoise(buf_.data() + head_, 1, times_[head_], times_[head_]);
    ++head_;
  }
  Compact();
}

void BusMonitor::Compact() {
  if (head_ == buf_.size()) {
    buf_.clear();
    times_.clear();
    head_ = 0;
  } else if (head_ > 4 * kMaxRtuFrame) {
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(head_));
    times_.erase(times_.begin(), times_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
}

// --- ASCII -------------------------------------------------------------------------------

void BusMonitor::FeedAscii(std::uint8_t byte, double timeMs, std::vector<MonitorFrame>& frames) {
  if (byte == ':') {
    if (inAscii_) {  // a new frame begins: what came since the last ':' makes none
      text_.insert(text_.begin(), ':');
      AddNoise(text_.data(), text_.size(), asciiStartMs_, timeMs);
    }
    inAscii_ = true;
    text_.clear();
    asciiStartMs_ = timeMs;
    return;
  }
  if (!inAscii_) {
    AddNoise(&byte, 1, timeMs, timeMs);
    return;
  }
  text_.push_back(byte);
  if (byte == '\n' && text_.size() >= 2 && text_[text_.size() - 2] == '\r') {
    lastByteMs_ = timeMs;
    EndAsciiFrame(frames);
  } else if (text_.size() > static_cast<std::size_t>(kMaxAsciiFrame)) {
    text_.insert(text_.begin(), ':');
    AddNoise(text_.data(), text_.size(), asciiStartMs_, timeMs);
    text_.clear();
    inAscii_ = false;
  }
}

void BusMonitor::EndAsciiFrame(std::vector<MonitorFrame>& frames) {
  inAscii_ = false;
  std::uint8_t bytes[kMaxAsciiFrame];
  const int n = DecodeAsciiHex(text_.data(), static_cast<int>(text_.size()) - 2, bytes, sizeof bytes);
  if (n < 3) {
    text_.insert(text_.begin(), ':');
    AddNoise(text_.data(), text_.size(), asciiStartMs_, lastByteMs_);
    text_.clear();
    return;
  }
  text_.clear();
  if (Lrc(bytes, n - 1) != bytes[n - 1]) {
    FlushNoise(frames);
    EmitBadCheck({bytes, bytes + n}, asciiStartMs_, lastByteMs_, frames);
    return;
  }
  // The length tells the form where the two differ; the pairing where they do not, or
  // where the function is one whose lengths are not known here.
  const int pdu = n - 2;
  const bool expected = ExpectsReply(bytes[0], bytes[1]);
  const bool request = PduLength(FrameForm::Request, bytes + 1, pdu) == pdu && bytes[0] != 0;
  const bool reply = PduLength(FrameForm::Reply, bytes + 1, pdu) == pdu && bytes[0] != 0;
  FrameForm form = expected ? FrameForm::Reply : FrameForm::Request;
  if (request != reply) form = request ? FrameForm::Request : FrameForm::Reply;
  if (bytes[1] & 0x80) form = FrameForm::Reply;
  FlushNoise(frames);
  MonitorFrame frame;
  frame.bytes.assign(bytes, bytes + n);
  frame.timeMs = asciiStartMs_;
  frame.endMs = lastByteMs_;
  const bool known = request || reply || bytes[0] == 0;
  Emit(std::move(frame), form, known ? 1 : -1, frames);
}

// --- frames ------------------------------------------------------------------------------

void BusMonitor::AddNoise(const std::uint8_t* bytes, std::size_t count, double startMs, double endMs) {
  if (noise_.empty()) noiseStartMs_ = startMs;
  noise_.insert(noise_.end(), bytes, bytes + count);
  noiseEndMs_ = endMs;
  noiseBytes_ += static_cast<long>(count);
}

void BusMonitor::FlushNoise(std::vector<MonitorFrame>& frames) {
  if (noise_.empty()) return;
  MonitorFrame frame;
  frame.kind = FrameKind::Noise;
  frame.timeMs = noiseStartMs_;
  frame.endMs = noiseEndMs_;
  frame.gapMs = lastEndMs_ < 0 ? -1 : frame.timeMs - lastEndMs_;
  frame.bytes = std::move(noise_);
  frame.detail = std::to_string(frame.bytes.size()) + (frame.bytes.size() == 1 ? " byte" : " bytes") + " that make no frame";
  noise_.clear();
  lastEndMs_ = frame.endMs;
  frames.push_back(std::move(frame));
}

void BusMonitor::EmitBadCheck(std::vector<std::uint8_t> bytes, double startMs, double endMs,
                              std::vector<MonitorFrame>& frames) {
  MonitorFrame frame;
  frame.kind = FrameKind::Noise;
  frame.crcError = true;
  frame.timeMs = startMs;
  frame.endMs = endMs;
  frame.gapMs = lastEndMs_ < 0 ? -1 : startMs - lastEndMs_;
  frame.bytes = std::move(bytes);
  frame.checkSize = options_.mode == ModbusMode::Ascii ? 1 : 2;
  frame.slaveId = frame.bytes[0];
  frame.function = frame.bytes[1];
  frame.detail = std::string(options_.mode == ModbusMode::Ascii ? "LRC" : "CRC") + " error in a reply of " +
                 std::to_string(frame.bytes.size()) + " bytes";
  noiseBytes_ += static_cast<long>(frame.bytes.size());
  ++figures_[frame.slaveId].crcErrors;
  // The device did answer: the request is not unanswered.
  if (ExpectsReply(frame.slaveId, frame.function)) pending_.open = false;
  lastEndMs_ = endMs;
  frames.push_back(std::move(frame));
}

void BusMonitor::Emit(MonitorFrame frame, FrameForm form, int checkSize, std::vector<MonitorFrame>& frames) {
  const bool decode = checkSize > 0;
  frame.checkSize = decode ? checkSize : 1;
  frame.slaveId = frame.bytes[0];
  frame.function = frame.bytes[1];
  frame.gapMs = lastEndMs_ < 0 ? -1 : frame.timeMs - lastEndMs_;
  lastEndMs_ = frame.endMs;
  ++frameCount_;
  Expire(frame.timeMs);
  SlaveFigures& figures = figures_[frame.slaveId];
  int readQuantity = -1;
  if (form == FrameForm::Request) {
    frame.kind = FrameKind::Request;
    frame.broadcast = frame.slaveId == 0;
    ++figures.requests;
    if (pending_.open) {  // the master has moved on
      ++figures_[pending_.slaveId].unanswered;
      pending_.open = false;
    }
    frame.exchange = ++exchanges_;
    if (!frame.broadcast) {
      pending_.open = true;
      pending_.slaveId = frame.slaveId;
      pending_.function = frame.function;
      pending_.endMs = frame.endMs;
      pending_.exchange = frame.exchange;
      pending_.readQuantity = -1;
      if ((frame.function == 1 || frame.function == 2) && frame.bytes.size() >= 6) {
        pending_.readQuantity = (frame.bytes[4] << 8) | frame.bytes[5];
      }
    }
  } else {
    const bool exception = (frame.function & 0x80) != 0;
    frame.kind = exception ? FrameKind::Exception : FrameKind::Reply;
    ++(exception ? figures.exceptions : figures.replies);
    if (ExpectsReply(frame.slaveId, frame.function)) {
      frame.exchange = pending_.exchange;
      frame.turnaroundMs = std::max(0.0, frame.timeMs - pending_.endMs);
      readQuantity = pending_.readQuantity;
      pending_.open = false;
      const double t = frame.turnaroundMs;
      figures.minTurnaroundMs = figures.turnarounds ? std::min(figures.minTurnaroundMs, t) : t;
      figures.maxTurnaroundMs = figures.turnarounds ? std::max(figures.maxTurnaroundMs, t) : t;
      figures.sumTurnaroundMs += t;
      ++figures.turnarounds;
    }
  }
  if (decode) {
    DecodeFrame(frame, readQuantity);
  } else {
    frame.detail = "data of a function not decoded here";
  }
  frames.push_back(std::move(frame));
}

}  // namespace vantrel
