#include "web/Tattler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WebTest.h"
#include "web/Product.h"
#include "web/WebCall.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

using TattlerTest = WebTest;
using UsageReportTest = WebTest;

std::string Seconds() { return std::to_string(static_cast<long long>(FixedTime())); }

const std::string kHead = "utility_name=Vantrel Modbus Scanner&utility_version=1.00bD";

// The values as the main window stores them during three polls with two good replies.
void PollThreeTimesWithTwoReplies(Tattler& t) {
  t.SetValue("ConnectionString", "COM 3:9600,N,8,1");
  t.SetValue("RequestString", "Device: 11 Offset: 1 Length: 20");
  t.SetValue("PollFrequency", "Once");
  t.SetValue("PollCount", "1");
  t.SetValue("RespCount", "1");
  t.SetValue("PollCount", "2");
  t.SetValue("PollCount", "3");
  t.SetValue("RespCount", "2");
}

}  // namespace

TEST_F(TattlerTest, starts_with_the_start_time_alone) {
  Tattler t;
  EXPECT_EQ(t.Values(), (UsageValues{{"start_time", Seconds()}}));
}

TEST_F(TattlerTest, a_key_set_again_keeps_only_the_new_value) {
  Tattler t;
  t.SetValue("PollFrequency", "5 seconds");
  t.SetValue("PollFrequency", "2 min");
  EXPECT_EQ(t.Values().at("PollFrequency"), "2 min");
  EXPECT_EQ(t.Values().size(), 2u);
}

TEST_F(TattlerTest, keys_are_kept_in_byte_order) {
  Tattler t;
  PollThreeTimesWithTwoReplies(t);
  t.SetValue("send_time", "1");
  std::vector<std::string> keys;
  for (const auto& [key, value] : t.Values()) keys.push_back(key);
  const std::vector<std::string> expected = {"ConnectionString", "PollCount",  "PollFrequency",
                                             "RequestString",    "RespCount",  "send_time",
                                             "start_time"};
  EXPECT_EQ(keys, expected);
}

TEST_F(UsageReportTest, carries_every_pair_in_key_order_unencoded) {
  Tattler t;
  PollThreeTimesWithTwoReplies(t);
  EXPECT_TRUE(t.Report(kProductName, VersionText()));
  const HttpRequest r = OnlyRequest();
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.target, "/script/tattler.php");
  EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(r.body, kHead +
                        "&ConnectionString=COM 3:9600,N,8,1&PollCount=3&PollFrequency=Once"
                        "&RequestString=Device: 11 Offset: 1 Length: 20&RespCount=2"
                        "&send_time=" + Seconds() + "&start_time=" + Seconds());
}

TEST_F(UsageReportTest, run_closed_before_any_poll_has_no_counts) {
  Tattler t;
  t.SetValue("ConnectionString", "COM 3:9600,N,8,1");
  EXPECT_TRUE(t.Report(kProductName, VersionText()));
  EXPECT_EQ(OnlyRequest().body, kHead + "&ConnectionString=COM 3:9600,N,8,1&send_time=" +
                                    Seconds() + "&start_time=" + Seconds());
}

TEST_F(UsageReportTest, empty_value_is_written_as_nothing) {
  EXPECT_EQ(SendUsageReport("", "", {{"Key", ""}}), 1);
  EXPECT_EQ(OnlyRequest().body, "utility_name=&utility_version=&Key=");
}

TEST_F(UsageReportTest, accepted_only_when_the_reply_starts_with_pass_and_has_no_failure) {
  const std::vector<std::pair<const char*, int>> cases = {
      {"STATE: PASS", 1},
      {"STATE: PASS\r\nstored 7 values", 1},
      {"ok STATE: PASS", -1},
      {"\nSTATE: PASS", -1},
      {"STATE: PASS STATE: FAILED", -1},
      {"STATE: PASSSTATE: FAILED", -1},
      {"STATE: FAILED", -1},
      {"PASS", -1},
      {"state: pass", -1},
      {"", -1},
  };
  for (const auto& [reply, result] : cases) {
    server_.SetReply(VendorServer::kTattler, ScriptedReply::Text(reply));
    EXPECT_EQ(SendUsageReport(kProductName, VersionText(), {}), result) << reply;
  }
  EXPECT_EQ(DebugLog(), "");  // the report writes no trace
}

TEST_F(UsageReportTest, report_answers_false_when_not_accepted) {
  Tattler t;
  server_.SetReply(VendorServer::kTattler, ScriptedReply::NotFound());
  EXPECT_FALSE(t.Report(kProductName, VersionText()));
  EXPECT_EQ(t.Values().at("send_time"), Seconds());
}

TEST_F(UsageReportTest, body_over_the_limit_is_not_sent_and_does_not_block) {
  Tattler t;
  t.SetValue("RequestString", std::string(kFormBodyLimit, 'x'));
  EXPECT_FALSE(t.Report(kProductName, VersionText()));
  EXPECT_FALSE(IsWebCallBusy());
  EXPECT_EQ(pumps_, 0);
  EXPECT_EQ(server_.RequestCount(), 0u);
  EXPECT_EQ(SendUsageReport(kProductName, VersionText(), {}), 1);
}
