// A serial line for three: joins a master's pseudo-terminal to a slave's, carrying the bytes
// as a wire at the baud rate would (one character time each, one direction at a time; each
// read passed on whole when its last byte has gone over), and copies both directions to a
// third pseudo-terminal where a bus monitor listens.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/Pty.h"

namespace vantrel::test {

class LineRelay {
 public:
  // The slave behind the device path slaveDevice (vantrel-slave's link), opened raw.
  LineRelay(const std::string& slaveDevice, int baud, int bitsPerChar = 10);
  // The slave on the test's end of a pseudo-terminal of the relay's own: slaveEnd(), for
  // LibmodbusSlave.
  LineRelay(int baud, int bitsPerChar = 10);
  ~LineRelay();
  LineRelay(const LineRelay&) = delete;
  LineRelay& operator=(const LineRelay&) = delete;

  bool ok() const { return slaveFd_ >= 0 && master_.master() >= 0 && monitor_.master() >= 0; }
  const std::string& masterPath() const { return master_.path(); }    // the master program opens this
  const std::string& monitorPath() const { return monitor_.path(); }  // the monitor opens this
  int slaveEnd() const { return slavePty_.master(); }
  // Every byte carried so far, in the order the wire carried them.
  std::vector<std::uint8_t> Carried();
  // Waits until nothing has been carried for quietMs (at most withinMs in all).
  bool WaitQuiet(int quietMs, int withinMs);

 private:
  void Start();
  void Loop();

  Pty master_;
  Pty monitor_;
  Pty slavePty_;
  int slaveFd_ = -1;
  // Held open so that the pseudo-terminals stay readable while no program has them.
  int holdMaster_ = -1;
  int holdMonitor_ = -1;
  long long charNs_;
  std::atomic<bool> stop_{false};
  std::atomic<long long> lastCarriedNs_{0};
  std::mutex lock_;
  std::vector<std::uint8_t> carried_;
  std::thread thread_;
};

}  // namespace vantrel::test
