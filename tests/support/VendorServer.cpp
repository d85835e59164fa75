#include "support/VendorServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vantrel::test {
namespace {

// A request that has not come in whole by then is dropped.
constexpr long kRequestTimeLimitMs = 10000;
// Header block of a request read at most; ours are a few hundred bytes.
constexpr std::size_t kHeaderLimit = 64 * 1024;
// Body of a request read at most.
constexpr std::size_t kBodyLimit = 1024 * 1024;
// Period at which waits look at the stop flag and the client.
constexpr int kTickMs = 10;

long NowMs() {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count());
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return std::string(s);
}

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

int Listen(int backlog, int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, backlog) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int PortOf(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

std::string Root(int port) { return "http://127.0.0.1:" + std::to_string(port) + "/"; }

}  // namespace

std::string HttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (SameName(key, name)) return value;
  }
  return {};
}

int HttpRequest::HeaderCount(std::string_view name) const {
  return static_cast<int>(std::count_if(headers.begin(), headers.end(),
                                        [&](const auto& h) { return SameName(h.first, name); }));
}

ScriptedReply ScriptedReply::Text(std::string body) {
  ScriptedReply r;
  r.body = std::move(body);
  return r;
}

ScriptedReply ScriptedReply::OfSize(std::size_t n) {
  static const char kPattern[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  ScriptedReply r;
  r.body.resize(n);
  for (std::size_t i = 0; i < n; ++i) r.body[i] = kPattern[i % (sizeof kPattern - 1)];
  return r;
}

ScriptedReply ScriptedReply::NotFound() {
  ScriptedReply r;
  r.status = 404;
  r.body =
      "<html><head><title>404 Not Found</title></head>"
      "<body><h1>Not Found</h1><p>The requested URL was not found on this server.</p></body></html>";
  return r;
}

ScriptedReply ScriptedReply::Reset() {
  ScriptedReply r;
  r.reset = true;
  return r;
}

ScriptedReply ScriptedReply::Held(std::string body) {
  ScriptedReply r = Text(std::move(body));
  r.hold = true;
  return r;
}

VendorServer::VendorServer(int port) {
  replies_[kCheckVersion] = ScriptedReply::Text("PASS");
  replies_[kSendFeedback] = ScriptedReply::Text("PASS");
  replies_[kTattler] = ScriptedReply::Text("STATE: PASS");
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) return;
  listener_ = Listen(16, port);
  if (listener_ < 0) return;
  port_ = PortOf(listener_);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

VendorServer::~VendorServer() {
  Stop();
  if (listener_ >= 0) close(listener_);
  for (int fd : wake_) {
    if (fd >= 0) close(fd);
  }
}

std::string VendorServer::RootUrl() const { return Root(port_); }

void VendorServer::SetReply(const std::string& path, ScriptedReply reply) {
  std::lock_guard<std::mutex> guard(lock_);
  replies_[path] = std::move(reply);
}

void VendorServer::Release() { released_.store(true); }

void VendorServer::SetObserver(std::function<void(const HttpRequest&)> observer) {
  std::lock_guard<std::mutex> guard(lock_);
  observer_ = std::move(observer);
}

std::vector<HttpRequest> VendorServer::Requests() const {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

std::size_t VendorServer::RequestCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_.size();
}

std::vector<std::string> VendorServer::Events() const {
  std::lock_guard<std::mutex> guard(lock_);
  return events_;
}

void VendorServer::Note(std::string event) {
  std::lock_guard<std::mutex> guard(lock_);
  events_.push_back(std::move(event));
}

void VendorServer::Stop() {
  if (stopping_.exchange(true)) return;
  if (wake_[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(wake_[1], &byte, 1);
  }
  if (acceptor_.joinable()) acceptor_.join();
  for (auto& c : connections_) {
    if (c->thread.joinable()) c->thread.join();
  }
  connections_.clear();
}

void VendorServer::AcceptLoop() {
  while (!stopping_.load()) {
    pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) break;
    if (!(fds[0].revents & POLLIN)) continue;
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    // Finished connections are joined here, so a long run by hand does not pile them up.
    connections_.remove_if([](const std::unique_ptr<Connection>& c) {
      if (!c->done.load()) return false;
      c->thread.join();
      return true;
    });
    auto connection = std::make_unique<Connection>();
    Connection* raw = connection.get();
    raw->thread = std::thread([this, fd, raw] {
      Serve(fd);
      close(fd);
      raw->done.store(true);
    });
    connections_.push_back(std::move(connection));
  }
}

bool VendorServer::WaitFor(int fd, const std::function<bool()>& ready, long deadlineMs) {
  while (true) {
    if (ready && ready()) return true;
    if (stopping_.load()) return false;
    if (deadlineMs >= 0 && NowMs() >= deadlineMs) return true;
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, kTickMs) > 0) {
      if (fds[1].revents != 0) return false;
      if (fds[0].revents & (POLLHUP | POLLERR)) return false;
      if (fds[0].revents & POLLIN) {
        // The request has been read in full: the end of the stream is the client leaving;
        // anything else it sends is dropped.
        char buf[512];
        const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;
      }
    }
  }
}

