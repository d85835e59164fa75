// The server side of the network link: a listening TCP socket, the connections it accepts,
// their non-blocking reads and writes, and one wait for readiness over many sockets. For a
// program that serves many clients from one thread (vantrel-slave); a client connects with
// TcpConnection. Errors are errno values on Windows too, as the links give them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

// A socket: a descriptor on Linux, a SOCKET on Windows.
using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// A non-blocking socket listening on address and port (0: a free port of the system's
// choosing), or kNoSocket. where is what it listens on as "address:port", or, on failure,
// what went wrong ("address: why").
Socket ListenTcp(const std::string& address, int port, int backlog, std::string& where);

// A connection waiting on listener, accepted non-blocking with Nagle's algorithm off (a reply
// is one small segment, sent at once); kNoSocket when none waits. peer: its address:port.
Socket AcceptTcp(Socket listener, std::string& peer);

// At most size bytes of what has arrived: the count; 0 when the other end shut down its
// sending side; -1 otherwise, with err EAGAIN when nothing has arrived, else the failure.
long ReceiveSome(Socket s, std::uint8_t* buffer, std::size_t size, int& err);
// As much of size bytes as there is room for, never raising SIGPIPE: the count, or -1 with
// err EAGAIN when there is no room, else the failure.
long SendSome(Socket s, const std::uint8_t* bytes, std::size_t size, int& err);
// The failure pending on a socket (SO_ERROR), 0 when none.
int PendingError(Socket s);
void CloseSocket(Socket s);

struct SocketWatch {
  Socket socket = kNoSocket;
  bool forReading = false;
  bool forWriting = false;
  // Set by WaitSockets; failed: reset or closed both ways, whether watched for that or not.
  bool readable = false;
  bool writable = false;
  bool failed = false;
};

// Waits at most timeoutMs until one of the sockets is ready as watched (poll; WSAPoll on
// Windows): how many are, 0 after the time-out or a signal, -1 when the wait itself failed.
int WaitSockets(std::vector<SocketWatch>& watches, int timeoutMs);

}  // namespace vantrel
