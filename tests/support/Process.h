// Child processes for the tests: the simulator, the poller, mbpoll.
#pragma once

#include <sys/types.h>

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
  ~SlaveProcess();
  SlaveProcess(const SlaveProcess&) = delete;
  SlaveProcess& operator=(const SlaveProcess&) = delete;

  bool ready() const { return ready_; }
  const std::string& linkPath() const { return link_; }
  // Stops the simulator now (the pseudo-terminal goes away).
  void Stop();
  // What it logged so far (after Stop: everything).
  std::string Log() const;

 private:
  pid_t pid_ = -1;
  bool ready_ = false;
  std::string link_;
  std::string logPath_;
};

std::string SlaveBinary();
std::string PollBinary();

}  // namespace vantrel::test
