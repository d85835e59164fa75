// vantrel-slave over TCP: Modbus TCP, or RTU over TCP as a serial-to-Ethernet gateway
// carries it, for several clients at once, each on its own connection.
#pragma once

#include <csignal>
#include <string>

#include "SlaveCore.h"

namespace vantrel::slave {

struct TcpServerOptions {
  std::string address = "127.0.0.1";
  int port = 502;           // 0: a free port of the system's choosing
  int maxConnections = 32;  // one more is accepted and closed at once
  int idleSeconds = 60;     // a connection that completes no request for this long is closed
};

// Listens, prints "vantrel-slave: slave ID on TCP ADDRESS:PORT ..." ("slaves 1,5 on ...";
// "on RTU over TCP")
// on standard output, then serves the core's answers, framed in its mode, until stop is
// set. Requests on one connection are answered in turn; a delayed reply holds up only its
// own connection. The connections are served in turn, a few requests each, and a client is
// read only as fast as it is answered, so that no backlog holds up the others. A client that
// sends an MBAP length no request can have, or 4096 bytes without a whole request, is
// disconnected; one that shuts down its sending side still gets its replies.
// Returns 0, or 2 when it cannot listen (said on standard error).
int ServeTcp(const TcpServerOptions& options, SlaveCore& core, const volatile std::sig_atomic_t& stop);

}  // namespace vantrel::slave
