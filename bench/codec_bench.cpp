// Throughput of the CRC and of the reply check.
#include <benchmark/benchmark.h>

#include <vector>

#include "modbus/ModbusMaster.h"
#include "serial/SerialPort.h"

using namespace vantrel;

namespace {

std::vector<std::uint8_t> RegisterReply(int registers) {
  std::vector<std::uint8_t> r{0x01, 0x03, static_cast<std::uint8_t>(2 * registers)};
  for (int i = 0; i < 2 * registers; ++i) r.push_back(static_cast<std::uint8_t>(i * 7));
  const std::uint16_t crc = Crc16(r.data(), static_cast<std::uint16_t>(r.size()));
  r.push_back(static_cast<std::uint8_t>(crc >> 8));
  r.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return r;
}

void BM_Crc16(benchmark::State& state) {
  std::vector<std::uint8_t> data(static_cast<std::size_t>(state.range(0)));
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  for (auto _ : state) {
    benchmark::DoNotOptimize(Crc16(data.data(), static_cast<std::uint16_t>(data.size())));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc16)->Arg(6)->Arg(255);

void BM_CheckResponse(benchmark::State& state) {
  const auto reply = RegisterReply(static_cast<int>(state.range(0)));
  std::uint8_t request[8];
  BuildReadRequest(3, 1, 1, static_cast<std::uint16_t>(state.range(0)), request);
  SerialPort closed;  // the check reads nothing from a link
  ModbusMaster m(closed);
  for (auto _ : state) {
    const int r = m.CheckResponse(request, 8, reply.data(), static_cast<int>(reply.size()));
    if (r != MB_RESPONCE_OK) state.SkipWithError("reply did not check");
    benchmark::DoNotOptimize(m.data[0]);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(reply.size()));
}
BENCHMARK(BM_CheckResponse)->Arg(1)->Arg(10)->Arg(125);

}  // namespace

BENCHMARK_MAIN();
