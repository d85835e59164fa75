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

// A libmodbus RTU server on the test's end of a pseudo-terminal, in its own thread, with
// 2000 coils and discrete inputs and 200 holding and input registers: coil i is on when
// i % 5 == 0, input i when i is odd, holding register i holds 0x1000 + i and input
// register i 0xF000 - i (i counted from 0). Anything beyond them is answered with
// exception 02, as libmodbus does.
class LibmodbusSlave {
 public:
  static constexpr int kCoils = 2000;
  static constexpr int kRegisters = 200;

  LibmodbusSlave(int fd, int slaveId);
  ~LibmodbusSlave();
  LibmodbusSlave(const LibmodbusSlave&) = delete;
  LibmodbusSlave& operator=(const LibmodbusSlave&) = delete;

  // What its map holds now, from address first (counted from 0).
  std::vector<std::uint16_t> Registers(int first, int count);
  std::vector<int> Coils(int first, int count);
  // Requests it has answered.
  int Served() const { return served_; }

 private:
  _modbus* ctx_ = nullptr;
  _modbus_mapping_t* map_ = nullptr;
  std::mutex mapLock_;
  std::atomic<bool> stop_{false};
  std::atomic<int> served_{0};
  std::thread thread_;
};

}  // namespace vantrel::test
