#include "TcpServer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "SlaveLog.h"
#include "modbus/ModbusFrame.h"
#include "net/TcpListener.h"
#include "platform/Platform.h"

namespace vantrel::slave {
namespace {

constexpr long long kMs = 1000000;
// RTU over TCP: a request of a function without fixed layout ends when no byte has come for
// this long, as a gateway passes a serial frame on in one piece.
constexpr long long kRtuQuietNs = 20 * kMs;
// The bytes kept per connection that are not yet a whole request. The longest request is
// 260 bytes; a connection that fills this without completing one sends no Modbus, and is
// disconnected.
constexpr std::size_t kInputBound = 4096;
// What one connection gets per turn of the loop, so that a backlog on one holds up no
// other: this many requests answered, and one read.
constexpr int kRequestsPerTurn = 64;
// A connection with this many replies not yet taken by its client gets no more answered
// (nor read) until it takes them: what a client does not read must not pile up here.
constexpr std::size_t kRepliesQueued = 64;
constexpr int kAcceptsPerTurn = 16;
// The longest wait for sockets: a stop asked for just before the wait is seen this soon.
constexpr long long kLongestWaitNs = 200 * kMs;

struct Chunk {
  long long dueNs = 0;
  std::vector<std::uint8_t> bytes;
  bool closeAfter = false;
};

struct Client {
  Socket fd = kNoSocket;
  std::string name;  // the peer's address:port
  // The bytes received: in[begin, end) are not yet taken as requests.
  std::vector<std::uint8_t> in = std::vector<std::uint8_t>(kInputBound);
  std::size_t begin = 0;
  std::size_t end = 0;
  std::deque<Chunk> out;
  std::size_t sent = 0;      // of out.front()
  long long lastInNs = 0;    // the last bytes in: the silence that ends an RTU request
  long long progressNs = 0;  // the last whole request in, or reply bytes out: the idle end
  bool ended = false;        // the client has shut down its sending side
  bool gone = false;

  const std::uint8_t* pending() const { return in.data() + begin; }
  std::size_t pendingSize() const { return end - begin; }
};

class Server {
 public:
  Server(const TcpServerOptions& options, SlaveCore& core) : options_(options), core_(core) {}

  void Accept(Socket listener, long long now) {
    for (int i = 0; i < kAcceptsPerTurn; ++i) {  // the rest wait in the listen queue
      std::string name;
      // Without Nagle's algorithm: each reply (or half of a split one) is a segment of its
      // own, sent at once.
      const Socket fd = AcceptTcp(listener, name);
      if (fd == kNoSocket) return;
      if (static_cast<int>(clients_.size()) >= options_.maxConnections) {
        LogNotice(name + " refused: " + std::to_string(clients_.size()) +
                  " connections are open, the most there may be");
        CloseSocket(fd);
        continue;
      }
      Client c;
      c.fd = fd;
      c.name = name;
      c.lastInNs = c.progressNs = now;
      clients_.push_back(std::move(c));
      LogNotice(name + " connected (" + std::to_string(clients_.size()) + " open)");
    }
  }

  // A client is read only once the requests it sent before are answered, so that it cannot
  // send faster than it is served: TCP's flow control holds it back.
  bool WantsInput(const Client& c, long long now) const {
    const int length = Next(c, now).length;
    return !c.gone && !c.ended && c.pendingSize() < kInputBound &&
           (length == 0 || length == RequestSpan::kEndsBySilence);
  }

  // One read, of what fits below the bound.
  void Read(Client& c, long long now) {
    // What is kept moves to the front: no whole request, so mostly the start of one.
    std::memmove(c.in.data(), c.pending(), c.pendingSize());
    c.end -= c.begin;
    c.begin = 0;
    int err = 0;
    const long n = ReceiveSome(c.fd, c.in.data() + c.end, kInputBound - c.end, err);
    if (n > 0) {
      c.end += static_cast<std::size_t>(n);
      c.lastInNs = now;
    } else if (n == 0) {
      c.ended = true;  // what it sent before is still answered
    } else if (err != EAGAIN) {
      Drop(c, platform::ErrorText(err));
    }
  }

  // The connection was reset, or closed both ways, while it was not being read.
  void Lost(Client& c) {
    const int error = PendingError(c.fd);
    Drop(c, error != 0 ? platform::ErrorText(error) : "closed the connection");
  }

  // A turn of one client: its waiting requests answered (a bounded number of them), its
  // replies sent as they fall due, and the connection closed when it is done or idle.
  void Serve(Client& c, long long now) {
    TakeRequests(c, now);
    Send(c, now);
    if (c.gone) return;
    if (c.ended && c.out.empty() && Next(c, now).length <= 0) {
      Drop(c, "closed the connection");
    } else if ((c.out.empty() || c.out.front().dueNs <= now) &&
               now - c.progressNs >= options_.idleSeconds * 1000 * kMs) {
      // A reply held back by a fault is our own doing; one the client does not take is not.
      Drop(c, "no whole request in " + std::to_string(options_.idleSeconds) + " s: closed");
    }
  }

  // The earliest time something is due, for the wait: a request to answer, a reply, a quiet
  // gap, an idle end. What is due already waits for room to send, not for the clock.
  long long NextDueNs(long long now) const {
    long long next = now + kLongestWaitNs;
    for (const Client& c : clients_) {
      const RequestSpan span = Next(c, now);
      if (span.length > 0 && c.out.size() < kRepliesQueued) return now;
      if (span.length == RequestSpan::kEndsBySilence) next = std::min(next, c.lastInNs + kRtuQuietNs);
      if (!c.out.empty() && c.out.front().dueNs > now) next = std::min(next, c.out.front().dueNs);
      next = std::min(next, c.progressNs + options_.idleSeconds * 1000 * kMs);
    }
    return std::max(next, now);
  }

