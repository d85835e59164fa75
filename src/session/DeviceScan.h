// Finding devices: which slave ids answer on a line, and at which line settings. The scan's
// course (ids in turn, for each set of line settings of a sweep; the device identification
// of each device found), what counts as found, and the texts of the finds. Plain C++: the
// window and vantrel-poll send the requests and report how each ended.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modbus/DeviceIdentification.h"

namespace vantrel {

// One set of serial line settings of a sweep.
struct LineSettings {
  int baud = 9600;
  char parity = 'N';
  int dataBits = 8;
  int stopBits = 1;
  bool operator==(const LineSettings&) const = default;
};
// "19200 8E1".
std::string LineSettingsText(const LineSettings& line);

// Every combination of the baud rates, parities (letters of "NEO") and stop bits given, the
// slowest first (a device is likelier at a common low speed, and a sweep shows progress
// through the list in the order the user reads it).
std::vector<LineSettings> SweepLines(std::vector<int> bauds, const std::string& parities,
                                     const std::vector<int>& stopBits, int dataBits);

inline constexpr int kMinScanTimeoutMs = 10;
inline constexpr int kMaxScanTimeoutMs = 5000;

struct ScanOptions {
  int firstId = 1;
  int lastId = 247;
  int function = 3;  // the read sent to each id: function, offset (from 1), length
  int offset = 1;
  int length = 1;
  int timeoutMs = 100;  // per request
  // A sweep's line settings, tried in turn with the whole id range; empty: the connection's
  // own (and on a network link there is nothing to sweep).
  std::vector<LineSettings> lines;
  bool identify = true;  // ask each device found for its identification (43/14)
};
// Why options cannot be scanned ("" when they can): ids outside 1 to 247 or first after
// last, a time-out outside 10 ms to 5 s, a function other than 01 to 04, a request that
// does not fit a frame.
std::string CheckScanOptions(const ScanOptions& options);

// How one request of the scan ended, as the caller saw it.
enum class ProbeEnd {
  Reply,      // a good reply
  Exception,  // an exception reply: a device is there
  BadCheck,   // a frame from the id asked that failed its CRC or LRC
  Garbage,    // bytes came, but no frame that answers (another id, noise, a broken frame)
  Silence,    // nothing at all before the time-out
};

enum class FindKind {
  Device,          // answered the read
  Exception,       // answered with an exception: a device is there
  SomethingThere,  // bytes that fail their check or make no frame: probably other line settings
};

struct ScanFind {
  int id = 0;
  int line = -1;  // index into ScanOptions::lines, -1 when there is no sweep
  FindKind kind = FindKind::Device;
  std::string what;            // the value read, the exception's name, or what came
  std::string identification;  // the device's objects as one line; see kNoIdentification
  std::vector<DeviceIdObject> objects;
  bool identified = false;     // an identification was asked for and the answer taken
};

// The identification texts of a device that has none: it answered with an exception (most
// often 01, illegal function), or not at all.
inline constexpr char kNoIdentification[] = "no device identification";

class DeviceScan {
 public:
  explicit DeviceScan(ScanOptions options);

  // What to send next; when Done(), nothing. line is the index into options().lines whose
  // settings the link must have (-1: as it is); when it differs from the last request's, the
  // caller changes the line settings first.
  struct Step {
    int id = 0;
    int line = -1;
    bool identify = false;           // a device identification request (43/14) for id
    std::vector<std::uint8_t> pdu;   // the request's function code and data
  };
  Step Next() const { return step_; }
  bool Done() const { return done_; }

  // How the request of Next() ended. For a reply to the read, what is its first value as
  // the caller shows it ("1234"); for an exception, the code; for a reply to an
  // identification request, the reply's PDU.
  void Record(ProbeEnd end, const std::string& what, const std::uint8_t* pdu = nullptr, int pduSize = 0);
  // Stops the scan where it is: the finds so far stand.
  void Cancel();

  const ScanOptions& options() const { return options_; }
  const std::vector<ScanFind>& finds() const { return finds_; }
  // Finds that are devices (a reply or an exception), not "something is there".
  int DevicesFound() const;
  // Reads sent and reads in all (identification requests are not counted).
  int ProbesDone() const { return probes_done_; }
  int ProbesTotal() const { return probes_total_; }
  // The time the reads still to come take, from the mean time of those done so far (before
  // the first: the time-out each).
  long long MsLeft(long long msSoFar) const;

  // "Slave 17 at 19200 8E1: holding register 40001 = 1234" and its kind, for a row or a
  // line of vantrel-poll; mode names the link for a network or a scan without a sweep.
  std::string FindText(const ScanFind& find, const std::string& where) const;
  // The same, whole, for a tooltip: the identification's objects each on a line of their
  // own after it ("VendorName: ACME").
  std::string FindDetails(const ScanFind& find, const std::string& where) const;
  // What "Device identification" shows of a scan of one id: its objects, one a line, or
  // that it has none, or that the device did not answer.
  std::string IdentificationText() const;

 private:
  void Advance();
  void Prepare();

  ScanOptions options_;
  Step step_;
  bool done_ = false;
  int probes_done_ = 0;
  int probes_total_ = 0;
  int line_ = 0;  // the sweep's index (0 when there is no sweep)
  int id_ = 0;
  DeviceIdReader reader_;  // of the last device found, while it is being identified
  std::vector<ScanFind> finds_;
};

// "holding register 40001" and friends: the item a read of function at offset starts with.
std::string ScanItemText(int function, int offset);
// The kinds as rows show them: "device", "exception", "something is there".
const char* FindKindText(FindKind kind);

}  // namespace vantrel
