// Shared set-up of the web tests: a vendor server of their own on 127.0.0.1, the vendor
// root pointed at it, short time-outs, a pump that counts its steps, and the debug log in
// a fresh folder at a fixed time.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <string>
#include <thread>

#include "diag/Clock.h"
#include "diag/Diagnostics.h"
#include "support/TempDir.h"
#include "support/VendorServer.h"
#include "web/HttpRetriever.h"
#include "web/WebCall.h"
#include "web/WebServices.h"

namespace vantrel::test {

// Time-outs of the tests: long enough for a loaded machine, short enough to wait for.
inline constexpr HttpTimeouts kTestTimeouts{std::chrono::milliseconds(2000),
                                            std::chrono::milliseconds(3000)};
// A wait that takes longer than this has not been cut by the time-outs above.
inline constexpr std::chrono::seconds kTimeoutBound{10};

inline std::time_t FixedTime() {
  std::tm t{};
  t.tm_year = 2007 - 1900;
  t.tm_mon = 6;
  t.tm_mday = 3;
  t.tm_hour = 14;
  t.tm_min = 38;
  t.tm_sec = 44;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

// The record prefix that the fixed time gives.
inline constexpr char kStamp[] = "\n[03-07-2007 14:38:44] ";

class WebTest : public ::testing::Test {
 protected:
  WebTest() : cwd_(dir_.path()) {
    ResetLogPathsForTesting();
    const std::time_t when = FixedTime();
    SetClock([when] { return when; });
    SetVendorRootUrl(server_.RootUrl());
    HttpRetriever::SetDefaultTimeouts(kTestTimeouts);
    SetPumpFunction([this] {
      ++pumps_;
      if (onPump_) onPump_();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
  }
  ~WebTest() override {
    SetPumpFunction(nullptr);
    SetWorkerStarter(nullptr);
    SetBrowserOpener(nullptr);
    HttpRetriever::SetDefaultTimeouts({});
    SetVendorRootUrl("");
    SetClock(nullptr);
    ResetLogPathsForTesting();
  }

  std::string DebugLog() const { return ReadFile(dir_ / "Debuglog.txt"); }

  // The one request of a test, or an empty one after a failed expectation.
  HttpRequest OnlyRequest() const {
    const auto requests = server_.Requests();
    EXPECT_EQ(requests.size(), 1u);
    return requests.empty() ? HttpRequest{} : requests.front();
  }

  TempDir dir_;
  ScopedCwd cwd_;
  VendorServer server_;
  int pumps_ = 0;
  std::function<void()> onPump_;  // runs inside each pump step
};

// Seconds that f takes.
template <typename F>
std::chrono::duration<double> Elapsed(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::steady_clock::now() - start;
}

}  // namespace vantrel::test