bool VendorServer::ReadRequest(int fd, HttpRequest& request) {
  const long deadline = NowMs() + kRequestTimeLimitMs;
  std::string data;
  std::size_t headerEnd = std::string::npos;
  std::size_t contentLength = 0;
  while (true) {
    if (headerEnd == std::string::npos) {
      headerEnd = data.find("\r\n\r\n");
      if (headerEnd != std::string::npos) {
        std::string_view head(data.data(), headerEnd);
        std::size_t eol = head.find("\r\n");
        const std::string_view line = head.substr(0, eol);
        const std::size_t s1 = line.find(' ');
        const std::size_t s2 = line.rfind(' ');
        if (s1 == std::string::npos || s2 == s1) return false;
        request.method = std::string(line.substr(0, s1));
        request.target = std::string(line.substr(s1 + 1, s2 - s1 - 1));
        request.version = std::string(line.substr(s2 + 1));
        while (eol != std::string_view::npos) {
          const std::size_t start = eol + 2;
          eol = head.find("\r\n", start);
          const std::string_view h = head.substr(start, eol == std::string_view::npos ? std::string_view::npos : eol - start);
          const std::size_t colon = h.find(':');
          if (colon == std::string_view::npos) continue;
          request.headers.emplace_back(std::string(h.substr(0, colon)), Trim(h.substr(colon + 1)));
        }
        const std::string length = request.Header("Content-Length");
        if (!length.empty()) {
          char* end = nullptr;
          const unsigned long n = std::strtoul(length.c_str(), &end, 10);
          if (*end != '\0' || n > kBodyLimit) return false;
          contentLength = n;
        }
      } else if (data.size() > kHeaderLimit) {
        return false;
      }
    }
    if (headerEnd != std::string::npos && data.size() >= headerEnd + 4 + contentLength) {
      request.body = data.substr(headerEnd + 4, contentLength);
      return true;
    }
    const long left = deadline - NowMs();
    if (left <= 0 || stopping_.load()) return false;
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(std::min<long>(left, 100))) <= 0) continue;
    if (fds[1].revents != 0) return false;
    char buf[4096];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    data.append(buf, static_cast<std::size_t>(n));
  }
}

bool VendorServer::SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    if (stopping_.load()) return false;
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    if (p.revents & (POLLHUP | POLLERR)) return false;
    const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void VendorServer::Serve(int fd) {
  HttpRequest request;
  if (!ReadRequest(fd, request)) return;
  // The path without a query, as the scripts are chosen.
  const std::string path = request.target.substr(0, request.target.find('?'));
  ScriptedReply reply;
  std::function<void(const HttpRequest&)> observer;
  {
    std::lock_guard<std::mutex> guard(lock_);
    requests_.push_back(request);
    events_.push_back("begin " + path);
    auto it = replies_.find(path);
    reply = it != replies_.end() ? it->second : ScriptedReply::NotFound();
    observer = observer_;
  }
  if (observer) observer(request);

  if (reply.reset) {
    // A zero linger time makes close() send a reset instead of an orderly end.
    const linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    Note("answer " + path);
    return;
  }
  if (reply.delayMs > 0 && !WaitFor(fd, nullptr, NowMs() + reply.delayMs)) return;
  if (reply.hold && !WaitFor(fd, [this] { return released_.load(); }, -1)) return;
  Note("answer " + path);

  std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + Reason(reply.status) +
                     "\r\nContent-Type: text/html\r\nContent-Length: " +
                     std::to_string(reply.body.size()) + "\r\nConnection: close\r\n\r\n";
  if (reply.stallAfter >= 0) {
    const std::size_t part = std::min(reply.body.size(), static_cast<std::size_t>(reply.stallAfter));
    if (!SendAll(fd, head + reply.body.substr(0, part))) return;
    WaitFor(fd, nullptr, -1);
    return;
  }
  if (!SendAll(fd, head + reply.body)) return;
  // An orderly end: the client reads to the last byte, then closes its side.
  shutdown(fd, SHUT_WR);
  WaitFor(fd, nullptr, NowMs() + 1000);
}

SilentListener::SilentListener() {
  listener_ = Listen(0, 0);
  if (listener_ < 0) return;
  port_ = PortOf(listener_);
  // With a backlog of 0 the queue holds one connection; once that one is in, further
  // connection requests are dropped unanswered.
  filler_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port_));
  filled_ = filler_ >= 0 && connect(filler_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

SilentListener::~SilentListener() {
  if (filler_ >= 0) close(filler_);
  if (listener_ >= 0) close(listener_);
}

std::string SilentListener::RootUrl() const { return Root(port_); }

int UnusedPort() {
  const int fd = Listen(1, 0);
  if (fd < 0) return 0;
  const int port = PortOf(fd);
  close(fd);
  return port;
}

}  // namespace vantrel::test
