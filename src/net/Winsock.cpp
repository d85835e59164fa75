#include "net/Winsock.h"

#include <winsock2.h>

#include <cerrno>

namespace vantrel::winsock {

void Start() {
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

int Errno(int error) {
  switch (error) {
    case WSAEWOULDBLOCK: return EAGAIN;
    case WSAEINTR: return EAGAIN;
    case WSAECONNREFUSED: return ECONNREFUSED;
    case WSAETIMEDOUT: return ETIMEDOUT;
    case WSAEHOSTUNREACH: return EHOSTUNREACH;
    case WSAENETUNREACH: return ENETUNREACH;
    case WSAENETDOWN: return ENETDOWN;
    case WSAECONNRESET: return ECONNRESET;
    case WSAECONNABORTED: return ECONNABORTED;
    case WSAENOTCONN: return ENOTCONN;
    case WSAESHUTDOWN: return EPIPE;
    case WSAEADDRINUSE: return EADDRINUSE;
    case WSAEADDRNOTAVAIL: return EADDRNOTAVAIL;
    case WSAEACCES: return EACCES;
    case WSAEAFNOSUPPORT: return EAFNOSUPPORT;
    case WSAEMFILE: return EMFILE;
    case WSAENOBUFS: return ENOBUFS;
    case WSAEINVAL: return EINVAL;
    case WSANOTINITIALISED: return ENETDOWN;
    default: return EIO;
  }
}

}  // namespace vantrel::winsock
