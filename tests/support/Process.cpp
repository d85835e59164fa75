#include "support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/TempDir.h"

extern char** environ;

namespace vantrel::test {
namespace {

std::vector<char*> Argv(const std::vector<std::string>& args) {
  std::vector<char*> v;
  for (const auto& a : args) v.push_back(const_cast<char*>(a.c_str()));
  v.push_back(nullptr);
  return v;
}

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int WaitExit(pid_t pid) {
  int st = 0;
  if (waitpid(pid, &st, 0) != pid) return -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

}  // namespace

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string SlaveBinary() { return VANTREL_BIN_DIR "/vantrel-slave"; }
std::string PollBinary() { return VANTREL_BIN_DIR "/vantrel-poll"; }

RunResult Run(const std::vector<std::string>& argv, int timeoutMs) {
  RunResult result;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return result;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  auto args = Argv(argv);
  const int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(out[1]);
  close(err[1]);
  if (rc != 0) {
    close(out[0]);
    close(err[0]);
    return result;
  }
  const long long deadline = NowMs() + timeoutMs;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  bool killed = false;
  while (open > 0) {
    const long long left = deadline - NowMs();
    if (left <= 0) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
    if (poll(fds, 2, static_cast<int>(left)) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buf, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& f : fds) {
    if (f.fd >= 0) close(f.fd);
  }
  const int status = WaitExit(pid);
  result.status = killed ? -1 : status;
  return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv, const std::string& cwd,
                                     const std::vector<std::string>& extraEnv,
                                     const std::string& logPath) {
  // extraEnv replaces variables of the same name (the first of a name is the one used)
  std::vector<std::string> env = extraEnv;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string var = *e;
    const std::string name = var.substr(0, var.find('=') + 1);
    bool replaced = false;
    for (const auto& x : extraEnv) replaced = replaced || x.rfind(name, 0) == 0;
    if (!replaced) env.push_back(var);
  }
  auto envp = Argv(env);
  auto args = Argv(argv);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  if (posix_spawnp(&pid_, args[0], &fa, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&fa);
}

BackgroundProcess::~BackgroundProcess() { Kill(); }

bool BackgroundProcess::Running() {
  if (pid_ <= 0) return false;
  int st = 0;
  const pid_t r = waitpid(pid_, &st, WNOHANG);
  if (r == 0) return true;
  status_ = (r == pid_ && WIFEXITED(st)) ? WEXITSTATUS(st) : -1;
  pid_ = -1;
  return false;
}

int BackgroundProcess::Wait(int timeoutMs) {
  const long long deadline = NowMs() + timeoutMs;
  while (Running()) {
    if (NowMs() >= deadline) return -1;
    usleep(20000);
  }
  return status_;
}

void BackgroundProcess::Kill() {
  if (!Running()) return;
  kill(pid_, SIGTERM);
  if (Wait(3000) == -1 && pid_ > 0) {
    kill(pid_, SIGKILL);
    WaitExit(pid_);
    pid_ = -1;
  }
}

XServer::XServer() {
  // The first display number without a server socket. A server that ends at once (seen on a
  // busy machine) is given two more tries on the next numbers; what it said is kept.
  int tries = 0;
  for (int n = 90; n < 190 && tries < 3; ++n) {
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
    if (access(socket.c_str(), F_OK) == 0 || access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) == 0) {
      continue;
    }
    ++tries;
    display_ = ":" + std::to_string(n);
    char log[] = "/tmp/vantrel-xvfb-XXXXXX";
    const int fd = mkstemp(log);
    if (fd >= 0) close(fd);
    server_ = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{"Xvfb", display_, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
        "", std::vector<std::string>{}, fd >= 0 ? log : "/dev/null");
    // Up to 30 s for its socket. Another test may have taken the same number a moment
    // before: the display is ours only when the lock file names our server.
    const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
    for (int i = 0; i < 600 && server_->Running(); ++i) {
      if (access(socket.c_str(), F_OK) == 0 && std::atoi(ReadFile(lock).c_str()) == server_->pid()) {
        ok_ = true;
        break;
      }
      usleep(50000);
    }
    if (!ok_ && fd >= 0) failure_ += display_ + ": " + ReadFile(log) + "\n";
    if (fd >= 0) unlink(log);
    if (ok_) return;
    server_.reset();
  }
}

XServer::~XServer() = default;

RunResult XServer::Client(std::vector<std::string> argv, int timeoutMs) const {
  argv.insert(argv.begin(), {"env", "DISPLAY=" + display_});
  return Run(argv, timeoutMs);
}

SlaveProcess::SlaveProcess(const std::string& dir, const std::string& link,
                           std::vector<std::string> options)
    : link_(dir + "/" + link), logPath_(dir + "/" + link + ".log") {
  options.push_back(link_);
  Start(std::move(options));
}

SlaveProcess::SlaveProcess(const std::string& dir, OverTcp tcp, std::vector<std::string> options)
    : logPath_(dir + "/" + tcp.name + ".log") {
  Start(std::move(options));
}

void SlaveProcess::Start(std::vector<std::string> options) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return;
  std::vector<std::string> argv{SlaveBinary()};
  argv.insert(argv.end(), options.begin(), options.end());
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_addopen(&fa, 2, logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  auto args = Argv(argv);
  const int rc = posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(out[1]);
  if (rc != 0) {
    pid_ = -1;
    close(out[0]);
    return;
  }
  // Ready once the first line (printed after the link is made) has come; a sanitizer build
  // on a busy machine may take seconds to start.
  const long long deadline = NowMs() + 30000;
  std::string line;
  pollfd p{out[0], POLLIN, 0};
  while (line.find('\n') == std::string::npos && NowMs() < deadline) {
    if (poll(&p, 1, 100) <= 0) continue;
    char buf[256];
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<std::size_t>(n));
  }
  close(out[0]);  // it prints nothing more on standard output
  ready_ = line.find('\n') != std::string::npos;
  // "... on TCP 127.0.0.1:40123 (at most ..."
  const std::size_t at = line.find(" (at most");
  if (ready_ && at != std::string::npos) port_ = std::atoi(line.c_str() + line.rfind(':', at) + 1);
}

bool SlaveProcess::Stop(int withinMs) {
  if (pid_ <= 0) return true;
  kill(pid_, SIGTERM);
  const long long deadline = NowMs() + withinMs;
  int st = 0;
  pid_t r = 0;
  while ((r = waitpid(pid_, &st, WNOHANG)) == 0 && NowMs() < deadline) usleep(10000);
  if (r == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &st, 0);
  }
  pid_ = -1;
  return r != 0;
}

SlaveProcess::~SlaveProcess() { Stop(); }

std::string SlaveProcess::Log() const { return ReadFile(logPath_); }

}  // namespace vantrel::test
