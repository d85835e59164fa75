#include "web/HttpRetriever.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "WebTest.h"
#include "support/VendorServer.h"

using namespace vantrel;
using namespace vantrel::test;
using namespace std::chrono_literals;

namespace {

// libcurl's codes for a refused connection and for a time-out.
constexpr std::uint32_t kCouldNotConnect = 7;
constexpr std::uint32_t kTimedOut = 28;

class HttpRetrieverTest : public ::testing::Test {
 protected:
  HttpRetrieverTest() { retriever_.SetTimeouts(kTestTimeouts); }

  std::string Url(const char* path = VendorServer::kCheckVersion) const {
    return server_.RootUrl() + (path + 1);
  }
  // Posts body and gives the reply ("<null>" for none).
  std::string Post(const std::string& body, const char* path = VendorServer::kCheckVersion) {
    const char* reply = retriever_.Retrieve(Url(path).c_str(), true, body.data(),
                                            static_cast<long>(body.size()));
    return reply ? std::string(reply) : std::string("<null>");
  }

  VendorServer server_;
  HttpRetriever retriever_;
};

}  // namespace

TEST_F(HttpRetrieverTest, form_post_has_the_described_request_line_and_headers) {
  // Longer than the 1024 bytes past which some libcurl versions would ask "Expect: 100-continue".
  const std::string body = "app_name=Vantrel Modbus Scanner&Notes=" + std::string(1800, 'n');
  ASSERT_EQ(Post(body), "PASS");
  const HttpRequest r = server_.Requests().at(0);
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.target, "/script/checkversion.php");
  EXPECT_EQ(r.version, "HTTP/1.1");
  EXPECT_EQ(r.Header("User-Agent"), "Pellam Software HTTP Retriever 1.0");
  EXPECT_EQ(r.Header("Accept"), "*/*");
  EXPECT_EQ(r.HeaderCount("Content-Type"), 1);
  EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(r.Header("Host"), "127.0.0.1:" + std::to_string(server_.port()));
  EXPECT_EQ(r.Header("Content-Length"), std::to_string(body.size()));
  EXPECT_EQ(r.HeaderCount("Expect"), 0);
  EXPECT_EQ(r.HeaderCount("Accept-Encoding"), 0);
  EXPECT_EQ(r.HeaderCount("Proxy-Connection"), 0);
  EXPECT_EQ(r.body, body);
}

TEST_F(HttpRetrieverTest, body_goes_byte_for_byte_with_the_given_length) {
  const char body[] = "a=1%20&b=\r\n\x01\xff\0tail";
  const char* reply = retriever_.Retrieve(Url().c_str(), true, body, sizeof body - 1);
  ASSERT_NE(reply, nullptr);
  ASSERT_NE(retriever_.Retrieve(Url().c_str(), true, body, -1), nullptr);  // up to the NUL
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].body, std::string(body, sizeof body - 1));
  EXPECT_EQ(requests[1].body, "a=1%20&b=\r\n\x01\xff");
}

TEST_F(HttpRetrieverTest, get_has_no_form_header) {
  const char* reply = retriever_.Retrieve(Url().c_str(), false, nullptr);
  ASSERT_NE(reply, nullptr);
  EXPECT_STREQ(reply, "PASS");
  const HttpRequest r = server_.Requests().at(0);
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.HeaderCount("Content-Type"), 0);
  EXPECT_EQ(r.Header("User-Agent"), "Pellam Software HTTP Retriever 1.0");
}

TEST_F(HttpRetrieverTest, a_proxy_named_by_the_environment_is_not_used) {
  const std::string proxy = "http://127.0.0.1:" + std::to_string(UnusedPort());
  setenv("http_proxy", proxy.c_str(), 1);
  setenv("HTTP_PROXY", proxy.c_str(), 1);
  const std::string reply = Post("a=1");
  unsetenv("http_proxy");
  unsetenv("HTTP_PROXY");
  EXPECT_EQ(reply, "PASS");
}

TEST_F(HttpRetrieverTest, reply_of_exactly_one_piece_is_returned_whole) {
  const ScriptedReply piece = ScriptedReply::OfSize(HttpRetriever::kChunkSize);
  server_.SetReply(VendorServer::kCheckVersion, piece);
  EXPECT_EQ(Post("a=1"), piece.body);
}

TEST_F(HttpRetrieverTest, empty_reply_is_empty_text_not_null) {
  server_.SetReply(VendorServer::kCheckVersion, ScriptedReply::Text(""));
  const char* reply = retriever_.Retrieve(Url().c_str(), true, "a=1");
  ASSERT_NE(reply, nullptr);
  EXPECT_STREQ(reply, "");
}

TEST_F(HttpRetrieverTest, one_megabyte_reply_is_returned_whole) {
  const ScriptedReply big = ScriptedReply::OfSize(1024 * 1024);
  server_.SetReply(VendorServer::kCheckVersion, big);
  const std::string reply = Post("a=1");
  EXPECT_EQ(reply.size(), big.body.size());
  EXPECT_TRUE(reply == big.body);
}

