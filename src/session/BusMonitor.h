// A passive monitor of a Modbus serial line: fed with the bytes a listen-only port reads and
// the time they arrived, it finds the frames (RTU by the length rules of each function code
// and the CRC; ASCII between ':' and CR LF with the LRC), tells requests from replies, pairs
// each reply with its request, decodes them (MonitorDecode.h) and keeps figures per slave
// id. It never transmits: the caller owns the port. Single-threaded, no clock of its own:
// every time is the caller's, in milliseconds, so that a window, the poller and the tests
// drive it alike.
//
// Usage: Feed each read with its arrival time, call Tick now and then while nothing comes
// (a request then counts as unanswered once its reply window has passed, and bytes that can
// no longer become a frame are reported as noise), and Finish at the end. Every call appends
// the frames it completed, in line order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "modbus/Framing.h"
#include "session/MonitorDecode.h"

namespace vantrel {

struct MonitorOptions {
  ModbusMode mode = ModbusMode::Rtu;  // Rtu or Ascii
  int baudRate = 9600;
  int bitsPerChar = 10;  // start bit, data bits, parity bit, stop bits
  // How long after a request's end its reply may start; later, the request is unanswered.
  double replyWindowMs = 1000;
};

// The start, data, parity and stop bits of one character.
int BitsPerChar(int dataBits, char parity, int stopBits);

struct SlaveFigures {
  long requests = 0;
  long replies = 0;     // normal replies
  long exceptions = 0;  // exception replies
  long crcErrors = 0;   // replies of the expected length whose CRC (LRC) fails
  long unanswered = 0;  // requests with no reply within the reply window (broadcasts excepted)
  long turnarounds = 0;  // paired replies and exceptions, over which the figures below run
  double minTurnaroundMs = 0;
  double maxTurnaroundMs = 0;
  double sumTurnaroundMs = 0;
  double AverageTurnaroundMs() const { return turnarounds ? sumTurnaroundMs / turnarounds : 0; }
};

class BusMonitor {
 public:
  explicit BusMonitor(const MonitorOptions& options = {});

  // count bytes, the last of which arrived at arrivalMs (the ones before it one character
  // time apart, as the line carried them, never before the previous read's).
  void Feed(const std::uint8_t* bytes, std::size_t count, double arrivalMs, std::vector<MonitorFrame>& frames);
  // Nothing arrived up to nowMs.
  void Tick(double nowMs, std::vector<MonitorFrame>& frames);
  // The end of the monitoring: bytes still waiting to complete a frame are noise. A request
  // whose reply window has not passed by nowMs is not counted as unanswered.
  void Finish(double nowMs, std::vector<MonitorFrame>& frames);

  // Per slave id, for the ids seen in frames (noise has none).
  const std::map<int, SlaveFigures>& Figures() const { return figures_; }
  long FrameCount() const { return frameCount_; }  // requests, replies and exceptions
  long NoiseBytes() const { return noiseBytes_; }
  // One character at the line's rate, and the silence of 3.5 of them that separates RTU
  // frames: used to prefer a frame start after a silence once bytes made no frame, never to
  // cut a frame by itself (a pseudo-terminal has no timing, an adapter blurs it).
  double CharTimeMs() const { return charMs_; }
  double SilenceMs() const { return 3.5 * charMs_; }
  const MonitorOptions& options() const { return options_; }

 private:
  enum class Try { Frame, Wait, Fail, BadCheck };
  struct Found {
    Try result = Try::Fail;
    int size = 0;
    FrameForm form = FrameForm::Request;
  };
  struct Pending {
    bool open = false;
    std::uint8_t slaveId = 0;
    std::uint8_t function = 0;
    int readQuantity = -1;
    double endMs = 0;
    std::uint32_t exchange = 0;
  };

  Found TryRtu(std::size_t at, bool final) const;
  void ParseRtu(bool final, std::vector<MonitorFrame>& frames);
  // A frame start from at to limit that completes with a right CRC: its position, or 0.
  // afterSilenceOnly: only where a silence of 3.5 characters came before it.
  std::size_t FindInnerFrame(std::size_t at, std::size_t limit, bool afterSilenceOnly) const;
  void FeedAscii(std::uint8_t byte, double timeMs, std::vector<MonitorFrame>& frames);
  void EndAsciiFrame(std::vector<MonitorFrame>& frames);
  bool ExpectsReply(std::uint8_t slaveId, std::uint8_t function) const;

  void AddNoise(const std::uint8_t* bytes, std::size_t count, double startMs, double endMs);
  void FlushNoise(std::vector<MonitorFrame>& frames);
  // Takes a checked frame: kind, pairing, figures, decoding.
  void Emit(MonitorFrame frame, FrameForm form, int checkSize, std::vector<MonitorFrame>& frames);
  // A reply of the expected length whose check fails.
  void EmitBadCheck(std::vector<std::uint8_t> bytes, double startMs, double endMs, std::vector<MonitorFrame>& frames);
  void Expire(double nowMs);
  void Compact();

  MonitorOptions options_;
  double charMs_ = 0;
  // RTU: the bytes not yet framed from head_ on, with each one's arrival.
  std::vector<std::uint8_t> buf_;
  std::vector<double> times_;
  std::size_t head_ = 0;
  double lastByteMs_ = -1;
  // ASCII: the characters of the frame being read after its ':'.
  bool inAscii_ = false;
  std::vector<std::uint8_t> text_;
  double asciiStartMs_ = 0;
  // Noise not yet reported.
  std::vector<std::uint8_t> noise_;
  double noiseStartMs_ = 0;
  double noiseEndMs_ = 0;

  Pending pending_;
  std::uint32_t exchanges_ = 0;
  double lastEndMs_ = -1;
  long frameCount_ = 0;
  long noiseBytes_ = 0;
  std::map<int, SlaveFigures> figures_;
};

}  // namespace vantrel
