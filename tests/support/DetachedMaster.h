// A master with no link behind it, for tests that only fill in the fields a reply check
// leaves (the response table, the data log, the trend history).
#pragma once

#include <string>

#include "modbus/Link.h"
#include "modbus/ModbusMaster.h"

namespace vantrel::test {

// A link that is never open: nothing goes out, nothing comes in.
class ClosedLink final : public Link {
 public:
  int IsOpen() const override { return 0; }
  int Close() override { return 1; }
  int Write(const std::uint8_t*, int) override { return 0; }
  int Read(std::uint8_t*, int) override { return 0; }
  int WaitReadable(int) override { return -1; }
  void DiscardInput() override {}
  int QuietGapMs() const override { return 0; }
  int Handle() const override { return -1; }
  const std::string& Device() const override { return device_; }
  int LastError() const override { return 0; }
  bool DeviceLost() const override { return false; }

 private:
  std::string device_;
};

struct ClosedLinkHolder {
  ClosedLink closedLink;
};

// The link is built first, as the first base.
class DetachedMaster : private ClosedLinkHolder, public ModbusMaster {
 public:
  DetachedMaster() : ModbusMaster(closedLink) {}
};

}  // namespace vantrel::test
