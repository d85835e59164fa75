// vantrel-slave for the benchmarks that need a device on a pseudo-terminal.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace vantrel::bench {

// Starts vantrel-slave -q with the options on <dir>/COM3 and waits for its first line;
// -1 when it cannot be started.
inline pid_t StartSlave(const std::string& bin, const std::string& dir, std::vector<std::string> opts) {
  int out[2];
  if (pipe(out) != 0) return -1;
  std::vector<std::string> args{bin + "/vantrel-slave", "-q"};
  args.insert(args.end(), opts.begin(), opts.end());
  args.push_back(dir + "/COM3");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  close(out[1]);
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') {
  }
  close(out[0]);
  return pid;
}

inline void StopSlave(pid_t pid) {
  if (pid <= 0) return;  // kill(-1) would signal every process of the user
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

}  // namespace vantrel::bench
