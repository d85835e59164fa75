#include "serial/PortMap.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/TempDir.h"

using namespace vantrel;
using vantrel::test::TempDir;

TEST(port_map, comn_entry_in_the_folder_names_the_device) {
  TempDir dir;
  ASSERT_EQ(symlink("/dev/null", (dir / "COM3").c_str()), 0);
  EXPECT_EQ(DeviceForPort(3, dir.path()), dir / "COM3");
  const PortEntry e = DescribePort(3, dir.path());
  EXPECT_EQ(e.description, "link to /dev/null");
  // a dangling link still names port 3, so that opening it reports the missing device
  ASSERT_EQ(symlink((dir / "gone").c_str(), (dir / "COM4").c_str()), 0);
  EXPECT_EQ(DeviceForPort(4, dir.path()), dir / "COM4");
  EXPECT_EQ(DescribePort(4, dir.path()).description, "link to a missing device");
}

TEST(port_map, numbers_without_an_entry_come_from_the_ports_present) {
  TempDir dir;
  const auto present = ListPresentPorts();
  for (int n = 1; n <= 10; ++n) {
    const std::string expected =
        static_cast<std::size_t>(n) <= present.size() ? present[static_cast<std::size_t>(n) - 1].device : "";
    EXPECT_EQ(DeviceForPort(n, dir.path()), expected) << n;
  }
  EXPECT_EQ(DeviceForPort(0, dir.path()), "");
  EXPECT_EQ(DeviceForPort(-1, dir.path()), "");
}

TEST(port_map, usb_adapters_first_then_natural_order) {
  std::vector<PortEntry> ports = {{"/dev/ttyS10", ""},  {"/dev/ttyS2", ""},   {"/dev/ttyUSB10", ""},
                                  {"/dev/ttyACM0", ""}, {"/dev/ttyUSB2", ""}, {"/dev/ttyAMA0", ""},
                                  {"/dev/ttyS0", ""}};
  SortPorts(ports);
  std::vector<std::string> order;
  for (const auto& p : ports) order.push_back(p.device);
  EXPECT_EQ(order, (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyUSB2", "/dev/ttyUSB10",
                                             "/dev/ttyAMA0", "/dev/ttyS0", "/dev/ttyS2",
                                             "/dev/ttyS10"}));
}
