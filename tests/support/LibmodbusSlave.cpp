#include "support/LibmodbusSlave.h"

#include <modbus/modbus.h>
#include <poll.h>

#include <chrono>

namespace vantrel::test {

LibmodbusSlave::LibmodbusSlave(int fd, int slaveId) {
  ctx_ = modbus_new_rtu("/dev/null", 115200, 'N', 8, 1);  // the device is never opened
  modbus_set_slave(ctx_, slaveId);
  modbus_set_socket(ctx_, fd);
  map_ = modbus_mapping_new(kCoils, kCoils, kRegisters, kRegisters);
  for (int i = 0; i < kCoils; ++i) {
    map_->tab_bits[i] = (i % 5 == 0) ? 1 : 0;
    map_->tab_input_bits[i] = (i % 2 == 1) ? 1 : 0;
  }
  for (int i = 0; i < kRegisters; ++i) {
    map_->tab_registers[i] = static_cast<std::uint16_t>(0x1000 + i);
    map_->tab_input_registers[i] = static_cast<std::uint16_t>(0xF000 - i);
  }
  thread_ = std::thread([this, fd] {
    std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      if (!(p.revents & POLLIN)) {
        // Nobody has the line's other end open (between two programs run against it).
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
      }
      const int n = modbus_receive(ctx_, query);
      if (n <= 0) continue;
      std::lock_guard<std::mutex> hold(mapLock_);
      modbus_reply(ctx_, query, n, map_);
      ++served_;
    }
  });
}

LibmodbusSlave::~LibmodbusSlave() {
  stop_ = true;
  thread_.join();
  modbus_mapping_free(map_);
  modbus_free(ctx_);
}

std::vector<std::uint16_t> LibmodbusSlave::Registers(int first, int count) {
  std::lock_guard<std::mutex> hold(mapLock_);
  return std::vector<std::uint16_t>(map_->tab_registers + first, map_->tab_registers + first + count);
}

std::vector<int> LibmodbusSlave::Coils(int first, int count) {
  std::lock_guard<std::mutex> hold(mapLock_);
  return std::vector<int>(map_->tab_bits + first, map_->tab_bits + first + count);
}

}  // namespace vantrel::test
