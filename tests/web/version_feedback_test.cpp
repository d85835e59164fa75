#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "WebTest.h"
#include "web/Product.h"
#include "web/WebCall.h"
#include "web/WebServices.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

using CheckVersionTest = WebTest;
using SendFeedbackTest = WebTest;
using ReferralTest = WebTest;

const std::string kNotes = "Last Compile date: Jul  3 2007 14:38:44";
const std::string kEncodedNotes = "Last%20Compile%20date%3A%20Jul%20%203%202007%2014%3A38%3A44";
const std::string kCheckBody =
    "app_name=Vantrel Modbus Scanner&app_ver=1.00bD&Notes=" + kEncodedNotes;

void ExpectFormPost(const HttpRequest& r, const char* path) {
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.target, path);
  EXPECT_EQ(r.Header("User-Agent"), "Pellam Software HTTP Retriever 1.0");
  EXPECT_EQ(r.Header("Accept"), "*/*");
  EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded");
}

struct Classified {
  const char* reply;
  int result;
  const char* logEnding;
};

}  // namespace

TEST_F(CheckVersionTest, posts_name_version_and_encoded_notes) {
  EXPECT_EQ(CheckVersion(kProductName, VersionText(), kNotes), 0);
  const HttpRequest r = OnlyRequest();
  ExpectFormPost(r, "/script/checkversion.php");
  EXPECT_EQ(r.body, kCheckBody);
}

TEST_F(CheckVersionTest, name_and_version_go_unencoded_and_empty_notes_as_nothing) {
  CheckVersion("A&B Tool", "2.0 beta", "");
  EXPECT_EQ(OnlyRequest().body, "app_name=A&B Tool&app_ver=2.0 beta&Notes=");
}

TEST_F(CheckVersionTest, logs_the_body_before_and_the_verdict_after) {
  CheckVersion(kProductName, VersionText(), kNotes);
  EXPECT_EQ(DebugLog(), kStamp + ("FYI. CheckVersion " + kCheckBody) + kStamp +
                            "FYI. CheckVersion [" + kCheckBody + "] PASS");
}

TEST_F(CheckVersionTest, reply_words_are_looked_for_in_order_and_case) {
  const std::vector<Classified> cases = {
      {"PASS", 0, "] PASS"},
      {"Pass", 0, "] PASS"},
      {"Update available, PASS", 0, "] PASS"},
      {"UPDATE", 1, "] UPDATE"},
      {"Update available", 1, "] UPDATE"},
      {"UPDATE FAIL", 1, "] UPDATE"},
      {"FAIL", -1, "] FAIL"},
      {"Fail: no such product", -1, "] FAIL"},
      {"pass", -1, "] Unknown error"},
      {"update", -1, "] Unknown error"},
      {"", -1, "] Unknown error"},
  };
  for (const Classified& c : cases) {
    server_.SetReply(VendorServer::kCheckVersion, ScriptedReply::Text(c.reply));
    EXPECT_EQ(CheckVersion(kProductName, VersionText(), ""), c.result) << c.reply;
    const std::string log = DebugLog();
    EXPECT_EQ(log.substr(log.size() - std::strlen(c.logEnding)), c.logEnding) << c.reply;
  }
}

TEST_F(CheckVersionTest, unknown_answer_logs_an_error_with_the_body) {
  server_.SetReply(VendorServer::kCheckVersion, ScriptedReply::Text("pass"));
  EXPECT_EQ(CheckVersion(kProductName, VersionText(), ""), -1);
  const std::string body = "app_name=Vantrel Modbus Scanner&app_ver=1.00bD&Notes=";
  EXPECT_EQ(DebugLog(), kStamp + ("FYI. CheckVersion " + body) + kStamp + "Err. CheckVersion [" +
                            body + "] Unknown error");
}

TEST_F(CheckVersionTest, body_over_the_limit_is_refused_unsent_unlogged_and_unblocking) {
  const std::string fixed = "app_name=Vantrel Modbus Scanner&app_ver=1.00bD&Notes=";
  const std::string tooLong(kFormBodyLimit - fixed.size() + 1, 'n');
  EXPECT_EQ(CheckVersion(kProductName, VersionText(), tooLong), -1);
  EXPECT_FALSE(IsWebCallBusy());
  EXPECT_EQ(pumps_, 0);
  EXPECT_EQ(server_.RequestCount(), 0u);
  EXPECT_EQ(DebugLog(), "");

  // The longest body that fits goes out.
  EXPECT_EQ(CheckVersion(kProductName, VersionText(), tooLong.substr(1)), 0);
  EXPECT_EQ(OnlyRequest().body.size(), kFormBodyLimit);
}

