// What the network link is on every platform: the host and port texts. The connection
// itself is the platform's (TcpConnectionPosix.cpp, TcpConnectionWin.cpp).
#include "net/TcpConnection.h"

#include <cstdlib>

namespace vantrel {
namespace {

bool ParsePort(const std::string& text, int& port) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const int n = std::atoi(text.c_str());
  if (n < 1 || n > 65535) return false;
  port = n;
  return true;
}

}  // namespace

bool ParseHostPort(const std::string& text, int defaultPort, std::string& host, int& port) {
  std::string rest;
  if (!text.empty() && text[0] == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string::npos) return false;
    host = text.substr(1, close - 1);
    rest = text.substr(close + 1);
    if (!rest.empty() && rest[0] != ':') return false;
  } else if (const std::size_t colon = text.find(':');
             colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
    host = text.substr(0, colon);
    rest = text.substr(colon);
  } else {
    host = text;  // a name, an IPv4 address, or an IPv6 address without a port
  }
  port = defaultPort;
  if (!rest.empty() && !ParsePort(rest.substr(1), port)) return false;
  return !host.empty() && port >= 1 && port <= 65535;
}

std::string HostPortText(const std::string& host, int port) {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace vantrel
