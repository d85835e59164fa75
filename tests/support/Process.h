// Child processes for the tests: the simulator, the poller, mbpoll.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace vantrel::test {

struct RunResult {
  int status = -1;  // exit status, or -1 when killed or not started
  std::string out;
  std::string err;
};

// Runs a program to its end (killed after timeoutMs) and collects its output.
RunResult Run(const std::vector<std::string>& argv, int timeoutMs = 30000);

// vantrel-slave in the background on <dir>/<link>; started and ready when constructed,
// stopped when destroyed. Ready means its first line arrived: the link exists.
class SlaveProcess {
 public:
  SlaveProcess(const std::string& dir, const std::string& link, std::vector<std::string> options);
  // Over TCP: options hold --tcp or --rtu-over-tcp (port 0 for a free one); it logs to
  // <dir>/<name>.log, and is ready once it listens.
  struct OverTcp {
    std::string name = "tcp-slave";
  };
  SlaveProcess(const std::string& dir, OverTcp tcp, std::vector<std::string> options);
  ~SlaveProcess();
  SlaveProcess(const SlaveProcess&) = delete;
  SlaveProcess& operator=(const SlaveProcess&) = delete;

  bool ready() const { return ready_; }
  const std::string& linkPath() const { return link_; }
  // Over TCP, the port it listens on, as its first line names it; 0 otherwise.
  int port() const { return port_; }
  // Stops the simulator now (the pseudo-terminal goes away): SIGTERM, and SIGKILL if it has
  // not ended within withinMs. True when it ended by itself in time.
  bool Stop(int withinMs = 10000);
  // What it logged so far (after Stop: everything).
  std::string Log() const;

 private:
  void Start(std::vector<std::string> argv);

  pid_t pid_ = -1;
  bool ready_ = false;
  int port_ = 0;
  std::string link_;
  std::string logPath_;
};

// Any program in the background, in a folder, with extra environment ("NAME=value"),
// its output going to logPath; killed when destroyed if still running.
class BackgroundProcess {
 public:
  BackgroundProcess(const std::vector<std::string>& argv, const std::string& cwd,
                    const std::vector<std::string>& extraEnv, const std::string& logPath);
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  bool Running();
  // Its exit status once it has ended within timeoutMs; -1 if it has not (or was killed).
  int Wait(int timeoutMs);
  void Kill();

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// An X server of the test's own (Xvfb) on a free display.
class XServer {
 public:
  XServer();
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;
  bool ok() const { return ok_; }
  const std::string& display() const { return display_; }  // e.g. ":93"
  // What the servers that did not start said, when none did.
  const std::string& failure() const { return failure_; }
  // Runs an X client (xdotool, import, ...) on this display.
  RunResult Client(std::vector<std::string> argv, int timeoutMs = 15000) const;

 private:
  std::unique_ptr<BackgroundProcess> server_;
  std::string display_;
  std::string failure_;
  bool ok_ = false;
};

std::string SlaveBinary();
std::string PollBinary();

}  // namespace vantrel::test
