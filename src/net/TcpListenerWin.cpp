// The server side of the network link on Windows, over Winsock: WSAPoll in place of poll,
// and Winsock errors as the errno values that the Linux side gives.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cerrno>
#include <cstdlib>

#include "net/TcpConnection.h"
#include "net/TcpListener.h"
#include "net/Winsock.h"
#include "platform/Platform.h"

namespace vantrel {
namespace {

int LastErrno() { return winsock::Errno(WSAGetLastError()); }

SOCKET Of(Socket s) { return static_cast<SOCKET>(s); }

std::string AddressText(const sockaddr_storage& a) {
  char host[NI_MAXHOST] = "?";
  char port[NI_MAXSERV] = "?";
  getnameinfo(reinterpret_cast<const sockaddr*>(&a), sizeof a, host, sizeof host, port, sizeof port,
              NI_NUMERICHOST | NI_NUMERICSERV);
  return HostPortText(host, std::atoi(port));
}

bool MakeNonBlocking(SOCKET s) {
  u_long on = 1;
  return ioctlsocket(s, FIONBIO, &on) == 0;
}

}  // namespace

Socket ListenTcp(const std::string& address, int port, int backlog, std::string& where) {
  winsock::Start();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const int rc = getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &list);
  if (rc != 0) {
    where = address + ": " + gai_strerrorA(rc);
    return kNoSocket;
  }
  SOCKET s = INVALID_SOCKET;
  int err = 0;
  for (const addrinfo* a = list; a != nullptr && s == INVALID_SOCKET; a = a->ai_next) {
    s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) continue;
    // No SO_REUSEADDR: on Windows it lets another program take a port in use. Exclusive use
    // instead, and a port in TIME_WAIT binds there anyway.
    const BOOL one = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
    if (!MakeNonBlocking(s) || ::bind(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0 ||
        ::listen(s, backlog) != 0) {
      err = LastErrno();
      closesocket(s);
      s = INVALID_SOCKET;
    }
  }
  freeaddrinfo(list);
  if (s == INVALID_SOCKET) {
    where = HostPortText(address, port) + ": " + platform::ErrorText(err);
    return kNoSocket;
  }
  // Kept from the programs that this one starts, as SOCK_CLOEXEC does on Linux.
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  sockaddr_storage bound{};
  int size = sizeof bound;
  getsockname(s, reinterpret_cast<sockaddr*>(&bound), &size);
  where = AddressText(bound);
  return static_cast<Socket>(s);
}

Socket AcceptTcp(Socket listener, std::string& peer) {
  sockaddr_storage from{};
  int size = sizeof from;
  const SOCKET s = ::accept(Of(listener), reinterpret_cast<sockaddr*>(&from), &size);
  if (s == INVALID_SOCKET) return kNoSocket;
  if (!MakeNonBlocking(s)) {
    closesocket(s);
    return kNoSocket;
  }
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  const BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  peer = AddressText(from);
  return static_cast<Socket>(s);
}

long ReceiveSome(Socket s, std::uint8_t* buffer, std::size_t size, int& err) {
  const int n = ::recv(Of(s), reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
  if (n != SOCKET_ERROR) return n;
  err = LastErrno();
  return -1;
}

long SendSome(Socket s, const std::uint8_t* bytes, std::size_t size, int& err) {
  const int n = ::send(Of(s), reinterpret_cast<const char*>(bytes), static_cast<int>(size), 0);
  if (n != SOCKET_ERROR) return n;
  err = LastErrno();
  return -1;
}

int PendingError(Socket s) {
  int error = 0;
  int size = sizeof error;
  getsockopt(Of(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
  return error != 0 ? winsock::Errno(error) : 0;
}

void CloseSocket(Socket s) {
  if (s != kNoSocket) closesocket(Of(s));
}

int WaitSockets(std::vector<SocketWatch>& watches, int timeoutMs) {
  std::vector<WSAPOLLFD> fds;
  fds.reserve(watches.size());
  for (SocketWatch& w : watches) {
    w.readable = w.writable = w.failed = false;
    const short events = static_cast<short>((w.forReading ? POLLRDNORM : 0) | (w.forWriting ? POLLWRNORM : 0));
    fds.push_back(WSAPOLLFD{Of(w.socket), events, 0});
  }
  const int r = WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs);
  if (r == SOCKET_ERROR) return WSAGetLastError() == WSAEINTR ? 0 : -1;
  for (std::size_t i = 0; i < fds.size(); ++i) {
    // WSAPoll tells a peer that only shut down its sending side as POLLHUP, where poll says
    // POLLIN and a read finds the end; a reset shows as POLLERR. So a hang-up is for the
    // read to find, as on Linux, and a failure only what is one there too.
    const bool hungUp = (fds[i].revents & POLLHUP) != 0;
    watches[i].readable = (fds[i].revents & POLLRDNORM) != 0 || (hungUp && watches[i].forReading);
    watches[i].writable = (fds[i].revents & POLLWRNORM) != 0;
    watches[i].failed = (fds[i].revents & (POLLERR | POLLNVAL)) != 0;
  }
  return r;
}

}  // namespace vantrel
