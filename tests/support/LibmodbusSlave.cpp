#include "support/LibmodbusSlave.h"

#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace vantrel::test {

void LibmodbusSlave::FillMap() {
  map_ = modbus_mapping_new(kCoils, kCoils, kRegisters, kRegisters);
  for (int i = 0; i < kCoils; ++i) {
    map_->tab_bits[i] = (i % 5 == 0) ? 1 : 0;
    map_->tab_input_bits[i] = (i % 2 == 1) ? 1 : 0;
  }
  for (int i = 0; i < kRegisters; ++i) {
    map_->tab_registers[i] = static_cast<std::uint16_t>(0x1000 + i);
    map_->tab_input_registers[i] = static_cast<std::uint16_t>(0xF000 - i);
  }
}

bool LibmodbusSlave::ServeOne() {
  std::uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
  const int n = modbus_receive(ctx_, query);
  if (n < 0) return false;
  if (n == 0) return true;  // not for this slave
  std::lock_guard<std::mutex> hold(mapLock_);
  modbus_reply(ctx_, query, n, map_);
  ++served_;
  return true;
}

LibmodbusSlave::LibmodbusSlave(int fd, int slaveId) {
  ctx_ = modbus_new_rtu("/dev/null", 115200, 'N', 8, 1);  // the device is never opened
  modbus_set_slave(ctx_, slaveId);
  modbus_set_socket(ctx_, fd);
  FillMap();
  thread_ = std::thread([this, fd] {
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      if (!(p.revents & POLLIN)) {
        // Nobody has the line's other end open (between two programs run against it).
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
      }
      ServeOne();
    }
  });
}

LibmodbusSlave::LibmodbusSlave(Tcp tcp) {
  ctx_ = modbus_new_tcp("127.0.0.1", tcp.port);
  FillMap();
  listener_ = modbus_tcp_listen(ctx_, 8);
  if (listener_ < 0) return;
  sockaddr_in bound{};
  socklen_t size = sizeof bound;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &size);
  port_ = ntohs(bound.sin_port);
  thread_ = std::thread([this] {
    int client = -1;
    while (!stop_) {
      pollfd p{client >= 0 ? client : listener_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      if (client < 0) {
        client = modbus_tcp_accept(ctx_, &listener_);  // the context's socket from now on
      } else if (!ServeOne()) {
        close(client);
        client = -1;
      }
    }
    if (client >= 0) close(client);
  });
}

LibmodbusSlave::~LibmodbusSlave() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) close(listener_);
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
