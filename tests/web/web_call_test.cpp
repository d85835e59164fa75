// The web-call mechanism as its callers see it: one call in flight at a time, each
// caller's own reply, a wait that keeps pumping, and no wait that outlives its call.
#include "web/WebCall.h"

#include <gtest/gtest.h>

#include "WebTest.h"
#include "web/Product.h"
#include "web/Tattler.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

using WebCallTest = WebTest;

int Check() { return CheckVersion(kProductName, VersionText(), ""); }

}  // namespace

TEST_F(WebCallTest, pump_keeps_running_while_the_reply_is_held) {
  server_.SetReply(VendorServer::kCheckVersion, ScriptedReply::Held("UPDATE"));
  // The reply is let go only once the pump has run a few times with the request in.
  onPump_ = [this] {
    if (pumps_ >= 5 && server_.RequestCount() == 1) server_.Release();
  };
  EXPECT_EQ(Check(), 1);
  EXPECT_GE(pumps_, 5);
  EXPECT_FALSE(IsWebCallBusy());
}

TEST_F(WebCallTest, call_made_during_the_wait_starts_after_the_first_and_each_gets_its_own_reply) {
  server_.SetReply(VendorServer::kCheckVersion, ScriptedReply::Held("UPDATE"));
  server_.SetReply(VendorServer::kSendFeedback, ScriptedReply::Text("PASS"));
  bool clicked = false;
  int feedback = 0;
  // A click handled in the first pump step sends feedback while the check is in flight.
  onPump_ = [&] {
    if (!clicked) {
      clicked = true;
      feedback = SendFeedback(kProductName, VersionText(), "hello", "");
    } else if (pumps_ >= 5 && server_.RequestCount() == 1) {
      server_.Release();
    }
  };
  EXPECT_EQ(Check(), 1);
  EXPECT_EQ(feedback, 1);
  const std::vector<std::string> strictlyOneAfterTheOther = {
      "begin /script/checkversion.php", "answer /script/checkversion.php",
      "begin /script/sendfeedback.php", "answer /script/sendfeedback.php"};
  EXPECT_EQ(server_.Events(), strictlyOneAfterTheOther);
}

TEST_F(WebCallTest, calls_in_a_row_run_one_after_the_other) {
  server_.SetReply(VendorServer::kCheckVersion, ScriptedReply::Text("UPDATE"));
  EXPECT_EQ(Check(), 1);
  EXPECT_EQ(SendFeedback(kProductName, VersionText(), "m", ""), 1);
  EXPECT_EQ(SendUsageReport(kProductName, VersionText(), {}), 1);
  const std::vector<std::string> inOrder = {
      "begin /script/checkversion.php", "answer /script/checkversion.php",
      "begin /script/sendfeedback.php", "answer /script/sendfeedback.php",
      "begin /script/tattler.php",      "answer /script/tattler.php"};
  EXPECT_EQ(server_.Events(), inOrder);
}

TEST_F(WebCallTest, last_reply_is_the_text_of_the_last_finished_call) {
  server_.SetReply(VendorServer::kCheckVersion, ScriptedReply::Text("Update available"));
  Check();
  EXPECT_EQ(LastWebReply(), "Update available");
  server_.SetReply(VendorServer::kCheckVersion, ScriptedReply::Reset());
  Check();
  EXPECT_EQ(LastWebReply(), "");
}

TEST_F(WebCallTest, worker_that_cannot_start_leaves_no_one_waiting) {
  SetWorkerStarter([](std::function<void()>, std::thread&) { return false; });
  EXPECT_EQ(Check(), -1);
  EXPECT_FALSE(IsWebCallBusy());
  EXPECT_EQ(server_.RequestCount(), 0u);
  const std::string body = "app_name=Vantrel Modbus Scanner&app_ver=1.00bD&Notes=";
  EXPECT_EQ(DebugLog(), std::string(kStamp) + "FYI. CheckVersion " + body + kStamp +
                            "Err. Web call not made: no worker thread could be started" +
                            kStamp + "Err. CheckVersion [" + body + "] Unknown error");

  SetWorkerStarter(nullptr);
  EXPECT_EQ(Check(), 0);
}

TEST_F(WebCallTest, refused_server_ends_the_call_with_minus_one) {
  SetVendorRootUrl("http://127.0.0.1:" + std::to_string(UnusedPort()) + "/");
  EXPECT_EQ(Check(), -1);
  EXPECT_EQ(SendFeedback(kProductName, VersionText(), "m", ""), -1);
  EXPECT_EQ(SendUsageReport(kProductName, VersionText(), {}), -1);
  EXPECT_FALSE(IsWebCallBusy());
  EXPECT_GE(pumps_, 3);
}

TEST_F(WebCallTest, silent_server_ends_the_call_within_the_time_out_pumping_meanwhile) {
  SilentListener silent;
  ASSERT_TRUE(silent.ok());
  SetVendorRootUrl(silent.RootUrl());
  int result = 0;
  const auto took = Elapsed([&] { result = Check(); });
  EXPECT_EQ(result, -1);
  EXPECT_LT(took, kTimeoutBound);
  EXPECT_GT(pumps_, 10);
}

TEST_F(WebCallTest, slow_server_ends_the_call_within_the_time_out_pumping_meanwhile) {
  ScriptedReply slow = ScriptedReply::Text("PASS");
  slow.delayMs = 60000;
  server_.SetReply(VendorServer::kTattler, slow);
  int result = 0;
  const auto took = Elapsed([&] { result = SendUsageReport(kProductName, VersionText(), {}); });
  EXPECT_EQ(result, -1);
  EXPECT_LT(took, kTimeoutBound);
  EXPECT_GT(pumps_, 10);
  EXPECT_EQ(server_.RequestCount(), 1u);
}

TEST_F(WebCallTest, reset_connection_ends_the_call_with_minus_one) {
  server_.SetReply(VendorServer::kSendFeedback, ScriptedReply::Reset());
  int result = 0;
  const auto took = Elapsed([&] { result = SendFeedback(kProductName, VersionText(), "m", ""); });
  EXPECT_EQ(result, -1);
  EXPECT_LT(took, kTimeoutBound);
  EXPECT_GE(pumps_, 1);
  EXPECT_EQ(server_.RequestCount(), 1u);
}
