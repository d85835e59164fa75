#include <gtest/gtest.h>
#include "modbus/ModbusFrame.h"
TEST(crc16, empty_is_ffff) { EXPECT_EQ(vantrel::Crc16(nullptr, 0), 0xFFFF); }
