#include "web/HttpRetriever.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

namespace vantrel {
namespace {

constexpr char kAgent[] = "Pellam Software HTTP Retriever 1.0";
constexpr char kFormContentType[] = "Content-Type: application/x-www-form-urlencoded";

std::atomic<long long> g_connectMs{kConnectTimeout.count()};
std::atomic<long long> g_totalMs{kTotalTimeout.count()};

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Sink {
  std::string* bytes;
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user) {
  std::string& bytes = *static_cast<Sink*>(user)->bytes;
  const std::size_t n = size * count;
  if (bytes.size() + n > kReplyLimit) {
    bytes.append(data, kReplyLimit - bytes.size());
    return 0;  // ends the transfer; what was read so far is the reply
  }
  bytes.append(data, n);
  return n;
}

}  // namespace

void HttpRetriever::SetDefaultTimeouts(HttpTimeouts timeouts) {
  g_connectMs.store(timeouts.connect.count());
  g_totalMs.store(timeouts.total.count());
}

HttpTimeouts HttpRetriever::DefaultTimeouts() {
  return {std::chrono::milliseconds(g_connectMs.load()), std::chrono::milliseconds(g_totalMs.load())};
}

HttpRetriever::HttpRetriever() : timeouts_(DefaultTimeouts()) {
  GlobalInit();
  handle_ = curl_easy_init();
}

HttpRetriever::~HttpRetriever() {
  if (handle_ != nullptr) curl_easy_cleanup(static_cast<CURL*>(handle_));
}

bool HttpRetriever::OpenUrl(const char* url) { return Perform(url, false, nullptr, 0); }

bool HttpRetriever::PostForm(const char* url, const char* body, long bodyLength) {
  if (body == nullptr) {
    body = "";
    bodyLength = 0;
  }
  if (bodyLength < 0) bodyLength = static_cast<long>(std::strlen(body));
  return Perform(url, true, body, bodyLength);
}

// Runs the whole exchange. The server has answered once its status line has come; a
// failure after that only cuts the body short, as a read that fails part-way.
bool HttpRetriever::Perform(const char* url, bool post, const char* body, long bodyLength) {
  received_.clear();
  CURL* curl = static_cast<CURL*>(handle_);
  if (curl == nullptr) {
    lastError_ = CURLE_FAILED_INIT;
    return false;
  }
  curl_easy_reset(curl);
  curl_easy_setopt(curl, CURLOPT_URL, url);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kAgent);
  curl_easy_setopt(curl, CURLOPT_PROXY, "");  // direct, whatever the environment says
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // on a worker thread: no SIGALRM
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts_.connect.count()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeouts_.total.count()));
  Sink sink{&received_};
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);

  curl_slist* headers = curl_slist_append(nullptr, "Accept: */*");
  if (post) {
    headers = curl_slist_append(headers, kFormContentType);
    // libcurl would ask "Expect: 100-continue" for larger bodies; the body goes at once.
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, bodyLength);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body);
  } else {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  }
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);

  const CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
  curl_slist_free_all(headers);

  if (rc != CURLE_OK && status == 0) {
    lastError_ = static_cast<std::uint32_t>(rc);
    received_.clear();
    return false;
  }
  return true;
}

const char* HttpRetriever::Retrieve(const char* url, bool usePost, const char* body,
                                    long bodyLength) {
  if (url == nullptr) {
    lastError_ = kNoUrl;
    return nullptr;
  }
  if (!(usePost ? PostForm(url, body, bodyLength) : OpenUrl(url))) return nullptr;

  // The reply is text: of each piece read, the bytes before a NUL are kept.
  reply_.clear();
  for (std::size_t at = 0; at < received_.size(); at += kChunkSize) {
    const char* piece = received_.data() + at;
    const std::size_t size = std::min(kChunkSize, received_.size() - at);
    reply_.append(piece, strnlen(piece, size));
  }
  received_.clear();
  received_.shrink_to_fit();
  return reply_.c_str();
}

}  // namespace vantrel