TEST_F(HttpRetrieverTest, reply_past_the_limit_is_cut_at_the_limit) {
  const ScriptedReply huge = ScriptedReply::OfSize(kReplyLimit + 100000);
  server_.SetReply(VendorServer::kCheckVersion, huge);
  const std::string reply = Post("a=1");
  ASSERT_EQ(reply.size(), kReplyLimit);
  EXPECT_TRUE(reply == huge.body.substr(0, kReplyLimit));
}

TEST_F(HttpRetrieverTest, error_page_body_is_the_reply) {
  server_.SetReply(VendorServer::kCheckVersion, ScriptedReply::NotFound());
  EXPECT_EQ(Post("a=1"), ScriptedReply::NotFound().body);
}

TEST_F(HttpRetrieverTest, nul_byte_ends_what_is_taken_of_its_piece) {
  // First piece: 8190 letters and a NUL; second piece: "tail", a NUL and "lost".
  std::string body(HttpRetriever::kChunkSize - 1, 'a');
  body += '\0';
  body += std::string("tail\0lost", 9);
  server_.SetReply(VendorServer::kCheckVersion, ScriptedReply::Text(body));
  EXPECT_EQ(Post("a=1"), std::string(HttpRetriever::kChunkSize - 1, 'a') + "tail");
}

TEST_F(HttpRetrieverTest, second_retrieve_replaces_the_reply_and_a_failed_one_keeps_it) {
  server_.SetReply(VendorServer::kCheckVersion, ScriptedReply::Text("first"));
  const char* first = retriever_.Retrieve(Url().c_str(), true, "a=1");
  ASSERT_NE(first, nullptr);
  server_.SetReply(VendorServer::kCheckVersion, ScriptedReply::Text("second"));
  const char* second = retriever_.Retrieve(Url().c_str(), true, "a=1");
  ASSERT_NE(second, nullptr);
  EXPECT_STREQ(second, "second");

  server_.SetReply(VendorServer::kCheckVersion, ScriptedReply::Reset());
  EXPECT_EQ(retriever_.Retrieve(Url().c_str(), true, "a=1"), nullptr);
  EXPECT_STREQ(second, "second");
}

TEST_F(HttpRetrieverTest, missing_url_gives_null_with_all_bits_set) {
  EXPECT_EQ(retriever_.Retrieve(nullptr, true, "a=1"), nullptr);
  EXPECT_EQ(retriever_.lastError(), 0xFFFFFFFFu);
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(HttpRetrieverTest, refused_connection_fails_with_its_code) {
  const std::string url = "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/script/x.php";
  EXPECT_EQ(retriever_.Retrieve(url.c_str(), true, "a=1"), nullptr);
  EXPECT_EQ(retriever_.lastError(), kCouldNotConnect);
}

TEST_F(HttpRetrieverTest, reset_connection_fails) {
  server_.SetReply(VendorServer::kCheckVersion, ScriptedReply::Reset());
  EXPECT_EQ(Post("a=1"), "<null>");
  EXPECT_NE(retriever_.lastError(), 0u);
  EXPECT_EQ(server_.RequestCount(), 1u);
}

TEST_F(HttpRetrieverTest, only_web_schemes_are_fetched) {
  EXPECT_EQ(retriever_.Retrieve("file:///etc/hostname", false, nullptr), nullptr);
  EXPECT_NE(retriever_.lastError(), 0u);
}

TEST_F(HttpRetrieverTest, silent_server_is_given_up_after_the_connect_time_out) {
  SilentListener silent;
  ASSERT_TRUE(silent.ok());
  retriever_.SetTimeouts({1000ms, 60000ms});
  const std::string url = silent.RootUrl() + "script/checkversion.php";
  const char* reply = nullptr;
  const auto took = Elapsed([&] { reply = retriever_.Retrieve(url.c_str(), true, "a=1"); });
  EXPECT_EQ(reply, nullptr);
  EXPECT_EQ(retriever_.lastError(), kTimedOut);
  EXPECT_LT(took, kTimeoutBound);
}

TEST_F(HttpRetrieverTest, reply_that_does_not_come_is_given_up_after_the_total_time_out) {
  server_.SetReply(VendorServer::kCheckVersion, ScriptedReply::Held("PASS"));
  retriever_.SetTimeouts({1000ms, 2000ms});
  std::string reply;
  const auto took = Elapsed([&] { reply = Post("a=1"); });
  EXPECT_EQ(reply, "<null>");
  EXPECT_EQ(retriever_.lastError(), kTimedOut);
  EXPECT_GE(took, 1500ms);
  EXPECT_LT(took, kTimeoutBound);
}

TEST_F(HttpRetrieverTest, reply_cut_short_keeps_what_came) {
  ScriptedReply stalled = ScriptedReply::Text("UPDATE and more");
  stalled.stallAfter = 6;
  server_.SetReply(VendorServer::kCheckVersion, stalled);
  retriever_.SetTimeouts({1000ms, 2000ms});
  EXPECT_EQ(Post("a=1"), "UPDATE");
}
