// One HTTP request against a full URL, and its whole reply body as text.
//
// A form post goes out as POST to the URL's path (the URL's port, or the scheme's default),
// with the agent "Pellam Software HTTP Retriever 1.0", "Accept: */*", the one extra header
// "Content-Type: application/x-www-form-urlencoded" and the body bytes unchanged; no proxy,
// nothing cached. The HTTP status is not examined: the body of an error page is the reply.
// Every request is bounded by a connect time-out and a total time-out.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrel {

// Longest wait for the server to accept the connection (name lookup included).
inline constexpr std::chrono::milliseconds kConnectTimeout{5000};
// Longest time one request may take in all, connecting, sending and reading.
inline constexpr std::chrono::milliseconds kTotalTimeout{15000};
// Reply bytes kept at most; a longer body is cut here, as a read that fails part-way.
inline constexpr std::size_t kReplyLimit = 16 * 1024 * 1024;

struct HttpTimeouts {
  std::chrono::milliseconds connect = kConnectTimeout;
  std::chrono::milliseconds total = kTotalTimeout;
};

class HttpRetriever {
 public:
  // lastError() when Retrieve is given no URL.
  static constexpr std::uint32_t kNoUrl = 0xFFFFFFFF;
  // The reply is read in pieces of this size; a NUL byte ends what is taken of a piece.
  static constexpr std::size_t kChunkSize = 8191;

  // Takes the process-wide time-outs in force (see SetDefaultTimeouts). A handle that
  // cannot be made is not reported here; every request then fails and sets lastError().
  HttpRetriever();
  ~HttpRetriever();
  HttpRetriever(const HttpRetriever&) = delete;
  HttpRetriever& operator=(const HttpRetriever&) = delete;

  // GET of the URL. False on failure, with the error in lastError().
  bool OpenUrl(const char* url);
  // Form post of bodyLength bytes of body (-1: its string length). True when the server
  // answered; false when connecting or sending failed, with the error in lastError().
  bool PostForm(const char* url, const char* body, long bodyLength = -1);
  // PostForm (usePost) or OpenUrl, then the reply body as NUL-terminated text, valid until
  // the next Retrieve or destruction. Null when url is null (lastError() kNoUrl) or the
  // request failed; the previous reply then stays as it was. An empty body gives "".
  const char* Retrieve(const char* url, bool usePost, const char* body, long bodyLength = -1);

  // The libcurl code of the last failed request (CURLcode), kNoUrl for a missing URL,
  // 0 while none failed.
  std::uint32_t lastError() const { return lastError_; }

  void SetTimeouts(HttpTimeouts timeouts) { timeouts_ = timeouts; }

  // The time-outs that new retrievers take; safe to call from any thread.
  static void SetDefaultTimeouts(HttpTimeouts timeouts);
  static HttpTimeouts DefaultTimeouts();

 private:
  bool Perform(const char* url, bool post, const char* body, long bodyLength);

  std::uint32_t lastError_ = 0;
  void* handle_ = nullptr;  // the CURL easy handle
  HttpTimeouts timeouts_;
  // Body bytes of the last request that succeeded, not yet taken by Retrieve.
  std::string received_;
  std::string reply_;
};

}  // namespace vantrel