  void Forget() {
    clients_.erase(std::remove_if(clients_.begin(), clients_.end(), [](const Client& c) { return c.gone; }),
                   clients_.end());
  }

  std::vector<Client>& clients() { return clients_; }

  void CloseAll() {
    for (Client& c : clients_) CloseSocket(c.fd);
    clients_.clear();
  }

 private:
  // The next request among the bytes kept. One without fixed layout (RTU) is whole once its
  // bytes have stopped coming, or the client's sending side has.
  RequestSpan Next(const Client& c, long long now) const {
    RequestSpan span = SlaveCore::FindRequest(core_.mode(), c.pending(), c.pendingSize());
    if (span.length == RequestSpan::kEndsBySilence && (c.ended || now - c.lastInNs >= kRtuQuietNs)) {
      span.length = static_cast<int>(c.pendingSize() - span.skip);
    }
    return span;
  }

  void TakeRequests(Client& c, long long now) {
    for (int i = 0; i < kRequestsPerTurn && !c.gone && c.out.size() < kRepliesQueued; ++i) {
      const RequestSpan span = Next(c, now);
      c.begin += span.skip;
      if (span.length == RequestSpan::kImpossible) {
        const std::string header = Hex(c.pending(), std::min<std::size_t>(6, c.pendingSize()));
        Drop(c, "sent an MBAP header with a length no request can have (" + header + "): disconnected");
        return;
      }
      if (span.length <= 0) {
        if (c.pendingSize() == kInputBound) {
          core_.NoteOverrun();  // the bytes go with the connection
          Drop(c, "sent " + std::to_string(kInputBound) + " bytes that hold no whole request: disconnected");
        }
        return;
      }
      Respond(c, static_cast<std::size_t>(span.length), now);
    }
  }

  void Respond(Client& c, std::size_t length, long long now) {
    const std::uint8_t* frame = c.pending();  // in place until the next read
    c.begin += length;
    // A frame that checks out (on Modbus TCP its header delimits it; there is no check), so
    // that garbage the framing happens to delimit keeps no connection open.
    if (core_.mode() == ModbusMode::Tcp || Crc16(frame, static_cast<std::uint16_t>(length)) == 0) {
      c.progressNs = now;
    }
    std::string change;
    const auto reply = core_.Answer(frame, length, &change);
    LogLine(c.name + " -> " + FrameText(core_.mode(), frame, length) + RequestNote(change, reply.has_value()));
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

  void Send(Client& c, long long now) {
    while (!c.gone && !c.out.empty() && c.out.front().dueNs <= now) {
      Chunk& chunk = c.out.front();
      int err = 0;
      const long n = SendSome(c.fd, chunk.bytes.data() + c.sent, chunk.bytes.size() - c.sent, err);
      if (n < 0 && err == EAGAIN) return;  // the wait tells when there is room
      if (n < 0) {
        Drop(c, platform::ErrorText(err));
        return;
      }
      c.sent += static_cast<std::size_t>(n);
      c.progressNs = now;
      if (c.sent < chunk.bytes.size()) continue;
      LogLine(c.name + " <- " + FrameText(core_.mode(), chunk.bytes.data(), chunk.bytes.size()));
      if (chunk.closeAfter) Drop(c, "closed half way through the reply, as the fault asks");
      c.out.pop_front();
      c.sent = 0;
    }
  }

  void Drop(Client& c, const std::string& why) {
    if (c.gone) return;
    LogNotice(c.name + " " + why);
    CloseSocket(c.fd);
    c.gone = true;
  }

  const TcpServerOptions& options_;
  SlaveCore& core_;
  std::vector<Client> clients_;
};

}  // namespace

int ServeTcp(const TcpServerOptions& options, SlaveCore& core, const volatile std::sig_atomic_t& stop) {
  std::string where;
  const Socket listener = ListenTcp(options.address, options.port, 64, where);
  if (listener == kNoSocket) {
    std::fprintf(stderr, "vantrel-slave: cannot listen on %s\n", where.c_str());
    return 2;
  }
  std::printf("vantrel-slave: %s on %s %s (at most %d connections, idle ones closed after %d s)\n",
              SlavesText(core.ids()).c_str(), ModeName(core.mode()), where.c_str(), options.maxConnections, options.idleSeconds);
  std::fflush(stdout);

  Server server(options, core);
  std::vector<SocketWatch> watches;
  // Every turn is bounded (requests, reads, accepts), so the stop is seen within a turn.
  while (!stop) {
    const long long now = NowNs();
    watches.assign(1, SocketWatch{listener, true, false});
    for (const Client& c : server.clients()) {
      const bool waiting = !c.out.empty() && c.out.front().dueNs <= now;  // only for room to send
      watches.push_back(SocketWatch{c.fd, server.WantsInput(c, now), waiting});
    }
    const long long waitMs = (server.NextDueNs(now) - now + kMs - 1) / kMs;
    if (WaitSockets(watches, static_cast<int>(waitMs)) < 0) break;
    const long long then = NowNs();
    // The clients watched are the first watches.size() - 1; those accepted now come after them.
    for (std::size_t i = 1; i < watches.size(); ++i) {
      Client& c = server.clients()[i - 1];
      if (watches[i].readable) {
        server.Read(c, then);
      } else if (watches[i].failed) {
        server.Lost(c);
      }
    }
    for (Client& c : server.clients()) server.Serve(c, then);
    server.Forget();
    if (watches[0].readable) server.Accept(listener, then);
  }
  server.CloseAll();
  CloseSocket(listener);
  return 0;
}

}  // namespace vantrel::slave
