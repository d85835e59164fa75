#include "TcpServer.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "SlaveLog.h"
#include "net/TcpConnection.h"

namespace vantrel::slave {
namespace {

constexpr long long kMs = 1000000;
// RTU over TCP: a request of a function without fixed layout ends when no byte has come for
// this long, as a gateway passes a serial frame on in one piece.
constexpr long long kRtuQuietNs = 20 * kMs;

struct Chunk {
  long long dueNs = 0;
  std::vector<std::uint8_t> bytes;
  bool closeAfter = false;
};

struct Client {
  int fd = -1;
  std::string name;  // the peer's address:port
  std::vector<std::uint8_t> in;
  std::deque<Chunk> out;
  std::size_t sent = 0;  // of out.front()
  long long lastNs = 0;  // the last bytes in or out
  bool gone = false;
};

std::string PeerName(const sockaddr_storage& a) {
  char host[NI_MAXHOST] = "?";
  char port[NI_MAXSERV] = "?";
  getnameinfo(reinterpret_cast<const sockaddr*>(&a), sizeof a, host, sizeof host, port, sizeof port,
              NI_NUMERICHOST | NI_NUMERICSERV);
  return HostPortText(host, std::atoi(port));
}

int Listen(const TcpServerOptions& options, std::string& where) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const int rc = getaddrinfo(options.address.c_str(), std::to_string(options.port).c_str(), &hints, &list);
  if (rc != 0) {
    where = options.address + ": " + gai_strerror(rc);
    return -1;
  }
  int fd = -1;
  int err = 0;
  for (const addrinfo* a = list; a != nullptr && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, 64) != 0) {
      err = errno;
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(list);
  if (fd < 0) {
    where = HostPortText(options.address, options.port) + ": " + std::strerror(err);
    return -1;
  }
  sockaddr_storage bound{};
  socklen_t size = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size);
  where = PeerName(bound);
  return fd;
}

class Server {
 public:
  Server(const TcpServerOptions& options, SlaveCore& core) : options_(options), core_(core) {}

  void Accept(int listener, long long now) {
    for (;;) {
      sockaddr_storage peer{};
      socklen_t size = sizeof peer;
      const int fd = accept4(listener, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) return;
      const std::string name = PeerName(peer);
      if (static_cast<int>(clients_.size()) >= options_.maxConnections) {
        LogLine(name + " refused: " + std::to_string(clients_.size()) + " connections are open, the most there may be");
        close(fd);
        continue;
      }
      const int one = 1;  // each reply (or half of a split one) is a segment of its own, sent at once
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      Client c;
      c.fd = fd;
      c.name = name;
      c.lastNs = now;
      clients_.push_back(std::move(c));
      LogLine(name + " connected (" + std::to_string(clients_.size()) + " open)");
    }
  }

  void Receive(Client& c, long long now) {
    std::uint8_t chunk[4096];
    for (;;) {
      const ssize_t n = recv(c.fd, chunk, sizeof chunk, MSG_DONTWAIT);
      if (n > 0) {
        c.in.insert(c.in.end(), chunk, chunk + n);
        c.lastNs = now;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n == 0 || errno != EAGAIN) Drop(c, n == 0 ? "closed the connection" : std::strerror(errno));
      break;
    }
    while (!c.gone) {
      const RequestSpan span = SlaveCore::FindRequest(core_.mode(), c.in.data(), c.in.size());
      c.in.erase(c.in.begin(), c.in.begin() + static_cast<long>(span.skip));
      if (span.length == RequestSpan::kImpossible) {
        const std::string header = Hex(c.in.data(), std::min<std::size_t>(6, c.in.size()));
        Drop(c, "sent an MBAP header with a length no request can have (" + header + "): disconnected");
        break;
      }
      if (span.length <= 0) break;
      Respond(c, static_cast<std::size_t>(span.length), now);
    }
  }

  // A request without fixed layout on RTU over TCP, once the bytes have stopped coming.
  void EndBySilence(Client& c, long long now) {
    if (c.gone || c.in.empty() || now - c.lastNs < kRtuQuietNs) return;
    if (SlaveCore::FindRequest(core_.mode(), c.in.data(), c.in.size()).length == RequestSpan::kEndsBySilence) {
      Respond(c, c.in.size(), now);
    }
  }

