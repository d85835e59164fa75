#include "platform/Platform.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vantrel::platform {

#ifdef _WIN32

std::string ErrorText(int err) {
  switch (err) {
    case EADDRINUSE: return "Address already in use";
    case EADDRNOTAVAIL: return "Cannot assign requested address";
    case EAFNOSUPPORT: return "Address family not supported by protocol";
    case ECONNABORTED: return "Software caused connection abort";
    case ECONNREFUSED: return "Connection refused";
    case ECONNRESET: return "Connection reset by peer";
    case EHOSTUNREACH: return "No route to host";
    case ENETDOWN: return "Network is down";
    case ENETUNREACH: return "Network is unreachable";
    case ENOBUFS: return "No buffer space available";
    case ENOTCONN: return "Transport endpoint is not connected";
    case EOPNOTSUPP: return "Operation not supported";
    case ETIMEDOUT: return "Connection timed out";
    case EWOULDBLOCK: return "Resource temporarily unavailable";
    default: return std::strerror(err);
  }
}

namespace {

// The errno of a Windows error of a file call.
int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS: return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_WRITE_PROTECT: return EROFS;
    default: return EIO;
  }
}

}  // namespace

std::tm LocalTime(std::time_t when) {
  std::tm t{};
  localtime_s(&t, &when);
  return t;
}

long UtcOffsetSeconds(std::time_t when) {
  std::tm local = LocalTime(when);
  // The local wall clock read as if it were UTC, less the moment itself.
  return static_cast<long>(_mkgmtime(&local) - when);
}

void CatchStop(void (*onStop)(int)) {
  std::signal(SIGINT, onStop);
  std::signal(SIGTERM, onStop);
  std::signal(SIGBREAK, onStop);
}

void CatchHangUp(void (*)(int)) {}

void IgnoreBrokenPipe() {}

void MakeFolder(const std::string& path) { _mkdir(path.c_str()); }

int ProcessId() { return static_cast<int>(GetCurrentProcessId()); }

bool ProcessGone(int pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process
  DWORD code = 0;
  const bool ended = GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
  CloseHandle(process);
  return ended;
}

int CreateNewFile(const std::string& path) {
  return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
               _S_IREAD | _S_IWRITE);
}

void CopyPermissions(int, const std::string&) {}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const unsigned chunk = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
    const int n = _write(fd, data, chunk);
    if (n < 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool FlushFile(int fd) { return _commit(fd) == 0; }

bool CloseFile(int fd) { return _close(fd) == 0; }

bool RemoveFile(const std::string& path) { return _unlink(path.c_str()) == 0; }

bool RenameOver(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  errno = ErrnoOf(GetLastError());
  return false;
}

void FlushFolder(const std::string&) {}

#else

std::string ErrorText(int err) { return std::strerror(err); }

std::tm LocalTime(std::time_t when) {
  std::tm t{};
  localtime_r(&when, &t);
  return t;
}

long UtcOffsetSeconds(std::time_t when) { return LocalTime(when).tm_gmtoff; }

void CatchStop(void (*onStop)(int)) {
  struct sigaction action {};
  action.sa_handler = onStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void CatchHangUp(void (*onStop)(int)) {
  struct sigaction action {};
  action.sa_handler = onStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGHUP, &action, nullptr);
}

void IgnoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

void MakeFolder(const std::string& path) { mkdir(path.c_str(), 0700); }

int ProcessId() { return static_cast<int>(getpid()); }

bool ProcessGone(int pid) { return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

int CreateNewFile(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

void CopyPermissions(int fd, const std::string& from) {
  struct stat st {};
  if (stat(from.c_str(), &st) == 0 && S_ISREG(st.st_mode)) fchmod(fd, st.st_mode & 07777);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool FlushFile(int fd) { return fsync(fd) == 0 || errno == EINVAL; }

bool CloseFile(int fd) { return close(fd) == 0; }

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool RenameOver(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

void FlushFolder(const std::string& folder) {
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
}

#endif

}  // namespace vantrel::platform
