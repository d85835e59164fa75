// A stand-in for the vendor's web server on 127.0.0.1: it serves the three form scripts
// with scripted replies, misbehaving on request (slow, held, cut short, reset), and records
// every request it receives exactly as it came.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace vantrel::test {

struct HttpRequest {
  std::string method;
  std::string target;   // as on the request line, e.g. /script/tattler.php
  std::string version;  // e.g. HTTP/1.1
  std::vector<std::pair<std::string, std::string>> headers;  // in the order received
  std::string body;

  // The value of the first header of that name (any case); "" when there is none.
  std::string Header(std::string_view name) const;
  int HeaderCount(std::string_view name) const;
};

// What one script answers.
struct ScriptedReply {
  int status = 200;
  std::string body;
  int delayMs = 0;          // wait this long before answering
  bool hold = false;        // answer only after Release()
  long stallAfter = -1;     // send the headers and this many body bytes, then go silent
  bool reset = false;       // read the request, then reset the connection unanswered

  static ScriptedReply Text(std::string body);
  // A body of n printable bytes (a repeating pattern).
  static ScriptedReply OfSize(std::size_t n);
  // The server's "404 Not Found" page.
  static ScriptedReply NotFound();
  static ScriptedReply Reset();
  static ScriptedReply Held(std::string body);
};

class VendorServer {
 public:
  static constexpr char kCheckVersion[] = "/script/checkversion.php";
  static constexpr char kSendFeedback[] = "/script/sendfeedback.php";
  static constexpr char kTattler[] = "/script/tattler.php";

  // Listens on 127.0.0.1 at port (0: a free one). The scripts answer "PASS", "PASS" and
  // "STATE: PASS"; any other path gets the 404 page.
  explicit VendorServer(int port = 0);
  ~VendorServer();
  VendorServer(const VendorServer&) = delete;
  VendorServer& operator=(const VendorServer&) = delete;

  bool ok() const { return listener_ >= 0; }
  int port() const { return port_; }
  // "http://127.0.0.1:PORT/"
  std::string RootUrl() const;

  void SetReply(const std::string& path, ScriptedReply reply);
  // Lets held replies go, now and from now on.
  void Release();
  // Called on the server's threads for every request as soon as it has been read.
  void SetObserver(std::function<void(const HttpRequest&)> observer);

  std::vector<HttpRequest> Requests() const;
  std::size_t RequestCount() const;
  // "begin PATH" when a request has been read, "answer PATH" when its reply starts.
  std::vector<std::string> Events() const;

  // Stops listening, ends every connection and joins the threads (also done on destruction).
  void Stop();

 private:
  struct Connection {
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void AcceptLoop();
  void Serve(int fd);
  bool ReadRequest(int fd, HttpRequest& request);
  bool SendAll(int fd, std::string_view bytes);
  // Waits until ready() holds, the client has gone, the server stops or deadlineMs (if
  // >= 0) has passed; true only for ready() or the deadline.
  bool WaitFor(int fd, const std::function<bool()>& ready, long deadlineMs);
  void Note(std::string event);

  int listener_ = -1;
  int port_ = 0;
  int wake_[2] = {-1, -1};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> released_{false};
  std::thread acceptor_;

  mutable std::mutex lock_;
  std::map<std::string, ScriptedReply> replies_;
  std::vector<HttpRequest> requests_;
  std::vector<std::string> events_;
  std::function<void(const HttpRequest&)> observer_;
  std::list<std::unique_ptr<Connection>> connections_;  // touched by the acceptor and Stop
};

// A listening socket that never accepts, with its queue already full: a connection to it
// is neither accepted nor refused, as with a server host that has gone silent.
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;

  bool ok() const { return filled_; }
  std::string RootUrl() const;

 private:
  int listener_ = -1;
  int filler_ = -1;
  int port_ = 0;
  bool filled_ = false;
};

// A port on 127.0.0.1 where nothing listens (connections are refused).
int UnusedPort();

}  // namespace vantrel::test