TEST_F(CheckVersionTest, limit_counts_the_encoded_notes) {
  const std::string fixed = "app_name=Vantrel Modbus Scanner&app_ver=1.00bD&Notes=";
  // Each blank becomes three characters.
  const std::string blanks((kFormBodyLimit - fixed.size()) / 3 + 1, ' ');
  EXPECT_EQ(CheckVersion(kProductName, VersionText(), blanks), -1);
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(SendFeedbackTest, posts_product_version_and_encoded_message_and_notes) {
  const std::string message = "Reads 100% fine? a&b=c\r\nThanks, Jo <jo@example.org>";
  EXPECT_EQ(SendFeedback(kProductName, VersionText(), message, kNotes), 1);
  const HttpRequest r = OnlyRequest();
  ExpectFormPost(r, "/script/sendfeedback.php");
  const std::string body =
      "Product=Vantrel Modbus Scanner&ProductV=1.00bD"
      "&Msg=Reads%20100%25%20fine%3f%20a%26b%3Dc\r\nThanks%2C%20Jo%20%3Cjo%40example.org%3E"
      "&Notes=" + kEncodedNotes;
  EXPECT_EQ(r.body, body);
  EXPECT_EQ(DebugLog(), kStamp + ("FYI. SendFeedback [" + body + "] Feedback Sent"));
}

TEST_F(SendFeedbackTest, only_pass_in_the_reply_is_acceptance) {
  const std::vector<std::pair<const char*, int>> cases = {
      {"PASS", 1}, {"Pass", 1}, {"Message PASSed on", 1},
      {"pass", -1}, {"FAIL", -1}, {"", -1}};
  for (const auto& [reply, result] : cases) {
    server_.SetReply(VendorServer::kSendFeedback, ScriptedReply::Text(reply));
    EXPECT_EQ(SendFeedback(kProductName, VersionText(), "m", ""), result) << reply;
  }
}

TEST_F(SendFeedbackTest, refusal_is_logged_with_the_body) {
  server_.SetReply(VendorServer::kSendFeedback, ScriptedReply::Text("FAIL"));
  EXPECT_EQ(SendFeedback("P", "1", "hi there", ""), -1);
  EXPECT_EQ(DebugLog(),
            kStamp + std::string("Err. SendFeedback [Product=P&ProductV=1&Msg=hi%20there&Notes=] "
                                 "unknow error"));
}

TEST_F(SendFeedbackTest, encoded_body_over_the_limit_is_refused_and_the_next_call_goes_at_once) {
  const std::string message(700, '&');  // 2100 characters once encoded
  EXPECT_EQ(SendFeedback(kProductName, VersionText(), message, ""), -1);
  EXPECT_FALSE(IsWebCallBusy());
  EXPECT_EQ(pumps_, 0);
  EXPECT_EQ(server_.RequestCount(), 0u);
  EXPECT_EQ(DebugLog(), "");

  EXPECT_EQ(SendFeedback(kProductName, VersionText(), "short", ""), 1);
  EXPECT_EQ(OnlyRequest().body,
            "Product=Vantrel Modbus Scanner&ProductV=1.00bD&Msg=short&Notes=");
}

TEST_F(ReferralTest, opens_the_site_root_with_the_tag_unencoded) {
  std::vector<std::string> opened;
  SetBrowserOpener([&](const std::string& url) { opened.push_back(url); });
  EXPECT_EQ(Referral(kProductName, VersionText()), 1);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], server_.RootUrl() + "?ref=Vantrel Modbus Scanner(1.00bD)");
  EXPECT_EQ(DebugLog(),
            kStamp + std::string("FYI. Referral csName=[Vantrel Modbus Scanner] csVersion=[1.00bD]"));
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(ReferralTest, without_a_browser_the_address_is_only_logged) {
  EXPECT_EQ(Referral("N", "V"), 1);
  EXPECT_NE(DebugLog().find(server_.RootUrl() + "?ref=N(V)"), std::string::npos);
}
