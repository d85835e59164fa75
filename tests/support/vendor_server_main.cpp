// vantrel-vendor-server: the test stand-in for the vendor's web server, run by hand to try
// the program's web features against it.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <mutex>
#include <string>

#include "support/VendorServer.h"

using vantrel::test::HttpRequest;
using vantrel::test::ScriptedReply;
using vantrel::test::VendorServer;

namespace {

const char kUsage[] =
    "Usage: vantrel-vendor-server [options]\n"
    "\n"
    "A stand-in for the vendor's web server on 127.0.0.1. It answers the program's three\n"
    "form scripts and prints every request it receives (method, path, headers, body).\n"
    "\n"
    "  SCRIPT is checkversion, sendfeedback or tattler (or a path such as /script/x.php).\n"
    "  Unless told otherwise they answer \"PASS\", \"PASS\" and \"STATE: PASS\"; any other\n"
    "  path gets a 404 page.\n"
    "\n"
    "Options:\n"
    "  --port N               listen on port N (default: a free port, printed at start)\n"
    "  --reply SCRIPT=TEXT    answer TEXT, e.g. --reply checkversion=UPDATE,\n"
    "                         --reply checkversion=FAIL, --reply 'tattler=STATE: FAILED'\n"
    "  --empty SCRIPT         answer with an empty body\n"
    "  --size SCRIPT=BYTES    answer BYTES bytes of a repeating pattern (1048576 for 1 MB)\n"
    "  --not-found SCRIPT     answer the 404 page\n"
    "  --slow SCRIPT=MS       wait MS milliseconds before answering (with its text)\n"
    "  --reset SCRIPT         read the request, then reset the connection\n"
    "  --quiet                do not print the requests\n"
    "  -h, --help             this text\n"
    "\n"
    "To try the program against it, build the program with this server as its vendor root:\n"
    "  vantrel-vendor-server --port 8765 --reply checkversion=UPDATE\n"
    "  cmake -S . -B build -DVANTREL_VENDOR_URL=http://127.0.0.1:8765/ && cmake --build build\n"
    "The server runs until it is interrupted (Ctrl+C).\n";

std::string ScriptPath(const std::string& name) {
  if (!name.empty() && name.front() == '/') return name;
  if (name == "checkversion" || name == "sendfeedback" || name == "tattler") {
    return "/script/" + name + ".php";
  }
  return {};
}

bool Fail(const std::string& why) {
  std::cerr << "vantrel-vendor-server: " << why << "\n(--help for the options)\n";
  return false;
}

bool ParseNumber(const std::string& text, long& value) {
  char* end = nullptr;
  value = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && value >= 0;
}

struct Options {
  int port = 0;
  bool quiet = false;
  std::map<std::string, ScriptedReply> replies;
};

// Splits "SCRIPT=VALUE" (withValue) or takes "SCRIPT".
bool Target(const std::string& option, const std::string& arg, bool withValue, std::string& path,
            std::string& value) {
  std::string name = arg;
  if (withValue) {
    const std::size_t eq = arg.find('=');
    if (eq == std::string::npos) return Fail(option + " needs SCRIPT=VALUE");
    name = arg.substr(0, eq);
    value = arg.substr(eq + 1);
  }
  path = ScriptPath(name);
  if (path.empty()) return Fail("unknown script \"" + name + "\"");
  return true;
}

bool Parse(int argc, char** argv, Options& options) {
  std::map<std::string, ScriptedReply>& r = options.replies;
  r[VendorServer::kCheckVersion] = ScriptedReply::Text("PASS");
  r[VendorServer::kSendFeedback] = ScriptedReply::Text("PASS");
  r[VendorServer::kTattler] = ScriptedReply::Text("STATE: PASS");
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "-h" || option == "--help") {
      std::cout << kUsage;
      std::exit(0);
    }
    if (option == "--quiet") {
      options.quiet = true;
      continue;
    }
    if (i + 1 >= argc) return Fail("unknown option or missing value: " + option);
    const std::string arg = argv[++i];
    std::string path, value;
    long number = 0;
    if (option == "--port") {
      if (!ParseNumber(arg, number) || number > 65535) return Fail("bad port " + arg);
      options.port = static_cast<int>(number);
    } else if (option == "--reply") {
      if (!Target(option, arg, true, path, value)) return false;
      const int delay = r[path].delayMs;
      r[path] = ScriptedReply::Text(value);
      r[path].delayMs = delay;
    } else if (option == "--empty") {
      if (!Target(option, arg, false, path, value)) return false;
      r[path] = ScriptedReply::Text("");
    } else if (option == "--size") {
      if (!Target(option, arg, true, path, value)) return false;
      if (!ParseNumber(value, number)) return Fail("bad size " + value);
      r[path] = ScriptedReply::OfSize(static_cast<std::size_t>(number));
    } else if (option == "--not-found") {
      if (!Target(option, arg, false, path, value)) return false;
      r[path] = ScriptedReply::NotFound();
    } else if (option == "--slow") {
      if (!Target(option, arg, true, path, value)) return false;
      if (!ParseNumber(value, number)) return Fail("bad delay " + value);
      r[path].delayMs = static_cast<int>(number);
    } else if (option == "--reset") {
      if (!Target(option, arg, false, path, value)) return false;
      r[path] = ScriptedReply::Reset();
    } else {
      return Fail("unknown option " + option);
    }
  }
  return true;
}

void Print(const HttpRequest& request) {
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  std::cout << request.method << ' ' << request.target << ' ' << request.version << '\n';
  for (const auto& [name, value] : request.headers) std::cout << "  " << name << ": " << value << '\n';
  std::cout << "  body (" << request.body.size() << " bytes): " << request.body << "\n" << std::flush;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!Parse(argc, argv, options)) return 2;

  // The signals are taken by sigwait below, not by whichever thread happens to run.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  VendorServer server(options.port);
  if (!server.ok()) {
    std::cerr << "vantrel-vendor-server: cannot listen on 127.0.0.1 port " << options.port << '\n';
    return 1;
  }
  for (auto& [path, reply] : options.replies) server.SetReply(path, reply);
  if (!options.quiet) server.SetObserver(Print);
  std::cout << "Listening on " << server.RootUrl() << '\n' << std::flush;

  int signal = 0;
  sigwait(&stop, &signal);
  server.Stop();
  return 0;
}
