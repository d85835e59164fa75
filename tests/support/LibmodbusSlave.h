// A slave written with libmodbus, so that code nobody here wrote checks our frames.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

struct _modbus;
struct _modbus_mapping_t;

namespace vantrel::test {

// A libmodbus server in its own thread, with 2000 coils and discrete inputs and 200 holding
// and input registers: coil i is on when i % 5 == 0, input i when i is odd, holding register
// i holds 0x1000 + i and input register i 0xF000 - i (i counted from 0). Anything beyond
// them is answered with exception 02, as libmodbus does. In RTU on the test's end of a
// pseudo-terminal, or in Modbus TCP (modbus_new_tcp) on 127.0.0.1, one connection at a time.
class LibmodbusSlave {
 public:
  static constexpr int kCoils = 2000;
  static constexpr int kRegisters = 200;

  // RTU on fd.
  LibmodbusSlave(int fd, int slaveId);
  // Modbus TCP on a port of the system's choosing (see port()), or the one given.
  struct Tcp {
    int port = 0;
  };
  explicit LibmodbusSlave(Tcp tcp);
  ~LibmodbusSlave();

  // The TCP port it listens on; 0 in RTU or when it could not listen.
  int port() const { return port_; }
  LibmodbusSlave(const LibmodbusSlave&) = delete;
  LibmodbusSlave& operator=(const LibmodbusSlave&) = delete;

  // What its map holds now, from address first (counted from 0).
  std::vector<std::uint16_t> Registers(int first, int count);
  std::vector<int> Coils(int first, int count);
  // Requests it has answered.
  int Served() const { return served_; }

 private:
  void FillMap();
  // Answers one request waiting on the context's socket: false when the other end has gone.
  bool ServeOne();

  _modbus* ctx_ = nullptr;
  _modbus_mapping_t* map_ = nullptr;
  int listener_ = -1;
  int port_ = 0;
  std::mutex mapLock_;
  std::atomic<bool> stop_{false};
  std::atomic<int> served_{0};
  std::thread thread_;
};

}  // namespace vantrel::test