  void Send(Client& c, long long now) {
    while (!c.gone && !c.out.empty() && c.out.front().dueNs <= now) {
      Chunk& chunk = c.out.front();
      const ssize_t n =
          send(c.fd, chunk.bytes.data() + c.sent, chunk.bytes.size() - c.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return;  // POLLOUT tells when there is room
      if (n < 0) {
        Drop(c, std::strerror(errno));
        return;
      }
      c.sent += static_cast<std::size_t>(n);
      c.lastNs = now;
      if (c.sent < chunk.bytes.size()) continue;
      LogLine(c.name + " <- " + FrameText(core_.mode(), chunk.bytes.data(), chunk.bytes.size()));
      if (chunk.closeAfter) Drop(c, "closed half way through the reply, as the fault asks");
      c.out.pop_front();
      c.sent = 0;
    }
  }

  void CloseIdle(Client& c, long long now) {
    if (!c.gone && c.out.empty() && now - c.lastNs >= options_.idleSeconds * 1000 * kMs) {
      Drop(c, "idle for " + std::to_string(options_.idleSeconds) + " s: closed");
    }
  }

  // The earliest time something is due, for the wait: a reply, a quiet gap, an idle end.
  // What is due already waits for room to send (POLLOUT), not for the clock.
  long long NextDueNs(long long now) const {
    long long next = now + 1000 * kMs;
    for (const Client& c : clients_) {
      if (!c.out.empty() && c.out.front().dueNs > now) next = std::min(next, c.out.front().dueNs);
      if (c.out.empty()) next = std::min(next, c.lastNs + options_.idleSeconds * 1000 * kMs);
      if (!c.in.empty() &&
          SlaveCore::FindRequest(core_.mode(), c.in.data(), c.in.size()).length == RequestSpan::kEndsBySilence) {
        next = std::min(next, c.lastNs + kRtuQuietNs);
      }
    }
    return std::max(next, now);
  }

  void Forget() {
    clients_.erase(std::remove_if(clients_.begin(), clients_.end(), [](const Client& c) { return c.gone; }),
                   clients_.end());
  }

  std::vector<Client>& clients() { return clients_; }

  void CloseAll() {
    for (Client& c : clients_) close(c.fd);
    clients_.clear();
  }

 private:
  void Respond(Client& c, std::size_t length, long long now) {
    const std::vector<std::uint8_t> frame(c.in.begin(), c.in.begin() + static_cast<long>(length));
    c.in.erase(c.in.begin(), c.in.begin() + static_cast<long>(length));
    std::string change;
    const auto reply = core_.Answer(frame.data(), frame.size(), &change);
    LogLine(c.name + " -> " + FrameText(core_.mode(), frame.data(), frame.size()) +
            RequestNote(change, reply.has_value()));
    if (!reply) return;
    // After the replies still on their way, so that they go in turn.
    long long due = std::max(now, c.out.empty() ? now : c.out.back().dueNs) + reply->delayMs * kMs;
    const auto& b = reply->bytes;
    if (reply->splitAt == 0) {
      c.out.push_back({due, b, false});
      return;
    }
    const long split = static_cast<long>(reply->splitAt);
    c.out.push_back({due, {b.begin(), b.begin() + split}, reply->cutOff});
    if (!reply->cutOff) c.out.push_back({due + reply->splitPauseMs * kMs, {b.begin() + split, b.end()}, false});
  }

  void Drop(Client& c, const std::string& why) {
    if (c.gone) return;
    LogLine(c.name + " " + why);
    close(c.fd);
    c.gone = true;
  }

  const TcpServerOptions& options_;
  SlaveCore& core_;
  std::vector<Client> clients_;
};

}  // namespace

int ServeTcp(const TcpServerOptions& options, SlaveCore& core, const volatile std::sig_atomic_t& stop) {
  std::string where;
  const int listener = Listen(options, where);
  if (listener < 0) {
    std::fprintf(stderr, "vantrel-slave: cannot listen on %s\n", where.c_str());
    return 2;
  }
  std::printf("vantrel-slave: %s on %s %s (at most %d connections, idle ones closed after %d s)\n",
              SlavesText(core.ids()).c_str(), ModeName(core.mode()), where.c_str(), options.maxConnections, options.idleSeconds);
  std::fflush(stdout);

  Server server(options, core);
  std::vector<pollfd> fds;
  while (!stop) {
    const long long now = NowNs();
    fds.assign(1, pollfd{listener, POLLIN, 0});
    for (const Client& c : server.clients()) {
      const bool waiting = !c.out.empty() && c.out.front().dueNs <= now;  // only for room to send
      fds.push_back(pollfd{c.fd, static_cast<short>(POLLIN | (waiting ? POLLOUT : 0)), 0});
    }
    const long long waitMs = std::max(0LL, (server.NextDueNs(now) - now + kMs - 1) / kMs);
    if (poll(fds.data(), fds.size(), static_cast<int>(waitMs)) < 0 && errno != EINTR) break;
    const long long then = NowNs();
    // The clients polled are the first fds.size() - 1; those accepted now come after them.
    for (std::size_t i = 1; i < fds.size(); ++i) {
      Client& c = server.clients()[i - 1];
      if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) server.Receive(c, then);
    }
    for (Client& c : server.clients()) {
      server.EndBySilence(c, then);
      server.Send(c, then);
      server.CloseIdle(c, then);
    }
    server.Forget();
    if (fds[0].revents & POLLIN) server.Accept(listener, then);
  }
  server.CloseAll();
  close(listener);
  return 0;
}

}  // namespace vantrel::slave
